#include "db/connection.h"

#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <set>
#include <unordered_map>
#include <vector>

#include "db/literal_params.h"
#include "db/sql_translator.h"
#include "db/test_seams.h"
#include "db/text.h"
#include "db/type_guards.h"

namespace rembiz::db {
namespace {

constexpr size_t kMaxCachedStatements = 256;
constexpr size_t kMaxIdlePerKey = 16;

// The process's own tempdb: a file in WAL mode, so that a request holding a write transaction
// never blocks another request's reads of its work tables (an in-memory database would). One
// handle keeps it open for the life of the process; the files go when the process ends.
struct SharedTemp {
  std::string path;
  sqlite3* keeper = nullptr;
};

SharedTemp& TheSharedTemp() {
  static SharedTemp* temp = new SharedTemp();  // closed by CloseAtExit
  return *temp;
}

const std::string& SharedTempPath() {
  static const std::string& path = []() -> const std::string& {
    SharedTemp& temp = TheSharedTemp();
    temp.path = (std::filesystem::temp_directory_path() /
                 ("rembiz-tempdb-" + std::to_string(getpid()) + ".db"))
                    .string();
    for (const char* suffix : {"", "-wal", "-shm"}) std::remove((temp.path + suffix).c_str());
    sqlite3_open_v2(temp.path.c_str(), &temp.keeper, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                    nullptr);
    sqlite3_exec(temp.keeper, "PRAGMA journal_mode=WAL; PRAGMA synchronous=OFF;", nullptr, nullptr,
                 nullptr);
    return temp.path;
  }();
  return path;
}

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

// A literal in SQLite's own dialect (no N prefix), for the statements the driver writes itself.
std::string Literal(std::string_view text) { return "'" + SqlEscape(text) + "'"; }

std::string Truncated(std::string_view sql) {
  constexpr size_t kMax = 300;
  return sql.size() <= kMax ? std::string(sql) : std::string(sql.substr(0, kMax)) + "…";
}

// Finds the unique index of `table` over exactly `columns` and writes SQL Server's text.
std::string DuplicateKeyMessage(sqlite3* db, const std::string& message) {
  // "UNIQUE constraint failed: T.a, T.b"
  size_t colon = message.find(": ");
  if (colon == std::string::npos) return message;
  // An index over expressions is reported by name: "UNIQUE constraint failed: index 'IX_…'".
  if (message.compare(colon + 2, 7, "index '") == 0) {
    std::string name = message.substr(colon + 9, message.find('\'', colon + 9) - colon - 9);
    std::string owner;
    sqlite3_stmt* stmt = nullptr;
    std::string sql =
        "SELECT tbl_name FROM sqlite_schema WHERE type = 'index' AND name = " + Literal(name) +
        " UNION ALL SELECT tbl_name FROM qdsystem.sqlite_schema "
        "WHERE type = 'index' AND name = " +
        Literal(name);
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) == SQLITE_OK &&
        sqlite3_step(stmt) == SQLITE_ROW) {
      owner = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
    }
    sqlite3_finalize(stmt);
    return "Cannot insert duplicate key row in object 'dbo." + owner + "' with unique index '" +
           name + "'.";
  }
  std::string table;
  std::vector<std::string> columns;
  std::string_view rest(message);
  rest.remove_prefix(colon + 2);
  while (!rest.empty()) {
    size_t comma = rest.find(", ");
    std::string_view item = rest.substr(0, comma);
    size_t dot = item.find('.');
    if (dot != std::string_view::npos) {
      table = std::string(item.substr(0, dot));
      columns.push_back(Lower(item.substr(dot + 1)));
    }
    if (comma == std::string_view::npos) break;
    rest.remove_prefix(comma + 2);
  }
  if (table.empty()) return message;
  std::sort(columns.begin(), columns.end());
  std::string index_name;
  bool primary = false;
  for (const char* schema : {"main", "qdsystem", "tempdb"}) {
    std::string sql = std::string("SELECT il.name, il.origin, group_concat(lower(ii.name), ',') ") +
                      "FROM pragma_index_list(" + Literal(table) + ", " + Literal(schema) +
                      ") il, pragma_index_info(il.name, " + Literal(schema) +
                      ") ii WHERE il.[unique] = 1 GROUP BY il.name, il.origin";
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
      sqlite3_finalize(stmt);
      continue;
    }
    while (sqlite3_step(stmt) == SQLITE_ROW) {
      std::string cols = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 2));
      std::vector<std::string> parts;
      for (size_t b = 0; b <= cols.size();) {
        size_t e = cols.find(',', b);
        if (e == std::string::npos) e = cols.size();
        parts.push_back(cols.substr(b, e - b));
        b = e + 1;
      }
      std::sort(parts.begin(), parts.end());
      if (parts == columns) {
        index_name = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
        primary = std::string(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 1))) == "pk";
      }
    }
    sqlite3_finalize(stmt);
    if (!index_name.empty()) break;
  }
  if (index_name.empty() || index_name.rfind("sqlite_autoindex", 0) == 0) {
    index_name = "PK_" + table;
    primary = true;
  }
  if (primary || index_name.rfind("PK_", 0) == 0) {
    return "Violation of PRIMARY KEY constraint '" + index_name +
           "'. Cannot insert duplicate key in object 'dbo." + table + "'.";
  }
  return "Cannot insert duplicate key row in object 'dbo." + table + "' with unique index '" +
         index_name + "'.";
}

