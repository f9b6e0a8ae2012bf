// Vouchers for the list and report tests, on the demo company with its voucher tables emptied:
// a small catalog of loans and claims in every state the lists tell apart, ledger vouchers
// generated from two of them, and a generator of many varied vouchers for the reconciliation
// of the reports.
#pragma once

#include <cstdint>
#include <cstdio>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "host/messages.h"
#include "support/demo_fixture.h"
#include "support/golden.h"

namespace rembiz::reports {

struct Voucher {
  std::string guid;
  std::string number;
  std::string type;  // operation type: 301/302 loans, 101/201/202 claims
  std::string date;  // "MM-DD" of the fiscal year
  std::string department;
  std::string person;
  double money = 0;  // in the voucher's currency
  std::string currency = "人民币";
  double rate = 1;      // local amount = money × rate
  double returned = 0;  // loans: repaid
  int submitted = 0;
  std::string auditor;
  std::string verifier;  // claims
  std::string maker;
  std::string pzguid;
  int begin = 0;  // loans carried over
  std::string item_class;
  std::string item;
  std::string budget_item;
  std::string exp_date;  // loans: "MM-DD" due

  bool IsLoan() const { return type.rfind('3', 0) == 0; }
};

inline Voucher MakeVoucher(std::string guid, std::string number, std::string type, std::string date,
                           std::string department, std::string person, double money) {
  Voucher v;
  v.guid = std::move(guid);
  v.number = std::move(number);
  v.type = std::move(type);
  v.date = std::move(date);
  v.department = std::move(department);
  v.person = std::move(person);
  v.money = money;
  return v;
}

class ReportTest : public testing::DemoTest {
 protected:
  void SetUp() override {
    DemoTest::SetUp();
    // A clean slate: only the vouchers a test adds.
    for (const char* table :
         {"EC_LoanVouch", "EC_LoanVouch_Sub", "EC_ExpenVouch", "EC_ExpenVouch_Sub",
          "EC_BalanceInfo", "EC_ExpenLoanInfo", "GL_accvouch", "Host_FlowInstance"}) {
      // TRUNCATE also starts the table's IDENTITY over.
      Cn().Execute(std::string("truncate table ") + table);
    }
  }

  std::string Year() { return Session().FiscalYear(); }
  std::string Date(const std::string& month_day) { return Year() + "-" + month_day; }

  static std::string Text(const std::string& value) {
    return value.empty() ? "null" : "'" + value + "'";
  }
  // The GUID of a voucher's row or line: the head's with another variant digit.
  static std::string RowGuid(const std::string& head, char digit) {
    std::string guid = head;
    if (guid.size() > 21) guid[21] = digit;
    return guid;
  }
  static std::string Number(double value) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.2f", value);
    return buffer;
  }

  // The head and one row: a loan's cash payment row of the whole amount, a claim's hotel row.
  // A voucher without a GUID gets one.
  void Add(Voucher v) {
    if (v.guid.empty()) {
      char guid[48];
      std::snprintf(guid, sizeof guid, "{00000000-0000-4000-9000-%012d}", ++generated_);
      v.guid = guid;
    }
    std::string common =
        "GUID, strTypeCode, strVouchID, dtLoanDate, strDepartID, strLoanID, strItemClassID, "
        "strItemID, strBudItemID, strBill, fltRate, dblMoney, dblOldMoney, strUsed, strPersonID, "
        "blnAudi, strAuditorID, strMakerID, PZGUID";
    std::string values = Text(v.guid) + ", " + Text(v.type) + ", " + Text(v.number) + ", " +
                         Text(Date(v.date)) + ", " + Text(v.department) + ", " + Text(v.person) +
                         ", " + Text(v.item_class) + ", " + Text(v.item) + ", " +
                         Text(v.budget_item) + ", " + Text(v.currency) + ", " + Number(v.rate) +
                         ", " + Number(v.money) + ", " + Number(v.money * v.rate) +
                         ", 'purpose', 'Demo Admin', " + std::to_string(v.submitted) + ", " +
                         Text(v.auditor) + ", " + Text(v.maker) + ", " + Text(v.pzguid);
    if (v.IsLoan()) {
      Cn().Execute("insert into EC_LoanVouch (" + common +
                   ", dblReturn, blnBegin, dtExpDate) values (" + values + ", " +
                   Number(v.returned) + ", " + std::to_string(v.begin) + ", " +
                   (v.exp_date.empty() ? "null" : Text(Date(v.exp_date))) + ")");
      Cn().Execute(
          "insert into EC_LoanVouch_Sub (GUID, MGuid, strBalanceID, dblMoney, dblReturn, "
          "blnSettle) values (" +
          Text(RowGuid(v.guid, '1')) + ", " + Text(v.guid) + ", '1', " + Number(v.money) + ", " +
          Number(v.returned) + ", " + (v.returned >= v.money ? "1" : "0") + ")");
    } else {
      Cn().Execute("insert into EC_ExpenVouch (" + common + ", strVerifier) values (" + values +
                   ", " + Text(v.verifier) + ")");
      Cn().Execute(
          "insert into EC_ExpenVouch_Sub (GUID, MGuid, strIOItem, strEZero, strJTTools, dblNumber, "
          "dblMoney, dblOldMoney) values (" +
          Text(RowGuid(v.guid, '2')) + ", " + Text(v.guid) + ", '20101', '0102', '02', 1, " +
          Number(v.money) + ", " + Number(v.money * v.rate) + ")");
    }
  }

