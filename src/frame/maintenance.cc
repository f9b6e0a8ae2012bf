#include "frame/maintenance.h"

#include "db/text.h"
#include "frame/convert.h"
#include "frame/request.h"
#include "host/errors.h"
#include "host/messages.h"

namespace rembiz::frame {

void ExecuteOne(db::Connection& cn, const std::string& sql, std::string_view key) {
  int64_t affected = 0;
  cn.Execute(NormalizeSql(sql), &affected);
  if (affected != 1) Raise(kErrBusiness, key);
}

void RefuseIfFound(db::Connection& cn, const std::string& sql, std::string_view key) {
  if (Exists(cn, sql)) Raise(kErrBusiness, key);
}

std::string RequireVersion(std::string_view ts, std::string_view key) {
  std::optional<std::string> version = RowVersion(std::string(ts));
  if (!version) Raise(kErrBusiness, key);
  return *version;
}

std::string RequireText(const xml::Node& node, std::string_view name, std::string_view key) {
  std::string text = node.Attr(name);
  if (db::Trim(text).empty()) Raise(kErrBusiness, key);
  return text;
}

}  // namespace rembiz::frame
