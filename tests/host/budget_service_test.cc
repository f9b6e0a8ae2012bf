#include "host/budget_service.h"

#include <gtest/gtest.h>

#include "host/messages.h"
#include "support/demo_fixture.h"

namespace rembiz::host {
namespace {

constexpr const char* kClaimA = "{B0D60001-0000-4000-8000-000000000001}";
constexpr const char* kClaimB = "{B0D60002-0000-4000-8000-000000000002}";
constexpr const char* kLoan = "{B0D60003-0000-4000-8000-000000000003}";

// An item of our own with one dimension, the department, and a budget of 1000 for 0201.
class BudgetServiceTest : public testing::DemoTest {
 protected:
  void SetUp() override {
    DemoTest::SetUp();
    Cn().Execute("insert into BG_Item (cItemCode, cItemName) values ('T9', N'差旅')");
    Cn().Execute(
        "insert into Host_BudgetDimension (cItemCode, iPort, cPortCode, cPortName) values ('T9', "
        "2, 'department', N'部门')");
    Cn().Execute(
        "insert into Host_Budget (iYear, cItemCode, cPort2Value, mBudget, iControl) values (2004, "
        "'T9', '0201', 1000, 1)");
    budget_->Init(Cn());
  }
  BudgetOutcome Check(const std::string& guid, double amount,
                      const std::string& department = "0201", const std::string& link = "") {
    BudgetEntry entry;
    entry.kind = "报销单";
    entry.vouch_guid = guid;
    entry.vouch_date = "2004-03-05";
    entry.item = "T9";
    // Values on dimensions the item does not have are no part of the key.
    entry.port_values = {"ignored", department, "ignored too"};
    entry.amount = amount;
    entry.link_guid = link;
    entry.year = 2004;
    BudgetOutcome outcome;
    EXPECT_TRUE(budget_->CheckBudget(entry, &outcome)) << budget_->LastError();
    return outcome;
  }
  std::string Used(const std::string& where = "1=1") {
    return Scalar("select sum(mAmount), count(*) from Host_BudgetUse where cItemCode = 'T9' and " +
                  where);
  }
  std::unique_ptr<BudgetService> budget_ = CreateBudgetService();
};

TEST_F(BudgetServiceTest, ConsumedAmountsAddUpAgainstTheBudget) {
  EXPECT_EQ(Check(kClaimA, 600).result, BudgetService::kWithinBudget);
  EXPECT_EQ(Check(kClaimB, 399.996).result, BudgetService::kWithinBudget);  // within a cent
  EXPECT_EQ(Used(), "999.996|2");
  EXPECT_EQ(Scalar("select cPort1Value, cPort2Value, cPort3Value from Host_BudgetUse where "
                   "cItemCode = 'T9' and cVouchGUID = '" +
                   std::string(kClaimA) + "'"),
            "|0201|");

  // Hard control: over the budget nothing is recorded, and the text names what is left.
  BudgetOutcome over = Check(kClaimB, 0.5);
  EXPECT_EQ(over.result, BudgetService::kOverBudget);
  EXPECT_EQ(over.text, MessageText("Rembiz.Host.BudgetOver", "", "差旅(0201)", "0.50", "0.00"));
  EXPECT_EQ(Used(), "999.996|2");

  // A release gives back at most what the voucher holds; then there is room again.
  EXPECT_EQ(Check(kClaimA, -250).result, BudgetService::kWithinBudget);
  EXPECT_EQ(Check(kClaimA, -1000).result, BudgetService::kWithinBudget);
  EXPECT_EQ(Used("cVouchGUID = '" + std::string(kClaimA) + "'"), "0|3");
  EXPECT_EQ(Check(kClaimA, -1).result, BudgetService::kNotControlled);
  EXPECT_EQ(Check(kClaimA, 600.004).result, BudgetService::kWithinBudget);

  // Another department has no budget: not controlled, nothing recorded.
  EXPECT_EQ(Check(kClaimA, 5000, "0202").result, BudgetService::kNotControlled);
  EXPECT_EQ(Used("cPort2Value = '0202'"), "|0");
}

TEST_F(BudgetServiceTest, WarningsRecordAndLinkedReleasesRestoreOnlyTheirOwn) {
  Cn().Execute("update Host_Budget set iControl = 0 where cItemCode = 'T9'");
  EXPECT_EQ(Check(kLoan, 800).result, BudgetService::kWithinBudget);
  BudgetOutcome warned = Check(kLoan, 300);
  EXPECT_EQ(warned.result, BudgetService::kWarned);
  EXPECT_EQ(warned.text,
            MessageText("Rembiz.Host.BudgetWarning", "", "差旅(0201)", "300.00", "200.00"));
  EXPECT_EQ(Used(), "1100|2");

  // A claim writes off 500 of the loan (booked under the claim); restoring that loan gives back
  // at most what this claim released, and nothing for a claim that released nothing.
  EXPECT_EQ(Check(kLoan, -500, "0201", kClaimA).result, BudgetService::kWithinBudget);
  EXPECT_EQ(Used(), "600|3");
  EXPECT_EQ(Check(kLoan, 900, "0201", kClaimA).result, BudgetService::kWithinBudget);
  EXPECT_EQ(Used(), "1100|4");
  EXPECT_EQ(Check(kLoan, 900, "0201", kClaimB).result, BudgetService::kNotControlled);
  EXPECT_EQ(Used(), "1100|4");
}

TEST_F(BudgetServiceTest, SwitchedOffUnknownItemsAndUnboundServices) {
  std::vector<BudgetDimension> ports;
  ASSERT_TRUE(budget_->GetPort("T9", &ports));
  ASSERT_EQ(ports.size(), 1u);
  EXPECT_EQ(ports[0].port, 2);
  EXPECT_EQ(ports[0].code, "department");
  EXPECT_FALSE(budget_->GetPort("T9' or '1'='1", &ports));
  EXPECT_EQ(budget_->LastError(), MessageText("Rembiz.Host.BudgetNoItem", "", "T9' or '1'='1"));

  EXPECT_TRUE(budget_->IsActive("EC"));
  EXPECT_FALSE(budget_->IsActive("GL"));
  EXPECT_EQ(budget_->LastError(), MessageText("Rembiz.Host.BudgetOff", "", "GL"));
  Cn().Execute("update Host_BudgetOption set bActive = 0 where cSysId = 'EC'");
  EXPECT_EQ(Check(kClaimA, 5000).result, BudgetService::kNotControlled);
  EXPECT_EQ(Used(), "|0");

  BudgetEntry entry;
  entry.item = "nosuch";
  BudgetOutcome outcome;
  EXPECT_FALSE(budget_->CheckBudget(entry, &outcome));
  auto unbound = CreateBudgetService();
  EXPECT_FALSE(unbound->IsActive("EC"));
  EXPECT_EQ(unbound->LastError(), MessageText("Rembiz.Host.BudgetNotBound"));
}

}  // namespace
}  // namespace rembiz::host
