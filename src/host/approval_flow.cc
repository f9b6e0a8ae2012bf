#include "host/approval_flow.h"

#include <optional>
#include <vector>

#include "db/error.h"
#include "db/text.h"
#include "db/variant.h"
#include "host/errors.h"
#include "host/messages.h"
#include "host/service_sql.h"
#include "xml/document.h"
#include "xml/escape.h"

namespace rembiz::host {
namespace {

constexpr std::string_view kInstanceKind = "11";

// Instance states (Host_FlowInstance.iState) and action effects (Host_FlowAction.iEffect).
constexpr int kRunning = 0;
constexpr int kEnded = 1;
// Rejected, or taken back by its submitter after an approver acted: the records stay as
// history and the next submission starts a new round.
constexpr int kStopped = 2;
constexpr int kPass = 1;
constexpr int kReject = 2;
constexpr int kTakeBack = 3;

// Actions that count as an approver's decision on a step (not take-backs).
constexpr const char* kDecisions =
    "EAAID in (select EAAID from Host_FlowAction where iEffect in (1, 2))";
constexpr const char* kPasses = "EAAID in (select EAAID from Host_FlowAction where iEffect = 1)";

bool EndsWith(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

std::string Attr(std::string_view name, std::string_view value) {
  return " " + std::string(name) + "='" + xml::XmlEscape(value) + "'";
}

struct Instance {
  int64_t id = 0;
  int64_t flow = 0;
  int64_t step = 0;
  int64_t state = 0;
  int64_t round = 1;
};

// The routing values a voucher description carries.
struct Routing {
  double amount = 0;
  std::string department;
  std::string type;
  std::string auth;
};

class TableApprovalFlow : public ApprovalFlow {
 public:
  bool FlowEnded() const override { return flow_ended_; }

  void Init(Session& session, db::Connection& cn) override {
    session_ = &session;
    cn_ = &cn;
    flow_ended_ = false;
  }

  db::Recordset GetFlowRecords(std::string_view card, std::string_view guid,
                               std::string_view code) override {
    RequireBound();
    Instance instance = Existing(*cn_, card, guid, code);
    bool english = CurrentLanguageIsEnglish();
    return cn_->Execute(
        std::string("select r.cUser_Name, ") +
        (english ? "isnull(a.EAA_NameEn, a.EAA_Name)" : "a.EAA_Name") +
        " as EAA_Name, r.remark, r.EA_time from Host_FlowRecord r left join Host_FlowAction a "
        "on a.EAAID = r.EAAID where r.iInstanceId = " +
        std::to_string(instance.id) + " order by r.AutoID");
  }

  void DoTask(std::string_view card, std::string_view guid, std::string_view task_xml) override {
    RequireBound();
    flow_ended_ = false;
    xml::Document task_doc;
    xml::Node task;
    if (task_doc.LoadXml(task_xml)) task = task_doc.SelectSingleNode("//EASTdata/task");
    std::string action = task.Attr("EAAID");
    std::string remark = task.Attr("remark");
    db::Recordset effect_rs =
        cn_->Execute("select iEffect from Host_FlowAction where EAAID = " + SqlText(action));
    if (!task || effect_rs.Eof()) Raise(kErrBusiness, "Rembiz.Host.FlowBadTask");
    int64_t effect = effect_rs.Value("iEffect").ToInt();
    if (effect == kTakeBack) return TakeBack(card, guid);

    std::optional<Instance> instance = Find(*cn_, card, guid);
    if (!instance) Raise(kErrBusiness, "Rembiz.Host.FlowNoInstance");
    if (instance->state != kRunning) Raise(kErrBusiness, "Rembiz.Host.FlowNotRunning");
    std::string user = session_->UserId();
    if (!IsApprover(*instance, user)) {
      Raise(kErrBusiness, "Rembiz.Host.FlowNotApprover", session_->UserName(), StepName(*instance));
    }
    db::Recordset done = cn_->Execute(
        "select count(*) as n from Host_FlowRecord where iInstanceId = " +
        std::to_string(instance->id) + " and iRound = " + std::to_string(instance->round) +
        " and iStep = " + std::to_string(instance->step) +
        " and bUndone = 0 and cUser_Id = " + SqlText(user) + " and " + kDecisions);
    if (done.Value("n").ToInt() > 0) Raise(kErrBusiness, "Rembiz.Host.FlowAlreadyDone");

    // A rejection goes back to the one who entered the voucher, who needs to read why.
    if (effect == kReject && db::Trim(remark).empty()) {
      Raise(kErrBusiness, "Rembiz.Host.FlowRejectRemark");
    }
    AddRecord(*instance, instance->step, action, remark);
    std::string where = " where iInstanceId = " + std::to_string(instance->id);
    if (effect == kReject) {
      std::optional<int64_t> back = PreviousStep(*instance);
      if (back) {
        // Back to the step before: its decisions of this round no longer count.
        cn_->Execute("update Host_FlowRecord set bUndone = 1" + where +
                     " and iRound = " + std::to_string(instance->round) +
                     " and iStep = " + std::to_string(*back) + " and " + kDecisions);
        cn_->Execute("update Host_FlowInstance set iCurStep = " + std::to_string(*back) + where);
        return;
      }
      cn_->Execute("update Host_FlowInstance set iState = 2, dEndTime = getdate()" + where);
      return;
    }
    if (effect != kPass || !StepPassed(*instance)) return;
    std::optional<int64_t> next = NextStep(instance->flow, instance->step);
    if (next) {
      cn_->Execute("update Host_FlowInstance set iCurStep = " + std::to_string(*next) + where);
    } else {
      cn_->Execute("update Host_FlowInstance set iState = 1, dEndTime = getdate()" + where);
      flow_ended_ = true;
    }
  }

  void UndoTask(std::string_view card, std::string_view guid, std::string_view code) override {
    RequireBound();
    flow_ended_ = false;
    RequireKnownKind(code);
    TakeBack(card, guid);
  }

  std::vector<std::string> WaitingApprovers(std::string_view card, std::string_view guid) override {
    RequireBound();
    std::optional<Instance> instance = Find(*cn_, card, guid);
    std::vector<std::string> users;
    if (!instance || instance->state != kRunning) return users;
    std::string of_step = " a.iFlowId = " + std::to_string(instance->flow) +
                          " and a.iStep = " + std::to_string(instance->step);
    db::Recordset rs = cn_->Execute(
        "select a.cApprover_Id as u from Host_FlowApprover a where" + of_step +
        " and a.iIsUser = 1 union select r.cUser_Id as u from Host_FlowApprover a join "
        "QDSystem..UA_Role r on r.cGroup_Id = a.cApprover_Id where" +
        of_step +
        " and a.iIsUser = 0 union select i.cHead_Id as u from Host_FlowInstance i where "
        "i.iInstanceId = " +
        std::to_string(instance->id) +
        " and isnull(i.cHead_Id, '') <> '' and exists (select 1 from Host_FlowApprover a where" +
        of_step + " and a.iIsUser = 2) order by u");
    for (; !rs.Eof(); rs.MoveNext()) users.push_back(rs.Text("u"));
    return users;
  }

  std::optional<FlowProgress> GetProgress(std::string_view card, std::string_view guid) override {
    RequireBound();
    db::Recordset rs = cn_->Execute(
        std::string("select i.iState, (select count(*) from Host_FlowStep s where s.iFlowId = "
                    "i.iFlowId and s.iStep <= i.iCurStep) as nPosition, (select count(*) from "
                    "Host_FlowStep s where s.iFlowId = i.iFlowId) as nSteps, (select count(*) "
                    "from Host_FlowRecord r where r.iInstanceId = i.iInstanceId and r.iRound = "
                    "i.iRound and r.bUndone = 0 and r.") +
        kPasses + ") as nPasses from Host_FlowInstance i where i.cCardNumber = " + SqlText(card) +
        " and i.cVouchGUID = " + SqlText(guid));
    if (rs.Eof()) return std::nullopt;
    FlowProgress progress;
    progress.state = rs.Value("iState").ToInt();
    progress.position = rs.Value("nPosition").ToInt();
    progress.steps = rs.Value("nSteps").ToInt();
    progress.passed = rs.Value("nPasses").ToInt() > 0;
    return progress;
  }

  std::string GetFlowInfo(std::string_view card, std::string_view guid,
                          std::string_view code) override {
    RequireBound();
    Instance instance = Existing(*cn_, card, guid, code);
    std::string flow_id = std::to_string(instance.flow);
    db::Recordset flow = cn_->Execute("select cFlowName from Host_Flow where iFlowId = " + flow_id);
    db::Recordset head = cn_->Execute(
        "select cVouchCode, dStartTime, dEndTime from Host_FlowInstance where iInstanceId = " +
        std::to_string(instance.id));
    std::string out =
        "<flow" + Attr("card", card) + Attr("id", flow_id) +
        Attr("name", flow.Eof() ? "" : flow.Text("cFlowName")) +
        Attr("vouchcode", head.Text("cVouchCode")) + Attr("state", std::to_string(instance.state)) +
        Attr("step", std::to_string(instance.step)) +
        Attr("round", std::to_string(instance.round)) + Attr("start", head.Text("dStartTime")) +
        Attr("end", head.Text("dEndTime")) + ">";
    db::Recordset steps = cn_->Execute(
        "select iStep, cStepName, iPassMode from Host_FlowStep where iFlowId = " + flow_id +
        " order by iStep");
    db::Recordset approvers = cn_->Execute(
        "select iStep, iIsUser, cApprover_Id from Host_FlowApprover where iFlowId = " + flow_id +
        " order by iStep, iIsUser desc, cApprover_Id");
    for (; !steps.Eof(); steps.MoveNext()) {
      int64_t step = steps.Value("iStep").ToInt();
      out += "<step" + Attr("no", std::to_string(step)) + Attr("name", steps.Text("cStepName")) +
             Attr("passmode", steps.Text("iPassMode")) +
             Attr("current", step == instance.step && instance.state == kRunning ? "1" : "0") + ">";
      for (const auto& row : approvers.Rows()) {
        if (row[0].ToInt() != step) continue;
        out += "<approver" + Attr("id", row[2].ToText()) + Attr("user", row[1].ToText()) + "/>";
      }
      out += "</step>";
    }
    db::Recordset records = cn_->Execute(
        std::string("select r.iRound, r.iStep, r.cUser_Id, r.cUser_Name, r.EAAID, ") +
        (CurrentLanguageIsEnglish() ? "isnull(a.EAA_NameEn, a.EAA_Name)" : "a.EAA_Name") +
        " as EAA_Name, r.remark, r.EA_time, r.bUndone from Host_FlowRecord r left join "
        "Host_FlowAction a on a.EAAID = r.EAAID where r.iInstanceId = " +
        std::to_string(instance.id) + " order by r.AutoID");
    for (; !records.Eof(); records.MoveNext()) {
      out += "<record" + Attr("round", records.Text("iRound")) +
             Attr("step", records.Text("iStep")) + Attr("user", records.Text("cUser_Id")) +
             Attr("username", records.Text("cUser_Name")) + Attr("action", records.Text("EAAID")) +
             Attr("actionname", records.Text("EAA_Name")) + Attr("remark", records.Text("remark")) +
             Attr("time", records.Text("EA_time")) +
             Attr("undone", records.Value("bUndone").ToBool() ? "1" : "0") + "/>";
    }
    return out + "</flow>";
  }

  void DropInstance(db::Connection& cn, std::string_view card, std::string_view guid,
                    std::string_view code) override {
    RequireBound();
    Instance instance = Existing(cn, card, guid, code);
    // The records go with the instance (trigger).
    cn.Execute("delete from Host_FlowInstance where iInstanceId = " + std::to_string(instance.id));
  }

  void WithdrawInstance(db::Connection& cn, std::string_view card, std::string_view guid,
                        std::string_view code) override {
    RequireBound();
    Instance instance = Existing(cn, card, guid, code);
    std::string id = std::to_string(instance.id);
    db::Recordset acted =
        cn.Execute("select count(*) as n from Host_FlowRecord where iInstanceId = " + id);
    if (acted.Value("n").ToInt() == 0) {
      cn.Execute("delete from Host_FlowInstance where iInstanceId = " + id);
    } else {
      cn.Execute("update Host_FlowInstance set iState = " + std::to_string(kStopped) +
                 ", dEndTime = getdate() where iInstanceId = " + id);
    }
  }

  void ResetInstance(std::string_view card, std::string_view guid, std::string_view code) override {
    RequireBound();
    Instance instance = Existing(*cn_, card, guid, code);
    std::optional<int64_t> first = FirstStep(instance.flow);
    if (!first) Raise(kErrBusiness, "Rembiz.Host.FlowNoSteps");
    cn_->Execute("update Host_FlowInstance set iCurStep = " + std::to_string(*first) +
                 ", iState = 0, iRound = iRound + 1, dStartTime = getdate(), dEndTime = null "
                 "where iInstanceId = " +
                 std::to_string(instance.id));
  }

  bool HasInstance(std::string_view card, std::string_view guid, std::string_view code) override {
    RequireBound();
    RequireKnownKind(code);
    return Find(*cn_, card, guid).has_value();
  }

  bool CanStart(std::string_view card, std::string* flow_id, std::string* flow_name) override {
    RequireBound();
    db::Recordset rs = cn_->Execute(
        "select iFlowId, cFlowName from Host_Flow where cCardNumber = " + SqlText(card) +
        " and bActive = 1 and exists (select 1 from Host_FlowStep s where s.iFlowId = "
        "Host_Flow.iFlowId) order by iPriority, iFlowId");
    if (rs.Eof()) return false;
    if (flow_id) *flow_id = rs.Text("iFlowId");
    if (flow_name) *flow_name = rs.Text("cFlowName");
    return true;
  }

  void StartInstance(db::Connection& cn, std::string_view card, std::string_view guid,
                     std::string_view vouch_code, std::string_view eadata) override {
    RequireBound();
    std::optional<Routing> routing = ReadRouting(eadata);
    if (!routing) Raise(kErrBusiness, "Rembiz.Host.FlowBadData");
    std::optional<int64_t> flow = ChooseFlow(cn, card, *routing);
    if (!flow) Raise(kErrBusiness, "Rembiz.Host.FlowNoMatch", vouch_code);
    std::optional<int64_t> first = FirstStep(*flow, &cn);
    // A step of the department's head needs one now, or the voucher would wait for nobody.
    std::string head = DepartmentHead(cn, routing->department);
    bool needs_head = !cn.Execute(
                             "select 1 from Host_FlowApprover where iIsUser = 2 and "
                             "iFlowId = " +
                             std::to_string(*flow))
                           .Eof();
    if (needs_head && head.empty()) {
      Raise(kErrBusiness, "Rembiz.Host.FlowNoHead", routing->department);
    }
    std::string values_flow = std::to_string(*flow);
    std::string values_step = std::to_string(first.value_or(1));
    std::string amount = SqlMoney(routing->amount);
    std::optional<Instance> existing = Find(cn, card, guid);
    if (existing) {
      // Started again (a changed voucher): a round that saw actions stays as history.
      db::Recordset acted = cn.Execute(
          "select count(*) as n from Host_FlowRecord where iInstanceId = " +
          std::to_string(existing->id) + " and iRound = " + std::to_string(existing->round));
      std::string round = acted.Value("n").ToInt() > 0 ? "iRound + 1" : "iRound";
      cn.Execute("update Host_FlowInstance set cVouchCode = " + SqlTextOrNull(vouch_code) +
                 ", iFlowId = " + values_flow + ", iCurStep = " + values_step +
                 ", iState = 0, iRound = " + round + ", cEAdata = " + SqlText(eadata) +
                 ", cAuth_Id = " + SqlTextOrNull(routing->auth) +
                 ", cDepCode = " + SqlTextOrNull(routing->department) +
                 ", cTypeCode = " + SqlTextOrNull(routing->type) + ", mAmount = " + amount +
                 ", cStarter_Id = " + SqlTextOrNull(session_->UserId()) +
                 ", cHead_Id = " + SqlTextOrNull(head) +
                 ", dStartTime = getdate(), dEndTime = null where iInstanceId = " +
                 std::to_string(existing->id));
      return;
    }
    cn.Execute(
        "insert into Host_FlowInstance (cCardNumber, cVouchGUID, cVouchCode, iFlowId, iCurStep, "
        "iState, iRound, cEAdata, cAuth_Id, cDepCode, cTypeCode, mAmount, cStarter_Id, "
        "cHead_Id) values (" +
        SqlText(card) + ", " + SqlText(guid) + ", " + SqlTextOrNull(vouch_code) + ", " +
        values_flow + ", " + values_step + ", 0, 1, " + SqlText(eadata) + ", " +
        SqlTextOrNull(routing->auth) + ", " + SqlTextOrNull(routing->department) + ", " +
        SqlTextOrNull(routing->type) + ", " + amount + ", " + SqlTextOrNull(session_->UserId()) +
        ", " + SqlTextOrNull(head) + ")");
  }

 private:
  void RequireBound() const {
    if (!cn_ || !session_) Raise(kErrBusiness, "Rembiz.Host.FlowNotBound");
  }

  static std::string Lower(std::string text) {
    for (char& c : text) {
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
  }

  static void RequireKnownKind(std::string_view code) {
    if (code != kInstanceKind) Raise(kErrBusiness, "Rembiz.Host.FlowBadKind", code);
  }

  std::optional<Instance> Find(db::Connection& cn, std::string_view card, std::string_view guid) {
    db::Recordset rs = cn.Execute(
        "select iInstanceId, iFlowId, iCurStep, iState, iRound from Host_FlowInstance where "
        "cCardNumber = " +
        SqlText(card) + " and cVouchGUID = " + SqlText(guid));
    if (rs.Eof()) return std::nullopt;
    return Instance{rs.Value("iInstanceId").ToInt(), rs.Value("iFlowId").ToInt(),
                    rs.Value("iCurStep").ToInt(), rs.Value("iState").ToInt(),
                    rs.Value("iRound").ToInt()};
  }

  // The instance of an operation that needs one; refused without one.
  Instance Existing(db::Connection& cn, std::string_view card, std::string_view guid,
                    std::string_view code) {
    RequireKnownKind(code);
    std::optional<Instance> instance = Find(cn, card, guid);
    if (!instance) Raise(kErrBusiness, "Rembiz.Host.FlowNoInstance");
    return *instance;
  }

  std::optional<int64_t> StepQuery(const std::string& sql, db::Connection* cn = nullptr) {
    db::Recordset rs = (cn ? cn : cn_)->Execute(sql);
    if (rs.Eof() || rs.Value("s").IsNull()) return std::nullopt;
    return rs.Value("s").ToInt();
  }
  std::optional<int64_t> FirstStep(int64_t flow, db::Connection* cn = nullptr) {
    return StepQuery(
        "select min(iStep) as s from Host_FlowStep where iFlowId = " + std::to_string(flow), cn);
  }
  std::optional<int64_t> NextStep(int64_t flow, int64_t step) {
    return StepQuery("select min(iStep) as s from Host_FlowStep where iFlowId = " +
                     std::to_string(flow) + " and iStep > " + std::to_string(step));
  }

  // The step a rejection sends the instance back to, when its flow says so and there is one.
  std::optional<int64_t> PreviousStep(const Instance& instance) {
    db::Recordset flow = cn_->Execute("select iRejectAction from Host_Flow where iFlowId = " +
                                      std::to_string(instance.flow));
    if (flow.Eof() || flow.Value("iRejectAction").ToInt() != 1) return std::nullopt;
    return StepQuery("select max(iStep) as s from Host_FlowStep where iFlowId = " +
                     std::to_string(instance.flow) + " and iStep < " +
                     std::to_string(instance.step));
  }

  std::string StepName(const Instance& instance) {
    db::Recordset rs = cn_->Execute(
        "select cStepName from Host_FlowStep where iFlowId = " + std::to_string(instance.flow) +
        " and iStep = " + std::to_string(instance.step));
    return rs.Eof() ? std::to_string(instance.step) : rs.Text("cStepName");
  }

  // The operator is named at the step, holds a role named there, or is the department's head
  // the instance started with where the step names the head.
  bool IsApprover(const Instance& instance, const std::string& user) {
    db::Recordset rs = cn_->Execute(
        "select count(*) as n from Host_FlowApprover where iFlowId = " +
        std::to_string(instance.flow) + " and iStep = " + std::to_string(instance.step) +
        " and ((iIsUser = 1 and cApprover_Id = " + SqlText(user) +
        ") or (iIsUser = 0 and cApprover_Id in (select cGroup_Id from QDSystem..UA_Role where "
        "cUser_Id = " +
        SqlText(user) +
        ")) or (iIsUser = 2 and exists (select 1 from Host_FlowInstance i where i.iInstanceId = " +
        std::to_string(instance.id) + " and i.cHead_Id = " + SqlText(user) + ")))");
    return rs.Value("n").ToInt() > 0;
  }

  // Pass mode 0: one pass suffices. Pass mode 1: every approver user of the step has passed in
  // this round.
  bool StepPassed(const Instance& instance) {
    std::string flow = std::to_string(instance.flow);
    std::string step = std::to_string(instance.step);
    db::Recordset mode = cn_->Execute(
        "select iPassMode from Host_FlowStep where iFlowId = " + flow + " and iStep = " + step);
    if (mode.Eof() || mode.Value("iPassMode").ToInt() != 1) return true;
    db::Recordset pending = cn_->Execute(
        "select count(*) as n from Host_FlowApprover a where a.iFlowId = " + flow +
        " and a.iStep = " + step +
        " and a.iIsUser = 1 and not exists (select 1 from Host_FlowRecord r where "
        "r.iInstanceId = " +
        std::to_string(instance.id) + " and r.iRound = " + std::to_string(instance.round) +
        " and r.iStep = " + step + " and r.bUndone = 0 and r.cUser_Id = a.cApprover_Id and r." +
        kPasses + ")");
    return pending.Value("n").ToInt() == 0;
  }

  void AddRecord(const Instance& instance, int64_t step, std::string_view action,
                 std::string_view remark) {
    cn_->Execute(
        "insert into Host_FlowRecord (iInstanceId, iRound, iStep, cUser_Id, cUser_Name, EAAID, "
        "remark) values (" +
        std::to_string(instance.id) + ", " + std::to_string(instance.round) + ", " +
        std::to_string(step) + ", " + SqlText(session_->UserId()) + ", " +
        SqlText(session_->UserName()) + ", " + SqlText(action) + ", " + SqlTextOrNull(remark) +
        ")");
  }

  void TakeBack(std::string_view card, std::string_view guid) {
    std::optional<Instance> instance = Find(*cn_, card, guid);
    if (!instance) Raise(kErrBusiness, "Rembiz.Host.FlowNoInstance");
    std::string of_round = " where iInstanceId = " + std::to_string(instance->id) +
                           " and iRound = " + std::to_string(instance->round);
    db::Recordset last =
        cn_->Execute("select AutoID, iStep from Host_FlowRecord" + of_round +
                     " and bUndone = 0 and cUser_Id = " + SqlText(session_->UserId()) + " and " +
                     kDecisions + " order by AutoID desc");
    if (last.Eof()) Raise(kErrBusiness, "Rembiz.Host.FlowNothingToUndo", session_->UserName());
    std::string record = last.Text("AutoID");
    int64_t step = last.Value("iStep").ToInt();
    db::Recordset later = cn_->Execute(
        "select count(*) as n from Host_FlowRecord" + of_round + " and bUndone = 0 and AutoID > " +
        record + " and iStep <> " + std::to_string(step) + " and " + kDecisions);
    if (later.Value("n").ToInt() > 0) Raise(kErrBusiness, "Rembiz.Host.FlowLaterStep");

    cn_->Execute("update Host_FlowRecord set bUndone = 1 where AutoID = " + record);
    db::Recordset action =
        cn_->Execute("select EAAID from Host_FlowAction where iEffect = 3 order by EAAID");
    AddRecord(*instance, step, action.Eof() ? std::string("3") : action.Text("EAAID"), "");
    cn_->Execute(
        "update Host_FlowInstance set iCurStep = " + std::to_string(step) +
        ", iState = 0, dEndTime = null where iInstanceId = " + std::to_string(instance->id));
    flow_ended_ = instance->state == kEnded;
  }

  static std::optional<Routing> ReadRouting(std::string_view eadata) {
    xml::Document doc;
    if (!doc.LoadXml(eadata) || doc.DocumentElement().Name() != "EAdata") return std::nullopt;
    Routing routing;
    std::string amount = doc.SelectSingleNode("/EAdata/eccontrain").Attr("金额");
    if (!amount.empty()) {
      std::optional<double> value = db::ParseNumber(amount);
      if (!value) return std::nullopt;
      routing.amount = *value;
    }
    for (const xml::Node& item : doc.SelectNodes("/EAdata/eaovalue/item")) {
      std::string name = item.Attr("eaot");
      if (EndsWith(name, "_部门")) routing.department = item.Attr("eaov");
      if (EndsWith(name, "_业务类型")) routing.type = item.Attr("eaov");
    }
    routing.auth = doc.SelectSingleNode("/EAdata/cauth_id").Attr("id");
    return routing;
  }

  // The active flow of the card with the lowest priority whose conditions hold: a department
  // condition covers the department and the ones below it (codes by level), an operation type
  // condition every code that begins with it, the amount range its bounds.
  std::optional<int64_t> ChooseFlow(db::Connection& cn, std::string_view card,
                                    const Routing& routing) {
    db::Recordset rs = cn.Execute(
        "select iFlowId, cDepCode, cTypeCode, mMinAmount, mMaxAmount from Host_Flow where "
        "cCardNumber = " +
        SqlText(card) +
        " and bActive = 1 and exists (select 1 from Host_FlowStep s where s.iFlowId = "
        "Host_Flow.iFlowId) order by iPriority, iFlowId");
    for (; !rs.Eof(); rs.MoveNext()) {
      std::string department = rs.Text("cDepCode");
      std::string type = rs.Text("cTypeCode");
      if (!department.empty() && routing.department.rfind(department, 0) != 0) continue;
      if (!type.empty() && routing.type.rfind(type, 0) != 0) continue;
      if (!TypeListed(cn, rs.Value("iFlowId").ToInt(), routing.type)) continue;
      const db::Variant& min = rs.Value("mMinAmount");
      const db::Variant& max = rs.Value("mMaxAmount");
      if (!min.IsNull() && routing.amount < min.ToDouble()) continue;
      if (!max.IsNull() && routing.amount > max.ToDouble()) continue;
      return rs.Value("iFlowId").ToInt();
    }
    return std::nullopt;
  }

  // A flow limited to a list of operation types (Host_FlowType) applies to a type that begins
  // with one of them; a flow without a list, to every type.
  static bool TypeListed(db::Connection& cn, int64_t flow, const std::string& type) {
    db::Recordset listed =
        cn.Execute("select cTypeCode from Host_FlowType where iFlowId = " + std::to_string(flow));
    if (listed.Eof()) return true;
    for (; !listed.Eof(); listed.MoveNext()) {
      std::string code = listed.Text("cTypeCode");
      if (!code.empty() && type.rfind(code, 0) == 0) return true;
    }
    return false;
  }

  // The head of the department or of the nearest department above it (codes by level) that
  // has one; "" when none has.
  static std::string DepartmentHead(db::Connection& cn, const std::string& department) {
    if (department.empty()) return "";
    db::Recordset rs = cn.Execute(
        "select cDepLeader from Department where isnull(cDepLeader, '') <> '' and cDepCode = "
        "left(" +
        SqlText(department) + ", len(cDepCode)) order by len(cDepCode) desc");
    return rs.Eof() ? "" : rs.Text("cDepLeader");
  }

  Session* session_ = nullptr;
  db::Connection* cn_ = nullptr;
  bool flow_ended_ = false;
};

}  // namespace

std::unique_ptr<ApprovalFlow> CreateApprovalFlow() { return std::make_unique<TableApprovalFlow>(); }

}  // namespace rembiz::host
