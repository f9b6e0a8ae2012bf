// The PostgreSQL backend: one database of a server holds the system database, tempdb and every
// account-year database as schemas; a connection's search path starts with its account's
// schema. Statements with bound values are prepared once per connection and reused; results
// come back as text and are typed by the types the server declared (the catalog's comments) or
// by the engine's own.
#include "db/postgres/pg_backend.h"

#include <libpq-fe.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <ctime>
#include <exception>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <utility>

#include "db/error.h"
#include "db/no_destructor.h"
#include "db/postgres/pg_catalog.h"
#include "db/postgres/pg_errors.h"
#include "db/postgres/pg_support.h"
#include "db/text.h"

namespace rembiz::db::postgres {
namespace {

constexpr size_t kMaxPrepared = 256;
// Binary values go to the server in pieces of this size.
constexpr size_t kBytesPiece = 1 << 20;

// Type OIDs of the engine's built-in types.
constexpr Oid kBool = 16, kBytea = 17, kInt8 = 20, kInt2 = 21, kInt4 = 23, kFloat4 = 700,
              kFloat8 = 701, kDate = 1082, kTimestamp = 1114, kNumeric = 1700, kUuid = 2950;

using Result = std::unique_ptr<PGresult, void (*)(PGresult*)>;

// A schema name as the engine has it; only plain names reach the search path.
std::string SchemaName(const std::string& name) {
  std::string out = Lower(name);
  for (char c : out) {
    if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '_')) {
      throw DbError(kErrConnection, "Invalid connection string: '" + name + "' is no schema.");
    }
  }
  return out.empty() ? std::string("qdsystem") : out;
}

std::string ServerKey(const ConnectionOptions& o) {
  return o.server + ":" + o.port + "/" + o.database;
}

// The time zone of this process, so that GETDATE() is the caller's local time as on SQLite.
std::string LocalTimeZone() {
  if (const char* tz = std::getenv("TZ"); tz && *tz && *tz != ':') return tz;
  char target[256];
  ssize_t n = readlink("/etc/localtime", target, sizeof target - 1);
  if (n > 0) {
    target[n] = '\0';
    std::string path = target;
    size_t at = path.find("zoneinfo/");
    if (at != std::string::npos) return path.substr(at + 9);
  }
  std::time_t now = std::time(nullptr);
  std::tm tm{};
  localtime_r(&now, &tm);
  long hours = tm.tm_gmtoff / 3600;  // POSIX zone names count west of Greenwich
  return hours == 0
             ? "UTC"
             : "Etc/GMT" + std::string(hours > 0 ? "-" : "+") + std::to_string(std::labs(hours));
}

// An open libpq connection, closed with its owner. It stands wherever libpq takes a PGconn*.
class PgHandle {
 public:
  PgHandle() = default;
  explicit PgHandle(PGconn* conn) : conn_(conn) {}
  ~PgHandle() { Close(); }
  PgHandle(PgHandle&& other) noexcept : conn_(std::exchange(other.conn_, nullptr)) {}
  PgHandle& operator=(PgHandle&& other) noexcept {
    if (this != &other) {
      Close();
      conn_ = std::exchange(other.conn_, nullptr);
    }
    return *this;
  }
  PgHandle(const PgHandle&) = delete;
  PgHandle& operator=(const PgHandle&) = delete;

  operator PGconn*() const { return conn_; }  // NOLINT(google-explicit-constructor)
  explicit operator bool() const { return conn_ != nullptr; }
  void Close() {
    if (conn_) PQfinish(conn_);
    conn_ = nullptr;
  }

 private:
  PGconn* conn_ = nullptr;
};

// Opens a connection to the database of `options` (not yet to a schema).
PgHandle Connect(const ConnectionOptions& o, const std::string& database,
                 const std::string& search_path) {
  std::vector<const char*> keys, values;
  // Without hash aggregation a GROUP BY answers its groups in the order of their keys, as the
  // server's queries of this system expect (a work table numbered by an IDENTITY column as its
  // rows arrive, for one).
  std::string options = "-c DateStyle=ISO,MDY -c TimeZone=" + LocalTimeZone() +
                        " -c client_min_messages=warning -c extra_float_digits=1" +
                        " -c enable_hashagg=off";
  if (!search_path.empty()) options += " -c search_path=" + search_path;
  auto add = [&](const char* key, const std::string& value) {
    if (value.empty()) return;
    keys.push_back(key);
    values.push_back(value.c_str());
  };
  add("host", o.server);
  add("port", o.port);
  add("dbname", database);
  add("user", o.user);
  add("password", o.password);
  add("options", options);
  add("application_name", "rembiz");
  add("connect_timeout", "15");
  keys.push_back(nullptr);
  values.push_back(nullptr);
  PgHandle conn(PQconnectdbParams(keys.data(), values.data(), 0));
  if (PQstatus(conn) != CONNECTION_OK) {
    std::string message = PQerrorMessage(conn);
    while (!message.empty() && (message.back() == '\n' || message.back() == ' ')) {
      message.pop_back();
    }
    throw DbError(kErrConnection, "Cannot open database \"" + database + "\": " + message);
  }
  return conn;
}

Result Exec(PGconn* conn, const std::string& sql) { return {PQexec(conn, sql.c_str()), PQclear}; }

bool Ok(const Result& r) {
  ExecStatusType s = PQresultStatus(r.get());
  return s == PGRES_COMMAND_OK || s == PGRES_TUPLES_OK;
}

// A field's type when the server declared none: what SQLite would have inferred from the values
// of an expression column, so that answers look the same on both engines.
FieldInfo FieldOfType(std::string name, Oid type) {
  switch (type) {
    case kBool:
      return FieldInfoFromDeclType(std::move(name), "bit");
    case kInt2:
    case kInt4:
    case kInt8:
      return FieldInfoFromDeclType(std::move(name), "int");
    case kFloat4:
    case kFloat8:
    case kNumeric:
      return FieldInfoFromDeclType(std::move(name), "float");
    case kDate:
    case kTimestamp:
      return FieldInfoFromDeclType(std::move(name), "datetime");
    case kUuid:
      return FieldInfoFromDeclType(std::move(name), "uniqueidentifier");
    case kBytea:
      return FieldInfoFromDeclType(std::move(name), "varbinary");
    default:
      return FieldInfoFromDeclType(std::move(name), "");
  }
}

Variant ValueOf(const char* text, int length, Oid type, const FieldInfo& field) {
  std::string_view v(text, static_cast<size_t>(length));
  if (type == kUuid) {
    std::string out = "{";
    for (char c : v) out += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return Variant(out + "}");
  }
  if (field.type == kAdBoolean) {
    if (type == kBool) return Variant::Bool(v == "t");
    return Variant::Bool(Variant(std::string(v)).ToBool());
  }
  switch (type) {
    case kBool:
      return Variant::Bool(v == "t");
    case kInt2:
    case kInt4:
    case kInt8:
      if (field.type == kAdDouble || field.type == kAdCurrency || field.type == kAdNumeric) {
        return Variant(std::strtod(text, nullptr));
      }
      return Variant(static_cast<int64_t>(std::strtoll(text, nullptr, 10)));
    case kFloat4:
    case kFloat8:
    case kNumeric:
      if (field.type == kAdInteger || field.type == kAdBigInt || field.type == kAdSmallInt ||
          field.type == kAdTinyInt) {
        return Variant(static_cast<int64_t>(std::strtoll(text, nullptr, 10)));
      }
      return Variant(std::strtod(text, nullptr));
    case kDate:
    case kTimestamp: {
      Variant date = Variant::Date(v);
      return date.IsNull() ? Variant(std::string(v)) : date;
    }
    default:
      return Variant(std::string(v));
  }
}

