// The self-service pages as the service serves them (their walk in a browser is
// self_service_road.py): every file the pages load is there with its policy, no script writes
// markup, and a page of another site cannot post with the user's cookie.
#include "app/app_pages.h"

#include <gtest/gtest.h>
#include <httplib.h>
#include <spdlog/spdlog.h>

#include <regex>
#include <set>
#include <string>
#include <thread>

#include "app/http_service.h"
#include "host/embedded_files.h"
#include "host/messages.h"
#include "support/demo_fixture.h"

namespace rembiz::app {
namespace {

class AppPagesTest : public testing::DemoTest {
 protected:
  void SetUp() override {
    DemoTest::SetUp();
    spdlog::set_level(spdlog::level::warn);
    ServeOptions options;
    options.data_dir = Data().Path().string();
    options.port = 0;
    options.threads = 2;
    options.record_sessions = false;
    service_ = std::make_unique<HttpService>(options);
    port_ = service_->Bind();
    runner_ = std::thread([this] { service_->Run(); });
  }
  void TearDown() override {
    service_->Stop();
    runner_.join();
    service_.reset();
    DemoTest::TearDown();
  }

  httplib::Client Client() { return httplib::Client("127.0.0.1", port_); }
  std::string Self() const { return "http://127.0.0.1:" + std::to_string(port_); }

  // Posts with the given Origin header ("" for none) and the session cookie of `token`.
  httplib::Result Post(const std::string& path, const std::string& body, const std::string& origin,
                       const std::string& token = "") {
    httplib::Headers headers;
    if (!origin.empty()) headers.emplace("Origin", origin);
    if (!token.empty()) headers.emplace("Cookie", "rembiz_session=" + token);
    return Client().Post(path, headers, body, "application/x-www-form-urlencoded");
  }
  std::string Login(const std::string& user) {
    httplib::Result r = Post("/api/login", "user=" + user + "&password=" + user, Self());
    std::smatch m;
    std::string body = r ? r->body : "";
    return std::regex_search(body, m, std::regex("token=\"([0-9a-f]+)\"")) ? m[1].str() : "";
  }

  std::unique_ptr<HttpService> service_;
  std::thread runner_;
  int port_ = 0;
};

std::set<std::string> AppFiles() {
  std::set<std::string> names;
  for (const host::EmbeddedFile& file : host::EmbeddedFilesUnder("web/app/")) {
    names.insert(std::string(file.path.substr(8)));
  }
  return names;
}

TEST_F(AppPagesTest, EveryFileThePagesLoadIsServedWithThePolicy) {
  httplib::Result index = Client().Get("/app/");
  ASSERT_TRUE(index);
  ASSERT_EQ(index->status, 200);
  EXPECT_EQ(index->get_header_value("Content-Type"), "text/html; charset=utf-8");
  std::string policy = index->get_header_value("Content-Security-Policy");
  EXPECT_EQ(policy, kAppContentSecurityPolicy);
  EXPECT_NE(policy.find("script-src 'self';"), std::string::npos);
  EXPECT_EQ(policy.find("unsafe-inline"), std::string::npos);
  // No inline script: every script element loads a file.
  EXPECT_FALSE(std::regex_search(index->body, std::regex("<script(?![^>]*\\ssrc=)[^>]*>")));
  EXPECT_EQ(Client().Get("/app")->get_header_value("Location"), "/app/");

  // What index.html and the modules name is there, with the policy and the right type.
  std::set<std::string> files = AppFiles();
  std::set<std::string> named;
  std::regex reference(R"re((?:src|href)="/app/([\w.-]+)"|from '\./([\w.-]+)')re");
  for (const host::EmbeddedFile& file : host::EmbeddedFilesUnder("web/app/")) {
    std::string text(file.content);
    for (std::sregex_iterator it(text.begin(), text.end(), reference), end; it != end; ++it) {
      named.insert((*it)[1].matched ? (*it)[1].str() : (*it)[2].str());
    }
  }
  ASSERT_GE(named.size(), 10u);
  for (const std::string& name : named) {
    EXPECT_TRUE(files.count(name)) << name << " is named but not embedded";
    httplib::Result r = Client().Get("/app/" + name);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 200) << name;
    EXPECT_EQ(r->get_header_value("Content-Security-Policy"), kAppContentSecurityPolicy) << name;
    std::string type = name.ends_with(".js") ? "text/javascript" : "text/css";
    EXPECT_EQ(r->get_header_value("Content-Type").rfind(type, 0), 0u) << name;
  }
  for (const char* missing : {"/app/nosuch.js", "/app/..%2Fschema%2Fmessages%2Fen-US.tsv",
                              "/app/../console.js", "/app/Main.js"}) {
    httplib::Result r = Client().Get(missing);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 404) << missing;
    EXPECT_NE(r->body.find("<error>"), std::string::npos) << missing;
  }
}

