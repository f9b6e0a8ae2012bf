// Requests and stored vouchers for the loan tests, on the demo company: borrower 0002 has no
// limits, 0004 enforced limits (30 days, 2 loans, 5000), 0005 limits that only warn (3 loans,
// 3000), 0007 no settings row.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "host/messages.h"
#include "support/demo_fixture.h"

namespace rembiz::loan {

using Attrs = std::map<std::string, std::string>;

class LoanTest : public testing::DemoTest {
 protected:
  std::string Year() { return Session().FiscalYear(); }
  std::string Date(const std::string& month_day) { return Year() + "-" + month_day; }

  // A loan head of 800 for borrower 0002 with `changes` applied ("" removes an attribute).
  std::string Head(const Attrs& changes = {}) {
    Attrs attrs = {{"strTypeCode", "301"},
                   {"strVouchID", "JK" + Year() + "030001"},
                   {"dtLoanDate", Date("03-05T00:00:00")},
                   {"strDepartID", "0201"},
                   {"strLoanID", "0002"},
                   {"strBill", "人民币"},
                   {"fltRate", "1"},
                   {"dblMoney", "800"},
                   {"dblOldMoney", "800"},
                   {"strUsed", "出差"},
                   {"strPersonID", "Demo Admin"}};
    for (const auto& [name, value] : changes) {
      if (value.empty()) {
        attrs.erase(name);
      } else {
        attrs[name] = value;
      }
    }
    std::string out = "<z:row";
    for (const auto& [name, value] : attrs) out += " " + name + "='" + value + "'";
    return out + "/>";
  }

  // A cash row of 500 and a cheque row with an advance of 300.
  static std::string Rows() {
    return "<row strBalanceID='1' dblMoney='500'/>"
           "<row strBalanceID='2' dblPreMoney='300' strBillID='ZP001' strPayBankID='01'/>";
  }

  static std::string SaveFunc(const std::string& head, const std::string& rows = Rows(),
                              const std::string& begin = "0") {
    return "<func name='savevouch'><in><xml><head blnBegin='" + begin + "'>" + head +
           "</head><body>" + rows + "</body></xml></in></func>";
  }

  xml::Document Save(const std::string& head, const std::string& rows = Rows(),
                     const std::string& begin = "0") {
    return Call("CLoan", "<req>" + SaveFunc(head, rows, begin) + "</req>");
  }

  std::string Column(const std::string& column, const std::string& number) {
    return Scalar("select " + column + " from EC_LoanVouch where strVouchID = '" + number + "'");
  }
  std::string Ts(const std::string& number) { return Column("cast(ts as money)", number); }

  // A loan stored directly: number, borrower, date, amount in home currency, state.
  void InsertLoan(const std::string& number, const std::string& borrower, const std::string& date,
                  double money = 100, int audited = 0, const std::string& auditor = "",
                  int begin = 0, int settled = 0, const std::string& department = "0201") {
    Cn().Execute(
        "insert into EC_LoanVouch (strTypeCode, strVouchID, dtLoanDate, strDepartID, strLoanID, "
        "strBill, fltRate, dblMoney, dblOldMoney, strUsed, strPersonID, blnAudi, strAuditorID, "
        "blnBegin, blnSettle) values ('301', '" +
        number + "', '" + date + "', '" + department + "', '" + borrower + "', '人民币', 1, " +
        std::to_string(money) + ", " + std::to_string(money) + ", 'trip', 'Demo Admin', " +
        std::to_string(audited) + ", " + (auditor.empty() ? "null" : "'" + auditor + "'") + ", " +
        std::to_string(begin) + ", " + std::to_string(settled) + ")");
    Cn().Execute(
        "insert into EC_LoanVouch_Sub (MGuid, strBalanceID, dblMoney) select GUID, '1', "
        "dblMoney from EC_LoanVouch where strVouchID = '" +
        number + "'");
  }

  void SetSubmitOnSave(bool on) {
    Cn().Execute(std::string("update accinformation set cValue = '") + (on ? "true" : "false") +
                 "' where cSysID = 'EC' and cID = '105'");
  }

  // The loan, row and flow tables, to prove that a refused write changed nothing.
  std::string State() {
    return Dump("EC_LoanVouch") + Dump("EC_LoanVouch_Sub") + Dump("Host_FlowInstance");
  }

  static std::string ErrorText(const xml::Document& doc) {
    return doc.SelectSingleNode("/error/text").Text();
  }
  static std::string Text(const std::string& key, const std::string& p1 = "",
                          const std::string& p2 = "") {
    return host::MessageText(key, "", p1, p2);
  }
};

}  // namespace rembiz::loan
