#include "host/session_records.h"

#include "db/connection.h"
#include "db/text.h"

namespace rembiz::host {
namespace {

// A session's last use is written at most this often; reads answer every request.
constexpr int kTouchSeconds = 60;

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

std::optional<SessionRequest> SessionRecords::Use(const std::string& hash,
                                                  std::chrono::minutes idle_limit) {
  db::Connection cn;
  cn.Open(dir_.SystemConnectionString());
  db::Recordset rs = cn.Execute(
      "select cUser_Id, cAcc_Id, iYear, cLocaleId, dLoginDate, datediff(second, dLastSeen, "
      "getdate()) as idle from UA_Session where cSession = " +
      db::SqlText(hash));
  if (rs.Eof()) return std::nullopt;
  int64_t idle = rs.Value("idle").ToInt();
  if (idle > idle_limit.count() * 60) {
    Remove(hash);
    return std::nullopt;
  }
  if (idle >= kTouchSeconds) {
    cn.Execute("update UA_Session set dLastSeen = getdate() where cSession = " + db::SqlText(hash));
  }
  SessionRequest request;
  request.user = rs.Text("cUser_Id");
  request.account = rs.Text("cAcc_Id");
  request.year = rs.Text("iYear");
  request.language = rs.Text("cLocaleId");
  request.login_date = rs.Text("dLoginDate");
  return request;
}

bool SessionRecords::Remove(const std::string& hash) {
  db::Connection cn;
  cn.Open(dir_.SystemConnectionString());
  int64_t affected = 0;
  cn.Execute("delete from UA_Session where cSession = " + db::SqlText(hash), &affected);
  cn.Execute("delete from UA_Task where cSession = " + db::SqlText(hash));
  return affected > 0;
}

std::vector<std::string> SessionRecords::RemoveIdle(std::chrono::minutes idle_limit) {
  db::Connection cn;
  cn.Open(dir_.SystemConnectionString());
  const std::string idle =
      "datediff(second, dLastSeen, getdate()) > " + std::to_string(idle_limit.count() * 60);
  std::vector<std::string> gone;
  db::Recordset rs = cn.Execute("select cSession from UA_Session where " + idle);
  for (; !rs.Eof(); rs.MoveNext()) gone.push_back(rs.Text("cSession"));
  for (const std::string& hash : gone) Remove(hash);
  return gone;
}

int64_t SessionRecords::Count() {
  db::Connection cn;
  cn.Open(dir_.SystemConnectionString());
  return cn.Execute("select count(*) as n from UA_Session").Value("n").ToInt();
}

}  // namespace rembiz::host
