#include "host/notices.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <utility>

#include "db/text.h"
#include "host/approval_flow.h"
#include "host/messages.h"
#include "host/service_sql.h"

namespace rembiz::host {
namespace {

constexpr std::string_view kLoanTable = "EC_LoanVouch";
constexpr std::string_view kClaimTable = "EC_ExpenVouch";

// What notices and events say about a voucher.
struct Voucher {
  std::string table;
  std::string card;
  std::string guid;
  std::string auto_id;
  std::string code;
  std::string amount;
  std::string maker_name;  // strPersonID: the operator who entered it
  std::string maker_id;    // that operator's cUser_Id; "" when no user has the name
  std::string department;
  std::string type;
};

// Only the two voucher tables are read; the name is never taken from a request.
std::string_view KnownTable(std::string_view table) {
  return db::Lower(table) == db::Lower(kLoanTable) ? kLoanTable : kClaimTable;
}

std::optional<Voucher> ReadVoucher(db::Connection& cn, std::string_view table,
                                   std::string_view guid) {
  std::string_view known = KnownTable(table);
  db::Recordset rs = cn.Execute(
      "select v.AutoID, v.strVouchID, v.dblOldMoney, v.strPersonID, v.strDepartID, "
      "v.strTypeCode, u.cUser_Id from " +
      std::string(known) +
      " v left join QDSystem..UA_User u on u.cUser_Name = v.strPersonID where v.GUID = " +
      SqlText(guid));
  if (rs.Eof()) return std::nullopt;
  Voucher v;
  v.table = known;
  v.guid = guid;
  v.auto_id = rs.Text("AutoID");
  v.code = rs.Text("strVouchID");
  v.amount = rs.Text("dblOldMoney");
  v.maker_name = rs.Text("strPersonID");
  v.maker_id = rs.Text("cUser_Id");
  v.department = rs.Text("strDepartID");
  v.type = rs.Text("strTypeCode");
  // Claims of income types ("1…") have their own card; loans are always "45".
  v.card = known == kLoanTable ? "45" : (!v.type.empty() && v.type.front() == '1' ? "46" : "47");
  return v;
}

NoticeValues About(const Voucher& v, std::string_view user, std::string_view kind,
                   std::string_view actor) {
  NoticeValues n;
  n.user = user;
  n.kind = kind;
  n.card = v.card;
  n.guid = v.guid;
  n.code = v.code;
  n.actor = actor;
  n.amount = v.amount;
  return n;
}

std::string UtcNow() {
  std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  std::tm tm{};
  gmtime_r(&now, &tm);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &tm);
  return buf;
}

int QueueEvent(db::Connection& cn, std::string_view event, const Voucher& v, std::string_view actor,
               std::string_view remark) {
  db::Recordset hooks = cn.Execute(
      "select iWebhookId, cEvents from EC_Webhook where bActive = 1 order by iWebhookId");
  std::string payload;
  int queued = 0;
  for (; !hooks.Eof(); hooks.MoveNext()) {
    bool subscribed = false;
    std::string events = db::Lower(hooks.Text("cEvents"));
    size_t start = 0;
    while (start <= events.size() && !subscribed) {
      size_t comma = events.find(',', start);
      if (comma == std::string::npos) comma = events.size();
      subscribed = db::Trim(events.substr(start, comma - start)) == event;
      start = comma + 1;
    }
    if (!subscribed) continue;
    if (payload.empty()) {
      nlohmann::json body = {{"event", event},
                             {"card", v.card},
                             {"guid", v.guid},
                             {"code", v.code},
                             {"amount", db::ParseNumber(v.amount).value_or(0)},
                             {"maker", v.maker_name},
                             {"department", v.department},
                             {"type", v.type},
                             {"actor", actor},
                             {"time", UtcNow()}};
      if (!remark.empty()) body["remark"] = remark;
      payload = body.dump();
    }
    cn.Execute(
        "insert into EC_Outbox (cChannel, iWebhookId, cEvent, cPayload) values ('webhook', " +
        hooks.Text("iWebhookId") + ", " + SqlText(event) + ", " + SqlText(payload) + ")");
    ++queued;
  }
  return queued;
}

void NotifyWaiting(Session& session, db::Connection& cn, const Voucher& v) {
  std::unique_ptr<ApprovalFlow> flow = CreateApprovalFlow();
  flow->Init(session, cn);
  std::vector<std::string> users = flow->WaitingApprovers(v.card, v.guid);
  if (users.empty()) return;
  db::Recordset step = cn.Execute(
      "select s.cStepName from Host_FlowInstance i join Host_FlowStep s on s.iFlowId = "
      "i.iFlowId and s.iStep = i.iCurStep where i.cCardNumber = " +
      SqlText(v.card) + " and i.cVouchGUID = " + SqlText(v.guid));
  for (const std::string& user : users) {
    NoticeValues n = About(v, user, kNoticeWaiting, v.maker_name);
    if (!step.Eof()) n.step = step.Text("cStepName");
    AddNotice(cn, n);
  }
}

void NotifyMaker(db::Connection& cn, const Voucher& v, std::string_view kind,
                 std::string_view actor, std::string_view remark) {
  if (v.maker_id.empty()) return;
  NoticeValues n = About(v, v.maker_id, kind, actor);
  n.remark = remark;
  AddNotice(cn, n);
}

std::string Money(std::string_view amount) {
  std::optional<double> value = db::ParseNumber(amount);
  if (!value) return std::string(amount);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.2f", *value);
  return buf;
}

}  // namespace

