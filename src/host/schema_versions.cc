#include "host/schema_versions.h"

#include <algorithm>
#include <map>

#include "db/error.h"
#include "db/text.h"
#include "host/embedded_files.h"

namespace rembiz::host {
namespace {

struct KindInfo {
  std::string_view scripts;  // the embedded folder of its versions
  std::string_view table;    // where a database records its versions
  std::string_view marker;   // a table of the first version, which every such database has
  std::string_view label;
};

KindInfo Info(SchemaKind kind) {
  if (kind == SchemaKind::kSystem) {
    return {"schema/system/", "UA_SchemaVersion", "UA_User", "system database"};
  }
  return {"schema/account/", "Host_SchemaVersion", "accinformation", "account database"};
}

// The scripts of each version, in file-name order.
std::map<int, std::vector<EmbeddedFile>> Versions(SchemaKind kind) {
  const std::string_view prefix = Info(kind).scripts;
  std::map<int, std::vector<EmbeddedFile>> out;
  for (const EmbeddedFile& file : EmbeddedFilesUnder(prefix)) {
    std::string_view rest = file.path.substr(prefix.size());
    size_t slash = rest.find('/');
    if (slash != 3 || !file.path.ends_with(".sql")) continue;
    std::string_view number = rest.substr(0, 3);
    if (number.find_first_not_of("0123456789") != std::string_view::npos) continue;
    out[std::stoi(std::string(number))].push_back(file);
  }
  return out;
}

bool HasTable(db::Connection& cn, std::string_view table) {
  return !cn.Execute("SELECT name FROM sysobjects WHERE type = 'U' AND name = " +
                     db::SqlText(table))
              .Eof();
}

[[noreturn]] void Refuse(const std::string& text) {
  throw ComError(static_cast<int32_t>(0x80004005), text, "Rembiz.Upgrade");
}

std::string Describe(const DataDir& dir, const DatabaseVersion& d) {
  return "The " + std::string(Info(d.kind).label) + " " + d.database + " of " + dir.Describe();
}

DatabaseVersion ReadVersion(const DataDir& dir, std::string_view database, SchemaKind kind) {
  db::Connection cn;
  cn.Open(dir.Store().ConnectionString(database));
  return {std::string(database), kind, DatabaseSchemaVersion(cn, kind), LatestSchemaVersion(kind)};
}

}  // namespace

int LatestSchemaVersion(SchemaKind kind) {
  static const int system = Versions(SchemaKind::kSystem).rbegin()->first;
  static const int account = Versions(SchemaKind::kAccount).rbegin()->first;
  return kind == SchemaKind::kSystem ? system : account;
}

int DatabaseSchemaVersion(db::Connection& cn, SchemaKind kind) {
  const KindInfo info = Info(kind);
  if (!HasTable(cn, info.table)) return HasTable(cn, info.marker) ? 1 : 0;
  db::Recordset rs = cn.Execute("SELECT max(iVersion) AS v FROM " + std::string(info.table));
  return rs.Eof() || rs.Value("v").IsNull() ? 1 : static_cast<int>(rs.Value("v").ToInt());
}

void ApplySchemaVersions(db::Connection& cn, SchemaKind kind, int from, std::string_view year) {
  const KindInfo info = Info(kind);
  for (const auto& [version, files] : Versions(kind)) {
    if (version <= from) continue;
    for (const EmbeddedFile& file : files) {
      try {
        cn.Execute(ExpandPlaceholders(file.content, year));
      } catch (const ComError& e) {
        throw ComError(e.Number(), std::string(file.path) + ": " + e.Description(), e.Source());
      }
    }
    // The record of versions is the runner's own table, made with the first version it records.
    const std::string table(info.table);
    if (!HasTable(cn, table)) {
      cn.Execute("CREATE TABLE " + table +
                 " (iVersion int NOT NULL, dApplied datetime NOT NULL DEFAULT (getdate()), "
                 "cProgram varchar(20) NULL, CONSTRAINT PK_" +
                 table + " PRIMARY KEY (iVersion))");
    }
    cn.Execute("INSERT INTO " + table + " (iVersion, cProgram) VALUES (" + std::to_string(version) +
               ", " + db::SqlText(REMBIZ_VERSION) + ")");
  }
}

std::vector<DatabaseVersion> SchemaVersions(const DataDir& dir) {
  std::vector<DatabaseVersion> out;
  if (!dir.HasSystemDatabase()) return out;
  out.push_back(ReadVersion(dir, db::kSystemDatabase, SchemaKind::kSystem));
  std::vector<std::string> accounts;
  {
    db::Connection cn;
    cn.Open(dir.SystemConnectionString());
    db::Recordset rs =
        cn.Execute("SELECT cAcc_Id, iYear FROM UA_AccountYear ORDER BY cAcc_Id, iYear");
    for (; !rs.Eof(); rs.MoveNext()) {
      std::string name = DataDir::AccountDatabase(rs.Text("cAcc_Id"), rs.Text("iYear"));
      if (dir.Store().Exists(name)) accounts.push_back(name);
    }
  }
  for (const std::string& name : accounts) {
    out.push_back(ReadVersion(dir, name, SchemaKind::kAccount));
  }
  return out;
}

void RequireCurrentSchema(const DataDir& dir) {
  for (const DatabaseVersion& d : SchemaVersions(dir)) {
    if (d.version > d.latest) {
      Refuse(Describe(dir, d) + " has schema version " + std::to_string(d.version) +
             ", made by a newer release of Rembiz than this one (which knows up to version " +
             std::to_string(d.latest) + "); run that release.");
    }
    if (d.version < d.latest) {
      Refuse(Describe(dir, d) + " has schema version " + std::to_string(d.version) +
             "; this release needs version " + std::to_string(d.latest) + ". Run `rembiz upgrade " +
             (dir.Store().IsServer() ? "--db URL" : "--data DIR") +
             "` first (it backs the databases up before it changes them).");
    }
  }
}

std::vector<DatabaseVersion> UpgradeDatabases(const DataDir& dir) {
  if (!dir.HasSystemDatabase()) {
    Refuse(dir.Describe() + " holds no Rembiz databases to upgrade.");
  }
  std::vector<DatabaseVersion> all = SchemaVersions(dir);
  for (const DatabaseVersion& d : all) {
    if (d.version > d.latest) {
      Refuse(Describe(dir, d) + " has schema version " + std::to_string(d.version) +
             ", newer than this release knows (" + std::to_string(d.latest) +
             "); nothing was changed.");
    }
    if (d.version == 0) {
      Refuse(Describe(dir, d) + " holds none of Rembiz's tables; nothing was changed.");
    }
  }
  std::vector<DatabaseVersion> changed;
  db::ClearConnectionPool();
  for (const DatabaseVersion& d : all) {
    if (d.version == d.latest) continue;
    // Opened as for a new database: on a database server that also brings the support objects
    // (functions, collation) to this release's, which a release changes only with a version.
    db::Connection cn;
    cn.Open(dir.Store().ConnectionString(d.database), db::Connection::OpenMode::kCreate);
    cn.BeginTrans();
    try {
      ApplySchemaVersions(cn, d.kind, d.version, d.database.substr(d.database.size() - 4));
      cn.CommitTrans();
    } catch (...) {
      cn.RollbackTrans();
      db::ClearConnectionPool();
      throw;
    }
    changed.push_back(d);
  }
  // Connections opened before the change know the tables as they were.
  db::ClearConnectionPool();
  for (const DatabaseVersion& d : all) {
    if (d.kind == SchemaKind::kAccount) {
      PrepareFreeQueries(dir, dir.Store().ConnectionString(d.database));
    }
  }
  db::ClearConnectionPool();
  return changed;
}

}  // namespace rembiz::host
