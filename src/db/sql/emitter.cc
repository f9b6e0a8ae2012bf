// What the emitters share: the choice of one, and the spacing of the text they write.
#include "db/sql/emitter.h"

#include "db/error.h"
#include "db/postgres/pg_emitter.h"
#include "db/sqlite/sqlite_emitter.h"

namespace rembiz::db::sql {

const Emitter& EmitterFor(Dialect dialect) {
  switch (dialect) {
    case Dialect::kSqlite:
      return sqlite::TheEmitter();
    case Dialect::kPostgres:
      return postgres::TheEmitter();
  }
  throw DbError(kErrStatement, "No emitter for this dialect.");
}

Tokens Emitter::Analyze(const Tokens& table) const {
  Tokens out{Word("ANALYZE")};
  Append(out, table);
  return out;
}

bool StartsWithWord(const Tokens& statement, const std::unordered_set<std::string>& words) {
  size_t i = 0;
  while (i < statement.size() && statement[i].kind == TokenKind::kLParen) ++i;
  return i < statement.size() && statement[i].kind == TokenKind::kWord &&
         words.count(Lower(statement[i].text)) > 0;
}

std::string JoinTokens(const Tokens& tokens,
                       const std::function<void(const Token&, std::string&)>& spell) {
  std::string out;
  const Token* prev = nullptr;
  for (const Token& t : tokens) {
    if (prev != nullptr) {
      bool space = true;
      if (prev->kind == TokenKind::kLParen || prev->kind == TokenKind::kDot) space = false;
      if (t.kind == TokenKind::kRParen || t.kind == TokenKind::kComma ||
          t.kind == TokenKind::kDot || t.kind == TokenKind::kSemicolon) {
        space = false;
      }
      if (t.kind == TokenKind::kLParen && IsName(*prev) && !IsKeyword(*prev)) space = false;
      if (space) out += ' ';
    }
    spell(t, out);
    prev = &t;
  }
  return out;
}

}  // namespace rembiz::db::sql
