#include "approval/c_audit.h"

#include <memory>
#include <string>
#include <vector>

#include "budget/c_bud_ctrl.h"
#include "db/text.h"
#include "db/transaction.h"
#include "frame/batch.h"
#include "frame/convert.h"
#include "frame/registry.h"
#include "frame/sql_helpers.h"
#include "host/approval_flow.h"
#include "host/database_setup.h"
#include "host/delegation.h"
#include "host/errors.h"
#include "host/messages.h"
#include "host/notices.h"
#include "host/tasks.h"
#include "payment/cheque_registration.h"
#include "voucher/history.h"
#include "voucher/scope.h"
#include "voucher/write_offs.h"

namespace rembiz::approval {
namespace {

using frame::NormalizeSql;
using frame::SqlEscape;
using frame::XmlEscape;
using host::MessageText;

constexpr frame::FrameVariant kVariant{
    .class_name = "CAudit",
    .task_code = "",
    .entry_task = frame::EntryTask::kNone,
    .transactions = frame::Transactions::kNone,
    .error_form = frame::ErrorForm::kStandard,
    .busy_message = true,
};

constexpr frame::OperationEntry kOperations[] = {
    frame::Op<&CAudit::CheckAudit>("CheckAudit", frame::kCheckHostLock),
    frame::Op<&CAudit::GetAuditInfo>("GetAuditInfo"),
    frame::Op<&CAudit::GetAudiState>("GetAudiState"),
    frame::Op<&CAudit::AuditVouch>("AuditVouch"),
    frame::Op<&CAudit::DelAudit>("DelAudit"),
    frame::Op<&CAudit::GetDelegations>("GetDelegations"),
    frame::Op<&CAudit::SaveDelegation>("SaveDelegation"),
    frame::Op<&CAudit::DelDelegation>("DelDelegation"),
};

constexpr frame::OperationEntry kPublicProcedures[] = {
    frame::Op<&CAudit::CheckAudit>("CheckAudit"), frame::Op<&CAudit::GetAuditInfo>("GetAuditInfo"),
    frame::Op<&CAudit::AuditVouch>("AuditVouch"), frame::Op<&CAudit::GetAudiState>("GetAudiState"),
    frame::Op<&CAudit::DelAudit>("DelAudit"),
};

const frame::ClassRegistrar kRegistrar("Rembiz.CAudit", [] { return std::make_unique<CAudit>(); });

// "11" names the voucher's business flow to the flow service.
constexpr const char* kFlowKind = "11";

// A voucher kind as the approval pages name it.
struct AuditKind {
  std::string_view type;
  std::string_view table;
  std::string_view card;
  std::string_view approve_task;
  std::string_view cancel_task;
  bool loan;
};

constexpr AuditKind kAuditKinds[] = {
    {"EC03", "EC_LoanVouch", "45", "EC020201", "EC020202", true},
    {"EC01", "EC_ExpenVouch", "46", "EC020401", "EC020402", false},
    {"EC02", "EC_ExpenVouch", "47", "EC020401", "EC020402", false},
};

// The withdrawal is done from the entry pages, which name the kinds by their templates.
struct EntryKind {
  std::string_view type;
  std::string_view table;
  std::string_view card;
  std::string_view task;
};

constexpr EntryKind kEntryKinds[] = {
    {"EC01", "EC_LoanVouch", "45", "EC020101"},
    {"EC02", "EC_ExpenVouch", "46", "EC020301"},
    {"EC03", "EC_ExpenVouch", "47", "EC020301"},
};

const AuditKind* AuditKindOf(std::string_view type) {
  for (const AuditKind& kind : kAuditKinds) {
    if (kind.type == type) return &kind;
  }
  return nullptr;
}

const EntryKind* EntryKindOf(std::string_view type) {
  for (const EntryKind& kind : kEntryKinds) {
    if (kind.type == type) return &kind;
  }
  return nullptr;
}

// How the batch and the flow action check and report a listed voucher: each has its own
// message keys.
struct ListRules {
  std::string_view stale;
  std::string_view approved;
  std::string_view not_approved;
  std::string_view made;
  std::string_view paid;
  std::string_view written_off;
  // The key of a claim the cashier has verified, whose approval stays; "" when not checked.
  std::string_view verified;
  // Reads the voucher's state first without its row version, so that an approval that happened
  // meanwhile is reported as such.
  bool recheck_version;
  // The wording of a budget refusal around the budget's text; "" for the text alone.
  std::string_view budget_refused;
};

constexpr ListRules kBatchRules{"Q7.Rembiz.0167",
                                "Q7.Rembiz.0166",
                                "Q7.Rembiz.0363",
                                "Q7.Rembiz.0164",
                                "Q7.Rembiz.0163",
                                "Q7.Rembiz.0160",
                                "Q7.Rembiz.0162",
                                false,
                                ""};
constexpr ListRules kFlowRules{"Q7.Rembiz.0169",
                               "Q7.Rembiz.0168",
                               "Q7.Rembiz.0170",
                               "Q7.Rembiz.0171",
                               "Q7.Rembiz.0172",
                               "Q7.Rembiz.0173",
                               "",
                               true,
                               "Q7.Rembiz.0176"};

// The batch's flag: approve or cancel. Anything else is refused, so that a page that forgot to
// say never cancels approvals by default.
bool ApproveFlag(const std::string& flag) {
  std::string value = db::Lower(flag);
  if (value == "true" || value == "1" || value == "-1") return true;
  if (value == "false" || value == "0") return false;
  throw ComError(db::kErrInvalidRequest,
                 "Invalid request: the flag '" + flag +
                     "' says neither true (approve) nor false "
                     "(cancel).",
                 "Rembiz");
}

// A parameter of `in`: its attribute, or the text of its child element of that name.
std::string InValue(const xml::Node& func, std::string_view name) {
  xml::Node in = func.Child("in");
  if (in.HasAttr(name)) return in.Attr(name);
  return in.Child(name).Text();
}
// Whether the voucher may be approved (or its approval cancelled); the message key when not.
std::string_view Validate(db::Connection& cn, bool loan, std::string_view table,
                          const std::string& guid, const std::string& ts, bool approve,
                          const ListRules& rules) {
  if (!approve && !loan && !rules.verified.empty()) {
    db::Recordset verifier = cn.Execute(NormalizeSql(
        "select top 1 isnull(strVerifier,'') as strVerifier from EC_ExpenVouch where guid=" +
        db::SqlText(guid)));
    if (verifier.Eof()) return rules.stale;
    if (!verifier.Text("strVerifier").empty()) return rules.verified;
  }
  if (!frame::IsNumeric(db::Variant(ts))) return rules.stale;
  std::string columns = loan ? "strAuditorID,strMakerID" : "strAuditorID,strMakerID,blnSettle";
  std::string select =
      "Select " + columns + " From " + std::string(table) + " Where GUID = " + db::SqlText(guid);
  std::string versioned = select + " and Cast(ts As Money)=" + frame::SqlNumber(db::Variant(ts));
  db::Recordset voucher = cn.Execute(NormalizeSql(rules.recheck_version ? select : versioned));
  if (voucher.Eof()) return rules.stale;
  bool approved = !voucher.Text("strAuditorID").empty();
  if (approve) {
    if (approved) return rules.approved;
  } else {
    if (!approved) return rules.not_approved;
    if (!voucher.Text("strMakerID").empty()) return rules.made;
    std::string paid =
        loan ? "Select strPayID From " + std::string(table) +
                   "_Sub Where MGUID = " + db::SqlText(guid) + " And IsNull(strPayID ,'') <> ''"
             : "Select strPayID From EC_BalanceInfo Where ExpenGUID = " + db::SqlText(guid) +
                   " And IsNull(strPayID ,'') <> ''";
    if (!cn.Execute(NormalizeSql(paid)).Eof()) return rules.paid;
    if (loan && !cn.Execute(NormalizeSql("select Expenguid from EC_ExpenLoanInfo where "
                                         "Loansubguid in(SELECT Guid From EC_LoanVouch_Sub "
                                         "WHERE MGuid=" +
                                         db::SqlText(guid) + ")"))
                     .Eof()) {
      return rules.written_off;
    }
  }
  if (rules.recheck_version && cn.Execute(NormalizeSql(versioned)).Eof()) return rules.stale;
  return {};
}

// Runs the budget check that writes (or clears) the approval. Returns "" on success, otherwise
// why the budget refused; errors other than the check's own refusals go to the frame.
std::string BudgetCheck(host::Session& session, db::Connection& cn, const std::string& guid,
                        const std::string& ts, std::string_view table, bool approve) {
  budget::CBudCtrl budget;
  try {
    budget.CheckBudCtrl(session, cn, guid, ts, table, approve, false);
  } catch (const ComError& e) {
    if (e.Number() != kErrBusiness) throw;
    return e.Description();
  }
  return {};
}

// An approved claim's write-offs reach the loans, a cancelled one's leave them (the loans follow
// the links of approved claims). Returns "" or why the loans refuse: a loan row the claim would
// overdraw, or settle together with another claim.
std::string ApplyClaimWriteOffs(db::Connection& cn, const AuditKind& kind,
                                const std::string& guid) {
  if (kind.loan) return {};
  try {
    voucher::ApplyWriteOffs(cn, voucher::LinkedLoanRows(cn, guid));
  } catch (const ComError& e) {
    if (e.Number() != kErrBusiness) throw;
    return e.Description();
  }
  return {};
}

// Rolls a refused voucher back, but keeps the over-budget state the budget check found: the
// voucher stays submitted and its list shows why it cannot be approved.
void RollBackKeepingOverBudget(db::Connection& cn, db::Transaction& transaction,
                               std::string_view table, const std::string& guid,
                               const std::string& ts) {
  std::string select =
      "Select intOverBud From " + std::string(table) + " Where GUID = " + db::SqlText(guid);
  db::Recordset checked = cn.Execute(NormalizeSql(select));
  transaction.Rollback();
  if (checked.Eof() || checked.Value("intOverBud").IsNull()) return;
  int64_t over = checked.Value("intOverBud").ToInt();
  if (over == -1) return;
  db::Recordset stored = cn.Execute(NormalizeSql(select));
  if (stored.Eof() ||
      (!stored.Value("intOverBud").IsNull() && stored.Value("intOverBud").ToInt() == over)) {
    return;
  }
  cn.Execute(NormalizeSql(
      "Update " + std::string(table) + " Set intBudPass = 0 ,intOverBud = " + std::to_string(over) +
      ",strOverPerson=Null,strOverDate=Null,strOverDesc=Null Where GUID = " + db::SqlText(guid) +
      " and cast(ts as money)=" + frame::SqlNumber(db::Variant(ts))));
}

// The rows of a loan that pay an advance by a cheque-type settlement style. The cheque is
// written in the voucher's currency, so the rate factor of the amount is 1.
constexpr const char* kLoanChequeRowsSql =
    "select ec_loanvouch_sub.strPayBankID,ec_loanvouch_sub.strbalanceid,ec_loanvouch_sub."
    "strbillid,(case isnull(iotherused,0) when -1 then isnull(ec_loanvouch_sub.dblpremoney,0) "
    "else (case isnull(bcal,0) when 1 then isnull(ec_loanvouch_sub.dblpremoney,0)*1 else "
    "isnull(ec_loanvouch_sub.dblpremoney,0)/1 end) end)as dblpremoney,"
    "ec_loanvouch.strtypecode,EC_OperationType.strname as strtypename,ec_loanvouch.strvouchid,"
    "ec_loanvouch.dtloandate,"
    "ec_loanvouch.strbill,department.cdepname,person.cpersonname,ec_loanvouch.strUsed From"
    " ec_loanvouch_sub left join ec_loanvouch on ec_loanvouch_sub.mguid=ec_loanvouch.guid"
    " left join department on ec_loanvouch.strdepartid=department.cdepcode"
    " left join foreigncurrency on ec_loanvouch.strbill=foreigncurrency.cexch_name"
    " left join person on ec_loanvouch.strloanid=person.cpersoncode"
    " left join settlestyle on ec_loanvouch_sub.strbalanceid=settlestyle.csscode"
    " left join EC_OperationType on ec_loanvouch.strtypecode=EC_OperationType.strcode"
    " where IsNull(ec_loanvouch_sub.dblpremoney, 0) <> 0 and isnull(settlestyle.bssflag,0)=1"
    " and mguid='";

// The account a payment of this settlement style, bank and currency is booked on: the exact
// setting, else the setting of a parent settlement style (the longest that matches).
std::string ChequeAccount(db::Connection& cn, const std::string& style, const std::string& bank,
                          const std::string& currency) {
  // The settings name their operation in the account's own language.
  std::string operation = MessageText("Q7.Rembiz.0186", "zh-CN");
  std::string head =
      "SELECT EC_PzSet_OP.strSubject, code.ccode_name "
      "FROM EC_PzSet_OP LEFT OUTER JOIN code ON EC_PzSet_OP.strSubject = code.ccode "
      "Where EC_PzSet_OP.strOperatType = " +
      db::SqlText(operation) + " And ";
  std::string rest = " And IsNull(EC_PzSet_OP.strBankID,'') = " + db::SqlText(bank) +
                     " And IsNull(EC_PzSet_OP.strCurrency,'') = " + db::SqlText(currency);
  db::Recordset exact = cn.Execute(
      NormalizeSql(head + "IsNull(EC_PzSet_OP.strBalanceType,'') = " + db::SqlText(style) + rest));
  if (!exact.Eof()) return exact.Text("strSubject");
  db::Recordset parent = cn.Execute(
      NormalizeSql(head + db::SqlText(style) + " Like IsNull(EC_PzSet_OP.strBalanceType,'') + '%'" +
                   rest + " Order By Len(IsNull(EC_PzSet_OP.strBalanceType,'')) Desc"));
  return parent.Eof() ? "" : parent.Text("strSubject");
}

// One voucher of a batch or of a flow action, as the request lists it.
struct ListedVoucher {
  std::string guid;
  std::string ts;
  std::string type;
  std::string vouch_id;
};

}  // namespace

void RegisterLoanCheques(host::Session& session, db::Connection& cn, std::string_view guid) {
  db::Recordset rows;
  try {
    rows = cn.Execute(NormalizeSql(kLoanChequeRowsSql + SqlEscape(guid) + "'"));
  } catch (const db::DbError&) {
    Raise(kErrBusiness, "Q7.Rembiz.0183");
  }
  for (; !rows.Eof(); rows.MoveNext()) {
    std::string bill = rows.Text("strbillid");
    if (bill.empty()) Raise(kErrBusiness, "Q7.Rembiz.0182");
    std::string style = rows.Text("strbalanceid");
    std::string account = ChequeAccount(cn, style, rows.Text("strPayBankID"), rows.Text("strbill"));
    if (account.empty()) Raise(kErrBusiness, "Q7.Rembiz.0181");
    std::string person = rows.Text("cpersonname");
    bool update_flag = false;
    std::string message;
    try {
      payment::RegisterCheque(session, cn, update_flag, account, bill, style,
                              rows.Value("dblpremoney").ToDouble(), rows.Text("dtloandate"),
                              rows.Text("strUsed"), rows.Text("cdepname"), person, person, message);
    } catch (const db::DbError&) {
      Raise(kErrBusiness, "Q7.Rembiz.0365");
    } catch (const ComError& e) {
      if (e.Description().empty()) Raise(kErrBusiness, "Q7.Rembiz.0184");
      throw;
    }
  }
}

namespace {

// The task text of an approver's action for the flow service.
std::string TaskXml(std::string_view action, std::string_view remark) {
  return "<?xml version='1.0' encoding='utf-8' ?><EASTdata><task EAAID='" + XmlEscape(action) +
         "' remark='" + XmlEscape(remark) + "'/></EASTdata >";
}

// What an approver's action on a voucher's flow did, as its history tells it: a rejection
// (with the approver's remark), a pass taken back, the last step passed, or one step passed.
struct StepOutcome {
  std::string_view event;
  std::string remark;
  voucher::ActingFor acting_for;  // the approver a substitute acted for
};

StepOutcome StepOf(host::Session& session, db::Connection& cn, host::ApprovalFlow& flow,
                   const AuditKind& kind, const std::string& guid, bool approve,
                   const std::string& task_xml) {
  xml::Document task;
  task.LoadXml(task_xml);
  xml::Node node = task.SelectSingleNode("//task");
  StepOutcome out{voucher::history::kPassed, node ? node.Attr("remark") : "", {}};
  std::optional<host::FlowProgress> progress = flow.GetProgress(kind.card, guid);
  if (!approve || (node && node.Attr("EAAID") == "3")) {
    out.event = voucher::history::kTakenBack;
  } else if (progress && progress->state == 2) {
    out.event = voucher::history::kRejected;
  } else if (flow.FlowEnded()) {
    out.event = voucher::history::kApproved;
  }
  // The flow's record of the action names whom a substitute acted for; the history says the same.
  db::Recordset record = cn.Execute(
      "select top 1 r.cForUser_Id, r.cForUser_Name from Host_FlowRecord r join Host_FlowInstance "
      "i on i.iInstanceId = r.iInstanceId where i.cCardNumber = " +
      db::SqlText(kind.card) + " and i.cVouchGUID = " + db::SqlText(guid) +
      " and r.cUser_Id = " + db::SqlText(session.UserId()) + " order by r.AutoID desc");
  if (!record.Eof() && !record.Text("cForUser_Id").empty()) {
    out.acting_for = {record.Text("cForUser_Id"), record.Text("cForUser_Name")};
  }
  return out;
}

// A batch approves with the flow's pass action, without a remark.
constexpr std::string_view kPassAction = "1";

// What became of one voucher's approval or its cancellation.
struct Decision {
  enum Outcome {
    kDone,           // approved (cancelled); `text` holds a cheque the register refused
    kStepOnly,       // the operator's flow step is recorded; the flow goes on
    kFlowRefused,    // the flow refused the operator's action: `text` says why
    kBudgetRefused,  // the budget (or the loans written off) refused: `text` says why
  } outcome = kDone;
  std::string text;
};

// Approves, or cancels the approval of, one validated voucher in its own transaction. Where a
// flow applies to the voucher the operator acts on the step it waits for, as the flow allows;
// only its last step, or a voucher without a flow, goes on to the budget check that writes the
// approval. The batch and the flow action both decide through here.
Decision Decide(host::Session& session, db::Connection& cn, const AuditKind& kind,
                const std::string& guid, const std::string& ts, bool approve,
                const std::string& task_xml) {
  db::Transaction transaction(cn, 5, 20);
  std::unique_ptr<host::ApprovalFlow> flow = host::CreateApprovalFlow();
  flow->Init(session, cn);
  // Without a flow the approval (its cancellation) is the voucher's only step.
  StepOutcome step{approve ? voucher::history::kApproved : voucher::history::kTakenBack, "", {}};
  try {
    if (flow->HasInstance(kind.card, guid, kFlowKind)) {
      if (approve) {
        flow->DoTask(kind.card, guid, task_xml);
      } else {
        flow->UndoTask(kind.card, guid, kFlowKind);
      }
      step = StepOf(session, cn, *flow, kind, guid, approve, task_xml);
      // An intermediate step only moves the flow; the voucher stays submitted.
      if (!flow->FlowEnded()) {
        voucher::WriteHistory(session, cn, kind.table, guid, step.event, step.remark, "",
                              step.acting_for);
        if (approve) host::NoticeFlowAction(session, cn, kind.table, guid);
        transaction.Commit();
        return {Decision::kStepOnly, ""};
      }
    }
  } catch (const db::DbError&) {
    throw;
  } catch (const ComError& e) {
    return {Decision::kFlowRefused, e.Description()};
  }

  std::string refusal = BudgetCheck(session, cn, guid, ts, kind.table, approve);
  if (refusal.empty()) refusal = ApplyClaimWriteOffs(cn, kind, guid);
  if (!refusal.empty()) {
    RollBackKeepingOverBudget(cn, transaction, kind.table, guid, ts);
    return {Decision::kBudgetRefused, refusal};
  }
  voucher::WriteHistory(session, cn, kind.table, guid, step.event, step.remark, "",
                        step.acting_for);
  if (approve) host::NoticeApproved(session, cn, kind.table, guid);
  transaction.Commit();
  Decision done;
  if (approve && kind.loan) {
    // The approval stands; a cheque the register refuses is reported with the voucher.
    try {
      RegisterLoanCheques(session, cn, guid);
    } catch (const ComError& e) {
      if (e.Number() != kErrBusiness) throw;
      done.text = e.Description();
    }
  }
  return done;
}

// Approves, or cancels the approval of, one voucher of the batch or of the flow action once the
// operator holds the task of its kind: a voucher out of the operator's reach is one that does not
// exist, then the voucher's state, then the decision. A refusal raises error 9000; returns the
// text of a cheque the register refused ("" without one).
std::string ActOnListed(host::Session& session, db::Connection& cn, voucher::VoucherScope& scope,
                        const AuditKind& kind, const ListedVoucher& v, bool approve,
                        const std::string& task_xml, const ListRules& rules) {
  std::string_view key = scope.Reaches(cn, kind.table, "GUID", v.guid)
                             ? Validate(cn, kind.loan, kind.table, v.guid, v.ts, approve, rules)
                             : rules.stale;
  if (!key.empty()) Raise(kErrBusiness, key);
  Decision decision = Decide(session, cn, kind, v.guid, v.ts, approve, task_xml);
  switch (decision.outcome) {
    case Decision::kBudgetRefused:
      if (!rules.budget_refused.empty()) Raise(kErrBusiness, rules.budget_refused, decision.text);
      [[fallthrough]];
    case Decision::kFlowRefused:
      throw ComError(kErrBusiness, decision.text, "Rembiz");
    case Decision::kDone:
    case Decision::kStepOnly:
      break;
  }
  return decision.text;
}

}  // namespace

const frame::FrameVariant& CAudit::Variant() const { return kVariant; }
std::span<const frame::OperationEntry> CAudit::Operations() const { return kOperations; }
std::span<const frame::OperationEntry> CAudit::PublicProcedures() const {
  return kPublicProcedures;
}

bool CAudit::CheckAudit(host::Session& session, db::Connection& cn, xml::Node& func,
                        xml::Document& answer) {
  xml::Node in = func.Child("in");
  std::string flag = in.HasAttr("flag") ? in.Attr("flag") : in.Child("flag").Text();
  bool approve = ApproveFlag(flag);
  std::string done;
  int position = 0;
  frame::Batch batch([&](const std::string& text) {
    return MessageText("Q7.Rembiz.0165", "", std::to_string(position), text);
  });
  voucher::VoucherScope scope(session);
  const std::string task_xml = TaskXml(kPassAction, "");
  for (const xml::Node& item : in.Children()) {
    if (item.Name() == "flag") continue;
    ++position;
    ListedVoucher v{item.Attr("guid"), item.Attr("ts"), item.Attr("strType"),
                    item.Attr("strVouchID")};
    batch.Run(v.guid, [&] {
      const AuditKind* kind = AuditKindOf(v.type);
      if (!kind) Raise(kErrBusiness, "Q7.Rembiz.0161");
      host::TaskHold task(&session, approve ? kind->approve_task : kind->cancel_task);
      if (!task.Applied()) throw ComError(kErrBusiness, task.RefusalText(), "Rembiz");
      std::string cheque =
          ActOnListed(session, cn, scope, *kind, v, approve, task_xml, kBatchRules);
      done += "<row guid='" + XmlEscape(v.guid) + "' ts='" + XmlEscape(v.ts) + "' strType='" +
              XmlEscape(v.type) + "' strVouchID='" + XmlEscape(v.vouch_id) + "' />";
      // The approval stands; the cheque the register refused is listed with the errors.
      if (!cheque.empty()) throw ComError(kErrBusiness, cheque, "Rembiz");
    });
  }
  // The errors travel inside the answer's one element, after the vouchers that were done.
  answer.LoadXml("<Rows flag='" + XmlEscape(flag) + "'>" + done + batch.ErrorListXml() + "</Rows>");
  return true;
}

bool CAudit::AuditVouch(host::Session& session, db::Connection& cn, xml::Node& func,
                        xml::Document& answer) {
  xml::Node task = func.SelectSingleNode(".//EASTdata/task");
  const std::string task_xml = TaskXml(task.Attr("EAAID"), task.Attr("remark"));
  xml::Node rows = func.SelectSingleNode(".//strGUID/Rows");
  if (!rows || rows.Children().empty()) {
    throw ComError(db::kErrInvalidRequest,
                   "Invalid request: the approval action names no voucher (strGUID/Rows/row).",
                   "Rembiz");
  }
  bool approve = rows.Attr("flag") == "1";

  std::string vouch_id;
  frame::Batch batch([&](const std::string& text) { return vouch_id + ": " + text; });
  voucher::VoucherScope scope(session);
  for (const xml::Node& item : rows.Children()) {
    ListedVoucher v{item.Attr("strGUID"), item.Attr("ts"), item.Attr("strType"),
                    item.Attr("strVouchID")};
    vouch_id = v.vouch_id;
    const AuditKind* kind = AuditKindOf(v.type);
    if (!kind) {
      batch.Refuse(v.guid, MessageText("Q7.Rembiz.0174") + v.vouch_id);
      continue;
    }
    host::TaskHold hold(&session, approve ? kind->approve_task : kind->cancel_task);
    if (!hold.Applied()) {
      batch.Refuse(v.guid, MessageText("Q7.Rembiz.0175") + v.vouch_id);
      continue;
    }
    batch.Run(v.guid, [&] {
      std::string cheque = ActOnListed(session, cn, scope, *kind, v, approve, task_xml, kFlowRules);
      if (!cheque.empty()) throw ComError(kErrBusiness, cheque, "Rembiz");
    });
  }
  batch.RaiseRefusals();
  answer.LoadXml("<Return />");
  return true;
}

bool CAudit::GetAuditInfo(host::Session& session, db::Connection& cn, xml::Node& func,
                          xml::Document& answer) {
  std::string guid = InValue(func, "guid");
  const AuditKind* kind = AuditKindOf(InValue(func, "strType"));
  if (!kind) Raise(kErrBusiness, "Q7.Rembiz.0161");
  // A voucher out of the operator's reach has no flow, as one that does not exist.
  if (!voucher::VoucherInScope(session, cn, kind->table, "GUID", guid)) guid.clear();
  std::unique_ptr<host::ApprovalFlow> flow = host::CreateApprovalFlow();
  flow->Init(session, cn);
  std::string info = flow->GetFlowInfo(kind->card, guid, kFlowKind);
  answer.LoadXml("<data>\n" + info + "\n</data>");
  return true;
}

bool CAudit::GetAudiState(host::Session& session, db::Connection& cn, xml::Node& func,
                          xml::Document& answer) {
  std::string guid = InValue(func, "GUID");
  std::string type = InValue(func, "strType");
  std::string_view card = "46";
  if (!type.empty() && type.front() == '3') card = "45";
  if (!type.empty() && type.front() == '2') card = "47";
  // A voucher out of the operator's reach has no flow records, as one that does not exist.
  if (!voucher::VoucherInScope(session, cn, card == "45" ? "EC_LoanVouch" : "EC_ExpenVouch", "GUID",
                               guid)) {
    guid.clear();
  }

  std::unique_ptr<host::ApprovalFlow> flow = host::CreateApprovalFlow();
  flow->Init(session, cn);
  std::string rows;
  std::string print;
  if (flow->HasInstance(card, guid, kFlowKind)) {
    db::Recordset records = flow->GetFlowRecords(card, guid, kFlowKind);
    for (; !records.Eof(); records.MoveNext()) {
      rows += "<row ";
      std::string acted_for = records.Text("cForUser_Name");
      for (int i = 0; i < records.FieldCount(); ++i) {
        // Whom a substitute acted for is told only where one did: other records keep their
        // four fields.
        if (records.Field(i).name == "cForUser_Name" && acted_for.empty()) continue;
        rows += records.Field(i).name + "='" + XmlEscape(records.Value(i).ToText()) + "' ";
      }
      rows += "/>";
      print += MessageText("Q7.Rembiz.0381") + records.Text("cUser_Name") +
               (acted_for.empty() ? "" : MessageText("Rembiz.Host.FlowActedFor", "", acted_for)) +
               " " + MessageText("Q7.Rembiz.0382") + records.Text("EAA_Name") +
               MessageText("Q7.Rembiz.0383") + records.Text("remark") +
               MessageText("Q7.Rembiz.0384") + records.Text("EA_time") + "\n";
    }
  }
  answer.LoadXml("<Rows>" + rows + "<EASPrintData>" + XmlEscape(print) + "</EASPrintData></Rows>");
  return true;
}

bool CAudit::DelAudit(host::Session& session, db::Connection& cn, xml::Node& func,
                      xml::Document& answer) {
  std::string guid = func.SelectSingleNode("in/GUID").Text();
  std::string ts = func.SelectSingleNode("in/ts").Text();
  const EntryKind* kind = EntryKindOf(func.SelectSingleNode("in/type").Text());
  if (!kind) Raise(kErrBusiness, "Q7.Rembiz.0177");
  host::TaskHold hold(&session, kind->task);
  if (!hold.Applied()) throw ComError(kErrBusiness, hold.RefusalText(), "Rembiz");
  std::string table(kind->table);

  if (!frame::IsNumeric(db::Variant(ts))) Raise(kErrBusiness, "Q7.Rembiz.0385");
  // A voucher out of the operator's reach is not found.
  if (!voucher::VoucherInScope(session, cn, table, "GUID", guid)) {
    Raise(kErrBusiness, "Q7.Rembiz.0385");
  }
  db::Recordset voucher =
      cn.Execute(NormalizeSql("Select blnAudi,strAuditorID,intBudPass,intOverBud  From " + table +
                              " Where GUID = " + db::SqlText(guid) +
                              "  And Cast(ts As money) = " + frame::SqlNumber(db::Variant(ts))));
  if (voucher.Eof()) Raise(kErrBusiness, "Q7.Rembiz.0385");
  if (!frame::ToBool(voucher.Value("blnAudi"))) Raise(kErrBusiness, "Q7.Rembiz.0178");
  if (!voucher.Text("strAuditorID").empty()) Raise(kErrBusiness, "Q7.Rembiz.0179");
  if (voucher.Value("intBudPass").ToInt() == 1) Raise(kErrBusiness, "Q7.Rembiz.0374");

  db::Transaction transaction(cn, 5, 20);
  std::unique_ptr<host::ApprovalFlow> flow = host::CreateApprovalFlow();
  flow->Init(session, cn);
  if (flow->HasInstance(kind->card, guid, kFlowKind)) {
    flow->WithdrawInstance(cn, kind->card, guid, kFlowKind);
  }
  int64_t affected = 0;
  cn.Execute(NormalizeSql("Update " + table +
                          " Set blnAudi = 0,intOverBud=-1,strOverPerson=Null,strOverDate=Null,"
                          "strOverDesc=Null Where blnAudi = 1 And Isnull(strAuditorID,'') = '' "
                          "And GUID = " +
                          db::SqlText(guid)),
             &affected);
  if (affected != 1) Raise(kErrBusiness, "Q7.Rembiz.0178");
  voucher::WriteHistory(session, cn, table, guid, voucher::history::kWithdrawn);
  db::Recordset version = cn.Execute(NormalizeSql("Select Cast(ts as money) as ts From " + table +
                                                  " Where GUID = " + db::SqlText(guid)));
  if (version.Eof()) Raise(kErrBusiness, "Q7.Rembiz.0180");
  std::string new_ts = version.Text("ts");
  transaction.Commit();
  answer.LoadXml("<RetValue ts='" + new_ts + "' />");
  return true;
}

// Substitutes while away: every operator keeps their own, an administrator anyone's; the rules
// live with the delegations (host/delegation.h).
bool CAudit::GetDelegations(host::Session& session, db::Connection& cn, xml::Node& func,
                            xml::Document& answer) {
  db::Recordset rows = host::ListDelegations(session, cn, InValue(func, "user"));
  answer.LoadXml("<Rows today='" + XmlEscape(host::TodayText()) + "'>" + frame::RowXml(rows) +
                 "</Rows>");
  return true;
}

bool CAudit::SaveDelegation(host::Session& session, db::Connection& cn, xml::Node& func,
                            xml::Document& answer) {
  host::DelegationInput input{InValue(func, "user"), InValue(func, "substitute"),
                              InValue(func, "from"), InValue(func, "to"), InValue(func, "remark")};
  db::Transaction transaction(cn, 5, 20);
  int64_t id = host::SaveDelegation(session, cn, input, host::TodayText());
  transaction.Commit();
  answer.LoadXml("<RetValue AutoID='" + std::to_string(id) + "' />");
  return true;
}

bool CAudit::DelDelegation(host::Session& session, db::Connection& cn, xml::Node& func,
                           xml::Document& answer) {
  db::Transaction transaction(cn, 5, 20);
  host::RemoveDelegation(session, cn, InValue(func, "AutoID"), InValue(func, "ts"));
  transaction.Commit();
  answer.LoadXml("<Return />");
  return true;
}

}  // namespace rembiz::approval
