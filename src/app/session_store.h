// The logged-in sessions of the HTTP service: a random token per login, kept only as its
// SHA-256 hash. With a data location the sessions are rows of its system database
// (host::SessionRecords), shared by every service process on that database; this process keeps
// only the session objects it built. Without one they live in this process alone. Sessions
// idle longer than the limit are gone.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "host/local_session.h"
#include "host/session_records.h"

namespace rembiz::app {

class SessionStore {
 public:
  using Clock = std::chrono::steady_clock;

  // Sessions of this process only; `now` is the clock of their idle time.
  explicit SessionStore(std::chrono::minutes idle_limit,
                        std::function<Clock::time_point()> now = &Clock::now);
  // Sessions shared through the system database of `dir`, which must outlive the store.
  SessionStore(std::chrono::minutes idle_limit, const host::DataDir& dir);

  // Keeps the session and returns its new token (64 hex digits). The token itself is not kept.
  // `station`: where the login came from. Throws ComError when the database refuses the row.
  std::string Add(std::shared_ptr<const host::LocalSession> session,
                  const std::string& station = "");
  // A private copy of the token's session for one request, so that concurrent requests of one
  // login never share the task bookkeeping; null when the token is unknown, idle too long, or
  // its operator was disabled or removed since - that session ends here, at its next request,
  // and `disabled_user` (when given) names the operator. Counts as a use. One query of the
  // system database.
  std::unique_ptr<host::LocalSession> Checkout(std::string_view token,
                                               std::string* disabled_user = nullptr);
  // The session without copying it (nor counting a use, for sessions of this process alone);
  // null like Checkout.
  std::shared_ptr<const host::LocalSession> Find(std::string_view token,
                                                 std::string* disabled_user = nullptr);
  // Ends the session; false when the token was not (or no longer) valid.
  bool Remove(std::string_view token);
  // Drops the sessions idle longer than the limit and returns their token hashes.
  std::vector<std::string> Sweep();
  // The sessions alive (of every process, when shared).
  size_t Size() const;

  // The hash a token is kept under (hex); "" for text that cannot be a token.
  static std::string HashToken(std::string_view token);
  static bool LooksLikeToken(std::string_view token);

 private:
  struct Entry {
    std::shared_ptr<const host::LocalSession> session;
    Clock::time_point last_use;
  };
  // The live entry of the token, or nullptr; the caller holds the mutex.
  Entry* LiveEntry(std::string_view token);
  // Shared sessions: the session of the token's row, built again when this process has not
  // seen it yet; null when no live row is there or its operator may no longer work.
  std::shared_ptr<const host::LocalSession> SharedSession(std::string_view token,
                                                          std::string* disabled_user);
  // Sessions of this process: the live session of the token whose operator may still work.
  std::shared_ptr<const host::LocalSession> OwnSession(std::string_view token, bool use,
                                                       std::string* disabled_user);

  const std::chrono::minutes idle_limit_;
  const std::function<Clock::time_point()> now_;
  const host::DataDir* dir_ = nullptr;
  std::unique_ptr<host::SessionRecords> records_;
  mutable std::mutex mutex_;
  std::map<std::string, Entry, std::less<>> sessions_;  // token hash -> entry
};

}  // namespace rembiz::app
