#include "frame/request.h"

#include "db/error.h"
#include "db/text.h"
#include "frame/convert.h"
#include "frame/sql_helpers.h"
#include "host/errors.h"
#include "host/messages.h"

namespace rembiz::frame {

std::string InText(const xml::Node& func, std::string_view name) {
  return db::Trim(func.SelectSingleNode("in/" + std::string(name)).Text());
}

xml::Node FirstIn(const xml::Node& func) { return func.Child("in").FirstChild(); }

bool Present(const xml::Node& node, std::string_view name) { return !node.Attr(name).empty(); }

std::string ValueOf(const xml::Node& node, std::string_view name) {
  std::string text = node.Attr(name);
  constexpr std::string_view kMidnight = "T00:00:00";
  if (text.size() > kMidnight.size() && text.ends_with(kMidnight)) {
    text.resize(text.size() - kMidnight.size());
  }
  return SqlValue(db::Variant(text));
}

void InvalidNumber(std::string_view what, std::string_view text) {
  // Named by the field's label where it has one, in the session's language.
  throw ComError(db::kErrInvalidRequest,
                 host::MessageText("Rembiz.Value.InvalidNumber", "", host::ColumnLabel(what), text),
                 "Rembiz");
}

std::string RequireInteger(const std::string& text, std::string_view what) {
  bool ok = !text.empty() && text.size() < 19;
  for (char c : text) ok = ok && c >= '0' && c <= '9';
  if (!ok) InvalidNumber(what, text);
  return text;
}

std::string OptionalNumber(const std::string& text, std::string_view what) {
  if (db::Trim(text).empty()) return "";
  if (!IsNumeric(db::Variant(text))) InvalidNumber(what, text);
  return SqlNumber(db::Variant(text));
}

std::string NumberOf(const xml::Node& node, std::string_view name) {
  std::string number = OptionalNumber(node.Attr(name), name);
  return number.empty() ? "Null" : number;
}

std::string RequiredNumber(const xml::Node& node, std::string_view name,
                           std::string_view missing_key) {
  if (db::Trim(node.Attr(name)).empty()) Raise(kErrBusiness, missing_key);
  return NumberOf(node, name);
}

std::optional<std::string> RowVersion(const std::string& text) {
  if (!IsNumeric(db::Variant(text))) return std::nullopt;
  return SqlNumber(db::Variant(text));
}

bool Exists(db::Connection& cn, const std::string& sql) {
  return !cn.Execute(NormalizeSql(sql)).Eof();
}

void CheckCostItem(db::Connection& cn, const xml::Node& head) {
  if (!Present(head, "strItemClassID")) return;
  std::string item_class = head.Attr("strItemClassID");
  if (!Exists(cn, "SELECT citem_class FROM fitem Where citem_class = " + db::SqlText(item_class))) {
    Raise(kErrBusiness, "Q7.Rembiz.0219");
  }
  if (!Present(head, "strItemID")) return;
  std::string item = db::SqlText(head.Attr("strItemID"));
  std::string sql;
  if (item_class == "ch") {
    sql = "SELECT cInvCode FROM inventory Where cInvCode = " + item;
  } else {
    RequireSqlName("fitemss" + item_class, "item table");
    sql = "SELECT cItemCode FROM fitemss" + item_class + " Where cItemCode = " + item;
  }
  if (!Exists(cn, sql)) Raise(kErrBusiness, "Q7.Rembiz.0220");
}

void CheckCurrencyAndRate(const xml::Node& head, bool currency_known) {
  if (!Present(head, "strBill")) Raise(kErrBusiness, "Q7.Rembiz.0221");
  if (!currency_known) Raise(kErrBusiness, "Q7.Rembiz.0222");
  if (!Present(head, "fltRate")) Raise(kErrBusiness, "Q7.Rembiz.0223");
  db::Variant rate(head.Attr("fltRate"));
  if (!IsNumeric(rate)) Raise(kErrBusiness, "Q7.Rembiz.0224");
  if (NumValue(rate) <= 0) Raise(kErrBusiness, "Q7.Rembiz.0225");
}

}  // namespace rembiz::frame
