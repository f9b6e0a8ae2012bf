// What the emitters share: the choice of one, and the spacing of the text they write.
#include "db/error.h"
#include "db/postgres/pg_emitter.h"
#include "db/sql_front_end.h"
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
