// `rembiz serve --read-db`: a primary and a streaming standby of their own (pg_basebackup -R,
// scripts/test-postgres). Lists and reports are read on the standby, saves go to the primary and
// reach the standby by replication, and reads fall back to the primary when the standby is down.
#include <gtest/gtest.h>
#include <httplib.h>
#include <libpq-fe.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <thread>

#include "support/program.h"
#include "support/serve_process.h"

namespace rembiz::app {
namespace {

namespace fs = std::filesystem;
using testing::RunCommand;
using testing::ServeProcess;

constexpr const char* kPostgresBin = "/usr/lib/postgresql/15/bin/pg_basebackup";

std::string Script(const std::string& args) {
  return std::string(REMBIZ_SOURCE_DIR) + "/scripts/test-postgres " + args;
}

// Runs one statement on `url`; its first value, or the error.
std::string Sql(const std::string& url, const std::string& sql) {
  PGconn* conn = PQconnectdb(url.c_str());
  std::string value;
  if (PQstatus(conn) != CONNECTION_OK) {
    value = std::string("error: ") + PQerrorMessage(conn);
  } else {
    PGresult* res = PQexec(conn, sql.c_str());
    if (PQresultStatus(res) == PGRES_TUPLES_OK && PQntuples(res) > 0) {
      value = PQgetvalue(res, 0, 0);
    } else if (PQresultStatus(res) != PGRES_COMMAND_OK && PQresultStatus(res) != PGRES_TUPLES_OK) {
      value = std::string("error: ") + PQresultErrorMessage(res);
    }
    PQclear(res);
  }
  PQfinish(conn);
  return value;
}

constexpr const char* kAgeing =
    "<req><func name='loanagedata'><in><page><current>0</current><rows>100</rows></page><cond/>"
    "<type><row name='stritem' value='部门'/></type><age><age><row cdays='30' name='30'/>"
    "<row cdays='' name='more'/></age></age></in></func></req>";
constexpr const char* kFreeQuery =
    "<req><func name='selectget'><in><sql>select count(*) as n from EC_LoanVouch</sql></in>"
    "</func></req>";

// The service's replica counters (/metrics).
struct Replica {
  long tried = -1;
  long fell_back = -1;
};
Replica Counters(const ServeProcess& service) {
  httplib::Client client("127.0.0.1", service.Port());
  httplib::Result r = client.Get("/metrics");
  Replica counters;
  std::smatch m;
  std::string body = r ? r->body : "";
  if (std::regex_search(body, m, std::regex("\nrembiz_replica_reads_total (\\d+)")))
    counters.tried = std::stol(m[1]);
  if (std::regex_search(body, m, std::regex("\nrembiz_replica_fallbacks_total (\\d+)")))
    counters.fell_back = std::stol(m[1]);
  return counters;
}

size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

class ReadReplicaTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The servers are the test's own; it runs once, with the PostgreSQL tests.
    if (!std::getenv("REMBIZ_TEST_POSTGRES")) GTEST_SKIP() << "runs with the PostgreSQL tests";
    if (!fs::exists(kPostgresBin)) GTEST_SKIP() << "no PostgreSQL 15 server programs";
    char pattern[] = "/tmp/rembiz-replica.XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    testing::ProgramResult run = RunCommand(Script("start " + (dir_ / "primary").string()));
    ASSERT_EQ(run.code, 0) << run.out;
    primary_ = Url("primary");
    run = RunCommand(testing::Rembiz("init --db '" + primary_ + "' --demo"));
    ASSERT_EQ(run.code, 0) << run.out;
    run = RunCommand(
        Script("standby " + (dir_ / "primary").string() + " " + (dir_ / "standby").string()));
    ASSERT_EQ(run.code, 0) << run.out;
    standby_ = Url("standby");
  }

  void TearDown() override {
    if (dir_.empty()) return;
    RunCommand(Script("stop " + (dir_ / "standby").string()));
    RunCommand(Script("stop " + (dir_ / "primary").string()));
    fs::remove_all(dir_);
  }

  std::string Url(const std::string& server) {
    std::ifstream in(dir_ / server / "url");
    std::string url;
    std::getline(in, url);
    return url + "rembiz";
  }

  // The vouchers the loan list answers (demo's whole list fits one page).
  static size_t ListedLoans(const ServeProcess& service, const std::string& token) {
    httplib::Result r = service.Post("/api/CQuery",
                                     "<req><func "
                                     "name='listloandata'><in><page><current>0</current><rows>500</"
                                     "rows></page></in></func></req>",
                                     token);
    EXPECT_TRUE(testing::Answered(r)) << (r ? r->body : "no answer");
    return r ? Count(r->body, "strvouchid=") : 0;
  }

