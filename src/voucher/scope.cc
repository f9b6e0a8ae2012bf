#include "voucher/scope.h"

#include "db/text.h"
#include "frame/convert.h"
#include "frame/request.h"
#include "frame/sql_helpers.h"
#include "host/errors.h"

namespace rembiz::voucher {

using frame::DataAuthFilter;
using frame::Exists;
using frame::IsNumeric;
using frame::RequireSqlName;
using frame::SqlNumber;
using frame::Variant;

bool VoucherScope::Reaches(db::Connection& cn, std::string_view table, std::string_view column,
                           std::string_view value) {
  auto filter = filters_.find(table);
  if (filter == filters_.end()) {
    filter = filters_.emplace(std::string(table), DataAuthFilter(session_, table, "True")).first;
  }
  if (filter->second == table) return true;
  std::string literal;
  if (column == "AutoID") {
    // An id that is no number names no voucher.
    if (!IsNumeric(Variant(std::string(value)))) return false;
    literal = SqlNumber(Variant(std::string(value)));
  } else if (column == "GUID") {
    literal = db::SqlText(value);
  } else {
    RequireSqlName(column, "voucher key");
    return false;
  }
  return Exists(cn, "Select " + std::string(column) + " From " + filter->second + " Where " +
                        std::string(column) + " = " + literal);
}

bool VoucherInScope(host::Session& session, db::Connection& cn, std::string_view table,
                    std::string_view column, std::string_view value) {
  return VoucherScope(session).Reaches(cn, table, column, value);
}

void RequireDraftMaker(host::Session& session, bool submitted, std::string_view maker) {
  if (submitted || session.IsAdmin()) return;
  // Names compare as the database compares them: without regard to case.
  if (db::Lower(db::Trim(maker)) != db::Lower(db::Trim(session.UserName()))) {
    Raise(kErrBusiness, "Rembiz.Voucher.NotMaker");
  }
}

}  // namespace rembiz::voucher