// The login of a database's reader role, as its owner made it.
struct ReaderLogin {
  std::string role;
  std::string password;
};

enum class Renewal { kNone, kGrant, kPassword };

// Sets the reader role of the database of `options` up for `schema` (once per process and
// schema, or again as `renewal` asks) and answers its login. The owner's own short connection
// does it, committed at once, so that the reader's connections see it.
ReaderLogin SetUpReader(const ConnectionOptions& options, const std::string& schema,
                        Renewal renewal) {
  struct Known {
    std::mutex mutex;
    std::unordered_map<std::string, ReaderLogin> logins;  // by server and database
    std::unordered_map<std::string, bool> schemas;        // server, database and schema
  };
  static NoDestructor<Known> known;  // lives as long as the process
  const std::string key = ServerKey(options);
  std::lock_guard lock(known->mutex);
  auto login = known->logins.find(key);
  if (renewal == Renewal::kNone && login != known->logins.end() &&
      known->schemas.count(key + "|" + schema)) {
    return login->second;
  }
  PgHandle conn = Connect(options, options.database, "");
  auto check = [&](Result res) {
    if (!Ok(res)) {
      std::string message = PQresultErrorField(res.get(), PG_DIAG_MESSAGE_PRIMARY)
                                ? PQresultErrorField(res.get(), PG_DIAG_MESSAGE_PRIMARY)
                                : "";
      PQclear(PQexec(conn, "ROLLBACK"));
      throw DbError(kErrStatement,
                    "Free queries cannot run: the database user cannot set up the role that "
                    "runs them (" +
                        message + ").");
    }
    return res;
  };
  auto run = [&](const std::string& sql, const std::vector<std::string>& args) {
    std::vector<const char*> values;
    for (const std::string& a : args) values.push_back(a.c_str());
    return check(Result(PQexecParams(conn, sql.c_str(), static_cast<int>(values.size()), nullptr,
                                     values.data(), nullptr, nullptr, 0),
                        PQclear));
  };
  // A standby (a read replica) writes nothing: it takes the role its primary made, once the
  // primary has set it up for the schema. Until then the query is the primary's to run.
  if (std::string(PQgetvalue(run("SELECT pg_is_in_recovery()", {}).get(), 0, 0)) == "t") {
    auto not_yet = [] {
      return DbError(kErrStatement,
                     "Free queries cannot run on this standby yet: its primary has not set up "
                     "their role for the database.",
                     "25006");
    };
    Result table = run("SELECT to_regclass('rembiz.reader_login') IS NOT NULL", {});
    if (std::string(PQgetvalue(table.get(), 0, 0)) != "t") throw not_yet();
    Result made =
        run("SELECT l.role, l.password FROM rembiz.reader_login l WHERE EXISTS (SELECT 1 FROM "
            "pg_roles r WHERE r.rolname = l.role) AND EXISTS (SELECT 1 FROM pg_namespace n WHERE "
            "n.nspname = $1) AND has_schema_privilege(l.role, $1, 'USAGE')",
            {schema});
    if (PQntuples(made.get()) == 0) throw not_yet();
    ReaderLogin reader{PQgetvalue(made.get(), 0, 0), PQgetvalue(made.get(), 0, 1)};
    known->logins[key] = reader;
    known->schemas[key + "|" + schema] = true;
    return reader;
  }
  // Processes that set the role up at once wait for each other.
  run("BEGIN", {});
  run("SELECT pg_advisory_xact_lock(7400211)", {});
  check(Result(PQexec(conn, ReaderSupportScript().c_str()), PQclear));
  Result made = run("SELECT login, secret FROM rembiz.ensure_reader($1)",
                    {renewal == Renewal::kPassword ? "true" : "false"});
  ReaderLogin reader{PQgetvalue(made.get(), 0, 0), PQgetvalue(made.get(), 0, 1)};
  run("SELECT rembiz.guard_reader($1, $2)", {schema, reader.role});
  run("COMMIT", {});
  known->logins[key] = reader;
  known->schemas[key + "|" + schema] = true;
  return reader;
}

class PgConnection : public BackendConnection {
 public:
  PgConnection(const ConnectionOptions& options, bool create)
      : schema_(SchemaName(options.schema)),
        // An account's own tables first; then, as on the embedded engine, where the account
        // reaches the system database and tempdb without naming them.
        path_(schema_ == "qdsystem" ? "qdsystem,rembiz" : schema_ + ",qdsystem,tempdb,rembiz"),
        catalog_(&Catalog::For(ServerKey(options))),
        options_(options) {
    // (A failure below closes the connection with the member that holds it.)
    conn_ = Connect(options, options.database, path_);
    if (create) {
      Require(Exec(conn_, SupportScript()));
      Require(Exec(conn_, "CREATE SCHEMA IF NOT EXISTS " + schema_));
    } else {
      Result found = Params("SELECT 1 FROM pg_namespace WHERE nspname = $1", {schema_});
      if (PQntuples(found.get()) == 0) {
        throw DbError(kErrConnection, "Cannot open database \"" + schema_ + "\" of \"" +
                                          options.database + "\": not found.");
      }
      catalog_->Preload(conn_, {schema_, "qdsystem"});
    }
  }
  PgConnection(const PgConnection&) = delete;
  PgConnection& operator=(const PgConnection&) = delete;

  void Run(const BatchStep& step, const std::vector<BoundValue>& values, int timeout_seconds,
           Recordset* result, int64_t* changes) override {
    SetTimeout(timeout_seconds);
    const BatchStep* run = &step;
    BatchStep converting;
    bool returning = false;
    if (step.effect == BatchStep::Effect::kInsertSelect) {
      Flush();  // the conversion may ask the catalog
      converting = step;
      converting.sql = ConvertingInsert(step);
      run = &converting;
    } else if (std::string identity = InsertedIdentity(step); !identity.empty()) {
      // The number the engine gave the new row comes back with the insert, instead of being
      // asked for by a statement of its own.
      converting = step;
      converting.sql += " RETURNING " + identity;
      run = &converting;
      returning = true;
    }
    Result res = Execute(*run, values);
    if (returning) {
      // As on SQLite, the number stays that of the last row inserted until the next insert.
      last_insert_id_.reset();
      *changes = std::strtoll(PQcmdTuples(res.get()), nullptr, 10);
      const int rows = PQntuples(res.get());
      if (rows > 0 && !PQgetisnull(res.get(), rows - 1, 0)) {
        last_insert_id_ = std::strtoll(PQgetvalue(res.get(), rows - 1, 0), nullptr, 10);
      }
    } else {
      ReadResult(*run, res.get(), result, changes);
    }
    if (step.effect == BatchStep::Effect::kCreateFromQuery) Annotate(step);
    // A relation dropped or made again may have other columns: statements prepared on it
    // would fail inside a transaction, where they cannot be prepared anew.
    if (step.params.empty() &&
        (step.effect == BatchStep::Effect::kCreateFromQuery || ChangesRelations(step.sql))) {
      if (!prepared_.empty()) PQclear(PQexec(conn_, "DEALLOCATE ALL"));
      prepared_.clear();
      inserts_.clear();
      shapes_.clear();
      identities_.clear();
      if (Lower(std::string_view(step.sql).substr(0, 6)) == "alter ") {
        catalog_->ForgetColumnsAndKeys();
      }
    }
  }

