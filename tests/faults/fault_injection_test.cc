// Every operation that writes, failed at each of its statements in turn: the 1st, the 2nd, … the
// n-th statement throws a database error (the connection's fault hook), and each time the answer
// must be an error and the account and system databases exactly as before.
//
// The operations start from the states of a claim's road (a loan saved, submitted, approved; a
// claim saved, written off, approved in two steps, paid). To cover an operation of your class,
// add one line to kCases: the state it starts from (a Road step, or a new one) and its request.
#include <sqlite3.h>

#include <filesystem>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "db/connection.h"
#include "db/error.h"
#include "db/test_seams.h"
#include "db/text.h"
#include "frame/registry.h"
#include "host/database_setup.h"
#include "host/local_session.h"
#include "host/messages.h"
#include "support/demo_fixture.h"

namespace rembiz {
namespace {

class FaultTest;
using Setup = void (FaultTest::*)();
using Request = std::string (FaultTest::*)();

struct WriteCase {
  const char* name;  // test name: letters, digits and _
  const char* class_name;
  const char* user;
  Setup state;  // the state the operation starts from
  Request request;
  // Set where the operation commits its own work before a later step that may fail on its
  // own (why, in words): a failure after that commit must be reported, and the commit stands.
  const char* reports_after_commit = nullptr;
};

// The lines of `after` that `before` does not have and the other way round, by table.
std::string Difference(const std::string& before, const std::string& after) {
  auto lines = [](const std::string& text) {
    std::multiset<std::string> out;
    std::string table;
    size_t pos = 0;
    while (pos < text.size()) {
      size_t end = text.find('\n', pos);
      std::string line = text.substr(pos, end - pos);
      pos = end == std::string::npos ? text.size() : end + 1;
      if (line.rfind("== ", 0) == 0) {
        table = line.substr(3);
      } else {
        out.insert(table + ": " + line);
      }
    }
    return out;
  };
  std::multiset<std::string> a = lines(before), b = lines(after);
  std::string out;
  for (const std::string& line : a) {
    if (!b.count(line)) out += "  - " + line + "\n";
  }
  for (const std::string& line : b) {
    if (!a.count(line)) out += "  + " + line + "\n";
  }
  return out;
}

// Shown by gtest in place of the bytes of a case.
void PrintTo(const WriteCase& c, std::ostream* out) { *out << c.name; }

// Injection points covered by the cases that ran in this process.
int64_t g_points = 0;

class FaultTest : public testing::DemoTest, public ::testing::WithParamInterface<WriteCase> {
 public:
  static void TearDownTestSuite() {
    std::cout << "[ faults   ] " << g_points << " injection points covered\n";
  }

  // ----- the states of the road, each built on the one before -----
  void Nothing() {}
  void SubmitOnSave() {
    Cn().Execute("update accinformation set cValue = 'true' where cSysID = 'EC' and cID = '105'");
  }
  void SavedLoan() {
    Must("CLoan", "clerk", NewLoan());
    loan_ = Scalar("select GUID from EC_LoanVouch");
  }
  void SubmittedLoan() {
    SavedLoan();
    Must("CLoan", "clerk", SubmitLoan());
  }
  void ApprovedLoan() {
    SubmittedLoan();
    Must("CAudit", "approver", AuditLoan());
  }
  void SavedClaim() {
    ApprovedLoan();
    Must("CExpense", "clerk", NewClaim());
    claim_ = Scalar("select GUID from EC_ExpenVouch");
    loan_row_ = Scalar("select GUID from EC_LoanVouch_Sub where MGuid = " + db::SqlText(loan_));
  }
  void WrittenOff() {
    SavedClaim();
    Must("CExpense", "demo", WriteOff());
  }
  void SubmittedClaim() {
    WrittenOff();
    Must("CExpense", "clerk", SubmitClaim());
  }
  void ClaimAtStepTwo() {
    SubmittedClaim();
    Must("CAudit", "demo", AuditClaim());
  }
  void ApprovedClaim() {
    ClaimAtStepTwo();
    Must("CAudit", "approver", AuditClaim());
  }
  void PaidByTransfer() {
    ApprovedClaim();
    Must("CExpense", "demo", PayByTransfer());
    Must("CExpense", "demo", WriteOff());  // confirmed: the claim is settled
    line_ = Scalar("select GUID from EC_BalanceInfo where ExpenGUID = " + db::SqlText(claim_));
  }
  void PaidOnline() {
    PaidByTransfer();
    Must("CNetPay", "approver", NetPay());
  }

