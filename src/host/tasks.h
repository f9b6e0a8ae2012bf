// Function tasks and the write lock, as every class applies for them.
#pragma once

#include <string>
#include <string_view>

#include "db/connection.h"
#include "host/session.h"
#include "xml/document.h"

namespace rembiz::host {

// Applies for the task; on refusal (or a missing session) loads the refusal's error document into
// `doc` and returns false.
bool ApplyTask(Session* session, std::string_view task_code, xml::Document& doc);
// Releases the task; on failure loads an error document into `doc` and returns false.
bool ReleaseTask(Session* session, std::string_view task_code, xml::Document& doc);
// Raises "Q7.Rembiz.0039" when writing is blocked in the session's account and year. The flag is
// read on the request's own connection, which reaches the system database.
void CheckHostLock(Session& session, db::Connection& cn);
// The query of a write-lock flag in UA_LockState (`system_table` as the connection names it).
std::string LockStateQuery(const std::string& system_table, const std::string& account, int year,
                           const std::string& system_id, int code);

// A function task held for a scope: applied for when made, released when the scope ends however
// it ends (the release's own failures are ignored, as at the end of every request).
class TaskHold {
 public:
  // A refusal's error document goes into `refusal`.
  TaskHold(Session* session, std::string_view task_code, xml::Document& refusal);
  // The same, keeping the refusal (RefusalText).
  TaskHold(Session* session, std::string_view task_code);
  ~TaskHold();
  TaskHold(const TaskHold&) = delete;
  TaskHold& operator=(const TaskHold&) = delete;

  bool Applied() const { return applied_; }
  std::string RefusalText() const;

 private:
  Session* session_;
  std::string code_;
  xml::Document own_refusal_;
  const xml::Document* refusal_;
  bool applied_ = false;
};

}  // namespace rembiz::host