  // The bytes go as binary parameters and come back in binary form: neither is ever text. They
  // go in pieces appended to the value, so libpq never copies the whole value into a message of
  // its own, and come back a range at a time.
  int64_t WriteBytes(const std::string& table, const std::string& column,
                     const std::string& key_column, std::string_view key, std::string_view bytes,
                     int timeout_seconds) override {
    SetTimeout(timeout_seconds);
    const std::string where = " WHERE " + Quoted(key_column) + " = $2";
    const std::string first =
        "UPDATE " + Quoted(table) + " SET " + Quoted(column) + " = $1::bytea" + where;
    const std::string next = "UPDATE " + Quoted(table) + " SET " + Quoted(column) + " = " +
                             Quoted(column) + " || $1::bytea" + where;
    const std::string key_text(key);
    int64_t changed = 0;
    size_t offset = 0;
    do {
      const size_t piece = std::min(kBytesPiece, bytes.size() - offset);
      const char* values[2] = {bytes.data() + offset, key_text.c_str()};
      const int lengths[2] = {static_cast<int>(piece), 0};
      const int formats[2] = {1, 0};
      Flush();
      Result res(PQexecParams(conn_, (offset == 0 ? first : next).c_str(), 2, nullptr, values,
                              lengths, formats, 0),
                 PQclear);
      Require(res);
      if (offset == 0) {
        const char* count = PQcmdTuples(res.get());
        changed = count && *count ? std::stoll(count) : 0;
        if (changed == 0) break;
      }
      offset += piece;
    } while (offset < bytes.size());
    return changed;
  }

  std::optional<int64_t> BytesSize(const std::string& table, const std::string& column,
                                   const std::string& key_column, std::string_view key,
                                   int timeout_seconds) override {
    SetTimeout(timeout_seconds);
    const std::string sql = "SELECT coalesce(octet_length(" + Quoted(column) + "), 0) FROM " +
                            Quoted(table) + " WHERE " + Quoted(key_column) + " = $1";
    const std::string key_text(key);
    const char* values[1] = {key_text.c_str()};
    Flush();
    Result res(PQexecParams(conn_, sql.c_str(), 1, nullptr, values, nullptr, nullptr, 0), PQclear);
    Require(res);
    if (PQntuples(res.get()) == 0) return std::nullopt;
    return std::stoll(PQgetvalue(res.get(), 0, 0));
  }

  void ReadBytesRange(const std::string& table, const std::string& column,
                      const std::string& key_column, std::string_view key, int64_t offset,
                      size_t length, std::string& out, int timeout_seconds) override {
    SetTimeout(timeout_seconds);
    const std::string sql = "SELECT substring(" + Quoted(column) +
                            " from $2::int + 1 for $3::int) FROM " + Quoted(table) + " WHERE " +
                            Quoted(key_column) + " = $1";
    const std::string key_text(key), from = std::to_string(offset), count = std::to_string(length);
    const char* values[3] = {key_text.c_str(), from.c_str(), count.c_str()};
    Flush();
    Result res(PQexecParams(conn_, sql.c_str(), 3, nullptr, values, nullptr, nullptr, 1), PQclear);
    Require(res);
    if (PQntuples(res.get()) == 0 || PQgetisnull(res.get(), 0, 0)) return;
    out.append(PQgetvalue(res.get(), 0, 0), static_cast<size_t>(PQgetlength(res.get(), 0, 0)));
  }

  // A name as the schema made it: lower case (the program's names need no more).
  static std::string Quoted(const std::string& name) { return "\"" + Lower(name) + "\""; }

  // SQL that arrived with a request runs on a connection of its own that logs in as the
  // database's reader role (see the support): it may read the tables but never write, never call
  // the engine's privileged functions, never become another role and never see password hashes
  // or sessions. It runs in a read-only transaction, and the connection is reset after every
  // query (settings, locks, prepared statements, temporary objects) or closed.
  Recordset RunReadOnly(const BatchStep& step, const std::vector<BoundValue>& values,
                        const ReadOnlyLimits& limits) override {
    return ReadOnly(step, values, limits, nullptr);
  }

  void StreamReadOnly(const BatchStep& step, const std::vector<BoundValue>& values,
                      const ReadOnlyLimits& limits, RowSink& sink) override {
    ReadOnly(step, values, limits, &sink);
  }

  Recordset ReadOnly(const BatchStep& step, const std::vector<BoundValue>& values,
                     const ReadOnlyLimits& limits, RowSink* sink) {
    std::string_view sql = step.sql;
    size_t first = sql.find_first_not_of(" (");
    if (first == std::string_view::npos || Lower(sql.substr(first, 6)) != "select") {
      RefuseQuery("not a query");
    }
    OpenReader(false);
    struct Reset {
      PgConnection* self;
      ~Reset() { self->ResetReader(); }
    } reset{this};
    try {
      return ReadOnlyQuery(step, values, limits, sink);
    } catch (const DbError& e) {
      // A schema made after the reader was set up in this process: grant it, try once more.
      if (e.NativeCode() != "42501") throw;
    }
    ResetReader();
    OpenReader(true);
    return ReadOnlyQuery(step, values, limits, sink);
  }

