// References, user-defined fields and the command line of the public service.
#include <gtest/gtest.h>

#include <fstream>

#include "host/messages.h"
#include "pub_msg_fixture.h"
#include "support/program.h"

namespace rembiz::pubinfo {
namespace {

TEST_F(PubMsgTest, ReferencePagesOfItemsDigestsAndQueries) {
  xml::Document doc =
      Run("<func name='refer'><in flag='f1' name='fitemss00' auth='code' match=\"citemname like "
          "'%推广%'\" order='' length='10' current='1'/></func>"
          "<func name='refer'><in name='gl_bdigest' order='cCode desc' length='2' current='9'/>"
          "</func>"
          "<func name='refer'><in type='sql' name='dept' sql='select cDepCode,cDepName from "
          "Department' match=\"cDepCode like '03%'\" order='cDepCode' length='2' current='1'/>"
          "</func>"
          "<func name='refer'><in name='fd_dwref'/></func>"
          "<func name='refer'><in name='gl_bdigest' length='2' current='1e300'/></func>");
  xml::Node items = Answer(doc, 0);
  ASSERT_EQ(items.Name(), "page") << doc.Xml();
  EXPECT_EQ(items.Attr("count"), "1");
  EXPECT_EQ(items.Attr("flag"), "f1");
  EXPECT_EQ(items.SelectSingleNode("data/xml/rs:data/z:row").Attr("citemcode"), "002");
  EXPECT_EQ(items.SelectSingleNode("mode/col[2]").Attr("caption"), "项目名称");

  // Three digests in pages of two: a page beyond the last answers the last.
  xml::Node digests = Answer(doc, 1);
  EXPECT_EQ(digests.Attr("count"), "3");
  EXPECT_EQ(digests.Attr("current"), "2");
  xml::NodeList rows = digests.SelectNodes("data/xml/rs:data/z:row");
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].Attr("cCode"), "01");

  xml::Node departments = Answer(doc, 2);
  EXPECT_EQ(departments.Attr("count"), "3");
  EXPECT_EQ(departments.SelectNodes("data/xml/rs:data/z:row").size(), 2u);
  EXPECT_EQ(departments.SelectSingleNode("mode/col").Attr("name"), "cDepCode");
  EXPECT_EQ(Answer(doc, 3).Attr("count"), "2");
  // However far beyond: still the last page.
  EXPECT_EQ(Answer(doc, 4).Attr("current"), "2");
}

TEST_F(PubMsgTest, ReferencesApplyTheRowAuthorityAndRefuseBadSources) {
  Cn().Execute(
      "insert into Host_ScopeRule (cUser_Id,cAuthType,iScope) values "
      "('clerk','code',2)");
  Cn().Execute(
      "insert into Host_ScopeRuleItem (cUser_Id,cAuthType,cCode) values "
      "('clerk','code','1001')");
  std::string departments = Dump("Department");
  const std::string accounts =
      "<func name='refer' goon='1'><in type='sql' sql='select ccode,ccode_name from code' "
      "auth='code'/></func>";
  xml::Document doc =
      Run(accounts +
              "<func name='refer' goon='1'><in name='nosuch'/></func>"
              "<func name='refer' goon='1'><in name='gl_bdigest' match=\"cCode='99'\"/></func>"
              "<func name='refer' goon='1'><in name='gl_bdigest' match='1=1) delete from "
              "Department where (1=1'/></func>"
              "<func name='refer' goon='1'><in name='fitemss00;drop'/></func>",
          "clerk");
  EXPECT_EQ(Answer(doc, 0).Attr("count"), "1") << doc.Xml();
  EXPECT_EQ(ErrorId(doc, 1), "Rembiz:CPubMsg:itemRefer:9000");
  EXPECT_EQ(ErrorText(doc, 1), host::MessageText("Q7.Rembiz.0336"));
  EXPECT_EQ(ErrorText(doc, 2), host::MessageText("Q7.Rembiz.0087"));
  EXPECT_EQ(ErrorId(doc, 3).rfind("Rembiz:CPubMsg:itemRefer:", 0), 0u);
  EXPECT_EQ(ErrorId(doc, 4).rfind("Rembiz:CPubMsg:itemRefer:", 0), 0u);
  EXPECT_EQ(Dump("Department"), departments);

  doc = Run(accounts);  // demo is not restricted
  EXPECT_EQ(Answer(doc).Attr("count"), Scalar("select count(*) from code"));
}

