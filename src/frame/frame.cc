#include "frame/frame.h"

#include <string>

#include "frame/convert.h"
#include "host/errors.h"
#include "host/messages.h"
#include "host/tasks.h"

namespace rembiz::frame {
namespace {

constexpr const char* kDeclaration = "<?xml version='1.0' encoding='utf-8'?>";
// Numbers of run-time errors that are not ComErrors.
constexpr int32_t kErrObjectNotSet = 91;
constexpr int32_t kErrUnexpected = static_cast<int32_t>(0x8000FFFF);

std::string HandlerErrorXml(const FrameVariant& variant, int32_t number,
                            const std::string& description) {
  switch (variant.error_form) {
    case ErrorForm::kPubMsg:
      return std::string(kDeclaration) +
             "<error><id>Rembiz:CPubMsg:pubHandle:" + std::to_string(number) + "</id><text>" +
             XmlEscape(description) + "</text></error>";
    case ErrorForm::kQueryReport:
      return "<error><id>Rembiz:" + std::string(variant.class_name) + ":myHandle</id><text>" +
             XmlEscape(description) + "</text></error>";
    case ErrorForm::kStandard:
      break;
  }
  std::string text = variant.busy_message && IsBusyCode(number)
                         ? host::MessageText("Q7.Rembiz.0159")
                         : description;
  return std::string(kDeclaration) + "<error><id>Rembiz:" + std::string(variant.class_name) +
         ":myHandle:" + std::to_string(number) + "</id><text>" + XmlEscape(text) +
         "</text></error>";
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
  for (const OperationEntry& entry : operations) {
    if (entry.name == name) return &entry;
  }
  return nullptr;
}

xml::Node OutElement(xml::Node& func) {
  xml::Node out = func.Child("out");
  return out ? out : func.AppendElement("out");
}

// Applies for a task and releases it when the scope ends; the release's own failures are ignored.
class TaskScope {
 public:
  TaskScope(host::Session* session, std::string_view code) : session_(session), code_(code) {}
  ~TaskScope() {
    if (code_.empty()) return;
    try {
      xml::Document scratch;
      host::ReleaseTask(session_, code_, scratch);
    } catch (...) {
    }
  }
  TaskScope(const TaskScope&) = delete;
  TaskScope& operator=(const TaskScope&) = delete;

 private:
  host::Session* session_;
  std::string_view code_;
};

}  // namespace

bool IsBusyCode(int32_t number) {
  return number == static_cast<int32_t>(0x80040E21) || number == static_cast<int32_t>(0x80004005) ||
         number == static_cast<int32_t>(0x80040E31) || number == static_cast<int32_t>(0x8004D013);
}

std::string ProcedureErrorXml(std::string_view class_name, std::string_view procedure,
                              int32_t number, std::string_view description) {
  return std::string(kDeclaration) + "<error><id>Rembiz:" + std::string(class_name) + ":" +
         std::string(procedure) + ":" + std::to_string(number) + "</id><text>" +
         XmlEscape(description) + "</text></error>";
}

void RunFrame(const FrameVariant& variant, std::span<const OperationEntry> operations,
              BusinessObject& self, host::Session* session, xml::Document& request) {
  if (auto* state = dynamic_cast<RequestState*>(&self)) state->ResetRequestState();
  bool has_entry_task =
      !variant.task_code.empty() && (variant.entry_task == EntryTask::kBeforeConnect ||
                                     variant.entry_task == EntryTask::kAfterConnect);
  std::unique_ptr<TaskScope> entry_task;
  db::Connection cn;
  bool lazy_open = false;
  try {
    if (variant.error_form == ErrorForm::kPubMsg) {
      // The public service connects first and only then reads the language, so a missing session
      // ends in its handler's error document.
      if (!session) throw ComError(kErrObjectNotSet, host::MessageText("Q7.Rembiz.0001"));
    } else if (!session) {
      if (has_entry_task) entry_task = std::make_unique<TaskScope>(session, variant.task_code);
      throw ComError(kErrBusiness, host::MessageText("Q7.Rembiz.0001"));
    }
    host::SetCurrentLanguage(session->LanguageId());

    auto apply_entry_task = [&]() {
      entry_task = std::make_unique<TaskScope>(session, variant.task_code);
      return host::ApplyTask(session, variant.task_code, request);
    };
    if (has_entry_task && variant.entry_task == EntryTask::kBeforeConnect && !apply_entry_task()) {
      return;  // the request already holds the refusal
    }
    if (variant.connect) {
      cn.SetConnectionTimeout(60);
      cn.Open(NormalizeSql(session->ConnectionString()));
    }
    if (has_entry_task && variant.entry_task == EntryTask::kAfterConnect && !apply_entry_task()) {
      return;
    }
    if (variant.transactions == Transactions::kWholeRequest) cn.BeginTrans();

    bool stopped = false;
    for (xml::Node func : request.SelectNodes("//func")) {
      xml::Node out = OutElement(func);
      xml::Document answer;
      bool result = true;
      std::string name = func.Attr("name");
      const OperationEntry* entry = FindOperation(operations, name);
      if (!entry) continue;

      if (entry->flags & kCheckHostLock) host::CheckHostLock(*session);
      if ((entry->flags & kOpensTransaction) && variant.transactions == Transactions::kLazy &&
          !lazy_open) {
        cn.SetCommandTimeout(5);
        cn.BeginTrans();
        cn.SetCommandTimeout(20);
        lazy_open = true;
      }
      // An operation with a task of its own applies for it in every class, also in those
      // whose other operations need none.
      if (!entry->task_code.empty()) {
        TaskScope task(session, entry->task_code);
        if (host::ApplyTask(session, entry->task_code, answer)) {
          if (entry->flags & kOwnTransaction) cn.BeginTrans();
          result = entry->procedure(self, *session, cn, func, answer);
          if (entry->flags & kOwnTransaction) result ? cn.CommitTrans() : cn.RollbackTrans();
        }
      } else {
        if (entry->flags & kOwnTransaction) cn.BeginTrans();
        result = entry->procedure(self, *session, cn, func, answer);
        if (entry->flags & kOwnTransaction) result ? cn.CommitTrans() : cn.RollbackTrans();
      }

      if (!result && answer.Empty()) answer.LoadXml(FallbackXml(variant, name));
      if (!answer.Empty()) out.AppendChild(answer.DocumentElement());
      if (!result && func.Attr("goon") != "1") {
        stopped = true;
        break;
      }
    }

    if (variant.transactions == Transactions::kWholeRequest) {
      stopped ? cn.RollbackTrans() : cn.CommitTrans();
    } else if (lazy_open) {
      stopped ? cn.RollbackTrans() : cn.CommitTrans();
      lazy_open = false;
    }
  } catch (const ComError& e) {
    request.LoadXml(HandlerErrorXml(variant, e.Number(), e.Description()));
  } catch (const std::exception& e) {
    request.LoadXml(HandlerErrorXml(variant, kErrUnexpected, e.what()));
  }
  try {
    if (cn.InTransaction()) cn.RollbackTrans();
  } catch (...) {
  }
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
    if (entry.name == procedure) return entry.procedure(*this, session, cn, node, answer);
  }
  return BusinessObject::InvokePublic(procedure, session, cn, node, answer);
}

const std::string& FramedClass::ClassName() const {
  if (class_name_.empty()) class_name_ = std::string(Variant().class_name);
  return class_name_;
}

}  // namespace rembiz::frame