  // ----- requests, as the pages send them -----
  std::string LoanHead(const std::string& extra = "") {
    return "<z:row strTypeCode='301' strVouchID='JK" + Year() + "030001' dtLoanDate='" + Year() +
           "-03-05T00:00:00' strDepartID='0201' strLoanID='0002' strBill='人民币' fltRate='1' "
           "dblMoney='800' dblOldMoney='800' strUsed='出差北京' strPersonID='Carl Clerk'" +
           extra + "/>";
  }
  std::string NewLoan() { return SaveLoan(LoanHead()); }
  std::string ChangeLoan() {
    return SaveLoan(LoanHead(" GUID='" + loan_ + "' ts='" + Ts("EC_LoanVouch", loan_) + "'"));
  }
  std::string SaveLoan(const std::string& head) {
    return "<req><func name='savevouch'><in><xml><head blnBegin='0'>" + head +
           "</head><body><row strBalanceID='1' dblMoney='800'/></body></xml></in></func></req>";
  }
  std::string DeleteLoan() { return Delete("EC_LoanVouch", loan_, "EC01"); }
  std::string SubmitLoan() { return Submit("EC_LoanVouch", loan_); }
  std::string AuditLoan() { return Audit("EC_LoanVouch", loan_, "EC03"); }
  std::string ApproveLoanDirectly() {
    return "<req><func name='CheckAudit'><in flag='true'>" + Listed("EC_LoanVouch", loan_) +
           "</in></func></req>";
  }
  std::string CancelLoanApproval() {
    return "<req><func name='CheckAudit'><in flag='false'>" + Listed("EC_LoanVouch", loan_) +
           "</in></func></req>";
  }
  std::string WithdrawLoan() {
    return "<req><func name='DelAudit'><in><GUID>" + loan_ + "</GUID><ts>" +
           Ts("EC_LoanVouch", loan_) + "</ts><type>EC01</type></in></func></req>";
  }

  std::string ClaimHead(const std::string& extra = "") {
    return "<z:row strTypeCode='201' strVouchID='ZC" + Year() + "030001' dtLoanDate='" + Year() +
           "-03-20T00:00:00' strDepartID='0201' strLoanID='0002' strBudItemID='01' "
           "strPort1='department' strPort1Value='[0201]会计科' strBill='人民币' fltRate='1' "
           "dblMoney='1000' dblOldMoney='1000' strUsed='出差北京' strPersonID='Carl Clerk'" +
           extra + "/>";
  }
  std::string SaveClaim(const std::string& head) {
    return "<req><func name='savevouch'><in><xml><head>" + head +
           "</head><body><row strIOItem='20101' strEZero='0101' dblNumber='2' dblVouch='900' "
           "dblMoney='900' strMemo='酒店两晚'/><row strIOItem='203' dblMoney='100' "
           "strMemo='办公用品'/></body></xml></in></func></req>";
  }
  std::string NewClaim() { return SaveClaim(ClaimHead()); }
  std::string ChangeClaim() {
    return SaveClaim(ClaimHead(" GUID='" + claim_ + "' ts='" + Ts("EC_ExpenVouch", claim_) + "'"));
  }
  std::string DeleteClaim() { return Delete("EC_ExpenVouch", claim_, "EC03"); }
  std::string SubmitClaim() { return Submit("EC_ExpenVouch", claim_); }
  std::string AuditClaim() { return Audit("EC_ExpenVouch", claim_, "EC02"); }
  std::string WriteOff() {
    std::string link = Scalar("select ifnull(GUID, '') from EC_ExpenLoanInfo where Expenguid = " +
                              db::SqlText(claim_));
    return "<req><func name='SaveLoanInfo'><in GUID='" + claim_ + "' ts='" +
           Ts("EC_ExpenVouch", claim_) +
           "' strLoanID='0002' strBill='人民币' fltRate='1'><row GUID='" + loan_row_ + "' ts='" +
           Ts("EC_LoanVouch_Sub", loan_row_) + "' GUID1='" + link + "' ts1='" +
           (link.empty() ? "" : Ts("EC_ExpenLoanInfo", link)) +
           "' blnUsed='0' dblRetValue='800'/></in></func></req>";
  }
  std::string PayByTransfer() {
    return "<req><func name='SaveExpenInfo'><in GUID='" + claim_ + "' ts='" +
           Ts("EC_ExpenVouch", claim_) + "'><rows><row P='1' intIOType='" +
           host::MessageText("Q7.Rembiz.0186", "zh-CN") +
           "' strBalanceID='302' strPayBankID='01' strBankName='工商银行' "
           "strBankAcc='6222020200001111' dblMoney='200'/></rows></in></func></req>";
  }
  std::string NetPay() { return PayLine("netpay"); }
  std::string NetUnpay() { return PayLine("netunpay"); }
  std::string PayLine(const std::string& name) {
    return "<req><func name='" + name + "'><in><row strtypecode='201' guid='" + line_ +
           "'/></in></func></req>";
  }

