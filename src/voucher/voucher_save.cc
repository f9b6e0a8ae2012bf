#include "voucher/voucher_save.h"

#include <memory>
#include <optional>

#include "db/error.h"
#include "db/money.h"
#include "db/text.h"
#include "db/transaction.h"
#include "frame/constraints.h"
#include "frame/convert.h"
#include "frame/request.h"
#include "frame/sql_helpers.h"
#include "host/approval_flow.h"
#include "host/doc_number.h"
#include "host/errors.h"
#include "host/messages.h"
#include "voucher/history.h"
#include "voucher/scope.h"

namespace rembiz::voucher {
namespace {

using db::SqlText;
using frame::CheckCostItem;
using frame::CheckCurrencyAndRate;
using frame::Exists;
using frame::NewGuid;
using frame::NormalizeSql;
using frame::NumberOf;
using frame::NumValue;
using frame::Present;
using frame::RequiredNumber;
using frame::RowVersion;
using frame::ValueOf;

// "11" names the voucher's business flow to the approval service.
constexpr const char* kFlowKind = "11";

// Fresh numbers asked for before a save gives up on a numbering that only yields taken ones.
constexpr int kFreshNumbers = 5;

// A numbering that fails fails the save as a business error under the numbering's own text
// (`empty_key` when it has none), whatever raised it.
template <typename Step>
auto AsSaveFailure(std::string_view empty_key, Step&& step) {
  std::string text;
  try {
    return step();
  } catch (const ComError& e) {
    text = e.Description();
  } catch (const std::exception& e) {
    text = e.what();
  }
  if (text.empty()) Raise(kErrBusiness, empty_key);
  throw ComError(kErrBusiness, text, "Rembiz");
}

// The constraints a save runs into, as the page reads them: a voucher number taken, and the
// write-off links (any constraint of EC_ExpenLoanInfo, or a row of it) before them.
constexpr frame::ConstraintKey kSaveConstraints[] = {
    {"EC_ExpenLoanInfo", "Q7.Rembiz.0256"},
    {"FK_EC_ExpenLoanInfo_EC_ExpenVouch", "Q7.Rembiz.0256"},
    {"FK_EC_ExpenLoanInfo_EC_LoanVouch_Sub", "Q7.Rembiz.0256"},
    {"IX_EC_ExpenVouch", "Q7.Rembiz.0236"},
    {"IX_EC_LoanVouch", "Q7.Rembiz.0236"},
};

// A database error as the page reads it: an amount too large for its column, else the
// constraints the save runs into by their meaning.
ComError PageError(const db::DbError& e) {
  if (e.Description().find("overflow error") != std::string::npos) {
    return ComError(e.Number(), host::MessageText("Q7.Rembiz.0377"), e.Source())
        .WithKey("Q7.Rembiz.0377", {});
  }
  return frame::ConstraintText(e, kSaveConstraints);
}

// "Insert Into table (c1,c2,…) Values (v1,v2,…)".
std::string InsertStatement(std::string_view table, const Columns& columns) {
  std::string names, values;
  for (const auto& [column, value] : columns) {
    if (!names.empty()) {
      names += ',';
      values += ',';
    }
    names += column;
    values += value;
  }
  return "Insert Into " + std::string(table) + " (" + names + ") Values (" + values + ")";
}

}  // namespace

void VoucherSave::InsertRow(std::string_view table, Columns columns, const xml::Node& row,
                            const std::string& label) {
  columns.insert(columns.begin(), {"MGuid", qguid_});
  for (int i = 22; i <= 37; ++i) {
    std::string name = "cDefine" + std::to_string(i);
    columns.emplace_back(name, ValueOf(row, name));
  }
  int64_t affected = 0;
  cn_.Execute(NormalizeSql(InsertStatement(table, columns)), &affected);
  if (affected != 1) Raise(kErrBusiness, "Q7.Rembiz.0255", label);
}

void RequirePositive(std::string_view number, std::string_view key, std::string_view label) {
  if (number == "Null" || db::RoundMoney(NumValue(db::Variant(std::string(number)))) <= 0) {
    Raise(kErrBusiness, key, label);
  }
}

Columns BudgetColumns(const xml::Node& head) {
  static constexpr const char* kPairKeys[] = {"Q7.Rembiz.0240", "Q7.Rembiz.0241", "Q7.Rembiz.0331"};
  const bool item = Present(head, "strBudItemID");
  Columns out;
  out.emplace_back("strBudItemID", item ? ValueOf(head, "strBudItemID") : "Null");
  bool complete = false;
  for (int i = 1; i <= 3; ++i) {
    std::string port = "strPort" + std::to_string(i);
    std::string value = port + "Value";
    bool has_port = Present(head, port);
    bool has_value = Present(head, value);
    if (item && has_port != has_value) Raise(kErrBusiness, kPairKeys[i - 1]);
    complete = complete || (has_port && has_value);
    out.emplace_back(port, item ? ValueOf(head, port) : "Null");
    out.emplace_back(value, item ? ValueOf(head, value) : "Null");
  }
  if (item && !complete) Raise(kErrBusiness, "Q7.Rembiz.0242");
  return out;
}

VoucherSave::VoucherSave(const VoucherFamily& family, host::Session& session, db::Connection& cn,
                         xml::Node& func, xml::Document& answer, bool submit_on_save)
    : session_(session),
      cn_(cn),
      func_(func),
      answer_(answer),
      head_(func.SelectSingleNode("in/xml/head/z:row")),
      submit_on_save_(submit_on_save),
      family_(family) {}

void VoucherSave::Run(Submitter submit) {
  try {
    guid_ = head_.Attr("GUID");
    change_ = !guid_.empty();
    if (!change_) guid_ = NewGuid(cn_);
    qguid_ = SqlText(guid_);

    ValidateHead();
    VoucherSnapshot before;
    if (change_) {
      CheckMayChange();
      before = ReadSnapshot(cn_, family_.table, guid_);
      WriteHead();
    } else {
      WriteNewHead();
    }
    // The voucher as written must be one the operator's lists show: no new voucher for a
    // department (person, item) the operator may not use, and no moving one out of reach.
    if (!VoucherInScope(session_, cn_, family_.table, "GUID", guid_)) {
      Raise(kErrBusiness, "Rembiz.Voucher.OutsidePermissions");
    }
    if (change_) RestartFlow();
    WriteRows();
    WriteTotal();
    WriteSaveHistory(before);
    Submit(submit);
    PositionList();
  } catch (const db::DbError& e) {
    // A value the database refused keeps its own text: it names the field.
    if (e.Number() == db::kErrDataValue) throw;
    throw PageError(e);
  }
}

void VoucherSave::ValidateHead() {
  if (!Present(head_, "strTypeCode")) Raise(kErrBusiness, "Q7.Rembiz.0011");
  if (!Present(head_, "strVouchID")) Raise(kErrBusiness, "Q7.Rembiz.0211");
  if (!Present(head_, "dtLoanDate")) Raise(kErrBusiness, "Q7.Rembiz.0212");
  if (family_.purpose_required && !head_.HasAttr("strUsed")) Raise(kErrBusiness, "Q7.Rembiz.0275");
  std::optional<std::string> date = db::NormalizeDate(head_.Attr("dtLoanDate"));
  if (!date) Raise(kErrBusiness, "Q7.Rembiz.0213");
  loan_date_ = *date;
  vouch_id_ = head_.Attr("strVouchID");

  // The master data of the head in one query; the checks below keep their order.
  const HeadLookups found = LookUpHead();
  if (!Present(head_, "strDepartID")) Raise(kErrBusiness, "Q7.Rembiz.0214");
  if (!found.department) Raise(kErrBusiness, "Q7.Rembiz.0215");
  if (!found.department_is_leaf) Raise(kErrBusiness, "Q7.Rembiz.0216");

  if (!Present(head_, "strLoanID")) Raise(kErrBusiness, family_.claimant_missing);
  if (!found.claimant) Raise(kErrBusiness, family_.claimant_unknown);

  CheckCostItem(cn_, head_);
  CheckCurrencyAndRate(head_, found.currency);
  head_money_ = RequiredNumber(head_, "dblMoney", "Q7.Rembiz.0226");
  old_money_ = RequiredNumber(head_, "dblOldMoney", "Q7.Rembiz.0227");
  RequirePositive(head_money_, "Q7.Rembiz.0440");
  RequirePositive(old_money_, "Q7.Rembiz.0441");
  CheckFamilyHead();
}

VoucherSave::HeadLookups VoucherSave::LookUpHead() {
  HeadLookups found;
  std::string sql;
  auto add = [&](const std::string& part) { sql += (sql.empty() ? "Select " : ", ") + part; };
  if (Present(head_, "strDepartID")) {
    const std::string code = SqlText(head_.Attr("strDepartID"));
    add("(Select Count(*) From Department Where cDepCode = " + code + ") As nDepart");
    add("(Select bDepEnd From Department Where cDepCode = " + code + ") As bDepEnd");
  }
  if (Present(head_, "strLoanID")) {
    add("(Select Count(*) From Person Where cPersonCode = " + SqlText(head_.Attr("strLoanID")) +
        ") As nPerson");
  }
  if (Present(head_, "strBill")) {
    add("(Select Count(*) From foreigncurrency Where cexch_name = " +
        SqlText(head_.Attr("strBill")) + ") As nCurrency");
  }
  // A new voucher's number as typed: whether it is taken (TakeFreeNumber asks first).
  if (!change_) {
    add("(Select Count(*) From " + std::string(family_.table) +
        " Where strVouchID = " + SqlText(vouch_id_) + NumberScope() + ") As nNumber");
  }
  if (sql.empty()) return found;
  db::Recordset rs = cn_.Execute(NormalizeSql(sql));
  auto count = [&](std::string_view name) {
    return rs.HasField(name) && rs.Value(name).ToInt() > 0;
  };
  found.department = count("nDepart");
  found.department_is_leaf = rs.HasField("bDepEnd") && rs.Value("bDepEnd").ToBool();
  found.claimant = count("nPerson");
  found.currency = count("nCurrency");
  if (rs.HasField("nNumber")) number_taken_ = count("nNumber");
  return found;
}

std::string VoucherSave::NumberScope() const {
  if (!family_.numbers_per_family) return "";
  return " And left(strTypeCode,1) = " + SqlText(head_.Attr("strTypeCode").substr(0, 1));
}

void VoucherSave::CheckMayChange() {
  // A voucher out of the operator's reach is not found.
  if (!VoucherInScope(session_, cn_, family_.table, "GUID", guid_)) {
    Raise(kErrBusiness, "Q7.Rembiz.0243");
  }
  std::string sql = "Select * From " + std::string(family_.table) + " Where GUID = " + qguid_;
  if (family_.stored_read_with_version) {
    // A row version that is no number matches no stored voucher.
    std::optional<std::string> ts = RowVersion(head_.Attr("ts"));
    if (!ts) Raise(kErrBusiness, "Q7.Rembiz.0243");
    sql += " And Cast(ts As money) = " + *ts;
  }
  db::Recordset stored = cn_.Execute(NormalizeSql(sql));
  if (stored.Eof()) Raise(kErrBusiness, "Q7.Rembiz.0243");
  if (stored.Value("intBudPass").ToInt() == 1) Raise(kErrBusiness, "Q7.Rembiz.0244");
  RequireDraftMaker(session_, stored.Value("blnAudi").ToBool(), stored.Text("strPersonID"));
  stored_id_ = stored.Text("AutoID");
  stored_submitted_ = stored.Value("blnAudi").ToBool();
  CheckStored(stored);
}

void VoucherSave::TakeFreeNumber() {
  const std::string card = NumberCard();
  const std::string table(family_.table);
  // The number typed was looked up with the head; fresh ones are looked up here.
  auto taken = [&]() {
    if (number_taken_) return *std::exchange(number_taken_, std::nullopt);
    return Exists(cn_, "Select strVouchID From " + table +
                           " Where strVouchID = " + SqlText(vouch_id_) + NumberScope());
  };
  // The numbering seeds its date parts from the head; it gets the date as saved.
  const host::HeadField head = [&](std::string_view field) {
    return field == "dtLoanDate" ? loan_date_ : head_.Attr(field);
  };
  for (int fresh = 0; taken(); ++fresh) {
    if (fresh == kFreshNumbers) Raise(kErrBusiness, "Q7.Rembiz.0239");
    answer_.Clear();
    const bool by_hand =
        AsSaveFailure("Q7.Rembiz.0109", [&] { return host::NumbersTypedByHand(cn_, card); });
    if (by_hand) Raise(kErrBusiness, family_.manual_number);
    // The answer holds the number the numbering gave, as a numbering request would.
    vouch_id_ = AsSaveFailure("Q7.Rembiz.0108", [&] {
      std::string number = host::VoucherNumber(cn_, card, head, true);
      host::AnswerNumber(answer_, number);
      return number;
    });
  }
}

// A number found free may be taken by another writer before this one commits; on a database
// server that writer does not wait here, and the voucher's unique number refuses the second
// insert. Then the number is no longer free: the save goes on with a fresh one.
void VoucherSave::WriteNewHead() {
  for (int attempt = 0;; ++attempt) {
    TakeFreeNumber();
    std::optional<db::Savepoint> before;
    if (cn_.InTransaction()) before.emplace(cn_);
    try {
      WriteHead();
      if (before) before->Release();
      return;
    } catch (const db::DbError& e) {
      const bool taken = e.Number() == db::kErrConstraint &&
                         e.Description().find("duplicate key") != std::string::npos;
      if (!taken || attempt + 1 == kFreshNumbers) throw;
      if (before) before->Rollback();
    }
  }
}

void VoucherSave::WriteHead() {
  // The budget pairs are checked as the statement is built: after the checks of a changed
  // voucher and the numbering of a new one, so that those refusals come first.
  const Columns budget = BudgetColumns(head_);
  Columns columns = {
      {"strTypeCode", ValueOf(head_, "strTypeCode")},
      {"strVouchID", SqlText(vouch_id_)},
      {"dtLoanDate", SqlText(loan_date_)},
      {"strDepartID", ValueOf(head_, "strDepartID")},
      {"strLoanID", ValueOf(head_, "strLoanID")},
      {"strItemClassID", ValueOf(head_, "strItemClassID")},
      {"strItemID", ValueOf(head_, "strItemID")},
  };
  columns.insert(columns.end(), budget.begin(), budget.end());
  Columns tail = {
      {"strBill", ValueOf(head_, "strBill")},
      {"fltRate", NumberOf(head_, "fltRate")},
      {"dblMoney", head_money_},
      {"dblOldMoney", old_money_},
      {"strUsed", ValueOf(head_, "strUsed")},
  };
  columns.insert(columns.end(), tail.begin(), tail.end());
  // Who made the voucher is the session's user, whatever the page sent; a change keeps its maker.
  if (!change_) columns.emplace_back("strPersonID", SqlText(session_.UserName()));
  Columns family = FamilyColumns();
  columns.insert(columns.end(), family.begin(), family.end());
  for (int i = 1; i <= 16; ++i) {
    std::string name = "cDefine" + std::to_string(i);
    columns.emplace_back(name, ValueOf(head_, name));
  }

  const std::string table(family_.table);
  const std::string submitted = submit_on_save_ ? "1" : "0";
  if (!change_) {
    columns.insert(columns.begin(),
                   {{"GUID", qguid_}, {"blnAudi", submitted}, {"intOverBud", "-1"}});
    int64_t inserted = 0;
    cn_.Execute(NormalizeSql(InsertStatement(table, columns)), &inserted);
    // The new voucher's AutoID, where the driver tells it (PositionList asks otherwise).
    std::optional<int64_t> id = inserted == 1 ? cn_.LastInsertId() : std::nullopt;
    stored_id_ = id ? std::to_string(*id) : "";
    return;
  }
  // A row version that is no number matches no stored voucher.
  std::optional<std::string> ts = RowVersion(head_.Attr("ts"));
  if (!ts) Raise(kErrBusiness, "Q7.Rembiz.0248");
  std::string sql = "Update " + table +
                    " Set intBudPass = 0 ,intOverBud = -1 ,blnaudi = " + submitted +
                    " ,strOverPerson = null ,strOverDate = null ,strOverDesc = null";
  for (const auto& [column, value] : columns) sql += ", " + column + " = " + value;
  sql += " Where GUID = " + qguid_ + " And Cast(ts As money) = " + *ts;
  int64_t affected = 0;
  cn_.Execute(NormalizeSql(sql), &affected);
  if (affected == 0) Raise(kErrBusiness, "Q7.Rembiz.0248");
  cn_.Execute(NormalizeSql("Delete " + table + "_Sub Where MGuid = " + qguid_));
}

void VoucherSave::RestartFlow() {
  // A draft's flow (stopped by a rejection it was taken back from) waits for its submission,
  // which starts the next round: a draft never has a running flow an approver could act on.
  if (!stored_submitted_) return;
  const std::string card = FlowCard();
  std::unique_ptr<host::ApprovalFlow> flow = host::CreateApprovalFlow();
  flow->Init(session_, cn_);
  if (!flow->HasInstance(card, guid_, kFlowKind)) return;
  try {
    flow->ResetInstance(card, guid_, kFlowKind);
  } catch (const db::DbError&) {
    throw;
  } catch (const ComError& e) {
    Raise(kErrBusiness, "Q7.Rembiz.0196", e.Description());
  }
}

void VoucherSave::WriteRows() {
  xml::Node body = func_.SelectSingleNode("in/xml/body");
  if (!body) body = func_.SelectSingleNode("//body");
  const xml::NodeList rows = body.Children();
  BeforeRows(rows);
  int index = 0;
  for (const xml::Node& row : rows) WriteRow(row, index++);
}

void VoucherSave::WriteSaveHistory(const VoucherSnapshot& before) {
  if (!change_) {
    WriteHistory(session_, cn_, family_.table, guid_, history::kSaved);
    return;
  }
  // What the save changed of what was stored, rows included; a save that changed nothing is
  // still a save.
  const std::string changes = ChangesJson(before, ReadSnapshot(cn_, family_.table, guid_));
  WriteHistory(session_, cn_, family_.table, guid_, history::kChanged, "", changes);
}

void VoucherSave::Submit(Submitter submit) {
  if (!SubmitsNow()) return;
  head_.SetAttr("GUID", guid_);
  // The flow is told the number the voucher was saved under.
  head_.SetAttr("strVouchID", vouch_id_);
  submit(session_, cn_, head_);
}

void VoucherSave::PositionList() {
  if (!stored_id_.empty()) {
    // Known from the insert or the stored voucher; the type code is the one just written.
    auto_id_ = stored_id_;
    type_code_ = head_.Attr("strTypeCode");
  } else {
    db::Recordset saved =
        cn_.Execute(NormalizeSql("Select AutoID,strTypeCode From " + std::string(family_.table) +
                                 " Where GUID = " + qguid_));
    if (saved.Eof()) return;
    auto_id_ = saved.Text("AutoID");
    type_code_ = saved.Text("strTypeCode");
  }
  // A list read later in the same request opens on the saved voucher.
  xml::Node list_id = func_.SelectSingleNode("//func[@name='getVouchListID']/in/strAutoID");
  if (!list_id) return;
  list_id.SetText(auto_id_);
  xml::Node director = func_.SelectSingleNode("//func[@name='getVouchListID']/in/Director");
  if (director) director.SetText("3");
}

}  // namespace rembiz::voucher
