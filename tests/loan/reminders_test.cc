// Reminders of loans with a fixed clock: which loans, whom they tell, and once per period.
#include "loan/reminders.h"

#include <gtest/gtest.h>

#include "support/demo_fixture.h"
#include "support/program.h"

namespace rembiz::loan {
namespace {

// The demo's options: overdue 30 days after the loan date, warned 7 days before, alerts on.
class RemindersTest : public testing::DemoTest {
 protected:
  void SetUp() override {
    testing::DemoTest::SetUp();
    // Person 0002 (李华, department 0201) is the user clerk; the head of 02 covers 0201.
    Cn().Execute(
        "update QDSystem..UA_User set cUser_Email = 'LiHua@demo.example' where cUser_Id = "
        "'clerk'");
    Cn().Execute("update Department set cDepLeader = 'manager' where cDepCode = '02'");
    Loan("JK-OVER", "2026-04-01", "'2026-06-10'", 0);          // 5 days overdue
    Loan("JK-SOON", "2026-05-01", "'2026-06-20'", 300);        // due in 5 days, 500 left
    Loan("JK-LATER", "2026-06-01", "'2026-07-30'", 0);         // not yet
    Loan("JK-PAID", "2026-04-01", "'2026-06-01'", 800);        // fully repaid
    Loan("JK-DRAFT", "2026-04-01", "'2026-06-01'", 0, false);  // never approved
    // No expected date: due 30 days after 2026-05-01, overdue 15 days; borrower 0004 has no
    // user, so the one who entered it (Demo Admin) is told; 0301 has no head.
    Loan("JK-NODATE", "2026-05-01", "null", 0, true, "0004", "0301");
  }
  void Loan(const std::string& number, const std::string& lent, const std::string& expected,
            double returned, bool approved = true, const std::string& person = "0002",
            const std::string& department = "0201") {
    Cn().Execute(
        "insert into EC_LoanVouch (strTypeCode, strVouchID, dtLoanDate, dtExpDate, strDepartID, "
        "strLoanID, strBill, fltRate, dblMoney, dblOldMoney, dblReturn, strUsed, strPersonID, "
        "blnAudi, strAuditorID) values ('301', '" +
        number + "', '" + lent + "', " + expected + ", '" + department + "', '" + person +
        "', '人民币', 1, 800, 800, " + std::to_string(returned) + ", 'trip', 'Demo Admin', 1, " +
        (approved ? "'Anna Approver'" : "null") + ")");
  }
  std::string Notices() {
    return Lines(
        "select n.cUser_Id, n.cKind, n.cCardNumber, n.cVouchCode, n.mAmount, n.dDue, o.cChannel "
        "from EC_Notice n left join EC_Outbox o on o.iNoticeId = n.iNoticeId order by "
        "n.cVouchCode, n.cUser_Id, n.iNoticeId");
  }
  static std::string Counts(const ReminderRun& run) {
    return std::to_string(run.reminded) + "/" + std::to_string(run.notices) + "/" +
           std::to_string(run.already) + "/" + std::to_string(run.unreachable);
  }
};

TEST_F(RemindersTest, TheRightLoansOncePerPeriod) {
  ReminderRun run = RemindLoans(Cn(), "2026-06-15", false);
  EXPECT_TRUE(run.ran);
  EXPECT_EQ(Counts(run), "3/5/0/0");
  EXPECT_EQ(Notices(),
            "demo|overdue|45|JK-NODATE|800|2026-05-31|mail\n"
            "clerk|overdue|45|JK-OVER|800|2026-06-10|mail\n"
            "manager|overdue|45|JK-OVER|800|2026-06-10|mail\n"
            "clerk|duesoon|45|JK-SOON|500|2026-06-20|mail\n"
            "manager|duesoon|45|JK-SOON|500|2026-06-20|mail");

  // The same day and the rest of the week: nothing new.
  std::string told = Notices();
  EXPECT_EQ(Counts(RemindLoans(Cn(), "2026-06-15", false)), "0/0/3/0");
  EXPECT_EQ(Counts(RemindLoans(Cn(), "2026-06-17", false)), "0/0/3/0");
  EXPECT_EQ(Notices(), told);

  // A week overdue comes back; the loan due soon is told once; the later one is now due soon.
  EXPECT_EQ(Counts(RemindLoans(Cn(), "2026-06-18", false)), "1/2/2/0");
  EXPECT_EQ(Counts(RemindLoans(Cn(), "2026-07-23", false)), "4/7/0/0");
  EXPECT_EQ(Scalar("select count(*) from EC_Notice where cVouchCode = 'JK-OVER'"), "6");
  EXPECT_EQ(Scalar("select count(*) from EC_Notice where cVouchCode in ('JK-PAID', 'JK-DRAFT')"),
            "0");
  EXPECT_EQ(Scalar("select count(*) from EC_Outbox"), Scalar("select count(*) from EC_Notice"));
}

TEST_F(RemindersTest, AlertsOffRemindOnlyWhenForced) {
  Cn().Execute("update accinformation set cValue = 'false' where cSysID = 'EC' and cID = '104'");
  ReminderRun run = RemindLoans(Cn(), "2026-06-15", false);
  EXPECT_FALSE(run.alerts_on);
  EXPECT_FALSE(run.ran);
  EXPECT_EQ(Scalar("select count(*) from EC_Notice"), "0");
  EXPECT_EQ(Counts(RemindLoans(Cn(), "2026-06-15", true)), "3/5/0/0");

  // Nobody to tell: not marked, so a later run tells whoever can be told then.
  Cn().Execute("update QDSystem..UA_User set bDisabled = 1 where cUser_Id = 'demo'");
  Cn().Execute("delete from EC_LoanReminder where cPeriod like '2026-05-31%'");
  EXPECT_EQ(Counts(RemindLoans(Cn(), "2026-06-15", true)), "0/0/2/1");
  EXPECT_THROW(RemindLoans(Cn(), "15.06.2026", true), ComError);
}

TEST_F(RemindersTest, TheCommandRemindsEveryAccountOnceADay) {
  std::string args =
      "remind " + DataArgs() + " --year " + Session().FiscalYear() + " --today 2026-06-15";
  testing::ProgramResult first = testing::RunCommand(testing::Rembiz(args));
  EXPECT_EQ(first.code, 0) << first.out;
  EXPECT_NE(first.out.find("3 loans reminded, 5 notices"), std::string::npos) << first.out;
  testing::ProgramResult again = testing::RunCommand(testing::Rembiz(args));
  EXPECT_NE(again.out.find("0 loans reminded, 0 notices; 3 reminded before"), std::string::npos)
      << again.out;
  EXPECT_EQ(Scalar("select count(*) from EC_Outbox"), "5");
}

}  // namespace
}  // namespace rembiz::loan
