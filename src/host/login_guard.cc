#include "host/login_guard.h"

#include <algorithm>

#include "db/text.h"

namespace rembiz::host {
namespace {

// Entries kept at most; beyond it the quiet ones go first, then the oldest.
constexpr size_t kMaxEntries = 10'000;

}  // namespace

LoginGuard& LoginGuard::Instance() {
  static LoginGuard* guard = new LoginGuard();  // never destroyed: used by detached workers
  return *guard;
}

std::string LoginGuard::UserKey(std::string_view user) {
  return "user " + db::Lower(db::Trim(user));
}

std::string LoginGuard::ClientKey(std::string_view client) {
  return "client " + std::string(client);
}

int LoginGuard::WaitSeconds(std::string_view user, std::string_view client) {
  std::lock_guard lock(mutex_);
  Clock::time_point now = now_();
  Clock::duration wait{};
  for (const std::string& key : {UserKey(user), ClientKey(client)}) {
    auto it = entries_.find(key);
    if (it != entries_.end() && it->second.locked_until > now) {
      wait = std::max(wait, it->second.locked_until - now);
    }
  }
  if (wait <= Clock::duration::zero()) return 0;
  auto seconds = std::chrono::ceil<std::chrono::seconds>(wait).count();
  return static_cast<int>(std::max<decltype(seconds)>(seconds, 1));
}

void LoginGuard::Fail(const std::string& key, Clock::time_point now, std::string& report) {
  Entry& entry = entries_[key];
  if (entry.failures > 0 && now - entry.last_failure > options_.forget_after) entry = Entry{};
  ++entry.failures;
  entry.last_failure = now;
  int over = entry.failures - options_.free_failures;
  if (over <= 0) return;
  // 1 s, 2 s, 4 s … up to the longest lock.
  auto lock = options_.first_lock * (int64_t{1} << std::min(over - 1, 20));
  lock = std::min<std::chrono::seconds>(lock, options_.longest_lock);
  entry.locked_until = now + lock;
  report += (report.empty() ? "" : "; ") + key + " locked for " + std::to_string(lock.count()) +
            " s after " + std::to_string(entry.failures) + " failed password checks";
}

void LoginGuard::Failed(std::string_view user, std::string_view client) {
  std::string report;
  std::function<void(const std::string&)> reporter;
  {
    std::lock_guard lock(mutex_);
    Clock::time_point now = now_();
    if (entries_.size() >= kMaxEntries) Forget(now);
    Fail(UserKey(user), now, report);
    Fail(ClientKey(client), now, report);
    reporter = reporter_;
  }
  if (!report.empty() && reporter) reporter(report);
}

void LoginGuard::Succeeded(std::string_view user) {
  std::lock_guard lock(mutex_);
  entries_.erase(UserKey(user));
}

void LoginGuard::Forget(Clock::time_point now) {
  for (auto it = entries_.begin(); it != entries_.end();) {
    bool quiet =
        now - it->second.last_failure > options_.forget_after && it->second.locked_until <= now;
    it = quiet ? entries_.erase(it) : std::next(it);
  }
  // Still full: a flood of names. The oldest failures go; locks in force stay when they can.
  while (entries_.size() >= kMaxEntries) {
    auto oldest = std::min_element(entries_.begin(), entries_.end(), [](auto& a, auto& b) {
      return a.second.last_failure < b.second.last_failure;
    });
    entries_.erase(oldest);
  }
}

void LoginGuard::SetReporter(std::function<void(const std::string&)> reporter) {
  std::lock_guard lock(mutex_);
  reporter_ = std::move(reporter);
}

void LoginGuard::Configure(Options options, std::function<Clock::time_point()> now) {
  std::lock_guard lock(mutex_);
  options_ = options;
  now_ = std::move(now);
  entries_.clear();
}

void LoginGuard::Clear() {
  std::lock_guard lock(mutex_);
  entries_.clear();
}

}  // namespace rembiz::host
