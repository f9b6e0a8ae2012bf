#include <gtest/gtest.h>

#include "loan/loan_fixture.h"
#include "support/refused_values.h"

namespace rembiz::loan {
namespace {

// The AutoID of the voucher a getVouchListID chooses, read through a head request without a
// number in the same request.
class NavigationTest : public LoanTest {
 protected:
  std::string Chosen(const std::string& director, const std::string& current = "",
                     const std::string& extra = "") {
    xml::Document doc =
        Call("CLoan", "<req><func name='getVouchListID'><in><strAutoID>" + current +
                          "</strAutoID><Director>" + director + "</Director>" + extra +
                          "</in></func><func name='vchgetloanheaddata'><in><row/>"
                          "</in></func></req>");
    return doc.SelectSingleNode("//z:row").Attr("AutoID");
  }
  std::string Id(const std::string& number) { return Column("AutoID", number); }
  std::string List(host::Session* session, const std::string& extra = "") {
    xml::Document doc = Call(
        "CLoan", "<req><func name='getVouchListID'><in>" + extra + "</in></func></req>", session);
    std::string ids;
    for (const xml::Node& row : doc.SelectNodes("//Rows/row")) ids += row.Attr("AutoID") + " ";
    return ids.empty() ? ErrorText(doc) : ids;
  }
};

TEST_F(LoanTest, SavesANewLoanAndReadsHeadAndRowsBack) {
  std::string number = "JK" + Year() + "030001";
  xml::Document doc =
      Call("CLoan", "<req>" +
                        SaveFunc(Head({{"strItemClassID", "00"},
                                       {"strItemID", "001"},
                                       {"cDefine1", "立项"},
                                       {"dtExpDate", Date("04-30T00:00:00")}})) +
                        "<func name='getVouchListID'><in><strAutoID/><Director>0</Director></in>"
                        "</func><func name='vchgetloanheaddata'><in><row/></in></func>"
                        "<func name='vchgetloanbodydata'><in><row/></in></func></req>");
  ASSERT_TRUE(doc.SelectSingleNode("/error").IsNull()) << doc.Xml();
  std::string id = Column("AutoID", number);

  // The save positioned the list on the saved voucher; head and rows follow it.
  xml::Node list = doc.SelectSingleNode("//func[@name='getVouchListID']");
  EXPECT_EQ(list.SelectSingleNode("in/strAutoID").Text(), id);
  EXPECT_EQ(list.SelectSingleNode("in/Director").Text(), "3");
  EXPECT_EQ(list.SelectSingleNode("out/Rows/row").Attr("AutoID"), id);
  xml::Node head = doc.SelectSingleNode("//func[@name='vchgetloanheaddata']/out//rs:data/z:row");
  EXPECT_EQ(head.Attr("AutoID"), id);
  EXPECT_EQ(head.Attr("strItem"), "新产品研发");
  EXPECT_EQ(head.Attr("NumPoint"), "2");
  EXPECT_EQ(head.Attr("strLoanName"), "李华");
  // The head amount is the total of the rows that carry money; the cheque row only an advance.
  EXPECT_EQ(head.Attr("dblMoney"), "500");
  EXPECT_EQ(head.Attr("dblOldMoney"), "800");
  EXPECT_EQ(head.Attr("blnAllBill"), "False");
  EXPECT_EQ(head.Attr("blnAudi"), "False");
  EXPECT_EQ(head.Attr("intOverBud"), "-1");
  EXPECT_EQ(head.Attr("dtExpDate"), Date("04-30T00:00:00"));
  EXPECT_EQ(head.Attr("cDefine1"), "立项");
  xml::NodeList rows = doc.SelectNodes("//func[@name='vchgetloanbodydata']/out//rs:data/z:row");
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].Attr("dblMoney"), "500");
  EXPECT_FALSE(rows[1].HasAttr("dblMoney"));  // Null on a cheque row
  EXPECT_EQ(rows[1].Attr("dblPreMoney"), "300");
  EXPECT_EQ(rows[1].Attr("strBillID"), "ZP001");

  // An inventory item is named from the inventory; a head without a number has no record but
  // still its schema.
  InsertLoan("JK-INV", "0002", Date("03-06"));
  Cn().Execute(
      "update EC_LoanVouch set strItemClassID = 'ch', strItemID = '0101' where "
      "strVouchID = 'JK-INV'");
  doc = Call("CLoan", "<req><func name='vchgetloanheaddata'><in><row AutoID='" +
                          Column("AutoID", "JK-INV") + "'/></in></func></req>");
  EXPECT_EQ(doc.SelectSingleNode("//z:row").Attr("strItem"), "笔记本电脑");
  doc = Call("CLoan", "<req><func name='vchgetloanheaddata'><in><row/></in></func></req>");
  EXPECT_TRUE(doc.SelectSingleNode("//z:row").IsNull());
  EXPECT_FALSE(doc.SelectSingleNode("//s:AttributeType[@name='strVouchID']").IsNull());
}

