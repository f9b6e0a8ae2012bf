// Webhooks: the URLs an administrator registers for voucher events, with the secret their posts
// are signed with, and the log of every delivery attempt (read only). The secret is written,
// never listed.
#include <string>

#include "admin/kinds.h"
#include "db/text.h"
#include "host/errors.h"
#include "host/notices.h"

namespace rembiz::admin {
namespace {

using db::SqlText;

// "submitted,approved": each a known event, each once.
std::string Events(const xml::Node& row) {
  std::string out;
  for (const std::string& part : SplitList(Required(row, "events"))) {
    std::string event = db::Lower(part);
    bool known = false;
    for (std::string_view e : host::kWebhookEvents) known = known || e == event;
    if (!known) Raise(kErrBusiness, "Rembiz.Admin.WebhookEvent", part);
    if (("," + out + ",").find("," + event + ",") != std::string::npos) continue;
    out += (out.empty() ? "" : ",") + event;
  }
  return out;
}

// Only web addresses are posted to.
std::string Url(const xml::Node& row) {
  std::string url = Required(row, "url");
  std::string lower = db::Lower(url);
  if ((lower.rfind("http://", 0) != 0 && lower.rfind("https://", 0) != 0) || url.size() > 400 ||
      url.find_first_of(" \t\r\n") != std::string::npos) {
    Raise(kErrBusiness, "Rembiz.Admin.WebhookUrl", url);
  }
  return url;
}

class WebhookKind : public Kind {
 public:
  std::string_view Name() const override { return "webhook"; }
  std::vector<std::string> Columns() const override {
    return {"id", "url", "events", "secret", "active"};
  }
  std::string List(Context& ctx, const xml::Node&) override {
    db::Recordset rs = ctx.cn.Execute(
        "select iWebhookId as id, cUrl as url, cEvents as events, bActive as active, cMaker as "
        "maker, dCreated as created, cast(ts as money) as ts from EC_Webhook order by iWebhookId");
    return RowsXml(rs);
  }
  void Add(Context& ctx, const xml::Node& row) override {
    std::string secret = Required(row, "secret");
    if (secret.size() > 100) Raise(kErrBusiness, "Rembiz.Admin.WebhookSecret");
    ctx.cn.Execute("insert into EC_Webhook (cUrl, cEvents, cSecret, bActive, cMaker) values (" +
                   SqlText(Url(row)) + ", " + SqlText(Events(row)) + ", " + SqlText(secret) + ", " +
                   (Flag(row, "active", true) ? "1" : "0") + ", " + SqlText(ctx.session.UserId()) +
                   ")");
  }
  // A blank secret keeps the one the hook has; active="0" disables the hook.
  void Change(Context& ctx, const xml::Node& row) override {
    std::string secret = db::Trim(row.Attr("secret"));
    if (secret.size() > 100) Raise(kErrBusiness, "Rembiz.Admin.WebhookSecret");
    ExecuteOne(ctx.cn,
               "update EC_Webhook set cUrl = " + SqlText(Url(row)) + ", cEvents = " +
                   SqlText(Events(row)) + (secret.empty() ? "" : ", cSecret = " + SqlText(secret)) +
                   ", bActive = " + (Flag(row, "active", true) ? "1" : "0") +
                   " where iWebhookId = " + Id(row) + " and cast(ts as money) = " + Version(row));
  }
  // A hook that was posted to keeps its log: it is disabled instead.
  void Delete(Context& ctx, const xml::Node& row) override {
    std::string id = Id(row);
    RefuseInUse(ctx.cn, "select 1 from EC_Outbox where iWebhookId = " + id, "webhook " + id,
                "Rembiz.Admin.UsedByDeliveries");
    ExecuteOne(ctx.cn, "delete from EC_Webhook where iWebhookId = " + id +
                           " and cast(ts as money) = " + Version(row));
  }

 private:
  static std::string Id(const xml::Node& row) {
    return std::to_string(Whole(row, "id", -1, 1, 2'000'000'000));
  }
};

class DeliveryKind : public Kind {
 public:
  std::string_view Name() const override { return "webhookdelivery"; }
  std::vector<std::string> Columns() const override {
    return {"id", "hook", "url", "event", "attempt", "status", "error", "millis", "time", "state"};
  }
  // The latest attempts first; <in hook="N"/> keeps to one hook.
  std::string List(Context& ctx, const xml::Node& filter) override {
    std::string hook = filter.Attr("hook");
    std::string where;
    if (!hook.empty()) {
      where = " where d.iWebhookId = " + std::to_string(Whole(filter, "hook", 0, 1, 2'000'000'000));
    }
    db::Recordset rs = ctx.cn.Execute(
        "select top 200 d.AutoID as id, d.iWebhookId as hook, w.cUrl as url, d.cEvent as event, "
        "d.iAttempt as attempt, d.iStatus as status, d.cError as error, d.iMillis as millis, "
        "d.dTime as time, o.iState as state from EC_WebhookDelivery d left join EC_Webhook w on "
        "w.iWebhookId = d.iWebhookId left join EC_Outbox o on o.iOutboxId = d.iOutboxId" +
        where + " order by d.AutoID desc");
    return RowsXml(rs);
  }
  void Add(Context&, const xml::Node&) override { ReadOnly(); }
  void Change(Context&, const xml::Node&) override { ReadOnly(); }
  void Delete(Context&, const xml::Node&) override { ReadOnly(); }

 private:
  [[noreturn]] static void ReadOnly() { Raise(kErrBusiness, "Rembiz.Admin.LogReadOnly"); }
};

WebhookKind webhook_kind;
DeliveryKind delivery_kind;
const KindRegistrar kRegistrars[] = {KindRegistrar(&webhook_kind), KindRegistrar(&delivery_kind)};

}  // namespace
}  // namespace rembiz::admin
