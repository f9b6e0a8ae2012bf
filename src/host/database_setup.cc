#include "host/database_setup.h"

#include <ctime>

#include "db/connection.h"
#include "db/error.h"
#include "db/text.h"
#include "host/embedded_files.h"
#include "host/passwords.h"
#include "host/schema_versions.h"

namespace rembiz::host {
namespace {

// The demo company's account and its administrator (schema/demo/system).
constexpr std::string_view kDemoAccount = "001";
constexpr std::string_view kDemoAdministrator = "demo";

std::tm LocalNow() {
  std::time_t now = std::time(nullptr);
  std::tm tm{};
  localtime_r(&now, &tm);
  return tm;
}

void RunScripts(db::Connection& cn, std::string_view prefix, std::string_view year) {
  for (const EmbeddedFile& file : EmbeddedFilesUnder(prefix)) {
    if (!file.path.ends_with(".sql")) continue;
    std::string script = ExpandPlaceholders(file.content, year);
    try {
      cn.Execute(script);
    } catch (const ComError& e) {
      throw ComError(e.Number(), std::string(file.path) + ": " + e.Description(), e.Source());
    }
  }
}

[[noreturn]] void RefuseSetup(const std::string& text) {
  throw ComError(static_cast<int32_t>(0x80004005), text, "Rembiz.Setup");
}

// The twelve calendar-month periods of an account's year; February ends right in leap years.
std::string PeriodsSql(std::string_view account, std::string_view year) {
  std::string first = db::SqlText(std::string(year) + "-01-01");
  std::string months = "SELECT 1 AS i";
  for (int i = 2; i <= 12; ++i) months += " UNION ALL SELECT " + std::to_string(i);
  return "INSERT INTO UA_Period (cAcc_Id, iYear, iId, dBegin, dEnd, bIsDelete) SELECT " +
         db::SqlText(account) + ", " + std::string(year) + ", m.i, dateadd(month, m.i - 1, " +
         first + "), dateadd(day, -1, dateadd(month, m.i, " + first + ")), 0 FROM (" + months +
         ") m";
}

// The system rows of an account year: the account (when it is new), its year with twelve
// calendar-month periods, the write lock (off), and its administrator (made when the system
// database does not know that user yet; an existing user keeps the password it has).
void RegisterAccount(db::Connection& cn, const InitOptions& options, const std::string& year) {
  std::string account = db::SqlText(options.account);
  std::string admin = db::SqlText(options.admin_user);
  std::string name = db::SqlText(options.account_name.empty() ? "Account " + options.account
                                                              : options.account_name);
  if (cn.Execute("SELECT 1 FROM UA_Account WHERE cAcc_Id = " + account).Eof()) {
    cn.Execute(
        "INSERT INTO UA_Account (cAcc_Id, cAcc_Name, iYear, iMonth, cAcc_Master, bGroup, "
        "ccurcode, ccurname) VALUES (" +
        account + ", " + name + ", " + year + ", 1, " + admin + ", 0, 'RMB', N'人民币')");
  }
  cn.Execute("INSERT INTO UA_AccountYear (cAcc_Id, iYear, bClosed) VALUES (" + account + ", " +
             year + ", 0);\n" + PeriodsSql(options.account, year) + ";\n" +
             "INSERT INTO UA_LockState (cAcc_Id, iYear, cSub_Id, iCode, bFlag) VALUES (" + account +
             ", " + year + ", 'EC', 204, 0)");
  if (cn.Execute("SELECT 1 FROM UA_User WHERE cUser_Id = " + admin).Eof()) {
    cn.Execute("INSERT INTO UA_User (cUser_Id, cUser_Name, cPassword, bAdmin, cLocaleId) VALUES (" +
               admin + ", " + db::SqlText(options.admin_name) + ", " +
               db::SqlText(HashPassword(options.admin_password)) + ", 1, 'zh-CN')");
  }
  cn.Execute("INSERT INTO UA_HoldAuth (cAcc_Id, iYear, cUser_Id, iIsUser, cAuth_Id) VALUES (" +
             account + ", " + year + ", " + admin + ", 1, 'ADMIN')");
}

// A further demo account: registered like an empty company's, and the demo's operators hold in
// it the rights they hold in the demo account of that year.
void RegisterDemoAccount(db::Connection& cn, InitOptions options, const std::string& year) {
  options.admin_user = kDemoAdministrator;
  if (options.account_name.empty()) options.account_name = "Demo " + options.account;
  RegisterAccount(cn, options, year);
  cn.Execute("INSERT INTO UA_HoldAuth (cAcc_Id, iYear, cUser_Id, iIsUser, cAuth_Id) SELECT " +
             db::SqlText(options.account) +
             ", iYear, cUser_Id, iIsUser, cAuth_Id FROM UA_HoldAuth h "
             "WHERE cAcc_Id = " +
             db::SqlText(kDemoAccount) + " AND iYear = " + year + " AND NOT (cUser_Id = " +
             db::SqlText(kDemoAdministrator) + " AND cAuth_Id = 'ADMIN')");
}

// Whether an administrator must be made, so a password is needed.
bool AdministratorIsNew(const DataDir& dir, const std::string& user) {
  db::Connection cn;
  cn.Open(dir.SystemConnectionString());
  return cn.Execute("SELECT 1 FROM UA_User WHERE cUser_Id = " + db::SqlText(user)).Eof();
}

}  // namespace

DataDir::DataDir(std::string_view location) : store_(location) {}

std::string DataDir::AccountDatabase(std::string_view account, std::string_view year) {
  return "account_" + std::string(account) + "_" + std::string(year);
}

std::string DataDir::ConnectionString(std::string_view account, std::string_view year) const {
  return store_.ConnectionString(AccountDatabase(account, year));
}

void DataDir::SetReadReplica(std::string_view url) {
  db::Store replica(url);
  // A folder of SQLite files has no replicas: one process writes them where it runs.
  if (!store_.IsServer() || !replica.IsServer()) {
    throw ComError(db::kErrInvalidRequest,
                   "A read replica is a PostgreSQL standby of a PostgreSQL location ('" +
                       replica.Describe() + "' for '" + store_.Describe() + "').");
  }
  read_store_.emplace(std::move(replica));
}

std::string DataDir::ReadConnectionString(std::string_view account, std::string_view year) const {
  return read_store_ ? read_store_->ConnectionString(AccountDatabase(account, year)) : "";
}

std::string TodayText() {
  std::tm tm = LocalNow();
  char buf[16];
  std::strftime(buf, sizeof buf, "%Y-%m-%d", &tm);
  return buf;
}

std::string CurrentYearText() { return std::to_string(LocalNow().tm_year + 1900); }

std::string ExpandPlaceholders(std::string_view script, std::string_view year) {
  std::string out;
  out.reserve(script.size());
  size_t pos = 0;
  while (pos < script.size()) {
    size_t open = script.find("{{", pos);
    if (open == std::string_view::npos) break;
    size_t close = script.find("}}", open);
    if (close == std::string_view::npos) break;
    out.append(script.substr(pos, open - pos));
    std::string_view name = script.substr(open + 2, close - open - 2);
    if (name == "YEAR") {
      out.append(year);
    } else if (name == "TODAY") {
      out.append(TodayText());
    } else if (name.rfind("PERIODS:", 0) == 0) {
      out.append(PeriodsSql(name.substr(8), year));
    } else if (name.rfind("PWHASH:", 0) == 0) {
      out.append(HashPassword(name.substr(7)));
    } else {
      out.append(script.substr(open, close + 2 - open));
    }
    pos = close + 2;
  }
  out.append(script.substr(pos));
  return out;
}

bool NeedsAdministratorPassword(const DataDir& dir, const InitOptions& options) {
  if (options.demo) return false;
  if (options.force || !dir.HasSystemDatabase()) return true;
  return AdministratorIsNew(dir, options.admin_user);
}

void InitDataDirectory(const DataDir& dir, const InitOptions& options) {
  std::string year = options.year.empty() ? CurrentYearText() : options.year;
  if (year.size() != 4 || year.find_first_not_of("0123456789") != std::string::npos) {
    RefuseSetup("The fiscal year '" + year + "' is not a year.");
  }
  if (options.account.empty() || options.account.size() > 3 ||
      options.account.find_first_not_of("0123456789") != std::string::npos) {
    RefuseSetup("The account code '" + options.account + "' is not one to three digits.");
  }
  if (!options.demo) {
    if (options.admin_user.empty() || options.admin_user.size() > 20 ||
        options.admin_name.empty()) {
      RefuseSetup("The administrator's id (up to 20 characters) and name are required.");
    }
    if (options.admin_password.empty() && NeedsAdministratorPassword(dir, options)) {
      RefuseSetup("A company without the demo data needs a password for its administrator.");
    }
  }
  const db::Store& store = dir.Store();
  const std::string account = DataDir::AccountDatabase(options.account, year);
  const bool has_system = store.Exists(db::kSystemDatabase);
  // Without --force an installation only grows: a new account (or a new year of one) joins the
  // system database beside the accounts already there, which stay as they are.
  const bool adding = has_system && !options.force;
  if (adding && store.Exists(account)) {
    RefuseSetup("The account " + options.account + " of " + year + " already exists in " +
                dir.Describe() + "; use --force to replace the data location's databases.");
  }
  if (!has_system && !options.force && !store.IsEmpty()) {
    RefuseSetup(dir.Describe() +
                " is not a data location: it holds other files but no system database. Give a "
                "new or empty folder, or use --force to make one here.");
  }
  if (!adding && options.demo && options.account != kDemoAccount) {
    RefuseSetup("The demo company is account " + std::string(kDemoAccount) +
                "; make it first, then add account " + options.account + " beside it.");
  }
  if (adding && options.demo) {
    db::Connection cn;
    cn.Open(store.SystemConnectionString());
    if (cn.Execute("SELECT 1 FROM UA_AccountYear WHERE cAcc_Id = " + db::SqlText(kDemoAccount) +
                   " AND iYear = " + year)
            .Eof()) {
      RefuseSetup("A further demo account needs the demo company of " + year + " in " +
                  dir.Describe() + ".");
    }
  }
  store.Prepare();
  db::ClearConnectionPool();
  store.Drop(account);
  if (!adding) store.Drop(db::kSystemDatabase);

  if (!adding) {
    db::Connection cn;
    cn.Open(store.SystemConnectionString(), db::Connection::OpenMode::kCreate);
    cn.BeginTrans();
    ApplySchemaVersions(cn, SchemaKind::kSystem, 0, year);
    cn.CommitTrans();
  }
  try {
    {
      db::Connection cn;
      cn.Open(dir.ConnectionString(options.account, year), db::Connection::OpenMode::kCreate);
      cn.BeginTrans();
      ApplySchemaVersions(cn, SchemaKind::kAccount, 0, year);
      RunScripts(cn, options.demo ? "schema/demo/account/" : "schema/company/account/", year);
      cn.CommitTrans();
    }
    // The account is registered last, so that a failure above leaves the system database as
    // it was.
    db::Connection cn;
    cn.Open(store.SystemConnectionString());
    cn.BeginTrans();
    if (!options.demo) {
      RegisterAccount(cn, options, year);
    } else if (adding) {
      RegisterDemoAccount(cn, options, year);
    } else {
      RunScripts(cn, "schema/demo/system/", year);
    }
    cn.CommitTrans();
  } catch (...) {
    db::ClearConnectionPool();
    store.Drop(account);
    if (!adding) store.Drop(db::kSystemDatabase);
    throw;
  }
  PrepareFreeQueries(dir, dir.ConnectionString(options.account, year));
  db::ClearConnectionPool();
}

void PrepareFreeQueries(const DataDir& dir, const std::string& connection_string) {
  if (!dir.Store().IsServer()) return;
  // On a database server free queries run as the database's reader role, which the first one
  // makes. Made now, so that a standby copied from the database serves them from the start; a
  // user who may not make roles is refused here as at the first free query, and init goes on.
  try {
    db::Connection cn;
    cn.Open(connection_string);
    cn.ExecuteReadOnly("select 1 as ready");
  } catch (const ComError&) {
  }
}

}  // namespace rembiz::host
