#include "db/connection.h"

#include <algorithm>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "db/backend.h"
#include "db/test_seams.h"
#include "db/text.h"

namespace rembiz::db {
namespace {

constexpr size_t kMaxIdlePerKey = 16;
constexpr const char* kSavepoint = "rembiz_step";

// Open engine connections by connection string, handed out one request at a time.
class ConnectionPool {
 public:
  std::unique_ptr<BackendConnection> Acquire(const std::string& key,
                                             const ConnectionOptions& options, bool create) {
    {
      std::lock_guard lock(mutex_);
      auto it = idle_.find(key);
      if (it != idle_.end() && !it->second.empty()) {
        std::unique_ptr<BackendConnection> connection = std::move(it->second.back());
        it->second.pop_back();
        return connection;
      }
    }
    return BackendFor(options).Open(options, create);
  }

  void Release(const std::string& key, std::unique_ptr<BackendConnection> connection) {
    if (!connection->Reset()) return;
    std::lock_guard lock(mutex_);
    auto& list = idle_[key];
    if (list.size() < kMaxIdlePerKey) list.push_back(std::move(connection));
  }

  void Clear() {
    std::unordered_map<std::string, std::vector<std::unique_ptr<BackendConnection>>> closing;
    std::lock_guard lock(mutex_);
    closing.swap(idle_);
  }

 private:
  std::mutex mutex_;
  std::unordered_map<std::string, std::vector<std::unique_ptr<BackendConnection>>> idle_;
};

ConnectionPool& Pool() {
  static ConnectionPool* pool = new ConnectionPool();  // never destroyed: outlives statics
  return *pool;
}

[[noreturn]] void RefuseQuery(std::string_view why, std::string_view sql) {
  throw DbError(kErrStatement, "Only a single read-only query is allowed here (" +
                                   std::string(why) + ") [" + TruncatedSql(sql) + "]");
}

}  // namespace

Connection::Connection() = default;

Connection::~Connection() { Close(); }

void Connection::Open(std::string_view connection_string, OpenMode mode) {
  Close();
  options_ = ParseConnectionString(connection_string);
  pool_key_ = FormatConnectionString(options_);
  backend_ = Pool().Acquire(pool_key_, options_, mode == OpenMode::kCreate);
  dialect_ = BackendFor(options_).TargetDialect();
  statements_ = 0;
  last_changes_ = 0;
}

void Connection::Close() {
  if (backend_) Pool().Release(pool_key_, std::move(backend_));
  backend_.reset();
}

void Connection::RequireOpen() const {
  if (!backend_) {
    throw DbError(kErrConnection, "Operation is not allowed when the connection is closed.");
  }
}

Recordset Connection::Execute(std::string_view sql, int64_t* records_affected) {
  RequireOpen();
  TranslatedBatch batch = TranslateSql(sql, dialect_);
  const StatementList& steps = *batch.steps;
  const std::vector<BoundValue>& values = batch.values;
  Recordset result;
  int64_t changes = 0;
  for (size_t i = 0; i < steps.size();) {
    const BatchStep& step = steps[i];
    switch (step.kind) {
      case BatchStep::Kind::kStatement:
        RunStatement(step, values, &result, &changes);
        ++i;
        break;
      case BatchStep::Kind::kCondition: {
        // The condition is a query: it neither answers the batch nor counts as a change.
        Recordset holds;
        int64_t unchanged = 0;
        RunStatement(step, values, &holds, &unchanged);
        i = holds.Eof() ? step.next : i + 1;
        break;
      }
      case BatchStep::Kind::kJump:
        i = step.next;
        break;
    }
  }
  if (records_affected) *records_affected = changes;
  return result;
}

void Connection::RunStatement(const BatchStep& step, const std::vector<BoundValue>& values,
                              Recordset* result, int64_t* changes) {
  if (std::find(step.params.begin(), step.params.end(), kRowCountValue) != step.params.end()) {
    // @@ROWCOUNT: the count of the last data statement, as of now.
    BatchStep counted = step;
    std::vector<BoundValue> with_count = values;
    for (uint32_t& p : counted.params) {
      if (p == kRowCountValue) p = static_cast<uint32_t>(with_count.size());
    }
    with_count.push_back({BoundValue::Kind::kInteger, std::to_string(last_changes_)});
    RunStatement(counted, with_count, result, changes);
    return;
  }
  NoteStatement(step, values);
  ++statements_;
  int64_t before = *changes;
  *changes = -1;
  backend_->Run(step, values, command_timeout_, result, changes);
  if (*changes >= 0) {
    last_changes_ = *changes;
  } else {
    *changes = before;
  }
}

Recordset Connection::ExecuteReadOnly(std::string_view sql) {
  RequireOpen();
  TranslatedBatch batch = TranslateSql(sql, dialect_);
  if (batch.steps->size() != 1 || batch.steps->front().kind != BatchStep::Kind::kStatement) {
    RefuseQuery("not one statement", sql);
  }
  const BatchStep& step = batch.steps->front();
  NoteStatement(step, batch.values);
  ++statements_;
  return backend_->RunReadOnly(step, batch.values, command_timeout_);
}

void Connection::BeginTrans() {
  RequireOpen();
  backend_->Begin(command_timeout_);
}

void Connection::CommitTrans() {
  RequireOpen();
  backend_->Commit();
}

void Connection::RollbackTrans() {
  RequireOpen();
  backend_->Rollback();
}

bool Connection::InTransaction() const { return backend_ && backend_->InTransaction(); }

void Connection::BeginSavepoint() {
  RequireOpen();
  backend_->Savepoint(kSavepoint);
}

void Connection::ReleaseSavepoint() {
  RequireOpen();
  backend_->ReleaseSavepoint(kSavepoint);
}

void Connection::RollbackToSavepoint() {
  RequireOpen();
  backend_->RollbackToSavepoint(kSavepoint);
}

void ClearConnectionPool() { Pool().Clear(); }

}  // namespace rembiz::db