TEST_F(PubMsgTest, UserDefinedValuesAreChecked) {
  xml::Document doc =
      Run("<func name='userdefcheck'><in name='cDefine1' value='实施' source='0'/></func>"
          "<func name='userdefcheck'><in name='cDefine1' value='完工' source='1'/></func>"
          "<func name='userdefcheck'><in name='cDefine2' value='abcdef' source='0' "
          "rule='maxlen=3'/></func>"
          "<func name='userdefcheck'><in name='cDefine9' value='x' source='0'/></func>"
          "<func name='userdefcheck' goon='1'><in name='cDefine1' value='实施' source='4'/></func>"
          "<func name='userdefcheck'><in name='cDefine2' value='' source='0'/></func>");
  EXPECT_EQ(Answer(doc, 0).Xml(), "<success><id>0</id><text>实施</text></success>") << doc.Xml();
  EXPECT_EQ(Answer(doc, 1).Name(), "error");
  EXPECT_EQ(ErrorId(doc, 1), "1");
  EXPECT_EQ(ErrorText(doc, 1), host::MessageText("Q7.Rembiz.0089"));
  EXPECT_EQ(ErrorText(doc, 2), host::MessageText("Q7.Rembiz.0337"));
  EXPECT_EQ(ErrorText(doc, 3), host::MessageText("Q7.Rembiz.0089"));
  EXPECT_EQ(ErrorId(doc, 4), "Rembiz:CPubMsg:userdefCheck:9000");
  EXPECT_EQ(ErrorText(doc, 4), host::MessageText("Q7.Rembiz.0088"));
  EXPECT_EQ(ErrorId(doc, 5), "0");
}

TEST_F(PubMsgTest, UserDefinedValueListsInPages) {
  Cn().Execute("insert into UserDefine (cID,cValue,cAlias) values ('cFree1','红','Red')");
  xml::Document doc =
      Run("<func name='userdefdata'><in name='cDefine1' value='' source='0' length='2' "
          "current='2'/></func>"
          "<func name='userdefdata'><in name='cFree1' value='' length='5' current='1'/></func>"
          "<func name='userdefdata' goon='1'><in name='cDefine1' value=''/></func>"
          "<func name='userdefdata' goon='1'><in name='cDefine2' value='' source='0'/></func>");
  xml::Node page = Answer(doc, 0);
  ASSERT_EQ(page.Name(), "page") << doc.Xml();
  EXPECT_EQ(page.Attr("count"), "3");
  EXPECT_EQ(page.Attr("current"), "2");
  EXPECT_EQ(page.Attr("type"), "sql");
  EXPECT_EQ(page.Attr("head"), "值");
  EXPECT_EQ(page.SelectNodes("data/xml/rs:data/z:row").size(), 1u);
  // A free item needs no source, position or rule.
  EXPECT_EQ(Answer(doc, 1).Attr("count"), "1");
  EXPECT_EQ(Answer(doc, 1).Attr("head"), "值,别名");
  EXPECT_EQ(ErrorText(doc, 2), host::MessageText("Q7.Rembiz.0336"));
  EXPECT_EQ(ErrorText(doc, 3), host::MessageText("Q7.Rembiz.0342"));  // free input: no list
}

TEST_F(PubMsgTest, CommandLineAnswersCurrenciesOptionsAndNumbers) {
  std::filesystem::path request = Scratch() / "pub.xml";
  std::ofstream(request) << "<req><func name='currencyget'/><func name='accget'/>"
                            "<func name='vchnoget'><in><type>EC03</type><true>true</true>"
                            "<voucher><head><z:row dtLoanDate='2004-03-05T00:00:00'/></head>"
                            "</voucher></in></func></req>";
  testing::ProgramResult r = testing::RunCommand(
      testing::Rembiz("call CPubMsg '" + request.string() + "' " + DataArgs() + " --user demo"));
  EXPECT_EQ(r.code, 0) << r.out;
  EXPECT_NE(r.out.find("cexch_code=\"USD\""), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("=\"blnAutoAlert\""), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("<vchno>ZC2004030001</vchno>"), std::string::npos) << r.out;
}

}  // namespace
}  // namespace rembiz::pubinfo