  // With a `sink` every row goes to it as it arrives and the answer is a closed recordset.
  Recordset ReadOnlyQuery(const BatchStep& step, const std::vector<BoundValue>& values,
                          const ReadOnlyLimits& limits, RowSink* sink) {
    // A generic plan keeps every part of the query that depends on a bound value, so that the
    // reader's rights are checked on every table the text names: with the values folded in,
    // "1 = 0 AND EXISTS (SELECT ... FROM qdsystem.ua_session)" would never touch the table. The
    // query's own time budget is shorter than the command timeout: it must not hold a worker
    // long.
    const int seconds = std::max(1, limits.seconds);
    Result begun = Exec(reader_,
                        "BEGIN READ ONLY; SET LOCAL plan_cache_mode = force_generic_plan; "
                        "SET LOCAL statement_timeout = " +
                            std::to_string(seconds * 1000));
    if (!Ok(begun)) ThrowError({reader_, catalog_, nullptr}, begun.get());
    // Row by row, so that an answer past its bounds is stopped rather than read whole.
    std::vector<const char*> params = Pointers(step, values);
    std::vector<Oid> types = Types(step, values);
    if (!PQsendQueryParams(reader_, step.sql.c_str(), static_cast<int>(params.size()), types.data(),
                           params.data(), nullptr, nullptr, 0) ||
        !PQsetSingleRowMode(reader_)) {
      ThrowError({reader_, catalog_, &step}, nullptr);
    }
    std::optional<Layout> layout;
    std::vector<std::vector<Variant>> rows;
    size_t bytes = 0, row_overhead = 0;
    size_t count = 0;
    std::optional<DbError> refusal;
    std::exception_ptr sink_failed;
    Result failed(nullptr, PQclear);
    while (PGresult* raw = PQgetResult(reader_)) {
      Result res(raw, PQclear);
      ExecStatusType status = PQresultStatus(raw);
      if (refusal || failed || sink_failed) continue;  // drain what is left
      if (status == PGRES_SINGLE_TUPLE || status == PGRES_TUPLES_OK) {
        if (!layout) {
          layout = LayoutOf(step, raw);
          for (const FieldInfo& field : layout->fields) row_overhead += field.name.size() + 4;
          if (sink) {
            try {
              sink->Fields(layout->fields);
            } catch (...) {
              sink_failed = std::current_exception();
            }
          }
        }
        for (int r = 0; r < PQntuples(raw); ++r) {
          size_t row_bytes = row_overhead;
          for (int c = 0; c < PQnfields(raw); ++c) {
            size_t length = static_cast<size_t>(PQgetlength(raw, r, c));
            if (length > static_cast<size_t>(std::max(1024, limits.max_value_bytes))) {
              refusal = Refusal([&] { ValueTooLong(limits.max_value_bytes); });
            }
            row_bytes += PQgetisnull(raw, r, c) ? 0 : length;
          }
          bytes += row_bytes;
          if (!refusal && count >= limits.max_rows) {
            refusal = Refusal([&] { AnswerTooLarge(limits.max_rows, "rows"); });
          }
          if (!refusal && bytes > limits.max_bytes) {
            refusal = Refusal([&] { AnswerTooLarge(limits.max_bytes >> 10, "KiB"); });
          }
          if (refusal || sink_failed) break;
          ++count;
          if (!sink) {
            rows.push_back(RowOf(raw, r, *layout));
            continue;
          }
          try {
            sink->Row(RowOf(raw, r, *layout));
          } catch (...) {
            sink_failed = std::current_exception();
          }
        }
        if (refusal || sink_failed) Cancel(reader_);
        continue;
      }
      if (status == PGRES_COMMAND_OK) {
        refusal = Refusal([&] { RefuseQuery("not a query"); });
        continue;
      }
      failed = std::move(res);
    }
    if (sink_failed) std::rethrow_exception(sink_failed);
    if (refusal) throw *refusal;
    if (failed) {
      const char* state = PQresultErrorField(failed.get(), PG_DIAG_SQLSTATE);
      std::string code = state ? state : "";
      if (code == "42501") {
        throw DbError(kErrStatement,
                      "Only a single read-only query is allowed here (" +
                          std::string(PQresultErrorField(failed.get(), PG_DIAG_MESSAGE_PRIMARY)) +
                          ").",
                      code);
      }
      if (code == "25006" || code == "0A000") {
        RefuseQuery(PQresultErrorField(failed.get(), PG_DIAG_MESSAGE_PRIMARY));
      }
      if (code == "57014") QueryTooLong(seconds);
      if (code == "54000") ValueTooLong(limits.max_value_bytes);
      ThrowError({reader_, catalog_, &step}, failed.get());
    }
    if (!layout) RefuseQuery("not a query");
    if (sink) return Recordset();
    if (auto widened = Widened(layout->types, layout->fields, rows)) layout->fields = *widened;
    return Recordset(std::move(layout->fields), std::move(rows));
  }

  template <class F>
  static DbError Refusal(F refuse) {
    try {
      refuse();
    } catch (const DbError& e) {
      return e;
    }
    return DbError(kErrStatement, "refused");
  }

  // Stops the statement running on `conn` (its remaining results then end in an error).
  static void Cancel(PGconn* conn) {
    if (PGcancel* cancel = PQgetCancel(conn)) {
      char buffer[256];
      PQcancel(cancel, buffer, sizeof buffer);
      PQfreeCancel(cancel);
    }
  }

  // BEGIN, savepoints and settings answer nothing the program waits for: they wait for the
  // next statement and go to the server with it, in one round trip (see Deferred).
  void Begin(int) override { pending_.emplace_back("BEGIN"); }

  void Commit() override {
    Result res = Exec(conn_, Deferred("COMMIT"));
    if (!Ok(res)) ThrowError({conn_, catalog_, nullptr}, res.get());
    // A transaction that failed ends in ROLLBACK however it is closed: say so.
    if (std::string_view(PQcmdStatus(res.get())) != "COMMIT") {
      timeout_ = -1;
      throw DbError(kErrStatement,
                    "The transaction ended in a rollback: a statement of it had failed.");
    }
  }

  void Rollback() override {
    const bool begun = PQtransactionStatus(conn_) != PQTRANS_IDLE;
    // What waits is undone unsent; settings made inside the transaction are undone with it.
    DropWaiting();
    if (begun) Require(Exec(conn_, "ROLLBACK"));
  }

  bool InTransaction() const override {
    PGTransactionStatusType s = PQtransactionStatus(conn_);
    return s == PQTRANS_INTRANS || s == PQTRANS_INERROR ||
           std::find(pending_.begin(), pending_.end(), "BEGIN") != pending_.end();
  }

  void Savepoint(const std::string& name) override { pending_.emplace_back("SAVEPOINT " + name); }
  void ReleaseSavepoint(const std::string& name) override {
    if (InTransaction()) pending_.emplace_back("RELEASE SAVEPOINT " + name);
  }
  void RollbackToSavepoint(const std::string& name) override {
    if (InTransaction()) {
      timeout_ = -1;
      Require(
          Exec(conn_, Deferred("ROLLBACK TO SAVEPOINT " + name + "; RELEASE SAVEPOINT " + name)));
    }
  }

