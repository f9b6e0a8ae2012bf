// The SQLite backend: one database file per database, the system database attached as
// `qdsystem` and a process-wide tempdb attached as `tempdb`; SQL Server's functions and text
// comparisons registered on every handle; prepared statements kept per handle and reused.
#include "db/sqlite/sqlite_backend.h"

#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <system_error>
#include <thread>
#include <unordered_map>

#include "db/backend.h"
#include "db/error.h"
#include "db/no_destructor.h"
#include "db/request_sql.h"
#include "db/sqlite/sqlite_errors.h"
#include "db/sqlite/sqlite_functions.h"
#include "db/sqlite/sqlite_type_guards.h"
#include "db/text.h"

namespace rembiz::db::sqlite {
namespace {

constexpr size_t kMaxCachedStatements = 256;
// Binary values move to and from their rows in pieces of this size.
constexpr size_t kBlobPiece = 256 * 1024;

std::string TempPath() {
  return (std::filesystem::temp_directory_path() /
          ("rembiz-tempdb-" + std::to_string(getpid()) + ".db"))
      .string();
}

// The process's own tempdb: a file in WAL mode, so that a request holding a write transaction
// never blocks another request's reads of its work tables (an in-memory database would). One
// handle keeps it open for the life of the process; at exit (after the connection pool, which
// registered its own clean-up before) the keeper is closed and the files go.
const std::string& SharedTempPath() {
  static sqlite3* keeper = nullptr;
  static const std::string path = [] {
    std::string file = TempPath();
    for (const char* suffix : {"", "-wal", "-shm"}) std::remove((file + suffix).c_str());
    sqlite3_open_v2(file.c_str(), &keeper, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    sqlite3_exec(keeper,
                 "PRAGMA journal_mode=WAL; PRAGMA synchronous=OFF; "
                 "CREATE TABLE IF NOT EXISTS rembiz_writer (x);",
                 nullptr, nullptr, nullptr);
    std::atexit([] {
      if (keeper) sqlite3_close_v2(keeper);
      keeper = nullptr;
      std::string f = TempPath();
      for (const char* suffix : {"", "-wal", "-shm"}) std::remove((f + suffix).c_str());
    });
    return file;
  }();
  return path;
}

// Writers of one database file in this process queue on its lock, so that the next one starts
// the moment the last one commits; SQLite's busy handler polls with sleeps that let one writer
// starve under load. Other processes still meet SQLite's own lock (the busy timeout).
std::shared_ptr<std::timed_mutex> WriterLockOf(const std::string& file) {
  // Used until the very end.
  static NoDestructor<std::mutex> mutex;
  static NoDestructor<std::map<std::string, std::shared_ptr<std::timed_mutex>>> locks;
  std::lock_guard lock(*mutex);
  std::shared_ptr<std::timed_mutex>& found = (*locks)[file];
  if (!found) found = std::make_shared<std::timed_mutex>();
  return found;
}

// Waits for a file's writer lock; false when `timeout_seconds` run out first. As with SQLite's
// busy timeout, 0 does not wait at all.
bool TakeWriterLock(std::timed_mutex& lock, int timeout_seconds) {
  if (timeout_seconds <= 0) return lock.try_lock();
  return lock.try_lock_for(std::chrono::seconds(timeout_seconds));
}

[[noreturn]] void WriterLockTimeout(const std::string& file) {
  throw DbError(kErrTimeout,
                "Timeout expired (another request kept writing \"" + file + "\" too long)");
}

// WAL checkpoints run on this thread, not in the request whose commit crossed the threshold:
// request connections have no auto-checkpoint; their WAL hook hands the file over instead. The
// checkpoints are passive (they never wait for SQLite's locks); writers of this process wait
// only while the last frames are copied (see Checkpoint).
class Checkpointer {
 public:
  static constexpr int kPages = 1000;  // SQLite's own auto-checkpoint threshold

  static Checkpointer& Instance() {
    // Commits may come until the very end.
    static NoDestructor<Checkpointer> instance;
    static const bool stopped_at_exit = [] {
      return std::atexit([] { Instance().Stop(); }) == 0;
    }();
    (void)stopped_at_exit;
    return *instance;
  }

  void Request(const std::string& file) {
    std::lock_guard lock(mutex_);
    if (stopped_ || !pending_.insert(file).second) return;
    if (!thread_.joinable()) thread_ = std::thread([this] { Loop(); });
    wake_.notify_one();
  }

 private:
  void Stop() {
    {
      std::lock_guard lock(mutex_);
      stopped_ = true;
    }
    wake_.notify_one();
    if (thread_.joinable()) thread_.join();
  }

  // A handle per checkpoint, closed right after: checkpoints are rare, and a handle kept open
  // would hold on to a file that a test or a re-created installation has replaced.
  void Loop() {
    std::unique_lock lock(mutex_);
    for (;;) {
      wake_.wait(lock, [this] { return stopped_ || !pending_.empty(); });
      if (stopped_) break;
      std::string file = *pending_.begin();
      pending_.erase(pending_.begin());
      lock.unlock();
      sqlite3* db = nullptr;
      if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX,
                          nullptr) == SQLITE_OK) {
        sqlite3_wal_autocheckpoint(db, 0);
        // A new handle opens the WAL at its first read; until then a checkpoint does nothing.
        sqlite3_exec(db, "PRAGMA schema_version", nullptr, nullptr, nullptr);
        Checkpoint(db, file);
      }
      sqlite3_close_v2(db);
      lock.lock();
    }
  }

