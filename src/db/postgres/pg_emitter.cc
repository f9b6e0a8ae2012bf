#include "db/postgres/pg_emitter.h"

#include "db/error.h"

namespace rembiz::db::postgres {
namespace {

using sql::Tokens;

[[noreturn]] void NotYet() { throw DbError(kErrStatement, "PostgreSQL is not available yet."); }

class PostgresEmitter : public sql::Emitter {
 public:
  Dialect Target() const override { return Dialect::kPostgres; }
  Tokens Function(const std::string&, const sql::Token&, std::vector<Tokens>) const override {
    NotYet();
  }
  Tokens Conversion(const sql::SqlType&, Tokens, const Tokens*, std::optional<int>) const override {
    NotYet();
  }
  Tokens Catalog(const std::string&, const std::string&) const override { NotYet(); }
  sql::Token Collation(const std::string&) const override { NotYet(); }
  std::string RowId() const override { return "ctid"; }
  sql::Token FalseValue() const override { return sql::Word("false"); }
  std::string LikeKeyword() const override { return "ILIKE"; }
  Tokens UnnamedColumnAlias() const override { return {}; }
  Tokens LastIdentity() const override { NotYet(); }
  std::vector<Tokens> CreateTable(const sql::TableDefinition&) const override { NotYet(); }
  std::vector<Tokens> CreateIndex(const sql::IndexDefinition&) const override { NotYet(); }
  std::vector<Tokens> ForeignKeys(const std::vector<sql::ForeignKeyUse>&) const override {
    NotYet();
  }
  Tokens CreateView(const Tokens&, const Tokens&) const override { NotYet(); }
  Tokens DropIndex(const std::string&, const std::string&, const std::string&) const override {
    NotYet();
  }
  Tokens Analyze(const Tokens&) const override { NotYet(); }
  std::vector<Tokens> Truncate(const Tokens&, const std::string&,
                               const std::string&) const override {
    NotYet();
  }
  bool TakesParameters(const Tokens&) const override { return true; }
  std::string Render(const Tokens&, std::vector<uint32_t>*, bool) const override { NotYet(); }
};

}  // namespace

const sql::Emitter& TheEmitter() {
  static const PostgresEmitter emitter;
  return emitter;
}

}  // namespace rembiz::db::postgres
