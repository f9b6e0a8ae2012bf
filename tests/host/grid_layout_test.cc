// Column layouts: an operator's own layout shadows the one for everyone only for that operator,
// a save replaces the whole layout, and a layout that cannot be stored leaves the old one.
#include "host/grid_layout.h"

#include <gtest/gtest.h>

#include <string>

#include "support/demo_fixture.h"

namespace rembiz::host {
namespace {

// The demo's layout for everyone of the loan list, as GetColInfo answers it.
constexpr const char* kShared =
    "<columns key='EC_LoanList' user=''>"
    "<column name='strVouchID' caption='单据编号' order='1' width='1500' visible='1' align='left' "
    "format='' total='0'/>"
    "<column name='dtLoanDate' caption='借款日期' order='2' width='1200' visible='1' "
    "align='center' format='yyyy-mm-dd' total='0'/>"
    "<column name='strLoanName' caption='借款人' order='3' width='1200' visible='1' align='left' "
    "format='' total='0'/>"
    "<column name='dblMoney' caption='金额' order='4' width='1400' visible='1' align='right' "
    "format='#,##0.00' total='1'/></columns>";

class GridLayoutTest : public testing::DemoTest {
 protected:
  std::unique_ptr<GridLayout> LayoutOf(rembiz::host::Session& session, bool per_user) {
    auto layout = CreateGridLayout();
    layout->Init(session, session.ConnectionString(), per_user);
    return layout;
  }
};

TEST_F(GridLayoutTest, OwnLayoutsShadowTheSharedOneOnlyForTheirOperator) {
  auto demo = SessionFor("demo");
  auto clerk = SessionFor("clerk");
  auto mine = LayoutOf(*demo, true);
  auto clerks = LayoutOf(*clerk, true);
  EXPECT_EQ(mine->GetColInfo("EC_LoanList", 1), kShared);  // nothing saved yet
  EXPECT_EQ(mine->GetColInfo("EC_Unknown", 1), "<columns key='EC_Unknown' user=''></columns>");

  // Missing numbers and flags take their defaults; text is stored as text.
  ASSERT_TRUE(mine->Save(
      "<columns key='EC_LoanList'><column name='dblMoney' width='2000' total='1' align='right'/>"
      "<column name='strVouchID' caption='No. &amp; &apos;id&apos;' visible='0' order='x'/>"
      "</columns>"));
  constexpr const char* kMine =
      "<columns key='EC_LoanList' user='demo'>"
      "<column name='dblMoney' caption='' order='1' width='2000' visible='1' align='right' "
      "format='' total='1'/>"
      "<column name='strVouchID' caption='No. &amp; &apos;id&apos;' order='2' width='1200' "
      "visible='0' align='left' format='' total='0'/></columns>";
  EXPECT_EQ(mine->GetColInfo("EC_LoanList", 1), kMine);
  EXPECT_EQ(mine->GetColInfo("EC_LoanList", 0), kShared);
  EXPECT_EQ(clerks->GetColInfo("EC_LoanList", 1), kShared);

  // A save replaces the layout: columns left out go.
  ASSERT_TRUE(mine->Save("<columns key='EC_LoanList'><column name='dblMoney'/></columns>"));
  EXPECT_EQ(Scalar("select count(*) from Host_ColumnLayout where cUser_Id = 'demo'"), "1");

  // Refused layouts change nothing.
  std::string before = Dump("Host_ColumnLayout");
  for (const char* refused :
       {"<columns key='EC_LoanList'><column name='a' width='3000000000'/></columns>",
        "<columns key='EC_LoanList'><column name='a' order='-1e12'/></columns>",
        "<columns key='EC_LoanList'><column name='a'/><column caption='b'/></columns>",
        "<columns><column name='a'/></columns>", "<rows key='EC_LoanList'/>", "<columns"}) {
    EXPECT_FALSE(mine->Save(refused)) << refused;
  }
  EXPECT_EQ(Dump("Host_ColumnLayout"), before);

  // The layout for everyone is saved without an operator and is what the others then see.
  auto shared = LayoutOf(*demo, false);
  ASSERT_TRUE(shared->Save("<columns key='EC_LoanList'><column name='strLoanName'/></columns>"));
  EXPECT_EQ(clerks->GetColInfo("EC_LoanList", 1),
            "<columns key='EC_LoanList' user=''><column name='strLoanName' caption='' order='1' "
            "width='1200' visible='1' align='left' format='' total='0'/></columns>");
  EXPECT_EQ(Scalar("select count(*) from Host_ColumnLayout where cUser_Id = 'demo'"), "1");
}

}  // namespace
}  // namespace rembiz::host