TEST_F(LoanTest, RefusedSavesChangeNothing) {
  ASSERT_TRUE(Save(Head()).SelectSingleNode("/error").IsNull());
  std::string before = State();
  struct Case {
    std::string head, rows, key;
  } cases[] = {
      {Head({{"strTypeCode", ""}}), Rows(), "Q7.Rembiz.0011"},
      {Head({{"dtLoanDate", "31/31/2020"}, {"strVouchID", "X1"}}), Rows(), "Q7.Rembiz.0213"},
      {Head({{"strDepartID", "02"}, {"strVouchID", "X2"}}), Rows(), "Q7.Rembiz.0216"},
      {Head({{"strLoanID", "9999"}, {"strVouchID", "X3"}}), Rows(), "Q7.Rembiz.0218"},
      {Head({{"strItemClassID", "00"}, {"strItemID", "999"}, {"strVouchID", "X4"}}), Rows(),
       "Q7.Rembiz.0220"},
      {Head({{"fltRate", "0"}, {"strVouchID", "X5"}}), Rows(), "Q7.Rembiz.0225"},
      // The second dimension without its value, though the first pair is complete.
      {Head({{"strBudItemID", "01"},
             {"strPort1", "department"},
             {"strPort1Value", "0201"},
             {"strPort2", "x"},
             {"strVouchID", "X7"}}),
       Rows(), "Q7.Rembiz.0241"},
      {Head({{"strVouchID", "X8"}}), "<row strBalanceID='3' dblMoney='1'/>", "Q7.Rembiz.0251"},
      {Head({{"strVouchID", "X9"}}), "<row strBalanceID='1'/>", "Q7.Rembiz.0252"},
      {Head({{"strVouchID", "X10"}}), "<row strBalanceID='2' dblPreMoney='5'/>", "Q7.Rembiz.0253"},
      {Head({{"strVouchID", "X11"}}), "<row strBalanceID='1' dblMoney='5' strPayBankID='09'/>",
       "Q7.Rembiz.0254"},
  };
  for (const Case& c : cases) {
    xml::Document doc = Save(c.head, c.rows);
    EXPECT_EQ(ErrorText(doc), Text(c.key)) << c.key;
    EXPECT_EQ(doc.SelectSingleNode("/error/id").Text(), "Rembiz:CLoan:myHandle:9000");
  }
  EXPECT_EQ(State(), before);
}

TEST_F(LoanTest, ChangeNeedsTheCurrentRowVersion) {
  std::string number = "JK" + Year() + "030001";
  ASSERT_TRUE(Save(Head()).SelectSingleNode("/error").IsNull());
  std::string guid = Column("GUID", number);
  std::string ts = Ts(number);
  std::string before = State();

  xml::Document doc =
      Save(Head({{"GUID", guid}, {"ts", std::to_string(std::stoll(ts) - 1)}, {"strUsed", "x"}}));
  EXPECT_EQ(ErrorText(doc), Text("Q7.Rembiz.0248"));
  EXPECT_EQ(State(), before);

  doc = Save(Head({{"GUID", guid}, {"ts", ts}, {"strUsed", "会议"}}),
             "<row strBalanceID='1' dblMoney='120.5'/>");
  ASSERT_TRUE(doc.SelectSingleNode("/error").IsNull()) << doc.Xml();
  EXPECT_EQ(Column("strUsed", number), "会议");
  EXPECT_EQ(Column("dblMoney", number), "120.5");
  EXPECT_EQ(Column("blnAllBill", number), "False");
  EXPECT_EQ(Scalar("select count(*) from EC_LoanVouch_Sub where MGuid = '" + guid + "'"), "1");
  EXPECT_NE(Ts(number), ts);

  // A voucher that passed budget control stays as it is.
  Cn().Execute("update EC_LoanVouch set intBudPass = 1 where GUID = '" + guid + "'");
  before = State();
  doc = Save(Head({{"GUID", guid}, {"ts", Ts(number)}}));
  EXPECT_EQ(ErrorText(doc), Text("Q7.Rembiz.0244"));
  EXPECT_EQ(State(), before);
}

