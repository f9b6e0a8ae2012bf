// What the data layer keeps of a PostgreSQL database's catalog, per process: the names and types
// the server declared for each table's columns (kept in the catalog's comments when a table is
// made), the tables a name stands for, and foreign keys. Lookups ask the database the first time
// and remember the answer; a connection whose transaction failed cannot ask, and gets what is
// known.
#pragma once

#include <libpq-fe.h>

#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace rembiz::db::postgres {

struct ColumnMeta {
  int attnum = 0;
  std::string name;       // as the engine has it (lower case)
  std::string declared;   // as the server declared it ("strVouchID"), or empty
  std::string type;       // the server's type ("varchar(30)"), or empty
  bool identity = false;  // numbered by the engine (the server's IDENTITY)
};

struct RelationMeta {
  Oid oid = InvalidOid;
  std::string name;      // as the engine has it
  std::string declared;  // as the server declared it, or empty
  std::vector<ColumnMeta> columns;

  const ColumnMeta* Column(int attnum) const;
  // The declared name of a column, or its own name.
  std::string ColumnName(int attnum) const;
  // The table's declared name, or its own name.
  std::string TableName() const { return declared.empty() ? name : declared; }
  // The column the engine numbers; null when there is none.
  const ColumnMeta* IdentityColumn() const;
};

struct ForeignKeyMeta {
  Oid child = InvalidOid;
  Oid parent = InvalidOid;
  int child_column = 0;
  int parent_column = 0;
};

class Catalog {
 public:
  // The catalog of the database `key` ("host:port/database").
  static Catalog& For(const std::string& key);

  // A relation by its OID; asked of `conn` when unknown and `can_ask`. Null when unknown.
  std::shared_ptr<const RelationMeta> ByOid(PGconn* conn, Oid oid, bool can_ask);
  // A relation by the name a statement gives it ("tempdb.x", "vwecloanhead"), resolved on the
  // connection's search path `path`. `fresh` asks again instead of trusting what is known.
  std::shared_ptr<const RelationMeta> ByName(PGconn* conn, const std::string& path,
                                             const std::string& name, bool fresh);
  // A relation by schema and engine name (error fields give these).
  std::shared_ptr<const RelationMeta> BySchemaName(PGconn* conn, const std::string& schema,
                                                   const std::string& name, bool can_ask);
  std::optional<ForeignKeyMeta> ForeignKey(PGconn* conn, const std::string& name, bool can_ask);

  // Forgets a relation (after it was made again under its name).
  void Forget(Oid oid);
  // Forgets every relation's columns and every foreign key (after ALTER TABLE added some).
  void ForgetColumnsAndKeys();

  // Learns every table and view of the schemas and their foreign keys at once, the first time a
  // connection to them opens, so that a failed transaction's error still finds their names.
  void Preload(PGconn* conn, const std::vector<std::string>& schemas);

 private:
  struct State;
  Catalog();
  std::shared_ptr<const RelationMeta> Load(PGconn* conn, Oid oid);
  std::shared_ptr<State> state_;
};

}  // namespace rembiz::db::postgres
