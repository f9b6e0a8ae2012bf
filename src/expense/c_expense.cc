#include "expense/c_expense.h"

#include <optional>
#include <set>
#include <vector>

#include "db/money.h"
#include "db/text.h"
#include "frame/convert.h"
#include "frame/registry.h"
#include "frame/request.h"
#include "frame/sql_helpers.h"
#include "host/errors.h"
#include "host/messages.h"
#include "host/tasks.h"
#include "standards/get_stand.h"
#include "standards/standard_check.h"
#include "voucher/history.h"
#include "voucher/scope.h"
#include "voucher/submission.h"
#include "voucher/voucher_save.h"
#include "voucher/voucher_state.h"
#include "voucher/write_offs.h"

namespace rembiz::expense {
namespace {

using db::MoneyText;
using db::SqlText;
using db::Trim;
using frame::Exists;
using frame::NormalizeSql;
using frame::NumberOf;
using frame::OptionalNumber;
using frame::Present;
using frame::RowVersion;
using frame::ValueOf;
using voucher::RequirePositive;

// After the reads shared with the loan class (voucher/voucher_class.h). The save, the delete,
// the standards and the settlement operations answer their failures under their own `out`.
constexpr frame::OperationEntry kOperations[] = {
    frame::OwnErrors(frame::Op<&CExpense::DelVouch>("delvouch", voucher::kVoucherWrite),
                     "DelVouch"),
    frame::OwnErrors(frame::Op<&CExpense::SaveVouch>("savevouch", voucher::kVoucherWrite),
                     "SaveVouch"),
    frame::Op<&CExpense::SubmitAudit>("submitaudit", voucher::kVoucherWrite),
    frame::OwnErrors(frame::Op<&CExpense::GetStand>("GetStand"), "GetStand"),
    frame::OwnErrors(frame::Op<&CExpense::GetLoanInfo>("GetLoanInfo"), "GetLoanInfo"),
    frame::OwnErrors(frame::Op<&CExpense::SaveLoanInfo>("SaveLoanInfo", frame::kOpensTransaction),
                     "SaveLoanInfo"),
    frame::OwnErrors(frame::Op<&CExpense::GetExpenInfo>("GetExpenInfo"), "GetExpenInfo"),
    frame::OwnErrors(frame::Op<&CExpense::SaveExpenInfo>("SaveExpenInfo", voucher::kVoucherWrite),
                     "SaveExpenInfo"),
};

constexpr frame::OperationEntry kPublicProcedures[] = {
    frame::OwnErrors(frame::Op<&CExpense::DelVouch>("DelVouch"), "DelVouch"),
    frame::OwnErrors(frame::Op<&CExpense::SaveVouch>("SaveVouch"), "SaveVouch"),
    frame::Op<&CExpense::SubmitAudit>("SubmitAudit"),
    frame::OwnErrors(frame::Op<&CExpense::GetStand>("GetStand"), "GetStand"),
    frame::OwnErrors(frame::Op<&CExpense::GetLoanInfo>("GetLoanInfo"), "GetLoanInfo"),
    frame::OwnErrors(frame::Op<&CExpense::SaveLoanInfo>("SaveLoanInfo"), "SaveLoanInfo"),
    frame::OwnErrors(frame::Op<&CExpense::GetExpenInfo>("GetExpenInfo"), "GetExpenInfo"),
    frame::OwnErrors(frame::Op<&CExpense::SaveExpenInfo>("SaveExpenInfo"), "SaveExpenInfo"),
};

constexpr voucher::VoucherClassTraits kTraits{
    .variant = voucher::VoucherClassVariant("CExpense", "EC020301"),
    .pages = {.table = "EC_ExpenVouch",
              .head_view = "vwECExpenHead",
              .body_view = "vwECExpenBody",
              .keeps_card = true},
    .operations = kOperations,
    .public_procedures = kPublicProcedures,
};

const frame::ClassRegistrar kRegistrar("Rembiz.CExpense",
                                       [] { return std::make_unique<CExpense>(); });

// The claim's new row version, handed to the other settlement save of the same request.
void PassRowVersion(db::Connection& cn, xml::Node& func, const std::string& qguid,
                    std::string_view other) {
  db::Recordset rs = cn.Execute(
      NormalizeSql("select Cast(ts As Money)as ts from EC_ExpenVouch where GUID=" + qguid));
  xml::Node in = func.SelectSingleNode("//func[@name='" + std::string(other) + "']/in");
  if (in && !rs.Eof()) in.SetAttr("ts", rs.Text("ts"));
}

// After a change of a claim's write-offs or payment lines, on the whole claim as it now stands:
// a settlement beyond the claim's amount is refused (the request's transaction then takes the
// change back), and both saves keep the settled flag and the verifier by the same rule.
void SettleClaim(host::Session& session, db::Connection& cn, const std::string& guid) {
  const voucher::ClaimSettlement settlement = voucher::ReadClaimSettlement(cn, guid);
  if (settlement.Excess() > 0) {
    Raise(kErrBusiness, "Q7.Rembiz.0445", settlement.ExcessText(), settlement.currency);
  }
  const std::string qguid = SqlText(guid);
  const bool nothing = db::RoundCents(settlement.settled) == 0;
  cn.Execute(NormalizeSql("Update EC_ExpenVouch Set strVerifier=" +
                          (nothing ? std::string("Null") : SqlText(session.UserName())) +
                          ",blnSettle = " + (settlement.Covered() ? "1" : "0") +
                          " Where GUID = " + qguid));
  // An unapproved claim keeps no verifier.
  cn.Execute(NormalizeSql(
      "Update EC_ExpenVouch Set strVerifier=Null Where isnull(strAuditorID,'')='' and GUID = " +
      qguid));
}

std::string Attr(const char* name, const std::string& value) {
  return std::string(name) + "='" + frame::XmlEscape(value) + "' ";
}

// A bit read back as the page's number ("1"/"0"); "" for null.
std::string BitText(const db::Variant& value) {
  return value.IsNull() ? "" : (value.ToBool() ? "1" : "0");
}

constexpr voucher::VoucherFamily kClaimFamily{
    .table = "EC_ExpenVouch",
    .claimant_missing = "Q7.Rembiz.0276",
    .claimant_unknown = "Q7.Rembiz.0277",
    .manual_number = "Q7.Rembiz.0236",
    .purpose_required = true,
    .numbers_per_family = true,
    .stored_read_with_version = true,
};

// What is a claim's own in the shared save: its two families (numbering and flow cards), a
// claim with payment lines or write-offs stays as it is, expense rows checked against the
// standards, and warnings of warning-only standards as the save's answer.
class ClaimSave : public voucher::VoucherSave {
 public:
  ClaimSave(host::Session& session, db::Connection& cn, xml::Node& func, xml::Document& answer)
      : VoucherSave(kClaimFamily, session, cn, func, answer, voucher::SubmitOnSave(cn)),
        standards_(cn) {}

