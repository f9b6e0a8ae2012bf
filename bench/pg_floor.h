// The hand-written floors under the claim save and the claim read on PostgreSQL: the least a
// program written for exactly these two requests would ask of the server through libpq, with
// statements prepared once and those that need no answer of another sent together in pipeline
// mode. The full stack on PostgreSQL is measured against them.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "bench/floor_common.h"

struct pg_conn;
typedef struct pg_conn PGconn;  // NOLINT(modernize-use-using): as libpq declares it

namespace rembiz::bench {

using PgHandle = std::unique_ptr<PGconn, void (*)(PGconn*)>;

// A connection to the account database of `connection_string` (a PostgreSQL one, as a session
// holds it) with the search path the data layer gives it: the account's schema, then the system
// database, tempdb and the support functions.
PgHandle OpenAccountSchema(const std::string& connection_string);

// Runs statements without values and without answers on `conn` (not in pipeline mode); throws
// when the server refuses them.
void PgExecute(PGconn* conn, const std::string& sql);

// The claim save: the write lock, the option, the head's master data and the free number in one
// query, the rows' items and standards in two, sent together with the transaction's start; then
// the head and its five rows inserted and the commit, sent together. Throws on any refusal it
// finds. The connection stays in pipeline mode.
class PgClaimSaveFloor {
 public:
  explicit PgClaimSaveFloor(PGconn* conn);
  // Saves the claim; its GUID is made here, as the data layer makes it.
  void Run(const FloorClaim& claim);
  const std::string& LastGuid() const { return guid_; }

 private:
  PGconn* conn_;
  std::string guid_;
};

// The claim read of ClaimReadRequest: the head by its GUID and the rows by the head's AutoID,
// written as the same request document the full stack answers. The record answers' schemas,
// and with them the columns' names and kinds, are constants of such a program; they are taken
// once from `expected` (the full stack's answer), which the first run is checked against. The
// claims it reads are drafts, whose state's name in `language` is `draft_name`.
class PgClaimReadFloor {
 public:
  PgClaimReadFloor(PGconn* conn, const std::string& language, const std::string& draft_name);
  // The answered request document, as text.
  std::string Run(const std::string& guid);
  // Takes the constant parts from the full stack's answer; false when they are not found.
  bool Learn(const std::string& expected);

  // How a column's text is written.
  enum class Kind { kText, kBool, kNumber, kDate, kGuid };
  struct Column {
    std::string name;
    Kind kind;
  };

 private:
  PGconn* conn_;
  std::string language_;
  std::string draft_name_;
  ReadSchemas schemas_;
  std::vector<Column> head_columns_;
  std::vector<Column> body_columns_;
};

}  // namespace rembiz::bench
