#include "frame/convert.h"

#include "db/sql/translate.h"
#include "db/text.h"
#include "host/messages.h"

namespace rembiz::frame {
namespace {

using db::Trim;

}  // namespace

std::string NullToStr(const Variant& value) { return value.ToText(); }

std::string SqlValue(const Variant& value) {
  std::string text = value.ToText();
  if (value.IsNull() || text.empty()) return "null";
  return "'" + SqlEscape(text) + "'";
}

bool IsNumeric(const Variant& value) {
  if (value.IsNumber()) return true;
  if (value.kind() != Variant::Kind::kText) return false;
  return db::ParseNumber(value.ToText()).has_value();
}

double NumValue(const Variant& value) {
  if (value.IsNumber()) return value.ToDouble();
  if (value.kind() != Variant::Kind::kText) return 0;
  return db::ParseNumber(value.ToText()).value_or(0);
}

std::string SqlNumber(const Variant& value) {
  if (!IsNumeric(value)) return "null";
  if (value.IsNumber()) return value.ToText();
  return db::DoubleText(*db::ParseNumber(value.ToText()));
}

bool ToBool(const Variant& value) {
  if (value.IsNull() || value.ToText().empty()) return false;
  return value.ToBool();
}

std::string SqlBool(const Variant& value) {
  if (value.IsNull() || value.ToText().empty()) return "null";
  return value.ToBool() ? "1" : "0";
}

std::string DateText(const Variant& value, std::string_view separator) {
  if (value.IsNull()) return "";
  auto normal = db::NormalizeDate(value.ToText());
  if (!normal) return "";
  int y = std::stoi(normal->substr(0, 4));
  int m = std::stoi(normal->substr(5, 2));
  int d = std::stoi(normal->substr(8, 2));
  std::string sep(separator);
  return std::to_string(y) + sep + std::to_string(m) + sep + std::to_string(d);
}

std::string NodeAttr(const xml::Node& node, std::string_view name, std::string_view path) {
  if (node.IsNull()) return "";
  xml::Node target = node;
  if (target.Raw().type() == pugi::node_document) target = target.FirstChild();
  std::string p = Trim(path);
  if (!p.empty()) target = target.SelectSingleNode(p);
  return target.Attr(name);
}

std::string NodeAttr(const xml::Document& doc, std::string_view name, std::string_view path) {
  return NodeAttr(doc.DocumentElement(), name, path);
}

std::string NormalizeSql(std::string_view sql) {
  return db::EditSqlText(
      sql, {.mark_literals = true, .bracket_aliases = host::CurrentLanguageIsEnglish()});
}

bool NoParens(std::string_view text) {
  return text.find('(') == std::string_view::npos && text.find(')') == std::string_view::npos;
}

std::string BracketAliases(std::string_view sql) {
  return db::EditSqlText(sql, {.bracket_aliases = true});
}

std::string RowXml(db::Recordset& recordset) {
  if (!recordset.IsOpen() || (recordset.Bof() && recordset.Eof())) return "";
  std::string out;
  const auto& fields = recordset.Fields();
  for (recordset.MoveFirst(); !recordset.Eof(); recordset.MoveNext()) {
    out += "<row";
    for (int i = 0; i < recordset.FieldCount(); ++i) {
      std::string text = XmlEscape(recordset.Value(i).ToText());
      out += " ";
      // Column names come from queries, some from the request itself.
      out += XmlName(fields[static_cast<size_t>(i)].name);
      if (fields[static_cast<size_t>(i)].type == db::kAdVarChar && text == "1900-01-01") {
        out += "=''";
      } else {
        out += "='" + text + "'";
      }
    }
    out += "/>\r\n";
  }
  return out;
}

std::string HeadXml(db::Recordset& recordset) {
  if (!recordset.IsOpen() || (recordset.Bof() && recordset.Eof())) return "";
  int value_index = recordset.FieldIndex("strValue");
  std::string out = "<head";
  for (recordset.MoveFirst(); !recordset.Eof(); recordset.MoveNext()) {
    std::string value = recordset.Value("strValue").ToText();
    if (recordset.Field(value_index).type == db::kAdVarChar && value == "1900-01-01") value = "";
    // Values are escaped: a name or remark with a quote or "<" must not break the element.
    out += " " + XmlName(recordset.Value("strName").ToText()) + "='" + XmlEscape(value) + "'";
  }
  out += "/>\r\n";
  return out;
}

}  // namespace rembiz::frame
