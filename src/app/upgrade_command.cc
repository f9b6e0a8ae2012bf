#include "app/upgrade_command.h"

#include <spawn.h>
#include <sys/wait.h>

#include <ctime>
#include <filesystem>
#include <vector>

#include "app/backup.h"
#include "db/error.h"
#include "host/schema_versions.h"

extern char** environ;

namespace rembiz::app {
namespace {

namespace fs = std::filesystem;

std::string Stamp() {
  std::time_t now = std::time(nullptr);
  std::tm tm{};
  localtime_r(&now, &tm);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y%m%d-%H%M%S", &tm);
  return buf;
}

std::string KindName(host::SchemaKind kind) {
  return kind == host::SchemaKind::kSystem ? "system" : "account";
}

// pg_dump of the whole database (every schema: the system's, the accounts', the support) in its
// custom format, which pg_restore reads. Run without a shell; the URL goes as one argument.
bool PgDump(const std::string& url, const std::string& file, std::ostream& out) {
  std::vector<std::string> args = {"pg_dump", "--format=custom", "--file=" + file,
                                   "--dbname=" + url};
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawnp(&pid, "pg_dump", nullptr, nullptr, argv.data(), environ) != 0) {
    out << "rembiz upgrade: pg_dump cannot be started (is postgresql-client installed?)\n";
    return false;
  }
  int status = 0;
  waitpid(pid, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    out << "rembiz upgrade: pg_dump failed; nothing was changed\n";
    return false;
  }
  return true;
}

}  // namespace

int RunUpgrade(const UpgradeOptions& options, std::ostream& out) {
  try {
    host::DataDir dir(options.location);
    if (!dir.HasSystemDatabase()) {
      out << "rembiz upgrade: " << dir.Describe() << " holds no Rembiz databases\n";
      return 1;
    }
    std::vector<host::DatabaseVersion> versions = host::SchemaVersions(dir);
    bool stale = false;
    for (const host::DatabaseVersion& d : versions) {
      if (d.version > d.latest) {
        out << "rembiz upgrade: " << d.database << " has schema version " << d.version
            << ", newer than this release (" << d.latest << "); run the newer release\n";
        return 1;
      }
      stale |= d.version < d.latest;
    }
    if (!stale) {
      out << "Every database of " << dir.Describe() << " is at the current schema version.\n";
      return 0;
    }
    if (!options.no_backup) {
      const bool server = dir.Store().IsServer();
      // Default names carry the time: the folder's own backups folder, or the current folder
      // for a database server.
      std::string file = options.backup;
      if (file.empty()) {
        file =
            server
                ? "rembiz-before-upgrade-" + Stamp() + ".dump"
                : (fs::path(options.location) / "backups" / ("before-upgrade-" + Stamp() + ".zip"))
                      .string();
      }
      if (!server) fs::create_directories(fs::absolute(file).parent_path());
      if (server ? !PgDump(options.location, file, out)
                 : RunBackup({options.location, file, false}, out) != 0) {
        out << "rembiz upgrade: no backup, so nothing was changed (--no-backup skips it)\n";
        return 1;
      }
      out << "Backed up to " << file << "\n";
    }
    for (const host::DatabaseVersion& d : host::UpgradeDatabases(dir)) {
      out << "Upgraded the " << KindName(d.kind) << " database " << d.database
          << " from schema version " << d.version << " to " << d.latest << ".\n";
    }
    return 0;
  } catch (const ComError& e) {
    out << "rembiz upgrade: " << e.Description() << "\n";
    return 1;
  }
}

}  // namespace rembiz::app
