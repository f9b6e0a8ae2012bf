// Source vouchers and requests for the ledger voucher tests on the demo company. Vouchers are
// written straight into the tables (approved, and claims verified, unless a test says not), so
// each test states exactly the amounts its expected lines come from.
#pragma once

#include <string>
#include <vector>

#include "host/messages.h"
#include "support/demo_fixture.h"
#include "support/golden.h"

namespace rembiz::ledger {

inline constexpr const char* kApprover = "Anna Approver";

class LedgerTest : public testing::DemoTest {
 protected:
  std::string Year() { return Session().FiscalYear(); }
  std::string Day(const std::string& month_day) { return Year() + "-" + month_day; }

  static std::string Q(const std::string& text) { return text.empty() ? "null" : "'" + text + "'"; }

  void InsertLoan(const std::string& guid, const std::string& number, const std::string& type,
                  const std::string& currency, double rate, const std::string& person,
                  const std::string& department, const std::string& used,
                  const std::string& auditor = kApprover) {
    Cn().Execute(
        "insert into EC_LoanVouch (GUID, strTypeCode, strVouchID, dtLoanDate, "
        "strDepartID, strLoanID, strBill, fltRate, strUsed, strPersonID, blnAudi, "
        "strAuditorID) values (" +
        Q(guid) + ", " + Q(type) + ", " + Q(number) + ", " + Q(Day("03-05")) + ", " +
        Q(department) + ", " + Q(person) + ", " + Q(currency) + ", " + std::to_string(rate) + ", " +
        Q(used) + ", 'Demo Admin', 1, " + Q(auditor) + ")");
  }
  void InsertLoanRow(const std::string& guid, const std::string& loan, const std::string& style,
                     double money, const std::string& bill = "", const std::string& bank = "") {
    Cn().Execute(
        "insert into EC_LoanVouch_Sub (GUID, MGuid, strBalanceID, dblMoney, strBillID, "
        "strPayBankID) values (" +
        Q(guid) + ", " + Q(loan) + ", " + Q(style) + ", " + std::to_string(money) + ", " + Q(bill) +
        ", " + Q(bank) + ")");
    Cn().Execute(
        "update EC_LoanVouch set dblMoney = (select sum(dblMoney) from EC_LoanVouch_Sub "
        "where MGuid = " +
        Q(loan) + ") where GUID = " + Q(loan));
  }

  void InsertClaim(const std::string& guid, const std::string& number, const std::string& type,
                   const std::string& currency, double rate, double money, double old_money,
                   const std::string& person, const std::string& department,
                   const std::string& used, const std::string& item_class = "",
                   const std::string& item = "", const std::string& auditor = kApprover,
                   const std::string& verifier = kApprover) {
    Cn().Execute(
        "insert into EC_ExpenVouch (GUID, strTypeCode, strVouchID, dtLoanDate, strDepartID, "
        "strLoanID, strItemClassID, strItemID, strBill, fltRate, dblMoney, dblOldMoney, strUsed, "
        "strPersonID, blnAudi, strAuditorID, strVerifier) values (" +
        Q(guid) + ", " + Q(type) + ", " + Q(number) + ", " + Q(Day("03-20")) + ", " +
        Q(department) + ", " + Q(person) + ", " + Q(item_class) + ", " + Q(item) + ", " +
        Q(currency) + ", " + std::to_string(rate) + ", " + std::to_string(money) + ", " +
        std::to_string(old_money) + ", " + Q(used) + ", 'Demo Admin', 1, " + Q(auditor) + ", " +
        Q(verifier) + ")");
  }
  // A claim row; without `with_local` it has no local amount, as pages may leave it out.
  void InsertClaimRow(const std::string& claim, const std::string& item, double money,
                      double old_money, double number = 1, bool with_local = true) {
    Cn().Execute(
        "insert into EC_ExpenVouch_Sub (MGuid, strIOItem, dblMoney, dblOldMoney, "
        "dblNumber) values (" +
        Q(claim) + ", " + Q(item) + ", " + std::to_string(money) + ", " +
        (with_local ? std::to_string(old_money) : "null") + ", " + std::to_string(number) + ")");
  }
  void InsertSettlement(const std::string& guid, const std::string& claim, int io_type,
                        const std::string& style, double money, const std::string& bank = "",
                        const std::string& bill = "") {
    Cn().Execute(
        "insert into EC_BalanceInfo (GUID, ExpenGUID, intIOType, strBalanceID, "
        "dblMoney, strPayBankID, strBillID) values (" +
        Q(guid) + ", " + Q(claim) + ", " + std::to_string(io_type) + ", " + Q(style) + ", " +
        std::to_string(money) + ", " + Q(bank) + ", " + Q(bill) + ")");
  }
  void InsertWriteOff(const std::string& claim, const std::string& loan_row, double amount) {
    Cn().Execute("insert into EC_ExpenLoanInfo (LoanSubguid, Expenguid, dblJE, blnUsed) values (" +
                 Q(loan_row) + ", " + Q(claim) + ", " + std::to_string(amount) + ", 0)");
  }

