// The seam between a Connection and a database engine. Connection owns what every engine shares
// (translation, batches and their IF steps, the statement counter and fault hook, the pool of
// open handles); a backend owns the engine: opening a database, running one translated
// statement with its bound values, mapping the engine's errors to the server's, the read-only
// guard for SQL that arrives with a request, and creating or dropping whole databases.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "db/connection_string.h"
#include "db/recordset.h"
#include "db/sql/translate.h"

namespace rembiz::db {

// The bounds of SQL that arrives with a request.
struct ReadOnlyLimits {
  int seconds = 5;                // time budget of one query
  size_t max_rows = 50'000;       // rows of one answer
  size_t max_bytes = 16u << 20;   // size of one answer, counted as its values and names
  int max_value_bytes = 1 << 20;  // longest text or blob a query may make or read
  size_t max_running = 0;         // queries running at once in the process; 0: no limit
};

// An open connection of one engine. Not thread-safe: one request uses it at a time.
class BackendConnection {
 public:
  virtual ~BackendConnection() = default;

  // Runs one translated statement with the batch's values; a statement with columns leaves its
  // rows in `result`, a data statement its row count in `changes`. `timeout_seconds` bounds the
  // statement, waits for locks included (0: no bound).
  virtual void Run(const BatchStep& step, const std::vector<BoundValue>& values,
                   int timeout_seconds, Recordset* result, int64_t* changes) = 0;
  // The same for SQL that arrived with a request: the engine itself must refuse anything but one
  // query of plain functions (and reads of password hashes and sessions) with
  // DbError(kErrStatement), and hold it to `limits`: past its time DbError(kErrTimeout), past
  // its rows, answer size or value length DbError(kErrStatement).
  virtual Recordset RunReadOnly(const BatchStep& step, const std::vector<BoundValue>& values,
                                const ReadOnlyLimits& limits) = 0;
  // The same, handing the rows to `sink` as they are read, within the same limits. An engine
  // that cannot stream reads the answer whole first.
  virtual void StreamReadOnly(const BatchStep& step, const std::vector<BoundValue>& values,
                              const ReadOnlyLimits& limits, RowSink& sink) {
    Recordset rows = RunReadOnly(step, values, limits);
    sink.Fields(rows.Fields());
    for (const auto& row : rows.Rows()) sink.Row(row);
  }

  // Transactions; Begin waits at most `timeout_seconds` for the engine to start one.
  virtual void Begin(int timeout_seconds) = 0;
  virtual void Commit() = 0;
  virtual void Rollback() = 0;
  virtual bool InTransaction() const = 0;
  // A read transaction: the reads that follow share one snapshot until EndRead, a write
  // transaction or a write (which ends it first). Engines without the need leave it out.
  virtual void BeginRead() {}
  virtual void EndRead() {}
  // Savepoints inside the open transaction; they nest.
  virtual void Savepoint(const std::string& name) = 0;
  virtual void ReleaseSavepoint(const std::string& name) = 0;
  virtual void RollbackToSavepoint(const std::string& name) = 0;

  // Makes the connection clean for its next user (an open transaction is rolled back); false
  // when it cannot be used again.
  virtual bool Reset() = 0;
  // Whether an idle connection still reaches its database, as far as can be told without a
  // round trip (a server that restarted meanwhile has closed it).
  virtual bool Alive() { return true; }

  // Bytes of a binary column (varbinary, image), bound as the engine's binary value outside the
  // translator, whose values are text, and moved in pieces so that a large value is never held
  // a second time by the driver: `bytes` into `column` of the rows of `table` whose
  // `key_column` is `key` (the count of rows changed); the value's size (nullopt when no row has
  // that key, 0 for NULL); and up to `length` of its bytes from `offset`, appended to `out`.
  // The names are the program's own, checked by the caller.
  virtual int64_t WriteBytes(const std::string& table, const std::string& column,
                             const std::string& key_column, std::string_view key,
                             std::string_view bytes, int timeout_seconds) = 0;
  virtual std::optional<int64_t> BytesSize(const std::string& table, const std::string& column,
                                           const std::string& key_column, std::string_view key,
                                           int timeout_seconds) = 0;
  virtual void ReadBytesRange(const std::string& table, const std::string& column,
                              const std::string& key_column, std::string_view key, int64_t offset,
                              size_t length, std::string& out, int timeout_seconds) = 0;

  // A new GUID as NEWID() gives it, made without a round trip to the engine.
  virtual std::string NewGuid();
  // The identity (AutoID) of the row the last INSERT statement added, when the engine tells
  // it without a statement; nullopt otherwise.
  virtual std::optional<int64_t> LastInsertId() { return std::nullopt; }
};

// The text form of a GUID made of 16 random bytes ("{" + upper-case 8-4-4-4-12 hex + "}"),
// marked as a random (version 4) GUID.
std::string RandomGuidText(unsigned char (&bytes)[16]);

// One engine: how a connection string of its provider opens, and how whole databases of it are
// made and removed.
class Backend {
 public:
  virtual ~Backend() = default;
  virtual Dialect TargetDialect() const = 0;
  // Opens the database of `options`; with `create` a missing database is made empty first.
  // Failures are DbError(kErrConnection).
  virtual std::unique_ptr<BackendConnection> Open(const ConnectionOptions& options,
                                                  bool create) const = 0;
  // Whether the database of `options` (its account database) exists.
  virtual bool DatabaseExists(const ConnectionOptions& options) const = 0;
  // Removes the database of `options` with everything in it; nothing when it does not exist.
  virtual void DropDatabase(const ConnectionOptions& options) const = 0;
  // Makes what holds the databases of `options` (a server's database) when it is missing.
  virtual void CreateStore(const ConnectionOptions& options) const = 0;
};

// The refusals of SQL that arrived with a request, in the same words on every engine.
// They name the problem, never the SQL: the text is the caller's own, and a refusal that echoes
// it would hand a probe back what the engine made of it.
[[noreturn]] void RefuseQuery(std::string_view why);
[[noreturn]] void AnswerTooLarge(size_t limit, std::string_view unit);
[[noreturn]] void ValueTooLong(int limit);
[[noreturn]] void QueryTooLong(int seconds);

// The backend of a provider ("SQLite", "PostgreSQL"); DbError(kErrConnection) for another.
const Backend& BackendFor(const ConnectionOptions& options);

}  // namespace rembiz::db
