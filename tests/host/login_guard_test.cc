// Password guesses: the guard's arithmetic on a clock of its own, guards sharing their counts
// through the database, and the two places that check passwords (the log-in and CPubMsg's log-in
// information) on the demo company.
#include "host/login_guard.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "host/local_session.h"
#include "host/messages.h"
#include "support/demo_fixture.h"

namespace rembiz::host {
namespace {

using std::chrono::seconds;

class LoginGuardTest : public testing::DemoTest {
 protected:
  void TearDown() override {
    LoginGuard::SetReporter(nullptr);
    DemoTest::TearDown();
  }
  // A guard on the test's system database with the usual rules and the test's clock.
  LoginGuard Guard(LoginGuard::Options options = LoginGuard::Options()) {
    return LoginGuard(Data().SystemConnectionString(), options, [this] { return now_; });
  }

  LoginGuard::Clock::time_point now_ = LoginGuard::Clock::now();
};

TEST_F(LoginGuardTest, LocksDoubleAfterTheFreeFailuresAndAreReported) {
  LoginGuard guard = Guard();
  std::vector<std::string> reports;
  LoginGuard::SetReporter([&](const std::string& report) { reports.push_back(report); });

  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(guard.WaitSeconds("demo", "10.0.0.1"), 0) << i;
    guard.Failed("demo", "10.0.0.1");
  }
  EXPECT_TRUE(reports.empty());
  EXPECT_EQ(guard.WaitSeconds("demo", "10.0.0.1"), 0);
  guard.Failed("Demo ", "10.0.0.1");  // names compare like user ids: case and blanks ignored
  EXPECT_EQ(guard.WaitSeconds("demo", "10.0.0.2"), 1);   // the user, from anywhere
  EXPECT_EQ(guard.WaitSeconds("clerk", "10.0.0.1"), 1);  // anyone, from that client
  EXPECT_EQ(guard.WaitSeconds("clerk", "10.0.0.2"), 0);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_NE(reports[0].find("user demo locked for 1 s after 6 failed"), std::string::npos)
      << reports[0];
  EXPECT_NE(reports[0].find("client 10.0.0.1 locked for 1 s"), std::string::npos);

  now_ += seconds(1);
  guard.Failed("demo", "10.0.0.1");
  EXPECT_EQ(guard.WaitSeconds("demo", "x"), 2);
  now_ += seconds(2);
  guard.Failed("demo", "10.0.0.1");
  EXPECT_EQ(guard.WaitSeconds("demo", "x"), 4);
  for (int i = 0; i < 20; ++i) guard.Failed("demo", "10.0.0.1");
  EXPECT_EQ(guard.WaitSeconds("demo", "x"), 300);  // the longest lock

  // A right password clears the user, not the client that guessed.
  guard.Succeeded("demo");
  EXPECT_EQ(guard.WaitSeconds("demo", "10.0.0.9"), 0);
  EXPECT_EQ(guard.WaitSeconds("clerk", "10.0.0.1"), 300);
  // Quiet keys start afresh, and their rows go.
  now_ += seconds(15 * 60 + 301);
  guard.Failed("clerk", "10.0.0.1");
  EXPECT_EQ(guard.WaitSeconds("clerk", "10.0.0.1"), 0);
  EXPECT_EQ(Scalar("select count(*) from qdsystem..UA_LoginFailure"), "2");
  // Neither names nor addresses are kept.
  EXPECT_EQ(Scalar("select count(*) from qdsystem..UA_LoginFailure where cKey like '%clerk%' or "
                   "cKey like '%10.0.0%'"),
            "0");
}

// Guards of their own (as in processes of their own) on one database share the counts, also
// when they count at the same moment.
TEST_F(LoginGuardTest, GuardsOnOneDatabaseShareTheirCounts) {
  constexpr int kGuards = 6, kEach = 5;
  LoginGuard::Options options;
  options.free_failures = kGuards * kEach;
  std::vector<std::thread> threads;
  for (int g = 0; g < kGuards; ++g) {
    threads.emplace_back([&, g] {
      LoginGuard guard = Guard(options);
      for (int i = 0; i < kEach; ++i) guard.Failed("approver", "10.4.4." + std::to_string(g));
    });
  }
  for (std::thread& thread : threads) thread.join();
  LoginGuard other = Guard(options);
  EXPECT_EQ(other.WaitSeconds("approver", "10.5.5.5"), 0);  // exactly the free failures so far
  other.Failed("approver", "10.5.5.5");
  EXPECT_EQ(Guard(options).WaitSeconds("approver", "10.5.5.5"), 1);
}

class LoginGuardOnDemoTest : public testing::DemoTest {
 protected:
  // Log-in of `user`; "" when it succeeds, else the refusal.
  std::string Login(const std::string& user, const std::string& password,
                    const std::string& client = "10.1.1.1") {
    SessionRequest request;
    request.user = user;
    request.client = client;
    try {
      LocalSession::Login(Data(), request, password);
      return "";
    } catch (const ComError& e) {
      return e.Description();
    }
  }
};

TEST_F(LoginGuardOnDemoTest, RepeatedGuessesLockTheRightPasswordOutToo) {
  const std::string refused = MessageText("Rembiz.Host.LoginRefused", "zh-CN");
  for (int i = 0; i < 6; ++i) EXPECT_EQ(Login("demo", "guess" + std::to_string(i)), refused);
  EXPECT_EQ(Login("demo", "demo"), MessageText("Rembiz.Host.LoginLocked", "zh-CN", "1"));
  // Another user from another client is not held up.
  EXPECT_EQ(Login("clerk", "clerk", "10.2.2.2"), "");
}

TEST_F(LoginGuardOnDemoTest, UnknownUsersAreRefusedAsSlowlyAsKnownOnes) {
  // The quickest of several tries: other work on a busy machine only ever adds time.
  auto quickest_of = [&](const std::string& user) {
    auto quickest = std::chrono::steady_clock::duration::max();
    for (int i = 0; i < 4; ++i) {
      auto start = std::chrono::steady_clock::now();
      EXPECT_FALSE(Login(user, "wrong", "10.3.3." + std::to_string(i)).empty());
      quickest = std::min(quickest, std::chrono::steady_clock::now() - start);
    }
    return quickest;
  };
  // The first check opens the connections and reads the tables' layout: not measured.
  EXPECT_FALSE(Login("clerk", "wrong", "10.3.3.9").empty());
  auto known = quickest_of("approver");
  auto unknown = quickest_of("no-such-user");
  // The same hashing work either way; generous bounds for a busy machine.
  EXPECT_GT(unknown * 3, known) << "unknown " << unknown.count() << " known " << known.count();
  EXPECT_GT(known * 3, unknown) << "unknown " << unknown.count() << " known " << known.count();
}

TEST_F(LoginGuardOnDemoTest, ZtInfoGetGuessesAreThrottledToo) {
  auto zt_info = [&](const std::string& uid, const std::string& pwd) {
    xml::Document doc = Call("CPubMsg",
                             "<req><func name='ztinfoget'><in><uid>" + uid + "</uid><pwd>" + pwd +
                                 "</pwd></in></func></req>",
                             SessionFor("clerk").get());
    return doc.SelectSingleNode("//out/error/text").Text();
  };
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(zt_info("demo", "guess"), MessageText("Q7.Rembiz.0084", "zh-CN")) << i;
  }
  EXPECT_EQ(zt_info("demo", "demo"), MessageText("Rembiz.Host.LoginLocked", "zh-CN", "1"));
}

}  // namespace
}  // namespace rembiz::host