  // An idle session expects nothing from its server: anything waiting to be read (the farewell
  // of a session the server ended, the end of the stream) says it is gone. Looked at without
  // waiting and without taking it.
  bool Alive() override {
    if (PQstatus(conn_) != CONNECTION_OK) return false;
    char byte;
    ssize_t got = recv(PQsocket(conn_), &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    return got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
  }

  bool Reset() override {
    if (!pending_.empty()) DropWaiting();
    if (PQstatus(conn_) != CONNECTION_OK) return false;
    if (PQtransactionStatus(conn_) != PQTRANS_IDLE) PQclear(PQexec(conn_, "ROLLBACK"));
    return PQtransactionStatus(conn_) == PQTRANS_IDLE;
  }

 private:
  void Require(const Result& res) {
    if (!Ok(res)) ThrowError({conn_, catalog_, nullptr}, res.get());
  }

  Result Params(const char* sql, const std::vector<std::string>& args) {
    Flush();
    std::vector<const char*> values;
    for (const std::string& a : args) values.push_back(a.c_str());
    Result res(PQexecParams(conn_, sql, static_cast<int>(values.size()), nullptr, values.data(),
                            nullptr, nullptr, 0),
               PQclear);
    Require(res);
    return res;
  }

  // The command timeout bounds every statement, waits for locks included; as on SQLite a
  // timeout of 0 leaves statements unbounded but does not wait for locks at all.
  void SetTimeout(int seconds) {
    if (seconds == timeout_) return;
    const int ms = std::max(seconds, 0) * 1000;
    pending_.emplace_back("SET statement_timeout = " + std::to_string(ms));
    pending_.emplace_back("SET lock_timeout = " + std::to_string(std::max(ms, 1)));
    timeout_ = seconds;
  }

  // `sql` after the commands that wait (see Begin), as one string of the simple protocol: the
  // server runs them in order and stops at the first that fails, whose error is the answer.
  std::string Deferred(std::string_view sql) {
    std::string out;
    for (const std::string& command : pending_) out += command + "; ";
    out += sql;
    pending_.clear();
    return out;
  }

  // What waits, given up unsent; the settings among it are sent again when next needed.
  void DropWaiting() {
    pending_.clear();
    timeout_ = -1;
  }

  // Sends what waits on its own, before a statement that cannot carry it.
  void Flush() {
    if (pending_.empty()) return;
    Result res = Exec(conn_, Deferred(""));  // a trailing empty statement is no statement
    if (!Ok(res)) timeout_ = -1;
    Require(res);
  }

  // Runs a prepared statement, the commands that wait sent before it in libpq's pipeline mode:
  // one round trip for all. The first failure is the answer; what follows it did not run.
  Result ExecPrepared(const std::string& name, const std::vector<const char*>& params) {
    const int count = static_cast<int>(params.size());
    if (pending_.empty()) {
      return {PQexecPrepared(conn_, name.c_str(), count, params.data(), nullptr, nullptr, 0),
              PQclear};
    }
    const std::vector<std::string> sent = std::move(pending_);
    pending_.clear();
    bool queued = PQenterPipelineMode(conn_) == 1;
    for (const std::string& command : sent) {
      queued = queued && PQsendQueryParams(conn_, command.c_str(), 0, nullptr, nullptr, nullptr,
                                           nullptr, 0) == 1;
    }
    queued =
        queued &&
        PQsendQueryPrepared(conn_, name.c_str(), count, params.data(), nullptr, nullptr, 0) == 1 &&
        PQpipelineSync(conn_) == 1;
    Result failed(nullptr, PQclear), last(nullptr, PQclear);
    // Each query's results end in a null; the synchronisation point ends them all.
    size_t query = 0;
    while (queued && query <= sent.size() + 1) {
      PGresult* res = PQgetResult(conn_);
      if (!res) {
        ++query;
        continue;
      }
      const ExecStatusType status = PQresultStatus(res);
      if (status == PGRES_PIPELINE_SYNC) {
        PQclear(res);
        break;
      }
      Result taken(res, PQclear);
      if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK && !failed &&
          status != PGRES_PIPELINE_ABORTED) {
        failed = std::move(taken);
      } else if (query == sent.size()) {
        last = std::move(taken);
      }
    }
    PQexitPipelineMode(conn_);
    // Settings sent outside a transaction share the implicit one of the pipeline: a failure
    // undoes them.
    if (!queued || failed) timeout_ = -1;
    if (!queued) ThrowError({conn_, catalog_, nullptr}, nullptr);
    if (failed && !last) return failed;  // the statement itself: the caller reads its error
    if (failed) ThrowError({conn_, catalog_, nullptr}, failed.get());
    return last ? std::move(last) : std::move(failed);
  }

  // The engine's types of the bound values: numbers the statement wrote are numbers wherever
  // they stand (a VALUES list of a derived table included); text takes its type from where it
  // stands, as a quoted literal does. A value written to a column takes the column's type, so
  // that one the column cannot hold is refused while binding, with its place.
  static std::vector<Oid> Types(const BatchStep& step, const std::vector<BoundValue>& values) {
    std::vector<Oid> out;
    out.reserve(step.params.size());
    for (uint32_t index : step.params) {
      bool stored = false;
      for (const ValueTarget& target : step.targets) stored |= target.value == index;
      switch (stored ? BoundValue::Kind::kText : values.at(index).kind) {
        case BoundValue::Kind::kInteger:
          out.push_back(kInt8);
          break;
        case BoundValue::Kind::kReal: {
          // 1.5 is a decimal, 1.5e0 a float, as the server reads them.
          const std::string& text = values[index].text;
          out.push_back(text.find_first_of("eE") == std::string::npos ? kNumeric : kFloat8);
          break;
        }
        case BoundValue::Kind::kText:
        default:
          out.push_back(0);
      }
    }
    return out;
  }

  static std::vector<const char*> Pointers(const BatchStep& step,
                                           const std::vector<BoundValue>& values) {
    std::vector<const char*> out;
    out.reserve(step.params.size());
    for (uint32_t index : step.params) out.push_back(values.at(index).text.c_str());
    return out;
  }

  // Runs a statement: with bound values through a statement prepared once per connection,
  // otherwise as it is (definitions may be several statements).
  Result Execute(const BatchStep& step, const std::vector<BoundValue>& values) {
    if (step.params.empty()) {
      // Sent apart from what waits: a statement of the simple protocol may be one that cannot
      // run inside the implicit transaction several statements of one string share.
      Flush();
      Result res = Exec(conn_, step.sql);
      if (!Ok(res)) ThrowError({conn_, catalog_, &step}, res.get());
      return res;
    }
    std::vector<const char*> params = Pointers(step, values);
    for (int attempt = 0;; ++attempt) {
      const PreparedStatement& prepared = Prepared(step, values);
      // A GUID compared with a text that is no GUID matches nothing, as on the other engine;
      // only a GUID column being written refuses it.
      for (size_t k = 0; k < params.size(); ++k) {
        if (prepared.guids[k] && !IsGuidText(params[k]) && !IsTarget(step, step.params[k])) {
          params[k] = nullptr;
        }
      }
      Result res = ExecPrepared(prepared.name, params);
      if (Ok(res)) return res;
      // A work table made again with other columns: prepare the statement anew, once.
      const char* state = PQresultErrorField(res.get(), PG_DIAG_SQLSTATE);
      if (attempt == 0 && state && std::string_view(state) == "0A000" &&
          PQtransactionStatus(conn_) == PQTRANS_IDLE) {
        Deallocate(PreparedKey(step, values));
        continue;
      }
      ThrowError({conn_, catalog_, &step}, res.get());
    }
  }

  static bool ChangesRelations(std::string_view sql) {
    size_t i = sql.find_first_not_of(" \t\r\n(");
    if (i == std::string_view::npos) return false;
    std::string word = Lower(sql.substr(i, 6));
    return word == "drop t" || word == "drop v" || word == "alter " || word == "create";
  }

  // Prepared statements are known by their text and the types of their values.
  static std::string PreparedKey(const BatchStep& step, const std::vector<BoundValue>& values) {
    std::string key = step.sql;
    key += '\0';
    for (Oid type : Types(step, values)) key += std::to_string(type) + ",";
    return key;
  }

  struct PreparedStatement {
    std::string name;
    std::vector<bool> guids;  // which parameters the engine reads as GUIDs
  };

  static bool IsTarget(const BatchStep& step, uint32_t value) {
    for (const ValueTarget& target : step.targets) {
      if (target.value == value) return true;
    }
    return false;
  }

  // What the engine reads as a GUID: 32 hex digits, with hyphens and braces or without.
  static bool IsGuidText(const char* text) {
    if (text == nullptr) return true;
    std::string_view v(text);
    if (v.size() >= 2 && v.front() == '{' && v.back() == '}') v = v.substr(1, v.size() - 2);
    int digits = 0;
    for (char c : v) {
      if (std::isxdigit(static_cast<unsigned char>(c))) {
        ++digits;
      } else if (c != '-') {
        return false;
      }
    }
    return digits == 32;
  }