  // Master data, settings and ledger vouchers.
  std::string NewOperationType() {
    return "<req><func name='edit'><in><r P='1' intType='2' strName='会议费报销' strShowID='31' "
           "strPrintID='32'/></in></func></req>";
  }
  std::string SetOptions() {
    return "<req><func name='edit'><in intExpireDays='60' intAlertDays='5'/></func></req>";
  }
  std::string NewItem() {
    return "<req><func name='new'><in><r strcode='204' strupcode='2' strname='x' "
           "strtypecode='202'/></in></func></req>";
  }
  std::string NewDistrict() {
    return "<req><func name='new'><in><r strcode='0204' strname='d' strtypecode=''/></in>"
           "</func></req>";
  }
  // A department with its head, a person in it, and a flow whose step the head approves.
  std::string AdminSave() {
    return "<req><func name='save'><in kind='department'><row P='1' code='05' name='d' "
           "head='manager'/></in></func><func name='save'><in kind='person'><row P='1' "
           "code='0099' name='p' department='05' bankacc='1' bank='b'/></in></func><func "
           "name='save'><in kind='flow'><row P='1' family='loan' name='f' department='05'>"
           "<step approvers='head,user:approver'/></row></in></func></req>";
  }
  std::string SetLoanLimits() {
    return "<req><func name='saveperson'><in><strPersonCode>0007</strPersonCode><Rows ts=''>"
           "<row blnCtrl='1' dblMoney='30' strCtrlType='提示'/><row blnCtrl='0'/>"
           "<row blnCtrl='1' dblMoney='5000' strCtrlType='提示'/></Rows></in></func></req>";
  }
  std::string NewStandard() {
    return "<req><func name='savestand'><in><s><rows><r P='1' strStandName='办公' "
           "strIOCode='203' strControlType='严格控制'/></rows></s></in></func></req>";
  }
  std::string SetItemAccounts() {
    return "<req><func name='saveiokm'><in><row P='1' strOperatType='201' "
           "strIOItemCode='20101' strCurrency='人民币' strCode='660101' blnModiDire='1'/>"
           "</in></func></req>";
  }
  std::string SetAgeing() {
    return "<req><func name='ageset'><in><age><age type='1'><row cdays='15' name='半月内'/>"
           "<row cdays='' name='半月以上'/></age></age></in></func></req>";
  }
  std::string MakeLedgerVoucher() {
    std::string source =
        "<row strtypecode='201' guid='" + claim_ + "' ts='" + Ts("EC_ExpenVouch", claim_) +
        "' strvouchid='" +
        Scalar("select strVouchID from EC_ExpenVouch where GUID = " + db::SqlText(claim_)) + "'/>";
    return "<req><func name='makepz'><in con='1'><pztype>记</pztype><pzdate>" + Year() +
           "-03-25</pzdate><blnTemp>0</blnTemp><rows>" + source + "</rows></in><daily>" + source +
           "</daily></func></req>";
  }

  std::string TakeNumber() {
    return "<req><func name='vchnoget'><in><type>EC01</type><true>true</true><voucher "
           "type='EC01'><head><z:row strVouchID='' dtLoanDate='" +
           Year() + "-03-05T00:00:00'/></head></voucher></in></func></req>";
  }
  std::string SetPrintLayout() {
    return "<req><func name='vchprintdataset'><in><key>EC01_print</key><printset>layout"
           "</printset></in></func></req>";
  }
  std::string SetColumns() {
    return "<req><func name='rptcolumnset'><in>&lt;columns key='EC_LoanList'&gt;&lt;column "
           "name='dblMoney' width='900'/&gt;&lt;/columns&gt;</in></func></req>";
  }

