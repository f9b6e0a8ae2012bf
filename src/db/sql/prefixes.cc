// The first rewrite of a batch, before its statements are read: database and owner prefixes.
// "dbo.T" is T; "<db>.dbo.T" and "<db>..T" are T in the attached schema of that database
// (qdsystem, tempdb), or in main for any other database.
#include "db/sql/front_end.h"

namespace rembiz::db::sql {
namespace {

std::string SchemaOfDatabase(const Token& t) {
  std::string db = Lower(NameOf(t));
  if (db == "qdsystem" || db == "tempdb") return db;
  return {};
}

bool IsDbo(const Token& t) { return IsName(t) && EqualsIgnoreCase(NameOf(t), "dbo"); }

}  // namespace

Tokens StripNamePrefixes(const Tokens& in) {
  Tokens out;
  out.reserve(in.size());
  const size_t n = in.size();
  auto dot = [&](size_t k) { return k < n && in[k].kind == TokenKind::kDot; };
  auto name = [&](size_t k) { return k < n && IsName(in[k]); };
  auto dbo = [&](size_t k) { return k < n && IsDbo(in[k]); };
  for (size_t i = 0; i < n;) {
    const bool after_dot = i > 0 && in[i - 1].kind == TokenKind::kDot;
    size_t skip = 0;  // tokens of the prefix, when there is one
    bool with_database = false;
    if (!after_dot && name(i) && dot(i + 1) && dot(i + 2) && name(i + 3)) {
      skip = 3;
      with_database = true;
    } else if (!after_dot && name(i) && dot(i + 1) && dbo(i + 2) && dot(i + 3) && name(i + 4)) {
      skip = 4;
      with_database = true;
    } else if (!after_dot && dbo(i) && dot(i + 1) && name(i + 2)) {
      skip = 2;
    }
    if (skip == 0) {
      out.push_back(in[i++]);
      continue;
    }
    size_t first = out.size();
    std::string schema = with_database ? SchemaOfDatabase(in[i]) : std::string();
    if (!schema.empty()) {
      out.push_back(Word(schema));
      out.push_back(Dot());
    }
    out.push_back(in[i + skip]);
    out[first].line_start = in[i].line_start;
    i += skip + 1;
  }
  return out;
}

}  // namespace rembiz::db::sql
