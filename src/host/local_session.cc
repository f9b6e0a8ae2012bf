#include "host/local_session.h"

#include <unistd.h>

#include <algorithm>

#include "db/connection.h"
#include "db/text.h"
#include "db/transaction.h"
#include "host/errors.h"
#include "host/login_guard.h"
#include "host/messages.h"
#include "host/passwords.h"
#include "host/tasks.h"

namespace rembiz::host {
namespace {

[[noreturn]] void Refuse(const std::string& text) {
  throw ComError(static_cast<int32_t>(0x80004005), text, "Rembiz.Login");
}

// A task row older than this belongs to a request that ended without releasing it (its process
// stopped); no request runs that long.
constexpr int kStaleTaskMinutes = 15;

// The holder of the tasks of sessions outside the service: this process.
std::string ProcessHolder() {
  char name[64] = {0};
  gethostname(name, sizeof name - 1);
  return "process:" + std::string(name) + ":" + std::to_string(getpid());
}

}  // namespace

std::unique_ptr<LocalSession> LocalSession::Login(const DataDir& dir, const SessionRequest& request,
                                                  std::string_view password) {
  LoginGuard guard(dir.SystemConnectionString());
  if (int wait = guard.WaitSeconds(request.user, request.client)) {
    Refuse(MessageText("Rembiz.Host.LoginLocked", request.language, std::to_string(wait)));
  }
  db::Connection cn;
  cn.Open(dir.SystemConnectionString());
  db::Recordset rs =
      cn.Execute("select cPassword from UA_User where cUser_Id = " + db::SqlText(request.user) +
                 " and bDisabled = 0");
  // One refusal text, and the same hashing work, for an unknown user and a wrong password.
  bool known = !rs.Eof();
  if (!known) SpendPasswordCheck(password);
  if (!known || !VerifyPassword(password, rs.Text("cPassword"))) {
    guard.Failed(request.user, request.client);
    Refuse(MessageText("Rembiz.Host.LoginRefused", request.language));
  }
  guard.Succeeded(request.user);
  return Open(dir, request);
}

std::unique_ptr<LocalSession> LocalSession::Open(const DataDir& dir,
                                                 const SessionRequest& request) {
  std::unique_ptr<LocalSession> s(new LocalSession());
  s->account_ = request.account;
  s->year_ = request.year.empty() ? CurrentYearText() : request.year;
  s->language_ = request.language.empty() ? "zh-CN" : request.language;
  s->client_ = request.client;
  s->system_connection_ = dir.SystemConnectionString();
  if (s->year_.size() != 4 || !std::all_of(s->year_.begin(), s->year_.end(), ::isdigit)) {
    Refuse("The fiscal year '" + s->year_ + "' is not a year.");
  }

  db::Connection cn;
  cn.Open(dir.SystemConnectionString());
  db::Recordset user =
      cn.Execute("select cUser_Id, cUser_Name, bAdmin from UA_User where cUser_Id = " +
                 db::SqlText(request.user) + " and bDisabled = 0");
  if (user.Eof()) Refuse("The operator '" + request.user + "' does not exist.");
  // User codes compare without regard to case; the session carries the code as stored, so that
  // rights, tasks and flows see one user however the name was typed.
  s->user_id_ = user.Text("cUser_Id");
  s->user_name_ = user.Text("cUser_Name");
  s->admin_ = user.Value("bAdmin").ToBool();

  db::Recordset account = cn.Execute(
      "select a.cAcc_Name, a.bGroup from UA_Account a inner join UA_AccountYear y on "
      "y.cAcc_Id = a.cAcc_Id where a.cAcc_Id = " +
      db::SqlText(s->account_) + " and y.iYear = " + s->year_);
  if (account.Eof()) {
    Refuse("The account '" + s->account_ + "' has no year " + s->year_ + ".");
  }
  s->account_name_ = account.Text("cAcc_Name");
  s->group_ = account.Value("bGroup").ToBool();

  db::Recordset rights = cn.Execute(
      "select h.cAuth_Id from UA_HoldAuth h where h.cAcc_Id = " + db::SqlText(s->account_) +
      " and h.iYear = " + s->year_ +
      " and ((h.iIsUser = 1 and h.cUser_Id = " + db::SqlText(s->user_id_) +
      ") or (h.iIsUser = 0 and h.cUser_Id in (select cGroup_Id from "
      "UA_Role where cUser_Id = " +
      db::SqlText(s->user_id_) + ")))");
  for (rights.MoveFirst(); !rights.Eof(); rights.MoveNext()) {
    s->rights_.insert(rights.Text("cAuth_Id"));
  }
  if (s->rights_.count("ADMIN")) s->admin_ = true;
  if (!s->admin_ && s->rights_.empty()) {
    Refuse("The operator '" + s->user_id_ + "' holds no right in account " + s->account_ +
           ", year " + s->year_ + ".");
  }

  db::Recordset exclusions = cn.Execute("select cAuth_Id, cExclusive_Id from UA_TaskExclusion");
  for (exclusions.MoveFirst(); !exclusions.Eof(); exclusions.MoveNext()) {
    s->exclusions_.emplace_back(exclusions.Text("cAuth_Id"), exclusions.Text("cExclusive_Id"));
  }

  // The business date stays inside the fiscal year.
  std::string today = request.login_date.empty() ? TodayText() : request.login_date;
  if (today.substr(0, 4) < s->year_) today = s->year_ + "-01-01";
  if (today.substr(0, 4) > s->year_) today = s->year_ + "-12-31";
  s->login_date_ = today;
  db::Recordset period =
      cn.Execute("select iId from UA_Period where cAcc_Id = " + db::SqlText(s->account_) +
                 " and iYear = " + s->year_ +
                 " and convert(varchar(10), dBegin, 120) <= " + db::SqlText(today) +
                 " and convert(varchar(10), dEnd, 120) >= " + db::SqlText(today));
  s->period_ = period.Eof() ? 1 : static_cast<int>(period.Value("iId").ToInt());

  s->connection_string_ = dir.ConnectionString(s->account_, s->year_);
  s->read_connection_ = dir.ReadConnectionString(s->account_, s->year_);
  return s;
}

bool LocalSession::UserStillEnabled() const {
  db::Connection cn;
  cn.Open(system_connection_);
  return !cn.Execute("select 1 from UA_User where cUser_Id = " + db::SqlText(user_id_) +
                     " and bDisabled = 0")
              .Eof();
}

std::string LocalSession::MachineName() const {
  char name[256] = {0};
  if (gethostname(name, sizeof name - 1) != 0) return "localhost";
  return name;
}

bool LocalSession::HoldsRight(std::string_view task_code) const {
  if (admin_) return true;
  // A right on a branch ("EC02") covers every task below it ("EC020101").
  for (const std::string& right : rights_) {
    if (task_code.substr(0, right.size()) == right) return true;
  }
  return false;
}

// Function tasks that exclude others (UA_TaskExclusion, as the session read it when it was
// opened) are rows of UA_Task while they run, so that every process on the database sees them.
// An application and the check of its counterparts happen in one transaction that first locks
// the task's exclusion rows: two applications for a pair are decided one after the other. Tasks
// that exclude nothing cannot conflict and are not recorded.
bool LocalSession::TaskExec(const std::string& task_code, int mode, int year) {
  if (mode == 0) {
    auto held = std::find(held_tasks_.begin(), held_tasks_.end(), task_code);
    if (held != held_tasks_.end()) held_tasks_.erase(held);
    auto recorded = std::find(recorded_tasks_.begin(), recorded_tasks_.end(), task_code);
    if (recorded == recorded_tasks_.end()) return true;
    recorded_tasks_.erase(recorded);
    db::Connection cn;
    cn.Open(system_connection_);
    cn.Execute("delete from UA_Task where AutoID = (select min(AutoID) from UA_Task where " +
               TaskWhere(year) + " and cAuth_Id = " + db::SqlText(task_code) + " and cUser_Id = " +
               db::SqlText(user_id_) + " and cSession = " + db::SqlText(TaskHolder()) + ")");
    return true;
  }
  if (!HoldsRight(task_code)) {
    last_error_ = MessageText("Rembiz.Host.NoRight", language_, user_id_, task_code);
    return false;
  }
  std::string others;
  for (const auto& [a, b] : exclusions_) {
    if (a == task_code) others += (others.empty() ? "" : ", ") + db::SqlText(b);
    if (b == task_code) others += (others.empty() ? "" : ", ") + db::SqlText(a);
  }
  if (!others.empty()) {
    const std::string code = db::SqlText(task_code);
    const std::string where = TaskWhere(year);
    db::Connection cn;
    cn.Open(system_connection_);
    db::Transaction transaction(cn);
    cn.Execute("update UA_TaskExclusion set cAuth_Id = cAuth_Id where cAuth_Id = " + code +
               " or cExclusive_Id = " + code);
    cn.Execute("delete from UA_Task where " + where + " and dStartTime < dateadd(minute, -" +
               std::to_string(kStaleTaskMinutes) + ", getdate())");
    db::Recordset running =
        cn.Execute("select cAuth_Id, cUser_Id from UA_Task where " + where + " and cAuth_Id in (" +
                   others + ") and cUser_Id <> " + db::SqlText(user_id_));
    if (!running.Eof()) {
      last_error_ = MessageText("Rembiz.Host.TaskInUse", language_, running.Text("cAuth_Id"),
                                running.Text("cUser_Id"));
      return false;
    }
    cn.Execute(
        "insert into UA_Task (cAcc_Id, iYear, cSub_Id, cAuth_Id, cUser_Id, cStation, cSession) "
        "values (" +
        db::SqlText(account_) + ", " + std::to_string(year) + ", " +
        db::SqlText(task_code.substr(0, 2)) + ", " + code + ", " + db::SqlText(user_id_) + ", " +
        db::SqlText(MachineName()) + ", " + db::SqlText(TaskHolder()) + ")");
    transaction.Commit();
    recorded_tasks_.push_back(task_code);
  }
  held_tasks_.push_back(task_code);
  return true;
}

std::string LocalSession::TaskWhere(int year) const {
  return "cAcc_Id = " + db::SqlText(account_) + " and iYear = " + std::to_string(year);
}

std::string LocalSession::TaskHolder() const { return holder_.empty() ? ProcessHolder() : holder_; }

bool LocalSession::QueryState(int code, const std::string& system_id, int year) {
  db::Connection cn;
  cn.Open(system_connection_);
  db::Recordset rs = cn.Execute(LockStateQuery("UA_LockState", account_, year, system_id, code));
  return !rs.Eof() && rs.Value("bFlag").ToBool();
}

}  // namespace rembiz::host
