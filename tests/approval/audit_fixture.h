// Vouchers and requests for the approval tests on the demo company: loans (card "45") pass one
// step by `approver`; claims pass `demo` first and `approver` second. Claims are budget-controlled
// in the demo (travel item "01" by department: 0201 50000, 0202 30000, hard control).
#pragma once

#include <string>

#include "host/messages.h"
#include "support/demo_fixture.h"
#include "voucher/submission.h"

namespace rembiz::approval {

class AuditTest : public testing::DemoTest {
 protected:
  std::string Year() { return Session().FiscalYear(); }

  // A loan of 800 for borrower 0002: a cash row of 500 and, when `cheque` is given, a cheque
  // row (settlement "2", bank "01") paying an advance of 300 at approval.
  void InsertLoan(const std::string& guid, const std::string& number, int submitted = 1,
                  const std::string& cheque = "", const std::string& auditor = "") {
    Cn().Execute(
        "insert into EC_LoanVouch (GUID, strTypeCode, strVouchID, dtLoanDate, strDepartID, "
        "strLoanID, strBill, fltRate, dblMoney, dblOldMoney, strUsed, strPersonID, blnAudi, "
        "strAuditorID) values ('" +
        guid + "', '301', '" + number + "', '" + Year() +
        "-03-05', '0201', '0002', '人民币', 1, 800, 800, 'trip', 'Demo Admin', " +
        std::to_string(submitted) + ", " + (auditor.empty() ? "null" : "'" + auditor + "'") + ")");
    Cn().Execute("insert into EC_LoanVouch_Sub (MGuid, strBalanceID, dblMoney) values ('" + guid +
                 "', '1', 500)");
    if (!cheque.empty()) {
      Cn().Execute(
          "insert into EC_LoanVouch_Sub (MGuid, strBalanceID, dblMoney, dblPreMoney, strBillID, "
          "strPayBankID, strBankAcc) values ('" +
          guid + "', '2', 300, 300, '" + cheque + "', '01', '6222020200001111')");
    }
  }

  // An expenditure claim (type 201) of `money` with the travel budget item and the department
  // as its dimension value.
  void InsertClaim(const std::string& guid, const std::string& number, double money,
                   const std::string& department, const std::string& port_value,
                   const std::string& auditor = "", const std::string& verifier = "") {
    Cn().Execute(
        "insert into EC_ExpenVouch (GUID, strTypeCode, strVouchID, dtLoanDate, strDepartID, "
        "strLoanID, strBudItemID, strPort1, strPort1Value, strBill, fltRate, dblMoney, "
        "dblOldMoney, strUsed, strPersonID, blnAudi, strAuditorID, strVerifier) values ('" +
        guid + "', '201', '" + number + "', '" + Year() + "-03-06', '" + department +
        "', '0002', '01', 'department', '" + port_value + "', '人民币', 1, " +
        std::to_string(money) + ", " + std::to_string(money) + ", 'hotel', 'Demo Admin', " +
        (auditor.empty() ? "0, null" : "1, '" + auditor + "'") + ", " +
        (verifier.empty() ? "null" : "'" + verifier + "'") + ")");
  }

  std::string Ts(const std::string& table, const std::string& guid) {
    return Scalar("select cast(ts as money) from " + table + " where GUID = '" + guid + "'");
  }
  std::string Column(const std::string& table, const std::string& column, const std::string& guid) {
    return Scalar("select " + column + " from " + table + " where GUID = '" + guid + "'");
  }

  // Submits a stored claim the way its entry page does.
  void SubmitClaim(const std::string& guid) {
    xml::Document request;
    ASSERT_TRUE(request.LoadXml("<func name='submitaudit'><in><GUID>" + guid + "</GUID><ts>" +
                                Ts("EC_ExpenVouch", guid) + "</ts></in></func>"));
    xml::Node func = request.DocumentElement();
    xml::Document answer;
    voucher::SubmitAudit(Session(), Cn(), func, answer, "EC_ExpenVouch");
  }

  // One voucher of a CheckAudit list.
  std::string Listed(const std::string& table, const std::string& guid, const std::string& type,
                     const std::string& ts = "") {
    return "<v guid='" + guid + "' ts='" + (ts.empty() ? Ts(table, guid) : ts) + "' strType='" +
           type + "' strVouchID='" + Column(table, "strVouchID", guid) + "'/>";
  }
  xml::Document CheckAudit(bool approve, const std::string& vouchers, host::Session* session) {
    return Call("CAudit",
                std::string("<req><func name='CheckAudit'><in flag='") +
                    (approve ? "true" : "false") + "'>" + vouchers + "</in></func></req>",
                session);
  }

  // One approver action from the flow on one voucher.
  xml::Document AuditVouch(const std::string& table, const std::string& guid,
                           const std::string& type, bool approve, host::Session* session,
                           const std::string& action = "1") {
    return Call("CAudit",
                "<req><func name='AuditVouch'><in><EASTdata><task EAAID='" + action +
                    "' remark='ok'/></EASTdata><strGUID><Rows flag='" + (approve ? "1" : "0") +
                    "'><row strGUID='" + guid + "' ts='" + Ts(table, guid) + "' strType='" + type +
                    "' strVouchID='" + Column(table, "strVouchID", guid) +
                    "'/></Rows></strGUID></in></func></req>",
                session);
  }

  static std::string ErrorText(const xml::Document& doc) {
    return doc.SelectSingleNode("/error/text").Text();
  }
  static std::string Text(const std::string& key, const std::string& p1 = "",
                          const std::string& p2 = "") {
    return host::MessageText(key, "", p1, p2);
  }
};

}  // namespace rembiz::approval
