#include "bench/floor.h"

#include <sqlite3.h>

#include <cstdio>
#include <stdexcept>

#include "db/backend.h"
#include "db/sqlite/sqlite_functions.h"

namespace rembiz::bench {
namespace {

[[noreturn]] void Fail(sqlite3* db, const std::string& what) {
  throw std::runtime_error("floor: " + what + ": " + sqlite3_errmsg(db));
}

void Text(sqlite3_stmt* stmt, int index, const std::string& value) {
  sqlite3_bind_text(stmt, index, value.data(), static_cast<int>(value.size()), SQLITE_TRANSIENT);
}

// Steps a statement that returns nothing, or whose rows are not needed.
void Done(sqlite3* db, sqlite3_stmt* stmt) {
  int rc;
  while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
  }
  sqlite3_reset(stmt);
  if (rc != SQLITE_DONE) Fail(db, sqlite3_sql(stmt));
}

const char* kHead[] = {
    "BEGIN IMMEDIATE",
    "COMMIT",
    // The write lock, the submit option, the department, claimant, currency and number.
    "SELECT (SELECT bFlag FROM UA_LockState WHERE cAcc_Id = '001' AND iYear = ?1 AND cSub_Id = "
    "'EC' AND iCode = 204), (SELECT cvalue FROM accinformation WHERE csysid = 'ec' AND cid = "
    "'105'), (SELECT bDepEnd FROM Department WHERE cDepCode = ?2), EXISTS (SELECT 1 FROM Person "
    "WHERE cPersonCode = ?3), (SELECT ifnull(iotherused, 0) * 10 + ifnull(bcal, 0) FROM "
    "foreigncurrency WHERE cexch_name = ?4), EXISTS (SELECT 1 FROM EC_ExpenVouch WHERE "
    "strVouchID = ?5 AND substr(strTypeCode, 1, 1) = '2')",
    // The rows' items with their standards in the department and the dimensions they use.
    "SELECT io.strCode, io.blnEnd, e.GUID, e.strControlType, (SELECT group_concat(intEDCode) "
    "FROM EC_EffectItem WHERE GUIDStand = e.GUID) FROM EC_IOItem io LEFT JOIN (EC_Expense e JOIN "
    "EC_ExpenseDepart d ON d.GUIDMain = e.GUID AND d.strDepartID = ?1) ON e.strIOItemCode = "
    "io.strCode WHERE io.strCode IN ('20101', '20102', '20103', '202', '203')",
    // Their value rows, with the claimant's and the place's grades.
    "SELECT s.GUIDStand, s.strField1, s.strField2, s.dblMoney, s.dblRate, B.strEIName, (SELECT "
    "strGradeID FROM EC_PersonCtrl WHERE strPersonCode = ?2), (SELECT strGradeID FROM "
    "EC_Position WHERE strPositionCode = '0201') FROM EC_StandSet s LEFT JOIN EC_EISet_Stand B "
    "ON B.intEICode = 4 AND B.GUIDStand = s.GUIDStand AND B.strEICode = s.strField4 WHERE "
    "s.GUIDStand IN (SELECT e.GUID FROM EC_Expense e JOIN EC_ExpenseDepart d ON d.GUIDMain = "
    "e.GUID WHERE d.strDepartID = ?1 AND e.strIOItemCode IN ('20101', '20102', '20103', '202', "
    "'203'))",
    "INSERT INTO EC_ExpenVouch (GUID, blnAudi, intOverBud, strTypeCode, strVouchID, dtLoanDate, "
    "strDepartID, strLoanID, strBill, fltRate, dblMoney, dblOldMoney, strUsed, strPersonID) "
    "VALUES (?1, 0, -1, '201', ?2, ?3, '0201', '0002', '人民币', 1, 660, 660, '出差', 'Demo "
    "Admin')",
    "INSERT INTO EC_ExpenVouch_Sub (MGuid, dtBDate, intBTime, dtEDate, intETime, strBZero, "
    "strEZero, strIOItem, dblVouch, dblNumber, dblMoney, dblOldMoney) VALUES (?1, ?2, 8, ?3, 18, "
    "'0101', '0201', ?4, ?5, 1, ?6, ?6)",
};

// As the data layer makes them (db::Connection::NewGuid on SQLite).
std::string NewGuid() {
  unsigned char bytes[16];
  sqlite3_randomness(sizeof bytes, bytes);
  return db::RandomGuidText(bytes);
}

}  // namespace

