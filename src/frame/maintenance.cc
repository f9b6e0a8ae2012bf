#include "frame/maintenance.h"

#include "db/text.h"
#include "frame/convert.h"
#include "frame/request.h"
#include "host/errors.h"
#include "host/messages.h"

namespace rembiz::frame {

std::string_view KeyOfConstraint(std::string_view description,
                                 std::span<const ConstraintKey> constraints) {
  for (const ConstraintKey& entry : constraints) {
    // A name followed by a letter, digit or "_" is a longer name ("IX_EC_EISet_Stand" is not
    // "IX_EC_EISet_Stand_x"), so the match must end at a boundary.
    for (size_t pos = description.find(entry.constraint); pos != std::string_view::npos;
         pos = description.find(entry.constraint, pos + 1)) {
      size_t end = pos + entry.constraint.size();
      char next = end < description.size() ? description[end] : ' ';
      bool word = (next >= 'A' && next <= 'Z') || (next >= 'a' && next <= 'z') ||
                  (next >= '0' && next <= '9') || next == '_';
      if (!word) return entry.key;
    }
  }
  return {};
}

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