  // The bulk of the WAL is copied while writers go on; the frames they added meanwhile are
  // copied holding the file's writer lock, so that the checkpoint completes and the next writer
  // starts the WAL again from its beginning. A checkpoint that never completes (writers always
  // adding frames) would let the WAL grow without bound. When the lock stays taken, the next
  // commit past the threshold asks again.
  static void Checkpoint(sqlite3* db, const std::string& file) {
    int frames = 0, copied = 0;
    sqlite3_wal_checkpoint_v2(db, nullptr, SQLITE_CHECKPOINT_PASSIVE, &frames, &copied);
    if (frames == copied) return;
    std::shared_ptr<std::timed_mutex> writer = WriterLockOf(file);
    if (!writer->try_lock_for(std::chrono::milliseconds(200))) return;
    std::unique_lock hold(*writer, std::adopt_lock);
    sqlite3_wal_checkpoint_v2(db, nullptr, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  std::set<std::string> pending_;
  bool stopped_ = false;
  std::thread thread_;
};

// Asked at every commit once the WAL holds kPages, as SQLite's own auto-checkpoint tries: the
// count falls only when a writer restarts the WAL after a complete checkpoint, and asking less
// often lets the WAL grow and every read slow down. A file already waiting is not queued twice.
int WalCommitted(void*, sqlite3* db, const char* schema, int pages) {
  if (pages >= Checkpointer::kPages) {
    const char* file = sqlite3_db_filename(db, schema);
    if (file && *file) Checkpointer::Instance().Request(file);
  }
  return SQLITE_OK;
}

// The statement that takes the write lock of one attached database and no other: BEGIN
// IMMEDIATE would take the locks of the system database and tempdb as well, and writers of two
// accounts would queue for each other. A write that changes nothing is enough; sqlite_sequence
// is in every database with an identity column, and tempdb gets a table for it.
constexpr const char* kLockAccount = "DELETE FROM main.sqlite_sequence WHERE 0";
constexpr const char* kLockTempdb = "DELETE FROM tempdb.rembiz_writer WHERE 0";

// A literal in SQLite's own dialect (no N prefix), for the statements the driver writes itself.
std::string Literal(std::string_view text) { return "'" + SqlEscape(text) + "'"; }

// SQL Server names a result column as the query writes it ("csysid", not the table's "cSysID");
// the pages read these names case-sensitively. SQLite is asked for the written text (see the
// column-name pragmas below) and a qualified or bracketed name is reduced to the name itself.
// A column the server leaves unnamed comes from the translator with the alias "" and keeps that
// empty name, as ADO shows it.
std::string ColumnDisplayName(const char* raw) {
  if (!raw) return "";
  std::string_view text(raw);
  std::string last;
  size_t i = 0;
  while (i < text.size()) {
    std::string part;
    if (text[i] == '[' || text[i] == '"' || text[i] == '`') {
      char close = text[i] == '[' ? ']' : text[i];
      size_t end = text.find(close, i + 1);
      if (end == std::string_view::npos) return std::string(text);
      part = std::string(text.substr(i + 1, end - i - 1));
      i = end + 1;
    } else {
      size_t start = i;
      while (i < text.size() &&
             (std::isalnum(static_cast<unsigned char>(text[i])) || text[i] == '_' ||
              text[i] == '$' || static_cast<unsigned char>(text[i]) >= 0x80)) {
        ++i;
      }
      if (i == start) return std::string(text);  // an expression: keep its text
      part = std::string(text.substr(start, i - start));
    }
    last = std::move(part);
    if (i == text.size()) break;
    if (text[i] != '.') return std::string(text);
    ++i;
  }
  return last;
}

struct Deadline {
  std::chrono::steady_clock::time_point at;
};

int CheckDeadline(void* arg) {
  auto* deadline = static_cast<Deadline*>(arg);
  return std::chrono::steady_clock::now() > deadline->at ? 1 : 0;
}

// Interrupts the statements of a handle that run past the command timeout, while alive.
class DeadlineScope {
 public:
  DeadlineScope(sqlite3* db, int timeout_seconds) : db_(db) {
    deadline_.at = std::chrono::steady_clock::now() + std::chrono::seconds(timeout_seconds);
    if (timeout_seconds > 0) sqlite3_progress_handler(db_, 4000, CheckDeadline, &deadline_);
  }
  ~DeadlineScope() { sqlite3_progress_handler(db_, 0, nullptr, nullptr); }
  DeadlineScope(const DeadlineScope&) = delete;
  DeadlineScope& operator=(const DeadlineScope&) = delete;

 private:
  sqlite3* db_;
  Deadline deadline_;
};

Variant ColumnValue(sqlite3_stmt* stmt, int col, int type) {
  int storage = sqlite3_column_type(stmt, col);
  if (storage == SQLITE_NULL) return Variant();
  switch (type) {
    case kAdBoolean:
      if (storage == SQLITE_TEXT) {
        return Variant::Bool(
            Variant(reinterpret_cast<const char*>(sqlite3_column_text(stmt, col))).ToBool());
      }
      return Variant::Bool(sqlite3_column_double(stmt, col) != 0);
    case kAdCurrency:
    case kAdDouble:
    case kAdSingle:
    case kAdNumeric:
      if (storage == SQLITE_INTEGER || storage == SQLITE_FLOAT) {
        return Variant(sqlite3_column_double(stmt, col));
      }
      break;
    case kAdInteger:
    case kAdSmallInt:
    case kAdTinyInt:
    case kAdBigInt:
      if (storage == SQLITE_INTEGER) return Variant(sqlite3_column_int64(stmt, col));
      break;
    case kAdDbTimeStamp:
      if (storage == SQLITE_TEXT) {
        Variant date = Variant::Date(reinterpret_cast<const char*>(sqlite3_column_text(stmt, col)));
        if (!date.IsNull()) return date;
      }
      break;
    default:
      break;
  }
  switch (storage) {
    case SQLITE_INTEGER:
      return Variant(sqlite3_column_int64(stmt, col));
    case SQLITE_FLOAT:
      return Variant(sqlite3_column_double(stmt, col));
    default: {
      const char* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, col));
      return Variant(std::string(text, static_cast<size_t>(sqlite3_column_bytes(stmt, col))));
    }
  }
}

// What a column's values are read as: its type as declared, or for an expression column the
// type its first non-null value shows.
struct ColumnType {
  int type;
  int64_t defined_size;
  int precision;
};

// The fields of a cached statement as declared, and the shape last made of them; recordsets of
// the statement share that shape while the types of its expression columns stay the same.
struct StatementShape {
  std::vector<FieldInfo> declared;
  std::vector<bool> undeclared;
  bool any_undeclared = false;
  std::shared_ptr<const RecordShape> last;
  int reprepared = 0;  // SQLite prepares a statement again when a table it reads changed
};

void DeclaredFields(sqlite3_stmt* stmt, int columns, StatementShape& shape) {
  shape = StatementShape();
  shape.reprepared = sqlite3_stmt_status(stmt, SQLITE_STMTSTATUS_REPREPARE, 0);
  shape.declared.reserve(static_cast<size_t>(columns));
  for (int i = 0; i < columns; ++i) {
    const char* decl = sqlite3_column_decltype(stmt, i);
    const char* name = sqlite3_column_name(stmt, i);
    shape.declared.push_back(FieldInfoFromDeclType(ColumnDisplayName(name), decl ? decl : ""));
    shape.undeclared.push_back(decl == nullptr);
    shape.any_undeclared = shape.any_undeclared || decl == nullptr;
  }
}

// Field types of an expression column come from its first non-null value.
void InferUndeclaredTypes(sqlite3_stmt* stmt, std::vector<ColumnType>& types,
                          std::vector<bool>& undeclared, bool& pending) {
  pending = false;
  for (size_t i = 0; i < types.size(); ++i) {
    if (!undeclared[i]) continue;
    int storage = sqlite3_column_type(stmt, static_cast<int>(i));
    if (storage == SQLITE_NULL) {
      pending = true;
      continue;
    }
    undeclared[i] = false;
    if (storage == SQLITE_INTEGER) {
      sqlite3_int64 v = sqlite3_column_int64(stmt, static_cast<int>(i));
      bool small = v >= INT32_MIN && v <= INT32_MAX;
      types[i] = small ? ColumnType{kAdInteger, 4, 10} : ColumnType{kAdBigInt, 8, 19};
    } else if (storage == SQLITE_FLOAT) {
      types[i] = ColumnType{kAdDouble, 8, 15};
    }
  }
}

// The shape of this run: the last one while the types agree, else a new one kept as the last.
std::shared_ptr<const RecordShape> ShapeOf(StatementShape& shape,
                                           const std::vector<ColumnType>& types) {
  if (shape.last) {
    bool same = true;
    const std::vector<FieldInfo>& fields = shape.last->Fields();
    for (size_t i = 0; same && i < types.size(); ++i) {
      same = fields[i].type == types[i].type && fields[i].defined_size == types[i].defined_size &&
             fields[i].precision == types[i].precision;
    }
    if (same) return shape.last;
  }
  std::vector<FieldInfo> fields = shape.declared;
  for (size_t i = 0; i < types.size(); ++i) {
    fields[i].type = types[i].type;
    fields[i].defined_size = types[i].defined_size;
    fields[i].precision = types[i].precision;
  }
  shape.last = std::make_shared<const RecordShape>(std::move(fields));
  return shape.last;
}

// How much of an answer a statement may read.
struct AnswerBound {
  size_t max_rows;
  size_t max_bytes;
};

// Bytes a value adds to an answer written as text: its text, or what a number takes.
size_t ValueBytes(sqlite3_stmt* stmt, int col) {
  switch (sqlite3_column_type(stmt, col)) {
    case SQLITE_TEXT:
    case SQLITE_BLOB:
      return static_cast<size_t>(sqlite3_column_bytes(stmt, col));
    case SQLITE_NULL:
      return 0;
    default:
      return 24;
  }
}

// Values of a column read as integers before the column turned out to hold doubles.
void Retype(std::vector<Variant>& row, const std::vector<ColumnType>& types) {
  for (size_t i = 0; i < types.size(); ++i) {
    if (types[i].type == kAdDouble && row[i].kind() == Variant::Kind::kInt) {
      row[i] = Variant(row[i].ToDouble());
    }
  }
}

// Steps a prepared statement to its end. A statement with columns leaves its rows in `result`
// and answers true. With a bound the answer is counted while it is read, and refused past it.
// `cached`: the statement's fields kept with the prepared statement (made on its first run).
// With a `sink` the rows go to it as they are stepped instead, and the sink gets the declared
// fields (a column of no declared type is typed by its first value, as the rows show).
bool StepRows(sqlite3* db, sqlite3_stmt* stmt, std::string_view sql, Recordset* result,
              const AnswerBound* bound = nullptr, StatementShape* cached = nullptr,
              RowSink* sink = nullptr) {
  // A statement whose tables changed since it was prepared is prepared again by its first step,
  // perhaps with other columns: the fields are looked at after it.
  int rc = sqlite3_step(stmt);
  int columns = sqlite3_column_count(stmt);
  StatementShape own;
  StatementShape& shape = cached ? *cached : own;
  if (columns > 0 &&
      (shape.declared.size() != static_cast<size_t>(columns) ||
       shape.reprepared != sqlite3_stmt_status(stmt, SQLITE_STMTSTATUS_REPREPARE, 0))) {
    DeclaredFields(stmt, columns, shape);
  }
  std::vector<ColumnType> types;
  types.reserve(static_cast<size_t>(columns));
  for (const FieldInfo& field : shape.declared) {
    types.push_back({field.type, field.defined_size, field.precision});
  }
  std::vector<bool> undeclared;
  if (shape.any_undeclared) undeclared = shape.undeclared;
  std::vector<std::vector<Variant>> rows;
  bool pending = shape.any_undeclared;
  size_t row_overhead = 0;  // the names and quotes every row repeats
  if (bound) {
    for (const FieldInfo& field : shape.declared) row_overhead += field.name.size() + 4;
  }
  size_t bytes = 0;
  size_t count = 0;
  const bool streaming = sink && columns > 0;
  if (streaming) sink->Fields(shape.declared);
  for (bool first = true;; first = false) {
    if (!first) rc = sqlite3_step(stmt);
    if (rc == SQLITE_DONE) break;
    if (rc != SQLITE_ROW) ThrowError(db, rc, sql);
    if (bound) {
      if (count >= bound->max_rows) AnswerTooLarge(bound->max_rows, "rows");
      bytes += row_overhead;
      for (int i = 0; i < columns; ++i) bytes += ValueBytes(stmt, i);
      if (bytes > bound->max_bytes) AnswerTooLarge(bound->max_bytes >> 10, "KiB");
    }
    if (pending) InferUndeclaredTypes(stmt, types, undeclared, pending);
    std::vector<Variant> row;
    row.reserve(types.size());
    for (int i = 0; i < columns; ++i) row.push_back(ColumnValue(stmt, i, types[i].type));
    ++count;
    if (streaming) {
      // A column's type is known from its first value on, and is then the row's.
      if (shape.any_undeclared) Retype(row, types);
      sink->Row(row);
    } else {
      rows.push_back(std::move(row));
    }
  }
  if (streaming) return true;
  if (columns > 0) {
    // Values read before a column's type was known are re-typed now.
    if (shape.any_undeclared) {
      for (auto& row : rows) Retype(row, types);
    }
    *result = Recordset(ShapeOf(shape, types), std::move(rows));
  }
  return columns > 0;
}

void BindValues(sqlite3_stmt* stmt, const BatchStep& step, const std::vector<BoundValue>& values) {
  for (size_t k = 0; k < step.params.size(); ++k) {
    const BoundValue& value = values.at(step.params[k]);
    int index = static_cast<int>(k + 1);
    switch (value.kind) {
      case BoundValue::Kind::kText:
        // The values outlive the run, and the statement's bindings are cleared after it.
        sqlite3_bind_text(stmt, index, value.text.data(), static_cast<int>(value.text.size()),
                          SQLITE_STATIC);
        break;
      case BoundValue::Kind::kInteger:
        sqlite3_bind_int64(stmt, index, std::strtoll(value.text.c_str(), nullptr, 10));
        break;
      case BoundValue::Kind::kReal:
        sqlite3_bind_double(stmt, index, std::strtod(value.text.c_str(), nullptr));
        break;
    }
  }
}

// The plain functions request SQL may call, under the names the translator writes for SQLite
// (the server's functions are registered under their own names, a few as rembiz_*).
bool IsReadOnlyFunction(std::string_view name) {
  return IsPlainFunction(name) || IsSqlServerFunction(Lower(name));
}

// Free SQL from requests runs under this authorizer: a query may select, read and call plain
// functions, nothing else, and never sees password hashes, login sessions or failed log-ins.
int ReadOnlyAuthorizer(void*, int action, const char* a3, const char* a4, const char*,
                       const char*) {
  auto same = [](const char* text, std::string_view name) {
    return text && Lower(text) == Lower(name);
  };
  switch (action) {
    case SQLITE_SELECT:
      return SQLITE_OK;
    case SQLITE_FUNCTION:
      return a4 && IsReadOnlyFunction(a4) ? SQLITE_OK : SQLITE_DENY;
    case SQLITE_READ:
      if (same(a3, "UA_Session") || same(a3, "UA_LoginFailure") ||
          (same(a3, "UA_User") && same(a4, "cPassword"))) {
        return SQLITE_DENY;
      }
      return SQLITE_OK;
    default:
      return SQLITE_DENY;
  }
}

// One SQLite handle with its attachments, functions and prepared statements.
class SqliteConnection : public BackendConnection {
 public:
  SqliteConnection(const ConnectionOptions& options, bool create) {
    for (const std::string* file : {&options.data_source, &options.system_database}) {
      if (!file->empty() && !create && *file != ":memory:" && !std::filesystem::exists(*file)) {
        throw DbError(kErrConnection, "Cannot open database \"" + *file + "\": file not found.");
      }
    }
    int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX |
                (create ? SQLITE_OPEN_CREATE : 0);
    int rc = sqlite3_open_v2(options.data_source.c_str(), &db_, flags, nullptr);
    if (rc != SQLITE_OK) {
      std::string message = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
      sqlite3_close_v2(db_);
      db_ = nullptr;
      throw DbError(kErrConnection,
                    "Cannot open database \"" + options.data_source + "\": " + message);
    }
    try {
      sqlite3_extended_result_codes(db_, 1);
      sqlite3_busy_timeout(db_, 15000);
      RegisterSqlServerFunctions(db_);
      // WAL is a property of the file: set once when the database is made, so that opening a
      // handle never needs a lock another writer may hold.
      if (create) Exec("PRAGMA journal_mode=WAL;");
      Exec(
          "PRAGMA synchronous=NORMAL; PRAGMA foreign_keys=OFF; PRAGMA recursive_triggers=OFF;"
          "PRAGMA short_column_names=OFF; PRAGMA full_column_names=OFF;");
      if (!options.system_database.empty()) {
        Exec("ATTACH DATABASE " + Literal(options.system_database) + " AS qdsystem;");
        if (create) Exec("PRAGMA qdsystem.journal_mode=WAL;");
        Exec("PRAGMA qdsystem.synchronous=NORMAL;");
      }
      std::string temp = options.temp_database.empty() ? ":memory:" : options.temp_database;
      if (temp == ":memory:") temp = SharedTempPath();
      Exec("ATTACH DATABASE " + Literal(temp) + " AS tempdb;");
      InstallTypeGuards(db_);
      // Replaces the auto-checkpoint: commits hand full WALs to the checkpoint thread.
      sqlite3_wal_hook(db_, WalCommitted, nullptr);
      // An in-memory database is this handle's alone: a lock of its own.
      const char* file = sqlite3_db_filename(db_, "main");
      main_file_ = file && *file ? std::string(file)
                                 : ":memory:" + std::to_string(reinterpret_cast<uintptr_t>(this));
    } catch (...) {
      sqlite3_close_v2(db_);
      throw;
    }
  }