// Values reach the document as text only; a markup writer in any page script would let a
// purpose such as "<script>…" run.
TEST_F(AppPagesTest, NoPageScriptWritesMarkup) {
  std::regex writer(
      R"(innerHTML|outerHTML|insertAdjacentHTML|document\.write|\beval\(|new Function)");
  for (const host::EmbeddedFile& file : host::EmbeddedFilesUnder("web/app/")) {
    std::string text(file.content);
    EXPECT_FALSE(std::regex_search(text, writer)) << file.path;
  }
}

TEST_F(AppPagesTest, PostsFromAnotherSiteAreRefusedAndChangeNothing) {
  std::string token = Login("clerk");
  ASSERT_FALSE(token.empty());
  const std::string save =
      "<req><func name='savevouch'><in><xml><head><z:row strTypeCode='201' strVouchID='ZC01' "
      "dtLoanDate='2020-03-01' strDepartID='0201' strLoanID='0002' strBill='人民币' "
      "fltRate='1' dblMoney='10' dblOldMoney='10' strUsed='forged' strPersonID='x'/></head>"
      "<body/></xml></in></func></req>";
  std::string refusal = host::MessageText("Rembiz.Host.HttpCrossOrigin", "en-US");
  for (const std::string& origin : {std::string("http://evil.example"), std::string("null"),
                                    Self() + ".evil.example", std::string("http://127.0.0.1:1")}) {
    httplib::Result r = Post("/api/CExpense", save, origin, token);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 403) << origin;
    EXPECT_NE(r->body.find("<id>Rembiz:serve:request:403</id>"), std::string::npos) << r->body;
    // Nor may another site log a browser in, or out.
    EXPECT_EQ(Post("/api/login", "user=clerk&password=clerk", origin)->status, 403) << origin;
    EXPECT_EQ(Post("/api/logout", "", origin, token)->status, 403) << origin;
  }
  httplib::Headers english{{"Origin", "http://evil.example"}, {"Accept-Language", "en-US"}};
  EXPECT_NE(Client().Post("/api/login", english, "", "text/plain")->body.find(refusal),
            std::string::npos);
  EXPECT_EQ(Scalar("select count(*) from EC_ExpenVouch where strUsed = 'forged'"), "0");

  // The pages' own origin (in either scheme behind a proxy) and clients without Origin pass.
  const std::string currencies = "<req><func name='currencyget'/></req>";
  EXPECT_EQ(Post("/api/CPubMsg", currencies, Self(), token)->status, 200);
  EXPECT_EQ(
      Post("/api/CPubMsg", currencies, "https://127.0.0.1:" + std::to_string(port_), token)->status,
      200);
  EXPECT_EQ(Post("/api/CPubMsg", currencies, "", token)->status, 200);
  EXPECT_EQ(Post("/api/CExpense", save, "", token)->status, 200);
  EXPECT_EQ(Scalar("select count(*) from EC_ExpenVouch where strUsed = 'forged'"), "1");
}

}  // namespace
}  // namespace rembiz::app
