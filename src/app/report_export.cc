#include "app/report_export.h"

#include <xlsxwriter.h>

#include <cmath>
#include <cstdio>
#include <memory>

#include "db/error.h"
#include "host/messages.h"

namespace rembiz::app {

// Numbers stay numbers, a minus sign included, so that a spreadsheet can still add them up: a
// finite number cannot hold a formula. Only text is guarded.
std::string CsvField(const db::Variant& value) {
  if (value.IsNull()) return "";
  std::string text = value.ToText();
  bool number = value.IsNumber() && std::isfinite(value.ToDouble());
  if (!number && !text.empty() &&
      std::string_view("=+-@\t\r").find(text[0]) != std::string_view::npos) {
    text.insert(0, 1, '\'');
  }
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string out = "\"";
  for (char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

namespace {

std::string JsonString(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char buffer[8];
          std::snprintf(buffer, sizeof buffer, "\\u%04x", static_cast<unsigned>(c));
          out += buffer;
        } else {
          out += c;
        }
    }
  }
  return out + "\"";
}

std::string JsonValue(const db::Variant& value) {
  if (value.IsNull()) return "null";
  if (value.IsNumber() && std::isfinite(value.ToDouble())) return value.ToText();
  return JsonString(value.ToText());
}

// Sheet names: at most 31 characters, none of []:*?/\ (Excel's rule).
std::string SheetName(std::string_view sheet) {
  std::string out;
  for (char c : sheet) {
    if (std::string_view("[]:*?/\\").find(c) == std::string_view::npos) out += c;
  }
  if (out.empty()) out = "Report";
  // Cut at a character boundary of UTF-8.
  size_t chars = 0, i = 0;
  for (; i < out.size(); ++i) {
    if ((static_cast<unsigned char>(out[i]) & 0xC0) != 0x80 && ++chars > 31) break;
  }
  return out.substr(0, i);
}

void Check(lxw_error error, const std::string& path) {
  if (error != LXW_NO_ERROR) {
    throw ComError(static_cast<int32_t>(0x80004005),
                   "Cannot write " + path + ": " + lxw_strerror(error), "Rembiz.Report");
  }
}

}  // namespace

void WriteCsv(const db::Recordset& rows, std::ostream& out, const RowProgress& progress) {
  const auto& fields = rows.Fields();
  for (size_t i = 0; i < fields.size(); ++i) {
    out << (i ? "," : "") << CsvField(db::Variant(host::ColumnLabel(fields[i].name)));
  }
  out << "\r\n";
  int64_t done = 0;
  for (const auto& row : rows.Rows()) {
    for (size_t i = 0; i < row.size(); ++i) out << (i ? "," : "") << CsvField(row[i]);
    out << "\r\n";
    if (progress) progress(++done, rows.RecordCount());
  }
}

std::string ToJson(const db::Recordset& rows, std::string_view report) {
  std::string out = "{\"report\":" + JsonString(report) + ",\"columns\":[";
  const auto& fields = rows.Fields();
  for (size_t i = 0; i < fields.size(); ++i) out += (i ? "," : "") + JsonString(fields[i].name);
  out += "],\"rows\":[";
  bool first_row = true;
  for (const auto& row : rows.Rows()) {
    out += first_row ? "[" : ",[";
    first_row = false;
    for (size_t i = 0; i < row.size(); ++i) out += (i ? "," : "") + JsonValue(row[i]);
    out += "]";
  }
  return out + "]}";
}

void WriteXlsx(const db::Recordset& rows, const std::string& path, std::string_view sheet,
               const RowProgress& progress) {
  lxw_workbook* workbook = workbook_new(path.c_str());
  if (!workbook) Check(LXW_ERROR_CREATING_XLSX_FILE, path);
  std::string name = SheetName(sheet);
  lxw_worksheet* worksheet = workbook_add_worksheet(workbook, name.c_str());
  lxw_format* header = workbook_add_format(workbook);
  format_set_bold(header);
  const auto& fields = rows.Fields();
  lxw_error error = LXW_NO_ERROR;
  for (size_t i = 0; i < fields.size() && error == LXW_NO_ERROR; ++i) {
    error = worksheet_write_string(worksheet, 0, static_cast<lxw_col_t>(i),
                                   host::ColumnLabel(fields[i].name).c_str(), header);
  }
  lxw_row_t r = 1;
  int64_t done = 0;
  for (const auto& row : rows.Rows()) {
    for (size_t i = 0; i < row.size() && error == LXW_NO_ERROR; ++i) {
      const db::Variant& value = row[i];
      lxw_col_t c = static_cast<lxw_col_t>(i);
      if (value.IsNull()) continue;
      if (value.IsNumber() && std::isfinite(value.ToDouble())) {
        error = worksheet_write_number(worksheet, r, c, value.ToDouble(), nullptr);
      } else {
        std::string text = value.ToText();
        if (!text.empty()) error = worksheet_write_string(worksheet, r, c, text.c_str(), nullptr);
      }
    }
    ++r;
    if (progress) progress(++done, rows.RecordCount());
  }
  lxw_error closed = workbook_close(workbook);
  Check(error, path);
  Check(closed, path);
}

}  // namespace rembiz::app
