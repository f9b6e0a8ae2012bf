#include <gtest/gtest.h>

#include "budget/c_bud_ctrl.h"
#include "host/messages.h"
#include "support/demo_fixture.h"

namespace rembiz::budget {
namespace {

using host::MessageText;

// Budgets of the demo year: item "01" (travel, hard control) 0201 50000, 0202 30000; item "02"
// (office, warning only) 01 5000. The demo's budget mode puts the claims under control.
class BudCtrlTest : public testing::DemoTest {
 protected:
  std::string Year() { return Session().FiscalYear(); }

  void InsertVoucher(const std::string& table, const std::string& guid, const std::string& item,
                     const std::string& port_value, double money, int bud_pass = 0,
                     int over_bud = -1) {
    bool loan = table == "EC_LoanVouch";
    Cn().Execute("insert into " + table +
                 " (GUID, strTypeCode, strVouchID, dtLoanDate, strDepartID, strBudItemID, "
                 "strPort1, strPort1Value, dblMoney, dblOldMoney, strUsed, blnAudi, intBudPass, "
                 "intOverBud) values ('" +
                 guid + "', '" + (loan ? "301" : "201") + "', '" + guid.substr(1, 8) + "', '" +
                 Year() + "-03-05', '0201', " + (item.empty() ? "null" : "'" + item + "'") +
                 ", 'department', '" + port_value + "', " + std::to_string(money) + ", " +
                 std::to_string(money) + ", 'trip', 1, " + std::to_string(bud_pass) + ", " +
                 std::to_string(over_bud) + ")");
  }

  void SetMode(const std::string& value) {
    Cn().Execute("update accinformation set cValue = '" + value +
                 "' where cSysID = 'EC' and cName = 'blnBudCtrl'");
  }

  std::string Ts(const std::string& table, const std::string& guid) {
    return Scalar("select cast(ts as money) from " + table + " where GUID = '" + guid + "'");
  }
  std::string Column(const std::string& table, const std::string& guid, const std::string& column) {
    return Scalar("select " + column + " from " + table + " where GUID = '" + guid + "'");
  }
  double Consumed(const std::string& item, const std::string& value) {
    return std::stod(
        Scalar("select isnull(sum(mAmount), 0) from Host_BudgetUse where "
               "cItemCode = '" +
               item + "' and cPort1Value = '" + value + "'"));
  }

