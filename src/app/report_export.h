// Writers of a report's rows for people and programs: CSV (RFC 4180, comma, CRLF, UTF-8 without
// a byte-order mark), JSON and .xlsx (through libxlsxwriter). A header row names the columns
// (by their labels in the current language for CSV and .xlsx, by their names for JSON);
// numbers stay numbers in JSON and .xlsx, null cells stay empty. No cell opens as a formula: CSV
// marks such text (CsvField), and .xlsx writes text only as strings, never as formulas.
#pragma once

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "db/recordset.h"

struct lxw_workbook;
struct lxw_worksheet;

namespace rembiz::app {

// One CSV cell, quoted where it needs to be. Text that a spreadsheet would take for a formula
// (starting with = + - @, a tab or a carriage return) gets a leading apostrophe, so that it opens
// as the text it is; numbers are written as they are.
std::string CsvField(const db::Variant& value);

// Called after each written row: rows written, rows in all.
using RowProgress = std::function<void(int64_t done, int64_t total)>;

// Writers that take the rows as they are read (db::RowSink), so that a report of any length
// costs the memory of a row; the functions below write a whole Recordset through them.
class CsvWriter : public db::RowSink {
 public:
  explicit CsvWriter(std::ostream& out) : out_(out) {}
  void Fields(const std::vector<db::FieldInfo>& fields) override;
  void Row(const std::vector<db::Variant>& row) override;
  int64_t RowsWritten() const { return rows_; }

 private:
  std::ostream& out_;
  int64_t rows_ = 0;
};

// {"report":…,"columns":[…],"rows":[[…],…]}, handed to `write` a piece at a time; Finish
// writes the end.
class JsonWriter : public db::RowSink {
 public:
  JsonWriter(std::function<void(std::string_view)> write, std::string_view report);
  void Fields(const std::vector<db::FieldInfo>& fields) override;
  void Row(const std::vector<db::Variant>& row) override;
  void Finish();

 private:
  std::function<void(std::string_view)> write_;
  std::string report_;
  std::string piece_;
  bool first_row_ = true;
};

// A workbook in libxlsxwriter's constant-memory mode: every row goes to a temporary file as it
// comes, rows in order. Close writes the workbook (throws ComError when it cannot be written).
class XlsxWriter : public db::RowSink {
 public:
  XlsxWriter(const std::string& path, std::string_view sheet);
  ~XlsxWriter() override;
  XlsxWriter(const XlsxWriter&) = delete;
  XlsxWriter& operator=(const XlsxWriter&) = delete;
  void Fields(const std::vector<db::FieldInfo>& fields) override;
  void Row(const std::vector<db::Variant>& row) override;
  void Close();
  int64_t RowsWritten() const { return rows_; }

 private:
  std::string path_;
  ::lxw_workbook* workbook_ = nullptr;
  ::lxw_worksheet* worksheet_ = nullptr;
  int error_ = 0;
  int64_t rows_ = 0;
};

void WriteCsv(const db::Recordset& rows, std::ostream& out, const RowProgress& progress = nullptr);
// {"report":…,"columns":[…],"rows":[[…],…]}
std::string ToJson(const db::Recordset& rows, std::string_view report);
// One worksheet named `sheet`; throws ComError when the file cannot be written.
void WriteXlsx(const db::Recordset& rows, const std::string& path, std::string_view sheet,
               const RowProgress& progress = nullptr);

// The cells of the first sheet of a workbook (the bytes of an .xlsx file), row by row; empty
// cells stay empty texts, numbers come as written in the sheet. False (with `error`) when the
// bytes are no workbook.
bool ReadXlsx(const std::string& bytes, std::vector<std::vector<std::string>>* rows,
              std::string* error);

}  // namespace rembiz::app
