#include "basedata/grades.h"

#include "db/text.h"
#include "frame/request.h"
#include "host/errors.h"

namespace rembiz::basedata {

std::string GradeValue(db::Connection& cn, int dimension, const std::string& grade) {
  if (db::Trim(grade).empty()) return "Null";
  if (!frame::Exists(cn, "Select strEICode From EC_EISet_NUStand Where intEICode = " +
                             std::to_string(dimension) +
                             " And strEICode = " + db::SqlText(grade))) {
    Raise(kErrBusiness, "Rembiz.Master.GradeUnknown");
  }
  return db::SqlText(grade);
}

}  // namespace rembiz::basedata