  // Approves (or cancels) with the voucher's current row version; refusals throw.
  void Check(const std::string& table, const std::string& guid, bool approve) {
    CBudCtrl budget;
    budget.CheckBudCtrl(Session(), Cn(), guid, Ts(table, guid), table, approve, false);
  }
};

constexpr const char* kClaim = "{B0D00001-0000-4000-8000-000000000001}";
constexpr const char* kClaim2 = "{B0D00002-0000-4000-8000-000000000002}";
constexpr const char* kLoan = "{B0D00003-0000-4000-8000-000000000003}";

TEST_F(BudCtrlTest, PagesAskWhetherBudgetControlAppliesAndForTheDimensions) {
  xml::Document doc = Call("CBudCtrl",
                           "<req><func name='CheckBud'><in><type>EC02</type></in></func>"
                           "<func name='GetPort'><in><item>01</item></in></func></req>");
  EXPECT_EQ(doc.SelectSingleNode("//func[@name='CheckBud']/out").Xml(), "<out><Return/></out>");
  EXPECT_EQ(doc.SelectSingleNode("//func[@name='GetPort']/out/Return").Xml(),
            "<Return Port1=\"department\" Port1Name=\"部门\"/>");

  // An item without dimensions answers an empty Return; an unknown item the service's text.
  Cn().Execute("insert into BG_Item (cItemCode, cItemName) values ('03', 'misc')");
  doc = Call("CBudCtrl", "<req><func name='GetPort'><in><item>03</item></in></func></req>");
  EXPECT_EQ(doc.SelectSingleNode("//out").Xml(), "<out><Return/></out>");
  doc = Call("CBudCtrl", "<req><func name='GetPort'><in><item>99</item></in></func></req>");
  EXPECT_EQ(doc.SelectSingleNode("/error/text").Text(),
            MessageText("Rembiz.Host.BudgetNoItem", "", "99"));

  // Claims are controlled: loans are refused, and the other way round in loans mode.
  doc = Call("CBudCtrl", "<req><func name='CheckBud'><in><type>EC01</type></in></func></req>");
  EXPECT_EQ(doc.SelectSingleNode("/error/text").Text(), MessageText("Q7.Rembiz.0151"));
  SetMode("true");
  doc = Call("CBudCtrl", "<req><func name='CheckBud'><in><type>EC03</type></in></func></req>");
  EXPECT_EQ(doc.SelectSingleNode("/error/text").Text(), MessageText("Q7.Rembiz.0152"));
  doc = Call("CBudCtrl", "<req><func name='CheckBud'><in><type>EC01</type></in></func></req>");
  EXPECT_EQ(doc.SelectSingleNode("//out").Xml(), "<out><Return/></out>");

  doc = Call("CBudCtrl", "<req><func name='CheckBud'><in><type/></in></func></req>");
  EXPECT_EQ(doc.SelectSingleNode("/error/text").Text(), MessageText("Q7.Rembiz.0148"));
  doc = Call("CBudCtrl", "<req><func name='GetPort'><in><item/></in></func></req>");
  EXPECT_EQ(doc.SelectSingleNode("/error/text").Text(), MessageText("Q7.Rembiz.0153"));
  Cn().Execute("update Host_BudgetOption set bActive = 0");
  doc = Call("CBudCtrl", "<req><func name='CheckBud'><in><type>EC01</type></in></func></req>");
  EXPECT_EQ(doc.SelectSingleNode("/error/text").Text(),
            MessageText("Rembiz.Host.BudgetOff", "", "EC"));
}

TEST_F(BudCtrlTest, ApprovalConsumesTheBudgetOfTheDimensionCodeAndCancellationReleasesIt) {
  EXPECT_EQ(PortCode("[0201]会计科"), "0201");
  EXPECT_EQ(PortCode("0201"), "0201");
  InsertVoucher("EC_ExpenVouch", kClaim, "01", "[0201]会计科", 6000);

  ASSERT_NO_THROW(Check("EC_ExpenVouch", kClaim, true));
  EXPECT_EQ(Column("EC_ExpenVouch", kClaim, "strAuditorID"), Session().UserName());
  EXPECT_EQ(Column("EC_ExpenVouch", kClaim, "intBudPass"), "1");
  EXPECT_EQ(Column("EC_ExpenVouch", kClaim, "intOverBud"), "-1");
  EXPECT_EQ(Consumed("01", "0201"), 6000);
  EXPECT_EQ(Scalar("select cVouchKind, cVouchType, cUsed from Host_BudgetUse"),
            "报销单|差旅费报销|trip");

  ASSERT_NO_THROW(Check("EC_ExpenVouch", kClaim, false));
  EXPECT_EQ(Column("EC_ExpenVouch", kClaim, "strAuditorID"), "");
  EXPECT_EQ(Column("EC_ExpenVouch", kClaim, "intBudPass"), "0");
  EXPECT_EQ(Consumed("01", "0201"), 0);

  // A warning-only budget lets an excess through and records it.
  InsertVoucher("EC_ExpenVouch", kClaim2, "02", "[01]总经理办公室", 6000);
  ASSERT_NO_THROW(Check("EC_ExpenVouch", kClaim2, true));
  EXPECT_EQ(Consumed("02", "01"), 6000);
  EXPECT_EQ(Column("EC_ExpenVouch", kClaim2, "intBudPass"), "1");
}

TEST_F(BudCtrlTest, OverBudgetRefusesTheApprovalWithTheServiceText) {
  InsertVoucher("EC_ExpenVouch", kClaim, "01", "[0202]出纳科", 25000);
  ASSERT_NO_THROW(Check("EC_ExpenVouch", kClaim, true));
  InsertVoucher("EC_ExpenVouch", kClaim2, "01", "[0202]出纳科", 10000);

  try {
    Check("EC_ExpenVouch", kClaim2, true);
    FAIL() << "over budget was approved";
  } catch (const ComError& e) {
    EXPECT_EQ(e.Number(), 9000);
    EXPECT_EQ(e.Description(),
              MessageText("Rembiz.Host.BudgetOver", "", "差旅费(0202)", "10000.00", "5000.00"));
  }
  EXPECT_EQ(Column("EC_ExpenVouch", kClaim2, "strAuditorID"), "");
  EXPECT_EQ(Column("EC_ExpenVouch", kClaim2, "intBudPass"), "0");
  EXPECT_EQ(Column("EC_ExpenVouch", kClaim2, "intOverBud"), "1");
  EXPECT_EQ(Consumed("01", "0202"), 25000);
}

TEST_F(BudCtrlTest, TheBudgetModeDecidesWhichVouchersGoToTheBudget) {
  // Claims mode: a loan is approved without any budget call.
  InsertVoucher("EC_LoanVouch", kLoan, "01", "[0201]会计科", 3000);
  Cn().Execute("insert into EC_LoanVouch_Sub (MGuid, strBalanceID, dblMoney) values ('" +
               std::string(kLoan) + "', '1', 3000)");
  std::string row_ts = Scalar("select ts from EC_LoanVouch_Sub");
  ASSERT_NO_THROW(Check("EC_LoanVouch", kLoan, true));
  EXPECT_EQ(Column("EC_LoanVouch", kLoan, "strAuditorID"), Session().UserName());
  EXPECT_EQ(Scalar("select count(*) from Host_BudgetUse"), "0");
  EXPECT_NE(Scalar("select ts from EC_LoanVouch_Sub"), row_ts);  // rows follow the approval
  ASSERT_NO_THROW(Check("EC_LoanVouch", kLoan, false));

  // Loans mode: the loan consumes, a claim does not.
  SetMode("true");
  ASSERT_NO_THROW(Check("EC_LoanVouch", kLoan, true));
  EXPECT_EQ(Consumed("01", "0201"), 3000);
  EXPECT_EQ(Scalar("select cVouchKind from Host_BudgetUse"), "借款单");
  InsertVoucher("EC_ExpenVouch", kClaim, "01", "[0201]会计科", 100000);
  ASSERT_NO_THROW(Check("EC_ExpenVouch", kClaim, true));
  EXPECT_EQ(Consumed("01", "0201"), 3000);
}

TEST_F(BudCtrlTest, VouchersOutsideTheBudgetOrAlreadyPassedSkipTheBudgetCall) {
  // Without a budget item the approval is written without a budget call.
  InsertVoucher("EC_ExpenVouch", kClaim, "", "", 999999);
  ASSERT_NO_THROW(Check("EC_ExpenVouch", kClaim, true));
  EXPECT_EQ(Column("EC_ExpenVouch", kClaim, "strAuditorID"), Session().UserName());

  // A voucher the budget already passed is approved at once, without the row-version test.
  InsertVoucher("EC_ExpenVouch", kClaim2, "01", "[0202]出纳科", 999999, 1);
  CBudCtrl budget;
  ASSERT_NO_THROW(budget.CheckBudCtrl(Session(), Cn(), kClaim2, "1", "EC_ExpenVouch", true, false));
  EXPECT_EQ(Column("EC_ExpenVouch", kClaim2, "strAuditorID"), Session().UserName());
  EXPECT_EQ(Scalar("select count(*) from Host_BudgetUse"), "0");
}

TEST_F(BudCtrlTest, RefusalsLeaveTheVoucherAsItWas) {
  InsertVoucher("EC_ExpenVouch", kClaim, "01", "[0201]会计科", 100, 0, 3);
  std::string before = Dump("EC_ExpenVouch");
  CBudCtrl budget;
  auto refused = [&](const std::string& ts, bool approve) -> std::string {
    try {
      budget.CheckBudCtrl(Session(), Cn(), kClaim, ts, "EC_ExpenVouch", approve, false);
    } catch (const ComError& e) {
      return e.Description();
    }
    return "accepted";
  };
  // Over budget and not released: neither approval nor cancellation.
  std::string ts = Ts("EC_ExpenVouch", kClaim);
  EXPECT_EQ(refused(ts, true), MessageText("Q7.Rembiz.0157"));
  EXPECT_EQ(refused(ts, false), MessageText("Q7.Rembiz.0157"));

  // Changed since it was read: a stale or non-numeric row version.
  Cn().Execute(std::string("update EC_ExpenVouch set intOverBud = -1 where GUID = '") + kClaim +
               "'");
  before = Dump("EC_ExpenVouch");
  EXPECT_EQ(refused(ts, true), MessageText("Q7.Rembiz.0368"));
  EXPECT_EQ(refused("1 or 1=1", true), MessageText("Q7.Rembiz.0368"));
  EXPECT_EQ(Dump("EC_ExpenVouch"), before);
  EXPECT_EQ(Scalar("select count(*) from Host_BudgetUse"), "0");
  EXPECT_THROW(budget.CheckBudCtrl(Session(), Cn(), kClaim, ts, "Person", true, false), ComError);
}

TEST_F(BudCtrlTest, AClaimGivesBackTheBudgetOfTheLoansItWritesOff) {
  // The loan consumed its budget while loans were controlled.
  SetMode("true");
  InsertVoucher("EC_LoanVouch", kLoan, "01", "[0201]会计科", 3000);
  Cn().Execute(
      "insert into EC_LoanVouch_Sub (GUID, MGuid, strBalanceID, dblMoney) values "
      "('{B0D00004-0000-4000-8000-000000000004}', '" +
      std::string(kLoan) + "', '1', 3000)");
  ASSERT_NO_THROW(Check("EC_LoanVouch", kLoan, true));

  // Claims are controlled now; the claim writes 1000 of the loan off.
  SetMode("false");
  InsertVoucher("EC_ExpenVouch", kClaim, "01", "[0201]会计科", 1200);
  Cn().Execute(
      "insert into EC_ExpenLoanInfo (LoanSubguid, Expenguid, dblJE) values "
      "('{B0D00004-0000-4000-8000-000000000004}', '" +
      std::string(kClaim) + "', 1000)");
  ASSERT_NO_THROW(Check("EC_ExpenVouch", kClaim, true));
  auto held = [&](const char* guid) {
    return Scalar("select sum(mAmount) from Host_BudgetUse where cVouchGUID = '" +
                  std::string(guid) + "'");
  };
  EXPECT_EQ(held(kLoan), "2000");
  EXPECT_EQ(held(kClaim), "1200");
  EXPECT_EQ(Consumed("01", "0201"), 3200);

  // Cancelling the claim takes the loan's amount back.
  ASSERT_NO_THROW(Check("EC_ExpenVouch", kClaim, false));
  EXPECT_EQ(held(kLoan), "3000");
  EXPECT_EQ(held(kClaim), "0");
}

}  // namespace
}  // namespace rembiz::budget
