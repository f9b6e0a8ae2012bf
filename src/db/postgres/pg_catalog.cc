#include "db/postgres/pg_catalog.h"

#include <cstdlib>
#include <map>
#include <mutex>
#include <unordered_map>

#include "db/no_destructor.h"

namespace rembiz::db::postgres {
namespace {

// A one-shot query with text parameters; null on any failure.
std::unique_ptr<PGresult, void (*)(PGresult*)> Query(PGconn* conn, const char* sql,
                                                     const std::vector<std::string>& args) {
  std::vector<const char*> values;
  values.reserve(args.size());
  for (const std::string& a : args) values.push_back(a.c_str());
  PGresult* res = PQexecParams(conn, sql, static_cast<int>(values.size()), nullptr, values.data(),
                               nullptr, nullptr, 0);
  if (PQresultStatus(res) != PGRES_TUPLES_OK) {
    PQclear(res);
    res = nullptr;
  }
  return {res, PQclear};
}

std::string Field(PGresult* res, int row, int col) {
  return PQgetisnull(res, row, col) ? std::string() : std::string(PQgetvalue(res, row, col));
}

}  // namespace

struct Catalog::State {
  std::mutex mutex;
  std::unordered_map<Oid, std::shared_ptr<const RelationMeta>> by_oid;
  std::map<std::string, Oid> by_name;  // search path + "|" + name
  std::map<std::string, ForeignKeyMeta> foreign_keys;
  std::set<std::string> preloaded;  // schema lists
};

const ColumnMeta* RelationMeta::Column(int attnum) const {
  for (const ColumnMeta& c : columns) {
    if (c.attnum == attnum) return &c;
  }
  return nullptr;
}

const ColumnMeta* RelationMeta::IdentityColumn() const {
  for (const ColumnMeta& c : columns) {
    if (c.identity) return &c;
  }
  return nullptr;
}

std::string RelationMeta::ColumnName(int attnum) const {
  const ColumnMeta* c = Column(attnum);
  if (!c) return {};
  return c->declared.empty() ? c->name : c->declared;
}

Catalog::Catalog() : state_(std::make_shared<State>()) {}

Catalog& Catalog::For(const std::string& key) {
  static std::mutex mutex;
  // What connections learn of a server's catalog, for as long as the process runs.
  static NoDestructor<std::map<std::string, std::unique_ptr<Catalog>>> catalogs;
  std::lock_guard lock(mutex);
  std::unique_ptr<Catalog>& catalog = (*catalogs)[key];
  if (!catalog) catalog.reset(new Catalog());  // NOLINT(modernize-make-unique): private
  return *catalog;
}

std::shared_ptr<const RelationMeta> Catalog::Load(PGconn* conn, Oid oid) {
  auto res = Query(conn,
                   "SELECT c.relname, obj_description(c.oid, 'pg_class'), a.attnum, a.attname, "
                   "col_description(c.oid, a.attnum), a.attidentity <> '' FROM pg_class c LEFT "
                   "JOIN pg_attribute a ON "
                   "a.attrelid = c.oid AND a.attnum > 0 AND NOT a.attisdropped WHERE c.oid = "
                   "$1::oid ORDER BY a.attnum",
                   {std::to_string(oid)});
  if (!res || PQntuples(res.get()) == 0) return nullptr;
  auto meta = std::make_shared<RelationMeta>();
  meta->oid = oid;
  meta->name = Field(res.get(), 0, 0);
  meta->declared = Field(res.get(), 0, 1);
  for (int r = 0; r < PQntuples(res.get()); ++r) {
    if (PQgetisnull(res.get(), r, 2)) continue;
    ColumnMeta column;
    column.attnum = std::atoi(PQgetvalue(res.get(), r, 2));
    column.name = Field(res.get(), r, 3);
    // "strVouchID|varchar(30)"
    std::string comment = Field(res.get(), r, 4);
    size_t bar = comment.find('|');
    column.declared = comment.substr(0, bar);
    if (bar != std::string::npos) column.type = comment.substr(bar + 1);
    column.identity = Field(res.get(), r, 5) == "t";
    meta->columns.push_back(std::move(column));
  }
  std::lock_guard lock(state_->mutex);
  state_->by_oid[oid] = meta;
  return meta;
}

std::shared_ptr<const RelationMeta> Catalog::ByOid(PGconn* conn, Oid oid, bool can_ask) {
  {
    std::lock_guard lock(state_->mutex);
    auto it = state_->by_oid.find(oid);
    if (it != state_->by_oid.end()) return it->second;
  }
  return can_ask ? Load(conn, oid) : nullptr;
}

std::shared_ptr<const RelationMeta> Catalog::ByName(PGconn* conn, const std::string& path,
                                                    const std::string& name, bool fresh) {
  const std::string key = path + "|" + name;
  if (!fresh) {
    Oid oid = InvalidOid;
    {
      std::lock_guard lock(state_->mutex);
      auto it = state_->by_name.find(key);
      if (it != state_->by_name.end()) oid = it->second;
    }
    if (oid != InvalidOid) return ByOid(conn, oid, true);
  }
  auto res = Query(conn, "SELECT to_regclass($1)::oid", {name});
  if (!res || PQntuples(res.get()) == 0 || PQgetisnull(res.get(), 0, 0)) return nullptr;
  Oid oid = static_cast<Oid>(std::strtoul(PQgetvalue(res.get(), 0, 0), nullptr, 10));
  {
    std::lock_guard lock(state_->mutex);
    state_->by_name[key] = oid;
    if (fresh) state_->by_oid.erase(oid);
  }
  return ByOid(conn, oid, true);
}

std::shared_ptr<const RelationMeta> Catalog::BySchemaName(PGconn* conn, const std::string& schema,
                                                          const std::string& name, bool can_ask) {
  {
    std::lock_guard lock(state_->mutex);
    for (const auto& [oid, meta] : state_->by_oid) {
      if (meta->name == name) return meta;  // names of one database rarely repeat
    }
  }
  if (!can_ask) return nullptr;
  auto res = Query(conn,
                   "SELECT c.oid FROM pg_class c JOIN pg_namespace n ON n.oid = c.relnamespace "
                   "WHERE n.nspname = $1 AND c.relname = $2",
                   {schema, name});
  if (!res || PQntuples(res.get()) == 0) return nullptr;
  return Load(conn, static_cast<Oid>(std::strtoul(PQgetvalue(res.get(), 0, 0), nullptr, 10)));
}

std::optional<ForeignKeyMeta> Catalog::ForeignKey(PGconn* conn, const std::string& name,
                                                  bool can_ask) {
  {
    std::lock_guard lock(state_->mutex);
    auto it = state_->foreign_keys.find(name);
    if (it != state_->foreign_keys.end()) return it->second;
  }
  if (!can_ask) return std::nullopt;
  auto res = Query(conn,
                   "SELECT conrelid, confrelid, conkey[1], confkey[1] FROM pg_constraint WHERE "
                   "conname = $1 AND contype = 'f' LIMIT 1",
                   {name});
  if (!res || PQntuples(res.get()) == 0) return std::nullopt;
  ForeignKeyMeta fk;
  fk.child = static_cast<Oid>(std::strtoul(PQgetvalue(res.get(), 0, 0), nullptr, 10));
  fk.parent = static_cast<Oid>(std::strtoul(PQgetvalue(res.get(), 0, 1), nullptr, 10));
  fk.child_column = std::atoi(PQgetvalue(res.get(), 0, 2));
  fk.parent_column = std::atoi(PQgetvalue(res.get(), 0, 3));
  std::lock_guard lock(state_->mutex);
  state_->foreign_keys[name] = fk;
  return fk;
}

void Catalog::Preload(PGconn* conn, const std::vector<std::string>& schemas) {
  std::string list = "{";
  for (size_t k = 0; k < schemas.size(); ++k) list += (k ? "," : "") + schemas[k];
  list += "}";
  {
    std::lock_guard lock(state_->mutex);
    if (state_->preloaded.count(list)) return;
  }
  auto res = Query(conn,
                   "SELECT c.oid, c.relname, obj_description(c.oid, 'pg_class'), a.attnum, "
                   "a.attname, col_description(c.oid, a.attnum), a.attidentity <> '' FROM "
                   "pg_class c JOIN "
                   "pg_namespace n ON n.oid = c.relnamespace JOIN pg_attribute a ON a.attrelid = "
                   "c.oid AND a.attnum > 0 AND NOT a.attisdropped WHERE n.nspname = ANY($1) AND "
                   "c.relkind IN ('r', 'v', 'p') ORDER BY c.oid, a.attnum",
                   {list});
  auto keys = Query(conn,
                    "SELECT c.conname, c.conrelid, c.confrelid, c.conkey[1], c.confkey[1] FROM "
                    "pg_constraint c JOIN pg_namespace n ON n.oid = c.connamespace WHERE "
                    "n.nspname = ANY($1) AND c.contype = 'f'",
                    {list});
  if (!res || !keys || PQntuples(res.get()) == 0) return;  // nothing made yet: ask later
  std::lock_guard lock(state_->mutex);
  std::shared_ptr<RelationMeta> meta;
  for (int r = 0; r < PQntuples(res.get()); ++r) {
    Oid oid = static_cast<Oid>(std::strtoul(PQgetvalue(res.get(), r, 0), nullptr, 10));
    if (!meta || meta->oid != oid) {
      if (meta) state_->by_oid[meta->oid] = meta;
      meta = std::make_shared<RelationMeta>();
      meta->oid = oid;
      meta->name = Field(res.get(), r, 1);
      meta->declared = Field(res.get(), r, 2);
    }
    ColumnMeta column;
    column.attnum = std::atoi(PQgetvalue(res.get(), r, 3));
    column.name = Field(res.get(), r, 4);
    std::string comment = Field(res.get(), r, 5);
    size_t bar = comment.find('|');
    column.declared = comment.substr(0, bar);
    if (bar != std::string::npos) column.type = comment.substr(bar + 1);
    column.identity = Field(res.get(), r, 6) == "t";
    meta->columns.push_back(std::move(column));
  }
  if (meta) state_->by_oid[meta->oid] = meta;
  for (int r = 0; r < PQntuples(keys.get()); ++r) {
    ForeignKeyMeta fk;
    fk.child = static_cast<Oid>(std::strtoul(PQgetvalue(keys.get(), r, 1), nullptr, 10));
    fk.parent = static_cast<Oid>(std::strtoul(PQgetvalue(keys.get(), r, 2), nullptr, 10));
    fk.child_column = std::atoi(PQgetvalue(keys.get(), r, 3));
    fk.parent_column = std::atoi(PQgetvalue(keys.get(), r, 4));
    state_->foreign_keys[PQgetvalue(keys.get(), r, 0)] = fk;
  }
  state_->preloaded.insert(list);
}

void Catalog::Forget(Oid oid) {
  std::lock_guard lock(state_->mutex);
  state_->by_oid.erase(oid);
}

void Catalog::ForgetColumnsAndKeys() {
  std::lock_guard lock(state_->mutex);
  state_->by_oid.clear();
  state_->foreign_keys.clear();
  state_->preloaded.clear();
}

}  // namespace rembiz::db::postgres