  // The answer of a saved claim: the collected warnings, or none.
  void Answer() {
    answer_.Clear();
    if (warnings_.empty()) return;
    answer_.LoadXml(
        "<?xml version='1.0' encoding='utf-8'?><message><id>Rembiz:CExpend:SaveVouch:"
        "ExpenStandard</id><text>" +
        frame::XmlEscape(warnings_) + "</text></message>");
  }

 protected:
  std::string NumberCard() const override { return IsIncome() ? "EC02" : "EC03"; }
  std::string FlowCard() const override { return IsIncome() ? "46" : "47"; }

  void CheckStored(const db::Recordset& stored) override {
    if (stored.Value("blnaudi").ToBool()) Raise(kErrBusiness, "Q7.Rembiz.0246");
    if (submit_on_save_ && !stored.Text("strAuditorID").empty()) {
      Raise(kErrBusiness, "Q7.Rembiz.0245");
    }
    if (Exists(cn_, "select top 1 * from EC_BalanceInfo where ExpenGUID=" + qguid_)) {
      Raise(kErrBusiness, "Q7.Rembiz.0332");
    }
    // Write-offs of a draft apply to no loan yet (only an approval applies them), so they stay
    // with the claim as it is corrected, as long as they still fit it: the same claimant and
    // currency, and no more than its new amount (checked once the rows are written).
    write_offs_ = Exists(cn_, "select top 1 * from EC_ExpenLoanInfo where ExpenGUID=" + qguid_);
    if (write_offs_ && (stored.Text("strLoanID") != head_.Attr("strLoanID") ||
                        stored.Text("strBill") != head_.Attr("strBill") ||
                        frame::NumValue(stored.Value("fltRate")) !=
                            frame::NumValue(db::Variant(head_.Attr("fltRate"))))) {
      Raise(kErrBusiness, "Q7.Rembiz.0332");
    }
  }

