#include "frame/convert.h"

#include <algorithm>
#include <cctype>
#include <optional>
#include <vector>

#include "db/error.h"
#include "db/sql/tokenizer.h"
#include "db/text.h"
#include "host/messages.h"

namespace rembiz::frame {
namespace {

using db::Trim;

// Text put in at one offset of a statement; everything else stays as written.
struct Insertion {
  size_t at;
  std::string_view text;
};

std::string WithInsertions(std::string_view sql, std::vector<Insertion> insertions) {
  std::stable_sort(insertions.begin(), insertions.end(),
                   [](const Insertion& a, const Insertion& b) { return a.at < b.at; });
  std::string out;
  out.reserve(sql.size() + insertions.size() * 2);
  size_t pos = 0;
  for (const Insertion& insertion : insertions) {
    out.append(sql.substr(pos, insertion.at - pos));
    out.append(insertion.text);
    pos = insertion.at;
  }
  out.append(sql.substr(pos));
  return out;
}

// Every literal 'x' becomes N'x'. Literals already marked N, blob literals (x'..') and a literal
// that opens the text (nothing stands before it to mark) stay as written.
void MarkLiterals(std::string_view sql, const db::sql::Tokens& tokens,
                  std::vector<Insertion>& out) {
  for (size_t i = 0; i < tokens.size(); ++i) {
    const db::sql::Token& token = tokens[i];
    if (token.kind != db::sql::TokenKind::kString || sql[token.begin] != '\'') continue;
    if (token.begin == 0) continue;
    if (i > 0 && tokens[i - 1].end == token.begin && (db::sql::IsWord(tokens[i - 1], "x"))) {
      continue;
    }
    out.push_back({token.begin, "N"});
  }
}

// The plain name after AS is bracketed ("as code" → "as [code]"). A name followed by a
// parenthesis or a dot is no alias (CAST(x AS money), CAST(x AS decimal(18,2))); quoted names
// and literal aliases are left as they are.
void BracketAliasNames(const db::sql::Tokens& tokens, std::vector<Insertion>& out) {
  using db::sql::TokenKind;
  for (size_t i = 0; i + 1 < tokens.size(); ++i) {
    if (!db::sql::IsWord(tokens[i], "as")) continue;
    const db::sql::Token& alias = tokens[i + 1];
    if (alias.kind != TokenKind::kWord || db::sql::IsWord(alias, "select")) continue;
    if (i + 2 < tokens.size()) {
      TokenKind next = tokens[i + 2].kind;
      if (next == TokenKind::kLParen || next == TokenKind::kRParen || next == TokenKind::kDot) {
        continue;
      }
    }
    out.push_back({alias.begin, "["});
    out.push_back({alias.end, "]"});
  }
}

// The statement's tokens, or nothing when it does not split into tokens (an unterminated
// literal): such text is left as it is and the database reports it.
std::optional<db::sql::Tokens> TokensOf(std::string_view sql) {
  try {
    return db::sql::Tokenize(sql);
  } catch (const ComError&) {
    return std::nullopt;
  }
}

}  // namespace

std::string NullToStr(const Variant& value) { return value.ToText(); }

std::string SqlValue(const Variant& value) {
  std::string text = value.ToText();
  if (value.IsNull() || text.empty()) return "null";
  return "'" + SqlEscape(text) + "'";
}

bool IsNumeric(const Variant& value) {
  if (value.IsNumber()) return true;
  if (value.kind() != Variant::Kind::kText) return false;
  return db::ParseNumber(value.ToText()).has_value();
}

double NumValue(const Variant& value) {
  if (value.IsNumber()) return value.ToDouble();
  if (value.kind() != Variant::Kind::kText) return 0;
  return db::ParseNumber(value.ToText()).value_or(0);
}

std::string SqlNumber(const Variant& value) {
  if (!IsNumeric(value)) return "null";
  if (value.IsNumber()) return value.ToText();
  return db::DoubleText(*db::ParseNumber(value.ToText()));
}

bool ToBool(const Variant& value) {
  if (value.IsNull() || value.ToText().empty()) return false;
  return value.ToBool();
}

std::string SqlBool(const Variant& value) {
  if (value.IsNull() || value.ToText().empty()) return "null";
  return value.ToBool() ? "1" : "0";
}

std::string DateText(const Variant& value, std::string_view separator) {
  if (value.IsNull()) return "";
  auto normal = db::NormalizeDate(value.ToText());
  if (!normal) return "";
  int y = std::stoi(normal->substr(0, 4));
  int m = std::stoi(normal->substr(5, 2));
  int d = std::stoi(normal->substr(8, 2));
  std::string sep(separator);
  return std::to_string(y) + sep + std::to_string(m) + sep + std::to_string(d);
}

std::string NodeAttr(const xml::Node& node, std::string_view name, std::string_view path) {
  if (node.IsNull()) return "";
  xml::Node target = node;
  if (target.Raw().type() == pugi::node_document) target = target.FirstChild();
  std::string p = Trim(path);
  if (!p.empty()) target = target.SelectSingleNode(p);
  return target.Attr(name);
}

std::string NodeAttr(const xml::Document& doc, std::string_view name, std::string_view path) {
  return NodeAttr(doc.DocumentElement(), name, path);
}

std::string NormalizeSql(std::string_view sql) {
  if (!host::CurrentLanguageIsEnglish()) {
    // Only the literals matter here: the lexemes show them without making tokens. Every
    // statement passes, so the lexemes' storage is kept for the thread.
    thread_local std::vector<db::sql::Lexeme> lexemes;
    lexemes.clear();
    try {
      db::sql::Scan(sql, lexemes);
    } catch (const ComError&) {
      return std::string(sql);
    }
    std::string out;
    out.reserve(sql.size() + sql.size() / 8 + 8);
    size_t pos = 0;
    for (size_t i = 0; i < lexemes.size(); ++i) {
      const db::sql::Lexeme& lexeme = lexemes[i];
      if (lexeme.kind != db::sql::TokenKind::kString || sql[lexeme.begin] != '\'') continue;
      if (lexeme.begin == 0) continue;
      // x'..' is a blob literal, as MarkLiterals has it.
      const db::sql::Lexeme* before = i > 0 ? &lexemes[i - 1] : nullptr;
      if (before && before->end == lexeme.begin && before->kind == db::sql::TokenKind::kWord &&
          before->end - before->begin == 1 && (sql[before->begin] | 0x20) == 'x') {
        continue;
      }
      out.append(sql.substr(pos, lexeme.begin - pos));
      out += 'N';
      pos = lexeme.begin;
    }
    out.append(sql.substr(pos));
    return out;
  }
  std::optional<db::sql::Tokens> tokens = TokensOf(sql);
  if (!tokens) return std::string(sql);
  std::vector<Insertion> insertions;
  MarkLiterals(sql, *tokens, insertions);
  if (host::CurrentLanguageIsEnglish()) BracketAliasNames(*tokens, insertions);
  return WithInsertions(sql, std::move(insertions));
}

bool NoParens(std::string_view text) {
  return text.find('(') == std::string_view::npos && text.find(')') == std::string_view::npos;
}

std::string BracketAliases(std::string_view sql) {
  std::optional<db::sql::Tokens> tokens = TokensOf(sql);
  if (!tokens) return std::string(sql);
  std::vector<Insertion> insertions;
  BracketAliasNames(*tokens, insertions);
  return WithInsertions(sql, std::move(insertions));
}

std::string RowXml(db::Recordset& recordset) {
  if (!recordset.IsOpen() || (recordset.Bof() && recordset.Eof())) return "";
  std::string out;
  const auto& fields = recordset.Fields();
  for (recordset.MoveFirst(); !recordset.Eof(); recordset.MoveNext()) {
    out += "<row";
    for (int i = 0; i < recordset.FieldCount(); ++i) {
      std::string text = XmlEscape(recordset.Value(i).ToText());
      out += " ";
      // Column names come from queries, some from the request itself.
      out += XmlName(fields[static_cast<size_t>(i)].name);
      if (fields[static_cast<size_t>(i)].type == db::kAdVarChar && text == "1900-01-01") {
        out += "=''";
      } else {
        out += "='" + text + "'";
      }
    }
    out += "/>\r\n";
  }
  return out;
}

std::string HeadXml(db::Recordset& recordset) {
  if (!recordset.IsOpen() || (recordset.Bof() && recordset.Eof())) return "";
  int value_index = recordset.FieldIndex("strValue");
  std::string out = "<head";
  for (recordset.MoveFirst(); !recordset.Eof(); recordset.MoveNext()) {
    std::string value = recordset.Value("strValue").ToText();
    if (recordset.Field(value_index).type == db::kAdVarChar && value == "1900-01-01") value = "";
    // Values are escaped: a name or remark with a quote or "<" must not break the element.
    out += " " + XmlName(recordset.Value("strName").ToText()) + "='" + XmlEscape(value) + "'";
  }
  out += "/>\r\n";
  return out;
}

}  // namespace rembiz::frame