  // A payment line paid through the bank: a loan's row gets the receiving bank; a claim gets a
  // settlement line. `pay_id` empty: not sent yet.
  void AddBankPayment(const Voucher& v, const std::string& pay_id, int confirmed) {
    if (v.IsLoan()) {
      Cn().Execute(
          "update EC_LoanVouch_Sub set strPayBankID = '01', strBankName = '工商银行', "
          "strBankAcc = '6222000011112222', strPayID = " +
          Text(pay_id) + ", blnNetOK = " + std::to_string(confirmed) +
          " where MGuid = " + Text(v.guid));
    } else {
      Cn().Execute(
          "insert into EC_BalanceInfo (GUID, ExpenGUID, intIOType, strBalanceID, dblMoney, "
          "strPayBankID, strRecBank, strRecAcc, strPayID, blnNetOK) values (" +
          Text(RowGuid(v.guid, '3')) + ", " + Text(v.guid) + ", 2, '301', " + Number(v.money) +
          ", '01', '建设银行', "
          "'6227000033334444', " +
          Text(pay_id) + ", " + std::to_string(confirmed) + ")");
    }
  }

  // A ledger voucher of two lines generated from a voucher (system "ec").
  void AddLedgerVoucher(const Voucher& v, int period, int number, int flag = 0, int posted = 0) {
    for (int side = 0; side < 2; ++side) {
      Cn().Execute(
          "insert into GL_accvouch (iyear, iperiod, csign, isignseq, ino_id, inid, dbill_date, "
          "cbill, ibook, iflag, cdigest, ccode, md, mc, coutsysname, ioutyear, coutno_id, "
          "doutdate, coutid) values (" +
          Year() + ", " + std::to_string(period) + ", '记', 1, " + std::to_string(number) + ", " +
          std::to_string(side + 1) + ", " + Text(Date(v.date)) + ", 'Demo Admin', " +
          std::to_string(posted) + ", " + (flag ? std::to_string(flag) : "null") +
          ", 'purpose', '1001', " +
          (side == 0 ? Number(v.money * v.rate) + ", 0" : "0, " + Number(v.money * v.rate)) +
          ", 'ec', " + Year() + ", " + Text(v.pzguid) + ", " + Text(Date(v.date)) + ", " +
          Text(v.guid) + ")");
    }
  }

  // The catalog: loans and claims in the states the lists tell apart.
  std::vector<Voucher> Catalog() {
    std::vector<Voucher> c(8);
    c[0] = MakeVoucher("{00000000-0000-4000-8000-0000000000A1}", "JK0001", "301", "01-10", "0201",
                       "0002", 1000);
    c[0].submitted = 1, c[0].auditor = "Anna Approver", c[0].item_class = "00", c[0].item = "001",
    c[0].budget_item = "01", c[0].maker = "Demo Admin", c[0].pzguid = "PZ-L1",
    c[0].exp_date = "02-10";
    c[1] = MakeVoucher("{00000000-0000-4000-8000-0000000000A2}", "JK0002", "302", "02-20", "0202",
                       "0003", 100);
    c[1].currency = "美元", c[1].rate = 7, c[1].returned = 40, c[1].submitted = 1;
    c[2] = MakeVoucher("{00000000-0000-4000-8000-0000000000A3}", "JK0003", "301", "03-15", "0301",
                       "0004", 500);
    c[2].returned = 500, c[2].submitted = 1, c[2].auditor = "Anna Approver";
    c[3] = MakeVoucher("{00000000-0000-4000-8000-0000000000A4}", "JK0004", "301", "01-05", "0201",
                       "0002", 200);
    c[3].begin = 1, c[3].submitted = 1, c[3].auditor = "Anna Approver";
    c[4] = MakeVoucher("{00000000-0000-4000-8000-0000000000A5}", "JK0005", "301", "04-01", "0201",
                       "0005", 300);
    c[4].item_class = "ch", c[4].item = "0101", c[4].budget_item = "02";
    c[5] = MakeVoucher("{00000000-0000-4000-8000-0000000000C1}", "ZC0001", "201", "02-01", "0201",
                       "0002", 600);
    c[5].submitted = 1, c[5].auditor = "Anna Approver", c[5].verifier = "Demo Admin",
    c[5].maker = "Demo Admin", c[5].pzguid = "PZ-C1", c[5].budget_item = "01";
    c[6] = MakeVoucher("{00000000-0000-4000-8000-0000000000C2}", "SR0001", "101", "03-01", "0202",
                       "0005", 300);
    c[6].submitted = 1;
    c[7] = MakeVoucher("{00000000-0000-4000-8000-0000000000C3}", "ZC0002", "202", "03-20", "0301",
                       "0004", 450);
    c[7].submitted = 1, c[7].auditor = "Anna Approver", c[7].verifier = "Demo Admin";
    return c;
  }