  ~SqliteConnection() override {
    for (auto& [sql, cached] : statements_) sqlite3_finalize(cached.stmt);
    FinalizeControl();
    sqlite3_close_v2(db_);
  }

  SqliteConnection(const SqliteConnection&) = delete;
  SqliteConnection& operator=(const SqliteConnection&) = delete;

  void Run(const BatchStep& step, const std::vector<BoundValue>& values, int timeout_seconds,
           Recordset* result, int64_t* changes) override {
    SetTimeout(timeout_seconds);
    DeadlineScope deadline(db_, timeout_seconds);
    if (step.effect == BatchStep::Effect::kInsertSelect && step.insert_columns.empty()) {
      std::string columns = InsertColumns(step.relation);
      if (!columns.empty()) {
        BatchStep listed = step;
        listed.sql.insert(step.insert_at, " (" + columns + ")");
        listed.effect = BatchStep::Effect::kNone;
        RunPrepared(listed, values, result, changes);
        return;
      }
    }
    RunPrepared(step, values, result, changes);
  }

  Recordset RunReadOnly(const BatchStep& step, const std::vector<BoundValue>& values,
                        const ReadOnlyLimits& limits) override {
    return ReadOnly(step, values, limits, nullptr);
  }

  void StreamReadOnly(const BatchStep& step, const std::vector<BoundValue>& values,
                      const ReadOnlyLimits& limits, RowSink& sink) override {
    // A query with columns steps its rows into the sink: nothing is held.
    ReadOnly(step, values, limits, &sink);
  }