[[noreturn]] void ThrowSqliteError(sqlite3* db, int rc, std::string_view sql) {
  std::string message = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
  int extended = db ? sqlite3_extended_errcode(db) : rc;
  switch (rc & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
    case SQLITE_INTERRUPT:
      throw DbError(kErrTimeout, "Timeout expired (" + message + ")");
    case SQLITE_CONSTRAINT:
      if (extended == SQLITE_CONSTRAINT_UNIQUE || extended == SQLITE_CONSTRAINT_PRIMARYKEY) {
        throw DbError(kErrConstraint, DuplicateKeyMessage(db, message));
      }
      if (extended == SQLITE_CONSTRAINT_NOTNULL) {
        // "NOT NULL constraint failed: T.c"
        std::string item = message.substr(message.find(": ") + 2);
        size_t dot = item.find('.');
        throw DbError(kErrConstraint, "Cannot insert the value NULL into column '" +
                                          item.substr(dot + 1) + "', table 'dbo." +
                                          item.substr(0, dot) +
                                          "'; column does not allow nulls. INSERT fails.");
      }
      throw DbError(kErrConstraint, message);
    case SQLITE_MISMATCH:
      // A value its column cannot hold (type_guards.h); the text names table and column.
      throw DbError(kErrDataValue, message);
    case SQLITE_CANTOPEN:
    case SQLITE_NOTADB:
    case SQLITE_CORRUPT:
    case SQLITE_PERM:
    case SQLITE_READONLY:
      throw DbError(kErrConnection, message);
    default:
      throw DbError(kErrStatement, message + " [" + Truncated(sql) + "]");
  }
}

}  // namespace