std::unique_ptr<sqlite3, int (*)(sqlite3*)> OpenAccountFile(const std::string& account,
                                                            const std::string& system) {
  sqlite3* db = nullptr;
  int rc = sqlite3_open(account.c_str(), &db);
  std::unique_ptr<sqlite3, int (*)(sqlite3*)> owner(db, sqlite3_close);
  if (rc != SQLITE_OK) Fail(db, "cannot open " + account);
  db::sqlite::RegisterSqlServerFunctions(db);
  sqlite3_busy_timeout(db, 5000);
  // SQLite's own auto-checkpoint, as a program written straight against it would run: a WAL
  // left to grow would make the floor's commits cheaper than any that can go on for long.
  const std::string setup =
      "PRAGMA synchronous=NORMAL; ATTACH "
      "DATABASE '" +
      system + "' AS qdsystem; PRAGMA qdsystem.synchronous=NORMAL;";
  if (sqlite3_exec(db, setup.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) {
    Fail(db, "cannot attach " + system);
  }
  return owner;
}

FloorStatements::FloorStatements(sqlite3* db, const std::vector<std::string>& texts) {
  for (const std::string& sql : texts) {
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v3(db, sql.c_str(), static_cast<int>(sql.size()), SQLITE_PREPARE_PERSISTENT,
                           &stmt, nullptr) != SQLITE_OK) {
      std::string message = sqlite3_errmsg(db);
      for (sqlite3_stmt* done : statements_) sqlite3_finalize(done);
      throw std::runtime_error("floor: cannot prepare \"" + sql + "\": " + message);
    }
    statements_.push_back(stmt);
  }
}

FloorStatements::~FloorStatements() {
  for (sqlite3_stmt* stmt : statements_) sqlite3_finalize(stmt);
  statements_.clear();
}

ClaimSaveFloor::ClaimSaveFloor(sqlite3* db)
    : db_(db), statements_(db, std::vector<std::string>(std::begin(kHead), std::end(kHead))) {}

void ClaimSaveFloor::Run(const FloorClaim& claim) {
  const std::string day = claim.year + "-03-0";
  Done(db_, statements_[0]);
  try {
    sqlite3_stmt* head = statements_[2];
    sqlite3_bind_int(head, 1, std::atoi(claim.year.c_str()));
    Text(head, 2, "0201");
    Text(head, 3, "0002");
    Text(head, 4, "人民币");
    Text(head, 5, claim.number);
    if (sqlite3_step(head) != SQLITE_ROW || sqlite3_column_int(head, 0) != 0 ||
        sqlite3_column_int(head, 2) == 0 || sqlite3_column_int(head, 3) == 0 ||
        sqlite3_column_type(head, 4) == SQLITE_NULL || sqlite3_column_int(head, 5) != 0) {
      std::string seen;
      for (int i = 0; i < 6; ++i) {
        const unsigned char* v = sqlite3_column_text(head, i);
        seen += std::string(" ") + (v ? reinterpret_cast<const char*>(v) : "null");
      }
      sqlite3_reset(head);
      throw std::runtime_error("floor: the head's checks refuse the claim:" + seen);
    }
    sqlite3_reset(head);

    // Items that are leaves, and per standard the dimensions it uses.
    sqlite3_stmt* items = statements_[3];
    Text(items, 1, "0201");
    int found = 0;
    while (sqlite3_step(items) == SQLITE_ROW) {
      if (sqlite3_column_int(items, 1) == 0) throw std::runtime_error("floor: an item refused");
      ++found;
    }
    sqlite3_reset(items);
    if (found != static_cast<int>(std::size(kFloorRows))) throw std::runtime_error("floor: items");

    // The least amount any value row of the standards allows: every row is within it here.
    sqlite3_stmt* values = statements_[4];
    Text(values, 1, "0201");
    Text(values, 2, "0002");
    double least = 1e300;
    while (sqlite3_step(values) == SQLITE_ROW)
      least = std::min(least, sqlite3_column_double(values, 3));
    sqlite3_reset(values);
    if (least < kFloorRows[1].money) throw std::runtime_error("floor: a standard refuses");

    guid_ = NewGuid();
    sqlite3_stmt* insert = statements_[5];
    Text(insert, 1, guid_);
    Text(insert, 2, claim.number);
    const std::string date = day + "5";
    Text(insert, 3, date);
    Done(db_, insert);
    sqlite3_stmt* row = statements_[6];
    const std::string from = day + "1", to = day + "3";
    for (const FloorRow& r : kFloorRows) {
      Text(row, 1, guid_);
      Text(row, 2, from);
      Text(row, 3, to);
      sqlite3_bind_text(row, 4, r.item, -1, SQLITE_STATIC);
      if (r.receipt > 0) {
        sqlite3_bind_double(row, 5, r.receipt);
      } else {
        sqlite3_bind_null(row, 5);
      }
      sqlite3_bind_double(row, 6, r.money);
      Done(db_, row);
    }
    Done(db_, statements_[1]);
  } catch (...) {
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    throw;
  }
}

