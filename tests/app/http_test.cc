#include <gtest/gtest.h>
#include <httplib.h>
#include <spdlog/spdlog.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "app/http_fixture.h"
#include "app/http_service.h"
#include "app/session_store.h"
#include "db/connection.h"
#include "db/connection_string.h"
#include "db/test_seams.h"
#include "frame/business_object.h"
#include "frame/registry.h"
#include "support/demo_fixture.h"

namespace rembiz::app {
namespace {

// A class that holds its caller until the test opens the gate: it keeps a worker busy.
struct Gate {
  std::mutex mutex;
  std::condition_variable changed;
  int entered = 0;
  bool open = false;
};
Gate& TheGate() {
  static Gate gate;
  return gate;
}

class CTestGate : public frame::BusinessObject {
 public:
  void myHandle(host::Session*, xml::Document&) override {
    Gate& gate = TheGate();
    std::unique_lock lock(gate.mutex);
    ++gate.entered;
    gate.changed.notify_all();
    gate.changed.wait_for(lock, std::chrono::seconds(30), [&] { return gate.open; });
  }
  const std::string& ClassName() const override { return name_; }

 private:
  std::string name_ = "CTestGate";
};
frame::ClassRegistrar gate_registrar("Rembiz.CTestGate",
                                     [] { return std::make_unique<CTestGate>(); });

TEST_F(HttpTest, LoginChecksThePasswordAndKeepsOnlyTheTokenHash) {
  Start();
  httplib::Result refused =
      Client().Post("/api/login", httplib::Params{{"user", "demo"}, {"password", "wrong"}});
  ASSERT_TRUE(refused);
  EXPECT_EQ(refused->status, 401);
  EXPECT_FALSE(refused->has_header("Set-Cookie"));
  EXPECT_NE(refused->body.find("<error><id>Rembiz:serve:login:401</id>"), std::string::npos);

  // The XML form of the login answers the token in the body and in an HttpOnly cookie.
  httplib::Result ok = Post("/api/login", "<login user='demo' password='demo' account='001'/>");
  ASSERT_TRUE(ok);
  ASSERT_EQ(ok->status, 200) << ok->body;
  std::smatch m;
  ASSERT_TRUE(std::regex_search(ok->body, m, std::regex("token=\"([0-9a-f]{64})\"")));
  std::string token = m[1];
  std::string cookie = ok->get_header_value("Set-Cookie");
  EXPECT_EQ(cookie.rfind("rembiz_session=" + token + ";", 0), 0u) << cookie;
  EXPECT_NE(cookie.find("HttpOnly"), std::string::npos);
  EXPECT_NE(cookie.find("SameSite=Strict"), std::string::npos);
  EXPECT_EQ(SessionRows(token), 1);  // found by the hash; the token itself is nowhere
}

TEST_F(HttpTest, CallsNeedASessionAndAnswerTheDocument) {
  Start();
  httplib::Result r = Post("/api/CPubMsg", kCurrencies);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 401);
  EXPECT_EQ(Post("/api/CPubMsg", kCurrencies, std::string(64, 'a'))->status, 401);

  std::string token = Login("demo", "demo");
  ASSERT_FALSE(token.empty());
  r = Post("/api/CPubMsg", "<req><func name='currencyget'/><func name='nosuch'/></req>", token);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 200);
  EXPECT_EQ(r->get_header_value("Content-Type"), "application/xml; charset=utf-8");
  xml::Document answer;
  ASSERT_TRUE(answer.LoadXml(r->body)) << r->body;
  EXPECT_EQ(answer.DocumentElement().Name(), "req");
  EXPECT_FALSE(answer.SelectSingleNode("/req/func[@name='currencyget']/out").IsNull()) << r->body;
  EXPECT_FALSE(answer.SelectSingleNode("/req/func[@name='nosuch']/out").IsNull()) << r->body;

  // The cookie and the X-Rembiz-Session header carry the session as well.
  httplib::Headers by_cookie{{"Cookie", "theme=dark; rembiz_session=" + token}};
  EXPECT_EQ(Client().Post("/api/CPubMsg", by_cookie, kCurrencies, "application/xml")->status, 200);
  httplib::Headers by_header{{"X-Rembiz-Session", token}};
  EXPECT_EQ(Client().Post("/api/CPubMsg", by_header, kCurrencies, "application/xml")->status, 200);

  // A refusal by the class is the system's answer: an error document with status 200.
  std::string clerk = Login("clerk", "clerk");
  r = Post("/api/CMakePZ", "<req><func name='makepz'/></req>", clerk);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 200);
  ASSERT_TRUE(answer.LoadXml(r->body)) << r->body;
  EXPECT_EQ(answer.DocumentElement().Name(), "error") << r->body;
}

