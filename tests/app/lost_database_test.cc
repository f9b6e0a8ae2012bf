// The service while its database is out of reach (a server stopped, a file gone): every route
// and the readiness check answer 503 with Retry-After and the plain text of the message, never
// what the driver said, and the same sessions go on once the database is back.
#include <spdlog/sinks/ringbuffer_sink.h>

#include "app/http_fixture.h"
#include "host/messages.h"

namespace rembiz::app {
namespace {

using LostDatabaseTest = LoggedHttpTest;

TEST_F(LostDatabaseTest, EveryRouteAnswers503UntilTheDatabaseIsBack) {
  Start();
  std::string token = Login("clerk", "clerk");
  ASSERT_FALSE(token.empty());
  httplib::Headers auth{{"Authorization", "Bearer " + token}};
  httplib::Headers english{{"Authorization", "Bearer " + token}, {"Accept-Language", "en-US"}};
  SetDatabaseReachable(false);

  const std::string text = host::MessageText("Rembiz.Host.DatabaseUnreachable", "zh-CN");
  const std::pair<std::string, httplib::Result> answers[] = {
      {"call", Post("/api/CPubMsg", kCurrencies, token)},
      {"report", Client().Get("/api/report/loans", auth)},
      {"session", Client().Get("/api/session", auth)},
      {"login", Client().Post("/api/login", httplib::Params{{"user", "demo"}, {"password", "x"}})},
      {"logout", Client().Post("/api/logout", auth, "", "text/plain")},
  };
  for (const auto& [what, r] : answers) {
    ASSERT_TRUE(r) << what;
    EXPECT_EQ(r->status, 503) << what;
    EXPECT_EQ(r->get_header_value("Retry-After"), "5") << what;
    EXPECT_NE(r->body.find("<text>" + text + "</text>"), std::string::npos) << what << r->body;
  }
  httplib::Result r = Client().Get("/api/classes", english);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 503);
  EXPECT_NE(r->body.find(host::MessageText("Rembiz.Host.DatabaseUnreachable", "en-US")),
            std::string::npos)
      << r->body;
  // What the driver said is in the log.
  EXPECT_NE(Log().find("the database cannot be reached: "), std::string::npos);
  // Readiness says so too.
  r = Client().Get("/readyz", english);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 503);
  EXPECT_EQ(r->get_header_value("Retry-After"), "5");
  EXPECT_NE(r->body.find(host::MessageText("Rembiz.Host.DatabaseUnreachable", "en-US")),
            std::string::npos)
      << r->body;

  SetDatabaseReachable(true);
  EXPECT_EQ(Client().Get("/readyz")->status, 200);
  r = Post("/api/CPubMsg", kCurrencies, token);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 200) << r->body;
  EXPECT_NE(r->body.find("cexch_name"), std::string::npos) << r->body;
  EXPECT_FALSE(Login("demo", "demo").empty());
}

// A database server restarted while nobody called ended the connections the service keeps open:
// the next calls get new ones instead of failing on the old.
TEST_F(LostDatabaseTest, ARestartBetweenCallsCostsNoCall) {
  Start();
  std::string token = Login("clerk", "clerk");
  ASSERT_FALSE(token.empty());
  ASSERT_EQ(Post("/api/CPubMsg", kCurrencies, token)->status, 200);
  SetDatabaseReachable(false);
  SetDatabaseReachable(true);
  for (int i = 0; i < 3; ++i) {
    httplib::Result r = Post("/api/CPubMsg", kCurrencies, token);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 200) << i << r->body;
  }
}

}  // namespace
}  // namespace rembiz::app
