// A connection to the account database, as the classes use one: SQL Server-dialect text in,
// client-side recordsets out, explicit transactions. Underneath, SQLite handles are pooled per
// connection string (each request gets a clean handle) with the system database attached as
// `qdsystem` and a process-wide `tempdb`.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "db/connection_string.h"
#include "db/error.h"
#include "db/recordset.h"

struct sqlite3;

namespace rembiz::db {

class PooledHandle;

class Connection {
 public:
  // kCreate makes missing database files (used only when a database is set up).
  enum class OpenMode { kExisting, kCreate };

  Connection();
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // Opens the connection; a missing database file, an unknown key or a refused open is a
  // DbError(kErrConnection).
  void Open(std::string_view connection_string, OpenMode mode = OpenMode::kExisting);
  void Close();
  bool IsOpen() const { return handle_ != nullptr; }

  // Seconds; the command timeout is also how long a statement waits for a busy database.
  void SetConnectionTimeout(int seconds) { connection_timeout_ = seconds; }
  int ConnectionTimeout() const { return connection_timeout_; }
  void SetCommandTimeout(int seconds);
  int CommandTimeout() const { return command_timeout_; }

  // Runs one SQL Server-dialect batch. Returns the rows of its last query (a closed recordset
  // when it has none); `records_affected` receives the last data statement's row count.
  Recordset Execute(std::string_view sql, int64_t* records_affected = nullptr);

  // Runs SQL that arrives with a request: exactly one statement, a query, checked by the engine
  // (authorizer and read-only test) before it runs; password hashes and login sessions are
  // never readable. Anything else is refused with DbError(kErrStatement) and nothing runs.
  Recordset ExecuteReadOnly(std::string_view sql);

  // Runs SQLite text as it is, without translation (schema scripts).
  void ExecuteNative(std::string_view sql);

  // Transactions begin IMMEDIATE, so concurrent writers queue instead of failing later.
  void BeginTrans();
  void CommitTrans();
  void RollbackTrans();
  bool InTransaction() const;
  // Savepoints inside the open transaction (db::Savepoint uses them); they nest.
  void BeginSavepoint();
  void ReleaseSavepoint();
  void RollbackToSavepoint();

  // Statements this connection executed since it was opened.
  int64_t StatementCount() const { return statements_; }
  const ConnectionOptions& Options() const { return options_; }
  sqlite3* Handle() const;

 private:
  void RequireOpen() const;
  void RunStatement(const std::string& sql, Recordset* result, int64_t* changes);

  std::unique_ptr<PooledHandle> handle_;
  ConnectionOptions options_;
  int connection_timeout_ = 15;
  int command_timeout_ = 30;
  int64_t statements_ = 0;
};

// Closes every idle pooled handle (tests that delete database files call it first).
void ClearConnectionPool();

}  // namespace rembiz::db