// One SQLite handle with its attachments, functions and prepared statements.
class PooledHandle {
 public:
  PooledHandle(const ConnectionOptions& options, Connection::OpenMode mode) {
    bool create = mode == Connection::OpenMode::kCreate;
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
    } catch (...) {
      sqlite3_close_v2(db_);
      throw;
    }
  }

  ~PooledHandle() {
    for (auto& [sql, stmt] : statements_) sqlite3_finalize(stmt);
    sqlite3_close_v2(db_);
  }

  PooledHandle(const PooledHandle&) = delete;
  PooledHandle& operator=(const PooledHandle&) = delete;

  sqlite3* db() const { return db_; }

  void Exec(const std::string& sql) {
    char* error = nullptr;
    int rc = sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &error);
    if (error) sqlite3_free(error);
    if (rc != SQLITE_OK) ThrowSqliteError(db_, rc, sql);
  }

  // A prepared statement for `sql`, reused across requests; reset before it is handed out.
  sqlite3_stmt* Prepare(const std::string& sql, const char** tail, bool* cached) {
    *tail = nullptr;
    auto it = statements_.find(sql);
    if (it != statements_.end()) {
      *cached = true;
      return it->second;
    }
    if (statements_.size() >= kMaxCachedStatements) {
      for (auto& [text, stmt] : statements_) sqlite3_finalize(stmt);
      statements_.clear();
    }
    sqlite3_stmt* stmt = nullptr;
    int rc = sqlite3_prepare_v3(db_, sql.c_str(), static_cast<int>(sql.size()),
                                SQLITE_PREPARE_PERSISTENT, &stmt, tail);
    if (rc != SQLITE_OK) {
      sqlite3_finalize(stmt);
      ThrowSqliteError(db_, rc, sql);
    }
    *cached = stmt && (*tail == nullptr || **tail == '\0');
    if (*cached) statements_.emplace(sql, stmt);
    return stmt;
  }

  // Makes the handle clean for the next user.
  void Reset() {
    if (!sqlite3_get_autocommit(db_)) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_progress_handler(db_, 0, nullptr, nullptr);
  }

  std::string key;

 private:
  sqlite3* db_ = nullptr;
  std::unordered_map<std::string, sqlite3_stmt*> statements_;
};

namespace {

class HandlePool {
 public:
  std::unique_ptr<PooledHandle> Acquire(const std::string& key, const ConnectionOptions& options,
                                        Connection::OpenMode mode) {
    {
      std::lock_guard lock(mutex_);
      auto it = idle_.find(key);
      if (it != idle_.end() && !it->second.empty()) {
        std::unique_ptr<PooledHandle> handle = std::move(it->second.back());
        it->second.pop_back();
        return handle;
      }
    }
    auto handle = std::make_unique<PooledHandle>(options, mode);
    handle->key = key;
    return handle;
  }

  void Release(std::unique_ptr<PooledHandle> handle) {
    handle->Reset();
    std::lock_guard lock(mutex_);
    auto& list = idle_[handle->key];
    if (list.size() < kMaxIdlePerKey) list.push_back(std::move(handle));
  }

  void Clear() {
    std::lock_guard lock(mutex_);
    idle_.clear();
  }

