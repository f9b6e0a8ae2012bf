// `rembiz upgrade` on the databases the previous release made (kept as that release's dumps of
// its demo company after the road of a claim, tests/fixtures/previous_release): every row of
// every table survives, the schema comes out as a new installation's, the classes work on it;
// and what the program refuses: an old schema to serve, a newer one to upgrade.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>

#include "app/upgrade_command.h"
#include "db/connection.h"
#include "db/error.h"
#include "db/sqlite/sqlite_functions.h"
#include "db/store.h"
#include "db/text.h"
#include "frame/registry.h"
#include "host/database_setup.h"
#include "host/local_session.h"
#include "host/schema_versions.h"
#include "support/demo_fixture.h"
#include "support/program.h"
#include "xml/document.h"

namespace rembiz::app {
namespace {

namespace fs = std::filesystem;

const fs::path kFixture = fs::path(REMBIZ_SOURCE_DIR) / "tests/fixtures/previous_release";
// The year of the fixture's account.
constexpr const char* kYear = "2026";
constexpr const char* kAccountDb = "account_001_2026";

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Makes `location` what the previous release left there: on SQLite its databases from their
// dumps; on the server its dump loaded with psql.
void LoadPreviousRelease(const std::string& location) {
  db::Store store(location);
  if (store.IsServer()) {
    store.Prepare();
    testing::ProgramResult r =
        testing::RunCommand("psql -X -q -v ON_ERROR_STOP=1 -d '" + location + "' -f '" +
                            (kFixture / "postgres.sql").string() + "' 2>&1");
    ASSERT_EQ(r.code, 0) << r.out;
    return;
  }
  fs::create_directories(location);
  for (const char* name : {"qdsystem", kAccountDb}) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((fs::path(location) / (std::string(name) + ".db")).c_str(), &db),
              SQLITE_OK);
    // The tables' collations and the views' functions are the data layer's.
    db::sqlite::RegisterSqlServerFunctions(db);
    char* error = nullptr;
    int rc = sqlite3_exec(db, ReadFile(kFixture / (std::string(name) + ".sql")).c_str(), nullptr,
                          nullptr, &error);
    std::string text = error ? error : "";
    sqlite3_free(error);
    sqlite3_close(db);
    ASSERT_EQ(rc, SQLITE_OK) << text;
  }
}

class UpgradeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    scratch_ = testing::ScratchDir(std::string("upgrade_") + info->name());
    location_ = testing::FreshLocation(std::string("upgrade_") + info->name());
    dir_ = std::make_unique<host::DataDir>(location_);
  }
  void TearDown() override { db::ClearConnectionPool(); }

  // Every table of a database: its columns with their types, and its rows as sorted lines.
  struct Table {
    std::string shape;
    std::vector<std::string> columns;
    std::vector<std::string> rows;
  };
  std::map<std::string, Table> Tables(const host::DataDir& dir, const std::string& database,
                                      const std::map<std::string, Table>* columns_of = nullptr) {
    db::Connection cn;
    cn.Open(dir.Store().ConnectionString(database));
    std::vector<std::string> names;
    for (db::Recordset rs = cn.Execute("select name from sysobjects where type = 'U'"); !rs.Eof();
         rs.MoveNext()) {
      names.push_back(rs.Text("name"));
    }
    std::map<std::string, Table> out;
    for (const std::string& name : names) {
      // Engine-private tables (SQLite's row-version counter) are no part of the schema.
      if (name == "Host_RowVersion" || name.starts_with("sqlite_")) continue;
      std::string list = "*";
      if (columns_of) {
        auto old = columns_of->find(name);
        if (old == columns_of->end()) continue;
        list.clear();
        for (const std::string& c : old->second.columns) list += (list.empty() ? "" : ", ") + c;
      }
      Table& table = out[name];
      db::Recordset rs = cn.Execute("select " + list + " from " + name);
      for (int i = 0; i < rs.FieldCount(); ++i) {
        const db::FieldInfo& f = rs.Field(i);
        table.columns.push_back(f.name);
        table.shape +=
            f.name + ":" + std::to_string(f.type) + "(" + std::to_string(f.defined_size) + ") ";
      }
      for (; !rs.Eof(); rs.MoveNext()) {
        std::string line;
        for (int i = 0; i < rs.FieldCount(); ++i) {
          const db::Variant& v = rs.Value(i);
          line += (v.IsNull() ? "<null>" : v.ToText()) + "|";
        }
        table.rows.push_back(std::move(line));
      }
      std::sort(table.rows.begin(), table.rows.end());
    }
    return out;
  }

  fs::path scratch_;
  std::string location_;
  std::unique_ptr<host::DataDir> dir_;
};

