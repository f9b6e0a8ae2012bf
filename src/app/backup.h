// `rembiz backup` and `rembiz restore` for a folder of SQLite databases: every database of the
// location (the system database and each account-year) copied as of one moment each, in one zip
// archive with a manifest of sizes and SHA-256 sums; a restore checks every sum and every file
// before it replaces anything. (A PostgreSQL location is backed up with pg_dump: see README.)
#pragma once

#include <ostream>
#include <string>

namespace rembiz::app {

struct BackupOptions {
  std::string data;     // the data folder
  std::string archive;  // the archive written or read
  bool force = false;   // restore: replace the databases the folder holds
};

// Both return the exit code and write what they did, or why not, to `out`.
int RunBackup(const BackupOptions& options, std::ostream& out);
int RunRestore(const BackupOptions& options, std::ostream& out);

}  // namespace rembiz::app