NoticeValues NoticeFromRow(const db::Recordset& row) {
  NoticeValues v;
  v.user = row.Text("cUser_Id");
  v.kind = row.Text("cKind");
  v.card = row.Text("cCardNumber");
  v.guid = row.Text("cVouchGUID");
  v.code = row.Text("cVouchCode");
  v.actor = row.Text("cActor");
  v.step = row.Text("cStep");
  v.remark = row.Text("cRemark");
  v.amount = row.Text("mAmount");
  v.due = row.Text("dDue");
  return v;
}

int64_t AddNotice(db::Connection& cn, const NoticeValues& n) {
  cn.Execute(
      "insert into EC_Notice (cUser_Id, cKind, cCardNumber, cVouchGUID, cVouchCode, cActor, "
      "cStep, cRemark, mAmount, dDue) values (" +
      SqlText(n.user) + ", " + SqlText(n.kind) + ", " + SqlTextOrNull(n.card) + ", " +
      SqlTextOrNull(n.guid) + ", " + SqlTextOrNull(n.code) + ", " + SqlTextOrNull(n.actor) + ", " +
      SqlTextOrNull(n.step) + ", " + SqlTextOrNull(n.remark) + ", " +
      (n.amount.empty() ? std::string("null") : SqlMoney(db::ParseNumber(n.amount).value_or(0))) +
      ", " + SqlTextOrNull(n.due) + ")");
  int64_t id = cn.Execute("select @@identity as id").Value("id").ToInt();
  cn.Execute("insert into EC_Outbox (cChannel, iNoticeId) values ('mail', " + std::to_string(id) +
             ")");
  return id;
}

int QueueWebhookEvent(db::Connection& cn, std::string_view event, std::string_view table,
                      std::string_view guid, std::string_view actor, std::string_view remark) {
  std::optional<Voucher> v = ReadVoucher(cn, table, guid);
  return v ? QueueEvent(cn, event, *v, actor, remark) : 0;
}

void NoticeSubmitted(Session& session, db::Connection& cn, std::string_view table,
                     std::string_view guid) {
  std::optional<Voucher> v = ReadVoucher(cn, table, guid);
  if (!v) return;
  NotifyWaiting(session, cn, *v);
  QueueEvent(cn, "submitted", *v, session.UserName(), "");
}

void NoticeFlowAction(Session& session, db::Connection& cn, std::string_view table,
                      std::string_view guid) {
  std::optional<Voucher> v = ReadVoucher(cn, table, guid);
  if (!v) return;
  // The action just recorded is the instance's last record; where the instance stands now says
  // what it did.
  db::Recordset rs = cn.Execute(
      "select i.iState, i.iCurStep, r.iStep, r.remark from Host_FlowInstance i join "
      "Host_FlowRecord r on r.iInstanceId = i.iInstanceId where i.cCardNumber = " +
      SqlText(v->card) + " and i.cVouchGUID = " + SqlText(guid) + " order by r.AutoID desc");
  if (rs.Eof()) return;
  int64_t state = rs.Value("iState").ToInt();
  if (state == 2) {
    NotifyMaker(cn, *v, kNoticeRejected, session.UserName(), rs.Text("remark"));
    QueueEvent(cn, "rejected", *v, session.UserName(), rs.Text("remark"));
  } else if (state == 0 && rs.Value("iCurStep").ToInt() != rs.Value("iStep").ToInt()) {
    NotifyWaiting(session, cn, *v);
  }
}

void NoticeApproved(Session& session, db::Connection& cn, std::string_view table,
                    std::string_view guid) {
  std::optional<Voucher> v = ReadVoucher(cn, table, guid);
  if (!v) return;
  NotifyMaker(cn, *v, kNoticeApproved, session.UserName(), "");
  QueueEvent(cn, "approved", *v, session.UserName(), "");
}

