// Free SQL that any logged-in operator may send (selectget, refercheck): what it may call, how
// long it may run, how much it may answer, and what its column names may do to the answer.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "db/connection.h"
#include "pubinfo/pub_msg_fixture.h"

namespace rembiz::pubinfo {
namespace {

// Sets the process's free-query limits for one test and puts the old ones back.
class LimitsScope {
 public:
  explicit LimitsScope(const db::ReadOnlyLimits& limits) : saved_(db::GetReadOnlyLimits()) {
    db::SetReadOnlyLimits(limits);
  }
  ~LimitsScope() { db::SetReadOnlyLimits(saved_); }

 private:
  db::ReadOnlyLimits saved_;
};

// Seven small tables crossed: far more work than any budget allows.
const char kSlowQuery[] =
    "select count(*) as n from UA_Auth a, UA_Auth b, UA_Auth c, UA_Auth d, UA_Auth e, "
    "UA_Auth f, UA_Auth g";

std::string SelectGet(const std::string& sql) {
  return "<func name='selectget' goon='1'><in><sql>" + sql + "</sql></in></func>";
}

TEST_F(PubMsgTest, ColumnNamesNeverForgeAttributes) {
  xml::Document doc = Run(SelectGet("select 1 as \"a=\"\"1\"\" forged\", 2 as [x y], 3 as 金额") +
                              "<func name='refercheck' goon='1'><in><q strsql='select 1 as "
                              "\"a=&quot;&quot;1&quot;&quot; forged\"'/></in></func>",
                          "clerk");
  xml::Node row = Answer(doc, 0).FirstChild();
  ASSERT_EQ(row.Name(), "row") << doc.Xml();
  EXPECT_EQ(row.Attributes(),
            (std::vector<std::pair<std::string, std::string>>{
                {"a_x003D__x0022_1_x0022__x0020_forged", "1"}, {"x_x0020_y", "2"}, {"金额", "3"}}));
  EXPECT_EQ(Answer(doc, 1).Attributes(), (std::vector<std::pair<std::string, std::string>>{
                                             {"a_x003D__x0022_1_x0022__x0020_forged", "1"}}))
      << doc.Xml();
}

// What reaches outside the query is refused on either engine before it runs: extension,
// introspection, file, setting, lock, large-object, sleep and series functions, under any
// name or quoting. The refusal names the function, never the SQL.
TEST_F(PubMsgTest, FreeQueriesCallOnlyPlainFunctions) {
  const std::vector<std::string> refused = {
      "select fts3_tokenizer('simple') as p",
      "select load_extension('/tmp/x') as p",
      "select sqlite_version() as p",
      "select json('[1]') as p",
      "select pg_read_file('/etc/hostname') as p",
      "select pg_ls_dir('.') as p",
      "select set_config('role', 'rembiz', false) as a, query_to_xml('select cuser_id, "
      "cpassword from qdsystem.ua_user', true, true, '') as b",
      "select count(pg_advisory_lock(x)) as n from generate_series(1, 60000) x",
      "select lo_from_bytea(0, 'x') as o",
      "select pg_sleep(20) as s",
      "select pg_catalog.current_setting('search_path') as s",
      "select [set_config]('a.b', 'c', false) as s",
      "select '1'::int as i",
      "select 1 as a; select 2 as b",
      "select @@version as v"};
  std::string request;
  for (const std::string& sql : refused) request += SelectGet(sql);
  xml::Document doc =
      Run(request + SelectGet("select upper('a') as u, len('abc') as l, isnull(null, 2) as i, "
                              "count(*) as n, year(getdate()) as y from Department"),
          "clerk");
  for (int i = 0; i < static_cast<int>(refused.size()); ++i) {
    EXPECT_EQ(Answer(doc, i).Name(), "error") << i << doc.Xml();
    EXPECT_NE(ErrorText(doc, i).find("is not allowed"), std::string::npos) << ErrorText(doc, i);
    EXPECT_EQ(ErrorText(doc, i).find("select"), std::string::npos) << ErrorText(doc, i);
  }
  xml::Node row = Answer(doc, static_cast<int>(refused.size())).FirstChild();
  EXPECT_EQ(row.Attr("u"), "A") << doc.Xml();
  EXPECT_EQ(row.Attr("l"), "3");
  EXPECT_EQ(row.Attr("i"), "2");
}

// On the server engine free queries log in as the database's reader, which reads the module's
// tables but no password hash and no session, and which cannot become another role.
TEST_F(PubMsgTest, FreeQueriesRunAsTheReaderLogin) {
  if (!testing::OnPostgres()) GTEST_SKIP() << "a role of the server engine";
  xml::Document doc =
      Run(SelectGet("select count(*) as n from Department") +
              SelectGet("select cuser_id, cpassword from qdsystem..ua_user") +
              SelectGet("select count(*) as n from qdsystem..ua_session") +
              SelectGet("select count(*) as n from qdsystem..ua_loginfailure") +
              SelectGet("select cuser_id from qdsystem..ua_user where cuser_id = 'clerk'"),
          "clerk");
  EXPECT_NE(Answer(doc, 0).FirstChild().Attr("n"), "0") << doc.Xml();
  EXPECT_NE(ErrorText(doc, 1).find("permission denied"), std::string::npos) << doc.Xml();
  EXPECT_NE(ErrorText(doc, 2).find("permission denied"), std::string::npos) << doc.Xml();
  EXPECT_NE(ErrorText(doc, 3).find("permission denied"), std::string::npos) << doc.Xml();
  EXPECT_EQ(Answer(doc, 4).FirstChild().Attr("cuser_id"), "clerk") << doc.Xml();
  // The queries came from a log-in of the reader, a plain role with no other role to become.
  EXPECT_GT(Cn().Execute("select count(*) as n from pg_stat_activity where usename like "
                         "'rembiz_reader_%'")
                .Value("n")
                .ToInt(),
            0);
  EXPECT_EQ(Cn().Execute("select count(*) as n from pg_roles r where r.rolname like "
                         "'rembiz_reader_%' and (r.rolsuper or r.rolcreaterole or exists (select 1 "
                         "from pg_auth_members m where m.member = r.oid))")
                .Value("n")
                .ToInt(),
            0);
}

TEST_F(PubMsgTest, FreeQueriesAnswerWithinTheirRowsAndBytes) {
  db::ReadOnlyLimits limits;
  limits.max_rows = 5;
  limits.max_bytes = 4096;
  limits.max_value_bytes = 2048;
  LimitsScope scope(limits);
  xml::Document doc =
      Run(SelectGet("select cDepCode from Department") +  // more than five departments
              SelectGet("select cDepCode, replicate('x', 1500) as pad from Department") +
              SelectGet("select replicate('x', 3000) as b") +
              SelectGet("select cDepCode from Department where cDepCode like '02%'"),
          "clerk");
  EXPECT_NE(ErrorText(doc, 0).find("more than 5 rows"), std::string::npos) << doc.Xml();
  EXPECT_NE(ErrorText(doc, 1).find("more than 4 KiB"), std::string::npos) << doc.Xml();
  EXPECT_NE(ErrorText(doc, 2).find("longer than 2048 bytes"), std::string::npos) << doc.Xml();
  EXPECT_EQ(Answer(doc, 3).Children("row").size(), 3u) << doc.Xml();
  // The connection writes long values again once the query is over.
  Cn().Execute("insert into prn_format (moduleid, formatxml) values ('x', replicate('y', 5000))");
  EXPECT_EQ(Scalar("select len(formatxml) from prn_format where moduleid = 'x'"), "5000");
}

TEST_F(PubMsgTest, SlowFreeQueriesStopAtTheirBudget) {
  db::ReadOnlyLimits limits;
  limits.seconds = 1;
  LimitsScope scope(limits);
  auto start = std::chrono::steady_clock::now();
  xml::Document doc = Run(SelectGet(kSlowQuery), "clerk");
  EXPECT_NE(ErrorText(doc).find("longer than its 1 seconds"), std::string::npos) << doc.Xml();
  // Generous: the budget, not the 30 s command timeout, ended it.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(15));
}

TEST_F(PubMsgTest, OneFreeQueryPerSessionAndFewAtOnce) {
  db::ReadOnlyLimits limits;
  limits.seconds = 2;
  limits.max_running = 2;
  LimitsScope scope(limits);
  const std::string connection = Session().ConnectionString();
  // A slow query of `owner` on a thread of its own; it holds its place for its whole budget.
  auto slow_query = [&](const std::string& owner) {
    std::atomic<bool> started = false;
    std::thread thread([&started, owner, connection] {
      db::ReadOnlyOwner scope_owner(owner);
      db::Connection cn;
      cn.Open(connection);
      started = true;
      EXPECT_THROW(cn.ExecuteReadOnly(kSlowQuery), db::DbError);
    });
    while (!started) std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // it is running by now
    return thread;
  };
  auto refusal = [&](const std::string& owner) -> std::string {
    db::ReadOnlyOwner scope_owner(owner);
    try {
      Cn().ExecuteReadOnly("select count(*) as n from Department");
      return "";
    } catch (const db::DbError& e) {
      return e.Description();
    }
  };

  std::thread first = slow_query("s1");
  EXPECT_NE(refusal("s1").find("of this session is still running"), std::string::npos);
  EXPECT_EQ(refusal("s2"), "");  // another session runs its query
  // With two running, a third is refused while the process is at its limit.
  std::thread second = slow_query("s3");
  EXPECT_NE(refusal("s4").find("Too many free queries"), std::string::npos);
  second.join();
  first.join();
  EXPECT_EQ(refusal("s1"), "");  // its place is free again
}

}  // namespace
}  // namespace rembiz::pubinfo
