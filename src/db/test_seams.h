// Seams that tests and benchmarks use to watch and disturb the data layer: a count of the
// statements this thread executed, a fault that makes the Nth statement fail, and a recorder of
// the statements as they were sent to SQLite.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "db/error.h"
#include "db/sql/translate.h"

namespace rembiz::db {

// Statements executed on this thread since it started (every translated statement counts).
int64_t ThreadStatementCount();

// From now on, the `nth` statement executed on this thread (1 = the next one) fails with
// `error` instead of running. One fault at a time; it disarms when it fires.
void InjectFault(int64_t nth, DbError error);
void ClearFault();

// While alive, records every statement this thread sends to the engine, as translated, its
// bound values written in.
class StatementRecorder {
 public:
  StatementRecorder();
  ~StatementRecorder();
  StatementRecorder(const StatementRecorder&) = delete;
  StatementRecorder& operator=(const StatementRecorder&) = delete;
  const std::vector<std::string>& Statements() const { return statements_; }
  // For each commit, how many statements had been recorded before it.
  const std::vector<size_t>& Commits() const { return commits_; }

 private:
  friend void NoteStatement(const BatchStep& step, const std::vector<BoundValue>& values);
  friend void NoteCommit();
  std::vector<std::string> statements_;
  std::vector<size_t> commits_;
  StatementRecorder* previous_;
};

// Called before each statement runs: counts it, records it, and throws an armed fault.
void NoteStatement(const BatchStep& step, const std::vector<BoundValue>& values);
// Called when a transaction commits (never a fault: a commit is not a statement of the
// caller's).
void NoteCommit();

}  // namespace rembiz::db
