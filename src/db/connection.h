// A connection to the account database, as the classes use one: SQL Server-dialect text in,
// client-side recordsets out, explicit transactions. Underneath, open engine connections are
// pooled per connection string (each request gets a clean one); the engine is the backend the
// connection string's provider names (db/backend.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "db/backend.h"
#include "db/connection_string.h"
#include "db/error.h"
#include "db/recordset.h"
#include "db/sql/translate.h"

namespace rembiz::db {

class BackendConnection;

class Connection {
 public:
  // kCreate makes a missing database (used only when a database is set up).
  enum class OpenMode { kExisting, kCreate };

  Connection();
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // Opens the connection; a missing database, an unknown key or a refused open is a
  // DbError(kErrConnection).
  void Open(std::string_view connection_string, OpenMode mode = OpenMode::kExisting);
  void Close();
  bool IsOpen() const { return backend_ != nullptr; }

  // Seconds; the command timeout is also how long a statement waits for a lock.
  void SetConnectionTimeout(int seconds) { connection_timeout_ = seconds; }
  int ConnectionTimeout() const { return connection_timeout_; }
  void SetCommandTimeout(int seconds) { command_timeout_ = seconds; }
  int CommandTimeout() const { return command_timeout_; }

  // Runs one SQL Server-dialect batch. Returns the rows of its last query (a closed recordset
  // when it has none); `records_affected` receives the last data statement's row count.
  Recordset Execute(std::string_view sql, int64_t* records_affected = nullptr);

  // Runs SQL that arrives with a request: exactly one statement, a query of plain functions
  // (db/request_sql.h), checked by the engine before it runs; password hashes and login sessions
  // are never readable, and only plain functions may be called. Anything else is refused with
  // DbError(kErrStatement) and nothing runs. The query runs within ReadOnlyLimits: past its time,
  // rows or size it stops with DbError(kErrTimeout) or DbError(kErrStatement).
  Recordset ExecuteReadOnly(std::string_view sql);
  // The same within other limits (a report's filter narrows rows the report may show anyway:
  // its answer is as long as the report's).
  Recordset ExecuteReadOnly(std::string_view sql, const ReadOnlyLimits& limits);
  // The same, handing the rows to `sink` as they are read instead of holding the answer: a long
  // answer costs the memory of one row. A sink that throws stops the query.
  void ExecuteReadOnly(std::string_view sql, const ReadOnlyLimits& limits, RowSink& sink);

  // Writers that meet wait for each other (up to the command timeout) instead of failing later.
  void BeginTrans();
  void CommitTrans();
  void RollbackTrans();
  // Whether a write transaction is open (a read transaction is not one).
  bool InTransaction() const;
  // The reads that follow share one snapshot until EndRead, BeginTrans or a write, which end
  // it; no locks are held for it. A request's frame opens one around its reads.
  void BeginRead();
  void EndRead();
  // Savepoints inside the open transaction (db::Savepoint uses them); they nest.
  void BeginSavepoint();
  void ReleaseSavepoint();
  void RollbackToSavepoint();

  // Bytes of a binary column (image, varbinary): written into `column` of the rows of `table`
  // whose `key_column` equals `key` (the count of rows changed), and read back (nullopt when no
  // row has that key, "" for NULL). The bytes are bound as the engine's binary value, never
  // written into SQL text, and go to and from the engine in pieces, so the value is held once:
  // by the caller. The names are the program's own (letters, digits, '_'), anything else is
  // refused.
  int64_t WriteBytes(std::string_view table, std::string_view column, std::string_view key_column,
                     std::string_view key, std::string_view bytes);
  std::optional<std::string> ReadBytes(std::string_view table, std::string_view column,
                                       std::string_view key_column, std::string_view key);
  // The same value a piece at a time, for answers that stream it: its size (nullopt when no row
  // has the key), and up to `length` bytes from `offset` appended to `out`.
  std::optional<int64_t> BytesSize(std::string_view table, std::string_view column,
                                   std::string_view key_column, std::string_view key);
  void ReadBytesRange(std::string_view table, std::string_view column, std::string_view key_column,
                      std::string_view key, int64_t offset, size_t length, std::string& out);

  // A new GUID as NEWID() gives it ("{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}"), made by the
  // driver without a statement.
  std::string NewGuid();
  // The identity of the row the last INSERT added, where the driver knows it without a
  // statement (SQLite); nullopt elsewhere.
  std::optional<int64_t> LastInsertId();

  // Whether a statement failed because this server could not serve it rather than because of
  // the statement: the server only reads (a standby refuses writes, work tables included),
  // replication cancelled the read, or the server went away. A request tried on a read replica
  // runs again on the primary then.
  bool ServerCouldNotServe() const { return server_failed_; }

  // Statements this connection executed since it was opened.
  int64_t StatementCount() const { return statements_; }
  const ConnectionOptions& Options() const { return options_; }

 private:
  void RequireOpen() const;
  Recordset ReadOnly(std::string_view sql, const ReadOnlyLimits& limits, RowSink* sink);
  void RunStatement(const BatchStep& step, const std::vector<BoundValue>& values, Recordset* result,
                    int64_t* changes);
  // Runs `step` on the engine, noting whether a failure was the server's (ServerCouldNotServe).
  template <typename Step>
  decltype(auto) NotingFailure(Step&& step) {
    try {
      return step();
    } catch (const DbError& e) {
      NoteFailure(e);
      throw;
    }
  }
  void NoteFailure(const DbError& error);

  std::unique_ptr<BackendConnection> backend_;
  std::string pool_key_;
  ConnectionOptions options_;
  int connection_timeout_ = 15;
  int command_timeout_ = 30;
  int64_t statements_ = 0;
  int64_t last_changes_ = 0;  // @@ROWCOUNT
  bool server_failed_ = false;
  Dialect dialect_ = Dialect::kSqlite;
};

// Closes every idle pooled connection (tests that delete databases call it first). The pool is
// also emptied when the process exits.
void ClearConnectionPool();

// Engine connections of this process: checked out by a Connection now, and idle in the pool.
struct ConnectionPoolStats {
  size_t in_use = 0;
  size_t idle = 0;
};
ConnectionPoolStats ConnectionPoolNow();

// The bounds of SQL that arrives with a request (ExecuteReadOnly, ReadOnlyLimits in
// db/backend.h), for the whole process.
void SetReadOnlyLimits(const ReadOnlyLimits& limits);
ReadOnlyLimits GetReadOnlyLimits();

// While alive, the read-only queries of this thread run for `owner` (the service passes a
// session): an owner runs one query at a time, a second one at the same time is refused.
class ReadOnlyOwner {
 public:
  explicit ReadOnlyOwner(std::string owner);
  ~ReadOnlyOwner();
  ReadOnlyOwner(const ReadOnlyOwner&) = delete;
  ReadOnlyOwner& operator=(const ReadOnlyOwner&) = delete;

 private:
  std::string previous_;
};

}  // namespace rembiz::db
