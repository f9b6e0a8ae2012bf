// Test fixtures: the demo databases are built once (per test binary on SQLite, per test server
// on PostgreSQL); each test works on its own copy, so tests are independent and may write freely.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "db/connection.h"
#include "host/database_setup.h"
#include "host/local_session.h"
#include "xml/document.h"

namespace rembiz::testing {

// A fresh scratch directory under the test binary's temporary root.
std::filesystem::path ScratchDir(std::string_view name);

// Whether the tests run on PostgreSQL: REMBIZ_TEST_POSTGRES names the file with the URL of a
// test server (scripts/test-postgres writes it; CTest registers every test once per backend).
bool OnPostgres();
// A data location where nothing exists yet: a folder under the test root, or a database of the
// test server that does not exist yet (dropped when the test binary ends).
std::string FreshLocation(std::string_view name);
// The command-line option for `location`, shell-quoted: "--data '<folder>'" or "--db '<url>'".
std::string LocationArgs(const std::string& location);

class DemoTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  const host::DataDir& Data() const { return *data_; }
  // The test's own folder, for files it writes (requests, exports).
  const std::filesystem::path& Scratch() const { return scratch_; }
  // The command-line option that points rembiz at the test's databases, shell-quoted:
  // "--data '<folder>'" or "--db '<url>'".
  std::string DataArgs() const;
  // The same option for a location where nothing exists yet (a fresh installation).
  std::string FreshDataArgs(std::string_view name);
  // A session of `user` (default demo) on the demo account in the current year.
  std::unique_ptr<host::LocalSession> SessionFor(const std::string& user = "demo",
                                                 const std::string& language = "zh-CN") const;
  host::LocalSession& Session();
  // An open connection to the demo account database.
  db::Connection& Cn();

  // Takes the test's databases out of reach (false) - on the test server nobody may connect and
  // the connections open are ended (idle ones of this process too, as a restart would); on
  // SQLite the system database's file is moved away and the idle connections closed - or
  // brings them back (true).
  void SetDatabaseReachable(bool reachable);

  // Runs `request` through Rembiz.<class_name> with the default session and returns the result.
  xml::Document Call(std::string_view class_name, std::string_view request);
  xml::Document Call(std::string_view class_name, std::string_view request, host::Session* session);

  // Every row of a table in a fixed order, as text: to compare a table before and after.
  std::string Dump(std::string_view table);
  // The first row of a query, its columns joined by "|" (NULL as ""; "" when there is no row):
  // values as the data layer reads them, the same on every backend.
  std::string Scalar(std::string_view sql);
  // Every row of a query as Scalar gives one, joined by `separator`.
  std::string Lines(std::string_view sql, std::string_view separator = "\n");

 private:
  std::filesystem::path scratch_;
  std::unique_ptr<host::DataDir> data_;
  std::unique_ptr<host::LocalSession> session_;
  std::unique_ptr<db::Connection> cn_;
};

}  // namespace rembiz::testing