  Recordset ReadOnly(const BatchStep& step, const std::vector<BoundValue>& values,
                     const ReadOnlyLimits& limits, RowSink* sink) {
    const std::string& text = step.sql;
    // The query's own budget, shorter than the command timeout: it must not hold a worker long.
    const int seconds = std::max(1, limits.seconds);
    const auto stop_at = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    DeadlineScope deadline(db_, seconds);
    // The authorizer stays on while the statement runs: SQLite may prepare it again on a step.
    sqlite3_set_authorizer(db_, ReadOnlyAuthorizer, nullptr);
    // No text or blob longer than this may be made or read while the query runs.
    int length_limit =
        sqlite3_limit(db_, SQLITE_LIMIT_LENGTH, std::max(1024, limits.max_value_bytes));
    struct Restore {
      sqlite3* db;
      int length_limit;
      ~Restore() {
        sqlite3_limit(db, SQLITE_LIMIT_LENGTH, length_limit);
        sqlite3_set_authorizer(db, nullptr, nullptr);
      }
    } restore{db_, length_limit};

    // Never from the statement cache: a cached statement was authorized without these rules.
    sqlite3_stmt* raw = nullptr;
    const char* tail = nullptr;
    int rc = sqlite3_prepare_v2(db_, text.c_str(), static_cast<int>(text.size()), &raw, &tail);
    std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> stmt(raw, sqlite3_finalize);
    if (rc != SQLITE_OK) {
      if ((rc & 0xff) == SQLITE_AUTH) RefuseQuery(sqlite3_errmsg(db_));
      ThrowError(db_, rc, text);
    }
    if (!stmt) RefuseQuery("no statement");
    if (tail && std::string_view(tail).find_first_not_of(" \t\r\n;") != std::string_view::npos) {
      RefuseQuery("more than one statement");
    }
    if (!sqlite3_stmt_readonly(stmt.get()) || sqlite3_column_count(stmt.get()) == 0) {
      RefuseQuery("not a query");
    }
    BindValues(stmt.get(), step, values);
    Recordset result;
    AnswerBound bound{limits.max_rows, limits.max_bytes};
    try {
      StepRows(db_, stmt.get(), text, &result, &bound, nullptr, sink);
    } catch (const DbError&) {
      if (sqlite3_errcode(db_) == SQLITE_TOOBIG) ValueTooLong(limits.max_value_bytes);
      if (std::chrono::steady_clock::now() < stop_at) throw;
      QueryTooLong(seconds);
    }
    return result;
  }