TEST_F(LoanTest, SubmissionStartsTheFlowAndFreezesTheVoucher) {
  std::string number = "JK" + Year() + "030001";
  ASSERT_TRUE(Save(Head()).SelectSingleNode("/error").IsNull());
  std::string guid = Column("GUID", number);
  std::string submit = "<req><func name='submitaudit'><in><GUID>" + guid + "</GUID><ts>" +
                       Ts(number) + "</ts></in></func></req>";
  xml::Document doc = Call("CLoan", submit);
  ASSERT_TRUE(doc.SelectSingleNode("/error").IsNull()) << doc.Xml();
  EXPECT_EQ(doc.SelectSingleNode("//out/RetValue").Attr("ts"), Ts(number));
  EXPECT_EQ(Column("blnAudi", number), "True");
  EXPECT_EQ(Scalar("select cEAdata from Host_FlowInstance where cCardNumber = '45' and "
                   "cVouchGUID = '" +
                   guid + "'"),
            "<?xml version='1.0' encoding='utf-8'?><EAdata><eccontrain 金额='800' 数量='0'/>"
            "<eapcontrain 数量='0' 金额='800'/><eaovalue><item eaoid='45'   eaot='借款单_部门' "
            "eaov='0201'/><item eaoid='45'  eaot='借款单_业务类型' eaov='301'/></eaovalue>"
            "<cauth_id id='EC0202'/><cVoucherCode code='" +
                number + "'/></EAdata>");
  EXPECT_EQ(Scalar("select iFlowId, iCurStep, iState from Host_FlowInstance"), "1|1|0");

  // Submitted: no second submission, no change, no delete.
  std::string before = State();
  EXPECT_EQ(ErrorText(Call("CLoan", submit)), Text("Q7.Rembiz.0262"));
  EXPECT_EQ(ErrorText(Save(Head({{"GUID", guid}, {"ts", Ts(number)}}))), Text("Q7.Rembiz.0246"));
  // The state of the stored voucher is told before anything about the head's budget pairs.
  EXPECT_EQ(ErrorText(Save(Head(
                {{"GUID", guid}, {"ts", Ts(number)}, {"strBudItemID", "01"}, {"strPort1", "x"}}))),
            Text("Q7.Rembiz.0246"));
  doc = Call("CLoan", "<req><func name='delvouch'><in><strAutoID>" + Column("AutoID", number) +
                          "</strAutoID><ts>" + Ts(number) +
                          "</ts><type>EC01</type></in></func>"
                          "</req>");
  EXPECT_EQ(ErrorText(doc), Text("Q7.Rembiz.0271"));
  doc = Call("CLoan", "<req><func name='CheckModify'><in><row GUID='" + guid +
                          "' flag='0'/></in></func></req>");
  EXPECT_EQ(ErrorText(doc), Text("Q7.Rembiz.0269"));
  EXPECT_EQ(State(), before);
}

TEST_F(LoanTest, SubmitOnSaveSubmitsNewAndChangedVouchers) {
  SetSubmitOnSave(true);
  std::string number = "JK" + Year() + "030001";
  ASSERT_TRUE(Save(Head()).SelectSingleNode("/error").IsNull());
  std::string guid = Column("GUID", number);
  EXPECT_EQ(Column("blnAudi", number), "True");
  EXPECT_EQ(Scalar("select count(*) from Host_FlowInstance where cVouchGUID = '" + guid + "'"),
            "1");

  // With the option on a submitted voucher may still change; its flow starts over with the new
  // description.
  xml::Document doc = Save(Head({{"GUID", guid},
                                 {"ts", Ts(number)},
                                 {"dblOldMoney", "950"},
                                 {"AutoID", Column("AutoID", number)}}));
  ASSERT_TRUE(doc.SelectSingleNode("/error").IsNull()) << doc.Xml();
  EXPECT_EQ(Scalar("select mAmount, iCurStep, iState from Host_FlowInstance"), "950|1|0");

  // Approved vouchers are final; a changed voucher whose kind has no flow cannot be submitted.
  Cn().Execute("update Host_Flow set bActive = 0 where cCardNumber = '45'");
  std::string before = State();
  doc = Save(Head({{"GUID", guid}, {"ts", Ts(number)}, {"AutoID", Column("AutoID", number)}}));
  EXPECT_EQ(ErrorText(doc), Text("Rembiz.Host.FlowNone", "45"));
  EXPECT_EQ(State(), before);
  Cn().Execute("update EC_LoanVouch set strAuditorID = 'Anna Approver' where GUID = '" + guid +
               "'");
  before = State();
  EXPECT_EQ(ErrorText(Save(Head({{"GUID", guid}, {"ts", Ts(number)}}))), Text("Q7.Rembiz.0245"));
  EXPECT_EQ(State(), before);
}

