// A client-side recordset: every row is read when the statement runs, then walked with a cursor
// as the classes do (EOF/BOF, MoveFirst/MoveNext), fields by index or by name (case-insensitive).
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "db/variant.h"

namespace pugi {
class xml_document;
}

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

// The fields of a result with what every reader of them needs: the lookup by name and, made
// on first use, the schema part of the persisted XML. Immutable once made, so that a driver
// keeps one per prepared statement and every recordset of that statement shares it.
class RecordShape {
 public:
  explicit RecordShape(std::vector<FieldInfo> fields);
  ~RecordShape();
  RecordShape(const RecordShape&) = delete;
  RecordShape& operator=(const RecordShape&) = delete;

  const std::vector<FieldInfo>& Fields() const { return fields_; }
  // Index of a field by name, case-insensitive; -1 when there is none.
  int FieldIndex(std::string_view name) const;
  // The persisted XML from the root element's start tag up to and including "<rs:data>", and
  // the fields' names as XML names (db/persist.h writes both).
  const std::string& SchemaXml() const;
  const std::vector<std::string>& XmlNames() const;
  // The persisted XML of no rows as a tree, to copy answers from; null when its names clash
  // (two columns of one name), which only the text form can show.
  const pugi::xml_document* SchemaDocument() const;

 private:
  void MakeXml() const;

  std::vector<FieldInfo> fields_;
  std::unordered_map<std::string, int> index_;  // lower-case name -> first field index
  mutable std::once_flag xml_once_;
  mutable std::string schema_xml_;
  mutable std::vector<std::string> xml_names_;
  mutable std::unique_ptr<pugi::xml_document> schema_document_;
};

class Recordset {
 public:
  Recordset() = default;  // closed
  Recordset(std::vector<FieldInfo> fields, std::vector<std::vector<Variant>> rows);
  Recordset(std::shared_ptr<const RecordShape> shape, std::vector<std::vector<Variant>> rows);

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

  int FieldCount() const { return static_cast<int>(Fields().size()); }
  const FieldInfo& Field(int index) const { return Fields().at(static_cast<size_t>(index)); }
  const std::vector<FieldInfo>& Fields() const;
  const RecordShape* Shape() const { return shape_.get(); }
  // Index of a field by name, case-insensitive; -1 when there is none.
  int FieldIndex(std::string_view name) const { return shape_ ? shape_->FieldIndex(name) : -1; }
  bool HasField(std::string_view name) const { return FieldIndex(name) >= 0; }

  // Values of the current row. A missing field or a cursor at EOF/BOF is an error, as in ADO.
  const Variant& Value(int index) const;
  const Variant& Value(std::string_view name) const;
  // The value's text, "" for null.
  std::string Text(std::string_view name) const { return Value(name).ToText(); }

  const std::vector<std::vector<Variant>>& Rows() const { return rows_; }

 private:
  std::shared_ptr<const RecordShape> shape_;
  std::vector<std::vector<Variant>> rows_;
  size_t pos_ = 0;
  bool before_first_ = false;
  bool open_ = false;
};

// Receives an answer a row at a time instead of a Recordset holding it: the fields once, before
// the first row, then every row in order. A sink that throws stops the query.
class RowSink {
 public:
  virtual ~RowSink() = default;
  virtual void Fields(const std::vector<FieldInfo>& fields) = 0;
  virtual void Row(const std::vector<Variant>& row) = 0;
};

}  // namespace rembiz::db
