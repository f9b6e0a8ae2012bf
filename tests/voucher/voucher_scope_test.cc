// Vouchers named by id, GUID or AutoID are reached only within the operator's data permissions:
// a voucher the operator's lists do not show answers exactly as one that does not exist.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "host/messages.h"
#include "support/demo_fixture.h"

namespace rembiz::voucher {
namespace {

// Department 0301, which clerk (and, here, approver) may not see.
constexpr const char* kLoan = "{5C0FE001-0000-4000-8000-000000000001}";
constexpr const char* kSubmittedLoan = "{5C0FE002-0000-4000-8000-000000000002}";
constexpr const char* kApprovedLoan = "{5C0FE003-0000-4000-8000-000000000003}";
constexpr const char* kClaim = "{5C0FE011-0000-4000-8000-000000000011}";

class VoucherScopeTest : public testing::DemoTest {
 protected:
  void SetUp() override {
    DemoTest::SetUp();
    year_ = Session().FiscalYear();
    // approver approves and finance makes ledger vouchers for department 0201 only.
    for (const char* user : {"approver", "finance"}) {
      Cn().Execute(
          "insert into Host_ScopeRule (cUser_Id, cAuthType, cSelector1, cSelector2, iScope) "
          "values (N'" +
          std::string(user) + "', N'department', N'', N'', 2)");
      Cn().Execute(
          "insert into Host_ScopeRuleItem (cUser_Id, cAuthType, cSelector1, cSelector2, cCode) "
          "values (N'" +
          std::string(user) + "', N'department', N'', N'', N'0201')");
    }
  }

  void InsertLoan(const std::string& guid, const std::string& number) {
    Cn().Execute(
        "insert into EC_LoanVouch (GUID, strTypeCode, strVouchID, dtLoanDate, strDepartID, "
        "strLoanID, strBill, fltRate, dblMoney, dblOldMoney, strUsed, strPersonID, blnAudi) "
        "values ('" +
        guid + "', '301', '" + number + "', '" + year_ +
        "-03-05', '0301', '0004', '人民币', 1, 800, 800, 'trip', 'Demo Admin', 0)");
    Cn().Execute("insert into EC_LoanVouch_Sub (MGuid, strBalanceID, dblMoney) values ('" + guid +
                 "', '1', 800)");
  }

  std::string Of(const std::string& table, const std::string& column, const std::string& guid) {
    return Scalar("select " + column + " from " + table + " where GUID = '" + guid + "'");
  }

  host::Session* As(const std::string& user) {
    auto& session = sessions_[user];
    if (!session) session = SessionFor(user);
    return session.get();
  }

  std::string year_;