void NoticePaid(db::Connection& cn, std::string_view line_guid, std::string_view actor) {
  db::Recordset line = cn.Execute(
      "select 'EC_LoanVouch' as t, MGuid as g, dblMoney as m from EC_LoanVouch_Sub where GUID = " +
      SqlText(line_guid) +
      " union all select 'EC_ExpenVouch' as t, ExpenGUID as g, dblMoney as m from EC_BalanceInfo "
      "where GUID = " +
      SqlText(line_guid));
  if (line.Eof()) return;
  std::optional<Voucher> v = ReadVoucher(cn, line.Text("t"), line.Text("g"));
  if (!v) return;
  v->amount = line.Text("m");  // the line paid, not the whole voucher
  NotifyMaker(cn, *v, kNoticePaid, actor, "");
  QueueEvent(cn, "paid", *v, actor, "");
}

void NoticeBooked(Session& session, db::Connection& cn, std::string_view table,
                  std::string_view guid) {
  std::optional<Voucher> v = ReadVoucher(cn, table, guid);
  if (v) QueueEvent(cn, "booked", *v, session.UserName(), "");
}

NoticeText RenderNotice(const NoticeValues& n, std::string_view language, std::string_view link) {
  struct Texts {
    std::string_view kind, subject, body;
  };
  // The texts name their values: {code}, {amount}, {who}, {step}, {remark}, {due}.
  static constexpr Texts kTexts[] = {
      {kNoticeWaiting, "Rembiz.Host.NoticeWaitingSubject", "Rembiz.Host.NoticeWaitingBody"},
      {kNoticeApproved, "Rembiz.Host.NoticeApprovedSubject", "Rembiz.Host.NoticeApprovedBody"},
      {kNoticeRejected, "Rembiz.Host.NoticeRejectedSubject", "Rembiz.Host.NoticeRejectedBody"},
      {kNoticePaid, "Rembiz.Host.NoticePaidSubject", "Rembiz.Host.NoticePaidBody"},
      {kNoticeOverdue, "Rembiz.Host.NoticeOverdueSubject", "Rembiz.Host.NoticeOverdueBody"},
      {kNoticeDueSoon, "Rembiz.Host.NoticeDueSoonSubject", "Rembiz.Host.NoticeDueSoonBody"},
  };
  // Unknown kinds still say something: the general text with the voucher's number.
  Texts texts{"", "Rembiz.Host.NoticeOtherSubject", "Rembiz.Host.NoticeOtherBody"};
  for (const Texts& t : kTexts) {
    if (t.kind == n.kind) texts = t;
  }
  NoticeText text{MessageText(texts.subject, language), MessageText(texts.body, language)};
  // One pass, so that a value holding "{…}" (a remark) is never filled in itself.
  const std::pair<std::string_view, std::string> values[] = {
      {"code", n.code}, {"amount", Money(n.amount)}, {"who", n.actor},
      {"step", n.step}, {"remark", n.remark},        {"due", n.due.substr(0, 10)}};
  for (std::string* t : {&text.subject, &text.body}) {
    std::string out;
    for (size_t at = 0; at < t->size();) {
      size_t open = t->find('{', at);
      size_t close = open == std::string::npos ? open : t->find('}', open);
      if (close == std::string::npos) {
        out += t->substr(at);
        break;
      }
      out += t->substr(at, open - at);
      std::string_view name = std::string_view(*t).substr(open + 1, close - open - 1);
      const auto* found = std::find_if(std::begin(values), std::end(values),
                                       [&](const auto& v) { return v.first == name; });
      out += found != std::end(values) ? found->second : t->substr(open, close - open + 1);
      at = close + 1;
    }
    *t = std::move(out);
  }
  if (!link.empty()) text.body += "\n\n" + MessageText("Rembiz.Host.NoticeLink", language, link);
  return text;
}

std::string NoticeRoute(db::Connection& cn, const NoticeValues& n) {
  if (n.guid.empty()) return "notices";
  std::string_view table = n.card == "45" ? kLoanTable : kClaimTable;
  db::Recordset rs =
      cn.Execute("select AutoID from " + std::string(table) + " where GUID = " + SqlText(n.guid));
  if (rs.Eof()) return "notices";
  std::string kind = n.card == "45" ? "loan" : "claim";
  return (n.kind == kNoticeWaiting ? "review/" : "") + kind + "/" + rs.Text("AutoID");
}

}  // namespace rembiz::host