TEST_F(HttpTest, RefusesWhatIsNotACall) {
  Start();
  std::string token = Login("demo", "demo");
  ASSERT_FALSE(token.empty());

  httplib::Result r = Post("/api/CPubMsg", "<req><func name='currencyget'></req>", token);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 400);
  EXPECT_NE(r->body.find("<id>Rembiz:serve:CPubMsg:400</id>"), std::string::npos) << r->body;
  EXPECT_EQ(Post("/api/CPubMsg", "", token)->status, 400);

  r = Post("/api/CNoSuch", "<req/>", token);
  EXPECT_EQ(r->status, 404);
  EXPECT_NE(r->body.find("CNoSuch"), std::string::npos) << r->body;
  // Without a session even the class stays unanswered.
  EXPECT_EQ(Post("/api/CNoSuch", "<req/>")->status, 401);

  std::string big =
      "<req><func name='currencyget'><in>" + std::string(70 * 1024, 'x') + "</in></func></req>";
  r = Post("/api/CPubMsg", big, token);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 413);
  EXPECT_NE(r->body.find("<error>"), std::string::npos);

  EXPECT_EQ(Client().Get("/healthz")->status, 200);
  EXPECT_EQ(Client().Get("/no/such/page")->status, 404);
  r = Client().Get("/");
  EXPECT_EQ(r->status, 200);
  EXPECT_NE(r->body.find("/console.js"), std::string::npos);
}

TEST_F(HttpTest, LogoutEndsTheSession) {
  Start();
  std::string token = Login("demo", "demo");
  ASSERT_FALSE(token.empty());
  ASSERT_EQ(Post("/api/CPubMsg", kCurrencies, token)->status, 200);

  httplib::Result r = Post("/api/logout", "", token);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 200);
  EXPECT_NE(r->get_header_value("Set-Cookie").find("Max-Age=0"), std::string::npos);
  EXPECT_EQ(Post("/api/CPubMsg", kCurrencies, token)->status, 401);
  EXPECT_EQ(Post("/api/logout", "", token)->status, 401);
  EXPECT_EQ(SessionRows(token), 0);
}

TEST_F(HttpTest, ConcurrentRequestsOfOneSessionAreAllAnswered) {
  Start();
  std::string token = Login("demo", "demo");
  ASSERT_FALSE(token.empty());
  constexpr int kThreads = 8, kPerThread = 10;
  std::atomic<int> answered = 0;
  std::vector<std::thread> clients;
  for (int t = 0; t < kThreads; ++t) {
    clients.emplace_back([&, t] {
      for (int i = 0; i < kPerThread; ++i) {
        // CLoan applies for its function task, so the session's task bookkeeping is exercised.
        bool loan = (t + i) % 2 == 0;
        httplib::Result r = loan
                                ? Post("/api/CLoan", "<req><func name='getOperList'/></req>", token)
                                : Post("/api/CPubMsg", kCurrencies, token);
        if (r && r->status == 200 && r->body.find("<out") != std::string::npos &&
            r->body.find("<error>") == std::string::npos) {
          ++answered;
        }
      }
    });
  }
  for (std::thread& client : clients) client.join();
  EXPECT_EQ(answered, kThreads * kPerThread);
}

TEST_F(HttpTest, ConcurrentClaimSavesAllLandWithDistinctNumbers) {
  Start();
  std::string token = Login("clerk", "clerk");
  ASSERT_FALSE(token.empty());
  std::string year = Scalar("select year(getdate())");
  // Every save types the same number: the numbering service must hand out distinct ones.
  const std::string request =
      "<req><func name='savevouch'><in><xml><head><z:row strTypeCode='201' strVouchID='ZC" + year +
      "030001' dtLoanDate='" + year +
      "-03-20T00:00:00' strDepartID='0201' strLoanID='0002' strBill='人民币' fltRate='1' "
      "dblMoney='100' dblOldMoney='100' strUsed='x' strPersonID='Carl Clerk'/></head><body>"
      "<row strIOItem='203' dblMoney='100'/></body></xml></in></func></req>";
  constexpr int kThreads = 8, kPerThread = 2;
  std::atomic<int> saved = 0;
  std::mutex mutex;
  std::string refused;
  std::vector<std::thread> clients;
  for (int t = 0; t < kThreads; ++t) {
    clients.emplace_back([&] {
      for (int i = 0; i < kPerThread; ++i) {
        httplib::Result r = Post("/api/CExpense", request, token);
        if (r && r->status == 200 && r->body.find("<error>") == std::string::npos) {
          ++saved;
        } else {
          std::lock_guard lock(mutex);
          refused = r ? r->body : "no answer";
        }
      }
    });
  }
  for (std::thread& client : clients) client.join();
  EXPECT_EQ(saved, kThreads * kPerThread) << refused;
  EXPECT_EQ(Scalar("select count(*) from EC_ExpenVouch"), std::to_string(kThreads * kPerThread));
  EXPECT_EQ(Scalar("select count(distinct strVouchID) from EC_ExpenVouch"),
            std::to_string(kThreads * kPerThread));
  EXPECT_EQ(Scalar("select count(*) from EC_ExpenVouch_Sub"),
            std::to_string(kThreads * kPerThread));
}

