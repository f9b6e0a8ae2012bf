#include "bench/replay.h"

#include <sqlite3.h>

#include <algorithm>
#include <cctype>

#include "db/error.h"

namespace rembiz::bench {
namespace {

[[noreturn]] void Fail(sqlite3* db, const std::string& what) {
  throw db::DbError(db::kErrConnection, "Replay: " + what + ": " + sqlite3_errmsg(db));
}

sqlite3_stmt* Prepare(sqlite3* db, const std::string& sql) {
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v3(db, sql.c_str(), static_cast<int>(sql.size()), SQLITE_PREPARE_PERSISTENT,
                         &stmt, nullptr) != SQLITE_OK) {
    Fail(db, "cannot prepare \"" + sql + "\"");
  }
  return stmt;
}

bool IsTransactionControl(const std::string& sql) {
  std::string word;
  for (char c : sql) {
    if (std::isspace(static_cast<unsigned char>(c))) {
      if (word.empty()) continue;
      break;
    }
    word += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return word == "begin" || word == "commit" || word == "rollback" || word == "end" ||
         word == "savepoint" || word == "release";
}

void Step(sqlite3* db, sqlite3_stmt* stmt) {
  int rc;
  while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
  }
  sqlite3_reset(stmt);
  if (rc != SQLITE_DONE) Fail(db, std::string("step failed on \"") + sqlite3_sql(stmt) + "\"");
}

}  // namespace

Replay::Replay(sqlite3* db, const std::vector<std::string>& statements) : db_(db) {
  try {
    begin_ = Prepare(db, "BEGIN IMMEDIATE");
    commit_ = Prepare(db, "COMMIT");
    for (const std::string& sql : statements) {
      if (!IsTransactionControl(sql)) statements_.push_back(Prepare(db, sql));
    }
  } catch (...) {
    Finalize();
    throw;
  }
}

Replay::~Replay() { Finalize(); }

void Replay::Finalize() {
  for (sqlite3_stmt* stmt : statements_) sqlite3_finalize(stmt);
  statements_.clear();
  sqlite3_finalize(begin_);
  sqlite3_finalize(commit_);
  begin_ = commit_ = nullptr;
}

void Replay::Run() {
  Step(db_, begin_);
  try {
    for (sqlite3_stmt* stmt : statements_) Step(db_, stmt);
  } catch (...) {
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    throw;
  }
  Step(db_, commit_);
}

}  // namespace rembiz::bench
