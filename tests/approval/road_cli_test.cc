// The road of a loan and a claim through the command-line program only: the loan is entered
// by the clerk, submitted, approved (its cheque row registered) and paid online; a claim writes
// part of it off, passes both approval steps, is settled by the cashier and paid online.
#include <gtest/gtest.h>

#include <fstream>

#include "host/bank_link.h"
#include "host/messages.h"
#include "support/demo_fixture.h"
#include "support/program.h"

namespace rembiz::approval {
namespace {

using Result = testing::ProgramResult;

// The call returned and no operation answered with an error.
bool Ok(const Result& r) {
  return r.code == 0 && r.out.find("<error>") == std::string::npos &&
         r.out.find("<err>") == std::string::npos;
}

class RoadCliTest : public testing::DemoTest {
 protected:
  // Runs `rembiz call` with the request as its file, as `user`.
  Result CallCli(const std::string& class_name, const std::string& request,
                 const std::string& user) {
    std::filesystem::path file = Scratch() / ("request" + std::to_string(++calls_) + ".xml");
    std::ofstream(file) << request;
    return testing::RunCommand(testing::Rembiz("call " + class_name + " '" + file.string() + "' " +
                                               DataArgs() + " --user " + user));
  }

  std::string Loan(const std::string& column) {
    return Scalar("select " + column + " from EC_LoanVouch where strVouchID = '" + number_ + "'");
  }

  std::string AuditVouchRequest(const std::string& flag) {
    return "<req><func name='AuditVouch'><in><EASTdata><task EAAID='1' remark='ok'/></EASTdata>"
           "<strGUID><Rows flag='" +
           flag + "'><row strGUID='" + Loan("GUID") + "' ts='" + Loan("cast(ts as money)") +
           "' strType='EC03' strVouchID='" + number_ + "'/></Rows></strGUID></in></func></req>";
  }

  std::string Claim(const std::string& column) {
    return Scalar("select " + column + " from EC_ExpenVouch where strVouchID = 'ZC0001'");
  }

  std::string ClaimAuditRequest() {
    return "<req><func name='AuditVouch'><in><EASTdata><task EAAID='1' remark='ok'/></EASTdata>"
           "<strGUID><Rows flag='1'><row strGUID='" +
           Claim("GUID") + "' ts='" + Claim("cast(ts as money)") +
           "' strType='EC02' strVouchID='ZC0001'/></Rows></strGUID></in></func></req>";
  }

