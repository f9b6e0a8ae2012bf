#include "standards/standard_check.h"

#include <gtest/gtest.h>

#include "db/money.h"
#include "db/test_seams.h"
#include "db/transaction.h"
#include "host/errors.h"
#include "host/messages.h"
#include "support/demo_fixture.h"

namespace rembiz::standards {
namespace {

// Demo standards: 住宿费标准 (20101, hard, grade and place grade), 业务招待费标准 (202, warning,
// grade), 交通费标准 (20102, warning, receipt brackets 100/200/500), 出差补助标准 (20103, hard,
// grade and means of transport, 50 % of the receipt above the base).
constexpr char kLodging[] = "{EC5D0001-0000-4000-8000-000000000001}";
constexpr char kTransport[] = "{EC5D0003-0000-4000-8000-000000000003}";
constexpr char kAllowance[] = "{EC5D0004-0000-4000-8000-000000000004}";

std::string Text(std::string_view key, std::string_view p1, std::string_view p2 = "",
                 std::string_view p3 = "") {
  return host::MessageText(key, "zh-CN", p1, p2, p3);
}

// A row of `item` in `department` for claimant 0001 (grade 01).
ClaimRowValues Row(std::string item, std::string department, double claimed) {
  ClaimRowValues row;
  row.item = std::move(item);
  row.department = std::move(department);
  row.claimant = "0001";
  row.claimed = claimed;
  return row;
}

class StandardCheckTest : public testing::DemoTest {
 protected:
  StandardOutcome Check(const ClaimRowValues& row) { return StandardCheck(Session(), Cn(), row); }
};

TEST_F(StandardCheckTest, WorkedExamples) {
  // 100 per unit (grade 03 by train), three units: 300 + (400 - 300) * 50 % = 350 allowed.
  ClaimRowValues row = Row("20103", "0301", 350);
  row.claimant = "0004";
  row.dimension3 = "02";
  row.receipt = 400;
  row.quantity = 3;
  StandardOutcome within = Check(row);
  EXPECT_EQ(within.guid, kAllowance);
  EXPECT_TRUE(within.hard_control);
  EXPECT_EQ(within.allowed, 350);
  EXPECT_FALSE(within.Breaks());

  row.claimed = 360;
  StandardOutcome over = Check(row);
  EXPECT_EQ(over.allowed, 350);
  EXPECT_EQ(over.excess, 10);
  EXPECT_EQ(over.message, Text("Q7.Rembiz.0038", "360.00", "出差补助标准", "10.00"));
  EXPECT_TRUE(over.StopsSave());

  // Quantity 0 counts as 1; without a receipt amount the base is the limit.
  row.quantity = 0;
  row.receipt = 0;
  row.claimed = 100;
  EXPECT_FALSE(Check(row).Breaks());
  row.claimed = 100.5;
  EXPECT_EQ(Check(row).message, Text("Q7.Rembiz.0038", "100.50", "出差补助标准", "0.50"));
}

TEST_F(StandardCheckTest, PicksTheLowestBracketReachingTheReceiptPerUnit) {
  ClaimRowValues row = Row("20102", "01", 300);
  row.quantity = 2;
  for (auto [receipt, per_unit] : {std::pair{300.0, 150.0}, {400.0, 150.0}, {160.0, 100.0}}) {
    row.receipt = receipt;  // 150 and 200 per unit fall in "200", 80 in "100"
    StandardOutcome out = Check(row);
    EXPECT_EQ(out.guid, kTransport);
    EXPECT_EQ(out.per_unit, per_unit) << receipt;
  }

  row.receipt = 1200;  // 600 per unit: above every bracket
  StandardOutcome none = Check(row);
  EXPECT_EQ(none.guid, kTransport);
  EXPECT_EQ(none.message, Text("Q7.Rembiz.0037", "交通费标准"));
  EXPECT_TRUE(none.Breaks());
  EXPECT_FALSE(none.StopsSave());
  row.receipt = 0;
  EXPECT_EQ(Check(row).message_key, "Q7.Rembiz.0036");

  // English sessions bracket the aliases of every statement; the check must still run.
  auto english = SessionFor("demo", "en-US");
  host::SetCurrentLanguage("en-US");
  row.receipt = 300;
  row.claimed = 400;
  StandardOutcome over = StandardCheck(*english, Cn(), row);
  host::SetCurrentLanguage("zh-CN");
  EXPECT_EQ(over.message,
            host::MessageText("Q7.Rembiz.0038", "en-US", "400.00", "交通费标准", "100.00"));
}

TEST_F(StandardCheckTest, MatchesTheDimensionsAndNamesWhatIsMissing) {
  // Grade 01 in a grade-01 place: 600 a night. Within the base the receipt plays no part.
  ClaimRowValues row = Row("20101", "01", 1100);
  row.place = "0101";
  row.receipt = 9999;
  row.quantity = 2;
  StandardOutcome manager = Check(row);
  EXPECT_EQ(manager.per_unit, 600);
  EXPECT_EQ(manager.allowed, 1100);
  EXPECT_FALSE(manager.Breaks());
  row.claimant = "0002";  // grade 02
  row.place = "0203";     // grade 03
  EXPECT_EQ(Check(row).per_unit, 300);

  Cn().Execute("Update EC_PersonCtrl Set strGradeID = Null Where strPersonCode = '0006'");
  Cn().Execute("Update EC_Position Set strGradeID = '' Where strPositionCode = '0102'");
  const struct {
    std::string claimant, place, key;
  } missing[] = {{"", "0101", "Q7.Rembiz.0029"},     {"0007", "0101", "Q7.Rembiz.0030"},
                 {"0006", "0101", "Q7.Rembiz.0031"}, {"0001", "", "Q7.Rembiz.0032"},
                 {"0001", "9999", "Q7.Rembiz.0033"}, {"0001", "0102", "Q7.Rembiz.0034"}};
  for (const auto& c : missing) {
    row.claimant = c.claimant;
    row.place = c.place;
    StandardOutcome out = Check(row);
    EXPECT_EQ(out.guid, kLodging) << c.key;
    EXPECT_EQ(out.message, Text(c.key, "住宿费标准")) << c.key;
    EXPECT_TRUE(out.StopsSave()) << c.key;
  }

  ClaimRowValues allowance = Row("20103", "04", 10);
  EXPECT_EQ(Check(allowance).message_key, "Q7.Rembiz.0035");
  allowance.dimension3 = "03";  // no value row for grade 01 by car
  EXPECT_EQ(Check(allowance).message, Text("Q7.Rembiz.0037", "出差补助标准"));
  allowance.dimension3 = "01";
  EXPECT_EQ(Check(allowance).per_unit, 200);
}

TEST_F(StandardCheckTest, RowsWithoutStandardAreNotControlled) {
  // Negative amount; item without standard; standard not for the department; nothing given.
  for (const ClaimRowValues& row : {Row("20101", "0201", -1), Row("203", "01", 50000),
                                    Row("20103", "01", 50000), Row("", "", 50000)}) {
    StandardOutcome out = Check(row);
    EXPECT_FALSE(out.Applies()) << row.item << "/" << row.department;
    EXPECT_EQ(out.message, StandardOutcome::kNoStandard);
  }
}

TEST_F(StandardCheckTest, ComparesInLocalCurrency) {
  // 业务招待费标准 for grade 01: 2000.
  ClaimRowValues row = Row("202", "01", 300);
  row.currency = "美元";
  row.rate = 7.1;
  StandardOutcome dollars = Check(row);
  EXPECT_EQ(dollars.message, Text("Q7.Rembiz.0038", "2130.00", "业务招待费标准", "130.00"));
  EXPECT_FALSE(dollars.StopsSave());

  // The local currency (iotherused -1) is compared as it is, whatever the rate says.
  row.currency = "人民币";
  row.claimed = 2100;
  EXPECT_EQ(Check(row).excess, 100);

  Cn().Execute("Update foreigncurrency Set bcal = 0 Where cexch_name = '美元'");
  row.currency = "美元";
  row.rate = 2;
  row.claimed = 4200;
  EXPECT_EQ(Check(row).claimed, 2100);
  row.currency = "欧元";  // unknown: unconverted
  EXPECT_EQ(Check(row).claimed, 4200);
}

TEST_F(StandardCheckTest, DatabaseErrorsBecomeTheMessage) {
  ClaimRowValues row = Row("20101", "01", 100);
  host::Session& session = Session();
  db::Connection& cn = Cn();
  db::InjectFault(2, db::DbError(db::kErrStatement, "disk on fire"));
  StandardOutcome out = StandardCheck(session, cn, row);
  db::ClearFault();
  EXPECT_EQ(out.guid, kLodging);
  EXPECT_EQ(out.message, "disk on fire");
  EXPECT_TRUE(out.StopsSave());
}

// The rows of one claim read the value rows of their standards in one statement before they are
// checked, with the outcomes each row would have alone; when that statement fails, every row that
// asked for value rows fails its check with that error, as when its own read fails.
TEST_F(StandardCheckTest, RowsOfOneClaimReadTheirValueRowsAtOnce) {
  std::vector<ClaimRowValues> rows = {Row("20102", "01", 300), Row("20102", "01", 300),
                                      Row("202", "01", 2100), Row("203", "01", 50),
                                      Row("20102", "01", 300)};
  rows[0].receipt = 300;  // bracket "200": 150 per unit
  rows[0].quantity = 2;
  rows[1].receipt = 160;  // bracket "100"
  rows[1].quantity = 2;
  rows[4].receipt = 1200;  // above every bracket
  rows[4].quantity = 2;
  std::vector<StandardOutcome> alone;
  for (const ClaimRowValues& row : rows) alone.push_back(Check(row));
  EXPECT_EQ(alone[0].per_unit, 150);
  EXPECT_EQ(alone[1].per_unit, 100);
  EXPECT_EQ(alone[2].excess, 100);
  EXPECT_FALSE(alone[3].Applies());
  EXPECT_EQ(alone[4].message_key, "Q7.Rembiz.0037");

  // (English sessions bracket every alias of the statement reading them at once.)
  for (const auto& [fails, language] :
       {std::pair{false, "zh-CN"}, {true, "zh-CN"}, {false, "en-US"}}) {
    // Inside a claim's transaction, as a save reads them.
    db::Transaction transaction(Cn());
    StandardLookups lookups(Cn());
    lookups.Preload("01", {"20102", "202", "203"}, "0001");
    if (fails) db::InjectFault(1, db::DbError(db::kErrStatement, "disk on fire"));
    host::SetCurrentLanguage(language);
    lookups.PreloadValueRows("zh-CN", rows);
    host::SetCurrentLanguage("zh-CN");
    db::ClearFault();
    const int64_t before = db::ThreadStatementCount();
    for (size_t i = 0; i < rows.size(); ++i) {
      StandardOutcome out = StandardCheck(Session(), lookups, rows[i]);
      if (fails && alone[i].Applies()) {
        EXPECT_EQ(out.message, "disk on fire") << i;
        EXPECT_TRUE(out.failed) << i;
        continue;
      }
      EXPECT_EQ(out.per_unit, alone[i].per_unit) << i << fails;
      EXPECT_EQ(out.allowed, alone[i].allowed) << i << fails;
      EXPECT_EQ(out.message, alone[i].message) << i << fails;
    }
    // Four rows ask for value rows (three different ones): none reads them again.
    EXPECT_EQ(db::ThreadStatementCount(), before) << fails;
    transaction.Rollback();
  }
}

TEST_F(StandardCheckTest, BracketStandardsNeedAReceiptAmount) {
  EXPECT_TRUE(UsesReceiptBracket(Cn(), "01", "20102"));
  EXPECT_FALSE(UsesReceiptBracket(Cn(), "01", "20101"));
  EXPECT_FALSE(UsesReceiptBracket(Cn(), "", "20102"));
  EXPECT_NO_THROW(RequireReceiptAmount(Cn(), "01", "20102", "80", "(1)"));
  EXPECT_NO_THROW(RequireReceiptAmount(Cn(), "01", "20101", "", "(1)"));
  try {
    RequireReceiptAmount(Cn(), "0201", "20102", "", "(3)");
    FAIL() << "a missing receipt amount was accepted";
  } catch (const ComError& error) {
    EXPECT_EQ(error.Number(), kErrBusiness);
    EXPECT_EQ(error.Description(), host::MessageText("Q7.Rembiz.0282", "", "(3)"));
  }
}

TEST(MoneyTest, CentsRoundHalvesAwayFromZeroAndMoneyKeepsFourDecimals) {
  EXPECT_EQ(db::CentsText(1.005), "1.01");
  EXPECT_EQ(db::CentsText(2.675), "2.68");
  EXPECT_EQ(db::RoundCents(-1.005), -1.01);
  EXPECT_EQ(db::MoneyText(0.12345), "0.1235");
  EXPECT_EQ(db::MoneyText(1000), "1000");
}

}  // namespace
}  // namespace rembiz::standards
