#include "bench/bench_data.h"

#include <sqlite3.h>

#include "db/connection.h"
#include "db/error.h"
#include "db/sql_translator.h"

namespace rembiz::bench {
namespace {

void Exec(sqlite3* db, const std::string& sql) {
  char* message = nullptr;
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
    std::string text = message ? message : "unknown error";
    sqlite3_free(message);
    throw db::DbError(db::kErrConnection, "Generating the benchmark data failed: " + text);
  }
}

}  // namespace

host::DataDir MakeDataDirectory(const std::filesystem::path& root, int64_t vouchers) {
  std::filesystem::path path = root / ("vouchers-" + std::to_string(vouchers));
  std::filesystem::create_directories(path);
  host::DataDir dir(path);
  host::InitOptions options;
  options.demo = true;
  options.force = true;
  host::InitDataDirectory(dir, options);
  if (vouchers <= 0) return dir;

  // Generated straight into SQLite: the data is the subject's input, not its work. The rows
  // look like vouchers the demo operator entered for department 0201, so that every one of
  // them is visible to the list and navigation queries.
  const std::string year = host::CurrentYearText();
  sqlite3* db = nullptr;
  if (sqlite3_open(dir.AccountDatabase("001", year).c_str(), &db) != SQLITE_OK) {
    sqlite3_close(db);
    throw db::DbError(db::kErrConnection, "Cannot open the benchmark database.");
  }
  std::unique_ptr<sqlite3, int (*)(sqlite3*)> owner(db, sqlite3_close);
  db::RegisterSqlServerFunctions(db);  // column defaults and triggers call them
  Exec(db, "PRAGMA synchronous=NORMAL; BEGIN;");
  Exec(db,
       "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " +
           std::to_string(vouchers) +
           ") INSERT INTO EC_LoanVouch (GUID, strTypeCode, strVouchID, dtLoanDate, strDepartID, "
           "strLoanID, strBill, fltRate, dblMoney, dblOldMoney, strUsed, strPersonID, blnAudi, "
           "blnBegin, blnSettle) SELECT printf('{BE%06X-0000-4000-8000-%012d}', i, i), '301', "
           "printf('GEN%08d', i), '" +
           year +
           "-02-' || printf('%02d', 1 + i % 28), '0201', '0002', '人民币', 1, 100 + i % 900, "
           "100 + i % 900, 'generated', 'Demo Admin', 0, 0, 0 FROM n;");
  Exec(db,
       "INSERT INTO EC_LoanVouch_Sub (MGuid, strBalanceID, dblMoney) SELECT GUID, '1', dblMoney "
       "FROM EC_LoanVouch WHERE strVouchID LIKE 'GEN%';");
  Exec(db, "COMMIT; ANALYZE; PRAGMA wal_checkpoint(TRUNCATE);");
  return dir;
}

host::DataDir MakeLedgerDataDirectory(const std::filesystem::path& root, int64_t claims) {
  std::filesystem::path path = root / ("claims-" + std::to_string(claims));
  std::filesystem::create_directories(path);
  host::DataDir dir(path);
  host::InitOptions options;
  options.demo = true;
  options.force = true;
  host::InitDataDirectory(dir, options);

  const std::string year = host::CurrentYearText();
  sqlite3* db = nullptr;
  if (sqlite3_open(dir.AccountDatabase("001", year).c_str(), &db) != SQLITE_OK) {
    sqlite3_close(db);
    throw db::DbError(db::kErrConnection, "Cannot open the benchmark database.");
  }
  std::unique_ptr<sqlite3, int (*)(sqlite3*)> owner(db, sqlite3_close);
  db::RegisterSqlServerFunctions(db);
  Exec(db, "PRAGMA synchronous=NORMAL; BEGIN;");
  Exec(db,
       "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " +
           std::to_string(claims) +
           ") INSERT INTO EC_ExpenVouch (GUID, strTypeCode, strVouchID, dtLoanDate, strDepartID, "
           "strLoanID, strBill, fltRate, dblMoney, dblOldMoney, strUsed, strPersonID, blnAudi, "
           "strAuditorID, strVerifier, blnSettle) SELECT printf('{BC%06X-0000-4000-8000-%012d}', "
           "i, i), '201', printf('LG%08d', i), '" +
           year +
           "-03-' || printf('%02d', 1 + i % 28), '0201', '0002', '人民币', 1, 300, 300, "
           "'generated', 'Demo Admin', 1, 'Anna Approver', 'Demo Admin', 1 FROM n;");
  Exec(db,
       "INSERT INTO EC_ExpenVouch_Sub (MGuid, strIOItem, dblMoney, dblOldMoney, dblNumber) "
       "SELECT GUID, '20101', 200, 200, 1 FROM EC_ExpenVouch WHERE strVouchID LIKE 'LG%' UNION "
       "ALL SELECT GUID, '203', 100, 100, 1 FROM EC_ExpenVouch WHERE strVouchID LIKE 'LG%';");
  Exec(db,
       "INSERT INTO EC_BalanceInfo (ExpenGUID, intIOType, strBalanceID, dblMoney) SELECT GUID, 2, "
       "'1', 300 FROM EC_ExpenVouch WHERE strVouchID LIKE 'LG%';");
  Exec(db, "COMMIT; ANALYZE; PRAGMA wal_checkpoint(TRUNCATE);");
  return dir;
}

std::unique_ptr<host::LocalSession> OpenSession(const host::DataDir& dir) {
  host::SessionRequest request;
  request.user = "demo";
  return host::LocalSession::Open(dir, request);
}

std::string LoanSaveRequest(const std::string& year, const std::string& number) {
  return "<req><func name='savevouch'><in><xml><head blnBegin='0'><z:row strTypeCode='301' "
         "strVouchID='" +
         number + "' dtLoanDate='" + year +
         "-03-05T00:00:00' strDepartID='0201' strLoanID='0002' strBill='人民币' fltRate='1' "
         "dblMoney='800' dblOldMoney='800' strUsed='出差' strPersonID='Demo Admin'/></head>"
         "<body><row strBalanceID='1' dblMoney='500'/><row strBalanceID='2' dblPreMoney='300' "
         "strBillID='ZP001' strPayBankID='01'/></body></xml></in></func></req>";
}

std::string ClaimSaveRequest(const std::string& year, const std::string& number) {
  const std::string day = year + "-03-0";
  auto row = [&](const std::string& item, const std::string& money, const std::string& extra) {
    return "<row dtBDate='" + day + "1T00:00:00' intBTime='8' dtEDate='" + day +
           "3T00:00:00' intETime='18' strBZero='0101' strEZero='0201' strIOItem='" + item +
           "' dblNumber='1' dblMoney='" + money + "' dblOldMoney='" + money + "'" + extra + "/>";
  };
  return "<req><func name='savevouch'><in><xml><head><z:row strTypeCode='201' strVouchID='" +
         number + "' dtLoanDate='" + day +
         "5T00:00:00' strDepartID='0201' strLoanID='0002' strBill='人民币' fltRate='1' "
         "dblMoney='660' dblOldMoney='660' strUsed='出差' strPersonID='Demo Admin'/></head><body>" +
         row("20101", "400", "") + row("20102", "80", " dblVouch='80'") + row("20103", "100", "") +
         row("202", "50", "") + row("203", "30", "") + "</body></xml></in></func></req>";
}

}  // namespace rembiz::bench