 protected:
  std::string Year() { return Session().FiscalYear(); }
  std::string Ts(const std::string& table, const std::string& guid) {
    return Scalar("select cast(ts as money) from " + table + " where GUID = " + db::SqlText(guid));
  }
  std::string Delete(const std::string& table, const std::string& guid, const std::string& type) {
    return "<req><func name='delvouch'><in><strAutoID>" +
           Scalar("select AutoID from " + table + " where GUID = " + db::SqlText(guid)) +
           "</strAutoID><ts>" + Ts(table, guid) + "</ts><type>" + type +
           "</type></in></func></req>";
  }
  std::string Submit(const std::string& table, const std::string& guid) {
    return "<req><func name='submitaudit'><in><GUID>" + guid + "</GUID><ts>" + Ts(table, guid) +
           "</ts></in></func></req>";
  }
  std::string Listed(const std::string& table, const std::string& guid) {
    return "<v guid='" + guid + "' ts='" + Ts(table, guid) + "' strType='EC03' strVouchID='" +
           Scalar("select strVouchID from " + table + " where GUID = " + db::SqlText(guid)) + "'/>";
  }
  std::string Audit(const std::string& table, const std::string& guid, const std::string& type) {
    return "<req><func name='AuditVouch'><in><EASTdata><task EAAID='1' remark='同意'/></EASTdata>"
           "<strGUID><Rows flag='1'><row strGUID='" +
           guid + "' ts='" + Ts(table, guid) + "' strType='" + type + "' strVouchID='" +
           Scalar("select strVouchID from " + table + " where GUID = " + db::SqlText(guid)) +
           "'/></Rows></strGUID></in></func></req>";
  }

  host::Session* As(const std::string& user) {
    auto& session = sessions_[user];
    if (!session) session = SessionFor(user);
    return session.get();
  }
  xml::Document Run(const std::string& class_name, const std::string& user,
                    const std::string& request) {
    return Call(class_name, request, As(user));
  }
  // What went wrong, as the answer says it; "" when nothing did.
  static std::string Failure(const xml::Document& doc) {
    for (const char* path : {"/error/text", "//out/error/text", "//out/err/msg"}) {
      if (xml::Node node = doc.SelectSingleNode(path))
        return node.Text().empty() ? "?" : node.Text();
    }
    if (xml::Node node = doc.SelectSingleNode("//out//Error/err")) return node.Attr("msg") + "?";
    return "";
  }
  void Must(const std::string& class_name, const std::string& user, const std::string& request) {
    xml::Document doc = Run(class_name, user, request);
    ASSERT_EQ(Failure(doc), "") << class_name << " as " << user << ": " << doc.Xml();
  }

  // Every table of the account and the system database, as text.
  std::string Everything() {
    std::string out;
    for (const char* schema : {"main", "qdsystem"}) {
      db::Recordset tables = Cn().Execute(std::string("select name from ") + schema +
                                          ".sqlite_master where type = 'table' order by name");
      for (; !tables.Eof(); tables.MoveNext()) {
        std::string table = std::string(schema) + "." + tables.Text("name");
        out += "== " + table + "\n" + Dump(table);
      }
    }
    return out;
  }
  // How often another connection changed each database: unchanged means untouched.
  std::string Versions() {
    return Scalar(
        "select (select data_version from pragma_data_version) || '/' || "
        "(select data_version from qdsystem.pragma_data_version)");
  }

  // Copies of both database files, and putting them back, through SQLite's backup.
  void Copy(bool to_snapshot) {
    const std::string account =
        host::DataDir::AccountDatabase(Session().AccountId(), Session().FiscalYear());
    for (const std::string& database : {account, std::string("qdsystem")}) {
      std::string live = Data().Store().Describe(database);
      std::string file = (Scratch() / ("snapshot-" + database + ".db")).string();
      sqlite3* live_db = nullptr;
      sqlite3* other = nullptr;
      ASSERT_EQ(sqlite3_open(live.c_str(), &live_db), SQLITE_OK);
      ASSERT_EQ(sqlite3_open(file.c_str(), &other), SQLITE_OK);
      sqlite3_busy_timeout(live_db, 5000);
      sqlite3* from = to_snapshot ? live_db : other;
      sqlite3* to = to_snapshot ? other : live_db;
      sqlite3_backup* backup = sqlite3_backup_init(to, "main", from, "main");
      ASSERT_NE(backup, nullptr) << sqlite3_errmsg(to);
      EXPECT_EQ(sqlite3_backup_step(backup, -1), SQLITE_DONE);
      EXPECT_EQ(sqlite3_backup_finish(backup), SQLITE_OK);
      sqlite3_close(other);
      sqlite3_close(live_db);
    }
  }

