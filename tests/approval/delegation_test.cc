// Substitutes while away: who may act at a step today, chains, refused delegations, the
// records naming both people, the approver's waiting list and the operations of the pages.
#include "host/delegation.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>

#include "host/approval_flow.h"
#include "host/approver_list.h"
#include "host/database_setup.h"
#include "host/messages.h"
#include "support/demo_fixture.h"
#include "voucher/submission.h"

namespace rembiz::approval {
namespace {

constexpr const char* kLoan = "{D1000001-0000-4000-8000-000000000001}";
constexpr const char* kApprove = "<EASTdata><task EAAID='1' remark='ok'/></EASTdata>";

// Today shifted by `days`, "YYYY-MM-DD".
std::string Day(int days) {
  std::string today = host::TodayText();
  std::chrono::year_month_day ymd{std::chrono::year(std::stoi(today.substr(0, 4))),
                                  std::chrono::month(std::stoul(today.substr(5, 2))),
                                  std::chrono::day(std::stoul(today.substr(8, 2)))};
  std::chrono::year_month_day shifted{std::chrono::sys_days(ymd) + std::chrono::days(days)};
  char text[11];
  std::snprintf(text, sizeof text, "%04d-%02u-%02u", static_cast<int>(shifted.year()),
                static_cast<unsigned>(shifted.month()), static_cast<unsigned>(shifted.day()));
  return text;
}

// The demo's loans pass one step, approved by `approver` (Anna Approver).
class DelegationTest : public testing::DemoTest {
 protected:
  void SetUp() override {
    testing::DemoTest::SetUp();
    Cn().Execute(
        "insert into EC_LoanVouch (GUID, strTypeCode, strVouchID, dtLoanDate, strDepartID, "
        "strLoanID, strBill, fltRate, dblMoney, dblOldMoney, strUsed, strPersonID, blnAudi) "
        "values ('" +
        std::string(kLoan) + "', '301', 'JK-D1', '" + Day(0) +
        "', '0201', '0002', '人民币', 1, 800, 800, 'trip', 'Demo Admin', 1)");
    auto demo = SessionFor("demo");
    Flow(*demo)->StartInstance(
        Cn(), "45", kLoan, "JK-D1",
        voucher::EAdata(*voucher::KindOfTypeCode("301"), "800", "0201", "301", "JK-D1"));
  }
  std::unique_ptr<host::ApprovalFlow> Flow(host::Session& session) {
    auto flow = host::CreateApprovalFlow();
    flow->Init(session, Cn());
    return flow;
  }
  void Delegate(const std::string& user, const std::string& substitute, const std::string& from,
                const std::string& to) {
    Cn().Execute(
        "insert into Host_Delegation (cUser_Id, cSubstitute_Id, dFrom, dTo, cMaker) values ('" +
        user + "', '" + substitute + "', '" + from + "', '" + to + "', 'demo')");
  }
  std::string Waiting() {
    auto demo = SessionFor("demo");
    std::string out;
    for (const std::string& user : Flow(*demo)->WaitingApprovers("45", kLoan)) {
      out += (out.empty() ? "" : ",") + user;
    }
    return out;
  }
  // The message key of the refusal `step` raises; "" when it goes through.
  template <class Step>
  static std::string Refusal(Step&& step) {
    try {
      step();
    } catch (const ComError& e) {
      return e.Key();
    }
    return "";
  }
  std::string ActAs(const std::string& user) {
    auto session = SessionFor(user);
    return Refusal([&] { Flow(*session)->DoTask("45", kLoan, kApprove); });
  }
  std::string Save(const std::string& operator_id, const std::string& user,
                   const std::string& substitute, const std::string& from, const std::string& to) {
    auto session = SessionFor(operator_id);
    return Refusal([&] {
      host::SaveDelegation(*session, Cn(), {user, substitute, from, to, ""}, host::TodayText());
    });
  }
};

TEST_F(DelegationTest, OnlyTheDaysOfTheRangeCount) {
  Delegate("approver", "clerk", Day(-5), Day(-1));
  Delegate("approver", "clerk", Day(1), Day(5));
  EXPECT_EQ(Waiting(), "approver");
  EXPECT_EQ(ActAs("clerk"), "Rembiz.Host.FlowNotApprover");

  Delegate("approver", "clerk", Day(0), Day(0));
  EXPECT_EQ(Waiting(), "clerk");
  // The waiting list of the substitute holds the loan, the one of another user does not.
  auto waiting_for = [&](const char* user) {
    return Scalar(
        "select count(*) from EC_LoanVouch where GUID not in (" +
        host::CreateApproverList(&Cn())->GetNotInAuditUserListSql("EC", "EC_LoanVouch", user) +
        ")");
  };
  EXPECT_EQ(waiting_for("clerk"), "1");
  EXPECT_EQ(waiting_for("Anna Approver"), "1");  // the one away may still act
  EXPECT_EQ(waiting_for("manager"), "0");

  ASSERT_EQ(ActAs("clerk"), "");
  EXPECT_EQ(Scalar("select cUser_Id, cUser_Name, cForUser_Id, cForUser_Name from "
                   "Host_FlowRecord"),
            "clerk|Carl Clerk|approver|Anna Approver");
  EXPECT_EQ(Scalar("select iState from Host_FlowInstance"), "1");
  EXPECT_EQ(waiting_for("clerk"), "0");

  // The history names both, in the records and in the flow's XML.
  auto demo = SessionFor("demo", "en-US");
  xml::Document state = Call("CAudit",
                             "<req><func name='GetAudiState'><in><GUID>" + std::string(kLoan) +
                                 "</GUID><strType>301</strType></in></func></req>",
                             demo.get());
  EXPECT_EQ(state.SelectSingleNode("//Rows/row").Attr("cForUser_Name"), "Anna Approver");
  EXPECT_NE(state.SelectSingleNode("//EASPrintData").Text().find("Carl Clerk (for Anna Approver)"),
            std::string::npos)
      << state.Xml();
  xml::Document info = Call("CAudit",
                            "<req><func name='GetAuditInfo'><in guid='" + std::string(kLoan) +
                                "' strType='EC03'/></func></req>",
                            demo.get());
  xml::Node record = info.SelectSingleNode("//record");
  EXPECT_EQ(record.Attr("username") + "/" + record.Attr("for") + "/" + record.Attr("forname"),
            "Carl Clerk/approver/Anna Approver")
      << info.Xml();
  host::SetCurrentLanguage("zh-CN");
}

TEST_F(DelegationTest, ChainsResolveAndDisabledSubstitutesFallBack) {
  Delegate("approver", "clerk", Day(-1), Day(3));
  Delegate("clerk", "manager", Day(0), Day(2));
  EXPECT_EQ(Waiting(), "manager");
  // The middle of the chain passed its work on; the one away keeps the right to act.
  EXPECT_EQ(ActAs("clerk"), "Rembiz.Host.FlowNotApprover");

  Cn().Execute("update QDSystem..UA_User set bDisabled = 1 where cUser_Id = 'manager'");
  EXPECT_EQ(Waiting(), "clerk");
  Cn().Execute("update QDSystem..UA_User set bDisabled = 0 where cUser_Id = 'manager'");
  Cn().Execute("update QDSystem..UA_User set bDisabled = 1 where cUser_Id = 'clerk'");
  EXPECT_EQ(Waiting(), "approver");
  EXPECT_EQ(ActAs("manager"), "Rembiz.Host.FlowNotApprover");
  Cn().Execute("update QDSystem..UA_User set bDisabled = 0 where cUser_Id = 'clerk'");

  ASSERT_EQ(ActAs("manager"), "");
  EXPECT_EQ(Scalar("select cUser_Id, cForUser_Id from Host_FlowRecord"), "manager|approver");
  EXPECT_EQ(Waiting(), "");
}

TEST_F(DelegationTest, TheOneAwayMayStillAct) {
  Delegate("approver", "clerk", Day(0), Day(1));
  ASSERT_EQ(ActAs("approver"), "");
  EXPECT_EQ(Scalar("select cUser_Id, cForUser_Id from Host_FlowRecord"), "approver|");
}

TEST_F(DelegationTest, AStepAllMustPassCountsTheSubstitutesPass) {
  Cn().Execute(
      "insert into Host_Flow (iFlowId, cCardNumber, cFlowName, iPriority) values (9, '45', "
      "'both', -1)");
  Cn().Execute(
      "insert into Host_FlowStep (iFlowId, iStep, cStepName, iPassMode) values (9, 1, 'both', 1)");
  Cn().Execute(
      "insert into Host_FlowApprover (iFlowId, iStep, iIsUser, cApprover_Id) values "
      "(9, 1, 1, 'approver'), (9, 1, 1, 'manager')");
  auto demo = SessionFor("demo");
  Flow(*demo)->StartInstance(
      Cn(), "45", kLoan, "JK-D1",
      voucher::EAdata(*voucher::KindOfTypeCode("301"), "800", "0201", "301", "JK-D1"));
  Delegate("manager", "approver", Day(0), Day(0));
  EXPECT_EQ(Waiting(), "approver");
  // The approver passes in their own right, then for the manager: then the step has passed.
  ASSERT_EQ(ActAs("approver"), "");
  EXPECT_EQ(Scalar("select iState from Host_FlowInstance"), "0");
  ASSERT_EQ(ActAs("approver"), "");
  EXPECT_EQ(Scalar("select iState from Host_FlowInstance"), "1");
  EXPECT_EQ(Lines("select cForUser_Id from Host_FlowRecord order by AutoID", ","), ",manager");
  EXPECT_EQ(ActAs("manager"), "Rembiz.Host.FlowNotRunning");
}

TEST_F(DelegationTest, RefusedDelegationsWriteNothing) {
  std::string before = Dump("Host_Delegation");
  EXPECT_EQ(Save("approver", "", "approver", Day(0), Day(3)), "Rembiz.Host.DelegationSelf");
  EXPECT_EQ(Save("approver", "", "nobody", Day(0), Day(3)), "Rembiz.Host.DelegationNoUser");
  EXPECT_EQ(Save("approver", "clerk", "manager", Day(0), Day(3)), "Rembiz.Host.DelegationNotYours");
  EXPECT_EQ(Save("approver", "", "clerk", Day(3), Day(0)), "Rembiz.Host.DelegationDates");
  EXPECT_EQ(Save("approver", "", "clerk", Day(0), "2026-02-30"), "Rembiz.Host.DelegationDates");
  EXPECT_EQ(Save("approver", "", "clerk", Day(-9), Day(-1)), "Rembiz.Host.DelegationPast");
  Cn().Execute("update QDSystem..UA_User set bDisabled = 1 where cUser_Id = 'cashier'");
  EXPECT_EQ(Save("approver", "", "cashier", Day(0), Day(3)), "Rembiz.Host.DelegationDisabled");
  EXPECT_EQ(Dump("Host_Delegation"), before);

  // approver -> clerk -> manager; manager -> approver closes a circle on the shared days only.
  ASSERT_EQ(Save("approver", "", "clerk", Day(0), Day(10)), "");
  ASSERT_EQ(Save("demo", "clerk", "manager", Day(5), Day(20)), "");  // an administrator
  EXPECT_EQ(Save("manager", "", "approver", Day(8), Day(30)), "Rembiz.Host.DelegationCircle");
  EXPECT_EQ(Save("clerk", "", "approver", Day(0), Day(2)), "Rembiz.Host.DelegationCircle");
  EXPECT_EQ(Save("clerk", "", "approver", Day(21), Day(25)), "");
  EXPECT_EQ(Save("manager", "", "approver", Day(11), Day(30)), "");
  EXPECT_EQ(Save("approver", "", "finance", Day(10), Day(12)), "Rembiz.Host.DelegationOverlap");
  EXPECT_EQ(Scalar("select count(*) from Host_Delegation"), "4");
}

TEST_F(DelegationTest, PagesKeepTheirOwnDelegations) {
  auto clerk = SessionFor("clerk");
  xml::Document saved = Call("CAudit",
                             "<req><func name='SaveDelegation'><in substitute='manager' from='" +
                                 Day(0) + "' to='" + Day(4) + "' remark='holiday'/></func></req>",
                             clerk.get());
  std::string id = saved.SelectSingleNode("//RetValue").Attr("AutoID");
  ASSERT_FALSE(id.empty()) << saved.Xml();
  Delegate("finance", "clerk", Day(0), Day(1));
  Delegate("finance", "cashier", Day(2), Day(3));

  // Their own and the ones they stand in for; an administrator sees every one.
  xml::Document listed =
      Call("CAudit", "<req><func name='GetDelegations'><in/></func></req>", clerk.get());
  EXPECT_EQ(listed.SelectNodes("//Rows/z:row|//Rows/row").size(), 2u) << listed.Xml();
  auto demo = SessionFor("demo");
  EXPECT_EQ(Call("CAudit", "<req><func name='GetDelegations'><in/></func></req>", demo.get())
                .SelectNodes("//Rows/z:row|//Rows/row")
                .size(),
            3u);

  // Another's delegation stays; a stale row version is refused; the own one goes.
  std::string finances = Scalar(
      "select AutoID, cast(ts as money) from Host_Delegation where cSubstitute_Id = 'clerk'");
  std::string other = finances.substr(0, finances.find('|'));
  std::string other_ts = finances.substr(finances.find('|') + 1);
  xml::Document refused = Call("CAudit",
                               "<req><func name='DelDelegation'><in AutoID='" + other + "' ts='" +
                                   other_ts + "'/></func></req>",
                               clerk.get());
  EXPECT_NE(refused.Xml().find(host::MessageText("Rembiz.Host.DelegationNotYours")),
            std::string::npos)
      << refused.Xml();
  std::string ts = Scalar("select cast(ts as money) from Host_Delegation where AutoID = " + id);
  Call("CAudit",
       "<req><func name='DelDelegation'><in AutoID='" + id + "' ts='" + ts + "9'/></func></req>",
       clerk.get());
  EXPECT_EQ(Scalar("select count(*) from Host_Delegation"), "3");
  Call("CAudit",
       "<req><func name='DelDelegation'><in AutoID='" + id + "' ts='" + ts + "'/></func></req>",
       clerk.get());
  EXPECT_EQ(Scalar("select count(*) from Host_Delegation"), "2");
}

}  // namespace
}  // namespace rembiz::approval
