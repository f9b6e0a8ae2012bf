// The grade lists that persons (dimension 1) and districts (dimension 2) are given from: the
// shared value lists of the standards' dimensions in EC_EISet_NUStand.
#pragma once

#include <string>

#include "db/connection.h"

namespace rembiz::basedata {

// The grade as SQL: Null when empty, else the quoted code after checking that the dimension's
// list holds it ("Rembiz.Master.GradeUnknown" otherwise).
std::string GradeValue(db::Connection& cn, int dimension, const std::string& grade);

}  // namespace rembiz::basedata
