#include "app/admin_command.h"

#include <algorithm>
#include <fstream>
#include <iostream>
#include <iterator>

#include "app/report_export.h"
#include "app/table_printer.h"
#include "frame/registry.h"
#include "host/database_setup.h"
#include "host/local_session.h"
#include "xml/document.h"
#include "xml/escape.h"

namespace rembiz::app {
namespace {

constexpr int kExitRefused = 1;
constexpr int kExitUsage = 2;

std::string Attr(const std::string& name, const std::string& value) {
  return " " + name + "='" + xml::XmlEscape(value) + "'";
}

// "name=value" as an attribute; false when it is not one.
bool PairAttr(const std::string& pair, std::string* out) {
  size_t eq = pair.find('=');
  if (eq == std::string::npos || eq == 0) return false;
  std::string name = pair.substr(0, eq);
  for (char c : name) {
    bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    if (!ok) return false;
  }
  *out += Attr(name, pair.substr(eq + 1));
  return true;
}

bool EndsWith(const std::string& text, const std::string& suffix) {
  return text.size() >= suffix.size() &&
         text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

std::string ReadFile(const std::string& path, bool* ok) {
  std::ifstream in(path, std::ios::binary);
  *ok = static_cast<bool>(in);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The rows of a list answer as a recordset of texts, in the kind's column order.
db::Recordset RowsOf(const xml::Document& answer, const std::vector<std::string>& columns) {
  std::vector<db::FieldInfo> fields;
  for (const std::string& column : columns) fields.push_back(db::FieldInfo{column});
  std::vector<std::vector<db::Variant>> rows;
  for (const xml::Node& row : answer.SelectNodes("//out/rows/row")) {
    std::vector<db::Variant> values;
    for (const std::string& column : columns) {
      if (row.HasAttr(column)) {
        values.emplace_back(row.Attr(column));
      } else {
        values.emplace_back();
      }
    }
    rows.push_back(std::move(values));
  }
  return db::Recordset(std::move(fields), std::move(rows));
}

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (true) {
    size_t at = text.find(separator, start);
    parts.push_back(text.substr(start, at == std::string::npos ? std::string::npos : at - start));
    if (at == std::string::npos) return parts;
    start = at + 1;
  }
}

// A cell that an export kept from becoming a formula ("'=…") reads as it was.
std::string Unprotected(const std::string& cell) {
  if (cell.size() >= 2 && cell[0] == '\'' &&
      std::string_view("=+-@\t\r").find(cell[1]) != std::string_view::npos) {
    return cell.substr(1);
  }
  return cell;
}

}  // namespace

std::vector<std::vector<std::string>> ReadCsv(const std::string& text) {
  std::vector<std::vector<std::string>> records;
  std::vector<std::string> record;
  std::string field;
  bool quoted = false, in_field = false;
  size_t i = text.rfind("\xEF\xBB\xBF", 0) == 0 ? 3 : 0;
  for (; i < text.size(); ++i) {
    char c = text[i];
    if (quoted) {
      if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
        field += '"';
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        field += c;
      }
      continue;
    }
    if (c == '"' && field.empty()) {
      quoted = in_field = true;
    } else if (c == ',') {
      record.push_back(field);
      field.clear();
      in_field = true;
    } else if (c == '\r' || c == '\n') {
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      if (in_field || !field.empty() || !record.empty()) {
        record.push_back(field);
        records.push_back(record);
      }
      record.clear();
      field.clear();
      in_field = false;
    } else {
      field += c;
      in_field = true;
    }
  }
  if (in_field || !field.empty() || !record.empty()) {
    record.push_back(field);
    records.push_back(record);
  }
  return records;
}

int RunAdminCommand(const AdminCommand& command) {
  static const std::vector<std::string> kActions = {"list", "add", "change", "delete", "import"};
  if (std::find(kActions.begin(), kActions.end(), command.action) == kActions.end()) {
    std::cerr << "rembiz admin: the action is list, add, change, delete or import, not '"
              << command.action << "'\n";
    return kExitUsage;
  }
  std::string in = "<in" + Attr("kind", command.kind);
  std::string body;
  std::string func = command.action == "list"     ? "list"
                     : command.action == "import" ? "import"
                                                  : "save";
  if (command.action == "import") {
    if (command.args.size() != 1) {
      std::cerr << "rembiz admin import: name one file, .csv or .xlsx\n";
      return kExitUsage;
    }
    const std::string& path = command.args[0];
    bool ok = false;
    std::string content = ReadFile(path, &ok);
    if (!ok) {
      std::cerr << "rembiz admin import: cannot read '" << path << "'\n";
      return kExitUsage;
    }
    std::vector<std::vector<std::string>> records;
    if (EndsWith(path, ".xlsx")) {
      std::string error;
      if (!ReadXlsx(content, &records, &error)) {
        std::cerr << "rembiz admin import: '" << path << "' is no workbook it can read: " << error
                  << "\n";
        return kExitUsage;
      }
    } else {
      records = ReadCsv(content);
    }
    if (records.empty()) {
      std::cerr << "rembiz admin import: '" << path << "' has no header line\n";
      return kExitUsage;
    }
    const std::vector<std::string>& header = records[0];
    for (size_t r = 1; r < records.size(); ++r) {
      std::string row = "<row" + Attr("line", std::to_string(r + 1));
      bool blank = true;
      for (size_t c = 0; c < header.size() && c < records[r].size(); ++c) {
        std::string name = header[c];
        std::string value = Unprotected(records[r][c]);
        blank &= value.empty();
        std::string pair;
        if (name.empty() || !PairAttr(name + "=" + value, &pair)) continue;
        row += pair;
      }
      if (blank) continue;
      body += row + "/>";
    }
    if (command.dry_run) in += Attr("dry", "1");
  } else {
    std::string attrs;
    for (const std::string& arg : command.args) {
      if (!PairAttr(arg, &attrs)) {
        std::cerr << "rembiz admin: '" << arg << "' is not name=value\n";
        return kExitUsage;
      }
    }
    if (command.action == "list") {
      in += attrs;
    } else {
      std::string mark = command.action == "add" ? "1" : command.action == "change" ? "2" : "3";
      std::string steps;
      for (const std::string& step : command.steps) {
        std::string step_attrs;
        for (const std::string& pair : Split(step, ';')) {
          if (pair.empty()) continue;
          if (!PairAttr(pair, &step_attrs)) {
            std::cerr << "rembiz admin: '" << pair << "' of a step is not name=value\n";
            return kExitUsage;
          }
        }
        steps += "<step" + step_attrs + "/>";
      }
      body = "<row P='" + mark + "'" + attrs + ">" + steps + "</row>";
    }
  }
  xml::Document request;
  request.LoadXml("<req><func name='kinds'/><func name='" + func + "'>" + in + ">" + body +
                  "</in></func></req>");

  host::SessionRequest session_request;
  session_request.account = command.account;
  session_request.year = command.year;
  session_request.user = command.user;
  session_request.language = command.language;
  auto session = host::LocalSession::Open(host::DataDir(command.location), session_request);
  auto object = frame::CreateObject("Rembiz.CAdmin");
  object->myHandle(session.get(), request);

  if (request.DocumentElement().Name() == "error") {
    std::cerr << "rembiz admin: " << request.SelectSingleNode("//text").Text() << "\n";
    return kExitRefused;
  }
  if (func == "import") {
    xml::Node result = request.SelectSingleNode("//out/import");
    for (const xml::Node& refused : result.Children("refused")) {
      std::cerr << "line " << refused.Attr("line") << ": " << refused.Attr("reason") << "\n";
    }
    std::cout << result.Attr("lines") << " lines, " << result.Attr("refused") << " refused, "
              << result.Attr("added") << " added" << (command.dry_run ? " (dry run)" : "") << "\n";
    return result.Attr("refused") == "0" ? 0 : kExitRefused;
  }
  if (func == "save") {
    xml::Node saved = request.SelectSingleNode("//out/saved");
    std::cout << command.action << " " << command.kind << ": " << saved.Attr("rows") << " record\n";
    return 0;
  }
  if (command.format == "xml") {
    std::cout << request.SelectSingleNode("//out/rows").Xml() << "\n";
    return 0;
  }
  std::vector<std::string> columns =
      Split(request.SelectSingleNode("//kind[@name='" + command.kind + "']").Attr("columns"), ',');
  if (command.format != "csv" && command.format != "xlsx") columns.emplace_back("ts");
  db::Recordset rows = RowsOf(request, columns);
  if (command.format == "xlsx") {
    if (command.out.empty()) {
      std::cerr << "rembiz admin list: --format xlsx needs --out FILE\n";
      return kExitUsage;
    }
    WriteXlsx(rows, command.out, command.kind);
    return 0;
  }
  std::ofstream file;
  if (!command.out.empty()) {
    file.open(command.out, std::ios::binary);
    if (!file) {
      std::cerr << "rembiz admin: cannot write '" << command.out << "'\n";
      return kExitRefused;
    }
  }
  std::ostream& out = command.out.empty() ? std::cout : file;
  if (command.format == "csv") {
    WriteCsv(rows, out);
  } else {
    PrintTable(rows, out);
  }
  return 0;
}

}  // namespace rembiz::app
