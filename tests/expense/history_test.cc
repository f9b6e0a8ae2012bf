// The history of a claim: every change along its road leaves one entry, who made it and what
// changed; the history is read with the claim's permissions and never rewritten.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "db/error.h"
#include "expense/expense_fixture.h"
#include "support/golden.h"

namespace rembiz::expense {
namespace {

class HistoryTest : public ExpenseTest {
 protected:
  // An approver's action on the claim's flow: "1" passes, "2" rejects.
  xml::Document Act(const std::string& guid, host::Session* session, const std::string& action,
                    const std::string& remark) {
    return Call("CAudit",
                "<req><func name='AuditVouch'><in><EASTdata><task EAAID='" + action + "' remark='" +
                    remark + "'/></EASTdata><strGUID><Rows flag='1'><row strGUID='" + guid +
                    "' ts='" + Ts(guid) + "' strType='EC02' strVouchID='" +
                    Scalar("select strVouchID from EC_ExpenVouch where GUID = '" + guid + "'") +
                    "'/></Rows></strGUID></in></func></req>",
                session);
  }
  xml::Document Submit(const std::string& guid) {
    return Call("CExpense", "<req><func name='submitaudit'><in><GUID>" + guid + "</GUID><ts>" +
                                Ts(guid) + "</ts></in></func></req>");
  }
  // The history as the page reads it, one entry a line, without its time.
  std::string History(const std::string& guid, host::Session* session = nullptr) {
    xml::Document doc = Call("CPubMsg", Read(guid), session ? session : &Session());
    std::string out;
    for (const xml::Node& row : doc.SelectNodes("//rs:data/z:row")) {
      EXPECT_FALSE(row.Attr("dTime").empty());
      out += row.Attr("cCardNumber") + " " + row.Attr("cVouchCode") + " " + row.Attr("cEvent") +
             " by " + row.Attr("cUser_Id") + "/" + row.Attr("cUser_Name") + " for " +
             row.Attr("cForUser_Id") + " [" + row.Attr("cRemark") + "] " + row.Attr("cChanges") +
             "\n";
    }
    return out;
  }
  static std::string Read(const std::string& guid) {
    return "<req><func name='vchgethistory'><in><GUID>" + guid + "</GUID></in></func></req>";
  }
};

TEST_F(HistoryTest, TheRoadOfAClaimIsWrittenAsItGoes) {
  auto approver = SessionFor("approver");
  ASSERT_TRUE(NoError(Save(Head())));
  const std::string guid = Column("GUID", "BX0001");
  // A change of the purpose and of the second row's amount (and with it the claim's total).
  xml::Document doc = Save(Head({{"GUID", guid}, {"ts", Ts(guid)}, {"strUsed", "会议"}}),
                           "<row strIOItem='20101' strEZero='0101' dblNumber='2' dblVouch='900' "
                           "dblMoney='900'/><row strIOItem='203' dblMoney='120' strMemo='纸张'/>");
  ASSERT_TRUE(NoError(doc)) << doc.Xml();
  // A save that changes nothing is a save all the same, with nothing to tell.
  ASSERT_TRUE(
      NoError(Save(Head({{"GUID", guid}, {"ts", Ts(guid)}, {"strUsed", "会议"}}),
                   "<row strIOItem='20101' strEZero='0101' dblNumber='2' dblVouch='900' "
                   "dblMoney='900'/><row strIOItem='203' dblMoney='120' strMemo='纸张'/>")));
  ASSERT_TRUE(NoError(Submit(guid)));
  ASSERT_TRUE(NoError(Act(guid, &Session(), "1", "ok")));
  ASSERT_TRUE(NoError(Act(guid, approver.get(), "1", "")));
  // The cashier's settlement line.
  doc = Call("CExpense", "<req><func name='SaveExpenInfo'><in GUID='" + guid + "' ts='" + Ts(guid) +
                             "'><rows><row P='1' intIOType='" + Text("Q7.Rembiz.0186") +
                             "' strBalanceID='1' dblMoney='1020'/></rows></in></func></req>");
  ASSERT_TRUE(NoError(doc)) << doc.Xml();
  // The approver, who enters no claims, reads it as the page does.
  testing::ExpectGoldenText("expense/golden/history_road.txt", History(guid, approver.get()));

  // A second claim, rejected at its first step with the approver's reason.
  ASSERT_TRUE(NoError(Save(Head({{"strVouchID", "BX0002"}}))));
  const std::string rejected = Column("GUID", "BX0002");
  ASSERT_TRUE(NoError(Submit(rejected)));
  ASSERT_TRUE(NoError(Act(rejected, &Session(), "2", "发票不全")));
  EXPECT_EQ(Lines("select cEvent, cUser_Id, cRemark from EC_VoucherHistory where cVouchGUID = '" +
                  rejected + "' order by AutoID"),
            "saved|demo|\nsubmitted|demo|\nrejected|demo|发票不全");

  // Nothing changes or deletes an entry, on any backend; a refused statement leaves them all.
  const std::string entries = Dump("EC_VoucherHistory");
  for (const char* sql : {"update EC_VoucherHistory set cRemark = 'x'",
                          "delete from EC_VoucherHistory where cEvent = 'rejected'"}) {
    try {
      Cn().Execute(sql);
      ADD_FAILURE() << sql << " was not refused";
    } catch (const db::DbError& e) {
      EXPECT_EQ(e.Number(), db::kErrConstraint) << sql;
      EXPECT_NE(e.Description().find("EC_VoucherHistory"), std::string::npos) << e.Description();
    }
  }
  EXPECT_EQ(Dump("EC_VoucherHistory"), entries);
}

TEST_F(HistoryTest, ADeletedDraftKeepsItsHistoryAndAFailedSaveWritesNone) {
  ASSERT_TRUE(NoError(Save(Head())));
  const std::string guid = Column("GUID", "BX0001");
  const std::string id = Column("AutoID", "BX0001");
  // A save the claim refuses (an amount of nothing) writes no entry.
  Save(Head({{"GUID", guid}, {"ts", Ts(guid)}}), "<row strIOItem='203' dblMoney='0'/>");
  ASSERT_TRUE(NoError(Call("CExpense", "<req><func name='delvouch'><in><strAutoID>" + id +
                                           "</strAutoID><ts>" + Ts(guid) +
                                           "</ts><type>EC03</type></in></func></req>")));
  EXPECT_EQ(Lines("select cCardNumber, cVouchCode, cEvent from EC_VoucherHistory where "
                  "cVouchGUID = '" +
                  guid + "' order by AutoID"),
            "47|BX0001|saved\n47|BX0001|deleted");
}

}  // namespace
}  // namespace rembiz::expense