ClaimReadFloor::ClaimReadFloor(sqlite3* db, const std::string& language,
                               const std::string& draft_name)
    : db_(db),
      language_(language),
      draft_name_(draft_name),
      statements_(db, {"SELECT v.*, '' AS editprop, ' ' AS strItem, (SELECT idec FROM "
                       "foreigncurrency WHERE cexch_name = v.strBill) AS NumPoint, CASE WHEN "
                       "ifnull(v.strAuditorID, '') = '' AND v.blnAudi = 0 THEN 'draft' END AS "
                       "strState, CASE WHEN ifnull(v.strAuditorID, '') = '' AND v.blnAudi = 0 "
                       "THEN ?3 END AS strStateName FROM vwECExpenHead v WHERE LocaleID = ?1 AND "
                       "GUID = ?2",
                       "SELECT *, '' AS editprop FROM vwECExpenBody WHERE AutoID = ?1"}) {}

bool ClaimReadFloor::Learn(const std::string& expected) { return schemas_.Learn(expected); }

// The z:row of the current row: non-null values as the persisted format writes them.
void ClaimReadFloor::AppendRow(std::string& out, sqlite3_stmt* stmt) {
  const int columns = sqlite3_column_count(stmt);
  {
    out += "<z:row";
    for (int i = 0; i < columns; ++i) {
      const int storage = sqlite3_column_type(stmt, i);
      if (storage == SQLITE_NULL) continue;
      out += ' ';
      out += sqlite3_column_name(stmt, i);
      out += "=\"";
      const char* decl = sqlite3_column_decltype(stmt, i);
      const std::string_view type = decl ? decl : "";
      if (type == "bit") {
        out += sqlite3_column_int(stmt, i) ? "True" : "False";
      } else if (storage != SQLITE_TEXT &&
                 (type == "money" || type == "float" || type.starts_with("decimal"))) {
        AppendNumber(out, sqlite3_column_double(stmt, i));
      } else if (storage == SQLITE_TEXT && type == "datetime") {
        std::string_view date(reinterpret_cast<const char*>(sqlite3_column_text(stmt, i)),
                              static_cast<size_t>(sqlite3_column_bytes(stmt, i)));
        out.append(date.substr(0, 10));
        out += date.size() > 10 ? "T" : "T00:00:00";
        if (date.size() > 11) out.append(date.substr(11));
      } else if (storage == SQLITE_FLOAT) {
        AppendNumber(out, sqlite3_column_double(stmt, i));
      } else {
        AppendEscaped(out,
                      std::string_view(reinterpret_cast<const char*>(sqlite3_column_text(stmt, i)),
                                       static_cast<size_t>(sqlite3_column_bytes(stmt, i))));
      }
      out += '"';
    }
    out += "/>";
  }
}

std::string ClaimReadFloor::Run(const std::string& guid) {
  std::string out;
  out.reserve(16384);
  sqlite3_stmt* head = statements_[0];
  Text(head, 1, language_);
  Text(head, 2, guid);
  Text(head, 3, draft_name_);
  if (sqlite3_step(head) != SQLITE_ROW) {
    sqlite3_reset(head);
    throw std::runtime_error("floor: no claim " + guid);
  }
  if (sqlite3_column_type(head, sqlite3_column_count(head) - 1) == SQLITE_NULL) {
    sqlite3_reset(head);
    throw std::runtime_error("floor: the claim " + guid + " is no draft");
  }
  const int64_t auto_id = sqlite3_column_int64(head, 0);
  std::string head_row;
  AppendRow(head_row, head);
  sqlite3_reset(head);
  const std::string id = std::to_string(auto_id);
  AppendReadOpening(out, guid, id, schemas_);
  out += head_row;
  AppendReadMiddle(out, schemas_);
  sqlite3_stmt* body = statements_[1];
  sqlite3_bind_int64(body, 1, auto_id);
  int rc;
  while ((rc = sqlite3_step(body)) == SQLITE_ROW) AppendRow(out, body);
  sqlite3_reset(body);
  if (rc != SQLITE_DONE) Fail(db_, sqlite3_sql(body));
  AppendReadClosing(out);
  return out;
}

}  // namespace rembiz::bench
