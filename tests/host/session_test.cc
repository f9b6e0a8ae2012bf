#include <gtest/gtest.h>

#include "host/local_session.h"
#include "host/messages.h"
#include "host/tasks.h"
#include "support/demo_fixture.h"

namespace rembiz::host {
namespace {

class SessionTest : public testing::DemoTest {};

TEST_F(SessionTest, LoginChecksTheHashedPasswordAndTheAccountYear) {
  SessionRequest request;
  request.user = "approver";
  auto session = LocalSession::Login(Data(), request, "approver");
  EXPECT_EQ(session->UserId(), "approver");
  EXPECT_FALSE(session->IsAdmin());
  EXPECT_EQ(session->AccountId(), "001");
  EXPECT_EQ(session->FiscalYear(), CurrentYearText());
  EXPECT_GE(session->CurrentPeriod(), 1);
  EXPECT_LE(session->CurrentPeriod(), 12);
  EXPECT_EQ(Scalar("select count(*) from qdsystem..UA_User where cPassword like '%approver%'"),
            "0");

  // The user is who the system database says, however the name was typed.
  request.user = "APPROVER";
  EXPECT_EQ(LocalSession::Login(Data(), request, "approver")->UserId(), "approver");
  request.user = "approver";
  EXPECT_THROW(LocalSession::Login(Data(), request, "wrong"), ComError);
  request.user = "nobody";
  EXPECT_THROW(LocalSession::Login(Data(), request, "x"), ComError);
  request.user = "demo";
  request.year = "1999";
  EXPECT_THROW(LocalSession::Open(Data(), request), ComError);
  request.year = "20x4";
  EXPECT_THROW(LocalSession::Open(Data(), request), ComError);
}

TEST_F(SessionTest, TasksFollowTheOperatorsRights) {
  auto clerk = SessionFor("clerk");
  xml::Document doc;
  EXPECT_TRUE(ApplyTask(clerk.get(), "EC020101", doc));
  EXPECT_TRUE(doc.Empty());
  EXPECT_TRUE(ReleaseTask(clerk.get(), "EC020101", doc));

  EXPECT_FALSE(ApplyTask(clerk.get(), "EC0206", doc));
  EXPECT_EQ(doc.SelectSingleNode("/error/id").Text(), "Rembiz:MSG:ApplyTask:9000");
  EXPECT_NE(doc.SelectSingleNode("/error/text").Text().find("EC0206"), std::string::npos);

  EXPECT_FALSE(ApplyTask(nullptr, "EC0206", doc));
  EXPECT_EQ(doc.SelectSingleNode("/error/text").Text(), MessageText("Q7.Rembiz.0026"));
  EXPECT_FALSE(ReleaseTask(nullptr, "EC0206", doc));
  EXPECT_EQ(doc.SelectSingleNode("/error/text").Text(), MessageText("Q7.Rembiz.0369"));

  auto demo = SessionFor("demo");
  EXPECT_TRUE(demo->IsAdmin());
  EXPECT_TRUE(ApplyTask(demo.get(), "EC0206", doc));
  ReleaseTask(demo.get(), "EC0206", doc);
}

// Exclusive tasks are rows of the system database: sessions that share nothing but the
// database (two service processes) see each other's, and a release or a stale row frees them.
TEST_F(SessionTest, AnExclusiveTaskHeldByOneOperatorIsRefusedToAnother) {
  Cn().Execute(
      "insert into qdsystem..UA_TaskExclusion (cAuth_Id, cExclusive_Id) values "
      "('EC020301', 'EC020101')");
  auto clerk = SessionFor("clerk");
  auto demo = SessionFor("demo");
  clerk->SetHolder("holder-a");
  demo->SetHolder("holder-b");
  xml::Document doc;
  ASSERT_TRUE(ApplyTask(clerk.get(), "EC020301", doc));
  EXPECT_EQ(Scalar("select cAuth_Id, cUser_Id, cSession from qdsystem..UA_Task"),
            "EC020301|clerk|holder-a");
  EXPECT_FALSE(ApplyTask(demo.get(), "EC020101", doc));
  EXPECT_EQ(doc.SelectSingleNode("/error/text").Text(),
            MessageText("Rembiz.Host.TaskInUse", "zh-CN", "EC020301", "clerk"));
  // The holder itself may run the counterpart; tasks without an exclusion are not recorded.
  EXPECT_TRUE(ApplyTask(clerk.get(), "EC020101", doc));
  EXPECT_TRUE(ReleaseTask(clerk.get(), "EC020101", doc));
  EXPECT_TRUE(ApplyTask(demo.get(), "EC0206", doc));
  EXPECT_EQ(Scalar("select count(*) from qdsystem..UA_Task"), "1");

  ASSERT_TRUE(ReleaseTask(clerk.get(), "EC020301", doc));
  EXPECT_EQ(Scalar("select count(*) from qdsystem..UA_Task"), "0");
  ASSERT_TRUE(ApplyTask(demo.get(), "EC020101", doc));
  EXPECT_FALSE(ApplyTask(clerk.get(), "EC020301", doc));
  // A row its request left behind (its process stopped) no longer blocks once it is stale.
  Cn().Execute("update qdsystem..UA_Task set dStartTime = dateadd(minute, -20, getdate())");
  EXPECT_TRUE(ApplyTask(clerk.get(), "EC020301", doc));
  EXPECT_EQ(Scalar("select cUser_Id from qdsystem..UA_Task"), "clerk");
}

TEST_F(SessionTest, WriteLockBlocksOnlyItsAccountYear) {
  auto session = SessionFor();
  EXPECT_NO_THROW(CheckHostLock(*session, Cn()));
  Cn().Execute("delete from qdsystem..UA_LockState");
  Cn().Execute(
      "insert into qdsystem..UA_LockState (cAcc_Id, iYear, cSub_Id, iCode, bFlag) values "
      "('001', " +
      session->FiscalYear() + ", 'EC', 204, 1)");
  try {
    CheckHostLock(*session, Cn());
    FAIL() << "the write lock did not block";
  } catch (const ComError& e) {
    EXPECT_EQ(e.Number(), 9000);
    EXPECT_EQ(e.Description(), MessageText("Q7.Rembiz.0039"));
  }
  EXPECT_TRUE(session->QueryState(204, "EC", std::stoi(session->FiscalYear())));
  Cn().Execute("update qdsystem..UA_LockState set bFlag = 0");
  EXPECT_NO_THROW(CheckHostLock(*session, Cn()));
}

}  // namespace
}  // namespace rembiz::host
