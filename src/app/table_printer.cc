#include "app/table_printer.h"

#include <algorithm>
#include <string>
#include <vector>

namespace rembiz::app {
namespace {

// Display width: a UTF-8 character outside ASCII counts as two columns (CJK text).
size_t DisplayWidth(const std::string& text) {
  size_t width = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
      ++width;
    } else if ((c & 0xC0) != 0x80) {
      width += 2;
    }
  }
  return width;
}

void Cell(std::ostream& out, const std::string& text, size_t width) {
  out << text << std::string(width - std::min(width, DisplayWidth(text)), ' ');
}

}  // namespace

void PrintTable(const db::Recordset& recordset, std::ostream& out) {
  const auto& fields = recordset.Fields();
  std::vector<size_t> widths;
  for (const auto& field : fields) widths.push_back(DisplayWidth(field.name));
  std::vector<std::vector<std::string>> cells;
  for (const auto& row : recordset.Rows()) {
    std::vector<std::string> line;
    for (size_t i = 0; i < row.size(); ++i) {
      line.push_back(row[i].IsNull() ? "NULL" : row[i].ToText());
      widths[i] = std::max(widths[i], DisplayWidth(line.back()));
    }
    cells.push_back(std::move(line));
  }
  for (size_t i = 0; i < fields.size(); ++i) {
    if (i) out << " | ";
    Cell(out, fields[i].name, widths[i]);
  }
  out << "\n";
  for (size_t i = 0; i < fields.size(); ++i) {
    if (i) out << "-+-";
    out << std::string(widths[i], '-');
  }
  out << "\n";
  for (const auto& line : cells) {
    for (size_t i = 0; i < line.size(); ++i) {
      if (i) out << " | ";
      Cell(out, line[i], widths[i]);
    }
    out << "\n";
  }
  out << "(" << cells.size() << (cells.size() == 1 ? " row)" : " rows)") << "\n";
}

}  // namespace rembiz::app