TEST_F(LoanTest, OpeningVoucherIsApprovedOnEntryWithoutLimits) {
  // Borrower 0004 is limited to 5000; an opening voucher carries older loans in and is not.
  xml::Document doc =
      Save(Head({{"strLoanID", "0004"}, {"dblOldMoney", "9000"}, {"strVouchID", "QC-1"}}),
           "<row strBalanceID='1' dblMoney='9000'/>", "1");
  ASSERT_TRUE(doc.SelectSingleNode("/error").IsNull()) << doc.Xml();
  EXPECT_EQ(Column("blnBegin, blnAudi, strAuditorID, strMakerID", "QC-1"),
            "True|True|Demo Admin|Demo Admin");
  EXPECT_EQ(Scalar("select count(*) from Host_FlowInstance"), "0");

  // Deleting an opening voucher is refused once anything was repaid, and checks the row version.
  std::string id = Column("AutoID", "QC-1");
  auto del = [&](const std::string& ts) {
    return Call("CLoan", "<req><func name='delvouch'><in><strAutoID>" + id + "</strAutoID><ts>" +
                             ts + "</ts><type>EC01</type></in></func></req>");
  };
  Cn().Execute("update EC_LoanVouch set dblReturn = 10 where strVouchID = 'QC-1'");
  std::string before = State();
  EXPECT_EQ(ErrorText(del(Ts("QC-1"))), Text("Q7.Rembiz.0203"));
  Cn().Execute("update EC_LoanVouch set dblReturn = 0 where strVouchID = 'QC-1'");
  before = State();
  EXPECT_EQ(ErrorText(del(std::to_string(std::stoll(Ts("QC-1")) - 1))), Text("Q7.Rembiz.0370"));
  EXPECT_EQ(ErrorText(del("abc")), Text("Q7.Rembiz.0201"));
  // The row version and the kind are read before the voucher's number.
  EXPECT_EQ(ErrorText(Call("CLoan",
                           "<req><func name='delvouch'><in><ts>abc</ts><type>EC01</type></in>"
                           "</func></req>")),
            Text("Q7.Rembiz.0201"));
  EXPECT_EQ(ErrorText(Call("CLoan",
                           "<req><func name='delvouch'><in><ts>1</ts><type>EC05</type></in>"
                           "</func></req>")),
            Text("Q7.Rembiz.0177"));
  EXPECT_EQ(State(), before);
  ASSERT_TRUE(del(Ts("QC-1")).SelectSingleNode("/error").IsNull());
  EXPECT_EQ(Scalar("select count(*) from EC_LoanVouch"), "0");
  EXPECT_EQ(Scalar("select count(*) from EC_LoanVouch_Sub"), "0");
}

TEST_F(LoanTest, TypeOneLimitsRefuseTheSave) {
  // Age: an open loan from January is older than 30 days at the voucher's date in March.
  InsertLoan("OLD-1", "0004", Date("01-02"), 100);
  std::string before = State();
  xml::Document doc = Save(Head({{"strLoanID", "0004"}}));
  EXPECT_EQ(ErrorText(doc), Text("Q7.Rembiz.0231", Date("01-02"), "30"));
  EXPECT_EQ(State(), before);

  // Number: two open loans already; settled ones do not count.
  Cn().Execute("update EC_LoanVouch set blnSettle = 1 where strVouchID = 'OLD-1'");
  InsertLoan("N-1", "0004", Date("03-01"), 100);
  InsertLoan("N-2", "0004", Date("03-02"), 100);
  before = State();
  EXPECT_EQ(ErrorText(Save(Head({{"strLoanID", "0004"}}))), Text("Q7.Rembiz.0232", "2", "2"));
  EXPECT_EQ(State(), before);

  // Amount: 4100 open plus 900 would pass 5000 only with this voucher's 1000.
  Cn().Execute("update EC_LoanVouch set blnSettle = 1 where strVouchID = 'N-2'");
  Cn().Execute(
      "update EC_LoanVouch set dblMoney = 4000, dblOldMoney = 4000 where strVouchID = "
      "'N-1'");
  before = State();
  EXPECT_EQ(ErrorText(Save(Head({{"strLoanID", "0004"}, {"dblOldMoney", "1000.5"}}))),
            Text("Q7.Rembiz.0234", "5000", "5000.50"));
  EXPECT_EQ(State(), before);
  EXPECT_TRUE(Save(Head({{"strLoanID", "0004"}, {"dblOldMoney", "1000"}}))
                  .SelectSingleNode("/error")
                  .IsNull());
}

TEST_F(LoanTest, LimitsOfOtherTypesOnlyWarnAndUnlimitedBorrowersPass) {
  // 0005: three loans and 3000 at most, control type 0.
  for (int i = 1; i <= 3; ++i) InsertLoan("W-" + std::to_string(i), "0005", Date("03-01"), 1000);
  xml::Document doc = Save(Head({{"strLoanID", "0005"}}));
  EXPECT_TRUE(doc.SelectSingleNode("/error").IsNull()) << doc.Xml();
  for (int i = 1; i <= 3; ++i) InsertLoan("U-" + std::to_string(i), "0007", Date("01-01"), 9000);
  doc = Save(Head({{"strLoanID", "0007"}, {"strVouchID", "JK-U"}}));
  EXPECT_TRUE(doc.SelectSingleNode("/error").IsNull()) << doc.Xml();

  auto check = [&](const std::string& borrower, const std::string& guid = "") {
    return Call("CLoan", "<req><func name='CheckLoanXY'><in><row GUID='" + guid +
                             "' strPersonCode='" + borrower + "' dtDate='" + Date("03-05") +
                             "' dblMoney='800' dblOldMoney='800'/></in></func></req>");
  };
  // The page hears of the warnings (the saved voucher itself excluded by its GUID).
  std::string saved = Column("GUID", "JK" + Year() + "030001");
  doc = check("0005", saved);
  xml::Node rows = doc.SelectSingleNode("//out/Rows");
  EXPECT_EQ(rows.Attr("CtrlType"), "0");
  ASSERT_EQ(rows.Children().size(), 2u) << doc.Xml();
  EXPECT_EQ(rows.Children()[0].Text(), Text("Q7.Rembiz.0265", "3", "4"));
  EXPECT_EQ(rows.Children()[1].Text(), Text("Q7.Rembiz.0267", "3000", "3800.00"));
  doc = check("0007");
  EXPECT_EQ(doc.SelectSingleNode("//out").Xml(), "<out><Rows CtrlType=\"0\"/></out>");

  // Enforced limits tell the page that the save will be refused.
  InsertLoan("H-1", "0004", Date("01-02"), 100);
  doc = check("0004");
  rows = doc.SelectSingleNode("//out/Rows");
  EXPECT_EQ(rows.Attr("CtrlType"), "1");
  ASSERT_EQ(rows.Children().size(), 1u) << doc.Xml();
  std::string days =
      Scalar("select datediff(day, '" + Date("01-02") + "', '" + Date("03-05") + "')");
  EXPECT_EQ(rows.Children()[0].Text(), Text("Q7.Rembiz.0264", "30", days));

  // A number limit of nought: one loan more than allowed, and no loan allowed at all.
  Cn().Execute("update EC_PersonCtrl set intNumber = 0, blnMoney = 0 where strPersonCode = '0005'");
  doc = check("0005", saved);
  rows = doc.SelectSingleNode("//out/Rows");
  ASSERT_EQ(rows.Children().size(), 2u) << doc.Xml();
  EXPECT_EQ(rows.Children()[0].Text(), Text("Q7.Rembiz.0265", "0", "4"));
  EXPECT_EQ(rows.Children()[1].Text(), Text("Q7.Rembiz.0266"));
}

