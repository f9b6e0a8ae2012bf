#include "db/recordset.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <pugixml.hpp>

#include "db/error.h"
#include "db/text.h"

namespace rembiz::db {
namespace {

// ADO reports a missing item and a cursor outside the rows with these numbers.
constexpr int32_t kErrItemNotFound = static_cast<int32_t>(0x800A0CC1);
constexpr int32_t kErrNoCurrentRecord = static_cast<int32_t>(0x800A0BCD);

}  // namespace

FieldInfo FieldInfoFromDeclType(std::string name, std::string_view decl_type) {
  FieldInfo info;
  info.name = std::move(name);
  std::string decl = Lower(decl_type);
  std::string base = decl.substr(0, decl.find('('));
  while (!base.empty() && base.back() == ' ') base.pop_back();
  int arg1 = 0, arg2 = 0;
  if (size_t open = decl.find('('); open != std::string::npos) {
    const char* p = decl.c_str() + open + 1;
    if (decl.compare(open + 1, 3, "max") == 0) {
      arg1 = -1;
    } else {
      char* end = nullptr;
      arg1 = static_cast<int>(std::strtol(p, &end, 10));
      if (end && *end == ',') arg2 = static_cast<int>(std::strtol(end + 1, nullptr, 10));
    }
  }
  struct Fixed {
    const char* name;
    int type;
    int size;
    int precision;
  };
  static constexpr Fixed kFixed[] = {
      {"int", kAdInteger, 4, 10},
      {"integer", kAdInteger, 4, 10},
      {"smallint", kAdSmallInt, 2, 5},
      {"tinyint", kAdTinyInt, 1, 3},
      {"bigint", kAdBigInt, 8, 19},
      {"bit", kAdBoolean, 2, 255},
      {"money", kAdCurrency, 8, 19},
      {"smallmoney", kAdCurrency, 8, 10},
      {"float", kAdDouble, 8, 15},
      {"real", kAdSingle, 4, 7},
      {"double", kAdDouble, 8, 15},
      {"datetime", kAdDbTimeStamp, 16, 23},
      {"smalldatetime", kAdDbTimeStamp, 16, 16},
      {"date", kAdDbTimeStamp, 16, 10},
      {"uniqueidentifier", kAdGuid, 16, 255},
      {"timestamp", kAdBigInt, 8, 19},
  };
  for (const Fixed& f : kFixed) {
    if (base == f.name) {
      info.type = f.type;
      info.defined_size = f.size;
      info.precision = f.precision;
      return info;
    }
  }
  if (base == "decimal" || base == "numeric") {
    info.type = kAdNumeric;
    info.defined_size = 19;
    info.precision = arg1 > 0 ? arg1 : 18;
    info.scale = arg2;
    return info;
  }
  struct Text {
    const char* name;
    int type;
  };
  static constexpr Text kText[] = {
      {"varchar", kAdVarChar},     {"nvarchar", kAdVarWChar},   {"char", kAdChar},
      {"nchar", kAdWChar},         {"text", kAdLongVarChar},    {"ntext", kAdLongVarWChar},
      {"image", kAdLongVarBinary}, {"varbinary", kAdVarBinary}, {"blob", kAdLongVarBinary}};
  for (const Text& t : kText) {
    if (base == t.name) {
      info.type = t.type;
      info.defined_size = arg1 > 0 ? arg1 : 2147483647;
      if (arg1 < 0 && t.type == kAdVarChar) info.type = kAdLongVarChar;
      if (arg1 < 0 && t.type == kAdVarWChar) info.type = kAdLongVarWChar;
      return info;
    }
  }
  info.type = kAdVarChar;
  info.defined_size = 255;
  return info;
}

RecordShape::RecordShape(std::vector<FieldInfo> fields) : fields_(std::move(fields)) {
  for (size_t i = 0; i < fields_.size(); ++i) {
    index_.emplace(Lower(fields_[i].name), static_cast<int>(i));
  }
}

int RecordShape::FieldIndex(std::string_view name) const {
  // Names come mostly as the query wrote them: a lower-case copy only when needed.
  bool lower = std::none_of(name.begin(), name.end(), [](char c) { return c >= 'A' && c <= 'Z'; });
  auto it = lower ? index_.find(std::string(name)) : index_.find(Lower(name));
  return it == index_.end() ? -1 : it->second;
}

const std::string& RecordShape::SchemaXml() const {
  std::call_once(xml_once_, [this] { MakeXml(); });
  return schema_xml_;
}

const std::vector<std::string>& RecordShape::XmlNames() const {
  std::call_once(xml_once_, [this] { MakeXml(); });
  return xml_names_;
}

Recordset::Recordset(std::vector<FieldInfo> fields, std::vector<std::vector<Variant>> rows)
    : shape_(std::make_shared<const RecordShape>(std::move(fields))),
      rows_(std::move(rows)),
      open_(true) {}

Recordset::Recordset(std::shared_ptr<const RecordShape> shape,
                     std::vector<std::vector<Variant>> rows)
    : shape_(std::move(shape)), rows_(std::move(rows)), open_(true) {}

const std::vector<FieldInfo>& Recordset::Fields() const {
  static const std::vector<FieldInfo> kNone;
  return shape_ ? shape_->Fields() : kNone;
}

void Recordset::Close() {
  open_ = false;
  rows_.clear();
  pos_ = 0;
}

void Recordset::MoveFirst() {
  pos_ = 0;
  before_first_ = false;
}

void Recordset::MoveNext() {
  if (pos_ < rows_.size()) ++pos_;
  before_first_ = false;
}

void Recordset::Move(size_t row) {
  pos_ = std::min(row, rows_.size());
  before_first_ = false;
}

const Variant& Recordset::Value(int index) const {
  if (index < 0 || static_cast<size_t>(index) >= Fields().size()) {
    throw ComError(kErrItemNotFound,
                   "Item cannot be found in the collection corresponding to the requested name or "
                   "ordinal.",
                   "Rembiz.Data");
  }
  if (Eof()) {
    throw ComError(kErrNoCurrentRecord,
                   "Either BOF or EOF is True, or the current record has been deleted.",
                   "Rembiz.Data");
  }
  return rows_[pos_][static_cast<size_t>(index)];
}

const Variant& Recordset::Value(std::string_view name) const {
  int index = FieldIndex(name);
  if (index < 0) {
    throw ComError(kErrItemNotFound,
                   "Item cannot be found in the collection corresponding to the requested name or "
                   "ordinal (" +
                       std::string(name) + ").",
                   "Rembiz.Data");
  }
  return Value(index);
}

}  // namespace rembiz::db