TEST_F(HttpTest, AFullQueueAnswers503AndTheQueuedCallsStillFinish) {
  Start(/*threads=*/1, /*queue=*/1);
  std::string token = Login("demo", "demo");
  ASSERT_FALSE(token.empty());
  Gate& gate = TheGate();
  {
    std::lock_guard lock(gate.mutex);
    gate.entered = 0;
    gate.open = false;
  }
  std::optional<int> first, second;
  std::thread a([&] { first = Post("/api/CTestGate", "<req/>", token)->status; });
  {
    std::unique_lock lock(gate.mutex);
    ASSERT_TRUE(
        gate.changed.wait_for(lock, std::chrono::seconds(30), [&] { return gate.entered == 1; }));
  }
  std::thread b([&] { second = Post("/api/CTestGate", "<req/>", token)->status; });
  for (int i = 0; i < 3000 && service_->WaitingCalls() < 1; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_EQ(service_->WaitingCalls(), 1u);

  httplib::Result r = Post("/api/CPubMsg", kCurrencies, token);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 503);
  EXPECT_EQ(r->get_header_value("Retry-After"), "1");

  {
    std::lock_guard lock(gate.mutex);
    gate.open = true;
  }
  gate.changed.notify_all();
  a.join();
  b.join();
  EXPECT_EQ(first, 200);
  EXPECT_EQ(second, 200);
  EXPECT_EQ(Post("/api/CPubMsg", kCurrencies, token)->status, 200);
}

TEST_F(HttpTest, StopLetsTheCallsInFlightFinish) {
  Start(/*threads=*/1, /*queue=*/4);
  std::string token = Login("demo", "demo");
  ASSERT_FALSE(token.empty());
  Gate& gate = TheGate();
  {
    std::lock_guard lock(gate.mutex);
    gate.entered = 0;
    gate.open = false;
  }
  std::optional<int> status;
  std::thread call([&] { status = Post("/api/CTestGate", "<req/>", token)->status; });
  {
    std::unique_lock lock(gate.mutex);
    ASSERT_TRUE(
        gate.changed.wait_for(lock, std::chrono::seconds(30), [&] { return gate.entered == 1; }));
  }
  service_->Stop();
  EXPECT_FALSE(Client().Get("/healthz"));  // no longer listening
  {
    std::lock_guard lock(gate.mutex);
    gate.open = true;
  }
  gate.changed.notify_all();
  call.join();
  runner_.join();  // Run returns once the call is answered
  EXPECT_EQ(status, 200);
}

class SessionStoreTest : public testing::DemoTest {};

TEST_F(SessionStoreTest, SessionsExpireWhenIdleAndRequestsGetTheirOwnCopy) {
  SessionStore::Clock::time_point now{};
  SessionStore store(std::chrono::minutes(30), [&] { return now; });
  std::string token = store.Add(SessionFor("demo"));
  EXPECT_TRUE(SessionStore::LooksLikeToken(token));
  EXPECT_EQ(SessionStore::HashToken("not a token"), "");
  std::string other = token;
  other.back() = other.back() == '0' ? '1' : '0';
  EXPECT_FALSE(store.Checkout(other));

  // A copy for one request: changing it leaves the kept session alone.
  std::unique_ptr<host::LocalSession> copy = store.Checkout(token);
  ASSERT_TRUE(copy);
  copy->SetLanguage("en-US");
  EXPECT_EQ(store.Find(token)->LanguageId(), "zh-CN");

  // Each use restarts the idle time.
  now += std::chrono::minutes(29);
  ASSERT_TRUE(store.Checkout(token));
  now += std::chrono::minutes(29);
  ASSERT_TRUE(store.Find(token));
  now += std::chrono::minutes(2);
  EXPECT_FALSE(store.Checkout(token));
  EXPECT_FALSE(store.Remove(token));
  EXPECT_EQ(store.Sweep(), std::vector<std::string>{SessionStore::HashToken(token)});
  EXPECT_EQ(store.Size(), 0u);
}

