#include "frame/sql_helpers.h"

#include <gtest/gtest.h>

#include "support/demo_fixture.h"

namespace rembiz::frame {
namespace {

class SqlHelpersTest : public testing::DemoTest {};

TEST_F(SqlHelpersTest, CondFilterBuildsConditionsAndRefusesBadNames) {
  xml::Document doc;
  ASSERT_TRUE(
      doc.LoadXml("<c><i fieldname='strVouchID' fieldtype='0' type='0' value=\"O'B\"/>"
                  "<i fieldname='dblMoney' fieldtype='1' type='2' value='abc'/>"
                  "<i fieldname='dtDate' fieldtype='2' type='5' value='2004-03-05'/>"
                  "<i fieldname='blnAudi' fieldtype='1' type='6' value='true'/>"
                  "<i fieldname='x' fieldtype='0' type='7' value='1'/></c>"));
  EXPECT_EQ(CondFilter(doc.DocumentElement()),
            "1=1 and strVouchID='O''B' and dblMoney>=0 and dtDate<='2004-03-05' and blnAudi=1");
  ASSERT_TRUE(doc.LoadXml("<c/>"));
  EXPECT_EQ(CondFilter(doc.DocumentElement()), "1=1");
  ASSERT_TRUE(
      doc.LoadXml("<c><i fieldname='1=1;drop table x' fieldtype='0' type='0' value='1'/></c>"));
  EXPECT_THROW(CondFilter(doc.DocumentElement()), ComError);
}

TEST_F(SqlHelpersTest, DataAuthFilterRestrictsOnlyRestrictedOperators) {
  EXPECT_EQ(DataAuthFilter(Session(), "vwECLoanHead", "1"), "vwECLoanHead");

  auto clerk = SessionFor("clerk");
  std::string filtered = DataAuthFilter(*clerk, "vwECLoanHead", "1");
  EXPECT_NE(filtered.find("strDepartID IN ("), std::string::npos) << filtered;
  EXPECT_EQ(filtered.rfind("(Select * From vwECLoanHead Where ", 0), 0u) << filtered;
  EXPECT_TRUE(filtered.ends_with(") As vwECLoanHead")) << filtered;
  // The filter is runnable SQL.
  EXPECT_NO_THROW(Cn().Execute("select count(*) from " + filtered));

  // "Nothing allowed" turns into a list that matches no row.
  Cn().Execute("delete from Host_ScopeRuleItem where cUser_Id = N'clerk'");
  Cn().Execute("delete from Host_ScopeRule where cUser_Id = N'clerk'");
  Cn().Execute(
      "insert into Host_ScopeRule (cUser_Id, cAuthType, cSelector1, cSelector2, iScope) values "
      "(N'clerk', N'person', N'', N'', 1)");
  filtered = DataAuthFilter(*clerk, "vwECLoanHead", "0");
  EXPECT_NE(filtered.find("strLoanID IN (N'')"), std::string::npos) << filtered;
  EXPECT_EQ(Scalar("select count(*) from " + filtered + " x"), "0");
}

TEST_F(SqlHelpersTest, CostItemAuthorityKeepsVouchersWithoutAnItem) {
  Cn().ExecuteNative(
      "CREATE TABLE AuthProbe (strDepartID varchar(12), strItemID varchar(20));"
      "INSERT INTO AuthProbe VALUES ('0201', '01'), ('0201', '02'), ('0201', NULL), "
      "('0201', ''), ('0301', '01');");
  auto clerk = SessionFor("clerk");
  auto visible = [&] {
    return Scalar("select group_concat(ifnull(strItemID, 'null'), ' ') from " +
                  DataAuthFilter(*clerk, "AuthProbe", "1"));
  };
  Cn().Execute(
      "insert into Host_ScopeRule (cUser_Id, cAuthType, cSelector1, cSelector2, iScope) values "
      "(N'clerk', N'fitem', N'', N'', 2)");
  Cn().Execute(
      "insert into Host_ScopeRuleItem (cUser_Id, cAuthType, cSelector1, cSelector2, cCode) "
      "values (N'clerk', N'fitem', N'', N'', N'01')");
  EXPECT_EQ(visible(), "01 null ");
  // Nothing allowed: only vouchers without a cost item.
  Cn().Execute("update Host_ScopeRule set iScope = 1 where cAuthType = N'fitem'");
  EXPECT_EQ(visible(), "null ");
}

TEST_F(SqlHelpersTest, OptionsItemSourcesGuidsAndWorkTables) {
  EXPECT_EQ(AccOption("no such option", Cn(), "EC"), "");

  std::string ch = ItemSourceSql("ch", Cn());
  EXPECT_EQ(ch,
            "(select N'ch' as citem_class,cinvcode as citemcode,cinvname as citemname from "
            "inventory)fitems");
  EXPECT_NO_THROW(Cn().Execute("select * from " + ch));
  EXPECT_THROW(ItemSourceSql("00;drop", Cn()), ComError);
  std::string all = ItemSourceSql("", Cn());
  EXPECT_TRUE(all.ends_with(")fitems"));
  EXPECT_NO_THROW(Cn().Execute("select citem_class, citemcode, citemname from " + all));

  std::string guid = NewGuid(Cn());
  EXPECT_EQ(guid.size(), 38u);
  EXPECT_EQ(guid.front(), '{');
  EXPECT_NE(guid, NewGuid(Cn()));

  EXPECT_NE(TempName(), TempName());
  std::string table = CreateTempTable(Cn(), "(id int, cName nvarchar(20))");
  Cn().Execute("insert into tempdb.." + table + " (id, cName) values (1, N'a')");
  // Work tables are shared by every connection of the process.
  db::Connection other;
  other.Open(Session().ConnectionString());
  EXPECT_EQ(other.Execute("select cName from tempdb.." + table).Text("cName"), "a");
  DropTempTable(Cn(), "tempdb.." + table);
  EXPECT_THROW(other.Execute("select * from tempdb.." + table), db::DbError);
  EXPECT_NO_THROW(DropTempTable(Cn(), "qdtmpnosuchtable"));
}

}  // namespace
}  // namespace rembiz::frame
