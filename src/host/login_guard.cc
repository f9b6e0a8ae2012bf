#include "host/login_guard.h"

#include <algorithm>
#include <mutex>

#include "db/connection.h"
#include "db/error.h"
#include "db/no_destructor.h"
#include "db/text.h"
#include "db/transaction.h"
#include "host/passwords.h"

namespace rembiz::host {
namespace {

// Quiet rows removed at most per failed check: enough to keep up with a flood of names, few
// enough that a failed check stays cheap.
constexpr int kForgetPerFailure = 20;
// Counts stop growing here; the lock is the longest long before.
constexpr int64_t kMostFailures = 1'000'000;

struct ReporterSlot {
  std::mutex mutex;
  std::function<void(const std::string&)> reporter;
};

ReporterSlot& TheReporter() {
  static db::NoDestructor<ReporterSlot> slot;  // used by detached workers
  return *slot;
}

int64_t Milliseconds(std::chrono::seconds seconds) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(seconds).count();
}

std::string Where(const std::string& key) { return " where cKey = " + db::SqlText(Sha256Hex(key)); }

}  // namespace

LoginGuard::LoginGuard(std::string system_connection)
    : LoginGuard(std::move(system_connection), Options(), &Clock::now) {}

LoginGuard::LoginGuard(std::string system_connection, Options options,
                       std::function<Clock::time_point()> now)
    : system_connection_(std::move(system_connection)), options_(options), now_(std::move(now)) {}

std::string LoginGuard::UserKey(std::string_view user) {
  return "user " + db::Lower(db::Trim(user));
}

std::string LoginGuard::ClientKey(std::string_view client) {
  return "client " + std::string(client);
}

int64_t LoginGuard::NowMs() const {
  return std::chrono::duration_cast<std::chrono::milliseconds>(now_().time_since_epoch()).count();
}

int LoginGuard::WaitSeconds(std::string_view user, std::string_view client) const {
  int64_t now = NowMs();
  db::Connection cn;
  cn.Open(system_connection_);
  db::Recordset rs =
      cn.Execute("select max(iLockedUntil) as locked from UA_LoginFailure where cKey in (" +
                 db::SqlText(Sha256Hex(UserKey(user))) + ", " +
                 db::SqlText(Sha256Hex(ClientKey(client))) + ")");
  int64_t wait = rs.Value("locked").ToInt() - now;
  if (wait <= 0) return 0;
  return static_cast<int>(std::max<int64_t>((wait + 999) / 1000, 1));
}

void LoginGuard::Fail(db::Connection& cn, const std::string& key, int64_t now,
                      std::string& report) const {
  const std::string where = Where(key);
  // The row is locked before it is read, so that counts of two processes add up.
  int64_t affected = 0;
  cn.Execute("update UA_LoginFailure set iFailures = iFailures" + where, &affected);
  if (affected == 0) {
    // The key's first failure. On a database server another process may make the row at the
    // same moment: then this insert waits for it and fails, and the count goes on from its row.
    db::Savepoint before(cn);
    try {
      cn.Execute("insert into UA_LoginFailure (cKey) values (" + db::SqlText(Sha256Hex(key)) + ")");
      before.Release();
    } catch (const db::DbError& e) {
      if (e.Number() != db::kErrConstraint) throw;
      before.Rollback();
      cn.Execute("update UA_LoginFailure set iFailures = iFailures" + where);
    }
  }
  db::Recordset rs =
      cn.Execute("select iFailures, iLastFailure, iLockedUntil from UA_LoginFailure" + where);
  int64_t failures = rs.Value("iFailures").ToInt();
  int64_t locked_until = rs.Value("iLockedUntil").ToInt();
  if (failures > 0 &&
      now - rs.Value("iLastFailure").ToInt() > Milliseconds(options_.forget_after)) {
    failures = 0;
    locked_until = 0;
  }
  failures = std::min(failures + 1, kMostFailures);
  int64_t over = failures - options_.free_failures;
  if (over > 0) {
    // 1 s, 2 s, 4 s … up to the longest lock.
    auto lock = options_.first_lock * (int64_t{1} << std::min<int64_t>(over - 1, 20));
    lock = std::min<std::chrono::seconds>(lock, options_.longest_lock);
    locked_until = now + Milliseconds(lock);
    report += (report.empty() ? "" : "; ") + key + " locked for " + std::to_string(lock.count()) +
              " s after " + std::to_string(failures) + " failed password checks";
  }
  cn.Execute("update UA_LoginFailure set iFailures = " + std::to_string(failures) +
             ", iLastFailure = " + std::to_string(now) +
             ", iLockedUntil = " + std::to_string(locked_until) + where);
}

void LoginGuard::ForgetQuiet(db::Connection& cn, int64_t now) const {
  const std::string quiet = "iLastFailure < " +
                            std::to_string(now - Milliseconds(options_.forget_after)) +
                            " and iLockedUntil <= " + std::to_string(now);
  db::Recordset rs = cn.Execute("select top " + std::to_string(kForgetPerFailure) +
                                " cKey from UA_LoginFailure where " + quiet);
  // One row per statement: a statement that held one row while it waited for another could
  // wait in a circle with a count under way.
  for (; !rs.Eof(); rs.MoveNext()) {
    cn.Execute("delete from UA_LoginFailure where cKey = " + db::SqlText(rs.Text("cKey")) +
               " and " + quiet);
  }
}

void LoginGuard::Failed(std::string_view user, std::string_view client) const {
  int64_t now = NowMs();
  db::Connection cn;
  cn.Open(system_connection_);
  ForgetQuiet(cn, now);
  std::string report;
  {
    // The user's row before the client's, in every process: two counts under way never wait
    // for each other in a circle.
    db::Transaction transaction(cn);
    Fail(cn, UserKey(user), now, report);
    Fail(cn, ClientKey(client), now, report);
    transaction.Commit();
  }
  if (report.empty()) return;
  std::function<void(const std::string&)> reporter;
  {
    std::lock_guard lock(TheReporter().mutex);
    reporter = TheReporter().reporter;
  }
  if (reporter) reporter(report);
}

void LoginGuard::Succeeded(std::string_view user) const {
  db::Connection cn;
  cn.Open(system_connection_);
  cn.Execute("delete from UA_LoginFailure" + Where(UserKey(user)));
}

void LoginGuard::SetReporter(std::function<void(const std::string&)> reporter) {
  std::lock_guard lock(TheReporter().mutex);
  TheReporter().reporter = std::move(reporter);
}

}  // namespace rembiz::host
