// Voucher numbers, templates, print data and column layouts of the public service.
#include <gtest/gtest.h>

#include <set>
#include <thread>

#include "frame/registry.h"
#include "host/messages.h"
#include "pub_msg_fixture.h"

namespace rembiz::pubinfo {
namespace {

std::string NumberRequest(const std::string& date, bool take = true) {
  return "<func name='vchnoget' goon='1'><in><type>EC01</type>" +
         std::string(take ? "<true>true</true>" : "") +
         "<voucher type='EC01'><head><z:row strVouchID='' dtLoanDate='" + date +
         "'/></head></voucher></in></func>";
}

TEST_F(PubMsgTest, NumbersOfOneSeedAdvanceAndPreviewsDoNot) {
  xml::Document doc =
      Run(NumberRequest("2004-03-05T00:00:00", false) + NumberRequest("2004-03-05T00:00:00") +
          NumberRequest("2004-03-20T00:00:00") + NumberRequest("2004-04-01T00:00:00") +
          NumberRequest("2004-03-05T00:00:00", false));
  EXPECT_EQ(Answer(doc, 0).Text(), "JK2004030001") << doc.Xml();
  EXPECT_EQ(Answer(doc, 1).Text(), "JK2004030001");
  EXPECT_EQ(Answer(doc, 2).Text(), "JK2004030002");
  EXPECT_EQ(Answer(doc, 3).Text(), "JK2004040001");  // a new month starts a new serial
  EXPECT_EQ(Answer(doc, 4).Text(), "JK2004030003");
  EXPECT_EQ(Scalar("select iLastNo from Host_BillSerial where cBillType='EC01' and "
                   "cSeed='200403'"),
            "2");
}

TEST_F(PubMsgTest, DateSeedsKeepTheDateOfAnIsoDateTime) {
  // Without a date format the part shows its seed as it is.
  Cn().Execute(
      "update Host_BillPrefix set cFormat=null, iLength=null where cBillType='EC01' "
      "and iOrder=2");
  xml::Document doc = Run(NumberRequest("2004-03-05T00:00:00") +
                          "<func name='vchnoget'><in><type>EC01</type><true>1</true><voucher>"
                          "<rs:data><z:row dtLoanDate='2004-03-05T10:11:12'/></rs:data>"
                          "</voucher></in></func>");
  EXPECT_EQ(Answer(doc, 0).Text(), "JK2004-03-050001") << doc.Xml();
  EXPECT_EQ(Answer(doc, 1).Text(), "JK2004-03-050002");
}

TEST_F(PubMsgTest, NumbersInUseAreSkipped) {
  Cn().Execute(
      "update Host_BillFormat set cCheckTable='gl_bdigest', cCheckColumn='cCode' "
      "where cBillType='EC01'");
  Cn().Execute("insert into gl_bdigest (cCode,cDigest) values ('JK2004030001','typed by hand')");
  xml::Document doc = Run(NumberRequest("2004-03-05"));
  EXPECT_EQ(Answer(doc).Text(), "JK2004030002") << doc.Xml();
}

TEST_F(PubMsgTest, ManualNumbersAndUnknownBillTypesGiveNoNumber) {
  Cn().Execute("update Host_BillFormat set bManual=1 where cBillType='EC02'");
  std::string serials = Dump("Host_BillSerial");
  xml::Document doc =
      Run("<func name='vchnoget' goon='1'><in><type>EC02</type><true>true</true></in></func>"
          "<func name='vchnoget' goon='1'><in><type>EC99</type></in></func>"
          "<func name='vchnoformatget' goon='1'><in><type>EC02</type></in></func>"
          "<func name='vchnoformatget' goon='1'><in><type>EC99</type></in></func>");
  EXPECT_EQ(ErrorId(doc, 0), "Rembiz:CPubMsg:VchNoGet:9000") << doc.Xml();
  EXPECT_EQ(ErrorText(doc, 0), host::MessageText("Q7.Rembiz.0107"));
  EXPECT_EQ(ErrorText(doc, 1), host::MessageText("Q7.Rembiz.0099"));
  xml::Node format = Answer(doc, 2);
  EXPECT_EQ(format.Name(), "单据编号");
  EXPECT_EQ(format.Attr("允许手工修改"), "true");
  EXPECT_EQ(format.SelectNodes("前缀").size(), 2u);
  EXPECT_EQ(format.SelectSingleNode("前缀[2]").Attr("源表字段名"), "dtLoanDate");
  EXPECT_EQ(ErrorId(doc, 3), "Rembiz:CPubMsg:VchNoFormatGet:9000");
  EXPECT_EQ(Dump("Host_BillSerial"), serials);
}

TEST_F(PubMsgTest, ANumberTakenInsideTheCallersTransactionGoesWithIt) {
  // As the loan class saves: its transaction is open when it asks for the number.
  auto pub = frame::CreateObject("Rembiz.CPubMsg");
  xml::Document request;
  ASSERT_TRUE(
      request.LoadXml("<a><in><type>EC01</type><true>true</true><voucher type='EC01'><head><z:row "
                      "dtLoanDate='2004-03-05'/></head></voucher></in></a>"));
  xml::Node node = request.DocumentElement();
  for (int round = 0; round < 2; ++round) {
    Cn().BeginTrans();
    xml::Document answer;
    EXPECT_TRUE(pub->InvokePublic("VchNoGet", Session(), Cn(), node, answer));
    EXPECT_EQ(answer.SelectSingleNode("//vchno").Text(), "JK2004030001");
    Cn().RollbackTrans();
  }
  xml::Document format;
  EXPECT_TRUE(pub->InvokePublic("VchNoFormatGet", Session(), Cn(), node, format));
  EXPECT_EQ(format.DocumentElement().Attr("重号自动重取"), "true");
}

TEST_F(PubMsgTest, ConcurrentRequestsNeverShareANumber) {
  constexpr int kThreads = 4;
  constexpr int kEach = 10;
  std::vector<std::vector<std::string>> numbers(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      auto session = SessionFor("demo");
      for (int i = 0; i < kEach; ++i) {
        xml::Document doc =
            Call("CPubMsg", "<req>" + NumberRequest("2004-03-05") + "</req>", session.get());
        numbers[t].push_back(Answer(doc).Text());
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  std::set<std::string> distinct;
  for (const auto& list : numbers) distinct.insert(list.begin(), list.end());
  EXPECT_EQ(distinct.size(), static_cast<size_t>(kThreads * kEach));
  EXPECT_EQ(*distinct.rbegin(), "JK2004030040");
}

TEST_F(PubMsgTest, TemplatesFollowTheTemplateAuthority) {
  xml::Document doc =
      Run("<func name='vchmodulelistget'><in><type>EC01</type></in></func>"
          "<func name='vchmodulelistget'><in><type>EC01</type><kind>1</kind></in></func>"
          "<func name='vchmoduleget'><in><type>EC01</type></in></func>"
          "<func name='vchmoduleget'><in><type>EC01</type><id>12</id></in></func>"
          "<func name='vchmoduleget'><in><type>EC01</type><test>1</test></in></func>"
          "<func name='vchmoduleget'><in><type>EC09</type><test>1</test></in></func>"
          "<func name='vchmoduleget' goon='1'><in><type>EC09</type></in></func>"
          "<func name='vchmoduleget' goon='1'><in><type>EC01</type><id>21</id></in></func>");
  EXPECT_EQ(Answer(doc, 0).SelectSingleNode("row").Attr("vt_id"), "11");
  EXPECT_EQ(Answer(doc, 1).SelectSingleNode("row").Attr("vt_id"), "12");
  xml::NodeList fields = Answer(doc, 2).SelectNodes("rs:data/z:row");
  ASSERT_EQ(fields.size(), 29u) << doc.Xml();
  EXPECT_EQ(fields[0].Attr("vt_id"), "11");
  EXPECT_EQ(fields[0].Attr("cFieldName"), "strVouchID");
  EXPECT_EQ(fields[22].Attr("cSection"), "B");  // head fields first, then the rows'
  EXPECT_EQ(Answer(doc, 3).SelectSingleNode("rs:data/z:row").Attr("vt_id"), "12");
  EXPECT_EQ(Answer(doc, 4).Xml(), "<Rows>1</Rows>");
  EXPECT_EQ(Answer(doc, 5).Xml(), "<Rows/>");
  EXPECT_EQ(ErrorText(doc, 6), host::MessageText("Q7.Rembiz.0093"));
  EXPECT_EQ(ErrorText(doc, 7), host::MessageText("Q7.Rembiz.0095"));

  // clerk may use no template of loans, and only the print template of income claims.
  Cn().Execute(
      "insert into Host_ScopeRule (cUser_Id,cAuthType,cSelector1,iScope) values "
      "('clerk','djmb','EC01',1)");
  Cn().Execute(
      "insert into Host_ScopeRule (cUser_Id,cAuthType,cSelector1,iScope) values "
      "('clerk','djmb','EC02',2)");
  Cn().Execute(
      "insert into Host_ScopeRuleItem (cUser_Id,cAuthType,cSelector1,cCode) values "
      "('clerk','djmb','EC02','22')");
  doc =
      Run("<func name='vchmodulelistget'><in><type>EC01</type></in></func>"
          "<func name='vchmoduleget' goon='1'><in><type>EC01</type><id>11</id></in></func>"
          "<func name='vchmoduleget' goon='1'><in><type>EC02</type><id>21</id></in></func>"
          "<func name='vchmoduleget' goon='1'><in><type>EC02</type><id>22</id></in></func>"
          "<func name='vchmoduleget' goon='1'><in><type>EC02</type></in></func>"
          "<func name='vchmoduleget' goon='1'><in><type>EC02</type><id>21 or 1=1</id></in></func>",
          "clerk");
  EXPECT_TRUE(Answer(doc, 0).Children().empty()) << doc.Xml();
  EXPECT_EQ(ErrorId(doc, 1), "Rembiz:CPubMsg:VchModuleGet:9000");
  EXPECT_EQ(ErrorText(doc, 1), host::MessageText("Q7.Rembiz.0094"));
  EXPECT_EQ(ErrorText(doc, 2), host::MessageText("Q7.Rembiz.0094"));
  EXPECT_EQ(Answer(doc, 3).SelectSingleNode("rs:data/z:row").Attr("vt_id"), "22");
  EXPECT_EQ(ErrorText(doc, 4), host::MessageText("Q7.Rembiz.0093"));
  EXPECT_EQ(ErrorText(doc, 5), host::MessageText("Q7.Rembiz.0094"));
}

TEST_F(PubMsgTest, FixedDataLogoAndPrintLayouts) {
  xml::Document doc = Run(
      "<func name='vchfixeddataget'><in><id>12</id></in></func>"
      "<func name='vchlogoget'/>"
      "<func name='vchfixeddataget' goon='1'><in><id>12;drop</id></in></func>"
      "<func name='vchprintdataget' goon='1'><in><key>EC01_print</key></in></func>"
      "<func name='vchprintdataset'><in><key>EC01_print</key><printset>first</printset></in>"
      "</func>"
      "<func name='vchprintdataset'><in><key>EC01_print</key><printset>it's &lt;b&gt;</printset>"
      "</in></func>"
      "<func name='vchprintdataget'><in><key>EC01_print</key></in></func>");
  xml::NodeList fixed = Answer(doc, 0).SelectNodes("rs:data/z:row");
  ASSERT_EQ(fixed.size(), 3u) << doc.Xml();
  EXPECT_EQ(fixed[0].Attr("cValue"), "借款单");
  EXPECT_EQ(Answer(doc, 1).Text().rfind("iVBOR", 0), 0u);
  EXPECT_EQ(ErrorId(doc, 2), "Rembiz:CPubMsg:VchFixedDataGet:9000");
  EXPECT_EQ(ErrorText(doc, 3), host::MessageText("Q7.Rembiz.0097"));
  EXPECT_EQ(Answer(doc, 4).Xml(), "<success/>");
  EXPECT_EQ(Answer(doc, 6).Text(), "it's <b>");
  EXPECT_EQ(Scalar("select count(*) from prn_format where moduleid='EC01_print'"), "1");
}

TEST_F(PubMsgTest, ColumnLayoutsPerOperator) {
  xml::Document doc = Run(
      "<func name='rptcolumnset'><in>&lt;columns key='EC_LoanList'&gt;&lt;column "
      "name='dblMoney' caption='Amount' width='900' total='1'/&gt;&lt;column "
      "name='strVouchID'/&gt;&lt;/columns&gt;</in></func>"
      "<func name='rptcolumnget'><in><key>EC_LoanList</key></in></func>"
      "<func name='rptcolumnget'><in><key>EC_LoanList</key><mode>0</mode></in></func>"
      "<func name='rptcolumnget' goon='1'><in><key>EC_LoanList</key><mode>300</mode></in></func>"
      "<func name='rptcolumnset' goon='1'><in>not a layout</in></func>"
      "<func name='rptcolumnset' goon='1'><in>&lt;columns key='EC_LoanList'&gt;&lt;column "
      "name='dblMoney' width='1e300'/&gt;&lt;/columns&gt;</in></func>",
      "clerk");
  EXPECT_EQ(Answer(doc, 0).Xml(), "<success/>") << doc.Xml();
  xml::Node own = Answer(doc, 1);
  EXPECT_EQ(own.Attr("user"), "clerk");
  ASSERT_EQ(own.Children("column").size(), 2u);
  EXPECT_EQ(own.Children("column")[0].Attr("name"), "dblMoney");
  EXPECT_EQ(own.Children("column")[0].Attr("total"), "1");
  EXPECT_EQ(Answer(doc, 2).Children("column").size(), 4u);  // the layout for everyone
  EXPECT_EQ(ErrorId(doc, 3), "Rembiz:CPubMsg:RptColumnGet:9000");
  EXPECT_EQ(ErrorText(doc, 4), host::MessageText("Q7.Rembiz.0091"));
  EXPECT_EQ(ErrorText(doc, 5), host::MessageText("Q7.Rembiz.0091"));
  EXPECT_EQ(Scalar("select iWidth from Host_ColumnLayout where cKey='EC_LoanList' and "
                   "cUser_Id='clerk' and cFieldName='dblMoney'"),
            "900");

  // Other operators keep the shared layout.
  doc = Run("<func name='rptcolumnget'><in><key>EC_LoanList</key></in></func>");
  EXPECT_EQ(Answer(doc).Attr("user"), "");
  EXPECT_EQ(Answer(doc).Children("column").size(), 4u);
}

}  // namespace
}  // namespace rembiz::pubinfo

namespace rembiz::pubinfo {
namespace {

TEST_F(PubMsgTest, PrintLayoutsAreChangedOnlyWithTheOperationTypeRight) {
  const std::string set =
      "<func name='vchprintdataset' goon='1'><in><key>EC01_print</key><printset>mine</printset>"
      "</in></func>";
  std::string before = Dump("prn_format");
  xml::Document doc = Run(set, "clerk");
  EXPECT_NE(Answer(doc).SelectSingleNode("text").Text().find("EC0102"), std::string::npos)
      << doc.Xml();
  EXPECT_EQ(Dump("prn_format"), before);
  // Reading them needs no right; the administrator changes them.
  doc = Run(set + "<func name='vchprintdataget'><in><key>EC01_print</key></in></func>", "clerk");
  EXPECT_EQ(ErrorText(doc, 1), host::MessageText("Q7.Rembiz.0097")) << doc.Xml();  // none yet
  doc = Run(set);
  EXPECT_EQ(Answer(doc).Xml(), "<success/>");
  EXPECT_EQ(Scalar("select formatxml from prn_format where moduleid='EC01_print'"), "mine");
}

}  // namespace
}  // namespace rembiz::pubinfo
