#include "host/tasks.h"

#include <cstdlib>
#include <string>

#include "db/text.h"
#include "host/errors.h"
#include "host/messages.h"
#include "xml/escape.h"

namespace rembiz::host {
namespace {

bool RunTask(Session* session, std::string_view task_code, int mode, std::string_view missing_key,
             xml::Document& doc) {
  try {
    if (!session) Raise(kErrBusiness, missing_key);
    session->ClearError();
    int year = std::atoi(session->FiscalYear().c_str());
    if (!session->TaskExec(std::string(task_code), mode, year)) {
      std::string error = session->LastError();
      if (error.empty()) Raise(kErrBusiness, "Q7.Rembiz.0025");
      throw ComError(kErrBusiness, error, "Rembiz");
    }
    return true;
  } catch (const ComError& e) {
    doc.LoadXml("<?xml version='1.0' encoding='utf-8'?><error><id>Rembiz:MSG:ApplyTask:" +
                std::to_string(e.Number()) + "</id><text>" + xml::XmlEscape(e.Description()) +
                "</text></error>");
    return false;
  }
}

}  // namespace

bool ApplyTask(Session* session, std::string_view task_code, xml::Document& doc) {
  return RunTask(session, task_code, -1, "Q7.Rembiz.0026", doc);
}

bool ReleaseTask(Session* session, std::string_view task_code, xml::Document& doc) {
  return RunTask(session, task_code, 0, "Q7.Rembiz.0369", doc);
}

TaskHold::TaskHold(Session* session, std::string_view task_code, xml::Document& refusal)
    : session_(session), code_(task_code), refusal_(&refusal) {
  applied_ = ApplyTask(session_, code_, refusal);
}

TaskHold::TaskHold(Session* session, std::string_view task_code)
    : session_(session), code_(task_code), refusal_(&own_refusal_) {
  applied_ = ApplyTask(session_, code_, own_refusal_);
}

TaskHold::~TaskHold() {
  try {
    xml::Document scratch;
    ReleaseTask(session_, code_, scratch);
  } catch (...) {
  }
}

std::string TaskHold::RefusalText() const { return refusal_->SelectSingleNode("//text").Text(); }

std::string LockStateQuery(const std::string& system_table, const std::string& account, int year,
                           const std::string& system_id, int code) {
  return "select bFlag from " + system_table + " where cAcc_Id = " + db::SqlText(account) +
         " and iYear = " + std::to_string(year) + " and cSub_Id = " + db::SqlText(system_id) +
         " and iCode = " + std::to_string(code);
}

void CheckHostLock(Session& session, db::Connection& cn) {
  // The row LocalSession::QueryState(204, "EC", year) reads, on the request's own connection.
  db::Recordset state =
      cn.Execute(LockStateQuery("qdsystem..UA_LockState", session.AccountId(),
                                std::atoi(session.FiscalYear().c_str()), "EC", 204));
  if (!state.Eof() && state.Value("bFlag").ToBool()) Raise(kErrBusiness, "Q7.Rembiz.0039");
}

}  // namespace rembiz::host
