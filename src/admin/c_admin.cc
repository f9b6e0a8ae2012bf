#include "admin/c_admin.h"

#include <string>

#include "admin/kinds.h"
#include "db/transaction.h"
#include "frame/registry.h"
#include "host/errors.h"
#include "host/messages.h"
#include "xml/escape.h"

namespace rembiz::admin {
namespace {

// "ADMIN" is held by an account year's administrators (and every system administrator); no
// other right covers it.
constexpr frame::FrameVariant kVariant{
    .class_name = "CAdmin",
    .task_code = "ADMIN",
    .entry_task = frame::EntryTask::kAfterConnect,
    .transactions = frame::Transactions::kWholeRequest,
    .error_form = frame::ErrorForm::kStandard,
    .busy_message = false,
};

constexpr frame::OperationEntry kOperations[] = {
    frame::Op<&CAdmin::Kinds>("kinds"),
    frame::Op<&CAdmin::List>("list"),
    frame::Op<&CAdmin::Save>("save", frame::kCheckHostLock),
    frame::Op<&CAdmin::Import>("import", frame::kCheckHostLock),
};

const frame::ClassRegistrar kRegistrar("Rembiz.CAdmin", [] { return std::make_unique<CAdmin>(); });

Kind& KindOf(const xml::Node& func) {
  std::string name = func.SelectSingleNode("in").Attr("kind");
  Kind* kind = FindKind(name);
  if (!kind) Raise(kErrBusiness, "Rembiz.Admin.UnknownKind", name);
  return *kind;
}

// The rights are checked at the entry already; a session that is no administrator never gets
// here, whatever rights it holds.
void RequireAdministrator(host::Session& session) {
  if (!session.IsAdmin()) Raise(kErrBusiness, "Rembiz.Admin.NotAdministrator", session.UserId());
}

std::string Joined(const std::vector<std::string>& parts) {
  std::string out;
  for (const std::string& part : parts) out += (out.empty() ? "" : ",") + part;
  return out;
}

}  // namespace

const frame::FrameVariant& CAdmin::Variant() const { return kVariant; }
std::span<const frame::OperationEntry> CAdmin::Operations() const { return kOperations; }

bool CAdmin::Kinds(host::Session& session, db::Connection&, xml::Node&, xml::Document& answer) {
  RequireAdministrator(session);
  std::string out = "<kinds>";
  for (const std::string& name : KindNames()) {
    Kind* kind = FindKind(name);
    out += "<kind name='" + xml::XmlEscape(name) + "' columns='" +
           xml::XmlEscape(Joined(kind->Columns())) + "' import='" +
           (kind->Importable() ? "1" : "0") + "'/>";
  }
  answer.LoadXml(out + "</kinds>");
  return true;
}

bool CAdmin::List(host::Session& session, db::Connection& cn, xml::Node& func,
                  xml::Document& answer) {
  RequireAdministrator(session);
  Kind& kind = KindOf(func);
  Context ctx{session, cn};
  answer.LoadXml("<rows kind='" + xml::XmlEscape(kind.Name()) + "'>" +
                 kind.List(ctx, func.SelectSingleNode("in")) + "</rows>");
  return true;
}

bool CAdmin::Save(host::Session& session, db::Connection& cn, xml::Node& func,
                  xml::Document& answer) {
  RequireAdministrator(session);
  Kind& kind = KindOf(func);
  Context ctx{session, cn};
  int count = 0;
  for (const xml::Node& row : func.SelectNodes("in/row")) {
    std::string mark = row.Attr("P");
    if (mark == "1") {
      kind.Add(ctx, row);
    } else if (mark == "2") {
      kind.Change(ctx, row);
    } else if (mark == "3") {
      kind.Delete(ctx, row);
    } else {
      Raise(kErrBusiness, "Rembiz.Admin.BadMark", mark);
    }
    ++count;
  }
  answer.LoadXml("<saved kind='" + xml::XmlEscape(kind.Name()) + "' rows='" +
                 std::to_string(count) + "'/>");
  return true;
}

bool CAdmin::Import(host::Session& session, db::Connection& cn, xml::Node& func,
                    xml::Document& answer) {
  RequireAdministrator(session);
  Kind& kind = KindOf(func);
  if (!kind.Importable()) Raise(kErrBusiness, "Rembiz.Admin.NoImport", kind.Name());
  bool dry = func.SelectSingleNode("in").Attr("dry") == "1";
  Context ctx{session, cn};
  db::Savepoint all(cn);
  std::string refused;
  int added = 0, refusals = 0, index = 0;
  for (const xml::Node& row : func.SelectNodes("in/row")) {
    ++index;
    std::string line = row.HasAttr("line") ? row.Attr("line") : std::to_string(index);
    // Each line on its own, so that one refusal leaves the lines after it checked too.
    db::Savepoint one(cn);
    try {
      kind.Add(ctx, row);
      one.Release();
      ++added;
    } catch (const ComError& e) {
      if (db::IsDatabaseUnreachable(e)) throw;
      one.Rollback();
      ++refusals;
      refused += "<refused line='" + xml::XmlEscape(line) + "' reason='" +
                 xml::XmlEscape(frame::ErrorText(kVariant, e)) + "'/>";
    }
  }
  if (dry || refusals > 0) {
    all.Rollback();
  } else {
    all.Release();
  }
  answer.LoadXml("<import kind='" + xml::XmlEscape(kind.Name()) + "' dry='" + (dry ? "1" : "0") +
                 "' lines='" + std::to_string(index) + "' added='" +
                 std::to_string(dry || refusals ? 0 : added) + "' refused='" +
                 std::to_string(refusals) + "'>" + refused + "</import>");
  return true;
}

}  // namespace rembiz::admin
