#include <gtest/gtest.h>

#include "db/test_seams.h"
#include "expense/c_expense.h"
#include "expense/expense_fixture.h"
#include "support/refused_values.h"

namespace rembiz::expense {
namespace {

TEST_F(ExpenseTest, SavesClaimsOfBothFamiliesWithNumbersUniquePerFamily) {
  xml::Document doc =
      Call("CExpense", "<req>" + SaveFunc(Head({{"cDefine1", "甲"}})) +
                           "<func name='getVouchListID'><in><strAutoID/><Director>0</Director>"
                           "</in></func><func name='vchgetloanheaddata'><in><row/></in></func>"
                           "<func name='vchgetloanbodydata'><in><row/></in></func>"
                           "<func name='vchmoduleget'><in><id/><type/></in></func></req>");
  ASSERT_TRUE(doc.SelectSingleNode("/error").IsNull()) << doc.Xml();
  std::string id = Column("AutoID", "BX0001");
  ASSERT_FALSE(id.empty());

  // The save positioned the list on the new claim; head, rows and template follow it.
  xml::Node list = doc.SelectSingleNode("//func[@name='getVouchListID']");
  EXPECT_EQ(list.SelectSingleNode("in/strAutoID").Text(), id);
  EXPECT_EQ(list.SelectSingleNode("in/Director").Text(), "3");
  EXPECT_EQ(list.SelectSingleNode("out/Rows/row").Attr("strTypeCode"), "201");
  xml::Node head = doc.SelectSingleNode("//func[@name='vchgetloanheaddata']/out//rs:data/z:row");
  EXPECT_EQ(head.Attr("AutoID"), id);
  // The head total is the rows' sum; the local amount stays as sent.
  EXPECT_EQ(head.Attr("dblMoney"), "1000");
  EXPECT_EQ(head.Attr("dblOldMoney"), "777");
  EXPECT_EQ(head.Attr("NumPoint"), "2");
  EXPECT_EQ(head.Attr("intOverBud"), "-1");
  EXPECT_EQ(doc.SelectNodes("//func[@name='vchgetloanbodydata']/out//rs:data/z:row").size(), 2u);
  xml::Node module = doc.SelectSingleNode("//func[@name='vchmoduleget']/in");
  EXPECT_EQ(module.SelectSingleNode("id").Text(), "31");
  EXPECT_EQ(module.SelectSingleNode("type").Text(), "EC03");

  // The same number in the income family is free; in its own family it is replaced.
  doc = Save(Head({{"strTypeCode", "101"}}), "<row strIOItem='101' dblMoney='50'/>");
  ASSERT_TRUE(doc.SelectSingleNode("/error").IsNull()) << doc.Xml();
  EXPECT_EQ(Column("dblMoney", "BX0001", "1"), "50");
  doc = Save(Head());
  ASSERT_TRUE(doc.SelectSingleNode("/error").IsNull()) << doc.Xml();
  EXPECT_EQ(Scalar("select count(*) from EC_ExpenVouch where strTypeCode like '2%'"), "2");
  EXPECT_EQ(Scalar("select count(distinct strVouchID) from EC_ExpenVouch where strTypeCode "
                   "like '2%'"),
            "2");

  // An empty layout for a new claim.
  doc = Call("CExpense", "<req><func name='vchgetloanheaddata'><in><row/></in></func></req>");
  EXPECT_TRUE(doc.SelectSingleNode("//z:row").IsNull());
  EXPECT_FALSE(doc.SelectSingleNode("//s:AttributeType[@name='strTypeCode']").IsNull());
}

TEST_F(ExpenseTest, NavigatesAndFindsVouchersByGuid) {
  ASSERT_TRUE(Save(Head()).SelectSingleNode("/error").IsNull());
  ASSERT_TRUE(Save(Head({{"strVouchID", "BX0002"}})).SelectSingleNode("/error").IsNull());
  std::string first = Column("AutoID", "BX0001");
  std::string second = Column("AutoID", "BX0002");
  auto chosen = [&](const std::string& director, const std::string& current) {
    xml::Document doc = Call(
        "CExpense", "<req><func name='getVouchListID'><in><strAutoID>" + current +
                        "</strAutoID><Director>" + director +
                        "</Director></in></func><func name='vchgetloanheaddata'><in><row/></in>"
                        "</func></req>");
    return doc.SelectSingleNode("//z:row").Attr("AutoID");
  };
  EXPECT_EQ(chosen("0", ""), first);
  EXPECT_EQ(chosen("2", first), second);
  // Past the end: the last claim again.
  EXPECT_EQ(chosen("2", second), second);
  EXPECT_EQ(chosen("1", second), first);

  // The head names its project item; an item that is not found keeps the placeholder.
  auto item = [&](const std::string& code) {
    Cn().Execute("update EC_ExpenVouch set strItemClassID = '00', strItemID = '" + code +
                 "' where AutoID = " + first);
    xml::Document doc = Call("CExpense", "<req><func name='vchgetloanheaddata'><in><row AutoID='" +
                                             first + "'/></in></func></req>");
    return doc.SelectSingleNode("//z:row").Attr("strItem");
  };
  EXPECT_EQ(item("001"), "新产品研发");
  EXPECT_EQ(item("999"), " ");

  // A loan voucher's GUID is found too and chooses the loan card.
  std::string loan_row = InsertApprovedLoan("JK0001", 100);
  std::string loan = Scalar("select MGuid from EC_LoanVouch_Sub where GUID = '" + loan_row + "'");
  xml::Document doc = Call("CExpense", "<req><func name='getVouchByGUID'><in><GUID>" + loan +
                                           "</GUID></in></func><func name='vchnoformatget'><in>"
                                           "<type>EC03</type></in></func></req>");
  ASSERT_TRUE(doc.SelectSingleNode("/error").IsNull()) << doc.Xml();
  EXPECT_EQ(doc.SelectSingleNode("//func[@name='vchnoformatget']/in/type").Text(), "EC01");
  doc = Call("CExpense",
             "<req><func name='getVouchByGUID'><in><GUID>{nothing}</GUID></in></func></req>");
  EXPECT_EQ(OutError(doc, "getVouchByGUID"), Text("Q7.Rembiz.0257"));
}

TEST_F(ExpenseTest, ChangesSubmitsAndDeletesWithRowVersions) {
  ASSERT_TRUE(Save(Head()).SelectSingleNode("/error").IsNull());
  std::string guid = Column("GUID", "BX0001");
  std::string id = Column("AutoID", "BX0001");
  std::string ts = Ts(guid);

  // A stale row version changes nothing.
  std::string before = State();
  xml::Document doc = Save(Head({{"GUID", guid}, {"ts", "1"}, {"strBudItemID", "01"}}));
  EXPECT_EQ(OutError(doc, "savevouch"), Text("Q7.Rembiz.0243"));
  EXPECT_EQ(State(), before);

  doc = Save(Head({{"GUID", guid}, {"ts", ts}, {"strUsed", "改"}}),
             "<row strIOItem='203' dblMoney='120'/>");
  ASSERT_TRUE(OutError(doc, "savevouch").empty()) << doc.Xml();
  EXPECT_EQ(Column("strUsed", "BX0001"), "改");
  EXPECT_EQ(Column("dblMoney", "BX0001"), "120");
  EXPECT_EQ(Scalar("select count(*) from EC_ExpenVouch_Sub where MGuid = '" + guid + "'"), "1");

  // Delete with a stale version: refused, nothing deleted.
  before = State();
  doc = Call("CExpense", "<req><func name='delvouch'><in><strAutoID>" + id + "</strAutoID><ts>" +
                             ts + "</ts><type>EC03</type></in></func></req>");
  EXPECT_EQ(OutError(doc, "delvouch"), Text("Q7.Rembiz.0370"));
  EXPECT_EQ(State(), before);

  // Submitted: no more changes or deletion.
  ts = Ts(guid);
  doc = Call("CExpense", "<req><func name='submitaudit'><in><GUID>" + guid + "</GUID><ts>" + ts +
                             "</ts></in></func></req>");
  ASSERT_TRUE(doc.SelectSingleNode("/error").IsNull()) << doc.Xml();
  ts = doc.SelectSingleNode("//RetValue").Attr("ts");
  EXPECT_EQ(ts, Ts(guid));
  EXPECT_EQ(Column("blnAudi", "BX0001"), "True");
  before = State();
  doc = Save(Head({{"GUID", guid}, {"ts", ts}}));
  EXPECT_EQ(OutError(doc, "savevouch"), Text("Q7.Rembiz.0246"));
  // The state of the stored claim is told before anything about the head's budget pairs.
  doc = Save(Head({{"GUID", guid}, {"ts", ts}, {"strBudItemID", "01"}, {"strPort2", "x"}}));
  EXPECT_EQ(OutError(doc, "savevouch"), Text("Q7.Rembiz.0246"));
  doc = Call("CExpense", "<req><func name='delvouch'><in><strAutoID>" + id + "</strAutoID><ts>" +
                             ts + "</ts><type>EC03</type></in></func></req>");
  EXPECT_EQ(OutError(doc, "delvouch"), Text("Q7.Rembiz.0271"));
  EXPECT_EQ(State(), before);

  // Back to draft, then deleted with its rows.
  Cn().Execute("update EC_ExpenVouch set blnAudi = 0 where GUID = '" + guid + "'");
  doc = Call("CExpense", "<req><func name='delvouch'><in><strAutoID>" + id + "</strAutoID><ts>" +
                             Ts(guid) + "</ts><type>EC03</type></in></func></req>");
  ASSERT_TRUE(OutError(doc, "delvouch").empty()) << doc.Xml();
  EXPECT_EQ(Scalar("select count(*) from EC_ExpenVouch"), "0");
  EXPECT_EQ(Scalar("select count(*) from EC_ExpenVouch_Sub"), "0");

  // The claim class deletes loan vouchers too.
  std::string loan_row = InsertApprovedLoan("JK0009", 100);
  Cn().Execute("update EC_LoanVouch set blnAudi = 0 where strVouchID = 'JK0009'");
  std::string loan = Scalar("select MGuid from EC_LoanVouch_Sub where GUID = '" + loan_row + "'");
  doc = Call("CExpense", "<req><func name='delvouch'><in><strAutoID>" +
                             Scalar("select AutoID from EC_LoanVouch where GUID = '" + loan + "'") +
                             "</strAutoID><ts>" + Ts(loan, "EC_LoanVouch") +
                             "</ts><type>EC01</type></in></func></req>");
  ASSERT_TRUE(OutError(doc, "delvouch").empty()) << doc.Xml();
  EXPECT_EQ(Scalar("select count(*) from EC_LoanVouch"), "0");
}

TEST_F(ExpenseTest, SubmitOnSaveSubmitsTheNewClaim) {
  SetSubmitOnSave(true);
  xml::Document doc = Save(Head());
  ASSERT_TRUE(OutError(doc, "savevouch").empty()) << doc.Xml();
  std::string guid = Column("GUID", "BX0001");
  EXPECT_EQ(Column("blnAudi", "BX0001"), "True");
  EXPECT_EQ(Scalar("select count(*) from Host_FlowInstance where cVouchGUID = '" + guid + "'"),
            "1");
}

// Other classes submit a claim through the claim class's own InitAudit.
TEST_F(ExpenseTest, InitAuditSubmitsTheClaimOfAHeadRecord) {
  ASSERT_TRUE(OutError(Save(Head()), "savevouch").empty());
  std::string guid = Column("GUID", "BX0001");
  xml::Document record;
  record.LoadXml("<z:row GUID='" + guid +
                 "' strTypeCode='201' strDepartID='0201' strVouchID='BX0001' dblOldMoney='777' "
                 "blnModify='1'/>");
  CExpense expense;
  EXPECT_TRUE(expense.InitAudit(Session(), Cn(), record.DocumentElement()));
  EXPECT_EQ(Column("blnAudi", "BX0001"), "True");
  EXPECT_EQ(Scalar("select cCardNumber, mAmount from Host_FlowInstance where cVouchGUID = '" +
                   guid + "'"),
            "47|777");
}

TEST_F(ExpenseTest, StandardsRefuseWarnOrDemandAReceipt) {
  // Hard control: the second row claims 1000 for two nights where 900 are allowed.
  std::string before = State();
  xml::Document doc =
      Save(Head(),
           "<row strIOItem='203' dblMoney='10'/>"
           "<row strIOItem='20101' strEZero='0101' dblNumber='2' dblMoney='1000'/>");
  std::string text = OutError(doc, "savevouch");
  EXPECT_TRUE(text.starts_with(Text("Q7.Rembiz.0279", "(2)", ""))) << text;
  EXPECT_EQ(State(), before);

  // Warning only: entertainment above 1000 in sales saves and answers the message document.
  doc = Save(Head({{"strDepartID", "0301"}}), "<row strIOItem='202' dblMoney='1500'/>");
  xml::Node message = doc.SelectSingleNode("//func[@name='savevouch']/out/message");
  ASSERT_FALSE(message.IsNull()) << doc.Xml();
  EXPECT_EQ(message.SelectSingleNode("id").Text(), "Rembiz:CExpend:SaveVouch:ExpenStandard");
  EXPECT_NE(message.SelectSingleNode("text").Text().find("(1)"), std::string::npos);
  EXPECT_EQ(Column("dblMoney", "BX0001"), "1500");

  // A transport row without receipt amount under a bracket standard.
  before = State();
  doc = Save(Head({{"strVouchID", "BX0002"}}), "<row strIOItem='20102' dblMoney='80'/>");
  EXPECT_EQ(OutError(doc, "savevouch"), Text("Q7.Rembiz.0282", "(1)"));
  EXPECT_EQ(State(), before);

  // A parent item is no leaf; master data errors name their key.
  doc = Save(Head({{"strVouchID", "BX0002"}}), "<row strIOItem='201' dblMoney='80'/>");
  EXPECT_EQ(OutError(doc, "savevouch"), Text("Q7.Rembiz.0280", "(1)"));
  doc = Save(Head({{"strVouchID", "BX0002"}, {"strLoanID", "9999"}}));
  EXPECT_EQ(OutError(doc, "savevouch"), Text("Q7.Rembiz.0277"));
  doc = Save(Head({{"strVouchID", "BX0002"},
                   {"strBudItemID", "01"},
                   {"strPort1", "d"},
                   {"strPort1Value", "v"},
                   {"strPort2", "x"}}));
  EXPECT_EQ(OutError(doc, "savevouch"), Text("Q7.Rembiz.0241"));
  EXPECT_EQ(State(), before);
}

// The rows' items and standards are looked up once for the whole claim, the head's master data
// in one query: a claim of five rows, three of them under standards, sends a fixed handful of
// statements (24; well over 40 when every row asked for itself). The refusals keep their order: the
// department before the claimant, the first row's refusal before the second's.
TEST_F(ExpenseTest, ClaimChecksLookUpOnceForAllRows) {
  const std::string rows =
      "<row strIOItem='20101' strEZero='0101' dblNumber='2' dblVouch='900' dblMoney='900'/>"
      "<row strIOItem='20102' dblVouch='80' dblMoney='80'/>"
      "<row strIOItem='20103' strJTTools='02' dblMoney='50'/>"
      "<row strIOItem='202' dblMoney='50'/><row strIOItem='203' dblMoney='30'/>";
  const int64_t before = db::ThreadStatementCount();
  xml::Document doc = Save(Head(), rows);
  EXPECT_EQ(ErrorText(doc), "") << doc.Xml();
  EXPECT_EQ(Column("dblMoney", "BX0001"), "1110");
  EXPECT_LE(db::ThreadStatementCount() - before, 24);

  doc = Save(Head({{"strVouchID", "BX0002"}, {"strDepartID", "9999"}, {"strLoanID", "9999"}}));
  EXPECT_EQ(OutError(doc, "savevouch"), Text("Q7.Rembiz.0215"));
  doc = Save(Head({{"strVouchID", "BX0002"}, {"strLoanID", "9999"}, {"strBill", "XYZ"}}));
  EXPECT_EQ(OutError(doc, "savevouch"), Text("Q7.Rembiz.0277"));
  doc = Save(Head({{"strVouchID", "BX0002"}, {"strBill", "XYZ"}}));
  EXPECT_EQ(OutError(doc, "savevouch"), Text("Q7.Rembiz.0222"));
  doc = Save(Head({{"strVouchID", "BX0002"}}),
             "<row strIOItem='20102' dblMoney='80'/><row strIOItem='201' dblMoney='1'/>");
  EXPECT_EQ(OutError(doc, "savevouch"), Text("Q7.Rembiz.0282", "(1)"));
  doc = Save(Head({{"strVouchID", "BX0002"}}),
             "<row strIOItem='203' dblMoney='1'/><row strIOItem='9' dblMoney='1'/>");
  EXPECT_EQ(OutError(doc, "savevouch"), Text("Q7.Rembiz.0281", "(2)"));
}

// A failing save answers under its own out; with goon the request goes on, but nothing of the
// failed claim is kept.
TEST_F(ExpenseTest, GoonNeverCommitsAPartClaim) {
  std::string before = State();
  xml::Document doc = Call(
      "CExpense", "<req><func name='savevouch' goon='1'><in><xml><head>" + Head() +
                      "</head><body><row strIOItem='203' dblMoney='100'/><row strIOItem='999' "
                      "dblMoney='5'/></body></xml></in></func><func name='getOperList'><in><type>"
                      "EC03</type></in></func></req>");
  EXPECT_EQ(OutError(doc, "savevouch"), Text("Q7.Rembiz.0281", "(2)"));
  EXPECT_FALSE(doc.SelectSingleNode("//func[@name='getOperList']/out/rows/option").IsNull());
  EXPECT_EQ(State(), before);
}

// Texts with quotes, brackets and " as " are stored as typed in either language, and the
// clerk, who sees one department only, navigates to exactly the claim asked for.
TEST_F(ExpenseTest, TextsAndNavigationAreTheSameInEnglish) {
  auto clerk = SessionFor("clerk", "en-US");
  const std::string used = "Paid as agreed, a [ b ] c from O&apos;Brien";
  xml::Document doc = Call("CExpense",
                           "<req>" +
                               SaveFunc(Head({{"strUsed", used}}),
                                        "<row strIOItem='203' dblMoney='100' "
                                        "strMemo='x as [y]'/>") +
                               "</req>",
                           clerk.get());
  ASSERT_TRUE(OutError(doc, "savevouch").empty()) << doc.Xml();
  ASSERT_TRUE(Save(Head({{"strVouchID", "BX0002"}})).SelectSingleNode("/error").IsNull());
  EXPECT_EQ(Column("strUsed", "BX0001"), "Paid as agreed, a [ b ] c from O'Brien");
  EXPECT_EQ(Scalar("select strMemo from EC_ExpenVouch_Sub"), "x as [y]");

  std::string first = Column("AutoID", "BX0001");
  for (const char* director : {"3", "-3"}) {
    doc = Call("CExpense",
               "<req><func name='getVouchListID'><in><strAutoID>" + first +
                   "</strAutoID><Director>" + director +
                   "</Director></in></func><func name='vchgetloanheaddata'><in><row/></in>"
                   "</func></req>",
               clerk.get());
    ASSERT_TRUE(doc.SelectSingleNode("/error").IsNull()) << doc.Xml();
    EXPECT_EQ(doc.SelectSingleNode("//z:row").Attr("AutoID"), first) << director;
  }
}

// Who made the claim is the session's user, whatever the request says; values the database
// would not hold are refused by name and nothing is written.
TEST_F(ExpenseTest, OperatorComesFromTheSessionAndOversizedValuesAreRefused) {
  auto clerk = SessionFor("clerk");
  xml::Document doc = Call("CExpense", "<req>" + SaveFunc(Head()) + "</req>", clerk.get());
  ASSERT_TRUE(OutError(doc, "savevouch").empty()) << doc.Xml();
  EXPECT_EQ(Column("strPersonID", "BX0001"), "Carl Clerk");

  std::string before = State();
  for (const testing::RefusedHead& c : testing::RefusedHeads()) {
    Attrs head = c.head;
    if (!head.count("strVouchID")) head["strVouchID"] = "BX0002";
    EXPECT_EQ(OutError(Save(Head(head)), "savevouch"), c.text) << c.text;
  }
  EXPECT_EQ(OutError(Save(Head({{"strVouchID", "BX0002"}}),
                          "<row strIOItem='203' dblMoney='100' strMemo='" + std::string(300, 'm') +
                              "'/>"),
                     "savevouch"),
            Text("Rembiz.Value.TooLong", "备注", "200"));
  EXPECT_EQ(
      OutError(Save(Head({{"strVouchID", "BX0002"}}), "<row strIOItem='203' dblMoney='12abc'/>"),
               "savevouch"),
      "请求无效：金额“12abc”不是数字。");
  EXPECT_TRUE(State() == before) << "a refused save changed the tables";
}

// A claim's amounts are above zero, whichever its family: each row's, and the head's (which a
// claim without rows keeps). A refusal names the row, counted from 1, and writes nothing.
TEST_F(ExpenseTest, AmountsAreAboveZero) {
  std::string before = State();
  xml::Document doc = Save(Head(),
                           "<row strIOItem='203' dblMoney='100'/>"
                           "<row strIOItem='203' dblMoney='-50'/>");
  EXPECT_EQ(OutError(doc, "savevouch"), Text("Q7.Rembiz.0442", "2"));
  doc = Save(Head({{"strTypeCode", "101"}}), "<row strIOItem='101' dblMoney='0'/>");
  EXPECT_EQ(OutError(doc, "savevouch"), Text("Q7.Rembiz.0442", "1"));
  doc = Save(Head({{"dblMoney", "-1"}}), "");
  EXPECT_EQ(OutError(doc, "savevouch"), Text("Q7.Rembiz.0440"));
  doc = Save(Head({{"dblOldMoney", "-777"}}));
  EXPECT_EQ(OutError(doc, "savevouch"), Text("Q7.Rembiz.0441"));
  EXPECT_EQ(State(), before);
}

// A claim not yet submitted belongs to the clerk who entered it. The cashier, who holds the
// claim page's right for the settlement lines, may open it but not change, delete, submit or
// settle it; an administrator may change it, and every change keeps who entered it.
TEST_F(ExpenseTest, ADraftBelongsToItsMaker) {
  auto clerk = SessionFor("clerk");
  auto cashier = SessionFor("cashier");
  ASSERT_TRUE(
      OutError(Call("CExpense", "<req>" + SaveFunc(Head()) + "</req>", clerk.get()), "savevouch")
          .empty());
  const std::string guid = Column("GUID", "BX0001");
  const std::string id = Column("AutoID", "BX0001");
  auto key = [&] { return Attrs{{"GUID", guid}, {"ts", Ts(guid)}, {"strUsed", "taken over"}}; };

  const std::string refused = Text("Rembiz.Voucher.NotMaker");
  const std::string before = State();
  xml::Document doc = Call("CExpense",
                           "<req><func name='vchgetloanheaddata'><in><row AutoID='" + id +
                               "'/></in></func>" + SaveFunc(Head(key())) + "</req>",
                           cashier.get());
  EXPECT_EQ(doc.SelectSingleNode("//z:row").Attr("strPersonID"), "Carl Clerk") << doc.Xml();
  EXPECT_EQ(OutError(doc, "savevouch"), refused) << doc.Xml();
  const std::string requests[] = {
      "<func name='delvouch'><in><strAutoID>" + id + "</strAutoID><ts>" + Ts(guid) +
          "</ts><type>EC03</type></in></func>",
      "<func name='submitaudit'><in><GUID>" + guid + "</GUID><ts>" + Ts(guid) + "</ts></in></func>",
      "<func name='SaveLoanInfo'><in GUID='" + guid + "' ts='" + Ts(guid) +
          "' del='1' strBill='人民币' fltRate='1'/></func>",
      "<func name='SaveExpenInfo'><in GUID='" + guid + "' ts='" + Ts(guid) +
          "'><rows><row P='1' intIOType='" + Text("Q7.Rembiz.0186") +
          "' strBalanceID='1' dblMoney='10'/></rows></in></func>",
  };
  for (const std::string& request : requests) {
    doc = Call("CExpense", "<req>" + request + "</req>", cashier.get());
    std::string text = doc.SelectSingleNode("//error/text").Text();
    EXPECT_EQ(text, refused) << request;
  }
  EXPECT_EQ(State(), before);

  // The administrator's change and the clerk's own keep the clerk as the maker.
  ASSERT_TRUE(NoError(Save(Head(key()))));
  EXPECT_EQ(Column("strUsed", "BX0001"), "taken over");
  doc = Call("CExpense", "<req>" + SaveFunc(Head(key())) + "</req>", clerk.get());
  ASSERT_TRUE(NoError(doc)) << doc.Xml();
  EXPECT_EQ(Column("strPersonID", "BX0001"), "Carl Clerk");
}

}  // namespace
}  // namespace rembiz::expense
