#include "frame/frame.h"

#include <optional>
#include <string>

#include "db/error.h"
#include "db/text.h"
#include "db/transaction.h"
#include "db/type_guards.h"
#include "frame/convert.h"
#include "host/errors.h"
#include "host/messages.h"
#include "host/read_replica.h"
#include "host/tasks.h"

namespace rembiz::frame {
namespace {

constexpr const char* kDeclaration = "<?xml version='1.0' encoding='utf-8'?>";
// Numbers of run-time errors that are not ComErrors.
constexpr int32_t kErrObjectNotSet = 91;
constexpr int32_t kErrUnexpected = static_cast<int32_t>(0x8000FFFF);

std::string HandlerErrorXml(const FrameVariant& variant, const ComError& error) {
  switch (variant.error_form) {
    case ErrorForm::kPubMsg:
      return std::string(kDeclaration) +
             "<error><id>Rembiz:CPubMsg:pubHandle:" + std::to_string(error.Number()) +
             "</id><text>" + XmlEscape(error.Description()) + "</text></error>";
    case ErrorForm::kQueryReport:
      return "<error><id>Rembiz:" + std::string(variant.class_name) + ":myHandle</id><text>" +
             XmlEscape(error.Description()) + "</text></error>";
    case ErrorForm::kStandard:
      break;
  }
  return std::string(kDeclaration) + "<error><id>Rembiz:" + std::string(variant.class_name) +
         ":myHandle:" + std::to_string(error.Number()) + "</id><text>" +
         XmlEscape(ErrorText(variant, error)) + "</text></error>";
}

std::string FallbackXml(const FrameVariant& variant, const std::string& name) {
  std::string text = host::MessageText("Q7.Rembiz.0002");
  std::string escaped_name = XmlEscape(name);
  switch (variant.error_form) {
    case ErrorForm::kPubMsg:
      return std::string(kDeclaration) + "<error><id>Rembiz:CPubMsg:pubHandle:" + escaped_name +
             "</id><text>" + XmlEscape(text) + "</text></error>";
    case ErrorForm::kQueryReport:
      return "<error><id>Rembiz:" + std::string(variant.class_name) + ":myHandle:" + escaped_name +
             "</id><text>" + XmlEscape(text) + "</text></error>";
    case ErrorForm::kStandard:
      break;
  }
  return std::string(kDeclaration) + "<err><id>morel:vendor:" + escaped_name + "</id><msg>" +
         XmlEscape(text) + "</msg></err>";
}

const OperationEntry* FindOperation(std::span<const OperationEntry> operations,
                                    const std::string& name) {
  std::string lower;
  for (const OperationEntry& entry : operations) {
    if (entry.name == name) return &entry;
    if (entry.flags & kLowerCaseName) {
      if (lower.empty()) lower = db::Lower(name);
      if (entry.name == lower) return &entry;
    }
  }
  return nullptr;
}

xml::Node OutElement(xml::Node& func) {
  xml::Node out = func.Child("out");
  return out ? out : func.AppendElement("out");
}

std::string ProcedureErrorXml(std::string_view class_name, std::string_view procedure,
                              int32_t number, std::string_view description) {
  return std::string(kDeclaration) + "<error><id>Rembiz:" + std::string(class_name) + ":" +
         std::string(procedure) + ":" + std::to_string(number) + "</id><text>" +
         XmlEscape(description) + "</text></error>";
}

void LoadOwnError(const FrameVariant& variant, const OperationEntry& entry, xml::Document& answer,
                  const ComError& error) {
  std::string_view class_name =
      variant.error_class.empty() ? variant.class_name : variant.error_class;
  std::string_view procedure = error.Procedure().empty() ? entry.own_error : error.Procedure();
  LoadProcedureError(answer, class_name, procedure, error.Number(), ErrorText(variant, error));
}

// Calls the procedure of an entry; one that answers its own failures gets its error document.
bool CallProcedure(const FrameVariant& variant, const OperationEntry& entry, BusinessObject& self,
                   host::Session& session, db::Connection& cn, xml::Node& func,
                   xml::Document& answer) {
  if (entry.own_error.empty()) return entry.procedure(self, session, cn, func, answer);
  try {
    return entry.procedure(self, session, cn, func, answer);
  } catch (const ComError& e) {
    LoadOwnError(variant, entry, answer, e);
  } catch (const std::exception& e) {
    LoadOwnError(variant, entry, answer, ComError(kErrUnexpected, e.what(), "Rembiz"));
  }
  return false;
}

// Runs one operation in its transaction scope. An operation with its own transaction commits
// on success; with goon="1" the request goes on after a failure, so what the failed operation
// wrote is undone here instead of by the end of the request.
bool RunOperation(const FrameVariant& variant, const OperationEntry& entry, BusinessObject& self,
                  host::Session& session, db::Connection& cn, xml::Node& func,
                  xml::Document& answer) {
  std::optional<db::Transaction> own;
  std::optional<db::Savepoint> step;
  if (entry.flags & kOwnTransaction) {
    own.emplace(cn);
  } else if (cn.InTransaction() && func.Attr("goon") == "1") {
    step.emplace(cn);
  }
  bool result = CallProcedure(variant, entry, self, session, cn, func, answer);
  if (own) result ? own->Commit() : own->Rollback();
  if (step) result ? step->Release() : step->Rollback();
  return result;
}

}  // namespace

bool IsBusyCode(int32_t number) {
  return number == static_cast<int32_t>(0x80040E21) || number == static_cast<int32_t>(0x80004005) ||
         number == static_cast<int32_t>(0x80040E31) || number == static_cast<int32_t>(0x8004D013);
}

void LoadProcedureError(xml::Document& answer, std::string_view class_name,
                        std::string_view procedure, int32_t number, std::string_view text) {
  answer.LoadXml(ProcedureErrorXml(class_name, procedure, number, text));
}

std::string ErrorText(const FrameVariant& variant, const ComError& error) {
  if (variant.busy_message && IsBusyCode(error.Number())) {
    return host::MessageText("Q7.Rembiz.0159");
  }
  // The driver's text of a lost connection names servers and files: not for the caller.
  if (db::IsDatabaseUnreachable(error)) return host::MessageText("Rembiz.Host.DatabaseUnreachable");
  if (std::optional<db::ValueRefusal> refusal = db::ReadValueRefusal(error)) {
    using Kind = db::ValueRefusal::Kind;
    switch (refusal->kind) {
      case Kind::kTooLong:
        return host::MessageText("Rembiz.Value.TooLong", "", host::ColumnLabel(refusal->column),
                                 std::to_string(refusal->limit));
      case Kind::kOutOfRange:
        return host::MessageText("Rembiz.Value.OutOfRange", "", host::ColumnLabel(refusal->column));
      case Kind::kNotNumber:
        return host::MessageText("Rembiz.Value.NotNumber", "", host::ColumnLabel(refusal->column));
      case Kind::kNotText:
        return host::MessageText("Rembiz.Value.NotText", "", host::ColumnLabel(refusal->column));
    }
  }
  return error.Description();
}

namespace {

// Whether every operation the request names only reads, so that it may run on a read replica.
bool ReadsOnly(std::span<const OperationEntry> operations, const xml::Document& request) {
  bool any = false;
  for (xml::Node func : request.SelectNodes("//func")) {
    const OperationEntry* entry = FindOperation(operations, func.Attr("name"));
    if (!entry) continue;
    if (!(entry->flags & kReadsOnly)) return false;
    any = true;
  }
  return any;
}

// The connection string passes NormalizeSql like any SQL text; the result depends only on the
// text and the language, and a thread serves the same string request after request.
const std::string& NormalizedConnectionString(const std::string& text) {
  thread_local std::string last_text, last_result;
  thread_local bool last_english = false, known = false;
  const bool english = host::CurrentLanguageIsEnglish();
  if (!known || english != last_english || text != last_text) {
    last_result = NormalizeSql(text);
    last_text = text;
    last_english = english;
    known = true;
  }
  return last_result;
}

// Runs the request on one database; true when it ran on the replica and the replica could not
// serve it (then nothing was written and the request is to run again on the primary).
bool RunFrameOn(const FrameVariant& variant, std::span<const OperationEntry> operations,
                BusinessObject& self, host::Session* session, xml::Document& request,
                const std::string* replica) {
  if (auto* state = dynamic_cast<RequestState*>(&self)) state->ResetRequestState();
  bool has_entry_task =
      !variant.task_code.empty() && (variant.entry_task == EntryTask::kBeforeConnect ||
                                     variant.entry_task == EntryTask::kAfterConnect);
  // Declared in this order so that the transaction ends before the connection and the task last.
  std::optional<host::TaskHold> entry_task;
  db::Connection cn;
  std::optional<db::Transaction> transaction;
  try {
    if (!session) {
      // The public service connects first and only then reads the language, so a missing
      // session ends in its handler's error document.
      throw ComError(variant.error_form == ErrorForm::kPubMsg ? kErrObjectNotSet : kErrBusiness,
                     host::MessageText("Q7.Rembiz.0001"));
    }
    host::SetCurrentLanguage(session->LanguageId());

    auto apply_entry_task = [&]() {
      entry_task.emplace(session, variant.task_code, request);
      return entry_task->Applied();
    };
    if (has_entry_task && variant.entry_task == EntryTask::kBeforeConnect && !apply_entry_task()) {
      return false;  // the request already holds the refusal
    }
    if (variant.connect) {
      if (replica) {
        if (!host::OpenReplica(cn, NormalizeSql(*replica))) return true;
      } else {
        cn.SetConnectionTimeout(60);
        cn.Open(NormalizedConnectionString(session->ConnectionString()));
      }
      // The reads of the request share one snapshot until it writes; it ends before the
      // answer goes out.
      if (variant.transactions != Transactions::kWholeRequest) cn.BeginRead();
    }
    if (has_entry_task && variant.entry_task == EntryTask::kAfterConnect && !apply_entry_task()) {
      return false;
    }
    if (variant.transactions == Transactions::kWholeRequest) transaction.emplace(cn);

    bool stopped = false;
    for (xml::Node func : request.SelectNodes("//func")) {
      xml::Node out = OutElement(func);
      xml::Document answer;
      // Answers built from trees (recordsets) are built under `out` directly.
      answer.SetTarget(out);
      bool result = true;
      std::string name = func.Attr("name");
      const OperationEntry* entry = FindOperation(operations, name);
      if (!entry) continue;

      if (entry->flags & kCheckHostLock) host::CheckHostLock(*session, cn);
      if ((entry->flags & kOpensTransaction) && variant.transactions == Transactions::kLazy &&
          !transaction) {
        transaction.emplace(cn, 5, 20);
      }
      // An operation with a task of its own applies for it in every class, also in those
      // whose other operations need none.
      if (!entry->task_code.empty()) {
        host::TaskHold task(session, entry->task_code, answer);
        if (task.Applied())
          result = RunOperation(variant, *entry, self, *session, cn, func, answer);
      } else {
        result = RunOperation(variant, *entry, self, *session, cn, func, answer);
      }

      if (!result && answer.Empty()) answer.LoadXml(FallbackXml(variant, name));
      if (!answer.Empty() && !answer.IsPlaced()) out.AppendChild(answer.DocumentElement());
      if (!result && func.Attr("goon") != "1") {
        stopped = true;
        break;
      }
    }

    if (transaction) stopped ? transaction->Rollback() : transaction->Commit();
    cn.EndRead();
  } catch (const ComError& e) {
    transaction.reset();
    if (replica && host::ReplicaCouldNotServe(cn, e)) return true;
    request.LoadXml(HandlerErrorXml(variant, e));
  } catch (const std::exception& e) {
    transaction.reset();
    if (replica && host::ReplicaCouldNotServe(cn, e)) return true;
    request.LoadXml(HandlerErrorXml(variant, ComError(kErrUnexpected, e.what())));
  }
  return replica && cn.ServerCouldNotServe();
}

}  // namespace

void RunFrame(const FrameVariant& variant, std::span<const OperationEntry> operations,
              BusinessObject& self, host::Session* session, xml::Document& request) {
  // Requests that only read go to the session's read replica when it has one; when the replica
  // is down or cannot serve them (a work table, a read cancelled by replication), the same
  // request runs again on the primary, from the request as it came.
  std::string replica = session && variant.connect ? session->ReadConnectionString() : "";
  if (!replica.empty() && ReadsOnly(operations, request)) {
    std::string original = request.Xml();
    if (host::ServedByReplica(replica, [&] {
          return !RunFrameOn(variant, operations, self, session, request, &replica);
        })) {
      return;
    }
    request.LoadXml(original);
  }
  RunFrameOn(variant, operations, self, session, request, nullptr);
}

void FramedClass::myHandle(host::Session* ologin, xml::Document& oXml) {
  RunFrame(Variant(), Operations(), *this, ologin, oXml);
}

bool BusinessObject::InvokePublic(std::string_view procedure, host::Session&, db::Connection&,
                                  xml::Node&, xml::Document&) {
  throw ComError(438, "Object doesn't support this property or method: " + std::string(procedure),
                 "Rembiz");
}

bool FramedClass::InvokePublic(std::string_view procedure, host::Session& session,
                               db::Connection& cn, xml::Node& node, xml::Document& answer) {
  for (const OperationEntry& entry : PublicProcedures()) {
    if (entry.name == procedure)
      return CallProcedure(Variant(), entry, *this, session, cn, node, answer);
  }
  return BusinessObject::InvokePublic(procedure, session, cn, node, answer);
}

const std::string& FramedClass::ClassName() const {
  if (class_name_.empty()) class_name_ = std::string(Variant().class_name);
  return class_name_;
}

}  // namespace rembiz::frame
