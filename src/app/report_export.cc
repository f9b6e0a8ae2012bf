#include "app/report_export.h"

#include <xlsxwriter.h>
#include <zip.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <pugixml.hpp>

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

void CsvWriter::Fields(const std::vector<db::FieldInfo>& fields) {
  for (size_t i = 0; i < fields.size(); ++i) {
    out_ << (i ? "," : "") << CsvField(db::Variant(host::ColumnLabel(fields[i].name)));
  }
  out_ << "\r\n";
}

void CsvWriter::Row(const std::vector<db::Variant>& row) {
  for (size_t i = 0; i < row.size(); ++i) out_ << (i ? "," : "") << CsvField(row[i]);
  out_ << "\r\n";
  ++rows_;
}

void WriteCsv(const db::Recordset& rows, std::ostream& out, const RowProgress& progress) {
  CsvWriter writer(out);
  writer.Fields(rows.Fields());
  for (const auto& row : rows.Rows()) {
    writer.Row(row);
    if (progress) progress(writer.RowsWritten(), rows.RecordCount());
  }
}

JsonWriter::JsonWriter(std::function<void(std::string_view)> write, std::string_view report)
    : write_(std::move(write)), report_(report) {}

void JsonWriter::Fields(const std::vector<db::FieldInfo>& fields) {
  piece_ = "{\"report\":" + JsonString(report_) + ",\"columns\":[";
  for (size_t i = 0; i < fields.size(); ++i) piece_ += (i ? "," : "") + JsonString(fields[i].name);
  piece_ += "],\"rows\":[";
  write_(piece_);
}

void JsonWriter::Row(const std::vector<db::Variant>& row) {
  piece_ = first_row_ ? "[" : ",[";
  first_row_ = false;
  for (size_t i = 0; i < row.size(); ++i) piece_ += (i ? "," : "") + JsonValue(row[i]);
  piece_ += "]";
  write_(piece_);
}

void JsonWriter::Finish() { write_("]}"); }

std::string ToJson(const db::Recordset& rows, std::string_view report) {
  std::string out;
  JsonWriter writer([&](std::string_view piece) { out += piece; }, report);
  writer.Fields(rows.Fields());
  for (const auto& row : rows.Rows()) writer.Row(row);
  writer.Finish();
  return out;
}

XlsxWriter::XlsxWriter(const std::string& path, std::string_view sheet) : path_(path) {
  lxw_workbook_options options = {};
  options.constant_memory = LXW_TRUE;
  workbook_ = workbook_new_opt(path.c_str(), &options);
  if (!workbook_) Check(LXW_ERROR_CREATING_XLSX_FILE, path);
  std::string name = SheetName(sheet);
  worksheet_ = workbook_add_worksheet(workbook_, name.c_str());
}

XlsxWriter::~XlsxWriter() {
  if (workbook_) workbook_close(workbook_);
}

void XlsxWriter::Fields(const std::vector<db::FieldInfo>& fields) {
  lxw_format* header = workbook_add_format(workbook_);
  format_set_bold(header);
  lxw_error error = LXW_NO_ERROR;
  for (size_t i = 0; i < fields.size() && error == LXW_NO_ERROR; ++i) {
    error = worksheet_write_string(worksheet_, 0, static_cast<lxw_col_t>(i),
                                   host::ColumnLabel(fields[i].name).c_str(), header);
  }
  if (error_ == LXW_NO_ERROR) error_ = error;
}

void XlsxWriter::Row(const std::vector<db::Variant>& row) {
  lxw_row_t r = static_cast<lxw_row_t>(rows_ + 1);
  lxw_error error = LXW_NO_ERROR;
  for (size_t i = 0; i < row.size() && error == LXW_NO_ERROR; ++i) {
    const db::Variant& value = row[i];
    lxw_col_t c = static_cast<lxw_col_t>(i);
    if (value.IsNull()) continue;
    if (value.IsNumber() && std::isfinite(value.ToDouble())) {
      error = worksheet_write_number(worksheet_, r, c, value.ToDouble(), nullptr);
    } else {
      std::string text = value.ToText();
      if (!text.empty()) error = worksheet_write_string(worksheet_, r, c, text.c_str(), nullptr);
    }
  }
  if (error_ == LXW_NO_ERROR) error_ = error;
  ++rows_;
}

void XlsxWriter::Close() {
  lxw_workbook* workbook = workbook_;
  workbook_ = nullptr;
  lxw_error closed = workbook ? workbook_close(workbook) : LXW_NO_ERROR;
  Check(static_cast<lxw_error>(error_), path_);
  Check(closed, path_);
}