TEST_F(UpgradeTest, ThePreviousReleasesDatabasesKeepEveryRowAndComeOutAsANewInstallation) {
  LoadPreviousRelease(location_);
  std::vector<host::DatabaseVersion> versions = host::SchemaVersions(*dir_);
  ASSERT_EQ(versions.size(), 2u);
  for (const host::DatabaseVersion& d : versions) {
    EXPECT_EQ(d.version, 1) << d.database;
    EXPECT_GT(d.latest, 1) << d.database;
  }
  try {
    host::RequireCurrentSchema(*dir_);
    ADD_FAILURE() << "an old schema was accepted";
  } catch (const ComError& e) {
    EXPECT_NE(std::string(e.Description()).find("rembiz upgrade"), std::string::npos)
        << e.Description();
  }
  const auto system_before = Tables(*dir_, "qdsystem");
  const auto account_before = Tables(*dir_, kAccountDb);
  ASSERT_FALSE(account_before.at("EC_LoanVouch").rows.empty());
  ASSERT_FALSE(account_before.at("EC_ExpenVouch").rows.empty());
  ASSERT_FALSE(account_before.at("Host_FlowRecord").rows.empty());

  std::ostringstream out;
  const fs::path backup =
      scratch_ / (db::Store(location_).IsServer() ? "before.dump" : "before.zip");
  ASSERT_EQ(RunUpgrade({location_, backup.string(), false}, out), 0) << out.str();
  EXPECT_TRUE(fs::exists(backup)) << out.str();
  EXPECT_NE(out.str().find("from schema version 1 to"), std::string::npos) << out.str();
  EXPECT_NO_THROW(host::RequireCurrentSchema(*dir_));

  // Every row of every table the previous release had, in the columns it had.
  for (const auto& [database, before] :
       {std::pair{"qdsystem", &system_before}, std::pair{kAccountDb, &account_before}}) {
    const auto after = Tables(*dir_, database, before);
    ASSERT_EQ(after.size(), before->size()) << database;
    // (A version may add rows of its own, as options; none may go or change.)
    for (const auto& [name, table] : *before) {
      const std::vector<std::string>& now = after.at(name).rows;
      EXPECT_TRUE(std::includes(now.begin(), now.end(), table.rows.begin(), table.rows.end()))
          << database << "." << name;
    }
  }

  // The same tables, columns and types as a new installation of this release.
  const std::string fresh_location =
      testing::FreshLocation(std::string("upgrade_fresh_") +
                             ::testing::UnitTest::GetInstance()->current_test_info()->name());
  host::DataDir fresh(fresh_location);
  host::InitOptions options;
  options.demo = true;
  options.year = kYear;
  host::InitDataDirectory(fresh, options);
  for (const char* database : {"qdsystem", kAccountDb}) {
    const auto upgraded = Tables(*dir_, database);
    const auto made = Tables(fresh, database);
    std::vector<std::string> upgraded_names, made_names;
    for (const auto& [name, table] : upgraded) upgraded_names.push_back(name);
    for (const auto& [name, table] : made) made_names.push_back(name);
    ASSERT_EQ(upgraded_names, made_names) << database;
    for (const auto& [name, table] : made) {
      EXPECT_EQ(upgraded.at(name).shape, table.shape) << database << "." << name;
    }
  }

  // Rows that gained a row version each have their own.
  db::Connection cn;
  cn.Open(dir_->ConnectionString("001", kYear));
  for (const char* table : {"Department", "Person", "code", "dsign"}) {
    db::Recordset rs = cn.Execute(std::string("select count(*) as n, count(distinct ts) as d, "
                                              "min(cast(ts as money)) as low from ") +
                                  table);
    EXPECT_EQ(rs.Text("n"), rs.Text("d")) << table;
    EXPECT_NE(rs.Text("low"), "0") << table;
  }

  // Once is enough.
  std::ostringstream again;
  EXPECT_EQ(RunUpgrade({location_, "", false}, again), 0);
  EXPECT_NE(again.str().find("current schema version"), std::string::npos) << again.str();
}

