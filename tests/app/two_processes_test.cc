// Two `rembiz serve` processes on one database, as behind a load balancer: they share nothing
// but the database, yet numbers stay unique, no save is lost, a session made on one is valid on
// the other, an exclusive function held through one is refused through the other, and password
// guesses count on both.
#include <gtest/gtest.h>
#include <httplib.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "db/connection.h"
#include "db/transaction.h"
#include "host/messages.h"
#include "support/demo_fixture.h"
#include "support/serve_process.h"

namespace rembiz::app {
namespace {

using testing::ServeProcess;

class TwoProcessesTest : public testing::DemoTest {
 protected:
  std::string Year() { return Session().FiscalYear(); }

  // Every save types a number already taken or about to be: the numbering hands out the rest.
  std::string Loan() {
    return "<req><func name='savevouch'><in><xml><head blnBegin='0'><z:row strTypeCode='301' "
           "strVouchID='JK" +
           Year() + "030001' dtLoanDate='" + Year() +
           "-03-05T00:00:00' strDepartID='0201' strLoanID='0002' strBill='人民币' fltRate='1' "
           "dblMoney='800' dblOldMoney='800' strUsed='trip'/></head><body><row strBalanceID='1' "
           "dblMoney='800'/></body></xml></in></func></req>";
  }
  std::string Claim() {
    return "<req><func name='savevouch'><in><xml><head><z:row strTypeCode='201' strVouchID='ZC" +
           Year() + "030001' dtLoanDate='" + Year() +
           "-03-20T00:00:00' strDepartID='0201' strLoanID='0002' strBill='人民币' fltRate='1' "
           "dblMoney='100' dblOldMoney='100' strUsed='x'/></head><body><row strIOItem='203' "
           "dblMoney='100'/></body></xml></in></func></req>";
  }
  static bool Saved(const httplib::Result& r) { return testing::Answered(r); }
};

TEST_F(TwoProcessesTest, ShareNumbersRowsAndSessions) {
  ServeProcess a(REMBIZ_BIN, DataArgs(), Scratch() / "a.log");
  ServeProcess b(REMBIZ_BIN, DataArgs(), Scratch() / "b.log");
  ASSERT_NE(a.Port(), 0) << "the first service did not start";
  ASSERT_NE(b.Port(), 0) << "the second service did not start";

  // A session made on one process is valid on the other.
  std::string clerk = a.Login("clerk");
  ASSERT_FALSE(clerk.empty());
  httplib::Client to_b("127.0.0.1", b.Port());
  httplib::Result session = to_b.Get("/api/session", {{"Authorization", "Bearer " + clerk}});
  ASSERT_TRUE(session);
  EXPECT_EQ(session->status, 200);
  EXPECT_NE(session->body.find("clerk"), std::string::npos) << session->body;

  // Eight clients, each alternating between the processes and between loans and claims.
  constexpr int kClients = 8, kPerClient = 4;
  std::atomic<int> loans = 0, claims = 0;
  std::mutex mutex;
  std::string refused;
  std::vector<std::thread> clients;
  for (int c = 0; c < kClients; ++c) {
    clients.emplace_back([&, c] {
      for (int i = 0; i < kPerClient; ++i) {
        const ServeProcess& to = (c + i) % 2 == 0 ? a : b;
        const bool loan = c % 2 == 0;
        httplib::Result r =
            to.Post(loan ? "/api/CLoan" : "/api/CExpense", loan ? Loan() : Claim(), clerk);
        if (Saved(r)) {
          ++(loan ? loans : claims);
        } else {
          std::lock_guard lock(mutex);
          refused = r ? r->body : "no answer";
        }
      }
    });
  }
  for (std::thread& client : clients) client.join();
  const int each = kClients / 2 * kPerClient;
  EXPECT_EQ(loans, each) << refused;
  EXPECT_EQ(claims, each) << refused;
  EXPECT_EQ(Scalar("select count(*), count(distinct strVouchID) from EC_LoanVouch"),
            std::to_string(each) + "|" + std::to_string(each));
  EXPECT_EQ(Scalar("select count(*), count(distinct strVouchID) from EC_ExpenVouch"),
            std::to_string(each) + "|" + std::to_string(each));
  EXPECT_EQ(Scalar("select count(*) from EC_LoanVouch_Sub s join EC_LoanVouch v on v.GUID = "
                   "s.MGuid"),
            std::to_string(each));
  EXPECT_EQ(Scalar("select count(*) from EC_ExpenVouch_Sub s join EC_ExpenVouch v on v.GUID = "
                   "s.MGuid"),
            std::to_string(each));

  // A logout through the second process ends the session on the first.
  ASSERT_TRUE(Saved(b.Post("/api/logout", "", clerk)));
  httplib::Result after = a.Post("/api/CExpense", Claim(), clerk);
  ASSERT_TRUE(after);
  EXPECT_EQ(after->status, 401);
}

// Claims and loans exclude each other. A claim save of the clerk through the first process is
// held up inside its function (this test holds the numbering's rows), and meanwhile the second
// process refuses a loan save to another operator. (On SQLite a writer holds the whole database:
// no second request could get as far as its function while the first one writes.)
TEST_F(TwoProcessesTest, AnExclusiveFunctionHeldThroughOneIsRefusedThroughTheOther) {
  if (!testing::OnPostgres()) GTEST_SKIP() << "writers of one SQLite database never overlap";
  ServeProcess a(REMBIZ_BIN, DataArgs(), Scratch() / "a.log");
  ServeProcess b(REMBIZ_BIN, DataArgs(), Scratch() / "b.log");
  ASSERT_NE(a.Port(), 0) << "the first service did not start";
  ASSERT_NE(b.Port(), 0) << "the second service did not start";
  // Sessions read the exclusions when they are opened.
  Cn().Execute(
      "insert into qdsystem..UA_TaskExclusion (cAuth_Id, cExclusive_Id) values "
      "('EC020301', 'EC020101')");
  std::string clerk = a.Login("clerk");
  ASSERT_FALSE(clerk.empty());
  // The typed number is taken, and the second save made the numbering's row that the test will
  // hold.
  ASSERT_TRUE(Saved(a.Post("/api/CExpense", Claim(), clerk)));
  ASSERT_TRUE(Saved(a.Post("/api/CExpense", Claim(), clerk)));

  std::string demo = b.Login("demo");
  ASSERT_FALSE(demo.empty());
  db::Connection holder;
  holder.Open(Session().ConnectionString());
  std::optional<db::Transaction> hold;
  hold.emplace(holder);
  holder.Execute("update Host_BillSerial set iLastNo = iLastNo");
  bool held_saved = false;
  std::string held_answer;
  std::thread claim([&] {
    httplib::Result r = a.Post("/api/CExpense", Claim(), clerk);
    held_saved = Saved(r);
    held_answer = r ? r->body : "no answer";
  });
  bool running = false;
  for (int i = 0; i < 100 && !running; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    running = Scalar("select count(*) from qdsystem..UA_Task where cAuth_Id = 'EC020301'") == "1";
  }
  EXPECT_TRUE(running) << "the claim save did not get to its function";
  httplib::Result loan = b.Post("/api/CLoan", Loan(), demo);
  std::string refusal = loan ? loan->body : "no answer";
  hold.reset();  // the claim goes on
  EXPECT_NE(refusal.find(host::MessageText("Rembiz.Host.TaskInUse", "zh-CN", "EC020301", "clerk")),
            std::string::npos)
      << refusal;
  claim.join();
  EXPECT_TRUE(held_saved) << held_answer;
  EXPECT_EQ(Scalar("select count(*) from qdsystem..UA_Task"), "0");
  EXPECT_TRUE(Saved(b.Post("/api/CLoan", Loan(), demo)));
}

// Guesses spread over both processes count as guesses at one service: after five of them in
// all, the sixth locks the user out of both.
TEST_F(TwoProcessesTest, PasswordGuessesCountOnEveryProcess) {
  ServeProcess a(REMBIZ_BIN, DataArgs(), Scratch() / "a.log", 2);
  ServeProcess b(REMBIZ_BIN, DataArgs(), Scratch() / "b.log", 2);
  ASSERT_NE(a.Port(), 0) << "the first service did not start";
  ASSERT_NE(b.Port(), 0) << "the second service did not start";
  auto login = [](const ServeProcess& to, const std::string& password) {
    httplib::Client client("127.0.0.1", to.Port());
    client.set_read_timeout(30, 0);
    httplib::Result r =
        client.Post("/api/login", httplib::Params{{"user", "approver"}, {"password", password}});
    return r ? r->status : 0;
  };
  for (int i = 0; i < 6; ++i) EXPECT_EQ(login(i % 2 ? b : a, "guess"), 401) << i;
  EXPECT_EQ(login(a, "approver"), 429);
  EXPECT_EQ(login(b, "approver"), 429);
}

}  // namespace
}  // namespace rembiz::app
