// Requests and stored vouchers for the loan tests, on the demo company: borrower 0002 has no
// limits, 0004 enforced limits (30 days, 2 loans, 5000), 0005 limits that only warn (3 loans,
// 3000), 0007 no settings row.
#pragma once

#include <string>

#include "support/voucher_fixture.h"

namespace rembiz::loan {

using testing::Attrs;

class LoanTest : public testing::VoucherTest {
 protected:
  // A loan head of 800 for borrower 0002 with `changes` applied ("" removes an attribute).
  std::string Head(const Attrs& changes = {}) {
    return HeadRow({{"strTypeCode", "301"},
                    {"strVouchID", "JK" + Year() + "030001"},
                    {"dtLoanDate", Date("03-05T00:00:00")},
                    {"strDepartID", "0201"},
                    {"strLoanID", "0002"},
                    {"strBill", "人民币"},
                    {"fltRate", "1"},
                    {"dblMoney", "800"},
                    {"dblOldMoney", "800"},
                    {"strUsed", "出差"},
                    {"strPersonID", "Demo Admin"}},
                   changes);
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

  // The loan, row and flow tables, to prove that a refused write changed nothing.
  std::string State() {
    return Dump("EC_LoanVouch") + Dump("EC_LoanVouch_Sub") + Dump("Host_FlowInstance");
  }
};

}  // namespace rembiz::loan
