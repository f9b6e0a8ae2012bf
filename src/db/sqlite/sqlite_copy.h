// A consistent copy of one SQLite database file through SQLite's online backup: readers and
// writers of the source go on meanwhile, and the copy is the database as of one moment.
#pragma once

#include <string>

namespace rembiz::db {

// Copies `source` (a database file) to `target` (a new file). Failures are
// DbError(kErrConnection) naming the file.
void CopySqliteDatabase(const std::string& source, const std::string& target);

// "ok" when SQLite's integrity check finds nothing wrong with the file, else its first finding.
std::string CheckSqliteDatabase(const std::string& path);

}  // namespace rembiz::db