TEST_F(NavigationTest, FirstPreviousNextAndLast) {
  InsertLoan("A", "0002", Date("03-01"));
  InsertLoan("B", "0002", Date("03-02"));
  InsertLoan("C", "0002", Date("03-03"));
  std::string a = Id("A"), b = Id("B"), c = Id("C");
  EXPECT_EQ(Chosen("0"), a);
  EXPECT_EQ(Chosen("-1"), c);
  EXPECT_EQ(Chosen("2", a), b);
  EXPECT_EQ(Chosen("1", b), a);
  EXPECT_EQ(Chosen("3", b), b);
  // Past either end, without a current voucher or with an unknown direction: the last one.
  EXPECT_EQ(Chosen("1", a), c);
  EXPECT_EQ(Chosen("2", c), c);
  EXPECT_EQ(Chosen("1"), c);
  EXPECT_EQ(Chosen("7", a), c);
  EXPECT_EQ(List(&Session()), c + " " + b + " " + a + " ");

  // A delete leaves the choice to the list that follows it: here the last voucher.
  xml::Document deleted = Call(
      "CLoan", "<req><func name='delvouch'><in><strAutoID>" + a + "</strAutoID><ts>" + Ts("A") +
                   "</ts><type>EC01</type></in></func><func name='getVouchListID'><in>"
                   "<Director>-1</Director></in></func><func name='vchgetloanheaddata'>"
                   "<in><row/></in></func></req>");
  EXPECT_EQ(deleted.SelectSingleNode("//z:row").Attr("AutoID"), c) << deleted.Xml();
  EXPECT_EQ(Id("A"), "");

  xml::Document doc = Call("CLoan",
                           "<req><func name='getVouchListID'><in><strAutoID>1 or 1=1"
                           "</strAutoID><Director>2</Director></in></func></req>");
  EXPECT_EQ(doc.SelectSingleNode("//out/error/text").Text(),
            host::MessageText("Rembiz.Value.InvalidNumber", "", "strAutoID", "1 or 1=1"))
      << doc.Xml();
}

TEST_F(NavigationTest, ListShowsWhatTheOperatorMayStillEdit) {
  InsertLoan("DRAFT", "0002", Date("03-01"));
  InsertLoan("SUBMITTED", "0002", Date("03-02"), 100, 1);
  InsertLoan("APPROVED", "0002", Date("03-03"), 100, 1, "Anna Approver");
  InsertLoan("OPENING", "0002", Date("01-01"), 100, 1, "Demo Admin", 1);
  InsertLoan("SALES", "0004", Date("03-04"), 100, 0, "", 0, 0, "0301");
  EXPECT_EQ(List(&Session()), Id("SALES") + " " + Id("DRAFT") + " ");
  EXPECT_EQ(List(&Session(), "<begin>1</begin>"), Id("OPENING") + " ");
  SetSubmitOnSave(true);
  EXPECT_EQ(List(&Session()), Id("SUBMITTED") + " ");
  SetSubmitOnSave(false);

  // The clerk sees department 0201 only, also with the page in English.
  auto clerk = SessionFor("clerk");
  EXPECT_EQ(List(clerk.get()), Id("DRAFT") + " ");
  auto english = SessionFor("clerk", "en-US");
  EXPECT_EQ(List(english.get()), Id("DRAFT") + " ");
}

