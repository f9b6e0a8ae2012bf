// Edits of SQL text before it is translated, for the layers above: text put in at a few offsets
// found by the scanner, so that literals, quoted names and comments are never edited inside.
#include <algorithm>
#include <cctype>

#include "db/error.h"
#include "db/sql/tokenizer.h"
#include "db/sql/translate.h"

namespace rembiz::db {
namespace {

using sql::Lexeme;
using sql::TokenKind;

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

bool IsWordLexeme(std::string_view sql, const Lexeme& l, std::string_view lower) {
  return l.kind == TokenKind::kWord &&
         sql::EqualsIgnoreCase(sql.substr(l.begin, l.end - l.begin), lower);
}

// Every literal 'x' gets its N. Literals already marked N stay as written, and so does a literal
// that opens the text (nothing stands before it to mark); x'..' is a blob, never a literal. A
// literal right behind a word (like'%x%') gets " N": "likeN'…'" would be another word.
void MarkLiterals(std::string_view sql, const std::vector<Lexeme>& lexemes,
                  std::vector<Insertion>& out) {
  for (const Lexeme& l : lexemes) {
    if (l.kind != TokenKind::kString || sql[l.begin] != '\'' || l.begin == 0) continue;
    const unsigned char before = static_cast<unsigned char>(sql[l.begin - 1]);
    const bool behind_word = std::isalnum(before) || before == '_' || before >= 0x80;
    out.push_back({l.begin, behind_word ? " N" : "N"});
  }
}

// The plain name after AS is bracketed. A name followed by a parenthesis or a dot is no alias
// (CAST(x AS money), CAST(x AS decimal(18,2))); quoted names and literal aliases stay.
void BracketAliasNames(std::string_view sql, const std::vector<Lexeme>& lexemes,
                       std::vector<Insertion>& out) {
  for (size_t i = 0; i + 1 < lexemes.size(); ++i) {
    if (!IsWordLexeme(sql, lexemes[i], "as")) continue;
    const Lexeme& alias = lexemes[i + 1];
    if (alias.kind != TokenKind::kWord || IsWordLexeme(sql, alias, "select")) continue;
    if (i + 2 < lexemes.size()) {
      TokenKind next = lexemes[i + 2].kind;
      if (next == TokenKind::kLParen || next == TokenKind::kRParen || next == TokenKind::kDot) {
        continue;
      }
    }
    out.push_back({alias.begin, "["});
    out.push_back({alias.end, "]"});
  }
}

}  // namespace

std::string EditSqlText(std::string_view sql, SqlTextEdits edits) {
  if (!edits.mark_literals && !edits.bracket_aliases) return std::string(sql);
  // Every statement of the layers above passes here: the lexemes' storage is kept for the
  // thread.
  thread_local std::vector<Lexeme> lexemes;
  try {
    sql::Scan(sql, lexemes);
  } catch (const DbError&) {
    return std::string(sql);
  }
  std::vector<Insertion> insertions;
  if (edits.mark_literals) MarkLiterals(sql, lexemes, insertions);
  if (edits.bracket_aliases) BracketAliasNames(sql, lexemes, insertions);
  return WithInsertions(sql, std::move(insertions));
}

}  // namespace rembiz::db