  // Whether the standby replays all the primary has written by now (within ten seconds). The
  // test servers commit without waiting for the log (synchronous_commit=off), so what is written
  // is measured where it enters the log, not where the log has reached the disk.
  bool CaughtUp() {
    const std::string lsn = Sql(primary_, "select pg_current_wal_insert_lsn()");
    for (int i = 0; i < 100; ++i) {
      if (Sql(standby_, "select pg_last_wal_replay_lsn() >= '" + lsn + "'::pg_lsn") == "t") {
        return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
  }

  // A loan of this year's March, numbered JK<year><number>.
  std::string Loan(const std::string& number) {
    const std::string year = Sql(primary_, "select extract(year from current_date)::int");
    return "<req><func name='savevouch'><in><xml><head blnBegin='0'><z:row strTypeCode='301' "
           "strVouchID='JK" +
           year + number + "' dtLoanDate='" + year +
           "-03-05T00:00:00' strDepartID='0201' strLoanID='0002' strBill='人民币' fltRate='1' "
           "dblMoney='800' dblOldMoney='800' strUsed='trip'/></head><body><row strBalanceID='1' "
           "dblMoney='800'/></body></xml></in></func></req>";
  }

  static size_t ReportedLoanRows(const ServeProcess& service, const std::string& token) {
    httplib::Client client("127.0.0.1", service.Port());
    httplib::Result r =
        client.Get("/api/report/loans?format=csv", {{"Authorization", "Bearer " + token}});
    EXPECT_TRUE(r && r->status == 200) << (r ? r->body : "no answer");
    return r ? Count(r->body, "\n") : 0;
  }

  fs::path dir_;
  std::string primary_, standby_;
};

TEST_F(ReadReplicaTest, ListsReadTheStandbyAndFallBackToThePrimary) {
  ServeProcess service(REMBIZ_BIN, "--db '" + primary_ + "' --read-db '" + standby_ + "'",
                       dir_ / "serve.log");
  ASSERT_NE(service.Port(), 0) << "the service did not start";
  const std::string token = service.Login("demo");
  ASSERT_FALSE(token.empty());
  ASSERT_TRUE(testing::Answered(service.Post("/api/CLoan", Loan("0398"), token)));
  // Submitted, so that the ageing counts it.
  const std::string year = Sql(primary_, "select extract(year from current_date)::int");
  ASSERT_EQ(Sql(primary_, "update account_001_" + year + ".ec_loanvouch set blnaudi = '1'"), "");
  ASSERT_TRUE(CaughtUp());
  const size_t loans = ListedLoans(service, token);
  const size_t report_rows = ReportedLoanRows(service, token);
  ASSERT_GT(loans, 0u);

  // The standby has all the primary wrote: lists, reports, the ageing and free queries are all
  // answered there.
  ASSERT_TRUE(CaughtUp());
  const Replica before = Counters(service);
  EXPECT_EQ(ListedLoans(service, token), loans);
  EXPECT_EQ(ReportedLoanRows(service, token), report_rows);
  httplib::Result ageing = service.Post("/api/CReport", kAgeing, token);
  EXPECT_TRUE(testing::Answered(ageing)) << (ageing ? ageing->body : "no answer");
  EXPECT_TRUE(testing::Answered(service.Post("/api/CPubMsg", kFreeQuery, token)));
  const Replica after = Counters(service);
  EXPECT_EQ(after.tried, before.tried + 4);
  // Nothing so far went to the primary: the free queries' role came with the standby's copy.
  EXPECT_EQ(after.fell_back, 0);

  // The standby stops replaying: a save reaches the primary, the lists still say what the
  // standby holds.
  ASSERT_EQ(Sql(standby_, "select pg_wal_replay_pause()"), "");
  httplib::Result saved = service.Post("/api/CLoan", Loan("0399"), token);
  ASSERT_TRUE(testing::Answered(saved)) << (saved ? saved->body : "no answer");
  EXPECT_EQ(ListedLoans(service, token), loans);
  EXPECT_EQ(ReportedLoanRows(service, token), report_rows);

  // Replication goes on: the save appears in the lists read there.
  ASSERT_EQ(Sql(standby_, "select pg_wal_replay_resume()"), "");
  size_t now = 0;
  for (int i = 0; i < 100 && (now = ListedLoans(service, token)) == loans; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  EXPECT_EQ(now, loans + 1);
  EXPECT_GT(ReportedLoanRows(service, token), report_rows);

  // The standby goes down: the primary answers the same reads, and saves go on.
  ASSERT_EQ(RunCommand(Script("stop " + (dir_ / "standby").string())).code, 0);
  const Replica down = Counters(service);
  EXPECT_EQ(ListedLoans(service, token), loans + 1);
  EXPECT_GT(ReportedLoanRows(service, token), report_rows);
  EXPECT_TRUE(testing::Answered(service.Post("/api/CReport", kAgeing, token)));
  EXPECT_TRUE(testing::Answered(service.Post("/api/CPubMsg", kFreeQuery, token)));
  EXPECT_TRUE(testing::Answered(service.Post("/api/CLoan", Loan("0400"), token)));
  EXPECT_EQ(Counters(service).fell_back, down.fell_back + 4);
}

// A folder of SQLite files has no standby: the service refuses to start with one named.
TEST(ReadReplicaOptionTest, OnlyAPostgresStandbyOfAPostgresLocationIsTaken) {
  testing::ProgramResult run = RunCommand(testing::Rembiz(
      "serve --data /nonexistent/rembiz-data --read-db 'postgresql://rembiz@127.0.0.1:1/rembiz' "
      "--listen 127.0.0.1:0"));
  EXPECT_NE(run.code, 0);
  EXPECT_NE(run.out.find("read replica"), std::string::npos) << run.out;
}

}  // namespace
}  // namespace rembiz::app