  std::string number_;
  int calls_ = 0;
};

TEST_F(RoadCliTest, ALoanIsSavedSubmittedApprovedAndPaidThroughTheProgram) {
  std::string year = Session().FiscalYear();
  number_ = "JK" + year + "030001";
  Result r = CallCli(
      "CLoan",
      "<req><func name='savevouch'><in><xml><head blnBegin='0'><z:row strTypeCode='301' "
      "strVouchID='" +
          number_ + "' dtLoanDate='" + year +
          "-03-05T00:00:00' strDepartID='0201' strLoanID='0002' strBill='人民币' fltRate='1' "
          "dblMoney='800' dblOldMoney='800' strUsed='出差' strPersonID='Carl Clerk'/></head>"
          "<body><row strBalanceID='1' dblMoney='300'/><row strBalanceID='302' dblMoney='500' "
          "strBillID='WY001' strPayBankID='01' strBankAcc='6222020200001111'/>"
          "<row strBalanceID='2' dblPreMoney='300' strBillID='ZP001' strPayBankID='01'/>"
          "</body></xml>"
          "</in></func></req>",
      "clerk");
  ASSERT_TRUE(Ok(r)) << r.out;
  ASSERT_FALSE(Loan("GUID").empty()) << r.out;

  r = CallCli("CLoan",
              "<req><func name='submitaudit'><in><GUID>" + Loan("GUID") + "</GUID><ts>" +
                  Loan("cast(ts as money)") + "</ts></in></func></req>",
              "clerk");
  ASSERT_TRUE(Ok(r)) << r.out;
  xml::Document doc;
  ASSERT_TRUE(doc.LoadXml(r.out)) << r.out;
  EXPECT_EQ(doc.SelectSingleNode("//out/RetValue").Attr("ts"), Loan("cast(ts as money)"));
  EXPECT_EQ(Loan("cast(blnAudi as int)"), "1");

  // The clerk holds no approval right; the approver approves the loan's one flow step.
  r = CallCli("CAudit", AuditVouchRequest("1"), "clerk");
  EXPECT_EQ(r.code, 1) << r.out;
  EXPECT_EQ(Loan("isnull(strAuditorID, '')"), "");
  r = CallCli("CAudit", AuditVouchRequest("1"), "approver");
  ASSERT_TRUE(Ok(r)) << r.out;
  EXPECT_NE(r.out.find("<Return/>"), std::string::npos) << r.out;
  EXPECT_EQ(Loan("strAuditorID"), "Anna Approver");
  EXPECT_EQ(Scalar("select cn_id, mc from Host_Cheque"), "ZP001|300");

  // Its transfer row paid online, the loan keeps its approval.
  std::string row = Scalar("select GUID from EC_LoanVouch_Sub where strBillID = 'WY001'");
  r = CallCli(
      "CNetPay",
      "<req><func name='netpay'><in><row strtypecode='301' guid='" + row + "'/></in></func></req>",
      "approver");
  ASSERT_TRUE(Ok(r)) << r.out;
  EXPECT_FALSE(Scalar("select strPayID from EC_LoanVouch_Sub where GUID = '" + row + "'").empty())
      << r.out;
  r = CallCli("CAudit", AuditVouchRequest("0"), "approver");
  EXPECT_EQ(r.code, 1) << r.out;
  ASSERT_TRUE(doc.LoadXml(r.out)) << r.out;
  EXPECT_EQ(doc.SelectSingleNode("/error/text").Text(),
            number_ + ": " + host::MessageText("Q7.Rembiz.0172", "zh-CN"));
  EXPECT_EQ(Loan("strAuditorID"), "Anna Approver");

  // A claim of 1000 on the travel budget; the cashier writes the loan's cash row of 300 off.
  r = CallCli("CExpense",
              "<req><func name='savevouch'><in><xml><head><z:row strTypeCode='201' "
              "strVouchID='ZC0001' dtLoanDate='" +
                  year +
                  "-03-20T00:00:00' strDepartID='0201' strLoanID='0002' strBudItemID='01' "
                  "strPort1='department' strPort1Value='[0201]会计科' strBill='人民币' "
                  "fltRate='1' dblMoney='1000' dblOldMoney='1000' strUsed='出差' "
                  "strPersonID='Carl Clerk'/></head><body><row strIOItem='203' "
                  "dblMoney='1000'/></body></xml></in></func></req>",
              "clerk");
  ASSERT_TRUE(Ok(r)) << r.out;
  ASSERT_FALSE(Claim("GUID").empty()) << r.out;
  std::string cash_row =
      Scalar("select GUID from EC_LoanVouch_Sub where strBalanceID = '1' and MGuid = '" +
             Loan("GUID") + "'");
  r = CallCli(
      "CExpense",
      "<req><func name='SaveLoanInfo'><in GUID='" + Claim("GUID") + "' ts='" +
          Claim("cast(ts as money)") +
          "' strLoanID='0002' strBill='人民币' fltRate='1'><row GUID='" + cash_row + "' ts='" +
          Scalar("select cast(ts as money) from EC_LoanVouch_Sub where GUID = '" + cash_row + "'") +
          "' GUID1='' ts1='' blnUsed='0' dblRetValue='300'/></in></func></req>",
      "demo");
  ASSERT_TRUE(Ok(r)) << r.out;
  EXPECT_EQ(Scalar("select dblJE from EC_ExpenLoanInfo where Expenguid = '" + Claim("GUID") + "'"),
            "300")
      << r.out;
  r = CallCli("CExpense",
              "<req><func name='submitaudit'><in><GUID>" + Claim("GUID") + "</GUID><ts>" +
                  Claim("cast(ts as money)") + "</ts></in></func></req>",
              "clerk");
  ASSERT_TRUE(Ok(r)) << r.out;

  // Two steps: demo first, then the approver; only the second approves and books the budget.
  r = CallCli("CAudit", ClaimAuditRequest(), "demo");
  ASSERT_TRUE(Ok(r)) << r.out;
  EXPECT_EQ(Claim("isnull(strAuditorID, '')"), "");
  r = CallCli("CAudit", ClaimAuditRequest(), "approver");
  ASSERT_TRUE(Ok(r)) << r.out;
  EXPECT_EQ(Claim("strAuditorID"), "Anna Approver");
  EXPECT_EQ(Scalar("select cPort1Value, mAmount from Host_BudgetUse where cVouchGUID = '" +
                   Claim("GUID") + "'"),
            "0201|1000");

  // The cashier enters the transfer of the rest and confirms the write-off, which settles and
  // verifies the claim; the transfer is paid online.
  std::string link =
      Scalar("select GUID from EC_ExpenLoanInfo where Expenguid = '" + Claim("GUID") + "'");
  r = CallCli(
      "CExpense",
      "<req><func name='SaveExpenInfo'><in GUID='" + Claim("GUID") + "' ts='" +
          Claim("cast(ts as money)") + "'><rows><row P='1' intIOType='" +
          host::MessageText("Q7.Rembiz.0186", "zh-CN") +
          "' strBalanceID='302' dblMoney='700' strPayBankID='01' strBankName='CCB' "
          "strBankAcc='6227000000002222'/></rows></in></func><func name='SaveLoanInfo'><in GUID='" +
          Claim("GUID") + "' ts='" + Claim("cast(ts as money)") +
          "' strLoanID='0002' strBill='人民币' fltRate='1'><row GUID='" + cash_row + "' ts='" +
          Scalar("select cast(ts as money) from EC_LoanVouch_Sub where GUID = '" + cash_row + "'") +
          "' GUID1='" + link + "' ts1='" +
          Scalar("select cast(ts as money) from EC_ExpenLoanInfo where GUID = '" + link + "'") +
          "' blnUsed='0' dblRetValue='300'/></in></func></req>",
      "demo");
  ASSERT_TRUE(Ok(r)) << r.out;
  EXPECT_FALSE(Claim("strVerifier").empty()) << r.out;
  std::string line =
      Scalar("select GUID from EC_BalanceInfo where ExpenGUID = '" + Claim("GUID") + "'");
  r = CallCli(
      "CNetPay",
      "<req><func name='netpay'><in><row strtypecode='201' guid='" + line + "'/></in></func></req>",
      "approver");
  ASSERT_TRUE(Ok(r)) << r.out;
  EXPECT_FALSE(Scalar("select strPayID from EC_BalanceInfo where GUID = '" + line + "'").empty())
      << r.out;

  // The bank confirms the transfer: the claimant who entered the claim hears of it, as of its
  // approval.
  std::string error;
  ASSERT_TRUE(host::CreateBankLink(Cn())->Confirm(
      Scalar("select strPayID from EC_BalanceInfo where GUID = '" + line + "'"), error))
      << error;
  EXPECT_EQ(Lines("select cUser_Id, cKind, mAmount from EC_Notice where cVouchCode = 'ZC0001' "
                  "and cKind <> 'waiting' order by iNoticeId"),
            "clerk|approved|1000\nclerk|paid|700");
}

}  // namespace
}  // namespace rembiz::approval
