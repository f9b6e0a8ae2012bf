// The hand-written floors under the claim save and the claim read: the least a program written
// for exactly these two requests would ask of SQLite, through its C API, with statements
// prepared once. The full stack is measured against them.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "bench/floor_common.h"

struct sqlite3;
struct sqlite3_stmt;

namespace rembiz::bench {

// An account database opened beside the connection pool as the data layer opens it (WAL,
// synchronous NORMAL, the system database attached), with the SQL Server functions.
std::unique_ptr<sqlite3, int (*)(sqlite3*)> OpenAccountFile(const std::string& account,
                                                            const std::string& system);

class FloorStatements {
 public:
  FloorStatements(sqlite3* db, const std::vector<std::string>& texts);
  ~FloorStatements();
  FloorStatements(const FloorStatements&) = delete;
  FloorStatements& operator=(const FloorStatements&) = delete;
  sqlite3_stmt* operator[](size_t i) const { return statements_[i]; }

 private:
  std::vector<sqlite3_stmt*> statements_;
};

// The claim save: the write lock and the option read, the head's master data and the free
// number in one query, the rows' items and standards in two, the head and its five rows
// inserted, in one transaction. Throws on any refusal it finds.
class ClaimSaveFloor {
 public:
  explicit ClaimSaveFloor(sqlite3* db);
  // Saves the claim; its GUID is made here, as the data layer makes it.
  void Run(const FloorClaim& claim);
  const std::string& LastGuid() const { return guid_; }

 private:
  sqlite3* db_;
  FloorStatements statements_;
  std::string guid_;
};

// The claim read of ClaimReadRequest: the head by its GUID and the rows by the head's AutoID,
// written as the same request document the full stack answers. The schema parts of the two
// record answers are constants of such a program; they are taken once from `expected` (the full
// stack's answer), which the first run is checked against. The claims it reads are drafts, whose
// state's name in `language` is `draft_name`.
class ClaimReadFloor {
 public:
  ClaimReadFloor(sqlite3* db, const std::string& language, const std::string& draft_name);
  // The answered request document, as text.
  std::string Run(const std::string& guid);
  // Takes the constant parts from the full stack's answer; false when they are not found.
  bool Learn(const std::string& expected);

 private:
  void AppendRow(std::string& out, sqlite3_stmt* stmt);

  sqlite3* db_;
  std::string language_;
  std::string draft_name_;
  FloorStatements statements_;
  ReadSchemas schemas_;
};

}  // namespace rembiz::bench
