#include "host/free_fields.h"

#include <algorithm>
#include <cctype>
#include <optional>

#include "db/error.h"
#include "db/text.h"
#include "db/variant.h"

namespace rembiz::host {
namespace {

using db::Lower;
using db::Trim;

struct Definition {
  std::string data_type;
  int64_t length = 0;
  int64_t source = 0;
  std::string ref_table, ref_column, ref_name_column, ref_sql, rule;
  bool must_input = false;
};

size_t Characters(std::string_view text) {
  return static_cast<size_t>(std::count_if(text.begin(), text.end(), [](char c) {
    return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  }));
}

void RequireName(std::string_view name) {
  if (!db::IsSqlName(name)) {
    throw ComError(static_cast<int32_t>(0x80070057),
                   "Invalid request: '" + std::string(name) + "' is not a valid name.",
                   "Rembiz.FreeFields");
  }
}

// True when the value keeps every rule part.
bool KeepsRules(std::string_view value, const std::vector<std::string>& parts) {
  for (const std::string& raw : parts) {
    std::string part = Lower(Trim(raw));
    std::string name = part.substr(0, part.find('='));
    std::string argument =
        part.find('=') == std::string::npos ? "" : part.substr(part.find('=') + 1);
    int64_t n = db::Variant(argument).ToInt();
    if (name == "required" && Trim(value).empty()) return false;
    if (value.empty()) continue;
    if (name == "number" && !db::ParseNumber(value)) return false;
    if (name == "date" && !db::NormalizeDate(value)) return false;
    if (name == "maxlen" && static_cast<int64_t>(Characters(value)) > n) return false;
    if (name == "minlen" && static_cast<int64_t>(Characters(value)) < n) return false;
    if (name == "upper" &&
        std::any_of(value.begin(), value.end(), [](unsigned char c) { return std::islower(c); })) {
      return false;
    }
  }
  return true;
}

std::vector<std::string> SplitRule(std::string_view rule) {
  std::vector<std::string> parts;
  size_t b = 0;
  while (b <= rule.size()) {
    size_t e = rule.find(',', b);
    if (e == std::string_view::npos) e = rule.size();
    if (e > b) parts.emplace_back(rule.substr(b, e - b));
    b = e + 1;
  }
  return parts;
}

class TableFreeFields : public FreeFields {
 public:
  bool Init(db::Connection& cn) override {
    try {
      cn.Execute("select top 1 cFieldName from Host_UserDefField");
    } catch (const ComError&) {
      return false;
    }
    cn_ = &cn;
    return true;
  }

  bool GetRefSQL(std::string_view name, std::string_view value, std::string_view table,
                 std::string_view column, const std::vector<std::string>&,
                 std::string* sql) override {
    std::optional<Definition> def = Find(name);
    if (!def) return false;
    std::string prefix = db::SqlText(std::string(value) + "%");
    switch (def->source) {
      case 1:
        RequireName(table);
        RequireName(column);
        *sql = "select " + std::string(column) + " from " + std::string(table) +
               " where cID=" + db::SqlText(name);
        if (!value.empty()) *sql += " and " + std::string(column) + " like " + prefix;
        *sql += " order by " + std::string(column);
        return true;
      case 2: {
        RequireName(def->ref_table);
        RequireName(def->ref_column);
        std::string columns = def->ref_column;
        if (!def->ref_name_column.empty()) {
          RequireName(def->ref_name_column);
          columns += "," + def->ref_name_column;
        }
        *sql = "select distinct " + columns + " from " + def->ref_table;
        if (!value.empty()) *sql += " where " + def->ref_column + " like " + prefix;
        return true;
      }
      case 3:
        *sql = def->ref_sql;
        return !sql->empty();
      default:
        return false;
    }
  }

  int ValidateAr(std::string_view name, std::string_view value, std::string_view table,
                 std::string_view column, const std::vector<std::string>& rule) override {
    std::optional<Definition> def = Find(name);
    if (!def) return kUnknownField;
    std::vector<std::string> parts = SplitRule(def->rule);
    parts.insert(parts.end(), rule.begin(), rule.end());
    if (def->must_input) parts.emplace_back("required");
    if (!KeepsRules(value, parts)) return kBreaksRule;
    if (value.empty()) return kValid;

    if (def->data_type == "number" && !db::ParseNumber(value)) return kNotAllowed;
    if (def->data_type == "date" && !db::NormalizeDate(value)) return kNotAllowed;
    if (def->length > 0 && static_cast<int64_t>(Characters(value)) > def->length) {
      return kNotAllowed;
    }
    switch (def->source) {
      case 1:
        RequireName(table);
        RequireName(column);
        return Exists("select top 1 1 as x from " + std::string(table) + " where cID=" +
                      db::SqlText(name) + " and " + std::string(column) + "=" + db::SqlText(value))
                   ? kValid
                   : kNotAllowed;
      case 2:
        RequireName(def->ref_table);
        RequireName(def->ref_column);
        return Exists("select top 1 1 as x from " + def->ref_table + " where " + def->ref_column +
                      "=" + db::SqlText(value))
                   ? kValid
                   : kNotAllowed;
      case 3: {
        db::Recordset rs = cn_->ExecuteReadOnly(def->ref_sql);
        for (; !rs.Eof(); rs.MoveNext()) {
          if (rs.Value(0).ToText() == value) return kValid;
        }
        return kNotAllowed;
      }
      default:
        return kValid;
    }
  }

 private:
  std::optional<Definition> Find(std::string_view name) {
    if (!cn_) throw ComError(static_cast<int32_t>(0x8000FFFF), "The service is not initialised.");
    db::Recordset rs = cn_->Execute(
        "select cDataType,iLength,iSource,cRefTable,cRefColumn,cRefNameColumn,cRefSql,cRule,"
        "bMustInput from Host_UserDefField where bEnabled=1 and cFieldName=" +
        db::SqlText(name));
    if (rs.Eof()) return std::nullopt;
    Definition def;
    def.data_type = Lower(rs.Text("cDataType"));
    def.length = rs.Value("iLength").ToInt();
    def.source = rs.Value("iSource").ToInt();
    def.ref_table = rs.Text("cRefTable");
    def.ref_column = rs.Text("cRefColumn");
    def.ref_name_column = rs.Text("cRefNameColumn");
    def.ref_sql = rs.Text("cRefSql");
    def.rule = rs.Text("cRule");
    def.must_input = rs.Value("bMustInput").ToBool();
    return def;
  }

  bool Exists(const std::string& sql) { return !cn_->Execute(sql).Eof(); }

  db::Connection* cn_ = nullptr;
};

}  // namespace

std::unique_ptr<FreeFields> CreateFreeFields() { return std::make_unique<TableFreeFields>(); }

}  // namespace rembiz::host