  // Stores the catalog: L2 paid through the bank (not sent), C1 sent and confirmed, C3 sent and
  // not confirmed; ledger vouchers 记-1-5 (posted) from L1 and 记-2-3 (void) from C1.
  std::vector<Voucher> AddCatalog() {
    std::vector<Voucher> c = Catalog();
    for (const Voucher& v : c) Add(v);
    AddBankPayment(c[1], "", 0);
    AddBankPayment(c[5], "P-C1", 1);
    AddBankPayment(c[7], "P-C3", 0);
    AddLedgerVoucher(c[0], 1, 5, 0, 1);
    AddLedgerVoucher(c[5], 2, 3, 1, 0);
    return c;
  }

  // `count` varied vouchers (a fixed sequence): both families, every operation type, the
  // departments and persons of the demo, dates over the year, two currencies, partly and fully
  // repaid loans, with and without cost items and budget items.
  // `first`: the number of the first voucher, past those an earlier call made.
  void Generate(int count, int first = 0) {
    static const char* kTypes[] = {"301", "302", "101", "201", "202"};
    static const char* kDepartments[] = {"01", "0201", "0202", "0301", "0302", "04"};
    uint32_t seed = 7;
    auto next = [&seed](uint32_t n) {
      seed = seed * 1103515245u + 12345u;
      return (seed >> 16) % n;
    };
    Cn().BeginTrans();
    for (int i = 0; i < count; ++i) {
      Voucher v;
      v.type = kTypes[next(5)];
      v.number = "G" + std::to_string(100000 + first + i);
      char date[8];
      std::snprintf(date, sizeof date, "%02u-%02u", 1 + next(12), 1 + next(28));
      v.date = date;
      v.department = kDepartments[next(6)];
      v.person = "000" + std::to_string(1 + next(7));
      v.money = 50 + next(4000) + next(100) / 100.0;
      if (next(4) == 0) v.currency = "美元", v.rate = 7;
      if (v.IsLoan()) {
        uint32_t r = next(4);
        v.returned = r == 0   ? v.money
                     : r == 1 ? static_cast<double>(next(static_cast<uint32_t>(v.money)))
                              : 0;
      }
      uint32_t item = next(3);
      if (item == 1) v.item_class = "00", v.item = next(2) ? "001" : "002";
      if (item == 2) v.item_class = "ch", v.item = next(2) ? "0101" : "0102";
      if (next(2)) v.budget_item = next(2) ? "01" : "02";
      v.submitted = static_cast<int>(next(2));
      if (v.submitted && next(2)) v.auditor = "Anna Approver";
      Add(v);
    }
    Cn().CommitTrans();
  }

  int generated_ = 0;

 public:
  // The answer under the first `out` of a request's only `func`.
  static xml::Node Out(const xml::Document& doc) {
    return doc.SelectSingleNode("//func/out").FirstChild();
  }
  static std::vector<std::string> Column(const xml::Document& doc, const std::string& name) {
    std::vector<std::string> out;
    for (const xml::Node& row : doc.SelectNodes("//data/row")) out.push_back(row.Attr(name));
    return out;
  }
  static std::string ErrorText(const xml::Document& doc) {
    return doc.SelectSingleNode("/error/text").Text();
  }
  // A message in the language of the default session.
  static std::string Message(const std::string& key) { return host::MessageText(key, "zh-CN"); }

 protected:
  // An answer as a golden file holds it: pretty-printed, the year and row versions masked.
  std::string Golden(const xml::Node& node) {
    std::string text = testing::Pretty(node);
    text = std::regex_replace(text, std::regex(Year()), "{{YEAR}}");
    return std::regex_replace(text, std::regex(" ts=\"[0-9]+\""), " ts=\"#\"");
  }

  // A list request: page, rows, and condition rows as <row …/> text.
  static std::string ListRequest(const std::string& name, const std::string& cond = "",
                                 int current = 0, int rows = 20, const std::string& extra = "") {
    return "<req><func name='" + name + "'><in><page><current>" + std::to_string(current) +
           "</current><rows>" + std::to_string(rows) + "</rows></page><cond>" + cond + "</cond>" +
           extra + "</in></func></req>";
  }
  // A condition row of the user's filter (type 0 text, 2 number; fieldtype 0 =, 1 >=, 2 <=).
  static std::string Cond(const std::string& field, const std::string& value,
                          const std::string& type = "0", const std::string& field_type = "0",
                          const std::string& name = "") {
    return "<row name='" + name + "' fieldname='" + field + "' fieldtype='" + field_type +
           "' value='" + value + "' type='" + type + "'/>";
  }
};

}  // namespace rembiz::reports
