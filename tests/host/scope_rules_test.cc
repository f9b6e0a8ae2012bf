#include "host/scope_rules.h"

#include <gtest/gtest.h>

#include "support/demo_fixture.h"

namespace rembiz::host {
namespace {

// Row authority as the list and voucher queries paste it: "" sees everything, "1=2" nothing, a
// quoted list what it names.
class ScopeRulesTest : public testing::DemoTest {
 protected:
  std::string Auth(const std::string& user, const std::string& type, const std::string& s1 = "",
                   const std::string& s2 = "") {
    auto rules = CreateScopeRules();
    rules->Init(Session().ConnectionString(), user);
    return rules->GetAuthString(type, s1, s2);
  }
  void Rule(const std::string& user, const std::string& type, const std::string& s1,
            const std::string& s2, int scope, const std::vector<std::string>& codes = {}) {
    Cn().Execute(
        "insert into Host_ScopeRule (cUser_Id, cAuthType, cSelector1, cSelector2, iScope) "
        "values ('" +
        user + "', '" + type + "', '" + s1 + "', '" + s2 + "', " + std::to_string(scope) + ")");
    for (const std::string& code : codes) {
      Cn().Execute(
          "insert into Host_ScopeRuleItem (cUser_Id, cAuthType, cSelector1, cSelector2, cCode) "
          "values ('" +
          user + "', '" + type + "', '" + s1 + "', '" + s2 + "', N'" + code + "')");
    }
  }
  // How many departments a query limited by the authority string sees.
  std::string DepartmentsSeen(const std::string& auth) {
    std::string where = auth.empty()    ? ""
                        : auth == "1=2" ? " where 1=2"
                                        : " where cDepCode in (" + auth + ")";
    return Scalar("select count(*) from Department" + where);
  }
};

TEST_F(ScopeRulesTest, NoRuleAllRestrictedOrNothing) {
  // The demo: clerk sees department 0201 alone, demo everything.
  EXPECT_EQ(Auth("clerk", "department"), "N'0201'");
  EXPECT_EQ(DepartmentsSeen(Auth("clerk", "department")), "1");
  EXPECT_EQ(Auth("demo", "department"), "");
  EXPECT_EQ(Auth("clerk", "person"), "");

  // Scope 0 is everything, 1 nothing, 2 the listed codes - and none listed is nothing too.
  Rule("approver", "person", "", "", 0, {"0002"});
  EXPECT_EQ(Auth("approver", "person"), "");
  Rule("approver", "fitem", "", "", 1, {"01"});
  EXPECT_EQ(Auth("approver", "fitem"), "1=2");
  Rule("approver", "department", "", "", 2);
  EXPECT_EQ(Auth("approver", "department"), "1=2");
  EXPECT_EQ(DepartmentsSeen(Auth("approver", "department")), "0");

  // Codes come sorted and quoted as data, whatever they hold.
  Rule("approver", "user", "", "", 2, {"zed", "o''brien", "abc"});
  EXPECT_EQ(Auth("approver", "user"), "N'abc',N'o''brien',N'zed'");
  EXPECT_EQ(Scalar("select count(*) from (select 'o''brien' as c) x where c in (" +
                   Auth("approver", "user") + ")"),
            "1");
  // A user or type written to break out of its quotes matches nothing.
  EXPECT_EQ(Auth("clerk' or '1'='1", "department"), "");
  EXPECT_EQ(Auth("clerk", "department' or '1'='1"), "");
}

TEST_F(ScopeRulesTest, TheMostSpecificRuleWins) {
  // Templates ("djmb") by card and by template: a rule for the card and one for a template of
  // it, over the catch-all.
  Rule("approver", "djmb", "", "", 1);
  Rule("approver", "djmb", "45", "", 2, {"11"});
  Rule("approver", "djmb", "45", "12", 0);
  Rule("approver", "djmb", "", "31", 2, {"31", "32"});
  EXPECT_EQ(Auth("approver", "djmb"), "1=2");
  EXPECT_EQ(Auth("approver", "djmb", "47"), "1=2");
  EXPECT_EQ(Auth("approver", "djmb", "45"), "N'11'");
  EXPECT_EQ(Auth("approver", "djmb", "45", "11"), "N'11'");
  EXPECT_EQ(Auth("approver", "djmb", "45", "12"), "");
  // The first selector is more specific than the second.
  Rule("approver", "djmb", "45", "31", 1);
  EXPECT_EQ(Auth("approver", "djmb", "45", "31"), "1=2");
  EXPECT_EQ(Auth("approver", "djmb", "47", "31"), "N'31',N'32'");
  // Items belong to their own rule only.
  EXPECT_EQ(Auth("demo", "djmb", "45"), "");
}

}  // namespace
}  // namespace rembiz::host