TEST_F(LoanTest, LookupByGuidSetsTheCurrentVoucherAndTemplate) {
  InsertLoan("G-1", "0002", Date("03-01"));
  std::string guid = Column("GUID", "G-1");
  xml::Document doc = Call("CLoan", "<req><func name='getVouchByGUID'><in><GUID>" + guid +
                                        "</GUID></in></func><func name='vchgetloanheaddata'><in>"
                                        "<row/></in></func></req>");
  EXPECT_EQ(doc.SelectSingleNode("//func[@name='getVouchByGUID']/out").Xml(),
            "<out><Rows><row AutoID=\"" + Column("AutoID", "G-1") + "\"/></Rows></out>");
  EXPECT_EQ(doc.SelectSingleNode("//z:row").Attr("strVouchID"), "G-1");
  // The template request without an id loads the voucher's display template from CPubMsg,
  // which in turn reads loan heads through CLoan.
  doc = Call("CLoan", "<req><func name='getVouchByGUID'><in><GUID>" + guid +
                          "</GUID></in></func><func name='vchmoduleget'><in><type>EC01</type>"
                          "<id/></in></func></req>");
  EXPECT_EQ(doc.SelectSingleNode("//func[@name='vchmoduleget']/in/id").Text(), "11");
  EXPECT_FALSE(doc.SelectSingleNode("//func[@name='vchmoduleget']/out//z:row").IsNull())
      << doc.Xml();
  doc = Call("CPubMsg", "<req><func name='vchgetloanheaddata'><in><row AutoID='" +
                            Column("AutoID", "G-1") + "'/></in></func></req>");
  EXPECT_EQ(doc.SelectSingleNode("//z:row").Attr("strVouchID"), "G-1");

  doc = Call("CLoan", "<req><func name='getVouchByGUID'><in><GUID>{0}</GUID></in></func></req>");
  EXPECT_EQ(doc.SelectSingleNode("//out/error/text").Text(), Text("Q7.Rembiz.0257"));

  doc = Call("CLoan", "<req><func name='getOperList'><in><type>EC01</type></in></func></req>");
  EXPECT_EQ(doc.SelectSingleNode("//out").Xml(),
            "<out><rows><option value=\"301\" text=\"差旅借款\" strShowModel=\"11\" "
            "strPrintModel=\"12\"/><option value=\"302\" text=\"备用金借款\" strShowModel=\"11\" "
            "strPrintModel=\"12\"/></rows></out>");
}

TEST_F(LoanTest, WriteOffsAreListedAndBlockChangesOfOpeningVouchers) {
  InsertLoan("QC-2", "0002", Date("01-05"), 1000, 1, "Demo Admin", 1);
  std::string guid = Column("GUID", "QC-2");
  std::string row = Scalar("select GUID from EC_LoanVouch_Sub where MGuid = '" + guid + "'");
  Cn().Execute(
      "insert into EC_ExpenVouch (GUID, strTypeCode, strVouchID, dtLoanDate, strLoanID, "
      "strAuditorID) values ('{C1A10001-0000-4000-8000-000000000001}', '201', 'ZC-1', '" +
      Date("02-01") + "', '0002', 'Anna Approver')");
  Cn().Execute("insert into EC_ExpenLoanInfo (LoanSubguid, Expenguid, dblJE, blnUsed) values ('" +
               row + "', '{C1A10001-0000-4000-8000-000000000001}', 300, 1), ('" + row +
               "', '{C1A10001-0000-4000-8000-000000000001}', 200, 0)");
  Cn().Execute("update EC_LoanVouch_Sub set dblReturn = 500 where GUID = '" + row + "'");

  xml::Document doc =
      Call("CLoan", "<req><func name='GetHXInfo'><in><row GUID='" + guid + "'/></in></func></req>");
  xml::NodeList lines = doc.SelectNodes("//out/Rows/row");
  ASSERT_EQ(lines.size(), 4u) << doc.Xml();
  EXPECT_EQ(lines[0].Attr("strBalance"), "现金");
  EXPECT_EQ(lines[0].Attr("dblLeave"), "500");
  // A loan line before each of the row's two write-offs.
  EXPECT_EQ(lines[2].Attr("dblLeave"), "500");
  EXPECT_EQ(lines[1].Attr("strVouchID"), "ZC-1");
  EXPECT_EQ(lines[1].Attr("cPersonName"), "李华");
  EXPECT_EQ(lines[1].Attr("strBalance"), "");
  EXPECT_EQ(lines[1].Attr("dblJE") + "+" + lines[3].Attr("dblJE") == "300+200" ||
                lines[1].Attr("dblJE") + "+" + lines[3].Attr("dblJE") == "200+300",
            true)
      << doc.Xml();

  doc = Call("CLoan", "<req><func name='CheckModify'><in><row GUID='" + guid +
                          "' flag='1'/></in></func></req>");
  EXPECT_EQ(ErrorText(doc), Text("Q7.Rembiz.0270"));
  std::string before = State();
  doc = Save(Head({{"GUID", guid}, {"ts", Ts("QC-2")}, {"strVouchID", "QC-2"}}),
             "<row strBalanceID='1' dblMoney='1000'/>", "1");
  EXPECT_EQ(ErrorText(doc), Text("Q7.Rembiz.0247"));
  EXPECT_EQ(State(), before);
}