 private:
  std::mutex mutex_;
  std::unordered_map<std::string, std::vector<std::unique_ptr<PooledHandle>>> idle_;
};

// At exit the idle handles are closed, then the tempdb keeper, and the tempdb files go. A
// handle still checked out by a thread that outlives main stays open (and is no leak to report:
// its connection holds it).
void CloseAtExit();

HandlePool& Pool() {
  static HandlePool* pool = [] {
    auto* created = new HandlePool();  // never destroyed: handles may outlive statics
    std::atexit(CloseAtExit);
    return created;
  }();
  return *pool;
}

void CloseAtExit() {
  Pool().Clear();
  SharedTemp& temp = TheSharedTemp();
  if (temp.keeper) sqlite3_close_v2(temp.keeper);
  temp.keeper = nullptr;
  if (temp.path.empty()) return;
  for (const char* suffix : {"", "-wal", "-shm"}) std::remove((temp.path + suffix).c_str());
}

struct Deadline {
  std::chrono::steady_clock::time_point at;
};

int CheckDeadline(void* arg) {
  auto* deadline = static_cast<Deadline*>(arg);
  return std::chrono::steady_clock::now() > deadline->at ? 1 : 0;
}

Variant ColumnValue(sqlite3_stmt* stmt, int col, const FieldInfo& field) {
  int storage = sqlite3_column_type(stmt, col);
  if (storage == SQLITE_NULL) return Variant();
  switch (field.type) {
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

// Field types of an expression column come from its first non-null value.
void InferUndeclaredTypes(sqlite3_stmt* stmt, std::vector<FieldInfo>& fields,
                          std::vector<bool>& undeclared, bool& pending) {
  pending = false;
  for (size_t i = 0; i < fields.size(); ++i) {
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
      fields[i].type = small ? kAdInteger : kAdBigInt;
      fields[i].defined_size = small ? 4 : 8;
      fields[i].precision = small ? 10 : 19;
    } else if (storage == SQLITE_FLOAT) {
      fields[i].type = kAdDouble;
      fields[i].defined_size = 8;
      fields[i].precision = 15;
    }
  }
}

// How much of an answer a statement may read; no bound when null.
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

// Steps a prepared statement to its end. A statement with columns leaves its rows in `result`
// and answers true. With a bound the answer is counted while it is read, and refused past it.
bool StepRows(sqlite3* db, sqlite3_stmt* stmt, const std::string& sql, Recordset* result,
              const AnswerBound* bound = nullptr) {
  int columns = sqlite3_column_count(stmt);
  std::vector<FieldInfo> fields;
  std::vector<bool> undeclared;
  std::vector<std::vector<Variant>> rows;
  if (columns > 0) {
    fields.reserve(static_cast<size_t>(columns));
    for (int i = 0; i < columns; ++i) {
      const char* decl = sqlite3_column_decltype(stmt, i);
      const char* name = sqlite3_column_name(stmt, i);
      fields.push_back(FieldInfoFromDeclType(ColumnDisplayName(name), decl ? decl : ""));
      undeclared.push_back(decl == nullptr);
    }
  }
  bool pending = columns > 0;
  size_t row_overhead = 0;  // the names and quotes every row repeats
  for (const FieldInfo& field : fields) row_overhead += field.name.size() + 4;
  size_t bytes = 0;
  for (;;) {
    int rc = sqlite3_step(stmt);
    if (rc == SQLITE_DONE) break;
    if (rc != SQLITE_ROW) ThrowSqliteError(db, rc, sql);
    if (bound) {
      if (rows.size() >= bound->max_rows) {
        throw DbError(kErrStatement, "The query answers more than " +
                                         std::to_string(bound->max_rows) +
                                         " rows; narrow it down. [" + Truncated(sql) + "]");
      }
      bytes += row_overhead;
      for (int i = 0; i < columns; ++i) bytes += ValueBytes(stmt, i);
      if (bytes > bound->max_bytes) {
        throw DbError(kErrStatement, "The query answers more than " +
                                         std::to_string(bound->max_bytes >> 10) +
                                         " KiB; narrow it down. [" + Truncated(sql) + "]");
      }
    }
    if (pending) InferUndeclaredTypes(stmt, fields, undeclared, pending);
    std::vector<Variant> row;
    row.reserve(fields.size());
    for (int i = 0; i < columns; ++i) row.push_back(ColumnValue(stmt, i, fields[i]));
    rows.push_back(std::move(row));
  }
  if (columns > 0) {
    // Values read before a column's type was known are re-typed now.
    for (auto& row : rows) {
      for (size_t i = 0; i < fields.size(); ++i) {
        if (fields[i].type == kAdDouble && row[i].kind() == Variant::Kind::kInt) {
          row[i] = Variant(row[i].ToDouble());
        }
      }
    }
    *result = Recordset(std::move(fields), std::move(rows));
  }
  return columns > 0;
}

// SQLite's plain scalar, date, aggregate, window and math functions. Not among them: what
// reaches outside the query (load_extension, fts3_tokenizer and the other virtual-table helpers,
// the JSON functions) or tells about the process and the connection (sqlite_*, changes).
bool IsPlainFunction(std::string_view name) {
  static const std::set<std::string, std::less<>> kPlain = {
      // scalar
      "abs", "char", "coalesce", "concat", "concat_ws", "format", "glob", "hex", "ifnull", "iif",
      "instr", "length", "like", "likelihood", "likely", "lower", "ltrim", "max", "min", "nullif",
      "octet_length", "printf", "quote", "random", "randomblob", "replace", "round", "rtrim",
      "sign", "soundex", "substr", "substring", "trim", "typeof", "unhex", "unicode", "unlikely",
      "upper", "zeroblob",
      // date and time
      "date", "time", "datetime", "julianday", "unixepoch", "strftime", "timediff",
      // aggregate
      "avg", "count", "group_concat", "string_agg", "sum", "total",
      // window
      "row_number", "rank", "dense_rank", "percent_rank", "cume_dist", "ntile", "lag", "lead",
      "first_value", "last_value", "nth_value",
      // math
      "acos", "acosh", "asin", "asinh", "atan", "atan2", "atanh", "ceil", "ceiling", "cos", "cosh",
      "degrees", "exp", "floor", "ln", "log", "log10", "log2", "mod", "pi", "pow", "power",
      "radians", "sin", "sinh", "sqrt", "tan", "tanh", "trunc"};
  std::string lower = Lower(name);
  return kPlain.count(lower) > 0 || IsSqlServerFunction(lower);
}

// Free SQL from requests runs under this authorizer: a query may select, read and call plain
// functions, nothing else, and never sees password hashes or login sessions.
int ReadOnlyAuthorizer(void*, int action, const char* a3, const char* a4, const char*,
                       const char*) {
  auto same = [](const char* text, std::string_view name) {
    return text && Lower(text) == Lower(name);
  };
  switch (action) {
    case SQLITE_SELECT:
      return SQLITE_OK;
    case SQLITE_FUNCTION:
      return a4 && IsPlainFunction(a4) ? SQLITE_OK : SQLITE_DENY;
    case SQLITE_READ:
      if (same(a3, "UA_Session") || (same(a3, "UA_User") && same(a4, "cPassword"))) {
        return SQLITE_DENY;
      }
      return SQLITE_OK;
    default:
      return SQLITE_DENY;
  }
}

[[noreturn]] void RefuseQuery(std::string_view why, std::string_view sql) {
  throw DbError(kErrStatement, "Only a single read-only query is allowed here (" +
                                   std::string(why) + ") [" + Truncated(sql) + "]");
}

// The limits of free queries and who runs one right now.
struct FreeQueries {
  std::mutex mutex;
  ReadOnlyLimits limits;
  size_t running = 0;
  std::multiset<std::string> owners;
};

FreeQueries& TheFreeQueries() {
  static FreeQueries* queries = new FreeQueries();  // never destroyed: used until the very end
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

}  // namespace

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

Connection::Connection() = default;

Connection::~Connection() { Close(); }

void Connection::Open(std::string_view connection_string, OpenMode mode) {
  Close();
  options_ = ParseConnectionString(connection_string);
  std::string key = FormatConnectionString(options_);
  handle_ = Pool().Acquire(key, options_, mode);
  statements_ = 0;
  sqlite3_busy_timeout(handle_->db(), command_timeout_ * 1000);
}

void Connection::Close() {
  if (handle_) Pool().Release(std::move(handle_));
  handle_.reset();
}

void Connection::SetCommandTimeout(int seconds) {
  command_timeout_ = seconds;
  if (handle_) sqlite3_busy_timeout(handle_->db(), std::max(seconds, 0) * 1000);
}

sqlite3* Connection::Handle() const { return handle_ ? handle_->db() : nullptr; }

void Connection::RequireOpen() const {
  if (!handle_) {
    throw DbError(kErrConnection, "Operation is not allowed when the connection is closed.");
  }
}

Recordset Connection::Execute(std::string_view sql, int64_t* records_affected) {
  RequireOpen();
  std::shared_ptr<const StatementList> steps = TranslateSql(sql);
  Recordset result;
  int64_t changes = 0;
  for (size_t i = 0; i < steps->size();) {
    const BatchStep& step = (*steps)[i];
    switch (step.kind) {
      case BatchStep::Kind::kStatement:
        RunStatement(step.sql, &result, &changes);
        ++i;
        break;
      case BatchStep::Kind::kCondition: {
        // The condition is a query: it neither answers the batch nor counts as a change.
        Recordset holds;
        int64_t unchanged = 0;
        RunStatement(step.sql, &holds, &unchanged);
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

void Connection::RunStatement(const std::string& sql, Recordset* result, int64_t* changes) {
  NoteStatement(sql);
  ++statements_;
  sqlite3* db = handle_->db();
  Deadline deadline{std::chrono::steady_clock::now() + std::chrono::seconds(command_timeout_)};
  if (command_timeout_ > 0) sqlite3_progress_handler(db, 4000, CheckDeadline, &deadline);
  struct ProgressOff {
    sqlite3* db;
    ~ProgressOff() { sqlite3_progress_handler(db, 0, nullptr, nullptr); }
  } progress_off{db};

  // The values become bound parameters, so that the same statement shape is prepared once and
  // reused by every later request; a shape that does not take them runs as it is.
  ParameterizedStatement shape = ParameterizeLiterals(sql);
  const char* tail = nullptr;
  bool cached = false;
  sqlite3_stmt* stmt = handle_->Prepare(shape.text, &tail, &cached);
  if (stmt && !shape.values.empty() &&
      ((tail && *tail) ||
       sqlite3_bind_parameter_count(stmt) != static_cast<int>(shape.values.size()))) {
    if (!cached) sqlite3_finalize(stmt);
    shape = ParameterizedStatement{sql, {}};
    stmt = handle_->Prepare(shape.text, &tail, &cached);
  }
  struct StmtGuard {
    sqlite3_stmt* stmt;
    bool cached;
    ~StmtGuard() {
      if (!stmt) return;
      if (cached) {
        sqlite3_reset(stmt);
        sqlite3_clear_bindings(stmt);
      } else {
        sqlite3_finalize(stmt);
      }
    }
  } guard{stmt, cached};
  if (!stmt) return;  // blank text or a comment
  for (size_t k = 0; k < shape.values.size(); ++k) {
    const LiteralValue& value = shape.values[k];
    int index = static_cast<int>(k + 1);
    switch (value.kind) {
      case LiteralValue::Kind::kText:
        sqlite3_bind_text(stmt, index, value.text.data(), static_cast<int>(value.text.size()),
                          SQLITE_TRANSIENT);
        break;
      case LiteralValue::Kind::kInteger:
        sqlite3_bind_int64(stmt, index, std::strtoll(value.text.c_str(), nullptr, 10));
        break;
      case LiteralValue::Kind::kReal:
        sqlite3_bind_double(stmt, index, std::strtod(value.text.c_str(), nullptr));
        break;
    }
  }

  if (!StepRows(db, stmt, sql, result) && !sqlite3_stmt_readonly(stmt)) {
    *changes = sqlite3_changes64(db);
  }
  if (tail && *tail) {
    std::string rest(tail);
    if (rest.find_first_not_of(" \t\r\n;") != std::string::npos) {
      RunStatement(rest, result, changes);
    }
  }
}

Recordset Connection::ExecuteReadOnly(std::string_view sql) {
  RequireOpen();
  std::shared_ptr<const StatementList> statements = TranslateSql(sql);
  if (statements->size() != 1 || statements->front().kind != BatchStep::Kind::kStatement) {
    RefuseQuery("not one statement", sql);
  }
  const std::string& text = statements->front().sql;
  NoteStatement(text);
  ++statements_;
  const ReadOnlyLimits limits = GetReadOnlyLimits();
  FreeQuerySlot slot;
  sqlite3* db = handle_->db();
  // The query's own budget, shorter than the command timeout: it must not hold a worker long.
  int seconds = std::max(1, limits.seconds);
  auto start = std::chrono::steady_clock::now();
  Deadline deadline{start + std::chrono::seconds(seconds)};
  sqlite3_progress_handler(db, 4000, CheckDeadline, &deadline);
  // The authorizer stays on while the statement runs: SQLite may prepare it again on a step.
  sqlite3_set_authorizer(db, ReadOnlyAuthorizer, nullptr);
  // No text or blob longer than this may be made or read while the query runs.
  int length_limit = sqlite3_limit(db, SQLITE_LIMIT_LENGTH, std::max(1024, limits.max_value_bytes));
  struct Restore {
    sqlite3* db;
    int length_limit;
    ~Restore() {
      sqlite3_limit(db, SQLITE_LIMIT_LENGTH, length_limit);
      sqlite3_set_authorizer(db, nullptr, nullptr);
      sqlite3_progress_handler(db, 0, nullptr, nullptr);
    }
  } restore{db, length_limit};

  // Never from the statement cache: a cached statement was authorized without these rules.
  sqlite3_stmt* raw = nullptr;
  const char* tail = nullptr;
  int rc = sqlite3_prepare_v2(db, text.c_str(), static_cast<int>(text.size()), &raw, &tail);
  std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> stmt(raw, sqlite3_finalize);
  if (rc != SQLITE_OK) {
    if ((rc & 0xff) == SQLITE_AUTH) RefuseQuery(sqlite3_errmsg(db), sql);
    ThrowSqliteError(db, rc, text);
  }
  if (!stmt) RefuseQuery("no statement", sql);
  if (tail && std::string_view(tail).find_first_not_of(" \t\r\n;") != std::string_view::npos) {
    RefuseQuery("more than one statement", sql);
  }
  if (!sqlite3_stmt_readonly(stmt.get()) || sqlite3_column_count(stmt.get()) == 0) {
    RefuseQuery("not a query", sql);
  }
  Recordset result;
  AnswerBound bound{limits.max_rows, limits.max_bytes};
  try {
    StepRows(db, stmt.get(), text, &result, &bound);
  } catch (const DbError&) {
    if (sqlite3_errcode(db) == SQLITE_TOOBIG) {
      throw DbError(kErrStatement, "A value of the query is longer than " +
                                       std::to_string(limits.max_value_bytes) + " bytes. [" +
                                       Truncated(sql) + "]");
    }
    if (std::chrono::steady_clock::now() < deadline.at) throw;
    throw DbError(kErrTimeout, "The query ran longer than its " + std::to_string(seconds) +
                                   " seconds and was stopped; narrow it down. [" + Truncated(sql) +
                                   "]");
  }
  return result;
}

void Connection::ExecuteNative(std::string_view sql) {
  RequireOpen();
  handle_->Exec(std::string(sql));
}

void Connection::BeginTrans() {
  RequireOpen();
  handle_->Exec("BEGIN IMMEDIATE");
}

void Connection::CommitTrans() {
  RequireOpen();
  handle_->Exec("COMMIT");
  NoteCommit();
}

void Connection::RollbackTrans() {
  RequireOpen();
  if (InTransaction()) handle_->Exec("ROLLBACK");
}

bool Connection::InTransaction() const { return handle_ && !sqlite3_get_autocommit(handle_->db()); }

void Connection::BeginSavepoint() {
  RequireOpen();
  handle_->Exec("SAVEPOINT rembiz_step");
}

void Connection::ReleaseSavepoint() {
  RequireOpen();
  if (InTransaction()) handle_->Exec("RELEASE rembiz_step");
}

void Connection::RollbackToSavepoint() {
  RequireOpen();
  if (InTransaction()) handle_->Exec("ROLLBACK TO rembiz_step; RELEASE rembiz_step");
}

void ClearConnectionPool() { Pool().Clear(); }

}  // namespace rembiz::db
