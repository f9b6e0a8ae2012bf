// Nested joins. The server lets the right side of a join be a joined table whose ON comes
// later: "a JOIN b JOIN c ON c.k = b.k ON b.k = a.k" is "a JOIN (b JOIN c ON c.k = b.k) ON
// b.k = a.k". SQLite reads ON clauses left to right only, so the nested form gets parentheses:
// an ON closes the latest join still waiting for one, and a join that meets another join (or a
// CROSS JOIN) before its own ON has a joined table on its right.
#include <algorithm>
#include <array>

#include "db/sql/front_end.h"

namespace rembiz::db::sql {

// Number of tokens of a join operator at i ("LEFT OUTER JOIN" is 3), 0 when there is none.
size_t JoinLength(const Tokens& t, size_t i) {
  const size_t n = t.size();
  auto is = [&](size_t k, std::string_view w) { return k < n && IsWord(t[k], w); };
  if (is(i, "join")) return 1;
  if (is(i, "inner") && is(i + 1, "join")) return 2;
  if (is(i, "cross") && (is(i + 1, "join") || is(i + 1, "apply"))) return 2;
  if (is(i, "outer") && is(i + 1, "apply")) return 2;
  if (is(i, "left") || is(i, "right") || is(i, "full")) {
    if (is(i + 1, "join")) return 2;
    if (is(i + 1, "outer") && is(i + 2, "join")) return 3;
  }
  return 0;
}

bool EndsFromClause(const Token& t) {
  static const std::array<std::string_view, 11> kWords = {"where",  "group",  "having",    "order",
                                                          "union",  "except", "intersect", "select",
                                                          "option", "set",    "for"};
  for (std::string_view w : kWords) {
    if (IsWord(t, w)) return true;
  }
  return false;
}

Tokens ParenthesizeNestedJoins(const Tokens& t) {
  if (std::none_of(t.begin(), t.end(), [](const Token& k) { return IsWord(k, "join"); })) {
    return t;
  }
  const std::vector<size_t> match = MatchPairs(t);
  std::vector<int> opens(t.size(), 0), closes(t.size(), 0);
  bool nested = false;
  struct Waiting {
    size_t right;  // first token of the join's right side
    bool joined;   // the right side is itself a joined table
  };
  auto scan = [&](auto& self, size_t b, size_t e) -> void {
    std::vector<Waiting> waiting;
    for (size_t i = b; i < e; ++i) {
      if (match[i] != kNone) {
        if (t[i].kind == TokenKind::kLParen) self(self, i + 1, match[i]);
        i = match[i];
      } else if (size_t len = JoinLength(t, i); len > 0) {
        if (!waiting.empty()) waiting.back().joined = true;
        if (!IsWord(t[i], "cross") && !IsWord(t[i], "outer")) waiting.push_back({i + len, false});
        i += len - 1;
      } else if (IsWord(t[i], "on") && !waiting.empty()) {
        Waiting w = waiting.back();
        waiting.pop_back();
        if (w.joined) {
          ++opens[w.right];
          ++closes[i];
          nested = true;
        }
      } else if (EndsFromClause(t[i])) {
        waiting.clear();
      }
    }
  };
  scan(scan, 0, t.size());
  if (!nested) return t;
  Tokens out;
  out.reserve(t.size() + 8);
  for (size_t i = 0; i < t.size(); ++i) {
    for (int k = 0; k < closes[i]; ++k) out.push_back(RParen());
    for (int k = 0; k < opens[i]; ++k) out.push_back(LParen());
    out.push_back(t[i]);
  }
  return out;
}

}  // namespace rembiz::db::sql