void WriteXlsx(const db::Recordset& rows, const std::string& path, std::string_view sheet,
               const RowProgress& progress) {
  XlsxWriter writer(path, sheet);
  writer.Fields(rows.Fields());
  for (const auto& row : rows.Rows()) {
    writer.Row(row);
    if (progress) progress(writer.RowsWritten(), rows.RecordCount());
  }
  writer.Close();
}

namespace {

// One part of the archive as text; "" when it is not there.
std::string ZipPart(zip_t* archive, const char* name) {
  zip_stat_t stat;
  if (zip_stat(archive, name, 0, &stat) != 0 || !(stat.valid & ZIP_STAT_SIZE)) return "";
  // Sheets of master data are small; a part that claims more is no sheet to import.
  constexpr zip_uint64_t kLargestPart = 256u << 20;
  if (stat.size > kLargestPart) return "";
  std::unique_ptr<zip_file_t, int (*)(zip_file_t*)> file(zip_fopen(archive, name, 0), zip_fclose);
  if (!file) return "";
  std::string text(stat.size, '\0');
  zip_int64_t read = zip_fread(file.get(), text.data(), stat.size);
  if (read < 0) return "";
  text.resize(static_cast<size_t>(read));
  return text;
}

// "B12" -> column 1 (from 0); -1 for no column.
int ColumnOf(std::string_view reference) {
  int column = 0;
  size_t i = 0;
  for (; i < reference.size() && reference[i] >= 'A' && reference[i] <= 'Z'; ++i) {
    column = column * 26 + (reference[i] - 'A' + 1);
  }
  return i == 0 ? -1 : column - 1;
}

// The text of a string item: its plain text or the runs of rich text.
std::string ItemText(const pugi::xml_node& item) {
  if (pugi::xml_node t = item.child("t")) return t.text().get();
  std::string text;
  for (pugi::xml_node run : item.children("r")) text += run.child("t").text().get();
  return text;
}

}  // namespace

bool ReadXlsx(const std::string& bytes, std::vector<std::vector<std::string>>* rows,
              std::string* error) {
  zip_error_t zip_error;
  zip_error_init(&zip_error);
  zip_source_t* source = zip_source_buffer_create(bytes.data(), bytes.size(), 0, &zip_error);
  if (!source) {
    *error = zip_error_strerror(&zip_error);
    zip_error_fini(&zip_error);
    return false;
  }
  zip_t* opened = zip_open_from_source(source, ZIP_RDONLY, &zip_error);
  if (!opened) {
    *error = zip_error_strerror(&zip_error);
    zip_source_free(source);
    zip_error_fini(&zip_error);
    return false;
  }
  zip_error_fini(&zip_error);
  std::unique_ptr<zip_t, void (*)(zip_t*)> archive(opened, zip_discard);

  std::vector<std::string> shared;
  std::string strings_xml = ZipPart(archive.get(), "xl/sharedStrings.xml");
  pugi::xml_document strings;
  if (!strings_xml.empty() && strings.load_buffer(strings_xml.data(), strings_xml.size())) {
    for (pugi::xml_node item : strings.child("sst").children("si"))
      shared.push_back(ItemText(item));
  }
  std::string sheet_xml = ZipPart(archive.get(), "xl/worksheets/sheet1.xml");
  pugi::xml_document sheet;
  if (sheet_xml.empty() || !sheet.load_buffer(sheet_xml.data(), sheet_xml.size())) {
    *error = "no first sheet (xl/worksheets/sheet1.xml)";
    return false;
  }
  rows->clear();
  for (pugi::xml_node row : sheet.child("worksheet").child("sheetData").children("row")) {
    std::vector<std::string> cells;
    for (pugi::xml_node cell : row.children("c")) {
      int column = ColumnOf(cell.attribute("r").value());
      if (column < 0) column = static_cast<int>(cells.size());
      if (column > 16383) continue;
      std::string type = cell.attribute("t").value();
      std::string value;
      if (type == "s") {
        size_t index = cell.child("v").text().as_ullong(shared.size());
        value = index < shared.size() ? shared[index] : "";
      } else if (type == "inlineStr") {
        value = ItemText(cell.child("is"));
      } else {
        value = cell.child("v").text().get();
      }
      if (cells.size() <= static_cast<size_t>(column))
        cells.resize(static_cast<size_t>(column) + 1);
      cells[static_cast<size_t>(column)] = value;
    }
    rows->push_back(std::move(cells));
  }
  return true;
}

}  // namespace rembiz::app