  std::string Ts(const std::string& table, const std::string& guid) {
    return Scalar("select cast(ts as money) from " + table + " where GUID = '" + guid + "'");
  }
  std::string Column(const std::string& table, const std::string& column, const std::string& guid) {
    return Scalar("select " + column + " from " + table + " where GUID = '" + guid + "'");
  }

  // One source voucher of a "makepz" or "daily" list.
  std::string Source(const std::string& type, const std::string& guid) {
    std::string table = type[0] == '3' ? "EC_LoanVouch" : "EC_ExpenVouch";
    return "<row strtypecode='" + type + "' guid='" + guid + "' ts='" + Ts(table, guid) +
           "' strvouchid='" + Column(table, "strVouchID", guid) + "'/>";
  }

  // "makepz" in the page's shape (pztype, pzdate, blnTemp, rows), followed by `more` funcs. A
  // final voucher also lists the sources under `daily`.
  xml::Document MakePZ(const std::string& sources, const std::string& in_attributes = "",
                       bool final_voucher = false, const std::string& more = "") {
    std::string request = "<req><func name='makepz'><in" + in_attributes + "><pztype>记</pztype>" +
                          "<pzdate>" + Day("03-25") + "</pzdate><blnTemp>" +
                          (final_voucher ? "0" : "1") + "</blnTemp><rows>" + sources +
                          "</rows></in>" + (final_voucher ? "<daily>" + sources + "</daily>" : "") +
                          "</func>" + more + "</req>";
    return Call("CMakePZ", request);
  }
  static std::string StagedLinesFunc() {
    return "<func name='getpzdata'><in><blnTemp>1</blnTemp></in></func>";
  }

  // The lines of a getpzdata answer as a table of the columns a reader checks; the total of
  // each side closes it.
  static std::string LineTable(const xml::Document& doc, const std::vector<std::string>& columns) {
    std::string out;
    for (size_t i = 0; i < columns.size(); ++i) out += (i ? "|" : "") + columns[i];
    out += "\n";
    double md = 0, mc = 0;
    for (const xml::Node& row : doc.SelectNodes("//func/out/Rows/row")) {
      for (size_t i = 0; i < columns.size(); ++i) out += (i ? "|" : "") + row.Attr(columns[i]);
      out += "\n";
      md += std::stod("0" + row.Attr("md"));
      mc += std::stod("0" + row.Attr("mc"));
    }
    char total[96];
    std::snprintf(total, sizeof total, "total|md=%.2f|mc=%.2f\n", md, mc);
    return out + total;
  }
  static std::vector<std::string> StagedColumns() {
    return {"inid",        "ccode",          "ccodename",  "md",         "md_f",
            "mc",          "mc_f",           "nd_s",       "nc_s",       "cexch_name",
            "nfrat",       "cdept_id",       "cdept_name", "cperson_id", "cperson_name",
            "citem_class", "citemclassname", "citem_id",   "citem_name", "csettle",
            "cssname",     "cn_id",          "cdigest",    "strTypeCode"};
  }

  static std::string ErrorText(const xml::Document& doc) {
    xml::Node text = doc.SelectSingleNode("//out/error/text");
    return text ? text.Text() : doc.SelectSingleNode("/error/text").Text();
  }
  static std::string Text(const std::string& key, const std::string& p1 = "",
                          const std::string& p2 = "", const std::string& p3 = "") {
    return host::MessageText(key, "", p1, p2, p3);
  }

  // Every table a generation, a save or a cancellation may touch, as text.
  std::string DumpAll() {
    std::string out;
    for (const char* table : {"EC_LoanVouch", "EC_LoanVouch_Sub", "EC_ExpenVouch", "EC_BalanceInfo",
                              "GL_accvouch", "gl_mvocontrol", "Host_BankBill", "Host_Cheque"}) {
      out += std::string("== ") + table + "\n" + Dump(table);
    }
    return out;
  }
};

}  // namespace rembiz::ledger
