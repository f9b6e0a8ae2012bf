// Log-in, account, menu, options, rights, rates and free queries of the public service.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <utime.h>

#include <ctime>
#include <fstream>

#include "host/messages.h"
#include "pub_msg_fixture.h"

namespace rembiz::pubinfo {
namespace {

TEST_F(PubMsgTest, OptionsCurrenciesAndRightsOnTheDemoCompany) {
  xml::Document doc =
      Run("<func name='currencyget'/><func name='accget'/><func name='accget2'/>"
          "<func name='authget'/><func name='authget'><in><user>approver</user></in></func>"
          "<func name='addlock'/>",
          "clerk");
  xml::Node currencies = Answer(doc, 0);
  ASSERT_EQ(currencies.Name(), "rows") << doc.Xml();
  ASSERT_EQ(currencies.Children("row").size(), 2u);
  EXPECT_EQ(currencies.Children("row")[1].Attr("cexch_code"), "USD");
  // Column names may come back as written or as declared.
  EXPECT_TRUE(
      Answer(doc, 1).SelectSingleNode("row[@cname='blnAutoAlert' or @cName='blnAutoAlert']"));
  EXPECT_TRUE(
      Answer(doc, 1).SelectSingleNode("row[@cname='iXchgRateStl' or @cName='iXchgRateStl']"));
  EXPECT_EQ(Answer(doc, 2).Children("row").size(), 1u);

  // The operator's own rights, directly and through roles, lower-cased.
  std::string clerk;
  for (const xml::Node& row : Answer(doc, 3).Children("row")) clerk += row.Attr("name") + " ";
  EXPECT_EQ(clerk, "ec020101 ec020301 ec020302 ec0301 ec0302 ");
  EXPECT_TRUE(Answer(doc, 4).SelectSingleNode("row[@name='ec020401']"));
  EXPECT_TRUE(Answer(doc, 5).IsNull());  // addlock answers nothing
}

TEST_F(PubMsgTest, AccountInformationAndMenuFollowTheOperator) {
  std::string year = Session().FiscalYear();
  xml::Document doc = Run("<func name='ztget'/><func name='menuget'/>", "clerk");
  xml::Node zt = Answer(doc, 0);
  EXPECT_EQ(zt.Attr("cacc_id"), "001");
  EXPECT_EQ(zt.Attr("cuserid"), "clerk");
  EXPECT_EQ(zt.Attr("isadmin"), "0");
  EXPECT_EQ(zt.Attr("ccurcode"), "RMB");
  EXPECT_EQ(zt.Attr("dbegin"), year + "-01-01");
  EXPECT_EQ(zt.Attr("dend"), year + "-12-31");
  EXPECT_FALSE(zt.HasAttr("isalert"));

  xml::Node menu = Answer(doc, 1);
  EXPECT_EQ(menu.Attr("isalert"), "1");
  // clerk enters loans and claims and reads the lists; settings and approvals stay hidden.
  EXPECT_TRUE(menu.SelectSingleNode("item[@id='EC02']/item[@id='EC0201']"));
  EXPECT_TRUE(menu.SelectSingleNode("item[@id='EC03']/item[@id='EC0302']"));
  EXPECT_FALSE(menu.SelectSingleNode("//item[@id='EC0202']"));
  EXPECT_FALSE(menu.SelectSingleNode("//item[@id='EC01']"));
  EXPECT_FALSE(menu.SelectSingleNode("//item[@id='EC04']"));
}

TEST_F(PubMsgTest, ZtInfoListsEveryAccountAndYearInOrder) {
  int year = std::stoi(Session().FiscalYear());
  std::string next = std::to_string(year + 1);
  std::string y = std::to_string(year);
  // A second year of 001 and a second account 002 with two years; approver holds its rights
  // there through the APPROVERS role only.
  Cn().Execute(
      "insert into qdsystem..UA_Account (cAcc_Id, cAcc_Name, iYear) values ('002', 'Second', " + y +
      ")\n"
      "insert into qdsystem..UA_Period (cAcc_Id, iYear, iId, dBegin, dEnd) "
      "select a.acc, a.yr, p.id, cast(a.yr as varchar(4)) + '-0' + cast(p.id as varchar(1)) + "
      "'-01', cast(a.yr as varchar(4)) + '-0' + cast(p.id as varchar(1)) + '-28' "
      "from (select '001' acc, " +
      next + " yr union all select '002', " + y + " union all select '002', " + next +
      ") a, (select 1 id union all select 2) p\n"
      "insert into qdsystem..UA_HoldAuth (cAcc_Id, iYear, cUser_Id, iIsUser, cAuth_Id) values "
      "('002', " +
      next + ", 'APPROVERS', 0, 'EC0202'), ('002', " + y + ", 'APPROVERS', 0, 'EC0202'), ('001', " +
      next + ", 'approver', 1, 'EC0301')");

  xml::Document doc =
      Run("<func name='ztinfoget'><in><uid>approver</uid><pwd> approver </pwd><sys>EC</sys>"
          "</in></func>");
  xml::Node info = Answer(doc);
  ASSERT_EQ(info.Name(), "info") << doc.Xml();
  EXPECT_EQ(info.SelectSingleNode("user").Attr("name"), "Anna Approver");
  xml::NodeList zts = info.SelectNodes("zts/zt");
  ASSERT_EQ(zts.size(), 4u);
  std::string order;
  for (const xml::Node& zt : zts) order += zt.Attr("id") + "/" + zt.Attr("year") + " ";
  EXPECT_EQ(order, "001/" + y + " 001/" + next + " 002/" + y + " 002/" + next + " ");
  EXPECT_EQ(zts[0].Children("period").size(), 12u);
  EXPECT_EQ(zts[0].Children("period")[0].Attr("id"), "01");
  EXPECT_EQ(zts[0].Children("period")[11].Attr("id"), "12");
  EXPECT_EQ(zts[0].Children("period")[0].Attr("dbegin"), y + "-01-01");
  EXPECT_EQ(zts[3].Children("period")[1].Attr("id"), "02");
}

TEST_F(PubMsgTest, ZtInfoRefusesWrongPasswordsAndUsersWithoutRights) {
  Cn().Execute(
      "insert into qdsystem..UA_User (cUser_Id, cUser_Name, cPassword) values "
      "('nobody', 'No Body', NULL)");
  xml::Document doc =
      Run("<func name='ztinfoget' goon='1'><in><uid>demo</uid><pwd>wrong</pwd></in></func>"
          "<func name='ztinfoget' goon='1'><in><uid>ghost</uid><pwd></pwd></in></func>"
          "<func name='ztinfoget' goon='1'><in><uid>nobody</uid><pwd></pwd></in></func>"
          "<func name='ztinfoget' goon='1'><in><uid>demo' or '1'='1</uid><pwd>x</pwd></in></func>");
  EXPECT_EQ(ErrorId(doc, 0), "Rembiz:CPubMsg:ztInfoGet:9000");
  EXPECT_EQ(ErrorText(doc, 0), host::MessageText("Q7.Rembiz.0084"));
  EXPECT_EQ(ErrorText(doc, 1), host::MessageText("Q7.Rembiz.0084"));
  EXPECT_EQ(ErrorText(doc, 2), host::MessageText("Q7.Rembiz.0085"));
  EXPECT_EQ(ErrorText(doc, 3), host::MessageText("Q7.Rembiz.0084"));
}

TEST_F(PubMsgTest, ExchangeRateOfADayFallsBackToThePeriodRate) {
  std::string y = Session().FiscalYear();
  auto rate = [&](const std::string& currency, const std::string& date) {
    xml::Document doc = Run("<func name='hlget'><in><exchname>" + currency +
                            "</exchname><curdate>" + date + "</curdate></in></func>");
    EXPECT_EQ(Answer(doc).Name(), "hl") << doc.Xml();
    return Answer(doc).Text();
  };
  EXPECT_EQ(rate("美元", y + "-01-15"), "7.12");
  EXPECT_EQ(rate("美元", y + "-03-15"), "7.1");
  EXPECT_EQ(rate("欧元", y + "-01-15"), "");
  EXPECT_EQ(rate("美元", "not a date"), "");
  Cn().Execute("update accinformation set cValue='True' where cName='iXchgRateStl'");
  EXPECT_EQ(rate("美元", y + "-01-15"), "7.1");
}

TEST_F(PubMsgTest, FreeQueriesAreReadOnly) {
  std::string departments = Dump("Department");
  xml::Document doc =
      Run("<func name='selectget' goon='1'><in><sql>select cDepCode from Department where cDepCode "
          "like '02%' order by cDepCode</sql></in></func>"
          "<func name='selectget' goon='1'><in><sql>delete from Department</sql></in></func>"
          "<func name='selectget' goon='1'><in><sql>select cDepCode from Department; delete from "
          "Department</sql></in></func>"
          "<func name='selectget' goon='1'><in><sql>select cUser_Id, cPassword from "
          "qdsystem..UA_User</sql></in></func>"
          "<func name='selectget' goon='1'><in><sql>select u.* from UA_User u</sql></in></func>"
          "<func name='selectget' goon='1'><in><sql>select count(*) as n from UA_Session</sql>"
          "</in></func>"
          "<func name='selectget' goon='1'><in><sql>select count(*) as n from "
          "qdsystem..UA_LoginFailure</sql></in></func>"
          "<func name='selectget' goon='1'><in><sql>select * into tempdb..stolen from "
          "Department</sql></in></func>"
          "<func name='refercheck' goon='1'><in><q strsql='update Department set "
          "cDepName=N&apos;x&apos;'/></in></func>");
  EXPECT_EQ(Answer(doc, 0).Children("row").size(), 3u) << doc.Xml();
  for (int i = 1; i <= 7; ++i) {
    EXPECT_EQ(ErrorId(doc, i), "Rembiz:CPubMsg:selectGet:-2147217900") << i << doc.Xml();
  }
  EXPECT_EQ(ErrorId(doc, 8), "Rembiz:CPubMsg:accGet:-2147217900");
  EXPECT_EQ(doc.Xml().find("pbkdf2"), std::string::npos);
  EXPECT_EQ(Dump("Department"), departments);
  EXPECT_EQ(Scalar("select count(*) from tempdb..sysobjects where name='stolen'"), "0");
}

TEST_F(PubMsgTest, ReadOnlyQueriesNeverUseStatementsAuthorizedBefore) {
  // The same text ran (and was cached) on this handle without the read-only rules.
  const std::string sql = "select cPassword from qdsystem..UA_User where cUser_Id='demo'";
  EXPECT_FALSE(Scalar(sql).empty());
  EXPECT_THROW(Cn().ExecuteReadOnly(sql), db::DbError);
  // The rules end with the query: the connection writes again.
  int64_t affected = 0;
  Cn().Execute("update Department set cDepName=cDepName where cDepCode='01'", &affected);
  EXPECT_EQ(affected, 1);
}

TEST_F(PubMsgTest, ReferCheckAnswersTheOneRecordItFinds) {
  xml::Document doc =
      Run("<func name='refercheck'><in><q strsql=\"select cDepCode,cDepName from Department where "
          "cDepCode='01'\"/></in></func>"
          "<func name='refercheck'><in><q strsql='select cDepCode from Department'/></in></func>");
  EXPECT_EQ(Answer(doc, 0).Name(), "Rows");
  EXPECT_EQ(Answer(doc, 0).Attr("cDepName"), "总经理办公室");
  EXPECT_TRUE(Answer(doc, 1).Attributes().empty());
}

TEST_F(PubMsgTest, EditTimeOfTheClientPackage) {
  std::filesystem::path folder = Scratch() / "web";
  std::filesystem::create_directories(folder / "client");
  std::string cab = (folder / "client" / "data2.cab").string();
  std::ofstream(cab) << "cab";
  std::tm tm{};
  tm.tm_year = 2004 - 1900;
  tm.tm_mon = 2;
  tm.tm_mday = 5;
  tm.tm_hour = 12;
  utimbuf times{std::mktime(&tm), std::mktime(&tm)};
  ASSERT_EQ(utime(cab.c_str(), &times), 0);

  xml::Document doc = Run("<func name='edittimeget' goon='1'><in>" + folder.string() +
                          "\\</in></func><func name='edittimeget'><in>/no/such</in></func>");
  EXPECT_EQ(Answer(doc, 0).Text(), "2004-3-5") << doc.Xml();
  EXPECT_EQ(ErrorId(doc, 1), "Rembiz:CPubMsg:editTimeGet:53");
}

}  // namespace
}  // namespace rembiz::pubinfo