  const PreparedStatement& Prepared(const BatchStep& step, const std::vector<BoundValue>& values) {
    std::string key = PreparedKey(step, values);
    auto it = prepared_.find(key);
    if (it != prepared_.end()) return it->second;
    // A statement the server refuses to prepare fails the transaction: after what waits (a
    // savepoint to return to), not before.
    Flush();
    if (prepared_.size() >= kMaxPrepared) {
      PQclear(PQexec(conn_, "DEALLOCATE ALL"));
      prepared_.clear();
    }
    std::string name = "rz" + std::to_string(++statements_);
    std::vector<Oid> types = Types(step, values);
    Result res(PQprepare(conn_, name.c_str(), step.sql.c_str(),
                         static_cast<int>(step.params.size()), types.data()),
               PQclear);
    if (!Ok(res)) ThrowError({conn_, catalog_, &step}, res.get());
    PreparedStatement prepared{std::move(name), std::vector<bool>(step.params.size(), false)};
    Result described(PQdescribePrepared(conn_, prepared.name.c_str()), PQclear);
    if (Ok(described)) {
      for (int k = 0; k < PQnparams(described.get()) && k < static_cast<int>(step.params.size());
           ++k) {
        prepared.guids[static_cast<size_t>(k)] = PQparamtype(described.get(), k) == kUuid;
      }
    }
    return prepared_.emplace(std::move(key), std::move(prepared)).first->second;
  }

  void Deallocate(const std::string& key) {
    auto it = prepared_.find(key);
    if (it == prepared_.end()) return;
    PQclear(PQexec(conn_, ("DEALLOCATE " + it->second.name).c_str()));
    prepared_.erase(it);
  }

  void ReadResult(const BatchStep& step, PGresult* res, Recordset* result, int64_t* changes) {
    if (PQresultStatus(res) == PGRES_TUPLES_OK && PQnfields(res) > 0) {
      *result = Rows(step, res);
      return;
    }
    std::string_view tag = PQcmdStatus(res);
    if (tag.starts_with("INSERT") || tag.starts_with("UPDATE") || tag.starts_with("DELETE")) {
      *changes = std::strtoll(PQcmdTuples(res), nullptr, 10);
    }
  }

  bool CanAsk() const { return PQtransactionStatus(conn_) != PQTRANS_INERROR; }

  std::optional<int64_t> LastInsertId() override { return last_insert_id_; }

  // The quoted IDENTITY column of the table a plain "INSERT INTO t [(…)] VALUES …" writes; ""
  // for any other statement, or when the table is not known (nothing is asked in a failed
  // transaction).
  // Known per statement text once the catalog answered (every statement runs through here: only
  // the start of the text is looked at for any other).
  std::string InsertedIdentity(const BatchStep& step) {
    constexpr std::string_view kInsert = "insert into ";
    if (step.effect != BatchStep::Effect::kNone || step.params.empty() ||
        step.sql.size() <= kInsert.size() ||
        Lower(std::string_view(step.sql).substr(0, kInsert.size())) != kInsert || !CanAsk()) {
      return {};
    }
    if (auto known = identities_.find(step.sql); known != identities_.end()) return known->second;
    const std::string lower = Lower(step.sql);
    if (lower.find(" values ") == std::string::npos ||
        lower.find(" returning ") != std::string::npos || lower.find(';') != std::string::npos) {
      return identities_.emplace(step.sql, "").first->second;
    }
    std::string name =
        lower.substr(kInsert.size(), lower.find_first_of(" (", kInsert.size()) - kInsert.size());
    name.erase(std::remove(name.begin(), name.end(), '"'), name.end());
    if (name.empty()) return {};
    auto meta = catalog_->ByName(conn_, path_, name, false);
    if (!meta) return {};  // asked again next time
    const ColumnMeta* identity = meta->IdentityColumn();
    if (identities_.size() >= kMaxPrepared) identities_.clear();
    return identities_.emplace(step.sql, identity ? Quoted(identity->name) : "").first->second;
  }

  // The names of a result's columns: those the statement gives (its shape), the declared names
  // of the tables a star spans, and otherwise the engine's own names.
  std::vector<std::string> Names(const BatchStep& step, PGresult* res) {
    const int n = PQnfields(res);
    std::vector<std::string> names;
    if (step.shape && !step.shape->items.empty()) {
      for (bool fresh : {false, true}) {
        names.clear();
        if (Expand(*step.shape, res, fresh, names) && static_cast<int>(names.size()) == n) {
          return names;
        }
      }
    }
    names.clear();
    for (int c = 0; c < n; ++c) {
      std::string name = PQfname(res, c);
      Oid table = PQftable(res, c);
      if (table != InvalidOid) {
        if (auto meta = catalog_->ByOid(conn_, table, CanAsk())) {
          const ColumnMeta* column = meta->Column(PQftablecol(res, c));
          if (column && column->name == name && !column->declared.empty()) {
            name = column->declared;
          }
        }
      }
      names.push_back(name == "?column?" ? std::string() : name);
    }
    return names;
  }

  bool Expand(const ResultShape& shape, PGresult* res, bool fresh,
              std::vector<std::string>& names) {
    for (const ResultShape::Item& item : shape.items) {
      if (!item.star) {
        names.push_back(item.name);
        continue;
      }
      for (const ResultShape::Source& source : item.sources) {
        if (source.derived) {
          if (source.derived->items.empty() || !Expand(*source.derived, res, fresh, names)) {
            return false;
          }
          continue;
        }
        if (!CanAsk() && fresh) return false;
        auto meta = catalog_->ByName(conn_, path_, Lower(source.relation), fresh);
        if (!meta) return false;
        for (const ColumnMeta& c : meta->columns) {
          // The engine's names must agree, or the table changed since it was learnt.
          int at = static_cast<int>(names.size());
          if (at >= PQnfields(res) || c.name != PQfname(res, at)) return false;
          names.push_back(c.declared.empty() ? c.name : c.declared);
        }
      }
    }
    return true;
  }

  // The fields of a result: named as the statement names them, typed as the server declared
  // the columns they come from, or by the engine's types.
  struct Layout {
    std::vector<FieldInfo> fields;
    std::vector<Oid> types;
  };
  Layout LayoutOf(const BatchStep& step, PGresult* res) {
    const int n = PQnfields(res);
    std::vector<std::string> names = Names(step, res);
    Layout layout;
    layout.fields.reserve(static_cast<size_t>(n));
    for (int c = 0; c < n; ++c) {
      Oid type = PQftype(res, c);
      layout.types.push_back(type);
      std::string declared;
      if (Oid table = PQftable(res, c); table != InvalidOid) {
        if (auto meta = catalog_->ByOid(conn_, table, CanAsk())) {
          if (const ColumnMeta* column = meta->Column(PQftablecol(res, c))) declared = column->type;
        }
      }
      const std::string& name = names[static_cast<size_t>(c)];
      layout.fields.push_back(declared.empty() ? FieldOfType(name, type)
                                               : FieldInfoFromDeclType(name, declared));
    }
    return layout;
  }

