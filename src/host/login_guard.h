// Password guesses are not free: failed checks are counted per user name and per client, and
// after a few of them further checks are refused, without looking at the password, for a time
// that doubles with every further failure. Log-ins and the log-in information of CPubMsg go
// through the same guard. Unknown user names count like known ones, so the guard tells nothing
// about which users exist.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <string_view>

namespace rembiz::host {

class LoginGuard {
 public:
  using Clock = std::chrono::steady_clock;

  struct Options {
    int free_failures = 5;                       // failures before the first lock
    std::chrono::seconds first_lock{1};          // doubles with each failure after that
    std::chrono::seconds longest_lock{300};      //
    std::chrono::seconds forget_after{15 * 60};  // a quiet key starts afresh
  };

  // The guard of this process.
  static LoginGuard& Instance();

  LoginGuard() = default;
  LoginGuard(const LoginGuard&) = delete;
  LoginGuard& operator=(const LoginGuard&) = delete;

  // Seconds (rounded up) before a password of `user` may be checked for `client` again; 0 when
  // it may be now. `client` is the caller's address, or another name for the caller.
  int WaitSeconds(std::string_view user, std::string_view client);
  // Counts a failed check; a new lock is told to the reporter.
  void Failed(std::string_view user, std::string_view client);
  // A right password: the user's count starts afresh (the client's does not, or one valid
  // account would clear the way for guesses at others).
  void Succeeded(std::string_view user);

  // Where locks are reported (the service's log); by default nowhere.
  void SetReporter(std::function<void(const std::string&)> reporter);
  // For tests: other rules, another clock, and nothing remembered.
  void Configure(Options options, std::function<Clock::time_point()> now = &Clock::now);
  void Clear();

 private:
  struct Entry {
    int failures = 0;
    Clock::time_point last_failure;
    Clock::time_point locked_until;
  };
  static std::string UserKey(std::string_view user);
  static std::string ClientKey(std::string_view client);
  void Fail(const std::string& key, Clock::time_point now, std::string& report);
  void Forget(Clock::time_point now);

  std::mutex mutex_;
  Options options_;
  std::function<Clock::time_point()> now_ = &Clock::now;
  std::function<void(const std::string&)> reporter_;
  std::map<std::string, Entry, std::less<>> entries_;
};

}  // namespace rembiz::host
