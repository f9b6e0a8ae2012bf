#include "bench/pg_floor.h"

#include <libpq-fe.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <initializer_list>
#include <random>
#include <stdexcept>
#include <string_view>

#include "db/backend.h"
#include "db/connection_string.h"

namespace rembiz::bench {
namespace {

using Result = std::unique_ptr<PGresult, void (*)(PGresult*)>;

[[noreturn]] void Fail(PGconn* conn, const std::string& what) {
  std::string message = PQerrorMessage(conn);
  while (!message.empty() && message.back() == '\n') message.pop_back();
  throw std::runtime_error("pg floor: " + what + ": " + message);
}

bool Ok(const PGresult* r) {
  const ExecStatusType s = PQresultStatus(r);
  return s == PGRES_COMMAND_OK || s == PGRES_TUPLES_OK;
}

void Prepare(PGconn* conn, const char* name, const char* sql) {
  Result r(PQprepare(conn, name, sql, 0, nullptr), PQclear);
  if (!Ok(r.get())) Fail(conn, std::string("cannot prepare \"") + sql + "\"");
}

void Send(PGconn* conn, const char* name, std::initializer_list<const char*> values) {
  if (!PQsendQueryPrepared(conn, name, static_cast<int>(values.size()), values.begin(), nullptr,
                           nullptr, 0)) {
    Fail(conn, std::string("cannot send ") + name);
  }
}

// The answers of `count` statements sent before a sync point, then the sync point's own. The
// first refusal is thrown once the pipeline is back at the sync point.
std::vector<Result> Collect(PGconn* conn, size_t count) {
  std::vector<Result> answers;
  std::string refused;
  for (size_t i = 0; i < count; ++i) {
    Result r(PQgetResult(conn), PQclear);
    if (!r) Fail(conn, "an answer is missing");
    if (!Ok(r.get()) && refused.empty()) {
      refused = PQresultErrorMessage(r.get());
      if (refused.empty()) refused = PQresStatus(PQresultStatus(r.get()));
    }
    answers.push_back(std::move(r));
    // Each statement's answers end in a null result.
    Result end(PQgetResult(conn), PQclear);
  }
  Result sync(PQgetResult(conn), PQclear);
  if (!sync || PQresultStatus(sync.get()) != PGRES_PIPELINE_SYNC) Fail(conn, "no sync point");
  if (!refused.empty()) throw std::runtime_error("pg floor: " + refused);
  return answers;
}

void Sync(PGconn* conn) {
  if (!PQpipelineSync(conn)) Fail(conn, "cannot sync");
}

// The claim save's statements, prepared once.
constexpr const char* kSaveStatements[][2] = {
    {"fl_begin", "BEGIN"},
    {"fl_commit", "COMMIT"},
    {"fl_rollback", "ROLLBACK"},
    // The write lock, the submit option, the department, claimant, currency and number.
    {"fl_head",
     "SELECT (SELECT bflag FROM qdsystem.ua_lockstate WHERE cacc_id = '001' AND iyear = $1 AND "
     "csub_id = 'EC' AND icode = 204), (SELECT cvalue FROM accinformation WHERE csysid = 'ec' "
     "AND cid = '105'), (SELECT bdepend FROM department WHERE cdepcode = $2), EXISTS (SELECT 1 "
     "FROM person WHERE cpersoncode = $3), (SELECT coalesce(iotherused, 0) * 10 + coalesce(bcal, "
     "0) FROM foreigncurrency WHERE cexch_name = $4), EXISTS (SELECT 1 FROM ec_expenvouch WHERE "
     "strvouchid = $5 AND left(strtypecode, 1) = '2')"},
    // The rows' items with their standards in the department and the dimensions they use.
    {"fl_items",
     "SELECT io.strcode, io.blnend, e.guid, e.strcontroltype, (SELECT string_agg(intedcode::text, "
     "',') FROM ec_effectitem WHERE guidstand = e.guid) FROM ec_ioitem io LEFT JOIN (ec_expense e "
     "JOIN ec_expensedepart d ON d.guidmain = e.guid AND d.strdepartid = $1) ON e.strioitemcode = "
     "io.strcode WHERE io.strcode IN ('20101', '20102', '20103', '202', '203')"},
    // Their value rows, with the claimant's and the place's grades.
    {"fl_values",
     "SELECT s.guidstand, s.strfield1, s.strfield2, s.dblmoney, s.dblrate, b.streiname, (SELECT "
     "strgradeid FROM ec_personctrl WHERE strpersoncode = $2), (SELECT strgradeid FROM "
     "ec_position WHERE strpositioncode = '0201') FROM ec_standset s LEFT JOIN ec_eiset_stand b "
     "ON b.inteicode = 4 AND b.guidstand = s.guidstand AND b.streicode = s.strfield4 WHERE "
     "s.guidstand IN (SELECT e.guid FROM ec_expense e JOIN ec_expensedepart d ON d.guidmain = "
     "e.guid WHERE d.strdepartid = $1 AND e.strioitemcode IN ('20101', '20102', '20103', '202', "
     "'203'))"},
    {"fl_insert_head",
     "INSERT INTO ec_expenvouch (guid, blnaudi, intoverbud, strtypecode, strvouchid, dtloandate, "
     "strdepartid, strloanid, strbill, fltrate, dblmoney, dbloldmoney, strused, strpersonid) "
     "VALUES ($1, 0, -1, '201', $2, $3, '0201', '0002', '人民币', 1, 660, 660, '出差', 'Demo "
     "Admin')"},
    {"fl_insert_row",
     "INSERT INTO ec_expenvouch_sub (mguid, dtbdate, intbtime, dtedate, intetime, strbzero, "
     "strezero, strioitem, dblvouch, dblnumber, dblmoney, dbloldmoney) VALUES ($1, $2, 8, $3, 18, "
     "'0101', '0201', $4, $5, 1, $6, $6)"},
};

// As the data layer makes them (db::BackendConnection::NewGuid).
std::string NewGuid() {
  thread_local std::mt19937_64 random{std::random_device{}()};
  unsigned char bytes[16];
  for (size_t i = 0; i < sizeof bytes; i += 8) {
    const uint64_t value = random();
    std::copy_n(reinterpret_cast<const unsigned char*>(&value), 8, bytes + i);
  }
  return db::RandomGuidText(bytes);
}

std::string Text(double value) {
  std::string out;
  AppendNumber(out, value);
  return out;
}

// The columns of one record answer's schema, in order: each one's name and how its values are
// written.
std::vector<PgClaimReadFloor::Column> ColumnsOf(const std::string& schema) {
  using Kind = PgClaimReadFloor::Kind;
  std::vector<PgClaimReadFloor::Column> columns;
  const std::string marker = "<s:AttributeType name=\"";
  for (size_t at = schema.find(marker); at != std::string::npos; at = schema.find(marker, at)) {
    at += marker.size();
    const size_t name_end = schema.find('"', at);
    const size_t type_at = schema.find("dt:type=\"", name_end);
    if (name_end == std::string::npos || type_at == std::string::npos) break;
    const size_t type_end = schema.find('"', type_at + 9);
    const std::string type = schema.substr(type_at + 9, type_end - type_at - 9);
    Kind kind = Kind::kText;
    if (type == "boolean") {
      kind = Kind::kBool;
    } else if (type == "dateTime") {
      kind = Kind::kDate;
    } else if (type == "uuid") {
      kind = Kind::kGuid;
    } else if (type == "number" || type == "float" || type == "i8") {  // i8: also money
      kind = Kind::kNumber;
    }
    columns.push_back({schema.substr(at, name_end - at), kind});
  }
  return columns;
}

// The z:row of one row: non-null values as the persisted format writes them.
void AppendRow(std::string& out, const PGresult* r, int row,
               const std::vector<PgClaimReadFloor::Column>& columns) {
  using Kind = PgClaimReadFloor::Kind;
  out += "<z:row";
  for (size_t i = 0; i < columns.size(); ++i) {
    const int field = static_cast<int>(i);
    if (PQgetisnull(r, row, field)) continue;
    const std::string_view value(PQgetvalue(r, row, field),
                                 static_cast<size_t>(PQgetlength(r, row, field)));
    out += ' ';
    out += columns[i].name;
    out += "=\"";
    switch (columns[i].kind) {
      case Kind::kBool:
        out += value == "0" || value == "f" ? "False" : "True";
        break;
      case Kind::kNumber:
        AppendNumber(out, std::strtod(value.data(), nullptr));
        break;
      case Kind::kDate:
        out.append(value.substr(0, 10));
        out += value.size() > 10 ? "T" : "T00:00:00";
        if (value.size() > 11) out.append(value.substr(11));
        break;
      case Kind::kGuid:
        out += '{';
        for (char c : value) out += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        out += '}';
        break;
      case Kind::kText:
        AppendEscaped(out, value);
        break;
    }
    out += '"';
  }
  out += "/>";
}

}  // namespace

PgHandle OpenAccountSchema(const std::string& connection_string) {
  const db::ConnectionOptions o = db::ParseConnectionString(connection_string);
  std::string schema = o.schema;
  for (char& c : schema) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const std::string options =
      "-c DateStyle=ISO,MDY -c search_path=" + schema + ",qdsystem,tempdb,rembiz";
  std::vector<const char*> keys, values;
  auto add = [&](const char* key, const std::string& value) {
    if (value.empty()) return;
    keys.push_back(key);
    values.push_back(value.c_str());
  };
  add("host", o.server);
  add("port", o.port);
  add("dbname", o.database);
  add("user", o.user);
  add("password", o.password);
  add("options", options);
  keys.push_back(nullptr);
  values.push_back(nullptr);
  PgHandle conn(PQconnectdbParams(keys.data(), values.data(), 0), PQfinish);
  if (PQstatus(conn.get()) != CONNECTION_OK) Fail(conn.get(), "cannot connect");
  return conn;
}

void PgExecute(PGconn* conn, const std::string& sql) {
  Result r(PQexec(conn, sql.c_str()), PQclear);
  if (!Ok(r.get())) Fail(conn, sql);
}

PgClaimSaveFloor::PgClaimSaveFloor(PGconn* conn) : conn_(conn) {
  for (const auto& [name, sql] : kSaveStatements) Prepare(conn_, name, sql);
  if (!PQenterPipelineMode(conn_)) Fail(conn_, "no pipeline mode");
}

void PgClaimSaveFloor::Run(const FloorClaim& claim) {
  const std::string day = claim.year + "-03-0";
  Send(conn_, "fl_begin", {});
  Send(conn_, "fl_head", {claim.year.c_str(), "0201", "0002", "人民币", claim.number.c_str()});
  Send(conn_, "fl_items", {"0201"});
  Send(conn_, "fl_values", {"0201", "0002"});
  Sync(conn_);
  try {
    std::vector<Result> checks = Collect(conn_, 4);
    const PGresult* head = checks[1].get();
    auto is = [&](int field, const char* value) {
      return !PQgetisnull(head, 0, field) && std::string_view(PQgetvalue(head, 0, field)) == value;
    };
    if (PQntuples(head) != 1 || !(PQgetisnull(head, 0, 0) || is(0, "0")) ||
        PQgetisnull(head, 0, 2) || is(2, "0") || !is(3, "t") || PQgetisnull(head, 0, 4) ||
        !is(5, "f")) {
      throw std::runtime_error("pg floor: the head's checks refuse the claim");
    }
    // Items that are leaves, and per standard the dimensions it uses.
    const PGresult* items = checks[2].get();
    if (PQntuples(items) != static_cast<int>(std::size(kFloorRows))) {
      throw std::runtime_error("pg floor: items");
    }
    for (int i = 0; i < PQntuples(items); ++i) {
      if (std::string_view(PQgetvalue(items, i, 1)) == "0") {
        throw std::runtime_error("pg floor: an item refused");
      }
    }
    // The least amount any value row of the standards allows: every row is within it here.
    const PGresult* values = checks[3].get();
    double least = 1e300;
    for (int i = 0; i < PQntuples(values); ++i) {
      least = std::min(least, std::strtod(PQgetvalue(values, i, 3), nullptr));
    }
    if (least < kFloorRows[1].money) throw std::runtime_error("pg floor: a standard refuses");

    guid_ = NewGuid();
    const std::string date = day + "5", from = day + "1", to = day + "3";
    Send(conn_, "fl_insert_head", {guid_.c_str(), claim.number.c_str(), date.c_str()});
    for (const FloorRow& r : kFloorRows) {
      const std::string receipt = Text(r.receipt), money = Text(r.money);
      Send(conn_, "fl_insert_row",
           {guid_.c_str(), from.c_str(), to.c_str(), r.item,
            r.receipt > 0 ? receipt.c_str() : nullptr, money.c_str()});
    }
    Send(conn_, "fl_commit", {});
    Sync(conn_);
    Collect(conn_, 2 + std::size(kFloorRows));
  } catch (...) {
    // A refusal, or a refused statement, leaves the transaction open until it is rolled back.
    Send(conn_, "fl_rollback", {});
    Sync(conn_);
    Collect(conn_, 1);
    throw;
  }
}

PgClaimReadFloor::PgClaimReadFloor(PGconn* conn, const std::string& language,
                                   const std::string& draft_name)
    : conn_(conn), language_(language), draft_name_(draft_name) {
  // The claims it reads are drafts: a state of any other kind is left null, which Run refuses.
  Prepare(conn_, "rf_head",
          "SELECT v.*, '' AS editprop, ' ' AS stritem, (SELECT idec FROM foreigncurrency WHERE "
          "cexch_name = v.strbill) AS numpoint, CASE WHEN coalesce(v.strauditorid, '') = '' AND "
          "v.blnaudi = 0 THEN 'draft' END AS strstate, CASE WHEN coalesce(v.strauditorid, '') = "
          "'' AND v.blnaudi = 0 THEN $3 END AS strstatename FROM vwecexpenhead v WHERE localeid = "
          "$1 AND guid = $2");
  Prepare(conn_, "rf_body", "SELECT *, '' AS editprop FROM vwecexpenbody WHERE autoid = $1");
}

bool PgClaimReadFloor::Learn(const std::string& expected) {
  if (!schemas_.Learn(expected)) return false;
  head_columns_ = ColumnsOf(schemas_.head);
  body_columns_ = ColumnsOf(schemas_.body);
  return !head_columns_.empty() && !body_columns_.empty();
}

std::string PgClaimReadFloor::Run(const std::string& guid) {
  std::string out;
  out.reserve(16384);
  const char* head_values[] = {language_.c_str(), guid.c_str(), draft_name_.c_str()};
  Result head(PQexecPrepared(conn_, "rf_head", 3, head_values, nullptr, nullptr, 0), PQclear);
  if (!Ok(head.get())) Fail(conn_, "the head");
  if (PQntuples(head.get()) != 1) throw std::runtime_error("pg floor: no claim " + guid);
  if (PQnfields(head.get()) != static_cast<int>(head_columns_.size())) {
    throw std::runtime_error("pg floor: the head has " + std::to_string(PQnfields(head.get())) +
                             " columns, the answer " + std::to_string(head_columns_.size()));
  }
  if (PQgetisnull(head.get(), 0, PQnfields(head.get()) - 1)) {
    throw std::runtime_error("pg floor: the claim " + guid + " is no draft");
  }
  const std::string auto_id = PQgetvalue(head.get(), 0, 0);
  AppendReadOpening(out, guid, auto_id, schemas_);
  AppendRow(out, head.get(), 0, head_columns_);
  AppendReadMiddle(out, schemas_);
  const char* body_values[] = {auto_id.c_str()};
  Result body(PQexecPrepared(conn_, "rf_body", 1, body_values, nullptr, nullptr, 0), PQclear);
  if (!Ok(body.get())) Fail(conn_, "the rows");
  if (PQnfields(body.get()) != static_cast<int>(body_columns_.size())) {
    throw std::runtime_error("pg floor: the rows have " + std::to_string(PQnfields(body.get())) +
                             " columns, the answer " + std::to_string(body_columns_.size()));
  }
  for (int i = 0; i < PQntuples(body.get()); ++i) AppendRow(out, body.get(), i, body_columns_);
  AppendReadClosing(out);
  return out;
}

}  // namespace rembiz::bench
