#include "db/value_lifting.h"

#include <cctype>
#include <cstdio>

#include "db/text.h"

namespace rembiz::db {
namespace {

// A text value becomes '\x01<k>\x01'; a number becomes kNumberMark followed by four digits of k.
constexpr char kTextMark = '\x01';
constexpr std::string_view kNumberMark = "97531864209753186420";
constexpr size_t kMaxValues = 9999;

bool IsWordChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '@' || c == '#' ||
         c == '$' || static_cast<unsigned char>(c) >= 0x80;
}

std::string NumberPlaceholder(size_t k) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "%04zu", k);
  return std::string(kNumberMark) + buf;
}

}  // namespace

std::optional<LiftedBatch> LiftValues(std::string_view sql) {
  if (sql.find(kTextMark) != std::string_view::npos ||
      sql.find(kNumberMark) != std::string_view::npos) {
    return std::nullopt;
  }
  LiftedBatch out;
  out.text.reserve(sql.size());
  char last_sign = 0;     // previous non-blank character outside words and literals
  std::string last_word;  // previous word, lower case
  int depth = 0;
  int values_depth = -1;  // depth of the VALUES list's own parenthesis, -1 outside one
  bool after_values = false;
  size_t i = 0;
  while (i < sql.size()) {
    char c = sql[i];
    bool n_prefix = (c == 'N' || c == 'n') && i + 1 < sql.size() && sql[i + 1] == '\'' &&
                    (i == 0 || !IsWordChar(sql[i - 1]));
    if ((c == 'X' || c == 'x') && i + 1 < sql.size() && sql[i + 1] == '\'' &&
        (i == 0 || !IsWordChar(sql[i - 1]))) {
      // x'0A' is a blob literal: it stays in the text, as the translator keeps it. It ends
      // where the tokenizer ends it, at a quote that is not doubled.
      size_t j = i + 2;
      for (; j < sql.size(); ++j) {
        if (sql[j] != '\'') continue;
        if (j + 1 < sql.size() && sql[j + 1] == '\'') {
          ++j;
          continue;
        }
        break;
      }
      if (j >= sql.size()) return std::nullopt;
      out.text.append(sql.substr(i, j + 1 - i));
      i = j + 1;
      last_sign = '0';
      last_word.clear();
      continue;
    }
    if (c == '\'' || n_prefix) {
      size_t start = n_prefix ? i + 2 : i + 1;
      size_t j = start;
      for (; j < sql.size(); ++j) {
        if (sql[j] == '\'') {
          if (j + 1 < sql.size() && sql[j + 1] == '\'') {
            ++j;
            continue;
          }
          break;
        }
      }
      if (j >= sql.size() || out.values.size() >= kMaxValues) return std::nullopt;
      if (last_sign == 'w' && last_word == "as") {  // "AS 'name'" names a column: no value
        out.text.append(sql.substr(i, j + 1 - i));
        i = j + 1;
        last_sign = '\'';
        last_word.clear();
        continue;
      }
      // Right behind a word ("then'a'") an N would join the word and make "thenN".
      bool glued = !out.text.empty() && IsWordChar(out.text.back());
      out.text += (glued ? "'" : "N'") + std::string(1, kTextMark) +
                  std::to_string(out.values.size()) + std::string(1, kTextMark) + "'";
      out.values.push_back("'" + std::string(sql.substr(start, j - start)) + "'");
      i = j + 1;
      last_sign = '\'';
      last_word.clear();
      continue;
    }
    if (c == '[' || c == '"') {
      size_t j = sql.find(c == '[' ? ']' : '"', i + 1);
      if (j == std::string_view::npos) return std::nullopt;
      out.text.append(sql.substr(i, j - i + 1));
      i = j + 1;
      last_sign = 'n';
      last_word.clear();
      continue;
    }
    if ((c == '-' && i + 1 < sql.size() && sql[i + 1] == '-') ||
        (c == '/' && i + 1 < sql.size() && sql[i + 1] == '*')) {
      size_t j = c == '-' ? sql.find('\n', i) : sql.find("*/", i + 2);
      j = j == std::string_view::npos ? sql.size() : (c == '-' ? j : j + 2);
      out.text.append(sql.substr(i, j - i));
      i = j;
      continue;
    }
    if (std::isdigit(static_cast<unsigned char>(c)) && (i == 0 || !IsWordChar(sql[i - 1])) &&
        (i == 0 || sql[i - 1] != '.')) {
      size_t j = i;
      while (j < sql.size() && std::isdigit(static_cast<unsigned char>(sql[j]))) ++j;
      if (j < sql.size() && sql[j] == '.') {
        ++j;
        while (j < sql.size() && std::isdigit(static_cast<unsigned char>(sql[j]))) ++j;
      }
      bool plain_end = j >= sql.size() || !(IsWordChar(sql[j]) || sql[j] == '.');
      bool compared = last_sign == '=' || last_sign == '<' || last_sign == '>';
      bool listed =
          values_depth >= 0 && depth == values_depth + 1 && (last_sign == '(' || last_sign == ',');
      if (plain_end && (compared || listed) && out.values.size() < kMaxValues) {
        out.text += NumberPlaceholder(out.values.size());
        out.values.emplace_back(sql.substr(i, j - i));
      } else {
        out.text.append(sql.substr(i, j - i));
      }
      i = j;
      last_sign = '0';
      last_word.clear();
      continue;
    }
    if (IsWordChar(c)) {
      size_t j = i;
      while (j < sql.size() && IsWordChar(sql[j])) ++j;
      last_word = Lower(sql.substr(i, j - i));
      after_values = last_word == "values";
      out.text.append(sql.substr(i, j - i));
      last_sign = 'w';
      i = j;
      continue;
    }
    if (c == '(') {
      if (after_values && values_depth < 0) values_depth = depth;
      ++depth;
    } else if (c == ')') {
      --depth;
      if (depth <= values_depth) values_depth = -1;
    }
    if (!std::isspace(static_cast<unsigned char>(c))) {
      last_sign = c;
      if (c != '(') after_values = false;
    }
    out.text += c;
    ++i;
  }
  if (out.values.empty()) return std::nullopt;
  return out;
}