  // The items of all rows and their standards in the claim's department, read at once.
  void BeforeRows(const xml::NodeList& rows) override {
    std::vector<std::string> items;
    for (const xml::Node& row : rows) items.push_back(row.Attr("strIOItem"));
    standards_.Preload(head_.Attr("strDepartID"), items, head_.Attr("strLoanID"),
                       head_.Attr("strBill"));
    // And the value rows of their standards, in one query too.
    std::vector<standards::ClaimRowValues> values;
    for (const xml::Node& row : rows) {
      values.push_back(standards::ClaimRowValues::FromClaim(head_, row));
    }
    standards_.PreloadValueRows(session_.LanguageId(), values);
  }

  void WriteRow(const xml::Node& row, int index) override {
    const std::string label = "(" + std::to_string(index + 1) + ")";
    if (!row.HasAttr("strIOItem")) Raise(kErrBusiness, "Q7.Rembiz.0281", label);
    const std::string item = row.Attr("strIOItem");
    if (!item.empty()) {
      std::optional<bool> leaf = standards_.ItemIsLeaf(item);
      if (!leaf) Raise(kErrBusiness, "Q7.Rembiz.0281", label);
      if (!*leaf) Raise(kErrBusiness, "Q7.Rembiz.0280", label);
    }

    standards::StandardOutcome outcome = standards::StandardCheck(
        session_, standards_, standards::ClaimRowValues::FromClaim(head_, row));
    if (outcome.Breaks()) {
      if (outcome.StopsSave()) Raise(kErrBusiness, "Q7.Rembiz.0279", label, outcome.message);
      warnings_ += host::MessageText("Q7.Rembiz.0279", "", label, outcome.message);
    }
    // A receipt amount is required where the item's standard grades by receipt bracket.
    standards::RequireReceiptAmount(standards_, head_.Attr("strDepartID"), item,
                                    row.Attr("dblVouch"), label);

    // Every row carries its amount.
    const std::string money = frame::RequiredNumber(row, "dblMoney", "Q7.Rembiz.0226");
    RequirePositive(money, "Q7.Rembiz.0442", std::to_string(index + 1));
    InsertRow("EC_ExpenVouch_Sub",
              {{"dtBDate", ValueOf(row, "dtBDate")},
               {"intBTime", NumberOf(row, "intBTime")},
               {"dtEDate", ValueOf(row, "dtEDate")},
               {"intETime", NumberOf(row, "intETime")},
               {"strBZero", ValueOf(row, "strBZero")},
               {"strEZero", ValueOf(row, "strEZero")},
               {"strJTTools", ValueOf(row, "strJTTools")},
               {"strIOItem", ValueOf(row, "strIOItem")},
               {"dblVouch", NumberOf(row, "dblVouch")},
               {"dblNumber", NumberOf(row, "dblNumber")},
               {"dblStand", NumberOf(row, "dblStand")},
               {"dblPer", NumberOf(row, "dblPer")},
               {"dblMoney", money},
               {"dblOldMoney", NumberOf(row, "dblOldMoney")},
               {"intAppend", NumberOf(row, "intAppend")},
               {"strMemo", ValueOf(row, "strMemo")}},
              row, label);
    total_ += frame::NumValue(db::Variant(money));
    ++rows_;
  }

  void WriteTotal() override {
    // A claim without rows keeps the amount of its head.
    if (rows_ > 0) {
      cn_.Execute(NormalizeSql("Update EC_ExpenVouch Set dblMoney = " + MoneyText(total_) +
                               " Where GUID = " + qguid_));
    }
    if (!write_offs_) return;
    const voucher::ClaimSettlement settlement = voucher::ReadClaimSettlement(cn_, guid_);
    if (settlement.Excess() > 0) {
      Raise(kErrBusiness, "Q7.Rembiz.0445", settlement.ExcessText(), settlement.currency);
    }
  }

 private:
  bool IsIncome() const { return head_.Attr("strTypeCode").starts_with("1"); }