TEST_F(LoanTest, TakenNumbersAreReplacedByFreshOnes) {
  std::string prefix = "JK" + Year() + "03";
  InsertLoan(prefix + "0001", "0002", Date("03-01"));
  xml::Document doc = Save(Head());
  ASSERT_TRUE(doc.SelectSingleNode("/error").IsNull()) << doc.Xml();
  std::string fresh = doc.SelectSingleNode("//vchno").Text();
  EXPECT_NE(fresh, prefix + "0001");
  EXPECT_EQ(Column("strLoanID", fresh), "0002");

  // A numbering that keeps handing out taken numbers gives up after the fifth fresh one.
  Cn().Execute(
      "update Host_BillFormat set bRetry = 0, cCheckTable = null where cBillType = "
      "'EC01'");
  Cn().Execute("delete from EC_LoanVouch_Sub");
  Cn().Execute("delete from EC_LoanVouch");
  Cn().Execute("delete from Host_BillSerial");
  for (int i = 1; i <= 5; ++i)
    InsertLoan(prefix + "000" + std::to_string(i), "0002", Date("03-01"));
  std::string before = State();
  EXPECT_EQ(ErrorText(Save(Head())), Text("Q7.Rembiz.0239"));
  EXPECT_EQ(State(), before);

  // Numbers typed by hand are never replaced.
  Cn().Execute("update Host_BillFormat set bManual = 1 where cBillType = 'EC01'");
  EXPECT_EQ(ErrorText(Save(Head())), Text("Q7.Rembiz.0237"));
  EXPECT_EQ(State(), before);
}

// A loan saved in English keeps its texts as typed; who made it is the session's user; the
// same number check and value limits hold as for claims, and a refused save writes nothing.
TEST_F(LoanTest, TextsOperatorAndValuesAreCheckedAtTheirRoot) {
  auto clerk = SessionFor("clerk", "en-US");
  xml::Document doc =
      Call("CLoan",
           "<req>" +
               SaveFunc(Head({{"strUsed", "Paid as agreed, a [ b ] c from O&apos;Brien"},
                              {"strPersonID", "Demo Admin"}}),
                        "<row strBalanceID='1' dblMoney='800' strBankName='x as [y]'/>") +
               "</req>",
           clerk.get());
  ASSERT_TRUE(doc.SelectSingleNode("/error").IsNull()) << doc.Xml();
  std::string number = "JK" + Year() + "030001";
  EXPECT_EQ(Column("strUsed", number), "Paid as agreed, a [ b ] c from O'Brien");
  EXPECT_EQ(Column("strPersonID", number), "Carl Clerk");
  EXPECT_EQ(Scalar("select strBankName from EC_LoanVouch_Sub"), "x as [y]");

  // The refusals below are read by a Chinese session.
  host::SetCurrentLanguage("zh-CN");
  std::string before = State();
  for (const testing::RefusedHead& c : testing::RefusedHeads()) {
    Attrs head = c.head;
    if (!head.count("strVouchID")) head["strVouchID"] = "JK-X";
    EXPECT_EQ(ErrorText(Save(Head(head))), c.text) << c.text;
  }
  EXPECT_EQ(ErrorText(Save(Head({{"strVouchID", "JK-X"}}),
                           "<row strBalanceID='1' dblMoney='12abc' dblPreMoney='5'/>")),
            "请求无效：金额“12abc”不是数字。");
  EXPECT_TRUE(State() == before) << "a refused save changed the tables";
}

// A failing save with goon stops nothing else, and leaves no part of the loan.
TEST_F(LoanTest, GoonNeverCommitsAPartLoan) {
  std::string before = State();
  xml::Document doc = Call(
      "CLoan", "<req><func name='savevouch' goon='1'><in><xml><head blnBegin='0'>" + Head() +
                   "</head><body><row strBalanceID='1' dblMoney='100'/><row strBalanceID='9'/>"
                   "</body></xml></in></func><func name='getOperList'><in><type>EC01</type></in>"
                   "</func></req>");
  EXPECT_EQ(ErrorText(doc), Text("Q7.Rembiz.0250"));
  EXPECT_EQ(State(), before);
}