std::optional<StatementList> PutValuesBack(const StatementList& statements,
                                           const std::vector<std::string>& values) {
  StatementList out;
  out.reserve(statements.size());
  for (const BatchStep& step : statements) {
    const std::string& statement = step.sql;
    std::string text;
    text.reserve(statement.size() + 64);
    size_t i = 0;
    while (i < statement.size()) {
      if (statement[i] == '\'' && i + 1 < statement.size() && statement[i + 1] == kTextMark) {
        size_t end = statement.find(kTextMark, i + 2);
        if (end == std::string::npos || end + 1 >= statement.size() || statement[end + 1] != '\'') {
          return std::nullopt;
        }
        size_t k = std::stoul(statement.substr(i + 2, end - i - 2));
        if (k >= values.size()) return std::nullopt;
        text += values[k];
        i = end + 2;
        continue;
      }
      if (statement.compare(i, kNumberMark.size(), kNumberMark) == 0 &&
          i + kNumberMark.size() + 4 <= statement.size()) {
        size_t k = std::stoul(statement.substr(i + kNumberMark.size(), 4));
        if (k >= values.size()) return std::nullopt;
        text += values[k];
        i += kNumberMark.size() + 4;
        continue;
      }
      text += statement[i];
      ++i;
    }
    if (text.find(kTextMark) != std::string::npos || text.find(kNumberMark) != std::string::npos) {
      return std::nullopt;
    }
    out.push_back(BatchStep{step.kind, std::move(text), step.next});
  }
  return out;
}

}  // namespace rembiz::db
