// What the administration keeps, one kind of record at a time (users, departments, flows, the
// chart of accounts, …). Every kind lists its records and adds, changes and deletes them by row:
// a change or deletion names the row version a list answered, a refusal raises a message key
// and changes nothing, and a record in use is never deleted.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "db/connection.h"
#include "host/session.h"
#include "xml/document.h"

namespace rembiz::admin {

struct Context {
  host::Session& session;
  db::Connection& cn;
};

class Kind {
 public:
  virtual ~Kind() = default;
  // The name requests give the kind ("department").
  virtual std::string_view Name() const = 0;
  // The attributes of a record, in the order lists, exports and imports use; "ts" is not one.
  virtual std::vector<std::string> Columns() const = 0;
  // The records as "<row …/>" elements; `filter` is the request's `in` (kinds may read
  // attributes of it to narrow the list).
  virtual std::string List(Context& ctx, const xml::Node& filter) = 0;
  virtual void Add(Context& ctx, const xml::Node& row) = 0;
  virtual void Change(Context& ctx, const xml::Node& row) = 0;
  virtual void Delete(Context& ctx, const xml::Node& row) = 0;
  // Whether imports may add records of the kind.
  virtual bool Importable() const { return false; }
};

// The kind of that name; nullptr when there is none.
Kind* FindKind(std::string_view name);
// The names of every kind, for messages and the pages.
std::vector<std::string> KindNames();

// Each file of kinds registers them here at start-up.
struct KindRegistrar {
  explicit KindRegistrar(Kind* kind);
};

// Steps the kinds share.
// A list answer: every record of the query as "<row name='value' …/>" (nulls left out).
std::string RowsXml(db::Recordset& rs);
// The attribute as typed (trimmed); raises "Rembiz.Admin.Required" naming it when blank.
std::string Required(const xml::Node& row, std::string_view name);
// A flag attribute: "1"/"true" or "0"/"false" (any case); blank gives `fallback`.
bool Flag(const xml::Node& row, std::string_view name, bool fallback);
// A whole number attribute within bounds; blank gives `fallback`.
int64_t Whole(const xml::Node& row, std::string_view name, int64_t fallback, int64_t low,
              int64_t high);
// The row version the request sends back, as SQL number text ("Rembiz.Admin.Stale" otherwise).
std::string Version(const xml::Node& row);
// Runs the statement; it must touch exactly one row, else the record was changed or deleted
// meanwhile ("Rembiz.Admin.Stale").
void ExecuteOne(db::Connection& cn, const std::string& sql);
// Refuses the deletion of a record that the query finds in use ("Rembiz.Admin.InUse", naming
// the record and what uses it).
void RefuseInUse(db::Connection& cn, const std::string& sql, std::string_view record,
                 std::string_view user_key);
// A code: letters, digits, '-', '_' and '.', at most `length` characters.
std::string Code(const xml::Node& row, std::string_view name, size_t length);
// Splits "a,b , c" into its trimmed, non-empty parts.
std::vector<std::string> SplitList(std::string_view text);

}  // namespace rembiz::admin
