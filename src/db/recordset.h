// A client-side recordset: every row is read when the statement runs, then walked with a cursor
// as the classes do (EOF/BOF, MoveFirst/MoveNext), fields by index or by name (case-insensitive).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "db/variant.h"

namespace rembiz::db {

// ADO field type numbers, as the classes and the persisted XML expect them.
enum AdoType : int {
  kAdSmallInt = 2,
  kAdInteger = 3,
  kAdSingle = 4,
  kAdDouble = 5,
  kAdCurrency = 6,
  kAdBoolean = 11,
  kAdTinyInt = 17,
  kAdBigInt = 20,
  kAdGuid = 72,
  kAdChar = 129,
  kAdWChar = 130,
  kAdNumeric = 131,
  kAdDbTimeStamp = 135,
  kAdVarChar = 200,
  kAdLongVarChar = 201,
  kAdVarWChar = 202,
  kAdLongVarWChar = 203,
  kAdVarBinary = 204,
  kAdLongVarBinary = 205,
};

struct FieldInfo {
  std::string name;
  int type = kAdVarChar;
  int64_t defined_size = 0;  // characters for text, bytes for fixed types
  int precision = 0;
  int scale = 0;
  bool nullable = true;
};

// Maps a declared SQL type ("nvarchar(50)", "money", "decimal(18,2)") to its field description.
FieldInfo FieldInfoFromDeclType(std::string name, std::string_view decl_type);

class Recordset {
 public:
  Recordset() = default;  // closed
  Recordset(std::vector<FieldInfo> fields, std::vector<std::vector<Variant>> rows);

  // ADO's State: 1 when open, 0 when closed.
  int State() const { return open_ ? 1 : 0; }
  bool IsOpen() const { return open_; }
  void Close();

  bool Eof() const { return !open_ || pos_ >= rows_.size(); }
  bool Bof() const { return !open_ || rows_.empty() || before_first_; }
  void MoveFirst();
  void MoveNext();
  int64_t RecordCount() const { return static_cast<int64_t>(rows_.size()); }
  size_t Position() const { return pos_; }
  void Move(size_t row);

  int FieldCount() const { return static_cast<int>(fields_.size()); }
  const FieldInfo& Field(int index) const { return fields_.at(static_cast<size_t>(index)); }
  const std::vector<FieldInfo>& Fields() const { return fields_; }
  // Index of a field by name, case-insensitive; -1 when there is none.
  int FieldIndex(std::string_view name) const;
  bool HasField(std::string_view name) const { return FieldIndex(name) >= 0; }

  // Values of the current row. A missing field or a cursor at EOF/BOF is an error, as in ADO.
  const Variant& Value(int index) const;
  const Variant& Value(std::string_view name) const;
  // The value's text, "" for null.
  std::string Text(std::string_view name) const { return Value(name).ToText(); }

  const std::vector<std::vector<Variant>>& Rows() const { return rows_; }

 private:
  std::vector<FieldInfo> fields_;
  std::unordered_map<std::string, int> index_;  // lower-case name -> first field index
  std::vector<std::vector<Variant>> rows_;
  size_t pos_ = 0;
  bool before_first_ = false;
  bool open_ = false;
};

}  // namespace rembiz::db
