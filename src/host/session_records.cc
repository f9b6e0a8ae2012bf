#include "host/session_records.h"

#include "db/connection.h"
#include "db/text.h"

namespace rembiz::host {
namespace {

// A session's last use is written at most this often; reads answer every request.
constexpr int kTouchSeconds = 60;

// Ends the session of `hash` and the function tasks it held; false when no row was there.
bool RemoveOn(db::Connection& cn, const std::string& hash) {
  int64_t affected = 0;
  cn.Execute("delete from UA_Session where cSession = " + db::SqlText(hash), &affected);
  cn.Execute("delete from UA_Task where cSession = " + db::SqlText(hash));
  return affected > 0;
}

}  // namespace

// (The fiscal year of a session is four digits: LocalSession checked it.)
void SessionRecords::Insert(const std::string& hash, const LocalSession& s,
                            const std::string& station) {
  db::Connection cn;
  cn.Open(dir_.SystemConnectionString());
  cn.Execute(
      "insert into UA_Session (cSession, cUser_Id, cAcc_Id, iYear, cLocaleId, dLoginDate, "
      "cStation) values (" +
      db::SqlText(hash) + ", " + db::SqlText(s.UserId()) + ", " + db::SqlText(s.AccountId()) +
      ", " + s.FiscalYear() + ", " + db::SqlText(s.LanguageId()) + ", " +
      db::SqlText(s.LoginDate()) + ", " + db::SqlText(station) + ")");
}

std::optional<SessionUse> SessionRecords::Use(const std::string& hash,
                                              std::chrono::minutes idle_limit) {
  db::Connection cn;
  cn.Open(dir_.SystemConnectionString());
  db::Recordset rs = cn.Execute(
      "select s.cUser_Id, s.cAcc_Id, s.iYear, s.cLocaleId, s.dLoginDate, datediff(second, "
      "s.dLastSeen, getdate()) as idle, u.cUser_Id as enabled from UA_Session s left join UA_User "
      "u on u.cUser_Id = s.cUser_Id and u.bDisabled = 0 where s.cSession = " +
      db::SqlText(hash));
  if (rs.Eof()) return std::nullopt;
  int64_t idle = rs.Value("idle").ToInt();
  if (idle > idle_limit.count() * 60) {
    RemoveOn(cn, hash);
    return std::nullopt;
  }
  SessionUse use;
  use.request.user = rs.Text("cUser_Id");
  use.request.account = rs.Text("cAcc_Id");
  use.request.year = rs.Text("iYear");
  use.request.language = rs.Text("cLocaleId");
  use.request.login_date = rs.Text("dLoginDate");
  use.user_enabled = !rs.Value("enabled").IsNull();
  if (!use.user_enabled) {
    RemoveOn(cn, hash);
  } else if (idle >= kTouchSeconds) {
    cn.Execute("update UA_Session set dLastSeen = getdate() where cSession = " + db::SqlText(hash));
  }
  return use;
}

bool SessionRecords::Remove(const std::string& hash) {
  db::Connection cn;
  cn.Open(dir_.SystemConnectionString());
  return RemoveOn(cn, hash);
}

std::vector<std::string> SessionRecords::RemoveIdle(std::chrono::minutes idle_limit) {
  db::Connection cn;
  cn.Open(dir_.SystemConnectionString());
  const std::string idle =
      "datediff(second, dLastSeen, getdate()) > " + std::to_string(idle_limit.count() * 60);
  std::vector<std::string> gone;
  db::Recordset rs = cn.Execute("select cSession from UA_Session where " + idle);
  for (; !rs.Eof(); rs.MoveNext()) gone.push_back(rs.Text("cSession"));
  for (const std::string& hash : gone) RemoveOn(cn, hash);
  return gone;
}

int64_t SessionRecords::Count() {
  db::Connection cn;
  cn.Open(dir_.SystemConnectionString());
  return cn.Execute("select count(*) as n from UA_Session").Value("n").ToInt();
}

}  // namespace rembiz::host
