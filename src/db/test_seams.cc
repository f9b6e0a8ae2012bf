#include "db/test_seams.h"

namespace rembiz::db {
namespace {

struct ThreadSeams {
  int64_t executed = 0;
  std::optional<int64_t> fault_at;  // value of `executed` at which the fault fires
  std::optional<DbError> fault;
  StatementRecorder* recorder = nullptr;
};

ThreadSeams& Seams() {
  thread_local ThreadSeams seams;
  return seams;
}

}  // namespace

int64_t ThreadStatementCount() { return Seams().executed; }

void InjectFault(int64_t nth, DbError error) {
  ThreadSeams& s = Seams();
  s.fault_at = s.executed + nth;
  s.fault.emplace(std::move(error));
}

void ClearFault() {
  Seams().fault_at.reset();
  Seams().fault.reset();
}

StatementRecorder::StatementRecorder() : previous_(Seams().recorder) { Seams().recorder = this; }

StatementRecorder::~StatementRecorder() { Seams().recorder = previous_; }

void NoteStatement(const BatchStep& step, const std::vector<BoundValue>& values) {
  ThreadSeams& s = Seams();
  ++s.executed;
  if (s.recorder) s.recorder->statements_.push_back(ReadableStatement(step, values));
  if (s.fault_at && s.executed == *s.fault_at) {
    DbError error = *s.fault;
    s.fault_at.reset();
    s.fault.reset();
    throw error;
  }
}

void NoteCommit() {
  ThreadSeams& s = Seams();
  if (s.recorder) s.recorder->commits_.push_back(s.recorder->statements_.size());
}

}  // namespace rembiz::db