 private:
  std::map<std::string, std::unique_ptr<host::LocalSession>> sessions_;
};

struct Route {
  std::string name;
  std::string class_name;
  std::string user;
  std::string request;
};

TEST_F(VoucherScopeTest, EveryRouteToAVoucherOutsideThePermissionsAnswersNotFound) {
  InsertLoan(kLoan, "JK-0301-1");
  InsertLoan(kSubmittedLoan, "JK-0301-2");
  InsertLoan(kApprovedLoan, "JK-0301-3");
  Cn().Execute(
      "update EC_LoanVouch set blnAudi = 1, strAuditorID = 'Anna Approver' where GUID = '" +
      std::string(kApprovedLoan) + "'");
  ASSERT_TRUE(Call("CLoan", "<req><func name='submitaudit'><in><GUID>" +
                                std::string(kSubmittedLoan) + "</GUID><ts>" +
                                Of("EC_LoanVouch", "cast(ts as money)", kSubmittedLoan) +
                                "</ts></in></func></req>")
                  .SelectSingleNode("//error")
                  .IsNull());
  Cn().Execute(
      "insert into EC_ExpenVouch (GUID, strTypeCode, strVouchID, dtLoanDate, strDepartID, "
      "strLoanID, strBill, fltRate, dblMoney, dblOldMoney, strUsed, strPersonID, blnAudi) values "
      "('" +
      std::string(kClaim) + "', '201', 'ZC-0301-1', '" + year_ +
      "-03-06', '0301', '0004', '人民币', 1, 300, 300, 'hotel', 'Demo Admin', 0)");
  Cn().Execute("insert into EC_ExpenVouch_Sub (MGuid, strIOItem, dblMoney) values ('" +
               std::string(kClaim) + "', '203', 300)");
  Cn().Execute(
      "insert into EC_BalanceInfo (ExpenGUID, intIOType, strBalanceID, dblMoney) values ('" +
      std::string(kClaim) + "', 2, '1', 300)");

  const std::string loan_id = Of("EC_LoanVouch", "AutoID", kLoan);
  const std::string loan_ts = Of("EC_LoanVouch", "cast(ts as money)", kLoan);
  const std::string submitted_ts = Of("EC_LoanVouch", "cast(ts as money)", kSubmittedLoan);
  const std::string approved_source =
      "<row strtypecode='301' guid='" + std::string(kApprovedLoan) + "' ts='" +
      Of("EC_LoanVouch", "cast(ts as money)", kApprovedLoan) + "' strvouchid='JK-0301-3'/>";
  const std::string claim_id = Of("EC_ExpenVouch", "AutoID", kClaim);
  const std::string claim_ts = Of("EC_ExpenVouch", "cast(ts as money)", kClaim);
  const std::string line = Scalar("select GUID from EC_BalanceInfo");
  const std::string line_ts = Scalar("select cast(ts as money) from EC_BalanceInfo");
  const std::string loan_row = Scalar("select GUID from EC_LoanVouch_Sub where MGuid = '" +
                                      std::string(kSubmittedLoan) + "'");
  // A hostile page moves the voucher into its own department as it saves it.
  const std::string loan_head =
      "<z:row GUID='" + std::string(kLoan) + "' ts='" + loan_ts +
      "' strTypeCode='301' strVouchID='JK-0301-1' dtLoanDate='" + year_ +
      "-03-05' strDepartID='0201' strLoanID='0002' strBill='人民币' fltRate='1' dblMoney='800' "
      "dblOldMoney='800' strUsed='x'/>";
  const std::string claim_head =
      "<z:row GUID='" + std::string(kClaim) + "' ts='" + claim_ts +
      "' strTypeCode='201' strVouchID='ZC-0301-1' dtLoanDate='" + year_ +
      "-03-06' strDepartID='0201' strLoanID='0002' strBill='人民币' fltRate='1' dblMoney='300' "
      "dblOldMoney='300' strUsed='x'/>";
  auto row_in = [](const std::string& attr, const std::string& value) {
    return "<in><row " + attr + "='" + value + "'/></in>";
  };
  auto func = [](const std::string& name, const std::string& in) {
    return "<req><func name='" + name + "'>" + in + "</func></req>";
  };
  const std::string submitted_listed = "<row strGUID='" + std::string(kSubmittedLoan) + "' ts='" +
                                       submitted_ts + "' strType='EC03' strVouchID='JK-0301-2'/>";

  const std::vector<Route> routes = {
      {"loan by GUID", "CLoan", "clerk",
       func("getVouchByGUID", "<in><GUID>" + std::string(kLoan) + "</GUID></in>")},
      {"loan head", "CLoan", "clerk", func("vchgetloanheaddata", row_in("AutoID", loan_id))},
      {"loan history", "CLoan", "clerk",
       func("getVouchHistory", "<in><GUID>" + std::string(kSubmittedLoan) + "</GUID></in>")},
      {"loan rows", "CLoan", "clerk", func("vchgetloanbodydata", row_in("AutoID", loan_id))},
      {"loan save", "CLoan", "clerk",
       func("savevouch", "<in><xml><head blnBegin='0'>" + loan_head +
                             "</head><body><row strBalanceID='1' dblMoney='800'/></body></xml>"
                             "</in>")},
      {"loan delete", "CLoan", "clerk",
       func("delvouch", "<in><strAutoID>" + loan_id + "</strAutoID><ts>" + loan_ts +
                            "</ts><type>EC01</type></in>")},
      {"loan submit", "CLoan", "clerk",
       func("submitaudit",
            "<in><GUID>" + std::string(kLoan) + "</GUID><ts>" + loan_ts + "</ts></in>")},
      {"loan write-offs", "CLoan", "clerk", func("GetHXInfo", row_in("GUID", kLoan))},
      {"loan may change", "CLoan", "clerk",
       func("CheckModify", "<in><row GUID='" + std::string(kLoan) + "' flag='0'/></in>")},
      {"claim by GUID", "CExpense", "clerk",
       func("getVouchByGUID", "<in><GUID>" + std::string(kClaim) + "</GUID></in>")},
      {"claim head", "CExpense", "clerk", func("vchgetloanheaddata", row_in("AutoID", claim_id))},
      {"claim history", "CExpense", "clerk",
       func("getVouchHistory", "<in><GUID>" + std::string(kClaim) + "</GUID></in>")},
      {"claim rows", "CExpense", "clerk", func("vchgetloanbodydata", row_in("AutoID", claim_id))},
      {"claim save", "CExpense", "clerk",
       func("savevouch",
            "<in><xml><head>" + claim_head +
                "</head><body><row strIOItem='203' dblMoney='300'/></body></xml></in>")},
      {"claim delete", "CExpense", "clerk",
       func("delvouch", "<in><strAutoID>" + claim_id + "</strAutoID><ts>" + claim_ts +
                            "</ts><type>EC03</type></in>")},
      {"claim submit", "CExpense", "clerk",
       func("submitaudit",
            "<in><GUID>" + std::string(kClaim) + "</GUID><ts>" + claim_ts + "</ts></in>")},
      {"claim write-offs", "CExpense", "clerk",
       func("GetLoanInfo",
            "<in GUID='" + std::string(kClaim) + "' strBill='人民币' fltRate='1'/>")},
      {"claim write-off save", "CExpense", "clerk",
       func("SaveLoanInfo", "<in GUID='" + std::string(kClaim) + "' ts='" + claim_ts +
                                "' del='1' strBill='人民币' fltRate='1'/>")},
      {"claim payment lines", "CExpense", "clerk",
       func("GetExpenInfo", "<in GUID='" + std::string(kClaim) + "'/>")},
      {"claim payment save", "CExpense", "clerk",
       func("SaveExpenInfo", "<in GUID='" + std::string(kClaim) + "' ts='" + claim_ts +
                                 "'><rows><row P='2' GUID='" + line + "' ts='" + line_ts +
                                 "' intIOType='" + host::MessageText("Q7.Rembiz.0186") +
                                 "' strBalanceID='1' dblMoney='1'/></rows></in>")},
      {"public loan head", "CPubMsg", "clerk",
       func("vchgetloanheaddata", row_in("AutoID", loan_id))},
      {"public loan rows", "CPubMsg", "clerk",
       func("vchgetloanbodydata", row_in("AutoID", loan_id))},
      {"public claim head", "CPubMsg", "clerk",
       func("vchgetexpenheaddata", row_in("AutoID", claim_id))},
      {"public history", "CPubMsg", "clerk",
       func("vchgethistory", "<in><GUID>" + std::string(kClaim) + "</GUID></in>")},
      {"public claim rows", "CPubMsg", "clerk",
       func("vchgetExpenbodydata", row_in("AutoID", claim_id))},
      {"public claim write-offs", "CPubMsg", "approver",
       func("vchgetexpenloandata",
            "<in GUID='" + std::string(kClaim) + "' strBill='人民币' fltRate='1'/>")},
      {"withdraw submission", "CAudit", "clerk",
       func("DelAudit", "<in><GUID>" + std::string(kSubmittedLoan) + "</GUID><ts>" + submitted_ts +
                            "</ts><type>EC01</type></in>")},
      {"batch approval", "CAudit", "approver",
       func("CheckAudit", "<in flag='true'><v guid='" + std::string(kSubmittedLoan) + "' ts='" +
                              submitted_ts + "' strType='EC03' strVouchID='JK-0301-2'/></in>")},
      {"flow approval", "CAudit", "approver",
       func("AuditVouch",
            "<in><EASTdata><task EAAID='1' remark='ok'/></EASTdata><strGUID><Rows flag='1'>" +
                submitted_listed + "</Rows></strGUID></in>")},
      {"flow info", "CAudit", "approver",
       func("GetAuditInfo", "<in guid='" + std::string(kSubmittedLoan) + "' strType='EC03'/>")},
      {"flow records", "CAudit", "approver",
       func("GetAudiState",
            "<in><GUID>" + std::string(kSubmittedLoan) + "</GUID><strType>301</strType></in>")},
      {"online payment", "CNetPay", "approver",
       func("netpay", "<in><row strtypecode='301' guid='" + loan_row + "'/></in>")},
      {"cash payout", "CNetPay", "approver",
       func("cashpay", "<in><row strtypecode='301' guid='" + loan_row + "'/></in>")},
      {"ledger voucher", "CMakePZ", "finance",
       func("makepz", "<in con='1'><pztype>记</pztype><pzdate>" + year_ +
                          "-03-25</pzdate><blnTemp>1</blnTemp><rows>" + approved_source +
                          "</rows></in><daily>" + approved_source + "</daily>")},
  };

  auto state = [&] {
    return Dump("EC_LoanVouch") + Dump("EC_LoanVouch_Sub") + Dump("EC_ExpenVouch") +
           Dump("EC_ExpenVouch_Sub") + Dump("EC_BalanceInfo") + Dump("EC_ExpenLoanInfo") +
           Dump("Host_FlowInstance") + Dump("Host_FlowRecord");
  };
  std::vector<std::string> answers;
  for (const Route& route : routes) {
    const std::string before = state();
    answers.push_back(Call(route.class_name, route.request, As(route.user)).Xml());
    EXPECT_TRUE(state() == before) << route.name << " changed a voucher out of reach";
  }
  // An administrator reaches each of them: the answers are not not-found answers by chance.
  std::vector<std::string> admin;
  for (const Route& route : routes) {
    if (route.name.find("head") != std::string::npos ||
        route.name.find("history") != std::string::npos ||
        route.name.find("by GUID") != std::string::npos) {
      admin.push_back(Call(route.class_name, route.request).Xml());
    }
  }

  // The same requests once the vouchers are gone.
  for (const char* guid : {kLoan, kSubmittedLoan, kApprovedLoan}) {
    Cn().Execute("delete from EC_LoanVouch_Sub where MGuid = '" + std::string(guid) + "'");
    Cn().Execute("delete from EC_LoanVouch where GUID = '" + std::string(guid) + "'");
    Cn().Execute("delete from Host_FlowInstance where cVouchGUID = '" + std::string(guid) + "'");
  }
  Cn().Execute("delete from EC_BalanceInfo");
  Cn().Execute("delete from EC_ExpenVouch_Sub");
  Cn().Execute("delete from EC_ExpenVouch");
  size_t reads = 0;
  for (size_t i = 0; i < routes.size(); ++i) {
    const Route& route = routes[i];
    std::string gone = Call(route.class_name, route.request, As(route.user)).Xml();
    EXPECT_EQ(answers[i], gone) << route.name;
    if (route.name.find("head") != std::string::npos ||
        route.name.find("history") != std::string::npos ||
        route.name.find("by GUID") != std::string::npos) {
      EXPECT_NE(admin[reads++], gone) << route.name << " as an administrator";
    }
  }
}

// A voucher the operator saves must stay within the operator's permissions: a new voucher of
// another department is refused, and so is moving one's own voucher there.
TEST_F(VoucherScopeTest, SavesKeepVouchersWithinThePermissions) {
  auto save = [&](const std::string& class_name, const std::string& department,
                  const std::string& key = "") {
    std::string head = "<z:row" + key + " strTypeCode='" + (class_name == "CLoan" ? "301" : "201") +
                       "' strVouchID='V-1' dtLoanDate='" + year_ + "-03-05' strDepartID='" +
                       department +
                       "' strLoanID='0002' strBill='人民币' fltRate='1' dblMoney='100' "
                       "dblOldMoney='100' strUsed='x'/>";
    std::string body = class_name == "CLoan" ? "<row strBalanceID='1' dblMoney='100'/>"
                                             : "<row strIOItem='203' dblMoney='100'/>";
    return Call(class_name,
                "<req><func name='savevouch'><in><xml><head blnBegin='0'>" + head +
                    "</head><body>" + body + "</body></xml></in></func></req>",
                As("clerk"));
  };
  auto error = [](const xml::Document& doc) {
    xml::Node text = doc.SelectSingleNode("//error/text");
    return text ? text.Text() : std::string();
  };
  const std::string refused = host::MessageText("Rembiz.Voucher.OutsidePermissions");
  for (const std::string class_name : {"CLoan", "CExpense"}) {
    const std::string table = class_name == "CLoan" ? "EC_LoanVouch" : "EC_ExpenVouch";
    const std::string before = Dump(table) + Dump(table + "_Sub");
    EXPECT_EQ(error(save(class_name, "0301")), refused) << class_name;
    EXPECT_EQ(Dump(table) + Dump(table + "_Sub"), before) << class_name;

    ASSERT_EQ(error(save(class_name, "0201")), "") << class_name;
    std::string guid = Scalar("select GUID from " + table);
    std::string mine = Dump(table) + Dump(table + "_Sub");
    EXPECT_EQ(error(save(class_name, "0301",
                         " GUID='" + guid + "' ts='" + Of(table, "cast(ts as money)", guid) + "'")),
              refused)
        << class_name;
    EXPECT_EQ(Dump(table) + Dump(table + "_Sub"), mine) << class_name;
  }
}

}  // namespace
}  // namespace rembiz::voucher