  // A write transaction holds the write lock of the account database alone, taken at its start
  // so that concurrent writers queue (on the file's lock in this process, on SQLite's lock
  // across processes) instead of failing on a lock upgrade later. The system database is
  // locked when the transaction first writes it; tempdb before its first statement on tempdb.
  void Begin(int timeout_seconds) override {
    if (InTransaction()) Exec("BEGIN");  // refused: one is open already
    EndRead();
    SetTimeout(timeout_seconds);
    if (!writer_) writer_ = WriterLockOf(main_file_);
    if (!TakeWriterLock(*writer_, timeout_seconds)) WriterLockTimeout(main_file_);
    holds_writer_ = true;
    try {
      Control("BEGIN");
      write_ = true;
      if (!LockWith(kLockAccount)) {
        // A database without an identity column yet (one being set up): all of them.
        Exec("ROLLBACK; BEGIN IMMEDIATE");
      }
    } catch (...) {
      EndWrite();
      throw;
    }
  }
  void Commit() override {
    try {
      Control("COMMIT");
    } catch (...) {
      if (sqlite3_get_autocommit(db_)) EndWrite();
      throw;
    }
    EndWrite();
  }
  void Rollback() override {
    if (!sqlite3_get_autocommit(db_)) Control("ROLLBACK");
    EndWrite();
  }
  bool InTransaction() const override { return write_ && !sqlite3_get_autocommit(db_); }
  void Savepoint(const std::string& name) override { Control("SAVEPOINT " + name); }
  void ReleaseSavepoint(const std::string& name) override {
    if (InTransaction()) Control("RELEASE " + name);
  }
  void RollbackToSavepoint(const std::string& name) override {
    if (!InTransaction()) return;
    Control("ROLLBACK TO " + name);
    Control("RELEASE " + name);
  }

