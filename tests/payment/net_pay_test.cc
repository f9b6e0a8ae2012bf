#include <gtest/gtest.h>

#include <algorithm>

#include "host/bank_link.h"
#include "host/messages.h"
#include "payment/c_net_pay.h"
#include "support/demo_fixture.h"
#include "support/program.h"

namespace rembiz::payment {
namespace {

using host::MessageText;

constexpr const char* kLoanRow = "{BA110001-0000-4000-8000-000000000001}";
constexpr const char* kLoanRow2 = "{BA110002-0000-4000-8000-000000000002}";
constexpr const char* kClaimLine = "{BA110003-0000-4000-8000-000000000003}";
constexpr const char* kUnverifiedLine = "{BA110004-0000-4000-8000-000000000004}";

// An approved loan with two payment rows, a verified claim and an approved but unverified claim,
// each with a settlement line paid from bank "01".
class NetPayTest : public testing::DemoTest {
 protected:
  void SetUp() override {
    DemoTest::SetUp();
    std::string date = "'" + Session().FiscalYear() + "-03-05'";
    Cn().Execute(
        "insert into EC_LoanVouch (GUID, strTypeCode, strVouchID, dtLoanDate, strDepartID, "
        "strLoanID, strBill, fltRate, dblMoney, dblOldMoney, strUsed, strPersonID, blnAudi, "
        "strAuditorID) values ('{BA100001-0000-4000-8000-000000000001}', '301', 'JK0001', " +
        date + ", '0301', '0004', '美元', 7, 300, 2100, 'trip', 'demo', 1, 'Anna Approver')");
    Cn().Execute(
        "insert into EC_LoanVouch_Sub (GUID, MGuid, strBalanceID, dblMoney, strBillID, "
        "strPayBankID, strBankName, strBankAcc) values ('" +
        std::string(kLoanRow) +
        "', '{BA100001-0000-4000-8000-000000000001}', '302', 200, 'B-1', '01', 'ICBC', "
        "'6222020200001111'), ('" +
        kLoanRow2 +
        "', '{BA100001-0000-4000-8000-000000000001}', '302', 100, 'B-2', '01', 'ICBC', "
        "'6222020200001111')");
    for (const auto& [head, verifier, line] :
         {std::tuple{"{BA100002-0000-4000-8000-000000000002}", "'Anna Approver'", kClaimLine},
          std::tuple{"{BA100003-0000-4000-8000-000000000003}", "null", kUnverifiedLine}}) {
      Cn().Execute(
          "insert into EC_ExpenVouch (GUID, strTypeCode, strVouchID, dtLoanDate, strDepartID, "
          "strLoanID, strBill, fltRate, dblMoney, dblOldMoney, strUsed, strPersonID, blnAudi, "
          "strAuditorID, strVerifier) values ('" +
          std::string(head) + "', '201', '" + std::string(head).substr(1, 8) + "', " + date +
          ", '0201', '0002', '人民币', 1, 800, 800, 'hotel', 'demo', 1, 'Anna Approver', " +
          verifier + ")");
      Cn().Execute(
          "insert into EC_BalanceInfo (GUID, ExpenGUID, intIOType, strBalanceID, dblMoney, "
          "strPayBankID, strRecBank, strRecAcc) values ('" +
          std::string(line) + "', '" + head + "', 2, '302', 800, '01', 'CCB', '6227000000002222')");
    }
  }

