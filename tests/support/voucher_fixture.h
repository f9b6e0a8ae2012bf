// What the loan and claim tests share: vouchers written as the pages send them (a head row of
// attributes, body rows), the fiscal year's dates, the submit-on-save option and the texts of
// refusals. Each subsystem's fixture adds its own voucher defaults and stored vouchers.
#pragma once

#include <map>
#include <string>

#include "host/messages.h"
#include "support/demo_fixture.h"

namespace rembiz::testing {

using Attrs = std::map<std::string, std::string>;

class VoucherTest : public DemoTest {
 protected:
  std::string Year() { return Session().FiscalYear(); }
  std::string Date(const std::string& month_day) { return Year() + "-" + month_day; }

  // A head row: `defaults` with `changes` applied ("" removes an attribute).
  static std::string HeadRow(Attrs defaults, const Attrs& changes) {
    for (const auto& [name, value] : changes) {
      if (value.empty()) {
        defaults.erase(name);
      } else {
        defaults[name] = value;
      }
    }
    std::string out = "<z:row";
    for (const auto& [name, value] : defaults) out += " " + name + "='" + value + "'";
    return out + "/>";
  }

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

  // The account option that submits a voucher to its flow as it is saved.
  void SetSubmitOnSave(bool on) {
    Cn().Execute(std::string("update accinformation set cValue = '") + (on ? "true" : "false") +
                 "' where cSysID = 'EC' and cID = '105'");
  }

  // The text of a refusal of the whole request.
  static std::string ErrorText(const xml::Document& doc) {
    return doc.SelectSingleNode("/error/text").Text();
  }
  // A message text in the default language.
  static std::string Text(const std::string& key, const std::string& p1 = "",
                          const std::string& p2 = "") {
    return host::MessageText(key, "", p1, p2);
  }
};

}  // namespace rembiz::testing
