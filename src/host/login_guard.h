// Password guesses are not free: failed checks are counted per user name and per client, and
// after a few of them further checks are refused, without looking at the password, for a time
// that doubles with every further failure. Log-ins and the log-in information of CPubMsg go
// through the same guard. Unknown user names count like known ones, so the guard tells nothing
// about which users exist.
//
// The counts are rows of UA_LoginFailure in the system database, so that every process on the
// database (several service processes, the command line) shares them: an attacker gains no
// guesses by spreading them over processes.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <string_view>

namespace rembiz::db {
class Connection;
}

namespace rembiz::host {

class LoginGuard {
 public:
  // Wall-clock time: the processes sharing the counts may run on several machines.
  using Clock = std::chrono::system_clock;

  struct Options {
    int free_failures = 5;                       // failures before the first lock
    std::chrono::seconds first_lock{1};          // doubles with each failure after that
    std::chrono::seconds longest_lock{300};      //
    std::chrono::seconds forget_after{15 * 60};  // a quiet key starts afresh
  };

  // The guard of the installation whose system database `system_connection` opens.
  explicit LoginGuard(std::string system_connection);
  // The same with other rules and another clock, for tests.
  LoginGuard(std::string system_connection, Options options,
             std::function<Clock::time_point()> now);

  // Seconds (rounded up) before a password of `user` may be checked for `client` again; 0 when
  // it may be now. `client` is the caller's address, or another name for the caller.
  int WaitSeconds(std::string_view user, std::string_view client) const;
  // Counts a failed check; a new lock is told to the reporter.
  void Failed(std::string_view user, std::string_view client) const;
  // A right password: the user's count starts afresh (the client's does not, or one valid
  // account would clear the way for guesses at others).
  void Succeeded(std::string_view user) const;

  // Where this process reports locks (the service's log); by default nowhere.
  static void SetReporter(std::function<void(const std::string&)> reporter);

 private:
  static std::string UserKey(std::string_view user);
  static std::string ClientKey(std::string_view client);
  // One more failure of `key`, in the caller's transaction; a lock it earns is added to `report`.
  void Fail(db::Connection& cn, const std::string& key, int64_t now, std::string& report) const;
  // Removes some rows nobody failed with for long and that lock nothing, one at a time.
  void ForgetQuiet(db::Connection& cn, int64_t now) const;
  int64_t NowMs() const;

  std::string system_connection_;
  Options options_;
  std::function<Clock::time_point()> now_;
};

}  // namespace rembiz::host
