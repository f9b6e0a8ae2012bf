#include "admin/kinds.h"

#include <algorithm>
#include <map>

#include "db/text.h"
#include "host/errors.h"
#include "host/messages.h"
#include "xml/escape.h"

namespace rembiz::admin {
namespace {

std::map<std::string, Kind*, std::less<>>& Registry() {
  static auto* kinds = new std::map<std::string, Kind*, std::less<>>();
  return *kinds;
}

}  // namespace

KindRegistrar::KindRegistrar(Kind* kind) { Registry()[std::string(kind->Name())] = kind; }

Kind* FindKind(std::string_view name) {
  auto found = Registry().find(name);
  return found == Registry().end() ? nullptr : found->second;
}

std::vector<std::string> KindNames() {
  std::vector<std::string> names;
  for (const auto& [name, kind] : Registry()) names.push_back(name);
  return names;
}

std::string RowsXml(db::Recordset& rs) {
  std::string out;
  for (; !rs.Eof(); rs.MoveNext()) {
    out += "<row";
    for (int i = 0; i < rs.FieldCount(); ++i) {
      const db::Variant& value = rs.Value(i);
      if (value.IsNull()) continue;
      out += " " + rs.Field(i).name + "='" + xml::XmlEscape(value.ToText()) + "'";
    }
    out += "/>";
  }
  return out;
}

std::string Required(const xml::Node& row, std::string_view name) {
  std::string value = db::Trim(row.Attr(name));
  if (value.empty()) Raise(kErrBusiness, "Rembiz.Admin.Required", name);
  return value;
}

bool Flag(const xml::Node& row, std::string_view name, bool fallback) {
  std::string value = db::Lower(db::Trim(row.Attr(name)));
  if (value.empty()) return fallback;
  if (value == "1" || value == "true") return true;
  if (value == "0" || value == "false") return false;
  Raise(kErrBusiness, "Rembiz.Admin.NotFlag", name);
}

int64_t Whole(const xml::Node& row, std::string_view name, int64_t fallback, int64_t low,
              int64_t high) {
  std::string value = db::Trim(row.Attr(name));
  if (value.empty()) return fallback;
  bool digits = value.size() <= 12 &&
                std::all_of(value.begin() + (value[0] == '-' ? 1 : 0), value.end(),
                            [](char c) { return c >= '0' && c <= '9'; }) &&
                value != "-";
  if (!digits) Raise(kErrBusiness, "Rembiz.Admin.NotWhole", name);
  int64_t number = std::stoll(value);
  if (number < low || number > high) {
    Raise(kErrBusiness, "Rembiz.Admin.OutOfRange", name, std::to_string(low), std::to_string(high));
  }
  return number;
}

std::string Version(const xml::Node& row) {
  std::string ts = db::Trim(row.Attr("ts"));
  bool digits = !ts.empty() && ts.size() <= 18 &&
                std::all_of(ts.begin(), ts.end(), [](char c) { return c >= '0' && c <= '9'; });
  if (!digits) Raise(kErrBusiness, "Rembiz.Admin.Stale");
  return ts;
}

void ExecuteOne(db::Connection& cn, const std::string& sql) {
  int64_t affected = 0;
  cn.Execute(sql, &affected);
  if (affected != 1) Raise(kErrBusiness, "Rembiz.Admin.Stale");
}

void RefuseInUse(db::Connection& cn, const std::string& sql, std::string_view record,
                 std::string_view user_key) {
  if (!cn.Execute(sql).Eof()) {
    Raise(kErrBusiness, "Rembiz.Admin.InUse", record, host::MessageText(user_key));
  }
}

std::string Code(const xml::Node& row, std::string_view name, size_t length) {
  std::string code = Required(row, name);
  bool plain = code.size() <= length && std::all_of(code.begin(), code.end(), [](char c) {
                 return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') ||
                        (c >= 'a' && c <= 'z') || c == '-' || c == '_' || c == '.';
               });
  if (!plain) Raise(kErrBusiness, "Rembiz.Admin.BadCode", name, std::to_string(length));
  return code;
}

std::vector<std::string> SplitList(std::string_view text) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= text.size()) {
    size_t comma = text.find(',', start);
    if (comma == std::string_view::npos) comma = text.size();
    std::string part = db::Trim(text.substr(start, comma - start));
    if (!part.empty()) parts.push_back(part);
    start = comma + 1;
  }
  return parts;
}

}  // namespace rembiz::admin