  static std::vector<Variant> RowOf(PGresult* res, int r, const std::vector<Oid>& types,
                                    const std::vector<FieldInfo>& fields) {
    std::vector<Variant> row;
    row.reserve(fields.size());
    for (size_t c = 0; c < fields.size(); ++c) {
      const int col = static_cast<int>(c);
      if (PQgetisnull(res, r, col)) {
        row.emplace_back();
      } else {
        row.push_back(
            ValueOf(PQgetvalue(res, r, col), PQgetlength(res, r, col), types[c], fields[c]));
      }
    }
    return row;
  }
  static std::vector<Variant> RowOf(PGresult* res, int r, const Layout& layout) {
    return RowOf(res, r, layout.types, layout.fields);
  }

  // An expression counted in 64 bits is an int, as on SQLite, unless a value needs more: the
  // fields, changed where one does; nullopt when none does.
  static std::optional<std::vector<FieldInfo>> Widened(
      const std::vector<Oid>& types, const std::vector<FieldInfo>& fields,
      const std::vector<std::vector<Variant>>& rows) {
    std::optional<std::vector<FieldInfo>> out;
    for (size_t c = 0; c < fields.size(); ++c) {
      if (types[c] != kInt8 || fields[c].type != kAdInteger) continue;
      for (const auto& row : rows) {
        const Variant& v = row[c];
        if (!v.IsNull() && (v.ToInt() > INT32_MAX || v.ToInt() < INT32_MIN)) {
          if (!out) out = fields;
          (*out)[c] = FieldInfoFromDeclType(fields[c].name, "bigint");
          break;
        }
      }
    }
    return out;
  }

  // What a statement's results look like, kept per statement text, so that every result of it
  // shares one set of fields and their persisted schema (building them cost more than reading
  // the rows). Kept while the engine describes the result the same way.
  struct KeptShape {
    std::vector<Oid> types;
    std::vector<Oid> tables;  // a table made again has a new OID (and perhaps other types)
    std::vector<std::string> engine_names;
    std::shared_ptr<const RecordShape> shape;
  };
  static bool Describes(const KeptShape& kept, PGresult* res) {
    const int n = PQnfields(res);
    if (n != static_cast<int>(kept.types.size())) return false;
    for (int c = 0; c < n; ++c) {
      const size_t i = static_cast<size_t>(c);
      if (PQftype(res, c) != kept.types[i] || PQftable(res, c) != kept.tables[i] ||
          kept.engine_names[i] != PQfname(res, c)) {
        return false;
      }
    }
    return true;
  }

  Recordset Rows(const BatchStep& step, PGresult* res) {
    std::vector<std::vector<Variant>> rows;
    rows.reserve(static_cast<size_t>(PQntuples(res)));
    auto kept = shapes_.find(step.sql);
    if (kept != shapes_.end() && Describes(kept->second, res)) {
      const KeptShape& k = kept->second;
      for (int r = 0; r < PQntuples(res); ++r) {
        rows.push_back(RowOf(res, r, k.types, k.shape->Fields()));
      }
      if (auto widened = Widened(k.types, k.shape->Fields(), rows)) {
        return Recordset(std::move(*widened), std::move(rows));
      }
      return Recordset(k.shape, std::move(rows));
    }
    const bool complete = CanAsk();  // names and types all learnt, not what a failure left
    Layout layout = LayoutOf(step, res);
    for (int r = 0; r < PQntuples(res); ++r) rows.push_back(RowOf(res, r, layout));
    if (auto widened = Widened(layout.types, layout.fields, rows)) {
      return Recordset(std::move(*widened), std::move(rows));
    }
    if (!complete) return Recordset(std::move(layout.fields), std::move(rows));
    KeptShape made{
        layout.types, {}, {}, std::make_shared<const RecordShape>(std::move(layout.fields))};
    for (int c = 0; c < PQnfields(res); ++c) {
      made.tables.push_back(PQftable(res, c));
      made.engine_names.emplace_back(PQfname(res, c));
    }
    if (shapes_.size() >= kMaxPrepared) shapes_.clear();
    std::shared_ptr<const RecordShape> shape = made.shape;
    shapes_.insert_or_assign(step.sql, std::move(made));
    return Recordset(std::move(shape), std::move(rows));
  }

  // SELECT ... INTO and CREATE VIEW: the new relation's columns get the names the server gives
  // them, and the declared types of the columns they come from, in the catalog's comments.
  void Annotate(const BatchStep& step) {
    const std::string relation = Lower(step.relation);
    // The defining query tells where each column comes from (the new relation itself knows
    // only that its columns are its own): "CREATE TABLE|VIEW name AS query".
    size_t as = step.sql.find(" AS ");
    if (as == std::string::npos) return;
    Result res =
        Exec(conn_, "SELECT * FROM (" + step.sql.substr(as + 4) + ") AS rembiz_source LIMIT 0");
    if (PQresultStatus(res.get()) != PGRES_TUPLES_OK) return;
    std::vector<std::string> names = Names(step, res.get());
    size_t dot = step.relation.rfind('.');
    std::string declared = dot == std::string::npos ? step.relation : step.relation.substr(dot + 1);
    Result kind = Params("SELECT relkind FROM pg_class WHERE oid = to_regclass($1)", {relation});
    const bool view = PQntuples(kind.get()) > 0 && *PQgetvalue(kind.get(), 0, 0) == 'v';
    std::string sql = std::string(view ? "COMMENT ON VIEW " : "COMMENT ON TABLE ") + relation +
                      " IS '" + SqlEscape(declared) + "'";
    for (int c = 0; c < PQnfields(res.get()); ++c) {
      std::string type;
      if (Oid table = PQftable(res.get(), c); table != InvalidOid) {
        if (auto meta = catalog_->ByOid(conn_, table, CanAsk())) {
          if (const ColumnMeta* column = meta->Column(PQftablecol(res.get(), c))) {
            type = column->type;
          }
        }
      }
      std::string column = "\"";
      for (const char* p = PQfname(res.get(), c); *p; ++p) {
        column += *p;
        if (*p == '"') column += '"';
      }
      sql += "; COMMENT ON COLUMN " + relation + "." + column + "\" IS '" +
             SqlEscape(names[static_cast<size_t>(c)] + "|" + type) + "'";
    }
    Require(Exec(conn_, sql));
    catalog_->ByName(conn_, path_, relation, true);
  }

