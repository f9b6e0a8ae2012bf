// The myHandle frame shared by every business class: session check, current language, function
// tasks, the connection, dispatch of each `func` by its exact name, answers under `out`,
// transactions, and the error documents. A class declares its variant and its operation table
// once; the frame does the rest.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "db/connection.h"
#include "frame/business_object.h"
#include "host/session.h"
#include "xml/document.h"

namespace rembiz::frame {

// When the class applies for its function task.
enum class EntryTask { kNone, kBeforeConnect, kAfterConnect, kPerOperation };
// Who owns the transaction.
enum class Transactions { kNone, kWholeRequest, kLazy };
// The shape of the class's error documents.
enum class ErrorForm { kStandard, kPubMsg, kQueryReport };

struct FrameVariant {
  std::string_view class_name;  // "CLoan"
  std::string_view task_code;   // entry task; empty without one
  EntryTask entry_task = EntryTask::kNone;
  Transactions transactions = Transactions::kNone;
  ErrorForm error_form = ErrorForm::kStandard;
  bool busy_message = false;  // database busy codes answer "Q7.Rembiz.0159"
  bool connect = true;        // false: the class never opens a connection
  // The class its procedures' own error documents name, when the pages know them by another
  // class's name; class_name when empty.
  std::string_view error_class = {};
};

enum OperationFlags : unsigned {
  kCheckHostLock = 1,     // CheckHostLock before the procedure
  kOpensTransaction = 2,  // opens the lazy transaction
  kOwnTransaction = 4,    // runs in its own transaction: committed on true, rolled back on false
  kLowerCaseName = 8,     // the request's name is lower-cased before it is compared
  // Only reads (lists, free queries, navigation): a request of such operations alone may run on
  // the session's read replica (host::Session::ReadConnectionString).
  kReadsOnly = 16,
};

// Every operation procedure has this shape: session, open connection, its `func` element and the
// answer document; true = success.
using Procedure = bool (*)(BusinessObject& self, host::Session& session, db::Connection& cn,
                           xml::Node& func, xml::Document& answer);

struct OperationEntry {
  std::string_view name;  // matched exactly, case-sensitively
  Procedure procedure;
  unsigned flags = 0;
  std::string_view task_code = {};  // per-operation task
  // The procedure's name when its failures answer under `out` with its own error document
  // ("Rembiz:<class>:<procedure>:<number>") instead of replacing the whole request: the frame
  // catches what the procedure raises and answers false, so the request stops (goon="1" goes
  // on) and rolls back what the operation wrote.
  std::string_view own_error = {};
};

template <class T>
struct MemberOf;
template <class C, class R, class... A>
struct MemberOf<R (C::*)(A...)> {
  using type = C;
};

template <auto Proc>
bool InvokeMember(BusinessObject& self, host::Session& session, db::Connection& cn, xml::Node& func,
                  xml::Document& answer) {
  using C = typename MemberOf<decltype(Proc)>::type;
  return (static_cast<C&>(self).*Proc)(session, cn, func, answer);
}

// An operation table entry for a member procedure: Op<&CLoan::SaveVouch>("savevouch", flags).
template <auto Proc>
constexpr OperationEntry Op(std::string_view name, unsigned flags = 0,
                            std::string_view task_code = {}) {
  return OperationEntry{name, &InvokeMember<Proc>, flags, task_code, {}};
}

// An entry whose procedure answers its failures with its own error document:
// OwnErrors(Op<&CLoan::GetVoucherHead>("vchgetloanheaddata"), "GetVoucherHead").
constexpr OperationEntry OwnErrors(OperationEntry entry, std::string_view procedure) {
  entry.own_error = procedure;
  return entry;
}

// Runs one request through the frame.
void RunFrame(const FrameVariant& variant, std::span<const OperationEntry> operations,
              BusinessObject& self, host::Session* session, xml::Document& request);

// The database codes that mean "busy or timed out" (answered with "Q7.Rembiz.0159").
bool IsBusyCode(int32_t number);

// Loads the error document of a procedure's failure ("Rembiz:<class>:<procedure>:<number>") as
// the answer. The frame does so for its operations; a handler of its own (a report plug-in's)
// answers through here too.
void LoadProcedureError(xml::Document& answer, std::string_view class_name,
                        std::string_view procedure, int32_t number, std::string_view text);

// Tags the errors `body` raises with the procedure whose error document answers them, when a
// procedure goes on into another one (generation goes on into conversion).
template <class Body>
auto AsProcedure(std::string_view procedure, Body&& body) {
  try {
    return body();
  } catch (ComError& e) {
    if (e.Procedure().empty()) e.SetProcedure(std::string(procedure));
    throw;
  }
}

// What the caller reads of an error: the busy text for the database's busy codes (classes that
// say so), a plain text for a database out of reach, a value the database refused named by its
// field, else the error's own description.
std::string ErrorText(const FrameVariant& variant, const ComError& error);

// Base of the business classes: myHandle runs the frame with the class's variant and table.
class FramedClass : public BusinessObject {
 public:
  void myHandle(host::Session* ologin, xml::Document& oXml) override;
  const std::string& ClassName() const override;
  bool InvokePublic(std::string_view procedure, host::Session& session, db::Connection& cn,
                    xml::Node& node, xml::Document& answer) override;

 protected:
  virtual const FrameVariant& Variant() const = 0;
  virtual std::span<const OperationEntry> Operations() const = 0;
  // Public procedures other classes call by name (entries' names are the procedure names).
  virtual std::span<const OperationEntry> PublicProcedures() const { return {}; }

 private:
  mutable std::string class_name_;
};

// A class whose operations are not built yet: every name is unknown and ignored.
class EmptyClass : public FramedClass {
 public:
  explicit EmptyClass(const FrameVariant& variant) : variant_(variant) {}

 protected:
  const FrameVariant& Variant() const override { return variant_; }
  std::span<const OperationEntry> Operations() const override { return {}; }

 private:
  const FrameVariant& variant_;
};

// Called by RunFrame before the first operation; classes with per-request state reset it here.
class RequestState {
 public:
  virtual ~RequestState() = default;
  virtual void ResetRequestState() = 0;
};

}  // namespace rembiz::frame
