#include "host/approval_flow.h"

#include <gtest/gtest.h>

#include "host/messages.h"
#include "support/demo_fixture.h"
#include "voucher/submission.h"

namespace rembiz::host {
namespace {

constexpr const char* kClaim = "{F1000001-0000-4000-8000-000000000001}";
constexpr const char* kLoan = "{F1000002-0000-4000-8000-000000000002}";
constexpr const char* kApprove = "<EASTdata><task EAAID='1' remark='ok'/></EASTdata>";
constexpr const char* kReject = "<EASTdata><task EAAID='2' remark='no'/></EASTdata>";

// Demo flows: loans (card 45) one step for approver; expenditure claims (card 47) step 1 demo,
// step 2 approver.
class ApprovalFlowTest : public testing::DemoTest {
 protected:
  std::unique_ptr<ApprovalFlow> FlowFor(host::Session& session) {
    auto flow = CreateApprovalFlow();
    flow->Init(session, Cn());
    return flow;
  }
  std::string Description(const char* type, const std::string& department, const char* amount) {
    return voucher::EAdata(*voucher::KindOfTypeCode(type), amount, department, type, "V-1");
  }
  // The text of the refusal `step` raises; "" when it goes through.
  template <class Step>
  static std::string Refusal(Step&& step) {
    try {
      step();
    } catch (const ComError& e) {
      EXPECT_EQ(e.Number(), 9000);
      return e.Description();
    }
    return "";
  }
  std::string InstanceState(const char* guid) {
    return Scalar(std::string("select iFlowId, iCurStep, iState, iRound from Host_FlowInstance "
                              "where cVouchGUID = '") +
                  guid + "'");
  }
};

TEST_F(ApprovalFlowTest, ClaimPassesBothStepsInOrder) {
  auto demo = SessionFor("demo");
  auto approver = SessionFor("approver");
  auto by_demo = FlowFor(*demo);
  auto by_approver = FlowFor(*approver);
  ASSERT_NO_THROW(
      by_demo->StartInstance(Cn(), "47", kClaim, "V-1", Description("201", "0201", "300")));
  EXPECT_TRUE(by_demo->HasInstance("47", kClaim, "11"));
  EXPECT_EQ(InstanceState(kClaim), "3|1|0|1");

  // Step 1 belongs to demo; approver has to wait.
  EXPECT_EQ(Refusal([&] { by_approver->DoTask("47", kClaim, kApprove); }),
            MessageText("Rembiz.Host.FlowNotApprover", "", "Anna Approver", "主管审批"));
  ASSERT_NO_THROW(by_demo->DoTask("47", kClaim, kApprove));
  EXPECT_FALSE(by_demo->FlowEnded());
  // Not an approver of step 2.
  EXPECT_NE(Refusal([&] { by_demo->DoTask("47", kClaim, kApprove); }), "");
  ASSERT_NO_THROW(by_approver->DoTask("47", kClaim, kApprove));
  EXPECT_TRUE(by_approver->FlowEnded());
  EXPECT_EQ(InstanceState(kClaim), "3|2|1|1");

  db::Recordset records = by_demo->GetFlowRecords("47", kClaim, "11");
  ASSERT_EQ(records.RecordCount(), 2);
  EXPECT_EQ(
      records.Text("cUser_Name") + "/" + records.Text("EAA_Name") + "/" + records.Text("remark"),
      "Demo Admin/同意/ok");

  // Taking back the final pass reopens the flow at step 2; the voucher's approval is withdrawn.
  ASSERT_NO_THROW(by_approver->UndoTask("47", kClaim, "11"));
  EXPECT_TRUE(by_approver->FlowEnded());
  EXPECT_EQ(InstanceState(kClaim), "3|2|0|1");
  ASSERT_NO_THROW(by_demo->UndoTask("47", kClaim, "11"));
  EXPECT_FALSE(by_demo->FlowEnded());
  EXPECT_EQ(InstanceState(kClaim), "3|1|0|1");
  EXPECT_EQ(Refusal([&] { by_demo->UndoTask("47", kClaim, "11"); }),
            MessageText("Rembiz.Host.FlowNothingToUndo", "", "Demo Admin"));

  std::string info = by_demo->GetFlowInfo("47", kClaim, "11");
  xml::Document doc;
  ASSERT_TRUE(doc.LoadXml("<data>\n" + info + "\n</data>")) << info;
  EXPECT_EQ(doc.SelectNodes("//step").size(), 2u);
  EXPECT_EQ(doc.SelectSingleNode("//step[@current='1']").Attr("no"), "1");
  EXPECT_EQ(doc.SelectNodes("//record[@undone='1']").size(), 2u);
}

TEST_F(ApprovalFlowTest, RejectionResetAndDrop) {
  auto demo = SessionFor("demo");
  auto flow = FlowFor(*demo);
  ASSERT_NO_THROW(
      flow->StartInstance(Cn(), "47", kClaim, "V-1", Description("201", "0201", "300")));
  ASSERT_NO_THROW(flow->DoTask("47", kClaim, kReject));
  EXPECT_FALSE(flow->FlowEnded());
  EXPECT_EQ(InstanceState(kClaim), "3|1|2|1");
  EXPECT_EQ(Refusal([&] { flow->DoTask("47", kClaim, kApprove); }),
            MessageText("Rembiz.Host.FlowNotRunning"));

  // A reset starts a new round; the rejection stays in the records.
  ASSERT_NO_THROW(flow->ResetInstance("47", kClaim, "11"));
  EXPECT_EQ(InstanceState(kClaim), "3|1|0|2");
  ASSERT_NO_THROW(flow->DoTask("47", kClaim, kApprove));
  EXPECT_EQ(Scalar("select count(*) from Host_FlowRecord"), "2");

  EXPECT_EQ(Refusal([&] { flow->HasInstance("47", kClaim, "12"); }),
            MessageText("Rembiz.Host.FlowBadKind", "", "12"));
  EXPECT_EQ(Refusal([&] { flow->DoTask("47", kClaim, "<EASTdata><task EAAID='9'/></EASTdata>"); }),
            MessageText("Rembiz.Host.FlowBadTask"));
  ASSERT_NO_THROW(flow->DropInstance(Cn(), "47", kClaim, "11"));
  EXPECT_FALSE(flow->HasInstance("47", kClaim, "11"));
  EXPECT_EQ(Scalar("select count(*) from Host_FlowRecord"), "0");
  EXPECT_EQ(Refusal([&] { flow->DropInstance(Cn(), "47", kClaim, "11"); }),
            MessageText("Rembiz.Host.FlowNoInstance"));
}

TEST_F(ApprovalFlowTest, FlowIsChosenByConditionsAndApproversMayBeRoles) {
  // Sales loans over 1000 go to a flow whose approvers are the APPROVERS role.
  Cn().Execute(
      "insert into Host_Flow (iFlowId, cCardNumber, cFlowName, iPriority, cDepCode, mMinAmount) "
      "values (9, '45', 'sales', -1, '03', 1000)");
  Cn().Execute("insert into Host_FlowStep (iFlowId, iStep, cStepName) values (9, 1, 'role')");
  Cn().Execute(
      "insert into Host_FlowApprover (iFlowId, iStep, iIsUser, cApprover_Id) values "
      "(9, 1, 0, 'APPROVERS')");
  auto approver = SessionFor("approver");
  auto flow = FlowFor(*approver);
  ASSERT_NO_THROW(
      flow->StartInstance(Cn(), "45", kLoan, "V-1", Description("301", "0301", "1500")));
  EXPECT_EQ(InstanceState(kLoan), "9|1|0|1");
  ASSERT_NO_THROW(flow->DoTask("45", kLoan, kApprove));
  EXPECT_TRUE(flow->FlowEnded());

  ASSERT_NO_THROW(
      flow->StartInstance(Cn(), "45", kClaim, "V-2", Description("301", "0301", "900")));
  EXPECT_EQ(InstanceState(kClaim), "1|1|0|1");

  std::string id, name;
  EXPECT_TRUE(flow->CanStart("45", &id, &name));
  EXPECT_EQ(id + "/" + name, "9/sales");
  Cn().Execute("update Host_Flow set bActive = 0 where cCardNumber = '46'");
  EXPECT_FALSE(flow->CanStart("46", &id, &name));
  EXPECT_EQ(Refusal([&] {
              flow->StartInstance(Cn(), "46", kClaim, "V-3", Description("101", "0201", "1"));
            }),
            MessageText("Rembiz.Host.FlowNoMatch", "", "V-3"));
  EXPECT_EQ(Refusal([&] {
              flow->StartInstance(Cn(), "45", kClaim, "V-3", "<EAdata><eccontrain 金额='x'/>");
            }),
            MessageText("Rembiz.Host.FlowBadData"));
}

}  // namespace
}  // namespace rembiz::host
