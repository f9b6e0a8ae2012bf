#include "support/demo_fixture.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <vector>

#include "db/recordset.h"
#include "frame/registry.h"
#include "host/login_guard.h"

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

const host::DataDir& DemoTemplate() {
  static const host::DataDir dir = [] {
    host::DataDir data(TestRoot() / "template");
    host::InitOptions options;
    options.demo = true;
    host::InitDataDirectory(data, options);
    return data;
  }();
  return dir;
}

}  // namespace

fs::path ScratchDir(std::string_view name) {
  static std::atomic<int> counter{0};
  fs::path dir = TestRoot() / (std::string(name) + "-" + std::to_string(++counter));
  fs::create_directories(dir);
  return dir;
}

void DemoTest::SetUp() {
  // Failed password checks of an earlier test must not lock this one out.
  host::LoginGuard::Instance().Clear();
  const host::DataDir& source = DemoTemplate();
  const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
  fs::path dir = ScratchDir(std::string(info->test_suite_name()) + "." + info->name());
  for (const auto& entry : fs::directory_iterator(source.Path())) {
    if (entry.path().extension() == ".db")
      fs::copy_file(entry.path(), dir / entry.path().filename());
  }
  data_ = std::make_unique<host::DataDir>(dir);
}

void DemoTest::TearDown() {
  cn_.reset();
  session_.reset();
  db::ClearConnectionPool();
  std::error_code ignored;
  fs::remove_all(data_->Path(), ignored);
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

std::string DemoTest::Scalar(std::string_view sql) {
  db::Recordset rs = Cn().Execute(sql);
  if (!rs.IsOpen() || rs.Eof()) return "";
  return rs.Value(0).ToText();
}

}  // namespace rembiz::testing