  // INSERT ... SELECT as the server runs it: without a column list every column but the
  // IDENTITY one, and what the query gives converted to each column's type as it is written
  // (the server reads '2026-03-05' into a datetime column, where PostgreSQL wants a cast):
  //   INSERT INTO t (a, b) SELECT rembiz.dt(q.x1), q.x2 FROM (<query>) AS q(x1, x2)
  // Made once per connection and statement; the statement as it is when the target is unknown.
  const std::string& ConvertingInsert(const BatchStep& step) {
    auto found = inserts_.find(step.sql);
    if (found != inserts_.end()) return found->second;
    Result res = Params(
        "SELECT attname, atttypid, attidentity <> '' FROM pg_attribute WHERE attrelid = "
        "to_regclass($1) AND attnum > 0 AND NOT attisdropped ORDER BY attnum",
        {Lower(step.relation)});
    struct Column {
      std::string name;
      Oid type;
    };
    std::vector<Column> columns;
    bool known = PQntuples(res.get()) > 0;
    if (step.insert_columns.empty()) {
      for (int r = 0; r < PQntuples(res.get()); ++r) {
        if (*PQgetvalue(res.get(), r, 2) == 't') continue;
        columns.push_back(
            {PQgetvalue(res.get(), r, 0),
             static_cast<Oid>(std::strtoul(PQgetvalue(res.get(), r, 1), nullptr, 10))});
      }
    } else {
      for (const std::string& named : step.insert_columns) {
        Column column{Lower(named), InvalidOid};
        for (int r = 0; r < PQntuples(res.get()); ++r) {
          if (column.name == PQgetvalue(res.get(), r, 0)) {
            column.type = static_cast<Oid>(std::strtoul(PQgetvalue(res.get(), r, 1), nullptr, 10));
          }
        }
        known = known && column.type != InvalidOid;
        columns.push_back(std::move(column));
      }
    }
    if (!known || columns.empty()) return inserts_.emplace(step.sql, step.sql).first->second;
    std::string names, values, aliases;
    for (size_t k = 0; k < columns.size(); ++k) {
      const std::string x = "rembiz_q.x" + std::to_string(k + 1);
      names += (k ? ", " : "") + QuotedIdent(columns[k].name);
      aliases += (k ? ", x" : "x") + std::to_string(k + 1);
      values += (k ? ", " : "") + Converted(columns[k].type, x);
    }
    std::string sql = step.sql.substr(0, step.insert_at) + " (" + names + ") SELECT " + values +
                      " FROM (" + step.sql.substr(step.query_at) + ") AS rembiz_q(" + aliases + ")";
    return inserts_.emplace(step.sql, std::move(sql)).first->second;
  }

  static std::string QuotedIdent(const std::string& name) {
    std::string out = "\"";
    for (char c : name) {
      out += c;
      if (c == '"') out += '"';
    }
    return out + "\"";
  }

  // `value` as a column of the engine's type `type` takes it, converted as the server converts.
  static std::string Converted(Oid type, const std::string& value) {
    switch (type) {
      case kTimestamp:
        return "rembiz.dt(" + value + ")";
      case kDate:
        return "rembiz.dt(" + value + ")::date";
      case kNumeric:
        return "rembiz.num(" + value + ")";
      case kInt2:
      case kInt4:
        return "rembiz.to_int(" + value + ")";
      case kInt8:
        return "rembiz.to_bigint(" + value + ")";
      case kFloat4:
      case kFloat8:
        return "rembiz.to_float(" + value + ")";
      case kUuid:
        return "CAST(rembiz.txt(" + value + ") AS uuid)";
      default:
        return value;
    }
  }

  // Opens the reader's connection when there is none; `regrant` sets the role up for this
  // schema again first.
  void OpenReader(bool regrant) {
    if (reader_) return;
    ConnectionOptions login = options_;
    ReaderLogin reader = SetUpReader(options_, schema_, regrant ? Renewal::kGrant : Renewal::kNone);
    login.user = reader.role;
    login.password = reader.password;
    try {
      reader_ = Connect(login, options_.database, path_);
    } catch (const DbError&) {
      // A password another process or an administrator changed: a new one, once.
      reader = SetUpReader(options_, schema_, Renewal::kPassword);
      login.password = reader.password;
      try {
        reader_ = Connect(login, options_.database, path_);
      } catch (const DbError&) {
        throw DbError(kErrStatement,
                      "Free queries cannot run: the reader role cannot log in to the database.");
      }
    }
  }

  // Leaves nothing of a query behind on the reader's connection, or closes it.
  void ResetReader() {
    if (!reader_) return;
    bool clean = PQstatus(reader_) == CONNECTION_OK;
    if (clean && PQtransactionStatus(reader_) != PQTRANS_IDLE) {
      clean = Ok(Exec(reader_, "ROLLBACK"));
    }
    if (clean) clean = Ok(Exec(reader_, "DISCARD ALL"));
    if (!clean || PQtransactionStatus(reader_) != PQTRANS_IDLE) reader_.Close();
  }

  PgHandle conn_;
  PgHandle reader_;  // SQL that arrived with a request: see RunReadOnly
  std::string schema_;
  std::string path_;
  Catalog* catalog_;
  ConnectionOptions options_;
  int timeout_ = -1;
  std::vector<std::string> pending_;  // commands waiting for the next statement (see Begin)
  int64_t statements_ = 0;
  std::unordered_map<std::string, PreparedStatement> prepared_;
  std::unordered_map<std::string, std::string> inserts_;     // INSERT ... SELECT as it runs
  std::unordered_map<std::string, KeptShape> shapes_;        // see Rows
  std::unordered_map<std::string, std::string> identities_;  // see InsertedIdentity
  std::optional<int64_t> last_insert_id_;  // of the last row inserted into a numbered table
};

class PostgresBackend : public Backend {
 public:
  Dialect TargetDialect() const override { return Dialect::kPostgres; }

  std::unique_ptr<BackendConnection> Open(const ConnectionOptions& options,
                                          bool create) const override {
    return std::make_unique<PgConnection>(options, create);
  }

  bool DatabaseExists(const ConnectionOptions& options) const override {
    PgHandle conn;
    try {
      conn = Connect(options, options.database, "");
    } catch (const DbError&) {
      return false;
    }
    std::string schema = SchemaName(options.schema);
    const char* values[] = {schema.c_str()};
    // Every database's schema holds tables; an empty one (the system database's, made with the
    // support functions) is no database yet.
    Result res(PQexecParams(conn,
                            "SELECT 1 FROM pg_class c JOIN pg_namespace n ON n.oid = "
                            "c.relnamespace WHERE n.nspname = $1 AND c.relkind = 'r' LIMIT 1",
                            1, nullptr, values, nullptr, nullptr, 0),
               PQclear);
    return PQresultStatus(res.get()) == PGRES_TUPLES_OK && PQntuples(res.get()) > 0;
  }

  void DropDatabase(const ConnectionOptions& options) const override {
    PgHandle conn;
    try {
      conn = Connect(options, options.database, "");
    } catch (const DbError&) {
      return;  // no database, nothing in it
    }
    Result res = Exec(conn, "DROP SCHEMA IF EXISTS " + SchemaName(options.schema) + " CASCADE");
    std::string message = Ok(res) ? "" : PQresultErrorMessage(res.get());
    if (!message.empty()) throw DbError(kErrConnection, message);
  }

  void CreateStore(const ConnectionOptions& options) const override {
    if (DatabaseExists(options) || [&] {
          try {
            Connect(options, options.database, "");
            return true;
          } catch (const DbError&) {
            return false;
          }
        }()) {
      return;
    }
    PgHandle conn = Connect(options, "postgres", "");
    std::string name = options.database;
    std::string quoted = "\"";
    for (char c : name) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    Result res = Exec(conn, "CREATE DATABASE " + quoted + "\"");
    std::string message = Ok(res) ? "" : PQresultErrorMessage(res.get());
    if (!message.empty()) {
      throw DbError(kErrConnection, "Cannot create the database \"" + name + "\": " + message);
    }
  }
};

}  // namespace

const Backend& PostgresBackendInstance() {
  static const PostgresBackend backend;
  return backend;
}

}  // namespace rembiz::db::postgres
