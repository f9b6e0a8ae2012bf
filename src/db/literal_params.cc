#include "db/literal_params.h"

#include <cctype>

#include "db/text.h"

namespace rembiz::db {
namespace {

bool IsWordChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '$' ||
         static_cast<unsigned char>(c) >= 0x80;
}

// Statements SQLite does not let take parameters, or that gain nothing from them.
bool TakesNoParameters(std::string_view first_word) {
  static constexpr std::string_view kWords[] = {
      "create", "drop", "alter",    "pragma",    "attach",  "detach",  "vacuum", "begin",
      "commit", "end",  "rollback", "savepoint", "release", "analyze", "reindex"};
  for (std::string_view word : kWords) {
    if (first_word == word) return true;
  }
  return false;
}

}  // namespace

ParameterizedStatement ParameterizeLiterals(std::string_view sql) {
  ParameterizedStatement out;
  size_t i = 0;
  // The first word decides whether the statement may take parameters at all.
  while (i < sql.size() && (std::isspace(static_cast<unsigned char>(sql[i])) || sql[i] == '(')) ++i;
  size_t w = i;
  while (w < sql.size() && IsWordChar(sql[w])) ++w;
  if (TakesNoParameters(Lower(sql.substr(i, w - i)))) {
    out.text = std::string(sql);
    return out;
  }

  out.text.reserve(sql.size());
  std::string last_word;       // the previous word, lower case
  char last_sign = 0;          // the previous non-blank character that was not part of a word
  bool in_order_list = false;  // inside ORDER BY / GROUP BY, where a number names a column
  int depth = 0, order_depth = 0;
  i = 0;
  while (i < sql.size()) {
    char c = sql[i];
    bool blob = c == '\'' && i > 0 && (sql[i - 1] == 'x' || sql[i - 1] == 'X') &&
                (i < 2 || !IsWordChar(sql[i - 2]));
    if (blob) {  // x'0A' stays a blob literal
      size_t j = sql.find('\'', i + 1);
      j = j == std::string_view::npos ? sql.size() : j + 1;
      out.text.append(sql.substr(i, j - i));
      i = j;
      continue;
    }
    if (c == '\'') {
      std::string value;
      size_t j = i + 1;
      for (; j < sql.size(); ++j) {
        if (sql[j] == '\'') {
          if (j + 1 < sql.size() && sql[j + 1] == '\'') {
            value += '\'';
            ++j;
            continue;
          }
          break;
        }
        value += sql[j];
      }
      if (j >= sql.size()) {  // unterminated: leave the text to SQLite's own error
        out.text.append(sql.substr(i));
        break;
      }
      out.text += '?';
      out.values.push_back({LiteralValue::Kind::kText, std::move(value)});
      i = j + 1;
      last_sign = '?';
      last_word.clear();
      continue;
    }
    if (c == '"' || c == '[' || c == '`') {
      char close = c == '[' ? ']' : c;
      size_t j = sql.find(close, i + 1);
      if (j == std::string_view::npos) j = sql.size() - 1;
      out.text.append(sql.substr(i, j - i + 1));
      i = j + 1;
      last_sign = 'n';
      last_word.clear();
      continue;
    }
    if (c == '-' && i + 1 < sql.size() && sql[i + 1] == '-') {
      size_t j = sql.find('\n', i);
      if (j == std::string_view::npos) j = sql.size();
      out.text.append(sql.substr(i, j - i));
      i = j;
      continue;
    }
    if (c == '/' && i + 1 < sql.size() && sql[i + 1] == '*') {
      size_t j = sql.find("*/", i + 2);
      j = j == std::string_view::npos ? sql.size() : j + 2;
      out.text.append(sql.substr(i, j - i));
      i = j;
      continue;
    }
    if (std::isdigit(static_cast<unsigned char>(c)) ||
        (c == '.' && i + 1 < sql.size() && std::isdigit(static_cast<unsigned char>(sql[i + 1])))) {
      if (i > 0 && IsWordChar(sql[i - 1])) {  // a digit inside a name (t1, qdtmp0a)
        out.text += c;
        ++i;
        continue;
      }
      size_t j = i;
      bool real = false;
      if (c == '0' && j + 1 < sql.size() && (sql[j + 1] == 'x' || sql[j + 1] == 'X')) {
        j += 2;
        while (j < sql.size() && std::isxdigit(static_cast<unsigned char>(sql[j]))) ++j;
        out.text.append(sql.substr(i, j - i));  // hex stays as written
        i = j;
        last_sign = '0';
        continue;
      }
      while (j < sql.size() && std::isdigit(static_cast<unsigned char>(sql[j]))) ++j;
      if (j < sql.size() && sql[j] == '.') {
        real = true;
        ++j;
        while (j < sql.size() && std::isdigit(static_cast<unsigned char>(sql[j]))) ++j;
      }
      if (j < sql.size() && (sql[j] == 'e' || sql[j] == 'E')) {
        size_t k = j + 1;
        if (k < sql.size() && (sql[k] == '+' || sql[k] == '-')) ++k;
        if (k < sql.size() && std::isdigit(static_cast<unsigned char>(sql[k]))) {
          real = true;
          j = k;
          while (j < sql.size() && std::isdigit(static_cast<unsigned char>(sql[j]))) ++j;
        }
      }
      std::string_view number = sql.substr(i, j - i);
      bool names_column = in_order_list && (last_word == "by" || last_sign == ',');
      // Integers too long for 64 bits keep SQLite's own reading of them.
      bool too_long = !real && number.size() > 18;
      if (names_column || too_long || (j < sql.size() && IsWordChar(sql[j]))) {
        out.text.append(number);
      } else {
        out.text += '?';
        out.values.push_back(
            {real ? LiteralValue::Kind::kReal : LiteralValue::Kind::kInteger, std::string(number)});
      }
      i = j;
      last_sign = '0';
      last_word.clear();
      continue;
    }
    if (IsWordChar(c)) {
      size_t j = i;
      while (j < sql.size() && IsWordChar(sql[j])) ++j;
      std::string word = Lower(sql.substr(i, j - i));
      if (word == "by" && (last_word == "order" || last_word == "group")) {
        in_order_list = true;
        order_depth = depth;
      } else if (in_order_list && (word == "limit" || word == "having" || word == "union" ||
                                   word == "except" || word == "intersect" || word == "window")) {
        in_order_list = false;
      }
      out.text.append(sql.substr(i, j - i));
      last_word = std::move(word);
      last_sign = 'w';
      i = j;
      continue;
    }
    if (c == '(') ++depth;
    if (c == ')') {
      --depth;
      if (in_order_list && depth < order_depth) in_order_list = false;
    }
    if (c == ';') in_order_list = false;
    if (!std::isspace(static_cast<unsigned char>(c))) {
      last_sign = c;
      if (c != ',') last_word.clear();
    }
    out.text += c;
    ++i;
  }
  return out;
}

}  // namespace rembiz::db
