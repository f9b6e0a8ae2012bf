// The gate of SQL that arrives with a request, before any engine sees it: which conditions and
// queries pass, and what a refusal says (the problem, never the text).
#include "db/request_sql.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "db/error.h"

namespace rembiz::db {
namespace {

// "" when accepted, else the refusal's words.
template <class Check>
std::string Verdict(Check check, const std::string& text) {
  try {
    check(text);
    return "";
  } catch (const DbError& e) {
    EXPECT_EQ(e.Number(), kErrStatement);
    if (!text.empty()) {
      EXPECT_EQ(e.Description().find(text), std::string::npos) << e.Description();
    }
    return e.Description();
  }
}

TEST(RequestSqlTest, AConditionIsOneConditionOfPlainFunctions) {
  struct Case {
    std::string condition;
    std::string refusal;  // a part of the refusal; "" when accepted
  };
  const std::vector<Case> cases = {
      {"strdepartid = '0201' and dblmoney > 1000", ""},
      {"(a = 1) or (b = ')(')", ""},
      {"exists (select 1 from EC_LoanVouch v where v.strvouchid = strvouchid)", ""},
      {"x in (select a from t union select b from u)", ""},
      {"cast(dblmoney as decimal(18, 2)) > convert(varchar(10), 5)", ""},
      {"isnull(strused, '') like N'%差旅%' -- the rest\n", ""},
      {"1=1) or (1=1", "closes that was not opened"},
      {"(1=1", "is not closed"},
      {"1=1 union select * from EC_LoanVouch", "union does not belong"},
      {"1=1 order by 1", "order does not belong"},
      {"1=1; delete from EC_LoanVouch", "second statement"},
      {"1=1 /* rest", "not closed"},
      {"a = 'open", "not closed"},
      {"", "no condition"},
      {"exists (select 1 from t where pg_sleep(1) is null)", "function pg_sleep"},
      {"pg_catalog.pg_sleep(1) is null", "function pg_sleep"},
      {"[set_config]('a', 'b', false) is null", "function set_config"},
      {"a::text = 'x'", "sign :"},
      {"@@rowcount = 0", "variable"},
      {"exists (select 1 from t where 1 = (delete from t))", "delete is not allowed"}};
  for (const Case& c : cases) {
    std::string verdict = Verdict([](const std::string& t) { CheckCondition(t); }, c.condition);
    if (c.refusal.empty()) {
      EXPECT_EQ(verdict, "") << c.condition;
    } else {
      EXPECT_NE(verdict.find(c.refusal), std::string::npos) << c.condition << " -> " << verdict;
      EXPECT_NE(verdict.find("one condition"), std::string::npos) << verdict;
    }
  }
  // The condition stands outside the query it narrows.
  EXPECT_EQ(FilteredQuery("select * from T", "a = 1 -- note"),
            "select * from (select * from T) r where (a = 1 -- note\n)");
}

TEST(RequestSqlTest, AQueryCallsOnlyPlainFunctions) {
  EXPECT_EQ(Verdict([](const std::string& t) { CheckRequestSql(t); },
                    "select upper(cDepName) as n, count(*) as c, datediff(day, getdate(), "
                    "getdate()) as d from Department group by cDepName order by 1"),
            "");
  for (const char* sql : {"select pg_read_file('x') as a", "select 1 as a; select 2 as b",
                          "select query_to_xml('x', true, true, '') as a",
                          "select x.pg_sleep(1) as a", "select 1 as a where 1 = ?::int"}) {
    std::string verdict = Verdict([](const std::string& t) { CheckRequestSql(t); }, sql);
    EXPECT_NE(verdict.find("is not allowed"), std::string::npos) << sql << " -> " << verdict;
  }
}

}  // namespace
}  // namespace rembiz::db
