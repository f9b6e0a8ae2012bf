// A kind kept in one table, described by its fields: what lists show, what adds and changes
// write, which key names a record, and which queries find it in use. Kinds with more rules
// (trees, references) add them through the hooks.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "admin/kinds.h"

namespace rembiz::admin {

enum class FieldType { kCode, kText, kWhole, kFlag, kNumber, kDerived };

struct Field {
  std::string_view attr;    // the request's name ("code")
  std::string_view column;  // the table's column ("cDepCode")
  FieldType type = FieldType::kText;
  bool key = false;
  bool required = false;
  size_t length = 20;  // codes: the longest allowed
};

// A query that finds the record in use: "{}" stands for the quoted key.
struct Usage {
  std::string_view sql;
  std::string_view key;  // the message key naming what uses it
};

struct TableSpec {
  std::string_view name;
  std::string_view table;
  std::vector<Field> fields;
  std::vector<Usage> usages;
  std::string_view order;
  bool importable = false;
};

class TableKind : public Kind {
 public:
  explicit TableKind(TableSpec spec) : spec_(std::move(spec)) {}

  std::string_view Name() const override { return spec_.name; }
  std::vector<std::string> Columns() const override;
  std::string List(Context& ctx, const xml::Node& filter) override;
  void Add(Context& ctx, const xml::Node& row) override;
  void Change(Context& ctx, const xml::Node& row) override;
  void Delete(Context& ctx, const xml::Node& row) override;
  bool Importable() const override { return spec_.importable; }

 protected:
  // Rules beyond the fields' own, before a write (`adding` or changing).
  virtual void Check(Context&, const xml::Node&, bool /*adding*/) {}
  virtual void AfterAdd(Context&, const xml::Node&, const std::string& /*key*/) {}
  virtual void AfterDelete(Context&, const std::string& /*key*/) {}
  // Further columns of a list ("…, x as name"), and joins after the table (alias "t").
  virtual std::string ListExtra() const { return ""; }
  virtual std::string ListJoin() const { return ""; }

  const TableSpec& Spec() const { return spec_; }
  const Field& KeyField() const;
  // The key of a row as the request gives it, checked.
  std::string KeyOf(const xml::Node& row) const;
  // The SQL literal of a field's value in a row.
  std::string Literal(const Field& field, const xml::Node& row) const;
  bool Exists(Context& ctx, const std::string& key) const;

 private:
  TableSpec spec_;
};

// The parent of a code in a coded tree: the longest existing code that begins the code; ""
// at the top.
std::string TreeParent(db::Connection& cn, std::string_view table, std::string_view column,
                       const std::string& code);

}  // namespace rembiz::admin