  standards::StandardLookups standards_;
  std::string warnings_;
  double total_ = 0;
  int rows_ = 0;
  bool write_offs_ = false;
};

}  // namespace

CExpense::CExpense() : VoucherClass(kTraits) {}

std::string CExpense::ListCondition(host::Session& session, db::Connection& cn, const xml::Node&) {
  std::string submitted = voucher::SubmitOnSave(cn) ? "1" : "0";
  // Template rights of both claim cards: either card's templates make a claim visible.
  std::string rights;
  std::string income = frame::RowAuthString(session, "djmb", "EC02");
  if (income == "1=2") {
    rights = " and 1=2";
  } else if (!income.empty()) {
    rights = " and (strShowModel in (" + income + ")) ";
  }
  std::string expenditure = frame::RowAuthString(session, "djmb", "EC03");
  if (expenditure == "1=2") {
    if (rights == " and 1=2") rights += " and 1=2";
  } else if (!expenditure.empty()) {
    rights = rights == " and 1=2" ? " and (strShowModel in (" + expenditure + ")) "
                                  : rights + " or (strShowModel in (" + expenditure + ")) ";
  }
  if (!rights.empty()) rights = "(" + rights.substr(4) + ")";

  std::string condition = "blnAudi = " + submitted + " And IsNull(strAuditorID,'') = ''";
  if (!rights.empty()) {
    condition += " And strTypeCode IN (Select strcode From EC_OperationType Where " + rights + ")";
  }
  return condition;
}

bool CExpense::GetStand(host::Session& session, db::Connection& cn, xml::Node& func,
                        xml::Document& answer) {
  return standards::GetStand(session, cn, func, answer);
}

// ---------------------------------------------------------------------------------------------
// Save and submission

bool CExpense::SaveVouch(host::Session& session, db::Connection& cn, xml::Node& func,
                         xml::Document& answer) {
  ClaimSave save(session, cn, func, answer);
  save.Run(&voucher::InitAudit);
  card_num_ = voucher::CardOfTypeCode(save.TypeCode());
  save.Answer();
  return true;
}

bool CExpense::SubmitAudit(host::Session& session, db::Connection& cn, xml::Node& func,
                           xml::Document& answer) {
  return voucher::SubmitAudit(session, cn, func, answer, "EC_ExpenVouch");
}

bool CExpense::InitAudit(host::Session& m_objLogin, db::Connection& CN, const xml::Node& oNode) {
  return voucher::InitAudit(m_objLogin, CN, oNode);
}

// ---------------------------------------------------------------------------------------------
// Loan write-off

std::string CExpense::LoanRowsXml(host::Session& session, db::Connection& cn, const xml::Node& in) {
  const std::string claimant = in.Attr("strLoanID");
  std::string claim = in.Attr("GUID");
  if (claimant.empty() && claim.empty()) Raise(kErrBusiness, "Q7.Rembiz.0284");
  // A claim out of the operator's reach is one that does not exist: no write-off names the
  // empty GUID.
  if (!claim.empty() && !voucher::VoucherInScope(session, cn, "EC_ExpenVouch", "GUID", claim)) {
    claim.clear();
  }
  std::string rate = OptionalNumber(in.Attr("fltRate"), "fltRate");
  if (rate.empty()) rate = "0";
  const bool linked_only = claimant.empty();

  std::string loans = frame::DataAuthFilter(session, "EC_LoanVouch", "True");
  std::string sql =
      "SELECT Person.cPersonName AS strLoan, EC_LoanVouch.strLoanID, "
      "EC_LoanVouch.dtLoanDate,EC_LoanVouch.strVouchID,EC_LoanVouch_Sub.strBalanceID, "
      "SettleStyle.cSSName AS strBalance,EC_LoanVouch_Sub.dblMoney,EC_LoanVouch_Sub.dblPreMoney, "
      "EC_LoanVouch_Sub.strBillID,CAST(EC_LoanVouch_Sub.ts AS money) AS ts,EC_LoanVouch_Sub.GUID, "
      "EC_LoanVouch_Sub.blnSettle,EC_ExpenLoanInfo.GUID AS GUID1,CAST(EC_ExpenLoanInfo.ts AS "
      "money) AS ts1, EC_ExpenLoanInfo.Expenguid,EC_ExpenLoanInfo.blnUsed,EC_ExpenLoanInfo.dblJE,"
      "EC_LoanVouch_Sub.dblReturn ";
  std::string joins = " LEFT OUTER JOIN " + loans +
                      " ON (EC_LoanVouch.GUID = EC_LoanVouch_Sub.MGuid) LEFT OUTER JOIN "
                      "SettleStyle ON (EC_LoanVouch_Sub.strBalanceID = SettleStyle.cSSCode) LEFT "
                      "OUTER JOIN Person ON (EC_LoanVouch.strLoanID = Person.cPersonCode) ";
  std::string currency =
      " And strBill = " + db::SqlText(in.Attr("strBill")) + " And fltRate =" + rate;
  if (linked_only) {
    sql +=
        "FROM EC_ExpenLoanInfo INNER JOIN EC_LoanVouch_Sub ON (EC_LoanVouch_Sub.GUID = "
        "EC_ExpenLoanInfo.LoanSubguid)" +
        joins + "WHERE (ISNULL(EC_LoanVouch.strAuditorID, '') <> '') And Expenguid = " +
        db::SqlText(claim) + currency + " Order by dtLoanDate";
  } else {
    sql +=
        "FROM EC_LoanVouch_Sub Left OUTER JOIN EC_ExpenLoanInfo ON (EC_LoanVouch_Sub.GUID = "
        "EC_ExpenLoanInfo.LoanSubguid)" +
        joins +
        "WHERE (ISNULL(EC_LoanVouch.strAuditorID, '') <> '') And EC_LoanVouch.strLoanID = " +
        db::SqlText(claimant) + currency +
        " And(isnull(Expenguid ,'{00000000-0000-0000-0000-000000000000}')=" + db::SqlText(claim) +
        " Or EC_LoanVouch_Sub.blnSettle = 0) Order by dtLoanDate";
  }

  // Whether this claim's write-offs are already carried into the loan rows.
  bool applied = false;
  if (linked_only) {
    db::Recordset state = cn.Execute(
        NormalizeSql("Select isnull(strAuditorID,'') As A From EC_ExpenVouch Where GUID = " +
                     db::SqlText(claim)));
    applied = !state.Eof() && !state.Text("A").empty();
  }

  db::Recordset rs = cn.Execute(NormalizeSql(sql));
  std::string out = "<Rows>";
  for (; !rs.Eof(); rs.MoveNext()) {
    double money = rs.Value("dblMoney").ToDouble();
    double returned = rs.Value("dblReturn").ToDouble();
    double je = rs.Value("dblJE").ToDouble();
    double leave = money - returned;
    double ret_leave = leave;
    if (linked_only) {
      // Open amount before this claim's write-off: a row settled while the claim's links are
      // not applied was settled by someone else and has nothing open; once applied, this
      // claim's own amount is part of dblReturn and is given back.
      if (!applied && rs.Value("blnSettle").ToBool()) {
        leave = 0;
      } else if (applied && voucher::WriteOffKind(rs.Text("blnUsed")) != 1) {
        leave += je;
      }
      // What stays open after this claim's write-off.
      ret_leave = leave - je < 0 ? 0 : leave - je;
    }
    out +=
        "<row " + Attr("strLoan", rs.Text("strLoan")) + Attr("strLoanID", rs.Text("strLoanID")) +
        Attr("dtLoanDate", rs.Text("dtLoanDate")) + Attr("strVouchID", rs.Text("strVouchID")) +
        Attr("strBalanceID", rs.Text("strBalanceID")) + Attr("strBalance", rs.Text("strBalance")) +
        Attr("dblMoney", rs.Text("dblMoney")) + Attr("dblPreMoney", rs.Text("dblPreMoney")) +
        Attr("strBillID", rs.Text("strBillID")) + Attr("blnUsed", rs.Text("blnUsed")) +
        Attr("GUID", rs.Text("GUID")) + Attr("blnSettle", BitText(rs.Value("blnSettle"))) +
        Attr("GUID1", linked_only ? rs.Text("GUID1") : "") + Attr("ts", rs.Text("ts")) +
        Attr("ts1", linked_only ? rs.Text("ts1") : "") + Attr("Expenguid", rs.Text("Expenguid")) +
        Attr("dblReturn", rs.Text("dblReturn")) + Attr("dblLeave", MoneyText(leave)) +
        Attr("dblRetValue", linked_only ? rs.Text("dblJE") : "") +
        Attr("dblRetLeave", MoneyText(ret_leave)) + "/>";
  }
  return out + "</Rows>";
}

bool CExpense::GetLoanInfo(host::Session& session, db::Connection& cn, xml::Node& func,
                           xml::Document& answer) {
  answer.LoadXml(LoanRowsXml(session, cn, func.Child("in")));
  return true;
}

bool CExpense::SaveLoanInfo(host::Session& session, db::Connection& cn, xml::Node& func,
                            xml::Document& answer) {
  xml::Node in = func.Child("in");
  const std::string guid = in.Attr("GUID");
  const std::string qguid = SqlText(guid);
  std::optional<std::string> ts = RowVersion(in.Attr("ts"));
  if (!ts) Raise(kErrBusiness, "Q7.Rembiz.0286");
  // A claim out of the operator's reach is not found, as if it had changed meanwhile.
  if (!voucher::VoucherInScope(session, cn, "EC_ExpenVouch", "GUID", guid)) {
    Raise(kErrBusiness, "Q7.Rembiz.0286");
  }
  const std::string claim_version = " where guid=" + qguid + " and Cast(ts As Money)=" + *ts;
  db::Recordset count =
      cn.Execute(NormalizeSql("select Count(*)as iOld from EC_ExpenVouch" + claim_version));
  if (count.Value("iOld").ToInt() != 1) Raise(kErrBusiness, "Q7.Rembiz.0286");

  db::Recordset state = cn.Execute(
      NormalizeSql("select strAuditorID,blnaudi,strPersonID from EC_ExpenVouch" + claim_version));
  voucher::RequireDraftMaker(session, state.Value("blnaudi").ToBool(), state.Text("strPersonID"));
  const bool approved = !state.Text("strAuditorID").empty();
  const std::string task = approved ? "EC020305" : "EC020302";
  // A refused task is the answer; the request stops so that nothing half-done is committed.
  host::TaskHold hold(&session, task, answer);
  if (!hold.Applied()) return false;

  // Row versions of the loan rows and of the links the page read.
  xml::NodeList rows = in.SelectNodes("row");
  std::string loan_check, link_check;
  int loan_rows = 0, link_rows = 0;
  for (const xml::Node& row : rows) {
    if (Present(row, "GUID")) {
      std::optional<std::string> row_ts = RowVersion(row.Attr("ts"));
      if (!row_ts) Raise(kErrBusiness, "Q7.Rembiz.0286");
      loan_check += " or(EC_LoanVouch_Sub.GUID=" + SqlText(row.Attr("GUID")) +
                    " and Cast(EC_LoanVouch_Sub.ts As Money)=" + *row_ts + ")";
      ++loan_rows;
    }
    if (Present(row, "GUID1")) {
      std::optional<std::string> link_ts = RowVersion(row.Attr("ts1"));
      if (!link_ts) Raise(kErrBusiness, "Q7.Rembiz.0286");
      link_check += " or(EC_ExpenLoanInfo.GUID=" + SqlText(row.Attr("GUID1")) +
                    " and Cast(EC_ExpenLoanInfo.ts As Money)=" + *link_ts + ")";
      ++link_rows;
    }
  }
  auto counted = [&](const std::string& table, const std::string& check) {
    return cn.Execute(NormalizeSql("select Count(*)as iOld from " + table + " where 1=0" + check))
        .Value("iOld")
        .ToInt();
  };
  // The loan rows written off are those the page could offer: rows of loans within reach.
  const std::string loans = frame::DataAuthFilter(session, "EC_LoanVouch", "True");
  const std::string reachable_rows = loans == "EC_LoanVouch"
                                         ? std::string("EC_LoanVouch_Sub")
                                         : "EC_LoanVouch_Sub Inner Join " + loans +
                                               " On EC_LoanVouch.GUID = EC_LoanVouch_Sub.MGuid";
  if (loan_rows > 0 && counted(reachable_rows, loan_check) != loan_rows) {
    Raise(kErrBusiness, "Q7.Rembiz.0286");
  }
  if (link_rows > 0 && counted("EC_ExpenLoanInfo", link_check) != link_rows) {
    Raise(kErrBusiness, "Q7.Rembiz.0286");
  }

  // The loan rows the claim wrote off so far, and those it writes off now: the loans follow
  // the links of approved claims, so each of these rows is brought to what its links say.
  std::vector<std::string> old_rows = voucher::LinkedLoanRows(cn, guid);
  if (approved && static_cast<int>(old_rows.size()) < link_rows) {
    Raise(kErrBusiness, "Q7.Rembiz.0286");
  }
  std::set<std::string> loan_rows_touched(old_rows.begin(), old_rows.end());
  // The loans as people know them: by number, each row in its order.
  const std::string links_sql =
      "Select v.strVouchID As strLoanVouchID,li.dblJE,li.blnUsed From EC_ExpenLoanInfo li Inner "
      "Join EC_LoanVouch_Sub s On s.GUID = li.LoanSubguid Inner Join EC_LoanVouch v On v.GUID = "
      "s.MGuid Where li.Expenguid = " +
      qguid + " Order By v.strVouchID,s.AutoID";
  const voucher::VoucherSnapshot links_before = voucher::ReadLines(cn, links_sql);
  cn.Execute(NormalizeSql("Delete EC_ExpenLoanInfo Where Expenguid = " + qguid));

  if (in.Attr("del") != "1") {
    int position = 0;
    for (const xml::Node& row : rows) {
      ++position;
      const std::string kind = Trim(row.Attr("blnUsed"));
      std::string value = OptionalNumber(row.Attr("dblRetValue"), "dblRetValue");
      if (value.empty()) value = "0";
      const double amount = frame::NumValue(db::Variant(value));
      // Nothing written off is no write-off (the page sends every row it offers); a close
      // returns nothing.
      if (amount < 0) Raise(kErrBusiness, "Q7.Rembiz.0443", std::to_string(position));
      if (kind != "1" && amount == 0) continue;
      cn.Execute(NormalizeSql(
          "Insert Into EC_ExpenLoanInfo (LoanSubguid,Expenguid,dblJE,blnUsed) Values (" +
          SqlText(row.Attr("GUID")) + "," + qguid + "," + value + "," +
          std::to_string(voucher::WriteOffKind(kind)) + ")"));
      loan_rows_touched.insert(row.Attr("GUID"));
    }
  }
  // A claim not yet approved records its write-offs; its approval applies them.
  if (approved) {
    voucher::ApplyWriteOffs(
        cn, std::vector<std::string>(loan_rows_touched.begin(), loan_rows_touched.end()));
  }

  SettleClaim(session, cn, guid);
  voucher::WriteLinesHistory(session, cn, guid, voucher::history::kWriteOff, links_before,
                             links_sql);
  PassRowVersion(cn, func, qguid, "SaveExpenInfo");
  answer.LoadXml(LoanRowsXml(session, cn, in));
  return true;
}

// ---------------------------------------------------------------------------------------------
// Payment lines

bool CExpense::GetExpenInfo(host::Session& session, db::Connection& cn, xml::Node& func,
                            xml::Document& answer) {
  const std::string guid = func.Child("in").Attr("GUID");
  if (guid.empty()) Raise(kErrBusiness, "Q7.Rembiz.0289");
  // A claim out of the operator's reach has no lines to show.
  if (!voucher::VoucherInScope(session, cn, "EC_ExpenVouch", "GUID", guid)) {
    answer.LoadXml("<Rows></Rows>");
    return true;
  }
  db::Recordset rs = cn.Execute(NormalizeSql(
      "SELECT EC_BalanceInfo.GUID, (Case When EC_BalanceInfo.intIOType = 1 Then " +
      db::SqlText(host::MessageText("Q7.Rembiz.0185")) + " Else " +
      db::SqlText(host::MessageText("Q7.Rembiz.0186")) +
      " End ) As intIOType, EC_BalanceInfo.strBalanceID,bank.cBName As strPayBankName,"
      "bank.cBAccount As strPayBankAcc , EC_BalanceInfo.dblMoney, EC_BalanceInfo.strBillID, "
      "EC_BalanceInfo.strPayBankID, EC_BalanceInfo.strPayment, EC_BalanceInfo.strRecBank AS "
      "strBankName, EC_BalanceInfo.strRecAcc AS strBankAcc, Cast(EC_BalanceInfo.ts As money) As "
      "ts, EC_BalanceInfo.strPayID, SettleStyle.cSSName AS strBalance FROM EC_BalanceInfo LEFT "
      "OUTER JOIN SettleStyle ON EC_BalanceInfo.strBalanceID = SettleStyle.cSSCode Left Outer "
      "Join Bank On Bank.cBCode = EC_BalanceInfo.strPayBankID Where EC_BalanceInfo.ExpenGUID = " +
      db::SqlText(guid) + " Order By EC_BalanceInfo.AutoID"));
  answer.LoadXml("<Rows>" + frame::RowXml(rs) + "</Rows>");
  return true;
}

bool CExpense::SaveExpenInfo(host::Session& session, db::Connection& cn, xml::Node& func,
                             xml::Document&) {
  xml::Node in = func.Child("in");
  const std::string guid = in.Attr("GUID");
  if (guid.empty()) Raise(kErrBusiness, "Q7.Rembiz.0290");
  const std::string qguid = db::SqlText(guid);
  const std::string receipt = host::MessageText("Q7.Rembiz.0185");
  // The claim is found before its lines change: one out of the operator's reach, or gone, is
  // not found; a draft's lines are its maker's.
  if (!voucher::VoucherInScope(session, cn, "EC_ExpenVouch", "GUID", guid)) {
    Raise(kErrBusiness, "Q7.Rembiz.0293");
  }
  db::Recordset owner = cn.Execute(
      NormalizeSql("Select blnAudi,strPersonID From EC_ExpenVouch Where GUID = " + qguid));
  if (owner.Eof()) Raise(kErrBusiness, "Q7.Rembiz.0293");
  voucher::RequireDraftMaker(session, owner.Value("blnAudi").ToBool(), owner.Text("strPersonID"));
  const std::string lines_sql =
      "Select intIOType,strBalanceID,dblMoney,strBillID,strPayBankID,strPayment,strRecBank,"
      "strRecAcc From EC_BalanceInfo Where ExpenGUID = " +
      qguid + " Order By AutoID";
  const voucher::VoucherSnapshot lines_before = voucher::ReadLines(cn, lines_sql);

  int position = 0;
  for (const xml::Node& line : in.FirstChild().Children()) {
    ++position;
    const std::string io_text = line.Attr("intIOType");
    if (io_text.empty()) Raise(kErrBusiness, "Q7.Rembiz.0291");
    const std::string io_type = io_text == receipt ? "1" : "2";
    const std::string p = line.Attr("P");
    const std::string values[] = {ValueOf(line, "strBalanceID"), NumberOf(line, "dblMoney"),
                                  ValueOf(line, "strBillID"),    ValueOf(line, "strPayBankID"),
                                  ValueOf(line, "strPayment"),   ValueOf(line, "strBankName"),
                                  ValueOf(line, "strBankAcc")};
    static constexpr const char* kColumns[] = {"strBalanceID", "dblMoney",   "strBillID",
                                               "strPayBankID", "strPayment", "strRecBank",
                                               "strRecAcc"};
    int64_t affected = 0;
    if (p == "1" || p == "2") {
      RequirePositive(values[1], "Q7.Rembiz.0444", std::to_string(position));
    }
    if (p == "1") {
      std::string sql =
          "Insert Into EC_BalanceInfo (ExpenGUID,intIOType,strBalanceID,dblMoney,strBillID,"
          "strPayBankID,strPayment,strRecBank,strRecAcc) Values (" +
          qguid + "," + io_type;
      for (const std::string& value : values) sql += "," + value;
      cn.Execute(NormalizeSql(sql + ")"), &affected);
    } else if (p == "2" || p == "3") {
      std::optional<std::string> line_ts = RowVersion(line.Attr("ts"));
      if (!line_ts) Raise(kErrBusiness, "Q7.Rembiz.0112");
      // A line of another claim is no line of this one.
      const std::string where = " Where GUID = " + db::SqlText(line.Attr("GUID")) +
                                " And ExpenGUID = " + qguid +
                                " And Cast(ts As money) = " + *line_ts;
      if (p == "2") {
        std::string sql =
            "Update EC_BalanceInfo Set ExpenGUID = " + qguid + ", intIOType = " + io_type;
        for (size_t i = 0; i < std::size(kColumns); ++i) {
          sql += ", " + std::string(kColumns[i]) + " = " + values[i];
        }
        cn.Execute(NormalizeSql(sql + where), &affected);
      } else {
        if (Exists(cn, "select top 1 * from EC_BalanceInfo where Guid=" +
                           db::SqlText(line.Attr("GUID")) + " And ExpenGUID = " + qguid +
                           " and isnull(strPayID,'')<>''")) {
          Raise(kErrBusiness, "Q7.Rembiz.0380");
        }
        cn.Execute(NormalizeSql("Delete EC_BalanceInfo" + where), &affected);
      }
    } else {
      Raise(kErrBusiness, "Q7.Rembiz.0292");
    }
    if (affected != 1) Raise(kErrBusiness, "Q7.Rembiz.0112");
  }

  db::Recordset maker = cn.Execute(NormalizeSql(
      "Select top 1 isnull(strMakerID,'') as strMakerID from EC_ExpenVouch where guid=" + qguid));
  if (!maker.Eof() && !maker.Text("strMakerID").empty()) Raise(kErrBusiness, "Q7.Rembiz.0376");

  std::optional<std::string> ts = RowVersion(in.Attr("ts"));
  if (!ts) Raise(kErrBusiness, "Q7.Rembiz.0293");
  db::Recordset claim = cn.Execute(
      NormalizeSql("Select strTypeCode ,dblMoney From EC_ExpenVouch Where GUID = " + qguid +
                   " and Cast(ts As Money)=" + *ts));
  if (claim.Eof()) Raise(kErrBusiness, "Q7.Rembiz.0293");

  SettleClaim(session, cn, guid);
  voucher::WriteLinesHistory(session, cn, guid, voucher::history::kSettlement, lines_before,
                             lines_sql);

  PassRowVersion(cn, func, qguid, "SaveLoanInfo");
  return true;
}

}  // namespace rembiz::expense
