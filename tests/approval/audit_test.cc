#include <gtest/gtest.h>

#include "approval/audit_fixture.h"

namespace rembiz::approval {
namespace {

constexpr const char* kLoan1 = "{AD000001-0000-4000-8000-000000000001}";
constexpr const char* kLoan2 = "{AD000002-0000-4000-8000-000000000002}";
constexpr const char* kLoan3 = "{AD000003-0000-4000-8000-000000000003}";
constexpr const char* kClaim1 = "{AD000011-0000-4000-8000-000000000011}";
constexpr const char* kClaim2 = "{AD000012-0000-4000-8000-000000000012}";

TEST_F(AuditTest, ABatchApprovesTheVouchersItCanAndListsTheStaleOne) {
  InsertLoan(kLoan1, "JK0001", 1, "ZP101");
  InsertLoan(kLoan2, "JK0002");
  InsertLoan(kLoan3, "JK0003");
  std::string stale_ts = Ts("EC_LoanVouch", kLoan2);
  Cn().Execute(std::string("update EC_LoanVouch set strUsed = 'changed' where GUID = '") + kLoan2 +
               "'");

  auto approver = SessionFor("approver");
  xml::Document doc = CheckAudit(true,
                                 Listed("EC_LoanVouch", kLoan1, "EC03") +
                                     Listed("EC_LoanVouch", kLoan2, "EC03", stale_ts) +
                                     Listed("EC_LoanVouch", kLoan3, "EC03"),
                                 approver.get());
  xml::Node rows = doc.SelectSingleNode("//func/out/Rows");
  ASSERT_TRUE(rows) << doc.Xml();
  EXPECT_EQ(rows.Attr("flag"), "true");
  ASSERT_EQ(rows.SelectNodes("row").size(), 2u) << doc.Xml();
  EXPECT_EQ(rows.SelectNodes("row")[0].Attr("guid"), kLoan1);
  EXPECT_EQ(rows.SelectNodes("row")[1].Attr("strVouchID"), "JK0003");
  xml::NodeList errors = rows.SelectNodes("Error/err");
  ASSERT_EQ(errors.size(), 1u) << doc.Xml();
  EXPECT_EQ(errors[0].Attr("guid"), kLoan2);
  EXPECT_EQ(errors[0].Attr("msg"), Text("Q7.Rembiz.0165", "2", Text("Q7.Rembiz.0167")));

  EXPECT_EQ(Column("EC_LoanVouch", "strAuditorID", kLoan1), "Anna Approver");
  EXPECT_EQ(Column("EC_LoanVouch", "strAuditorID", kLoan3), "Anna Approver");
  EXPECT_EQ(Column("EC_LoanVouch", "isnull(strAuditorID, '')", kLoan2), "");
  // The cheque row of the first loan went into the cheque register on the bank's account.
  EXPECT_EQ(Scalar("select cCode, cn_id, mc from Host_Cheque"), "100201|ZP101|300");

  // Approving again is refused per voucher; a kind the pages do not know is refused too.
  doc = CheckAudit(true,
                   Listed("EC_LoanVouch", kLoan1, "EC03") + Listed("EC_LoanVouch", kLoan2, "EC09"),
                   approver.get());
  errors = doc.SelectNodes("//Rows/Error/err");
  ASSERT_EQ(errors.size(), 2u) << doc.Xml();
  EXPECT_EQ(errors[0].Attr("msg"), Text("Q7.Rembiz.0165", "1", Text("Q7.Rembiz.0166")));
  EXPECT_EQ(errors[1].Attr("msg"), Text("Q7.Rembiz.0165", "2", Text("Q7.Rembiz.0161")));

  // clerk holds no approval right: the refusal is listed, nothing is approved.
  std::string before = Dump("EC_LoanVouch");
  auto clerk = SessionFor("clerk");
  doc = CheckAudit(true, Listed("EC_LoanVouch", kLoan2, "EC03"), clerk.get());
  ASSERT_EQ(doc.SelectNodes("//Rows/Error/err").size(), 1u) << doc.Xml();
  EXPECT_EQ(Dump("EC_LoanVouch"), before);
}

TEST_F(AuditTest, AClaimPassesBothFlowStepsBeforeItIsApprovedAndConsumesItsBudget) {
  // The dimension value is stored as "[code]name"; the budget is booked on the code.
  InsertClaim(kClaim1, "ZC0001", 1200, "01", "[01]总经理办公室");
  SubmitClaim(kClaim1);
  ASSERT_EQ(Column("EC_ExpenVouch", "cast(blnAudi as int)", kClaim1), "1");

  // The second step's approver cannot act before the first step is done.
  auto approver = SessionFor("approver");
  std::string before = Dump("EC_ExpenVouch") + Dump("Host_FlowRecord");
  xml::Document doc = AuditVouch("EC_ExpenVouch", kClaim1, "EC02", true, approver.get());
  EXPECT_FALSE(ErrorText(doc).empty()) << doc.Xml();
  EXPECT_EQ(Dump("EC_ExpenVouch") + Dump("Host_FlowRecord"), before);

  doc = AuditVouch("EC_ExpenVouch", kClaim1, "EC02", true, &Session());
  EXPECT_TRUE(doc.SelectSingleNode("//func/out/Return")) << doc.Xml();
  EXPECT_EQ(Column("EC_ExpenVouch", "isnull(strAuditorID, '')", kClaim1), "");
  EXPECT_EQ(Column("EC_ExpenVouch", "cast(blnAudi as int)", kClaim1), "1");
  EXPECT_EQ(Scalar("select count(*) from Host_BudgetUse"), "0");

  doc = AuditVouch("EC_ExpenVouch", kClaim1, "EC02", true, approver.get());
  EXPECT_TRUE(doc.SelectSingleNode("//func/out/Return")) << doc.Xml();
  EXPECT_EQ(Column("EC_ExpenVouch", "strAuditorID", kClaim1), "Anna Approver");
  EXPECT_EQ(Column("EC_ExpenVouch", "intBudPass", kClaim1), "1");
  EXPECT_EQ(Scalar("select cItemCode, cPort1Value, mAmount from "
                   "Host_BudgetUse where cVouchGUID = '" +
                   std::string(kClaim1) + "'"),
            "01|01|1200");

  // Both steps are on record; the print text names each approver.
  doc = Call("CAudit",
             "<req><func name='GetAudiState'><in><GUID>" + std::string(kClaim1) +
                 "</GUID><strType>201</strType></in></func></req>",
             approver.get());
  xml::NodeList records = doc.SelectNodes("//Rows/row");
  ASSERT_EQ(records.size(), 2u) << doc.Xml();
  EXPECT_EQ(records[0].Attr("cUser_Name"), "Demo Admin");
  EXPECT_EQ(records[1].Attr("cUser_Name"), "Anna Approver");
  EXPECT_NE(doc.SelectSingleNode("//Rows/EASPrintData")
                .Text()
                .find(Text("Q7.Rembiz.0381") + "Anna Approver"),
            std::string::npos);
  doc = Call("CAudit",
             "<req><func name='GetAuditInfo'><in guid='" + std::string(kClaim1) +
                 "' strType='EC02'/></func></req>",
             approver.get());
  EXPECT_EQ(doc.SelectSingleNode("//data/flow").Attr("state"), "1") << doc.Xml();

  // Taking back the last step withdraws the approval and gives the budget back.
  doc = AuditVouch("EC_ExpenVouch", kClaim1, "EC02", false, approver.get());
  EXPECT_TRUE(doc.SelectSingleNode("//func/out/Return")) << doc.Xml();
  EXPECT_EQ(Column("EC_ExpenVouch", "isnull(strAuditorID, '')", kClaim1), "");
  EXPECT_EQ(Scalar("select sum(mAmount) from Host_BudgetUse"), "0");
}

TEST_F(AuditTest, AnOverBudgetClaimIsRefusedAndStaysSubmitted) {
  // Department 0202 has 30000 of travel budget under hard control.
  InsertClaim(kClaim1, "ZC0001", 40000, "0202", "[0202]出纳科");
  SubmitClaim(kClaim1);
  auto approver = SessionFor("approver");
  ASSERT_TRUE(AuditVouch("EC_ExpenVouch", kClaim1, "EC02", true, &Session())
                  .SelectSingleNode("//func/out/Return"));

  xml::Document doc = AuditVouch("EC_ExpenVouch", kClaim1, "EC02", true, approver.get());
  std::string text = ErrorText(doc);
  EXPECT_EQ(text.rfind("ZC0001: " + Text("Q7.Rembiz.0176", ""), 0), 0u) << doc.Xml();
  EXPECT_EQ(Column("EC_ExpenVouch", "cast(blnAudi as int)", kClaim1), "1");
  EXPECT_EQ(Column("EC_ExpenVouch", "isnull(strAuditorID, '')", kClaim1), "");
  EXPECT_EQ(Column("EC_ExpenVouch", "intOverBud", kClaim1), "1");
  EXPECT_EQ(Column("EC_ExpenVouch", "intBudPass", kClaim1), "0");
  EXPECT_EQ(Scalar("select count(*) from Host_BudgetUse"), "0");
  // The flow still waits for the second step.
  EXPECT_EQ(Scalar("select iCurStep, iState from Host_FlowInstance where cVouchGUID = '" +
                   std::string(kClaim1) + "'"),
            "2|0");

  // The batch refuses it the same way and lists the budget's answer.
  doc = CheckAudit(true, Listed("EC_ExpenVouch", kClaim1, "EC02"), approver.get());
  ASSERT_EQ(doc.SelectNodes("//Rows/Error/err").size(), 1u) << doc.Xml();
  EXPECT_EQ(doc.SelectNodes("//Rows/row").size(), 0u);
  EXPECT_EQ(Column("EC_ExpenVouch", "intOverBud", kClaim1), "1");
}

TEST_F(AuditTest, ApprovedVouchersCannotBeWithdrawnAndVerifiedClaimsKeepTheirApproval) {
  InsertClaim(kClaim1, "ZC0001", 500, "0201", "[0201]会计科", "Anna Approver", "Anna Approver");
  InsertClaim(kClaim2, "ZC0002", 500, "0201", "[0201]会计科", "Anna Approver");
  auto approver = SessionFor("approver");
  std::string before = Dump("EC_ExpenVouch");
  xml::Document doc = CheckAudit(false, Listed("EC_ExpenVouch", kClaim1, "EC02"), approver.get());
  xml::NodeList errors = doc.SelectNodes("//Rows/Error/err");
  ASSERT_EQ(errors.size(), 1u) << doc.Xml();
  EXPECT_EQ(errors[0].Attr("msg"), Text("Q7.Rembiz.0165", "1", Text("Q7.Rembiz.0162")));
  EXPECT_EQ(Dump("EC_ExpenVouch"), before);

  doc = Call("CAudit", "<req><func name='DelAudit'><in><GUID>" + std::string(kClaim2) +
                           "</GUID><ts>" + Ts("EC_ExpenVouch", kClaim2) +
                           "</ts><type>EC03</type></in></func></req>");
  EXPECT_EQ(ErrorText(doc), Text("Q7.Rembiz.0179")) << doc.Xml();
  EXPECT_EQ(Dump("EC_ExpenVouch"), before);

  // The unverified claim's approval can be cancelled.
  doc = CheckAudit(false, Listed("EC_ExpenVouch", kClaim2, "EC02"), approver.get());
  EXPECT_EQ(doc.SelectNodes("//Rows/row").size(), 1u) << doc.Xml();
  EXPECT_EQ(Column("EC_ExpenVouch", "isnull(strAuditorID, '')", kClaim2), "");
}

TEST_F(AuditTest, DelAuditWithdrawsASubmissionWithItsFlowInstance) {
  InsertClaim(kClaim1, "ZC0001", 500, "0201", "[0201]会计科");
  SubmitClaim(kClaim1);
  ASSERT_EQ(Scalar("select count(*) from Host_FlowInstance"), "1");

  std::string request = "<req><func name='DelAudit'><in><GUID>" + std::string(kClaim1) +
                        "</GUID><ts>" + Ts("EC_ExpenVouch", kClaim1) +
                        "</ts><type>EC03</type></in></func></req>";
  xml::Document doc = Call("CAudit", request);
  EXPECT_EQ(doc.SelectSingleNode("//out/RetValue").Attr("ts"), Ts("EC_ExpenVouch", kClaim1))
      << doc.Xml();
  EXPECT_EQ(Column("EC_ExpenVouch", "cast(blnAudi as int)", kClaim1), "0");
  EXPECT_EQ(Scalar("select count(*) from Host_FlowInstance"), "0");

  // The same request again carries a stale row version.
  doc = Call("CAudit", request);
  EXPECT_EQ(ErrorText(doc), Text("Q7.Rembiz.0385"));
  doc = Call("CAudit", "<req><func name='DelAudit'><in><GUID>" + std::string(kClaim1) +
                           "</GUID><ts>" + Ts("EC_ExpenVouch", kClaim1) +
                           "</ts><type>EC03</type></in></func></req>");
  EXPECT_EQ(ErrorText(doc), Text("Q7.Rembiz.0178"));
}

// A rejection says why, and the clerk who takes the rejected claim back, corrects it and submits
// it again still reads the rejection and its remark in the history.
TEST_F(AuditTest, ARejectionNeedsARemarkAndOutlivesTheResubmission) {
  InsertClaim(kClaim1, "ZC0001", 500, "0201", "[0201]会计科");
  SubmitClaim(kClaim1);
  auto reject = [&](const std::string& remark) {
    return Call("CAudit", "<req><func name='AuditVouch'><in><EASTdata><task EAAID='2' remark='" +
                              remark + "'/></EASTdata><strGUID><Rows flag='1'><row strGUID='" +
                              kClaim1 + "' ts='" + Ts("EC_ExpenVouch", kClaim1) +
                              "' strType='EC02' strVouchID='ZC0001'/></Rows></strGUID></in>"
                              "</func></req>");
  };
  std::string before = Dump("EC_ExpenVouch") + Dump("Host_FlowInstance") + Dump("Host_FlowRecord");
  xml::Document doc = reject("  ");
  EXPECT_NE(ErrorText(doc).find(Text("Rembiz.Host.FlowRejectRemark")), std::string::npos)
      << doc.Xml();
  EXPECT_EQ(Dump("EC_ExpenVouch") + Dump("Host_FlowInstance") + Dump("Host_FlowRecord"), before);
  doc = reject("发票不全");
  ASSERT_TRUE(doc.SelectSingleNode("//func/out/Return")) << doc.Xml();
  ASSERT_EQ(Scalar("select iState from Host_FlowInstance"), "2");

  // Taken back, the claim is a draft again: its stopped flow keeps the rejection, and no
  // approver can act on it.
  doc = Call("CAudit", "<req><func name='DelAudit'><in><GUID>" + std::string(kClaim1) +
                           "</GUID><ts>" + Ts("EC_ExpenVouch", kClaim1) +
                           "</ts><type>EC03</type></in></func></req>");
  ASSERT_TRUE(doc.SelectSingleNode("//out/RetValue")) << doc.Xml();
  EXPECT_EQ(Column("EC_ExpenVouch", "cast(blnAudi as int)", kClaim1), "0");
  EXPECT_EQ(Scalar("select iState, iRound from Host_FlowInstance"), "2|1");
  doc = AuditVouch("EC_ExpenVouch", kClaim1, "EC02", true, &Session());
  EXPECT_EQ(Column("EC_ExpenVouch", "isnull(strAuditorID, '')", kClaim1), "") << doc.Xml();

  SubmitClaim(kClaim1);
  EXPECT_EQ(Scalar("select iState, iRound from Host_FlowInstance"), "0|2");
  doc = Call("CAudit", "<req><func name='GetAuditInfo'><in guid='" + std::string(kClaim1) +
                           "' strType='EC02'/></func></req>");
  xml::NodeList records = doc.SelectNodes("//data/flow/record");
  ASSERT_EQ(records.size(), 1u) << doc.Xml();
  EXPECT_EQ(records[0].Attr("round"), "1");
  EXPECT_EQ(records[0].Attr("action"), "2");
  EXPECT_EQ(records[0].Attr("remark"), "发票不全");
}

TEST_F(AuditTest, APaidLoanCannotBeUnapprovedUntilThePaymentIsWithdrawn) {
  InsertLoan(kLoan1, "JK0001");
  Cn().Execute(std::string("update EC_LoanVouch_Sub set strBalanceID = '302', strBillID = 'B-1', "
                           "strPayBankID = '01', strBankAcc = '6222020200001111' where MGuid = '") +
               kLoan1 + "'");
  auto approver = SessionFor("approver");
  // Submitted without a flow instance: the approver's action approves at once.
  xml::Document doc = AuditVouch("EC_LoanVouch", kLoan1, "EC03", true, approver.get());
  ASSERT_TRUE(doc.SelectSingleNode("//func/out/Return")) << doc.Xml();
  ASSERT_EQ(Column("EC_LoanVouch", "strAuditorID", kLoan1), "Anna Approver");

  std::string row =
      Scalar(std::string("select GUID from EC_LoanVouch_Sub where MGuid = '") + kLoan1 + "'");
  std::string pay =
      "<req><func name='netpay'><in><row strtypecode='301' guid='" + row + "'/></in></func></req>";
  doc = Call("CNetPay", pay, approver.get());
  ASSERT_FALSE(Column("EC_LoanVouch_Sub", "strPayID", row).empty()) << doc.Xml();

  std::string before = Dump("EC_LoanVouch");
  doc = CheckAudit(false, Listed("EC_LoanVouch", kLoan1, "EC03"), approver.get());
  ASSERT_EQ(doc.SelectNodes("//Rows/Error/err").size(), 1u) << doc.Xml();
  EXPECT_EQ(doc.SelectSingleNode("//Rows/Error/err").Attr("msg"),
            Text("Q7.Rembiz.0165", "1", Text("Q7.Rembiz.0163")));
  doc = AuditVouch("EC_LoanVouch", kLoan1, "EC03", false, approver.get());
  EXPECT_EQ(ErrorText(doc), "JK0001: " + Text("Q7.Rembiz.0172")) << doc.Xml();
  EXPECT_EQ(Dump("EC_LoanVouch"), before);

  // Once the payment is withdrawn the approval can be cancelled.
  std::string unpay = pay;
  unpay.replace(unpay.find("netpay"), 6, "netunpay");
  Call("CNetPay", unpay, approver.get());
  doc = CheckAudit(false, Listed("EC_LoanVouch", kLoan1, "EC03"), approver.get());
  EXPECT_EQ(doc.SelectNodes("//Rows/row").size(), 1u) << doc.Xml();
  EXPECT_EQ(Column("EC_LoanVouch", "isnull(strAuditorID, '')", kLoan1), "");
}

// A batch without a clear approve-or-cancel flag, or a flow action without its vouchers, is
// refused as a whole and changes nothing.
TEST_F(AuditTest, RequestsThatDoNotSayWhatToDoAreRefused) {
  InsertLoan(kLoan1, "JK0001", 1, "", "Anna Approver");
  std::string state = Dump("EC_LoanVouch") + Dump("Host_BudgetUse") + Dump("Host_FlowInstance");
  auto approver = SessionFor("approver");
  for (const std::string& flag : {std::string(), std::string(" flag='maybe'")}) {
    xml::Document doc = Call("CAudit",
                             "<req><func name='CheckAudit'><in" + flag + ">" +
                                 Listed("EC_LoanVouch", kLoan1, "EC03") + "</in></func></req>",
                             approver.get());
    EXPECT_NE(ErrorText(doc).find("flag"), std::string::npos) << doc.Xml();
  }
  xml::Document doc = Call("CAudit",
                           "<req><func name='AuditVouch'><in><EASTdata><task EAAID='1' "
                           "remark='ok'/></EASTdata></in></func></req>",
                           approver.get());
  EXPECT_FALSE(ErrorText(doc).empty()) << doc.Xml();
  doc = Call("CAudit",
             "<req><func name='AuditVouch'><in><EASTdata><task EAAID='1' remark='ok'/></EASTdata>"
             "<strGUID><Rows flag='0'/></strGUID></in></func></req>",
             approver.get());
  EXPECT_FALSE(ErrorText(doc).empty()) << doc.Xml();
  EXPECT_EQ(Column("EC_LoanVouch", "strAuditorID", kLoan1), "Anna Approver");
  EXPECT_EQ(Dump("EC_LoanVouch") + Dump("Host_BudgetUse") + Dump("Host_FlowInstance"), state);
}

// A batch approves through the flow like the flow action does: each approver moves a claim by
// the step that waits for them only, and only its last step approves it.
TEST_F(AuditTest, ABatchApprovesThroughTheFlowStepByStep) {
  InsertClaim(kClaim1, "ZC0001", 500, "0201", "[0201]会计科");
  SubmitClaim(kClaim1);
  auto manager = SessionFor("manager");
  auto approver = SessionFor("approver");
  auto state = [&] { return Dump("EC_ExpenVouch") + Dump("Host_FlowInstance"); };
  auto flow = [&] {
    return Scalar("select iCurStep, iState from Host_FlowInstance where cVouchGUID = '" +
                  std::string(kClaim1) + "'");
  };
  const std::string not_approver =
      Text("Q7.Rembiz.0165", "1", Text("Rembiz.Host.FlowNotApprover", "Anna Approver", "主管审批"));

  // The second step's approver cannot approve before the first step is done.
  std::string before = state() + Dump("Host_FlowRecord");
  xml::Document doc = CheckAudit(true, Listed("EC_ExpenVouch", kClaim1, "EC02"), approver.get());
  ASSERT_EQ(doc.SelectNodes("//Rows/Error/err").size(), 1u) << doc.Xml();
  EXPECT_EQ(doc.SelectSingleNode("//Rows/Error/err").Attr("msg"), not_approver);
  EXPECT_EQ(state() + Dump("Host_FlowRecord"), before);

  // The first approver alone moves the claim one step: it stays submitted, not approved.
  doc = CheckAudit(true, Listed("EC_ExpenVouch", kClaim1, "EC02"), manager.get());
  EXPECT_EQ(doc.SelectNodes("//Rows/row").size(), 1u) << doc.Xml();
  EXPECT_EQ(Column("EC_ExpenVouch", "isnull(strAuditorID, '')", kClaim1), "");
  EXPECT_EQ(Column("EC_ExpenVouch", "cast(blnAudi as int)", kClaim1), "1");
  EXPECT_EQ(flow(), "2|0");
  EXPECT_EQ(Scalar("select cUser_Id, EAAID from Host_FlowRecord"), "manager|1");
  EXPECT_EQ(Scalar("select count(*) from Host_BudgetUse"), "0");
  before = state();
  doc = CheckAudit(true, Listed("EC_ExpenVouch", kClaim1, "EC02"), manager.get());
  EXPECT_EQ(doc.SelectNodes("//Rows/Error/err").size(), 1u) << doc.Xml();
  EXPECT_EQ(state(), before);

  // The last step approves; cancelling in a batch takes that step back.
  doc = CheckAudit(true, Listed("EC_ExpenVouch", kClaim1, "EC02"), approver.get());
  EXPECT_EQ(doc.SelectNodes("//Rows/row").size(), 1u) << doc.Xml();
  EXPECT_EQ(Column("EC_ExpenVouch", "strAuditorID", kClaim1), "Anna Approver");
  EXPECT_EQ(flow(), "2|1");
  doc = CheckAudit(false, Listed("EC_ExpenVouch", kClaim1, "EC02"), approver.get());
  EXPECT_EQ(doc.SelectNodes("//Rows/row").size(), 1u) << doc.Xml();
  EXPECT_EQ(Column("EC_ExpenVouch", "isnull(strAuditorID, '')", kClaim1), "");
  EXPECT_EQ(flow(), "2|0");
}

}  // namespace
}  // namespace rembiz::approval
