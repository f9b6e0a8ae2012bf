#include "db/connection.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <mutex>
#include <set>
#include <unordered_map>
#include <vector>

#include "db/backend.h"
#include "db/no_destructor.h"
#include "db/request_sql.h"
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
    for (;;) {
      std::unique_ptr<BackendConnection> connection;
      {
        std::lock_guard lock(mutex_);
        auto it = idle_.find(key);
        if (it == idle_.end() || it->second.empty()) break;
        connection = std::move(it->second.back());
        it->second.pop_back();
      }
      // One that its server ended meanwhile (a restart) is closed here, not handed out to fail.
      if (connection->Alive()) {
        ++in_use_;
        return connection;
      }
    }
    std::unique_ptr<BackendConnection> opened = BackendFor(options).Open(options, create);
    ++in_use_;
    return opened;
  }

  void Release(const std::string& key, std::unique_ptr<BackendConnection> connection) {
    --in_use_;
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

  ConnectionPoolStats Stats() {
    ConnectionPoolStats stats;
    stats.in_use = in_use_.load();
    std::lock_guard lock(mutex_);
    for (const auto& [key, list] : idle_) stats.idle += list.size();
    return stats;
  }

 private:
  std::atomic<size_t> in_use_ = 0;
  std::mutex mutex_;
  std::unordered_map<std::string, std::vector<std::unique_ptr<BackendConnection>>> idle_;
};

// At exit the idle connections are closed (each backend then cleans up what it keeps for the
// process). A connection still checked out by a thread that outlives main stays open (and is no
// leak to report: its Connection holds it).
ConnectionPool& Pool() {
  // Never destroyed: connections may outlive statics.
  static NoDestructor<ConnectionPool> pool;
  static const bool cleared_at_exit = [] { return std::atexit([] { Pool().Clear(); }) == 0; }();
  (void)cleared_at_exit;
  return *pool;
}

// The limits of free queries and who runs one right now.
struct FreeQueries {
  std::mutex mutex;
  ReadOnlyLimits limits;
  size_t running = 0;
  std::multiset<std::string> owners;
};

FreeQueries& TheFreeQueries() {
  static NoDestructor<FreeQueries> queries;  // used until the very end
  return *queries;
}

thread_local std::string t_free_query_owner;

// A place among the free queries running now, for the time one runs; refused when its owner
// already runs one or the process runs as many as it allows.
class FreeQuerySlot {
 public:
  FreeQuerySlot() : owner_(t_free_query_owner) {
    FreeQueries& q = TheFreeQueries();
    std::lock_guard lock(q.mutex);
    if (!owner_.empty() && q.owners.count(owner_)) {
      throw DbError(kErrTimeout,
                    "A free query of this session is still running; send the next one when it "
                    "has answered.");
    }
    if (q.limits.max_running > 0 && q.running >= q.limits.max_running) {
      throw DbError(kErrTimeout, "Too many free queries are running; try again in a moment.");
    }
    ++q.running;
    if (!owner_.empty()) q.owners.insert(owner_);
  }
  ~FreeQuerySlot() {
    FreeQueries& q = TheFreeQueries();
    std::lock_guard lock(q.mutex);
    --q.running;
    if (!owner_.empty()) q.owners.erase(q.owners.find(owner_));
  }
  FreeQuerySlot(const FreeQuerySlot&) = delete;
  FreeQuerySlot& operator=(const FreeQuerySlot&) = delete;

 private:
  std::string owner_;
};

// An engine's message without the statement it quotes at its end (" [statement]").
std::string WithoutSql(const std::string& description, std::string_view sql) {
  const std::string quoted = " [" + TruncatedSql(sql) + "]";
  if (description.size() >= quoted.size() &&
      description.compare(description.size() - quoted.size(), quoted.size(), quoted) == 0) {
    return description.substr(0, description.size() - quoted.size());
  }
  return description;
}

}  // namespace

Connection::Connection() = default;

Connection::~Connection() { Close(); }

void Connection::Open(std::string_view connection_string, OpenMode mode) {
  Close();
  server_failed_ = false;
  // A thread opens the same few connection strings request after request; their reading is
  // kept for the last one.
  thread_local std::string last_text;
  thread_local ConnectionOptions last_options;
  thread_local std::string last_key;
  if (last_key.empty() || connection_string != last_text) {
    ConnectionOptions options = ParseConnectionString(connection_string);
    last_key = FormatConnectionString(options);
    last_options = std::move(options);
    last_text = connection_string;
  }
  options_ = last_options;
  pool_key_ = last_key;
  backend_ = Pool().Acquire(pool_key_, options_, mode == OpenMode::kCreate);
  dialect_ = BackendFor(options_).TargetDialect();
  statements_ = 0;
  last_changes_ = 0;
}

void Connection::Close() {
  if (backend_) Pool().Release(pool_key_, std::move(backend_));
  backend_.reset();
}

std::string Connection::NewGuid() {
  RequireOpen();
  return backend_->NewGuid();
}

namespace {

// A name the program gives a binary column's statement: letters, digits and '_' only.
const std::string& CheckedName(const std::string& name) {
  if (name.empty() || name.size() > 64 ||
      name.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_") !=
          std::string::npos) {
    throw DbError(kErrInvalidRequest, "'" + name + "' is not a name of a table or column.");
  }
  return name;
}

}  // namespace