// Two stores on one database stand for two service processes: they share nothing but its rows.
TEST_F(SessionStoreTest, SharedSessionsAreKnownToEveryStoreOnTheDatabase) {
  SessionStore one(std::chrono::minutes(30), Data());
  SessionStore two(std::chrono::minutes(30), Data());
  std::string token = one.Add(SessionFor("clerk", "en-US"), "10.0.0.1");
  EXPECT_EQ(Scalar("select cUser_Id, cLocaleId, cStation from qdsystem..UA_Session"),
            "clerk|en-US|10.0.0.1");

  std::unique_ptr<host::LocalSession> there = two.Checkout(token);
  ASSERT_TRUE(there);
  EXPECT_EQ(there->UserId(), "clerk");
  EXPECT_EQ(there->LanguageId(), "en-US");
  EXPECT_EQ(there->Holder(), SessionStore::HashToken(token));
  EXPECT_EQ(two.Size(), 1u);

  // A logout through either ends the session on both, with the tasks it held.
  Cn().Execute(
      "insert into qdsystem..UA_Task (cAcc_Id, iYear, cSub_Id, cAuth_Id, cUser_Id, "
      "cSession) values ('001', 2000, 'EC', 'EC020301', 'clerk', '" +
      SessionStore::HashToken(token) + "')");
  EXPECT_TRUE(two.Remove(token));
  EXPECT_FALSE(one.Checkout(token));
  EXPECT_FALSE(one.Remove(token));
  EXPECT_EQ(Scalar("select count(*) from qdsystem..UA_Session"), "0");
  EXPECT_EQ(Scalar("select count(*) from qdsystem..UA_Task"), "0");

  // Idle time is the database's: a session unused past the limit is gone everywhere.
  token = one.Add(SessionFor("demo"));
  ASSERT_TRUE(two.Find(token));
  Cn().Execute("update qdsystem..UA_Session set dLastSeen = dateadd(minute, -31, getdate())");
  EXPECT_FALSE(one.Find(token));
  EXPECT_FALSE(two.Checkout(token));
  EXPECT_EQ(Scalar("select count(*) from qdsystem..UA_Session"), "0");
}

// A request looks at its session once: the session's row and whether its operator may still
// work come in one query; a disabled operator's session ends at that look, with its tasks.
TEST_F(SessionStoreTest, ARequestReadsItsSessionInOneQueryAndADisabledUserEndsThere) {
  SessionStore one(std::chrono::minutes(30), Data());
  SessionStore two(std::chrono::minutes(30), Data());
  std::string token = one.Add(SessionFor("clerk"));
  ASSERT_TRUE(two.Checkout(token));  // the first look of another process builds its session
  for (SessionStore* store : {&one, &two}) {
    int64_t before = db::ThreadStatementCount();
    std::string disabled;
    ASSERT_TRUE(store->Checkout(token, &disabled));
    EXPECT_EQ(db::ThreadStatementCount() - before, 1);
    EXPECT_EQ(disabled, "");
  }

  Cn().Execute(
      "insert into qdsystem..UA_Task (cAcc_Id, iYear, cSub_Id, cAuth_Id, cUser_Id, cSession) "
      "values ('001', 2000, 'EC', 'EC020301', 'clerk', '" +
      SessionStore::HashToken(token) + "')");
  Cn().Execute("update qdsystem..UA_User set bDisabled = 1 where cUser_Id = 'CLERK'");
  std::string disabled;
  EXPECT_FALSE(two.Checkout(token, &disabled));
  EXPECT_EQ(disabled, "clerk");
  EXPECT_EQ(Scalar("select count(*) from qdsystem..UA_Session"), "0");
  EXPECT_EQ(Scalar("select count(*) from qdsystem..UA_Task"), "0");
  // Enabled again, the operator logs in again: the ended session stays ended everywhere.
  Cn().Execute("update qdsystem..UA_User set bDisabled = 0 where cUser_Id = 'clerk'");
  disabled.clear();
  EXPECT_FALSE(one.Find(token, &disabled));
  EXPECT_EQ(disabled, "");

  // A removed operator is no more welcome; sessions of one process alone are checked too.
  token = one.Add(SessionFor("clerk"));
  Cn().Execute("delete from qdsystem..UA_User where cUser_Id = 'clerk'");
  EXPECT_FALSE(two.Find(token, &disabled));
  EXPECT_EQ(disabled, "clerk");
  SessionStore own(std::chrono::minutes(30));
  token = own.Add(SessionFor("demo"));
  ASSERT_TRUE(own.Checkout(token));
  Cn().Execute("update qdsystem..UA_User set bDisabled = 1 where cUser_Id = 'demo'");
  disabled.clear();
  EXPECT_FALSE(own.Checkout(token, &disabled));
  EXPECT_EQ(disabled, "demo");
  EXPECT_EQ(own.Size(), 0u);
}

}  // namespace
}  // namespace rembiz::app
