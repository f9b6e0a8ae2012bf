// The floor under a business operation: the statements it sent to SQLite, prepared once and
// run again straight through the SQLite C API in one transaction.
#pragma once

#include <string>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace rembiz::bench {

class Replay {
 public:
  // Prepares `statements` (as a db::StatementRecorder recorded them) on `db`; transaction
  // control statements are left out, since Run brings its own transaction.
  Replay(sqlite3* db, const std::vector<std::string>& statements);
  ~Replay();
  Replay(const Replay&) = delete;
  Replay& operator=(const Replay&) = delete;

  // BEGIN IMMEDIATE, every statement stepped to its end, COMMIT.
  void Run();
  size_t Size() const { return statements_.size(); }

 private:
  void Finalize();

  sqlite3* db_;
  std::vector<sqlite3_stmt*> statements_;
  sqlite3_stmt* begin_ = nullptr;
  sqlite3_stmt* commit_ = nullptr;
};

}  // namespace rembiz::bench
