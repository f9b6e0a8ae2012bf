// Requests and stored vouchers for the claim tests, on the demo company: claimant 0002 has
// grade 02; the hotel item 20101 is hard-controlled (450 a night in a grade-01 place such as
// 0101), entertainment 202 only warns (1000 for grade 02, departments 01/0301/0302), and
// transport 20102 grades by receipt bracket.
#pragma once

#include <string>

#include "support/voucher_fixture.h"

namespace rembiz::expense {

using testing::Attrs;

class ExpenseTest : public testing::VoucherTest {
 protected:
  // An expenditure claim head for claimant 0002 with `changes` applied ("" removes one).
  std::string Head(const Attrs& changes = {}) {
    return HeadRow({{"strTypeCode", "201"},
                    {"strVouchID", "BX0001"},
                    {"dtLoanDate", Date("03-05T00:00:00")},
                    {"strDepartID", "0201"},
                    {"strLoanID", "0002"},
                    {"strBill", "人民币"},
                    {"fltRate", "1"},
                    {"dblMoney", "1"},
                    {"dblOldMoney", "777"},
                    {"strUsed", "出差"},
                    {"strPersonID", "Demo Admin"}},
                   changes);
  }

  // Two nights in Beijing within the standard and an office expense: 900 + 100.
  static std::string Rows() {
    return "<row strIOItem='20101' strEZero='0101' dblNumber='2' dblVouch='900' dblMoney='900'/>"
           "<row strIOItem='203' dblMoney='100' strMemo='纸张'/>";
  }

  static std::string SaveFunc(const std::string& head, const std::string& rows = Rows()) {
    return "<func name='savevouch'><in><xml><head>" + head + "</head><body>" + rows +
           "</body></xml></in></func>";
  }

  xml::Document Save(const std::string& head, const std::string& rows = Rows()) {
    return Call("CExpense", "<req>" + SaveFunc(head, rows) + "</req>");
  }

  std::string Column(const std::string& column, const std::string& number,
                     const std::string& family = "2") {
    return Scalar("select " + column + " from EC_ExpenVouch where strVouchID = '" + number +
                  "' and strTypeCode like '" + family + "%'");
  }
  std::string Ts(const std::string& guid, const std::string& table = "EC_ExpenVouch") {
    return Scalar("select cast(ts as money) from " + table + " where GUID = '" + guid + "'");
  }

  // An approved loan of one row for claimant 0002; returns the row's GUID.
  std::string InsertApprovedLoan(const std::string& number, double money) {
    InsertLoan(number, "0002", Date("02-01"), money, 1, "x");
    return Scalar(
        "select s.GUID from EC_LoanVouch_Sub s join EC_LoanVouch v on v.GUID = s.MGuid where "
        "v.strVouchID = '" +
        number + "'");
  }

  void Approve(const std::string& guid) {
    Cn().Execute("update EC_ExpenVouch set blnAudi = 1, strAuditorID = 'approver' where GUID = '" +
                 guid + "'");
  }

  // Every table a claim write touches, to prove that a refused write changed nothing.
  std::string State() {
    return Dump("EC_ExpenVouch") + Dump("EC_ExpenVouch_Sub") + Dump("EC_ExpenLoanInfo") +
           Dump("EC_BalanceInfo") + Dump("EC_LoanVouch") + Dump("EC_LoanVouch_Sub") +
           Dump("Host_FlowInstance");
  }

  // The error a procedure wrote under its own `out`.
  static std::string OutError(const xml::Document& doc, const std::string& func) {
    return doc.SelectSingleNode("//func[@name='" + func + "']/out/error/text").Text();
  }
  // No error anywhere: neither the whole document nor an operation's answer.
  static bool NoError(const xml::Document& doc) { return doc.SelectSingleNode("//error").IsNull(); }
};

}  // namespace rembiz::expense