// A loan's amounts are above zero: the head's, each row's money, and the advance of a row
// without money (beside money it may be left out). A refusal names the row, counted from 1,
// and writes nothing.
TEST_F(LoanTest, AmountsAreAboveZero) {
  ASSERT_TRUE(Save(Head()).SelectSingleNode("/error").IsNull());
  std::string before = State();
  struct Case {
    std::string head, rows, key, row;
  } cases[] = {
      {Head({{"strVouchID", "Y1"}, {"dblMoney", "-500"}, {"dblOldMoney", "-500"}}),
       "<row strBalanceID='1' dblMoney='-500'/>", "Q7.Rembiz.0440", ""},
      {Head({{"strVouchID", "Y2"}, {"dblOldMoney", "0"}}), Rows(), "Q7.Rembiz.0441", ""},
      {Head({{"strVouchID", "Y3"}}),
       "<row strBalanceID='1' dblMoney='1300'/><row strBalanceID='1' dblMoney='-500'/>",
       "Q7.Rembiz.0442", "2"},
      {Head({{"strVouchID", "Y4"}}),
       "<row strBalanceID='2' dblPreMoney='-800' strBillID='ZP1' strPayBankID='01'/>",
       "Q7.Rembiz.0442", "1"},
      {Head({{"strVouchID", "Y5"}}), "<row strBalanceID='1' dblMoney='0' dblPreMoney='0'/>",
       "Q7.Rembiz.0442", "1"},
      {Head({{"strVouchID", "Y6"}}), "<row strBalanceID='1' dblMoney='800' dblPreMoney='-1'/>",
       "Q7.Rembiz.0442", "1"},
  };
  for (const Case& c : cases) {
    xml::Document doc = Save(c.head, c.rows);
    EXPECT_EQ(ErrorText(doc), Text(c.key, c.row)) << c.key << " " << c.row;
  }
  EXPECT_EQ(State(), before);
}

// The loan's head answers its state: a draft, submitted, approved by the flow's one step, and
// approved from its entry as an opening voucher.
TEST_F(LoanTest, HeadAnswersTheStateOfTheLoan) {
  auto state = [&](const std::string& number) {
    xml::Document doc = Call("CLoan", "<req><func name='vchgetloanheaddata'><in><row AutoID='" +
                                          Column("AutoID", number) + "'/></in></func></req>");
    xml::Node row = doc.SelectSingleNode("//z:row");
    return row.Attr("strState") + " " + row.Attr("strStateName");
  };
  std::string number = "JK" + Year() + "030001";
  ASSERT_TRUE(Save(Head()).SelectSingleNode("/error").IsNull());
  EXPECT_EQ(state(number), "draft " + Text("Q7.Rembiz.0446"));
  std::string guid = Column("GUID", number);
  xml::Document doc = Call("CLoan", "<req><func name='submitaudit'><in><GUID>" + guid +
                                        "</GUID><ts>" + Ts(number) + "</ts></in></func></req>");
  ASSERT_TRUE(doc.SelectSingleNode("/error").IsNull()) << doc.Xml();
  EXPECT_EQ(state(number), "submitted " + Text("Q7.Rembiz.0447"));
  auto approver = SessionFor("approver");
  doc = Call("CAudit",
             "<req><func name='AuditVouch'><in><EASTdata><task EAAID='1' remark='ok'/></EASTdata>"
             "<strGUID><Rows flag='1'><row strGUID='" +
                 guid + "' ts='" + Ts(number) + "' strType='EC03' strVouchID='" + number +
                 "'/></Rows></strGUID></in></func></req>",
             approver.get());
  ASSERT_TRUE(doc.SelectSingleNode("/error").IsNull()) << doc.Xml();
  EXPECT_EQ(state(number), "approved " + Text("Q7.Rembiz.0450"));

  ASSERT_TRUE(
      Save(Head({{"strVouchID", "QC-1"}}), Rows(), "1").SelectSingleNode("/error").IsNull());
  EXPECT_EQ(state("QC-1"), "approved " + Text("Q7.Rembiz.0450"));
}

// A loan not yet submitted belongs to its maker: the clerk may open the administrator's draft
// of his department, but not change, delete or submit it.
TEST_F(LoanTest, ADraftBelongsToItsMaker) {
  InsertLoan("DRAFT-1", "0002", Date("03-01"));
  const std::string guid = Column("GUID", "DRAFT-1");
  auto clerk = SessionFor("clerk");
  const std::string refused = Text("Rembiz.Voucher.NotMaker");
  const std::string before = State();
  const std::string requests[] = {
      SaveFunc(Head({{"GUID", guid}, {"ts", Ts("DRAFT-1")}, {"strVouchID", "DRAFT-1"}})),
      "<func name='delvouch'><in><strAutoID>" + Column("AutoID", "DRAFT-1") + "</strAutoID><ts>" +
          Ts("DRAFT-1") + "</ts><type>EC01</type></in></func>",
      "<func name='submitaudit'><in><GUID>" + guid + "</GUID><ts>" + Ts("DRAFT-1") +
          "</ts></in></func>",
  };
  for (const std::string& request : requests) {
    EXPECT_EQ(ErrorText(Call("CLoan", "<req>" + request + "</req>", clerk.get())), refused)
        << request;
  }
  EXPECT_EQ(State(), before);
  xml::Document doc = Call("CLoan",
                           "<req><func name='vchgetloanheaddata'><in><row AutoID='" +
                               Column("AutoID", "DRAFT-1") + "'/></in></func></req>",
                           clerk.get());
  EXPECT_EQ(doc.SelectSingleNode("//z:row").Attr("strVouchID"), "DRAFT-1") << doc.Xml();
}

}  // namespace
}  // namespace rembiz::loan