TEST_F(UpgradeTest, TheClassesWorkOnAnUpgradedDatabase) {
  LoadPreviousRelease(location_);
  std::ostringstream out;
  ASSERT_EQ(RunUpgrade({location_, "", true}, out), 0) << out.str();

  host::SessionRequest request;
  request.user = "demo";
  request.year = kYear;
  request.language = "en-US";
  auto session = host::LocalSession::Open(*dir_, request);
  auto run = [&](const std::string& cls, const std::string& text) {
    xml::Document doc;
    EXPECT_TRUE(doc.LoadXml(text)) << text;
    frame::CreateObject("Rembiz." + cls)->myHandle(session.get(), doc);
    return doc;
  };
  // A department edited with the row version it gained, its head named for flows to find.
  xml::Document list = run("CAdmin", "<req><func name='list'><in kind='department'/></func></req>");
  xml::Node row = list.SelectSingleNode("//out/rows/row[@code='0201']");
  ASSERT_TRUE(row) << list.Xml();
  ASSERT_FALSE(row.Attr("ts").empty()) << row.Xml();
  xml::Document saved = run("CAdmin",
                            "<req><func name='save'><in kind='department'><row P='2' code='0201' "
                            "head='approver' ts='" +
                                row.Attr("ts") + "'/></in></func></req>");
  EXPECT_FALSE(saved.SelectSingleNode("//error")) << saved.Xml();
  // A flow limited to operation types, which the previous release could not keep.
  xml::Document flows = run("CAdmin", "<req><func name='list'><in kind='flow'/></func></req>");
  EXPECT_FALSE(flows.SelectSingleNode("//error")) << flows.Xml();
  // Log-in failures are counted in the table the upgrade made.
  host::SessionRequest wrong = request;
  EXPECT_THROW(host::LocalSession::Login(*dir_, wrong, "not the password"), ComError);
  db::Connection system;
  system.Open(dir_->SystemConnectionString());
  EXPECT_FALSE(system.Execute("select iFailures from UA_LoginFailure").Eof());
}

TEST_F(UpgradeTest, AnOldSchemaIsNotServedAndANewerOneNotTouched) {
  LoadPreviousRelease(location_);
  const std::string where = testing::LocationArgs(location_);
  testing::ProgramResult served =
      testing::RunCommand(testing::Rembiz("serve " + where + " --listen 127.0.0.1:0 2>&1"));
  EXPECT_NE(served.code, 0);
  EXPECT_NE(served.out.find("rembiz upgrade"), std::string::npos) << served.out;

  testing::ProgramResult upgraded = testing::RunCommand(
      testing::Rembiz("upgrade " + where + " --backup '" + (scratch_ / "b").string() +
                      (db::Store(location_).IsServer() ? ".dump" : ".zip") + "' 2>&1"));
  ASSERT_EQ(upgraded.code, 0) << upgraded.out;

  // A later release's version: this one neither serves nor upgrades it, and changes nothing.
  {
    db::Connection cn;
    cn.Open(dir_->ConnectionString("001", kYear));
    cn.Execute("insert into Host_SchemaVersion (iVersion, cProgram) values (" +
               std::to_string(host::LatestSchemaVersion(host::SchemaKind::kAccount) + 1) +
               ", '9.9')");
  }
  db::ClearConnectionPool();
  testing::ProgramResult refused =
      testing::RunCommand(testing::Rembiz("upgrade " + where + " --no-backup 2>&1"));
  EXPECT_EQ(refused.code, 1);
  EXPECT_NE(refused.out.find("newer"), std::string::npos) << refused.out;
  served = testing::RunCommand(testing::Rembiz("serve " + where + " --listen 127.0.0.1:0 2>&1"));
  EXPECT_NE(served.code, 0);
  EXPECT_NE(served.out.find("newer release"), std::string::npos) << served.out;
}

}  // namespace
}  // namespace rembiz::app
