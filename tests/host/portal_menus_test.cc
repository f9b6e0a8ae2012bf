// The operator's menu: entries by right (own, through a role, through a right on a branch, or as
// administrator) in the account and year, branches only with a visible entry below them.
#include "host/portal_menus.h"

#include <gtest/gtest.h>

#include <string>

#include "host/errors.h"
#include "support/demo_fixture.h"

namespace rembiz::host {
namespace {

// Rights of the demo: approver holds EC0202 and below through the APPROVERS role, finance holds
// EC0206 itself, everyone but demo holds EC0301 through STAFF; demo is administrator.
class PortalMenusTest : public testing::DemoTest {
 protected:
  void SetUp() override {
    DemoTest::SetUp();
    // A menu of a system of its own: A (branch) > A1 (EC020299), A2 (EC0206); B (branch) >
    // B1 (branch) > B11 (EC0206); C (EC0301) first by order; D an empty branch; E with a right
    // nobody holds; Y in another system.
    Cn().Execute(
        "insert into qdsystem..UA_Menu (cSub_Id, cMenu_Id, cSupMenu_Id, cMenu_Name, cAuth_Id, "
        "cUrl, iOrder) values "
        "('ZZ', 'A', null, N'甲', null, null, 2), ('ZZ', 'A2', 'A', N'甲二', 'EC0206', 'a2', 2), "
        "('ZZ', 'A1', 'A', N'甲一', 'EC020299', 'a?x=1&y=''2''', 1), "
        "('ZZ', 'B', null, N'乙', null, null, 3), ('ZZ', 'B1', 'B', N'乙一', null, null, 1), "
        "('ZZ', 'B11', 'B1', N'乙一一', 'EC0206', 'b11', 1), "
        "('ZZ', 'C', null, N'丙', 'EC0301', 'c', 1), ('ZZ', 'D', null, N'丁', null, null, 4), "
        "('ZZ', 'E', null, N'戊', 'EC9999', 'e', 5), "
        "('YY', 'Y', null, N'外', 'EC0301', 'y', 1)");
  }
  std::string Menu(const std::string& user, bool tree, const std::string& year = "") {
    return CreatePortalMenus()->LoadMenu1(Cn(), tree, "ZZ", "001",
                                          year.empty() ? Session().FiscalYear() : year, user);
  }
};

TEST_F(PortalMenusTest, EntriesFollowTheOperatorsRightsAndBranchesTheirEntries) {
  EXPECT_EQ(
      Menu("approver", true),
      "<item id='C' name='丙' url='c'/>"
      "<item id='A' name='甲' url=''><item id='A1' name='甲一' url='a?x=1&amp;y=&apos;2&apos;'/>"
      "</item>");
  EXPECT_EQ(Menu("finance", true),
            "<item id='C' name='丙' url='c'/>"
            "<item id='A' name='甲' url=''><item id='A2' name='甲二' url='a2'/></item>"
            "<item id='B' name='乙' url=''><item id='B1' name='乙一' url=''>"
            "<item id='B11' name='乙一一' url='b11'/></item></item>");
  EXPECT_EQ(Menu("finance", false),
            "<item id='C' name='丙' url='c'/><item id='A2' name='甲二' url='a2'/>"
            "<item id='B11' name='乙一一' url='b11'/>");
  // The administrator sees every entry, still no empty branch.
  EXPECT_EQ(
      Menu("demo", false),
      "<item id='C' name='丙' url='c'/><item id='A1' name='甲一' url='a?x=1&amp;y=&apos;2&apos;'/>"
      "<item id='A2' name='甲二' url='a2'/><item id='B11' name='乙一一' url='b11'/>"
      "<item id='E' name='戊' url='e'/>");

  // Rights belong to their account and year; names and years are never SQL.
  EXPECT_EQ(Menu("approver", true, "1999"), "");
  EXPECT_EQ(Menu("nobody' or '1'='1", true), "");
  EXPECT_THROW(Menu("approver", true, "2026 or 1=1"), ComError);
  EXPECT_EQ(
      CreatePortalMenus()->LoadMenu1(Cn(), true, "ZZ", "002", Session().FiscalYear(), "approver"),
      "");
}

}  // namespace
}  // namespace rembiz::host
