#include "bench/bench_data.h"

#include <malloc.h>
#include <sqlite3.h>

#include <exception>
#include <stdexcept>

#include "bench/floor.h"
#include "db/connection.h"
#include "db/error.h"
#include "host/schema_versions.h"

namespace rembiz::bench {
namespace {

// The numbers 1..count as a derived table "n(i)" (up to 100,000): five digit tables joined.
std::string Numbers(int64_t count) {
  const std::string digit =
      "(select 0 as d union all select 1 union all select 2 union all select 3 union all select 4 "
      "union all select 5 union all select 6 union all select 7 union all select 8 union all "
      "select 9)";
  // Five digit tables up to 100,000, one more for every further power of ten.
  std::string sum = "a.d + 10 * b.d + 100 * c.d + 1000 * e.d + 10000 * f.d";
  std::string tables = digit + " a cross join " + digit + " b cross join " + digit +
                       " c cross join " + digit + " e cross join " + digit + " f";
  int64_t reach = 100000;
  for (int k = 0; reach < count; ++k, reach *= 10) {
    const std::string name = std::string("g").append(std::to_string(k));
    sum.append(" + ").append(std::to_string(reach)).append(" * ").append(name).append(".d");
    tables.append(" cross join ").append(digit).append(" ").append(name);
  }
  return "(select " + sum + " + 1 as i from " + tables + ") n where i <= " + std::to_string(count);
}

// The generated loans written straight into the SQLite file, in one transaction, with a page
// cache that holds what the transaction changes: through the data layer, whose connections keep
// SQLite's small default cache, a million vouchers spill changed pages to the log over and over
// and take several times as long. The rows are the ones the server's statements below write
// (the table's defaults and triggers give the GUID and row version).
void GenerateOnSqlite(const host::DataDir& dir, const std::string& year, int64_t vouchers) {
  auto db = OpenAccountFile(dir.Store().Describe(host::DataDir::AccountDatabase("001", year)),
                            dir.Store().Describe(std::string(db::kSystemDatabase)));
  const std::string sql =
      "PRAGMA cache_size=-1048576; BEGIN IMMEDIATE; WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL "
      "SELECT i + 1 FROM n WHERE i < " +
      std::to_string(vouchers) +
      ") INSERT INTO EC_LoanVouch (strTypeCode, strVouchID, dtLoanDate, strDepartID, strLoanID, "
      "strBill, fltRate, dblMoney, dblOldMoney, strUsed, strPersonID, blnAudi, blnBegin, "
      "blnSettle, strAuditorID) SELECT '301', 'GEN' || substr('0000000' || i, -8), printf('" +
      year +
      "-%02d-%02d', 1 + i % 11, 1 + i % 28), '0201', '0002', '人民币', 1, 100 + i % 900, "
      "100 + i % 900, 'generated', 'Demo Admin', i % 2, 0, 0, CASE WHEN i % 2 = 1 THEN 'Demo "
      "Admin' END FROM n; INSERT INTO EC_LoanVouch_Sub (MGuid, strBalanceID, dblMoney) SELECT "
      "GUID, '1', dblMoney FROM EC_LoanVouch WHERE strVouchID LIKE 'GEN%'; COMMIT; ANALYZE "
      "EC_LoanVouch; ANALYZE EC_LoanVouch_Sub;";
  char* error = nullptr;
  if (sqlite3_exec(db.get(), sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
    std::string message = error ? error : "unknown error";
    sqlite3_free(error);
    throw std::runtime_error("generating the vouchers failed: " + message);
  }
  db.reset();
  malloc_trim(0);  // the page cache's memory, back to the system
}

}  // namespace

bool Reusable(const std::string& location, int64_t vouchers) {
  try {
    // A set kept from an older program takes its schema versions first, as `rembiz upgrade`
    // would; the generated vouchers are committed in one transaction, so their count says the
    // set is whole.
    host::DataDir dir(location);
    host::UpgradeDatabases(dir);
    db::Connection cn;
    cn.Open(dir.ConnectionString("001", host::CurrentYearText()));
    return cn.Execute("select count(*) as n from EC_LoanVouch where strVouchID like 'GEN%'")
               .Value("n")
               .ToInt() == vouchers;
  } catch (const std::exception&) {
    return false;
  }
}

host::DataDir MakeDataDirectory(const std::filesystem::path& root, int64_t vouchers) {
  std::filesystem::path path = root / ("vouchers-" + std::to_string(vouchers));
  std::filesystem::create_directories(path);
  return MakeDemoData(path.string(), vouchers);
}

host::DataDir MakeDemoData(const std::string& location, int64_t vouchers) {
  host::DataDir dir(location);
  host::InitOptions options;
  options.demo = true;
  options.force = true;
  host::InitDataDirectory(dir, options);
  if (vouchers <= 0) return dir;

  // Generated in the database itself: the data is the subject's input, not its work. The rows
  // look like vouchers the demo operator entered for department 0201, so that every one of
  // them is visible to the list and navigation queries; every other one is approved, so that
  // the ageing has submitted loans of every age from January to November to count.
  const std::string year = host::CurrentYearText();
  if (!dir.Store().IsServer()) {
    GenerateOnSqlite(dir, year, vouchers);
    return dir;
  }
  // On a database server the statements go through the data layer: numbers 1..N from digit
  // tables joined.
  db::Connection cn;
  cn.Open(dir.ConnectionString("001", year));
  cn.SetCommandTimeout(600);
  cn.BeginTrans();
  cn.Execute(
      "insert into EC_LoanVouch (strTypeCode, strVouchID, dtLoanDate, strDepartID, strLoanID, "
      "strBill, fltRate, dblMoney, dblOldMoney, strUsed, strPersonID, blnAudi, blnBegin, "
      "blnSettle, strAuditorID) select '301', 'GEN' + right('0000000' + cast(i as varchar(10)), "
      "8), "
      "'" +
      year +
      "-' + right('0' + cast(1 + i % 11 as varchar(2)), 2) + '-' + right('0' + cast(1 + i % 28 "
      "as varchar(2)), 2), '0201', '0002', N'人民币', 1, 100 + i % 900, 100 + i % 900, "
      "'generated', 'Demo Admin', i % 2, 0, 0, case when i % 2 = 1 then 'Demo Admin' end from " +
      Numbers(vouchers));
  cn.Execute(
      "insert into EC_LoanVouch_Sub (MGuid, strBalanceID, dblMoney) select GUID, '1', dblMoney "
      "from EC_LoanVouch where strVouchID like 'GEN%'");
  cn.CommitTrans();
  cn.Execute("update statistics EC_LoanVouch");
  cn.Execute("update statistics EC_LoanVouch_Sub");
  return dir;
}

host::DataDir MakeLedgerDataDirectory(const std::filesystem::path& root, int64_t claims) {
  std::filesystem::path path = root / ("claims-" + std::to_string(claims));
  std::filesystem::create_directories(path);
  host::DataDir dir(path.string());
  host::InitOptions options;
  options.demo = true;
  options.force = true;
  host::InitDataDirectory(dir, options);

  // Approved expenditure claims of the demo operator: two rows and a cash payment line each.
  const std::string year = host::CurrentYearText();
  db::Connection cn;
  cn.Open(dir.ConnectionString("001", year));
  cn.SetCommandTimeout(600);
  cn.BeginTrans();
  cn.Execute(
      "insert into EC_ExpenVouch (strTypeCode, strVouchID, dtLoanDate, strDepartID, strLoanID, "
      "strBill, fltRate, dblMoney, dblOldMoney, strUsed, strPersonID, blnAudi, strAuditorID, "
      "strVerifier, blnSettle) select '201', 'LG' + right('0000000' + cast(i as varchar(10)), 8), "
      "'" +
      year +
      "-03-' + right('0' + cast(1 + i % 28 as varchar(2)), 2), '0201', '0002', N'人民币', 1, "
      "300, 300, 'generated', 'Demo Admin', 1, 'Anna Approver', 'Demo Admin', 1 from " +
      Numbers(claims));
  cn.Execute(
      "insert into EC_ExpenVouch_Sub (MGuid, strIOItem, dblMoney, dblOldMoney, dblNumber) select "
      "GUID, '20101', 200, 200, 1 from EC_ExpenVouch where strVouchID like 'LG%' union all "
      "select GUID, '203', 100, 100, 1 from EC_ExpenVouch where strVouchID like 'LG%'");
  cn.Execute(
      "insert into EC_BalanceInfo (ExpenGUID, intIOType, strBalanceID, dblMoney) select GUID, 2, "
      "'1', 300 from EC_ExpenVouch where strVouchID like 'LG%'");
  cn.CommitTrans();
  cn.Execute("update statistics EC_ExpenVouch");
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