  static std::string Line(const char* type, const char* guid) {
    return std::string("<row strtypecode='") + type + "' guid='" + guid + "'/>";
  }
  xml::Document Pay(const std::string& lines, const std::string& name = "netpay") {
    return Call("CNetPay", "<req><func name='" + name + "'><in>" + lines + "</in></func></req>");
  }
  static std::string ErrorText(const xml::Document& doc) {
    return doc.SelectSingleNode("//out/error/text").Text();
  }
  std::string PayId(const char* table, const char* guid) {
    return Scalar(std::string("select strPayID from ") + table + " where GUID = '" + guid + "'");
  }
};

TEST_F(NetPayTest, NetpayGivesTheLinesPaymentIdsAndNetunpayWithdrawsThem) {
  xml::Document doc = Pay(Line("301", kLoanRow) + Line("201", kClaimLine));
  EXPECT_EQ(doc.SelectSingleNode("//out").Xml(), "<out/>") << doc.Xml();
  std::string loan_id = PayId("EC_LoanVouch_Sub", kLoanRow);
  std::string claim_id = PayId("EC_BalanceInfo", kClaimLine);
  EXPECT_EQ(loan_id.rfind("NB", 0), 0u) << loan_id;
  EXPECT_NE(loan_id, claim_id);
  EXPECT_EQ(PayId("EC_LoanVouch_Sub", kLoanRow2), "");

  // The bank holds the bill records: foreign amount, local amount by the rate, both accounts.
  EXPECT_EQ(
      Scalar("select cNoteNo, iAmount_f, iAmount, cExch_name, cNatBankAccount, "
             "cBankAccount, cOperator, cDeptCode, cPerson from Host_BankBill where cPayID = '" +
             loan_id + "'"),
      "B-1|200|1400|美元|0200001109000123456|6222020200001111|demo|0301|Demo Admin");
  EXPECT_EQ(Scalar("select dVouchDate from Host_BankBill where cPayID = '" + claim_id + "'"),
            Session().FiscalYear() + "-03-05");

  doc = Pay(Line("301", kLoanRow), "netunpay");
  EXPECT_EQ(doc.SelectSingleNode("//out").Xml(), "<out/>") << doc.Xml();
  EXPECT_EQ(PayId("EC_LoanVouch_Sub", kLoanRow), "");
  EXPECT_EQ(Scalar("select bDeleted from Host_BankBill where cPayID = '" + loan_id + "'"), "True");

  // Withdrawing twice: nothing is sent any more.
  doc = Pay(Line("301", kLoanRow), "netunpay");
  EXPECT_EQ(doc.SelectSingleNode("//out/error/id").Text(), "Rembiz:CNetPay:NetoNB:9000");
  EXPECT_EQ(ErrorText(doc), MessageText("Q7.Rembiz.0113"));

  // A withdrawn line may be sent again and gets a new id.
  Pay(Line("301", kLoanRow));
  std::string again = PayId("EC_LoanVouch_Sub", kLoanRow);
  EXPECT_NE(again, "");
  EXPECT_NE(again, loan_id);
}

TEST_F(NetPayTest, RefusedLinesStopTheRequestAndKeepTheLinesBefore) {
  // The first line is paid, the second is already sent: it stops there.
  xml::Document doc = Pay(Line("301", kLoanRow));
  std::string first = PayId("EC_LoanVouch_Sub", kLoanRow);
  doc = Pay(Line("301", kLoanRow2) + Line("301", kLoanRow) + Line("201", kClaimLine));
  EXPECT_EQ(ErrorText(doc), MessageText("Q7.Rembiz.0111"));
  EXPECT_NE(PayId("EC_LoanVouch_Sub", kLoanRow2), "");
  EXPECT_EQ(PayId("EC_LoanVouch_Sub", kLoanRow), first);
  EXPECT_EQ(PayId("EC_BalanceInfo", kClaimLine), "");

  std::string bills = Dump("Host_BankBill");
  doc = Pay(Line("201", kUnverifiedLine));
  EXPECT_EQ(ErrorText(doc), MessageText("Q7.Rembiz.0112"));
  doc = Pay(Line("301", "{00000000-0000-0000-0000-000000000000}"));
  EXPECT_EQ(ErrorText(doc), MessageText("Q7.Rembiz.0110"));
  doc = Pay(Line("201", kClaimLine), "netunpay");
  EXPECT_EQ(ErrorText(doc), MessageText("Q7.Rembiz.0113"));

  // A line without a payee account is refused by the bank; nothing is written for it.
  Cn().Execute(std::string("update EC_BalanceInfo set strRecAcc = null where GUID = '") +
               kClaimLine + "'");
  doc = Pay(Line("201", kClaimLine));
  EXPECT_EQ(ErrorText(doc), MessageText("Rembiz.Host.BankBillIncomplete", "", kClaimLine));
  EXPECT_EQ(PayId("EC_BalanceInfo", kClaimLine), "");
  EXPECT_EQ(Dump("Host_BankBill"), bills);

  // Without the payment right the operation answers the refusal and pays nothing.
  auto clerk = SessionFor("clerk");
  doc = Call("CNetPay",
             "<req><func name='netpay'><in>" + Line("201", kClaimLine) + "</in></func></req>",
             clerk.get());
  EXPECT_EQ(doc.SelectSingleNode("//out/error/id").Text().rfind("Rembiz:MSG:ApplyTask:", 0), 0u);
  EXPECT_EQ(Dump("Host_BankBill"), bills);
}

TEST_F(NetPayTest, AConfirmedPaymentCannotBeWithdrawn) {
  // English sessions bracket the aliases of the bill statement; it must still run.
  auto english = SessionFor("demo", "en-US");
  Call("CNetPay", "<req><func name='netpay'><in>" + Line("201", kClaimLine) + "</in></func></req>",
       english.get());
  std::string pay_id = PayId("EC_BalanceInfo", kClaimLine);
  ASSERT_NE(pay_id, "");

  // The bank confirms through the command line.
  testing::ProgramResult confirmed =
      testing::RunCommand(testing::Rembiz("bank confirm " + DataArgs() + " --id " + pay_id));
  ASSERT_EQ(confirmed.code, 0) << confirmed.out;
  EXPECT_EQ(
      Scalar(std::string("select blnNetOK from EC_BalanceInfo where GUID = '") + kClaimLine + "'"),
      "True");
  EXPECT_EQ(
      testing::RunCommand(testing::Rembiz("bank confirm " + DataArgs() + " --id NB-none")).code, 1);

  std::string bills = Dump("Host_BankBill");
  xml::Document doc = Pay(Line("201", kClaimLine), "netunpay");
  EXPECT_EQ(ErrorText(doc), MessageText("Q7.Rembiz.0114"));
  EXPECT_EQ(PayId("EC_BalanceInfo", kClaimLine), pay_id);
  EXPECT_EQ(Dump("Host_BankBill"), bills);

  // The bank itself refuses too, and records the ledger voucher only of a confirmed payment.
  std::unique_ptr<host::BankLink> bank = host::CreateBankLink(Cn());
  std::string error;
  EXPECT_FALSE(bank->DeleteBill("EC", 4, kClaimLine, pay_id, error));
  EXPECT_EQ(error, MessageText("Rembiz.Host.BankBillConfirmed", "", pay_id));
  EXPECT_TRUE(bank->WritePZID("EC", kClaimLine, pay_id, "PZ-7", error));
  EXPECT_EQ(Scalar("select cPZID from Host_BankBill where cPayID = '" + pay_id + "'"), "PZ-7");
  EXPECT_TRUE(bank->DeletePZID(kClaimLine, pay_id, "PZ-7", error));
  EXPECT_EQ(Scalar("select cPZID from Host_BankBill where cPayID = '" + pay_id + "'"), "");
  Pay(Line("301", kLoanRow));
  EXPECT_FALSE(bank->WritePZID("EC", kLoanRow, PayId("EC_LoanVouch_Sub", kLoanRow), "PZ-8", error));
  EXPECT_TRUE(bank->WritePZID("EC", kLoanRow2, "", "PZ-8", error));  // not sent: nothing to do
}

// A loan row in cash never goes to the bank: the cashier lists it and records its payout, which
// stands as a confirmed payment (booked, no longer withdrawn). Rows the bank pays, unapproved
// loans, claims and rows paid already are refused and change nothing.
TEST_F(NetPayTest, TheCashierPaysOutACashLoanRow) {
  constexpr const char* kCashLoan = "{BA100005-0000-4000-8000-000000000005}";
  constexpr const char* kCashRow = "{BA110005-0000-4000-8000-000000000005}";
  constexpr const char* kDraftRow = "{BA110006-0000-4000-8000-000000000006}";
  std::string date = "'" + Session().FiscalYear() + "-03-06'";
  for (const auto& [head, number, auditor, row] :
       {std::tuple{kCashLoan, "JK0005", "'Anna Approver'", kCashRow},
        std::tuple{"{BA100006-0000-4000-8000-000000000006}", "JK0006", "null", kDraftRow}}) {
    Cn().Execute(
        "insert into EC_LoanVouch (GUID, strTypeCode, strVouchID, dtLoanDate, strDepartID, "
        "strLoanID, strBill, fltRate, dblMoney, dblOldMoney, strUsed, strPersonID, blnAudi, "
        "strAuditorID) values ('" +
        std::string(head) + "', '301', '" + number + "', " + date +
        ", '0301', '0004', '人民币', 1, 500, 500, 'cash', 'demo', 1, " + auditor + ")");
    Cn().Execute("insert into EC_LoanVouch_Sub (GUID, MGuid, strBalanceID, dblMoney) values ('" +
                 std::string(row) + "', '" + head + "', '1', 500)");
  }
  auto listed = [&] {
    xml::Document doc = Call("CQuery",
                             "<req><func name='listcashpaydata'><in><page><current>0</current>"
                             "<rows>20</rows></page></in></func></req>");
    std::string out;
    for (const xml::Node& row : doc.SelectNodes("//data/row")) {
      out += row.Attr("strvouchid") + ":" + row.Attr("strbalancename") + ":" +
             row.Attr("dblmoney") + ":" + row.Attr("blnnetok") + ";";
    }
    return out.empty() ? doc.SelectSingleNode("//out").Xml() : out;
  };
  // Only the approved loan's cash row: the draft waits, bank rows go online.
  EXPECT_EQ(listed(), "JK0005:现金:500:0;");

  std::string before = Dump("EC_LoanVouch_Sub");
  EXPECT_EQ(ErrorText(Pay(Line("301", kDraftRow), "cashpay")),
            MessageText("Rembiz.Payment.CashNotDue"));
  EXPECT_EQ(ErrorText(Pay(Line("301", kLoanRow), "cashpay")),
            MessageText("Rembiz.Payment.CashOnlineLine"));
  EXPECT_EQ(ErrorText(Pay(Line("201", kClaimLine), "cashpay")),
            MessageText("Rembiz.Payment.CashLoansOnly"));
  EXPECT_EQ(ErrorText(Pay(Line("301", "x&apos; or &apos;&apos;=&apos;"), "cashpay")),
            MessageText("Q7.Rembiz.0110"));
  // Paying out takes the payment right.
  auto clerk = SessionFor("clerk");
  xml::Document refused = Call(
      "CNetPay", "<req><func name='cashpay'><in>" + Line("301", kCashRow) + "</in></func></req>",
      clerk.get());
  EXPECT_EQ(refused.SelectSingleNode("//out/error/id").Text().rfind("Rembiz:MSG:ApplyTask:", 0),
            0u);
  EXPECT_EQ(Dump("EC_LoanVouch_Sub"), before);

  xml::Document doc = Pay(Line("301", kCashRow), "cashpay");
  EXPECT_EQ(doc.SelectSingleNode("//out").Xml(), "<out/>") << doc.Xml();
  std::string day = Session().LoginDate();
  day.erase(std::remove(day.begin(), day.end(), '-'), day.end());
  EXPECT_EQ(Scalar(std::string("select strPayID, blnNetOK from EC_LoanVouch_Sub where GUID = '") +
                   kCashRow + "'"),
            "XJ" + day + "-" +
                Scalar(std::string("select AutoID from EC_LoanVouch_Sub where "
                                   "GUID = '") +
                       kCashRow + "'") +
                "|True");
  EXPECT_EQ(listed(), "JK0005:现金:500:1;");
  EXPECT_EQ(ErrorText(Pay(Line("301", kCashRow), "cashpay")), MessageText("Q7.Rembiz.0111"));
  EXPECT_EQ(ErrorText(Pay(Line("301", kCashRow), "netunpay")), MessageText("Q7.Rembiz.0114"));
  // Paid and confirmed, the loan waits for its ledger voucher.
  doc = Call("CQuery",
             "<req><func name='listmakepzdata'><in><page><current>0</current><rows>50</rows>"
             "</page></in></func></req>");
  EXPECT_NE(doc.Xml().find("JK0005"), std::string::npos) << doc.Xml();
}

TEST_F(NetPayTest, WorkTableNamesAreFresh) {
  std::string a = CNetPay::GetRndName(Cn());
  std::string b = CNetPay::GetRndName(Cn());
  EXPECT_EQ(a.size(), 20u);
  EXPECT_EQ(a[0], 'T');
  EXPECT_EQ(a.find_first_not_of("0123456789ABCDEF", 1), std::string::npos) << a;
  EXPECT_NE(a, b);
}

}  // namespace
}  // namespace rembiz::payment
