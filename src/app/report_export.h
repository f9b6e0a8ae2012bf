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

namespace rembiz::app {

// One CSV cell, quoted where it needs to be. Text that a spreadsheet would take for a formula
// (starting with = + - @, a tab or a carriage return) gets a leading apostrophe, so that it opens
// as the text it is; numbers are written as they are.
std::string CsvField(const db::Variant& value);

// Called after each written row: rows written, rows in all.
using RowProgress = std::function<void(int64_t done, int64_t total)>;

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
