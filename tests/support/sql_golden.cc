#include "support/sql_golden.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "db/error.h"
#include "db/recordset.h"

namespace rembiz::testing {
namespace {

struct Record {
  int line = 0;  // of the header
  std::string header;
  std::vector<std::string> sql;
  std::vector<std::string> expected;
};

std::vector<std::string> Words(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::string> words;
  for (std::string w; in >> w;) words.push_back(w);
  return words;
}

std::string Joined(const std::vector<std::string>& lines) {
  std::string out;
  for (const std::string& line : lines) out += (out.empty() ? "" : "\n") + line;
  return out;
}

std::string Cell(const std::string& text) { return text.empty() ? "(empty)" : text; }

std::vector<std::string> Cells(const std::string& line) {
  std::vector<std::string> cells;
  size_t b = 0;
  for (size_t bar; (bar = line.find('|', b)) != std::string::npos; b = bar + 1) {
    cells.push_back(line.substr(b, bar - b));
  }
  cells.push_back(line.substr(b));
  return cells;
}

// Whether `text` has the shape of `pattern`: '9' a digit, 'X' an upper-case hex digit.
bool Shaped(const std::string& text, std::string_view pattern) {
  if (text.size() != pattern.size()) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    const bool digit = c >= '0' && c <= '9';
    if (pattern[i] == '9'   ? !digit
        : pattern[i] == 'X' ? !(digit || (c >= 'A' && c <= 'F'))
                            : c != pattern[i]) {
      return false;
    }
  }
  return true;
}

// An expected cell matches itself, or a value of changing content by its shape: <guid> a GUID
// as NEWID() gives it, <datetime> a date with its time as GETDATE() gives it.
bool CellMatches(const std::string& expected, const std::string& got) {
  if (expected == "<guid>") return Shaped(got, "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}");
  if (expected == "<datetime>") {
    return Shaped(got, "9999-99-99 99:99:99") || Shaped(got, "9999-99-99 99:99:99.999");
  }
  return expected == got;
}

bool LinesMatch(const std::vector<std::string>& expected, const std::vector<std::string>& got) {
  if (expected.size() != got.size()) return false;
  for (size_t i = 0; i < expected.size(); ++i) {
    const std::vector<std::string> want = Cells(expected[i]), have = Cells(got[i]);
    if (want.size() != have.size()) return false;
    for (size_t k = 0; k < want.size(); ++k) {
      if (!CellMatches(want[k], have[k])) return false;
    }
  }
  return true;
}

std::vector<std::string> RowLines(const db::Recordset& rs, bool names, bool sort) {
  std::vector<std::string> lines;
  for (const auto& row : rs.Rows()) {
    std::string line;
    for (size_t i = 0; i < row.size(); ++i) {
      line += (i > 0 ? "|" : "") + (row[i].IsNull() ? std::string("NULL") : Cell(row[i].ToText()));
    }
    lines.push_back(std::move(line));
  }
  if (sort) std::sort(lines.begin(), lines.end());
  if (names) {
    std::string line;
    for (int i = 0; i < rs.FieldCount(); ++i) line += (i > 0 ? "|" : "") + Cell(rs.Field(i).name);
    lines.insert(lines.begin(), line);
  }
  return lines;
}

void Check(const std::string& where, const Record& r, const SqlGoldenTarget& target) {
  const std::vector<std::string> words = Words(r.header);
  const std::string batch = Joined(r.sql);
  const std::string& kind = words[0];
  auto fail = [&](const std::string& what) {
    ADD_FAILURE() << where << ": " << what << "\n  batch: " << batch;
  };
  if (kind == "translation") {
    if (words.size() < 2 || words[1] != target.backend) return;
    std::vector<std::string> got = target.translate(batch);
    if (got != r.expected) fail("translated to\n" + Joined(got));
    return;
  }
  db::Recordset rs;
  int64_t affected = -1;
  try {
    rs = target.cn->Execute(batch, &affected);
  } catch (const db::DbError& e) {
    if (kind == "statement" && words.size() > 1 && words[1] == "error") {
      std::string text = r.header.substr(r.header.find("error") + 5);
      text.erase(0, text.find_first_not_of(' '));
      if (e.Description().find(text) == std::string::npos) {
        fail("refused with another message: " + e.Description());
      }
      return;
    }
    fail("refused: " + e.Description());
    return;
  }
  if (kind == "statement") {
    if (words.size() > 1 && words[1] == "error") {
      fail("ran, but the server refuses it");
    } else if (words.size() > 2 && words[1] == "count" && std::to_string(affected) != words[2]) {
      fail("reported " + std::to_string(affected) + " records affected");
    }
    return;
  }
  const bool sort = std::find(words.begin(), words.end(), "rowsort") != words.end();
  const bool names = std::find(words.begin(), words.end(), "names") != words.end();
  if (!rs.IsOpen()) {
    fail("returned no rows at all (no query)");
    return;
  }
  std::vector<std::string> got = RowLines(rs, names, sort);
  if (!LinesMatch(r.expected, got)) fail("answered\n" + Joined(got));
}

}  // namespace

void RunSqlGoldenFile(const std::filesystem::path& file, const SqlGoldenTarget& target) {
  std::ifstream in(file);
  ASSERT_TRUE(in) << "cannot read " << file;
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  int records = 0;
  size_t i = 0;
  while (i < lines.size()) {
    if (lines[i].empty() || lines[i][0] == '#') {
      ++i;
      continue;
    }
    bool skip = false;
    while (i < lines.size() &&
           (lines[i].starts_with("onlyif ") || lines[i].starts_with("skipif "))) {
      const std::vector<std::string> words = Words(lines[i]);
      const bool named = words.size() > 1 && words[1] == target.backend;
      if (words[0] == "onlyif" ? !named : named) skip = true;
      ++i;
    }
    Record r;
    r.line = static_cast<int>(i) + 1;
    r.header = i < lines.size() ? lines[i++] : "";
    while (i < lines.size() && !lines[i].empty() && lines[i] != "----") r.sql.push_back(lines[i++]);
    if (i < lines.size() && lines[i] == "----") {
      ++i;
      while (i < lines.size() && !lines[i].empty()) r.expected.push_back(lines[i++]);
    }
    const std::string where = file.filename().string() + ":" + std::to_string(r.line);
    const std::vector<std::string> words = Words(r.header);
    const bool known = !words.empty() && (words[0] == "statement" || words[0] == "query" ||
                                          words[0] == "translation");
    if (!known || r.sql.empty()) {
      ADD_FAILURE() << where << ": not a record: " << r.header;
      continue;
    }
    ++records;
    if (!skip) Check(where, r, target);
  }
  EXPECT_GT(records, 0) << file;
}

}  // namespace rembiz::testing
