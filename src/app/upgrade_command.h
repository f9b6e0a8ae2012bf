// `rembiz upgrade`: takes every database of a location to this release's schema version, after
// a backup (an archive of the folder, or pg_dump of a PostgreSQL database), one transaction per
// database.
#pragma once

#include <ostream>
#include <string>

namespace rembiz::app {

struct UpgradeOptions {
  std::string location;  // a data folder or a database URL
  std::string backup;    // where the backup goes (empty: a name with the time, see the .cc)
  bool no_backup = false;
};

// The exit code; what it did, or why not, goes to `out`.
int RunUpgrade(const UpgradeOptions& options, std::ostream& out);

}  // namespace rembiz::app