  // The reads of one request share one snapshot: a deferred transaction that takes no lock
  // until it reads, ended by a write (which then runs on its own) or by the end of the request.
  void BeginRead() override {
    if (!sqlite3_get_autocommit(db_)) return;
    Control("BEGIN");
    read_ = true;
  }
  void EndRead() override {
    if (!read_) return;
    read_ = false;
    if (!sqlite3_get_autocommit(db_)) Control("COMMIT");
  }

  bool Reset() override {
    if (!sqlite3_get_autocommit(db_)) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    EndWrite();
    read_ = false;
    sqlite3_progress_handler(db_, 0, nullptr, nullptr);
    return sqlite3_get_autocommit(db_) != 0;
  }

  // Binary values take the write transaction's lock like any write: they are written only
  // inside one. The row gets a value of the right size first, then its bytes go in pieces
  // through incremental blob I/O, so SQLite never builds the whole value as a record of its own.
  int64_t WriteBytes(const std::string& table, const std::string& column,
                     const std::string& key_column, std::string_view key, std::string_view bytes,
                     int timeout_seconds) override {
    if (!InTransaction()) {
      throw DbError(kErrStatement, "Binary values are written inside a transaction.");
    }
    SetTimeout(timeout_seconds);
    DeadlineScope deadline(db_, timeout_seconds);
    const std::string sql = "UPDATE \"" + table + "\" SET \"" + column +
                            "\" = zeroblob(?1) WHERE \"" + key_column + "\" = ?2 RETURNING rowid";
    Statement stmt = Prepare(sql);
    sqlite3_bind_int64(stmt.get(), 1, static_cast<sqlite3_int64>(bytes.size()));
    sqlite3_bind_text64(stmt.get(), 2, key.data(), key.size(), SQLITE_STATIC, SQLITE_UTF8);
    std::vector<sqlite3_int64> rows;
    int rc;
    while ((rc = sqlite3_step(stmt.get())) == SQLITE_ROW) {
      rows.push_back(sqlite3_column_int64(stmt.get(), 0));
    }
    if (rc != SQLITE_DONE) ThrowError(db_, rc, sql);
    stmt.reset();
    for (sqlite3_int64 row : rows) {
      if (bytes.empty()) break;
      sqlite3_blob* blob = nullptr;
      rc = sqlite3_blob_open(db_, "main", table.c_str(), column.c_str(), row, 1, &blob);
      std::unique_ptr<sqlite3_blob, int (*)(sqlite3_blob*)> owned(blob, sqlite3_blob_close);
      if (rc != SQLITE_OK) ThrowError(db_, rc, sql);
      for (size_t offset = 0; offset < bytes.size(); offset += kBlobPiece) {
        const size_t piece = std::min(kBlobPiece, bytes.size() - offset);
        rc = sqlite3_blob_write(blob, bytes.data() + offset, static_cast<int>(piece),
                                static_cast<int>(offset));
        if (rc != SQLITE_OK) ThrowError(db_, rc, sql);
      }
    }
    return static_cast<int64_t>(rows.size());
  }

  std::optional<int64_t> BytesSize(const std::string& table, const std::string& column,
                                   const std::string& key_column, std::string_view key,
                                   int timeout_seconds) override {
    SetTimeout(timeout_seconds);
    DeadlineScope deadline(db_, timeout_seconds);
    // length() of a blob reads its header, not its bytes.
    const std::string sql = "SELECT coalesce(length(\"" + column + "\"), 0) FROM \"" + table +
                            "\" WHERE \"" + key_column + "\" = ?1";
    Statement stmt = Prepare(sql);
    sqlite3_bind_text64(stmt.get(), 1, key.data(), key.size(), SQLITE_STATIC, SQLITE_UTF8);
    int rc = sqlite3_step(stmt.get());
    if (rc == SQLITE_DONE) return std::nullopt;
    if (rc != SQLITE_ROW) ThrowError(db_, rc, sql);
    return sqlite3_column_int64(stmt.get(), 0);
  }

  void ReadBytesRange(const std::string& table, const std::string& column,
                      const std::string& key_column, std::string_view key, int64_t offset,
                      size_t length, std::string& out, int timeout_seconds) override {
    SetTimeout(timeout_seconds);
    DeadlineScope deadline(db_, timeout_seconds);
    const std::string sql = "SELECT rowid, coalesce(length(\"" + column + "\"), 0) FROM \"" +
                            table + "\" WHERE \"" + key_column + "\" = ?1";
    Statement stmt = Prepare(sql);
    sqlite3_bind_text64(stmt.get(), 1, key.data(), key.size(), SQLITE_STATIC, SQLITE_UTF8);
    int rc = sqlite3_step(stmt.get());
    if (rc == SQLITE_DONE) return;
    if (rc != SQLITE_ROW) ThrowError(db_, rc, sql);
    const sqlite3_int64 row = sqlite3_column_int64(stmt.get(), 0);
    const int64_t size = sqlite3_column_int64(stmt.get(), 1);
    stmt.reset();
    if (offset < 0 || offset >= size) return;
    const size_t piece = static_cast<size_t>(std::min<int64_t>(length, size - offset));
    sqlite3_blob* blob = nullptr;
    rc = sqlite3_blob_open(db_, "main", table.c_str(), column.c_str(), row, 0, &blob);
    std::unique_ptr<sqlite3_blob, int (*)(sqlite3_blob*)> owned(blob, sqlite3_blob_close);
    if (rc != SQLITE_OK) ThrowError(db_, rc, sql);
    const size_t before = out.size();
    out.resize(before + piece);
    rc = sqlite3_blob_read(blob, out.data() + before, static_cast<int>(piece),
                           static_cast<int>(offset));
    if (rc != SQLITE_OK) {
      out.resize(before);
      ThrowError(db_, rc, sql);
    }
  }

