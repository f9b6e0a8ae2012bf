// User-defined fields: where the valid values of a field come from (Host_UserDefField: free
// input, a value list, a column of a master table or a query), the query of its pick list, and
// the check of a typed value.
//
// Rule parts (the field's own rule and the caller's, each "name" or "name=value"): "required",
// "number", "date", "maxlen=N", "minlen=N", "upper" (no lower-case letters); others are ignored.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "db/connection.h"

namespace rembiz::host {

class FreeFields {
 public:
  // ValidateAr results.
  static constexpr int kValid = 0;
  static constexpr int kBreaksRule = -1;
  static constexpr int kUnknownField = -2;
  static constexpr int kNotAllowed = 1;  // wrong type or length, or not one of the valid values

  virtual ~FreeFields() = default;
  // Keeps `cn` for the other calls; false when the field definitions cannot be read.
  virtual bool Init(db::Connection& cn) = 0;
  // The pick-list query of a field, values starting with `value`; the value-list table and
  // column are `table`.`column` (a value list keyed by cID). False for an unknown field or one
  // of free input.
  virtual bool GetRefSQL(std::string_view name, std::string_view value, std::string_view table,
                         std::string_view column, const std::vector<std::string>& rule,
                         std::string* sql) = 0;
  virtual int ValidateAr(std::string_view name, std::string_view value, std::string_view table,
                         std::string_view column, const std::vector<std::string>& rule) = 0;
};

std::unique_ptr<FreeFields> CreateFreeFields();

}  // namespace rembiz::host
