// How the server compares text, as collations registered on every SQLite handle.
//
// The server compares (n)varchar without regard to case and as if the shorter text were padded
// with blanks, so 'JK01 ' = 'jk01'. Every text column of the schema is COLLATE NOCASE; NOCASE is
// redefined here to ignore trailing blanks too, so that =, <>, IN, joins, GROUP BY, DISTINCT and
// unique indexes all agree with the server. LIKE uses no collation and keeps trailing blanks
// significant, as the server does.
//
// Texts order by their blank-trimmed form, so every text that starts with a prefix sorts between
// the prefix and its successor and SQLite's LIKE prefix optimisation stays exact (for a pattern
// whose fixed prefix itself ends in a blank, "x LIKE 'ab %'" on an indexed column may also return
// the text 'ab'; the classes never search so).
//
// uniqueidentifier columns carry COLLATE UNIQUEIDENTIFIER: the server converts a text compared
// with one to a GUID, which it reads with or without braces and in either case.
#include <sqlite3.h>

#include <string>

#include "db/error.h"
#include "db/sqlite/sqlite_functions.h"

namespace rembiz::db::sqlite {
namespace {

inline unsigned char FoldAscii(unsigned char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c - 'A' + 'a') : c;
}

inline int TrimmedSize(const unsigned char* s, int n) {
  while (n > 0 && s[n - 1] == ' ') --n;
  return n;
}

int CompareFolded(const unsigned char* a, int na, const unsigned char* b, int nb) {
  const int n = na < nb ? na : nb;
  for (int i = 0; i < n; ++i) {
    const unsigned char x = FoldAscii(a[i]), y = FoldAscii(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  return na == nb ? 0 : (na < nb ? -1 : 1);
}

int CompareNoCase(void*, int na, const void* pa, int nb, const void* pb) {
  const auto* a = static_cast<const unsigned char*>(pa);
  const auto* b = static_cast<const unsigned char*>(pb);
  return CompareFolded(a, TrimmedSize(a, na), b, TrimmedSize(b, nb));
}

// A GUID's text without its braces: "{…}" and "…" compare equal.
void StripBraces(const unsigned char*& s, int& n) {
  if (n >= 2 && s[0] == '{' && s[n - 1] == '}') {
    ++s;
    n -= 2;
  }
}

int CompareGuid(void*, int na, const void* pa, int nb, const void* pb) {
  const auto* a = static_cast<const unsigned char*>(pa);
  const auto* b = static_cast<const unsigned char*>(pb);
  na = TrimmedSize(a, na);
  nb = TrimmedSize(b, nb);
  StripBraces(a, na);
  StripBraces(b, nb);
  return CompareFolded(a, na, b, nb);
}

}  // namespace

void RegisterSqlServerCollations(sqlite3* db) {
  struct Collation {
    const char* name;
    int (*compare)(void*, int, const void*, int, const void*);
  };
  static const Collation kCollations[] = {{"NOCASE", CompareNoCase},
                                          {"UNIQUEIDENTIFIER", CompareGuid}};
  for (const Collation& c : kCollations) {
    int rc = sqlite3_create_collation(db, c.name, SQLITE_UTF8, nullptr, c.compare);
    if (rc != SQLITE_OK) {
      throw DbError(kErrConnection,
                    std::string("Cannot register collation ") + c.name + ": " + sqlite3_errstr(rc));
    }
  }
}

}  // namespace rembiz::db::sqlite
