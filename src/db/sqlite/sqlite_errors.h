// SQLite's errors as the server reports them: the number the classes expect, and constraint
// messages that name the index or key in the server's words.
#pragma once

#include <string_view>

struct sqlite3;

namespace rembiz::db::sqlite {

// Throws the DbError for result code `rc` of a statement on `db` (which may be null).
[[noreturn]] void ThrowError(sqlite3* db, int rc, std::string_view sql);

}  // namespace rembiz::db::sqlite
