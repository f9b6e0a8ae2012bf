// Sessions of the HTTP service as rows of UA_Session in the system database, so that every
// service process on one database knows every session: a token made by one process is valid on
// all of them, and a logout through one ends the session on all. A row holds the hash of its
// token, never the token, and the time of the session's last use by the database's clock.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "host/database_setup.h"
#include "host/local_session.h"

namespace rembiz::host {

// What a request learns of its session from the system database.
struct SessionUse {
  SessionRequest request;    // opens the session again as it was at its login
  bool user_enabled = true;  // false: its operator is disabled or removed, the session ended
};

class SessionRecords {
 public:
  explicit SessionRecords(const DataDir& dir) : dir_(dir) {}

  // Keeps the session under the hash of its token; throws ComError when the database refuses.
  void Insert(const std::string& hash, const LocalSession& session, const std::string& station);
  // The session of `hash`, its last use now, and whether its operator may still work, in one
  // query: a request pays for one look at the system database. Nullopt when no process knows
  // the session or it was idle longer than `idle_limit`; then, as when the operator was
  // disabled, the session and its tasks are removed.
  std::optional<SessionUse> Use(const std::string& hash, std::chrono::minutes idle_limit);
  // Ends the session and the function tasks it held; false when no row was there.
  bool Remove(const std::string& hash);
  // Ends the sessions idle longer than `idle_limit` and returns their hashes.
  std::vector<std::string> RemoveIdle(std::chrono::minutes idle_limit);
  int64_t Count();

 private:
  const DataDir& dir_;
};

}  // namespace rembiz::host
