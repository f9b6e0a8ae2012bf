#include "db/sqlite/sqlite_copy.h"

#include <sqlite3.h>

#include <chrono>
#include <memory>
#include <thread>

#include "db/error.h"
#include "db/sqlite/sqlite_functions.h"

namespace rembiz::db {
namespace {

using Handle = std::unique_ptr<sqlite3, decltype(&sqlite3_close)>;

Handle OpenFile(const std::string& path, int flags) {
  sqlite3* raw = nullptr;
  int rc = sqlite3_open_v2(path.c_str(), &raw, flags, nullptr);
  Handle handle(raw, &sqlite3_close);
  if (rc != SQLITE_OK) {
    throw DbError(kErrConnection, "Cannot open the database file " + path + ": " +
                                      (raw ? sqlite3_errmsg(raw) : sqlite3_errstr(rc)));
  }
  sqlite3_busy_timeout(raw, 10'000);
  return handle;
}

}  // namespace

void CopySqliteDatabase(const std::string& source, const std::string& target) {
  Handle from = OpenFile(source, SQLITE_OPEN_READONLY);
  Handle to = OpenFile(target, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
  sqlite3_backup* backup = sqlite3_backup_init(to.get(), "main", from.get(), "main");
  if (!backup) {
    throw DbError(kErrConnection,
                  "Cannot copy " + source + ": " + std::string(sqlite3_errmsg(to.get())));
  }
  // All pages in one step: the copy is one read transaction of the source, so a writer that
  // commits meanwhile cannot make it restart (as stepping page by page would). A writer holding
  // the lock only delays it.
  int rc = SQLITE_OK;
  for (int tries = 0; tries < 200; ++tries) {
    rc = sqlite3_backup_step(backup, -1);
    if (rc != SQLITE_BUSY && rc != SQLITE_LOCKED) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  sqlite3_backup_finish(backup);
  if (rc != SQLITE_DONE) {
    throw DbError(kErrConnection, "Cannot copy " + source + ": " + std::string(sqlite3_errstr(rc)));
  }
}

std::string CheckSqliteDatabase(const std::string& path) {
  Handle db = OpenFile(path, SQLITE_OPEN_READONLY);
  // Indexes on expressions call the functions the program adds; the check evaluates them.
  sqlite::RegisterSqlServerFunctions(db.get());
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v2(db.get(), "PRAGMA integrity_check(1)", -1, &raw, nullptr) != SQLITE_OK) {
    return sqlite3_errmsg(db.get());
  }
  std::unique_ptr<sqlite3_stmt, decltype(&sqlite3_finalize)> statement(raw, &sqlite3_finalize);
  if (sqlite3_step(raw) != SQLITE_ROW) return sqlite3_errmsg(db.get());
  const unsigned char* text = sqlite3_column_text(raw, 0);
  return text ? reinterpret_cast<const char*>(text) : "";
}

}  // namespace rembiz::db