int64_t Connection::WriteBytes(std::string_view table, std::string_view column,
                               std::string_view key_column, std::string_view key,
                               std::string_view bytes) {
  RequireOpen();
  ++statements_;
  return backend_->WriteBytes(CheckedName(std::string(table)), CheckedName(std::string(column)),
                              CheckedName(std::string(key_column)), key, bytes, command_timeout_);
}

std::optional<std::string> Connection::ReadBytes(std::string_view table, std::string_view column,
                                                 std::string_view key_column,
                                                 std::string_view key) {
  std::optional<int64_t> size = BytesSize(table, column, key_column, key);
  if (!size) return std::nullopt;
  std::string out;
  out.reserve(static_cast<size_t>(*size));
  // Pieces of a size the engines move without strain; the value itself is held only here.
  constexpr size_t kPiece = 1 << 20;
  for (int64_t offset = 0; offset < *size; offset += kPiece) {
    const size_t before = out.size();
    ReadBytesRange(table, column, key_column, key, offset, kPiece, out);
    // A value that shrank meanwhile (another writer) ends where its bytes end.
    if (out.size() == before) break;
  }
  return out;
}

std::optional<int64_t> Connection::BytesSize(std::string_view table, std::string_view column,
                                             std::string_view key_column, std::string_view key) {
  RequireOpen();
  ++statements_;
  return backend_->BytesSize(CheckedName(std::string(table)), CheckedName(std::string(column)),
                             CheckedName(std::string(key_column)), key, command_timeout_);
}

void Connection::ReadBytesRange(std::string_view table, std::string_view column,
                                std::string_view key_column, std::string_view key, int64_t offset,
                                size_t length, std::string& out) {
  RequireOpen();
  ++statements_;
  backend_->ReadBytesRange(CheckedName(std::string(table)), CheckedName(std::string(column)),
                           CheckedName(std::string(key_column)), key, offset, length, out,
                           command_timeout_);
}

std::optional<int64_t> Connection::LastInsertId() {
  RequireOpen();
  return backend_->LastInsertId();
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
  NotingFailure([&] { backend_->Run(step, values, command_timeout_, result, changes); });
  if (*changes >= 0) {
    last_changes_ = *changes;
  } else {
    *changes = before;
  }
}

Recordset Connection::ExecuteReadOnly(std::string_view sql) {
  return ExecuteReadOnly(sql, GetReadOnlyLimits());
}

Recordset Connection::ExecuteReadOnly(std::string_view sql, const ReadOnlyLimits& limits) {
  return ReadOnly(sql, limits, nullptr);
}

void Connection::ExecuteReadOnly(std::string_view sql, const ReadOnlyLimits& limits,
                                 RowSink& sink) {
  ReadOnly(sql, limits, &sink);
}

Recordset Connection::ReadOnly(std::string_view sql, const ReadOnlyLimits& limits, RowSink* sink) {
  RequireOpen();
  CheckRequestSql(sql);
  TranslatedBatch batch;
  try {
    batch = TranslateSql(sql, dialect_);
  } catch (const DbError& e) {
    throw DbError(e.Number(), WithoutSql(e.Description(), sql), e.NativeCode());
  }
  if (batch.steps->size() != 1 || batch.steps->front().kind != BatchStep::Kind::kStatement) {
    RefuseQuery("not one statement");
  }
  const BatchStep& step = batch.steps->front();
  NoteStatement(step, batch.values);
  ++statements_;
  FreeQuerySlot slot;
  try {
    return NotingFailure([&] {
      if (!sink) return backend_->RunReadOnly(step, batch.values, limits);
      backend_->StreamReadOnly(step, batch.values, limits, *sink);
      return Recordset();
    });
  } catch (const DbError& e) {
    // The engine's own words may quote the statement: the caller sees the problem alone.
    throw DbError(e.Number(), WithoutSql(e.Description(), step.sql), e.NativeCode());
  }
}

void Connection::BeginTrans() {
  RequireOpen();
  backend_->Begin(command_timeout_);
}

void Connection::CommitTrans() {
  RequireOpen();
  backend_->Commit();
  NoteCommit();
}

void Connection::RollbackTrans() {
  RequireOpen();
  backend_->Rollback();
}

bool Connection::InTransaction() const { return backend_ && backend_->InTransaction(); }

void Connection::BeginRead() {
  RequireOpen();
  NotingFailure([&] { backend_->BeginRead(); });
}

void Connection::NoteFailure(const DbError& error) {
  // 25006: read-only transaction (what a standby answers to any write); 40001 on a standby: a
  // read cancelled by replication; 57P01-03: the server is shutting down or starting.
  const std::string& state = error.NativeCode();
  if (error.Number() == kErrConnection || state == "25006" || state == "40001" ||
      state.rfind("57P0", 0) == 0) {
    server_failed_ = true;
  }
}

void Connection::EndRead() {
  if (backend_) backend_->EndRead();
}

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
ConnectionPoolStats ConnectionPoolNow() { return Pool().Stats(); }

void SetReadOnlyLimits(const ReadOnlyLimits& limits) {
  FreeQueries& q = TheFreeQueries();
  std::lock_guard lock(q.mutex);
  q.limits = limits;
}

ReadOnlyLimits GetReadOnlyLimits() {
  FreeQueries& q = TheFreeQueries();
  std::lock_guard lock(q.mutex);
  return q.limits;
}

ReadOnlyOwner::ReadOnlyOwner(std::string owner) : previous_(std::move(t_free_query_owner)) {
  t_free_query_owner = std::move(owner);
}

ReadOnlyOwner::~ReadOnlyOwner() { t_free_query_owner = std::move(previous_); }

}  // namespace rembiz::db