  std::map<std::string, std::unique_ptr<host::LocalSession>> sessions_;
  std::string loan_, loan_row_, claim_, line_;
};

constexpr const char* kChequesAfterApproval =
    "a loan's cheques are registered after its approval is committed; the approval stands";

constexpr const char* kLinesOnTheirOwn =
    "each payment line commits on its own; what fails after it (the work table's drop) is "
    "reported and the line stands";

const WriteCase kCases[] = {
    {"CLoan_savevouch_new", "CLoan", "clerk", &FaultTest::Nothing, &FaultTest::NewLoan},
    {"CLoan_savevouch_change", "CLoan", "clerk", &FaultTest::SavedLoan, &FaultTest::ChangeLoan},
    {"CLoan_savevouch_submit_on_save", "CLoan", "clerk", &FaultTest::SubmitOnSave,
     &FaultTest::NewLoan},
    {"CLoan_delvouch", "CLoan", "clerk", &FaultTest::SavedLoan, &FaultTest::DeleteLoan},
    {"CLoan_submitaudit", "CLoan", "clerk", &FaultTest::SavedLoan, &FaultTest::SubmitLoan},
    {"CAudit_AuditVouch_loan", "CAudit", "approver", &FaultTest::SubmittedLoan,
     &FaultTest::AuditLoan, kChequesAfterApproval},
    {"CAudit_CheckAudit_approve", "CAudit", "approver", &FaultTest::SavedLoan,
     &FaultTest::ApproveLoanDirectly, kChequesAfterApproval},
    {"CAudit_CheckAudit_cancel", "CAudit", "approver", &FaultTest::ApprovedLoan,
     &FaultTest::CancelLoanApproval},
    {"CAudit_DelAudit", "CAudit", "clerk", &FaultTest::SubmittedLoan, &FaultTest::WithdrawLoan},
    {"CExpense_savevouch_new", "CExpense", "clerk", &FaultTest::Nothing, &FaultTest::NewClaim},
    {"CExpense_savevouch_change", "CExpense", "clerk", &FaultTest::SavedClaim,
     &FaultTest::ChangeClaim},
    {"CExpense_savevouch_submit_on_save", "CExpense", "clerk", &FaultTest::SubmitOnSave,
     &FaultTest::NewClaim},
    {"CExpense_delvouch", "CExpense", "clerk", &FaultTest::SavedClaim, &FaultTest::DeleteClaim},
    {"CExpense_SaveLoanInfo", "CExpense", "demo", &FaultTest::SavedClaim, &FaultTest::WriteOff},
    {"CExpense_submitaudit", "CExpense", "clerk", &FaultTest::WrittenOff, &FaultTest::SubmitClaim},
    {"CAudit_AuditVouch_claim_step1", "CAudit", "demo", &FaultTest::SubmittedClaim,
     &FaultTest::AuditClaim},
    {"CAudit_AuditVouch_claim_last_step", "CAudit", "approver", &FaultTest::ClaimAtStepTwo,
     &FaultTest::AuditClaim},
    {"CExpense_SaveExpenInfo", "CExpense", "demo", &FaultTest::ApprovedClaim,
     &FaultTest::PayByTransfer},
    {"CNetPay_netpay", "CNetPay", "approver", &FaultTest::PaidByTransfer, &FaultTest::NetPay,
     kLinesOnTheirOwn},
    {"CNetPay_netunpay", "CNetPay", "approver", &FaultTest::PaidOnline, &FaultTest::NetUnpay,
     kLinesOnTheirOwn},
    {"CMakePZ_makepz", "CMakePZ", "demo", &FaultTest::PaidByTransfer,
     &FaultTest::MakeLedgerVoucher},
    {"COperation_edit", "COperation", "demo", &FaultTest::Nothing, &FaultTest::NewOperationType},
    {"CChoice_edit", "CChoice", "demo", &FaultTest::Nothing, &FaultTest::SetOptions},
    {"CRPItem_new", "CRPItem", "demo", &FaultTest::Nothing, &FaultTest::NewItem},
    {"CDistrict_new", "CDistrict", "demo", &FaultTest::Nothing, &FaultTest::NewDistrict},
    {"CAdmin_save", "CAdmin", "demo", &FaultTest::Nothing, &FaultTest::AdminSave},
    {"CPerson_saveperson", "CPerson", "demo", &FaultTest::Nothing, &FaultTest::SetLoanLimits},
    {"CStand_savestand", "CStand", "demo", &FaultTest::Nothing, &FaultTest::NewStandard},
    {"CPzSet_saveiokm", "CPzSet", "demo", &FaultTest::Nothing, &FaultTest::SetItemAccounts},
    {"CReport_ageset", "CReport", "demo", &FaultTest::Nothing, &FaultTest::SetAgeing},
    {"CPubMsg_vchnoget", "CPubMsg", "clerk", &FaultTest::Nothing, &FaultTest::TakeNumber},
    {"CPubMsg_vchprintdataset", "CPubMsg", "demo", &FaultTest::Nothing, &FaultTest::SetPrintLayout},
    {"CPubMsg_rptcolumnset", "CPubMsg", "clerk", &FaultTest::Nothing, &FaultTest::SetColumns},
};

// On SQLite: the snapshots that put a database back after a commit the case expects are
// copies of its files. (The same operations run on both engines in their own tests.)
TEST_P(FaultTest, EveryStatementFailsCleanly) {
  if (testing::OnPostgres()) GTEST_SKIP() << "the snapshots are copies of SQLite files";
  const WriteCase& c = GetParam();
  (this->*c.state)();
  if (HasFatalFailure()) return;
  const std::string before = Everything();
  const std::string versions = Versions();
  Copy(/*to_snapshot=*/true);
  // Built once, from the state before: a failed attempt must leave that state as it was.
  const std::string request = (this->*c.request)();

  host::Session* session = As(c.user);  // opened before any fault is armed

  int64_t points = 0, after_commits = 0, warnings = 0;
  for (int64_t nth = 1; nth < 1000; ++nth) {
    int64_t start = db::ThreadStatementCount();
    db::StatementRecorder recorder;
    db::InjectFault(nth, db::DbError(db::kErrStatement, "injected fault"));
    xml::Document doc = Call(c.class_name, request, session);
    db::ClearFault();
    auto failed = [&] {
      const auto& sent = recorder.Statements();
      return "statement " + std::to_string(nth) + " (" +
             (sent.size() >= static_cast<size_t>(nth) ? sent[nth - 1].substr(0, 200) : "?") +
             ") failed";
    };
    if (db::ThreadStatementCount() - start < nth) {
      // It ran to its end with fewer statements: the fault never fired.
      EXPECT_EQ(Failure(doc), "") << "the operation fails without a fault: " << doc.Xml();
      break;
    }
    ++points;
    std::string failure = Failure(doc);
    const std::vector<size_t>& commits = recorder.Commits();
    bool after_commit = !commits.empty() && commits.front() < static_cast<size_t>(nth);
    // Work tables live in tempdb, which is no part of the databases: once the operation's
    // work is committed, failing to drop one may go unreported.
    const auto& sent = recorder.Statements();
    if (after_commit && sent.size() >= static_cast<size_t>(nth) &&
        sent[nth - 1].rfind("DROP TABLE IF EXISTS tempdb.", 0) == 0) {
      ++after_commits;
      Copy(/*to_snapshot=*/false);
      continue;
    }
    if (after_commit && c.reports_after_commit) {
      EXPECT_NE(failure, "") << failed() << " after the commit, the answer says nothing";
      ++after_commits;
      Copy(/*to_snapshot=*/false);
      continue;
    }
    // A failed standard check becomes a warning of the claim save, and the claim is saved.
    if (doc.SelectSingleNode("//out/message/text").Text().find("injected fault") !=
        std::string::npos) {
      ++warnings;
      std::cout << "[ faults   ] " << c.name << ": " << failed() << ", reported as a warning\n";
      Copy(/*to_snapshot=*/false);
      continue;
    }
    EXPECT_NE(failure, "") << "statement " << nth
                           << " failed, the answer says nothing: " << doc.Xml();
    if (Versions() != versions) {
      std::string after = Everything();
      EXPECT_TRUE(after == before) << failed() << ", the data changed:\n"
                                   << Difference(before, after);
      if (after != before || failure.empty()) {
        Copy(/*to_snapshot=*/false);
        ASSERT_EQ(Everything(), before);
      }
    }
  }
  EXPECT_GT(points, 0);
  g_points += points;
  std::cout << "[ faults   ] " << c.name << ": " << points << " statements";
  if (after_commits) std::cout << ", " << after_commits << " after its commit";
  if (warnings) std::cout << ", " << warnings << " reported as warnings";
  std::cout << "\n";
}

INSTANTIATE_TEST_SUITE_P(Writes, FaultTest, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<WriteCase>& param_info) {
                           return std::string(param_info.param.name);
                         });

}  // namespace
}  // namespace rembiz