  // Rows that triggers add do not count: SQLite gives back the statement's own row.
  std::optional<int64_t> LastInsertId() override { return sqlite3_last_insert_rowid(db_); }

  // The same randomness as NEWID() in SQL.
  std::string NewGuid() override {
    unsigned char bytes[16];
    sqlite3_randomness(sizeof bytes, bytes);
    return RandomGuidText(bytes);
  }

  using Statement = std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)>;
  // A statement of its own, outside the cache.
  Statement Prepare(const std::string& sql) {
    sqlite3_stmt* raw = nullptr;
    int rc = sqlite3_prepare_v2(db_, sql.c_str(), static_cast<int>(sql.size()), &raw, nullptr);
    Statement stmt(raw, sqlite3_finalize);
    if (rc != SQLITE_OK) ThrowError(db_, rc, sql);
    return stmt;
  }

  void Exec(const std::string& sql) {
    char* error = nullptr;
    int rc = sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &error);
    if (error) sqlite3_free(error);
    if (rc != SQLITE_OK) ThrowError(db_, rc, sql);
  }

  // One transaction command (BEGIN, COMMIT, a savepoint's), prepared once per handle: every
  // request begins and ends at least one, and parsing them each time cost more than running them.
  void Control(const std::string& sql) {
    auto it = control_.find(sql);
    if (it == control_.end()) {
      // Savepoint names are few; a handle that met many starts over.
      if (control_.size() >= 32) FinalizeControl();
      it = control_.emplace(sql, PrepareKept(sql, nullptr)).first;
    }
    int rc = sqlite3_step(it->second);
    sqlite3_reset(it->second);
    if (rc != SQLITE_DONE && rc != SQLITE_ROW) ThrowError(db_, rc, sql);
  }
  void FinalizeControl() {
    for (auto& [text, stmt] : control_) sqlite3_finalize(stmt);
    control_.clear();
  }

 private:
  // A prepared statement, finalized or reset for reuse when the scope ends.
  struct StatementGuard {
    sqlite3_stmt* stmt;
    bool cached;
    ~StatementGuard() {
      if (!stmt) return;
      if (cached) {
        sqlite3_reset(stmt);
        sqlite3_clear_bindings(stmt);
      } else {
        sqlite3_finalize(stmt);
      }
    }
  };

  // The command timeout is also how long a statement waits for a busy database.
  void SetTimeout(int seconds) {
    if (seconds != timeout_) {
      sqlite3_busy_timeout(db_, std::max(seconds, 0) * 1000);
      timeout_ = seconds;
    }
  }

  // Runs a lock statement in the open transaction; false when this database cannot take it.
  bool LockWith(const char* sql) {
    const char* tail = nullptr;
    bool cached = false;
    sqlite3_stmt* stmt = nullptr;
    try {
      StatementShape* shape = nullptr;
      stmt = Prepare(sql, &tail, &cached, &shape);
    } catch (const DbError&) {
      return false;  // no such table
    }
    StatementGuard guard{stmt, cached};
    int rc = sqlite3_step(stmt);
    if (rc != SQLITE_DONE) ThrowError(db_, rc, sql);
    return true;
  }

  // Ends the write transaction's hold on the file's lock (the transaction itself is over).
  void EndWrite() {
    write_ = false;
    tempdb_locked_ = false;
    if (holds_writer_) {
      holds_writer_ = false;
      writer_->unlock();
    }
  }

  // Before a statement: a write transaction takes tempdb's write lock before it first touches
  // tempdb (taking it later, after a read there, could fail at once instead of waiting); a
  // write outside a transaction ends the request's read snapshot and queues on the file's lock.
  void BeforeStatement(sqlite3_stmt* stmt, const std::string& sql,
                       std::unique_lock<std::timed_mutex>* autocommit_writer) {
    if (write_) {
      if (!tempdb_locked_ && MentionsTempdb(sql)) {
        LockWith(kLockTempdb);
        tempdb_locked_ = true;
      }
      return;
    }
    if (sqlite3_stmt_readonly(stmt)) return;
    EndRead();
    if (!sqlite3_get_autocommit(db_)) return;  // a transaction the SQL text began itself
    if (!writer_) writer_ = WriterLockOf(main_file_);
    if (!TakeWriterLock(*writer_, timeout_)) WriterLockTimeout(main_file_);
    *autocommit_writer = std::unique_lock(*writer_, std::adopt_lock);
  }

  // Whether the statement names tempdb ("tempdb.t", in any case).
  static bool MentionsTempdb(std::string_view sql) {
    constexpr std::string_view kName = "tempdb.";
    // ASCII case only: std::tolower asks the locale for every character of every statement.
    auto same = [](char a, char b) { return (a >= 'A' && a <= 'Z' ? a + ('a' - 'A') : a) == b; };
    return std::search(sql.begin(), sql.end(), kName.begin(), kName.end(), same) != sql.end();
  }

  // `sql` prepared to be kept and run again (its first statement; `tail` gets the rest).
  sqlite3_stmt* PrepareKept(const std::string& sql, const char** tail) {
    sqlite3_stmt* stmt = nullptr;
    int rc = sqlite3_prepare_v3(db_, sql.c_str(), static_cast<int>(sql.size()),
                                SQLITE_PREPARE_PERSISTENT, &stmt, tail);
    if (rc != SQLITE_OK) {
      sqlite3_finalize(stmt);
      ThrowError(db_, rc, sql);
    }
    return stmt;
  }

  // A prepared statement for `sql`, reused across requests; reset before it is handed out.
  sqlite3_stmt* Prepare(const std::string& sql, const char** tail, bool* cached,
                        StatementShape** shape) {
    *tail = nullptr;
    *shape = nullptr;
    auto it = statements_.find(sql);
    if (it != statements_.end()) {
      *cached = true;
      *shape = &it->second.shape;
      return it->second.stmt;
    }
    if (statements_.size() >= kMaxCachedStatements) {
      for (auto& [text, old] : statements_) sqlite3_finalize(old.stmt);
      statements_.clear();
    }
    sqlite3_stmt* stmt = PrepareKept(sql, tail);
    *cached = stmt && (*tail == nullptr || **tail == '\0');
    if (*cached) *shape = &statements_.emplace(sql, Cached{stmt, {}}).first->second.shape;
    return stmt;
  }

  void RunPrepared(const BatchStep& step, const std::vector<BoundValue>& values, Recordset* result,
                   int64_t* changes) {
    const char* tail = nullptr;
    bool cached = false;
    StatementShape* shape = nullptr;
    sqlite3_stmt* stmt = Prepare(step.sql, &tail, &cached, &shape);
    StatementGuard guard{stmt, cached};
    if (!stmt) return;  // blank text or a comment
    std::unique_lock<std::timed_mutex> autocommit_writer;
    BeforeStatement(stmt, step.sql, &autocommit_writer);
    BindValues(stmt, step, values);
    if (!StepRows(db_, stmt, step.sql, result, nullptr, shape) && !sqlite3_stmt_readonly(stmt)) {
      *changes = sqlite3_changes64(db_);
    }
    if (autocommit_writer.owns_lock()) autocommit_writer.unlock();
    if (tail && std::string_view(tail).find_first_not_of(" \t\r\n;") != std::string_view::npos) {
      BatchStep rest;
      rest.sql = tail;
      RunPrepared(rest, {}, result, changes);
    }
  }

  // The columns of `relation` ("t", "tempdb.t") but its IDENTITY column (the rowid alias), for
  // an INSERT ... SELECT without a column list; "" when it has none.
  std::string InsertColumns(const std::string& relation) {
    size_t dot = relation.find('.');
    std::string schema = dot == std::string::npos ? "main" : relation.substr(0, dot);
    std::string table = dot == std::string::npos ? relation : relation.substr(dot + 1);
    sqlite3_stmt* raw = nullptr;
    const char* sql = "SELECT name, pk, lower(type) FROM pragma_table_info(?1, ?2) ORDER BY cid";
    if (sqlite3_prepare_v2(db_, sql, -1, &raw, nullptr) != SQLITE_OK) {
      sqlite3_finalize(raw);
      return {};
    }
    std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> stmt(raw, sqlite3_finalize);
    sqlite3_bind_text(raw, 1, table.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(raw, 2, schema.c_str(), -1, SQLITE_TRANSIENT);
    std::string columns;
    int keys = 0;
    bool identity = false;
    while (sqlite3_step(raw) == SQLITE_ROW) {
      std::string name = reinterpret_cast<const char*>(sqlite3_column_text(raw, 0));
      bool key = sqlite3_column_int(raw, 1) > 0;
      const unsigned char* type = sqlite3_column_text(raw, 2);
      if (key) ++keys;
      if (key && type && std::string_view(reinterpret_cast<const char*>(type)) == "integer") {
        identity = true;
        continue;
      }
      columns += (columns.empty() ? "\"" : ", \"") + name + "\"";
    }
    return identity && keys == 1 ? columns : std::string();
  }

  sqlite3* db_ = nullptr;
  int timeout_ = 15;
  // A prepared statement with the fields of its results.
  struct Cached {
    sqlite3_stmt* stmt;
    StatementShape shape;
  };
  std::unordered_map<std::string, Cached> statements_;
  std::unordered_map<std::string, sqlite3_stmt*> control_;  // see Control
  std::string main_file_;                     // the account database's file: its writer lock
  std::shared_ptr<std::timed_mutex> writer_;  // that lock, once this handle has written
  bool holds_writer_ = false;                 // held for the open write transaction
  bool write_ = false;                        // a write transaction is open
  bool tempdb_locked_ = false;                // it holds tempdb's write lock too
  bool read_ = false;                         // a read transaction is open
};

