#include "support/demo_fixture.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdlib>
#include <vector>

#include "db/recordset.h"
#include "frame/registry.h"
#include "support/test_server.h"

namespace rembiz::testing {
namespace fs = std::filesystem;

namespace {

const fs::path& TestRoot() {
  static const fs::path root = [] {
    fs::path dir = fs::temp_directory_path() / ("rembiz-tests-" + std::to_string(getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    std::atexit([] {
      std::error_code ignored;
      db::ClearConnectionPool();
      fs::remove_all(fs::temp_directory_path() / ("rembiz-tests-" + std::to_string(getpid())),
                     ignored);
    });
    return dir;
  }();
  return root;
}

// The demo databases every test copies: a folder per test binary, or one database of the test
// server for the whole run.
const std::string& DemoTemplate() {
  static const std::string location = [] {
    auto make = [](const std::string& where) {
      host::InitOptions options;
      options.demo = true;
      host::InitDataDirectory(host::DataDir(where), options);
      db::ClearConnectionPool();  // a database being copied must have no connections
    };
    if (const TestServer* server = TestServer::Get()) {
      // One template per build of the program, so that a server kept between runs never
      // hands out databases of an older schema.
      std::error_code ignored;
      auto built = fs::last_write_time(REMBIZ_BIN, ignored).time_since_epoch().count();
      std::string name = "rembiz_demo_" + std::to_string(static_cast<uint64_t>(built) % 1000000007);
      server->Once(name, make);
      return name;
    }
    std::string dir = (TestRoot() / "template").string();
    make(dir);
    return dir;
  }();
  return location;
}

std::atomic<int> fresh_counter{0};

// The databases of the test server this binary made; dropped when it ends.
std::vector<std::string>& ServerDatabases() {
  static auto* names = [] {
    auto* list = new std::vector<std::string>();
    std::atexit([] {
      db::ClearConnectionPool();
      for (const std::string& name : ServerDatabases()) {
        try {
          TestServer::Get()->Drop(name);
        } catch (const std::exception&) {
        }
      }
    });
    return list;
  }();
  return *names;
}

// A database name of the test server no other test process uses.
std::string ServerDatabaseName(std::string_view name) {
  std::string out = "t" + std::to_string(getpid()) + "_" + std::to_string(++fresh_counter) + "_";
  for (char c : name) {
    out += std::isalnum(static_cast<unsigned char>(c)) ? static_cast<char>(std::tolower(c)) : '_';
  }
  out = out.substr(0, 60);
  ServerDatabases().push_back(out);
  return out;
}

}  // namespace

fs::path ScratchDir(std::string_view name) {
  static std::atomic<int> counter{0};
  fs::path dir = TestRoot() / (std::string(name) + "-" + std::to_string(++counter));
  fs::create_directories(dir);
  return dir;
}

bool OnPostgres() { return TestServer::Get() != nullptr; }

std::string FreshLocation(std::string_view name) {
  if (const TestServer* server = TestServer::Get()) {
    return server->Url(ServerDatabaseName(name));
  }
  return (ScratchDir(name) / "data").string();
}

std::string LocationArgs(const std::string& location) {
  return (db::Store(location).IsServer() ? "--db '" : "--data '") + location + "'";
}

void DemoTest::SetUp() {
  const std::string& source = DemoTemplate();
  const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
  scratch_ = ScratchDir(std::string(info->test_suite_name()) + "." + info->name());
  if (const TestServer* server = TestServer::Get()) {
    std::string name = ServerDatabaseName(info->name());
    server->Copy(source, name);
    data_ = std::make_unique<host::DataDir>(server->Url(name));
    return;
  }
  for (const auto& entry : fs::directory_iterator(source)) {
    if (entry.path().extension() == ".db")
      fs::copy_file(entry.path(), scratch_ / entry.path().filename());
  }
  data_ = std::make_unique<host::DataDir>(scratch_.string());
}

std::string DemoTest::FreshDataArgs(std::string_view name) {
  return LocationArgs(OnPostgres() ? FreshLocation(name) : (scratch_ / std::string(name)).string());
}

std::string DemoTest::DataArgs() const { return LocationArgs(data_->Describe()); }

void DemoTest::TearDown() {
  cn_.reset();
  session_.reset();
  db::ClearConnectionPool();
  std::error_code ignored;
  fs::remove_all(scratch_, ignored);
  if (const TestServer* server = TestServer::Get(); server && data_) {
    // The test's copy goes now rather than at exit: a copy is some megabytes.
    std::string url = data_->Describe();
    std::string name = url.substr(url.rfind('/') + 1);
    server->Drop(name);
    auto& names = ServerDatabases();
    names.erase(std::remove(names.begin(), names.end(), name), names.end());
  }
}

void DemoTest::SetDatabaseReachable(bool reachable) {
  cn_.reset();
  if (const TestServer* server = TestServer::Get()) {
    // The idle connections of this process stay in their pool, ended by the server as they
    // would be by a restart.
    std::string url = data_->Describe();
    server->SetReachable(url.substr(url.rfind('/') + 1), reachable);
    return;
  }
  db::ClearConnectionPool();
  fs::path file = scratch_ / "qdsystem.db", away = scratch_ / "qdsystem.db.away";
  reachable ? fs::rename(away, file) : fs::rename(file, away);
}

std::unique_ptr<host::LocalSession> DemoTest::SessionFor(const std::string& user,
                                                         const std::string& language) const {
  host::SessionRequest request;
  request.user = user;
  request.language = language;
  return host::LocalSession::Open(*data_, request);
}

host::LocalSession& DemoTest::Session() {
  if (!session_) session_ = SessionFor();
  return *session_;
}

db::Connection& DemoTest::Cn() {
  if (!cn_) {
    cn_ = std::make_unique<db::Connection>();
    cn_->Open(Session().ConnectionString());
  }
  return *cn_;
}

xml::Document DemoTest::Call(std::string_view class_name, std::string_view request) {
  return Call(class_name, request, &Session());
}

xml::Document DemoTest::Call(std::string_view class_name, std::string_view request,
                             host::Session* session) {
  xml::Document doc;
  EXPECT_TRUE(doc.LoadXml(request)) << request;
  auto object = frame::CreateObject("Rembiz." + std::string(class_name));
  object->myHandle(session, doc);
  return doc;
}

std::string DemoTest::Dump(std::string_view table) {
  db::Recordset rs = Cn().Execute("select * from " + std::string(table));
  std::vector<std::string> lines;
  for (const auto& row : rs.Rows()) {
    std::string line;
    for (const auto& value : row) line += (value.IsNull() ? "<null>" : value.ToText()) + "|";
    lines.push_back(std::move(line));
  }
  std::sort(lines.begin(), lines.end());
  std::string out;
  for (const std::string& line : lines) out += line + "\n";
  return out;
}

namespace {

std::string RowText(const std::vector<db::Variant>& row) {
  std::string out;
  for (size_t i = 0; i < row.size(); ++i) {
    if (i > 0) out += '|';
    if (!row[i].IsNull()) out += row[i].ToText();
  }
  return out;
}

}  // namespace

std::string DemoTest::Scalar(std::string_view sql) {
  db::Recordset rs = Cn().Execute(sql);
  if (!rs.IsOpen() || rs.Rows().empty()) return "";
  return RowText(rs.Rows().front());
}

std::string DemoTest::Lines(std::string_view sql, std::string_view separator) {
  db::Recordset rs = Cn().Execute(sql);
  std::string out;
  if (!rs.IsOpen()) return out;
  for (const auto& row : rs.Rows()) {
    if (!out.empty() || &row != &rs.Rows().front()) out += separator;
    out += RowText(row);
  }
  return out;
}

}  // namespace rembiz::testing