class SqliteBackend : public Backend {
 public:
  Dialect TargetDialect() const override { return Dialect::kSqlite; }

  std::unique_ptr<BackendConnection> Open(const ConnectionOptions& options,
                                          bool create) const override {
    return std::make_unique<SqliteConnection>(options, create);
  }

  bool DatabaseExists(const ConnectionOptions& options) const override {
    return std::filesystem::exists(options.data_source);
  }

  void DropDatabase(const ConnectionOptions& options) const override {
    std::error_code ignored;
    for (const char* suffix : {"", "-wal", "-shm", "-journal"}) {
      std::filesystem::remove(options.data_source + suffix, ignored);
    }
  }

  void CreateStore(const ConnectionOptions& options) const override {
    std::error_code ec;
    std::filesystem::path folder = std::filesystem::path(options.data_source).parent_path();
    if (!folder.empty()) std::filesystem::create_directories(folder, ec);
    if (ec) throw DbError(kErrConnection, "Cannot create " + folder.string() + ": " + ec.message());
  }
};

}  // namespace

const Backend& SqliteBackendInstance() {
  // By default SQLite counts its memory under one process-wide mutex, which writers of two
  // accounts on two cores would take in turn on every allocation. Nothing here reads the
  // counts. It must be set before SQLite's first use; a process that used it already keeps it.
  static const bool configured = sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0) == SQLITE_OK;
  (void)configured;
  static const SqliteBackend backend;
  return backend;
}

}  // namespace rembiz::db::sqlite
