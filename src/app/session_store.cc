#include "app/session_store.h"

#include <openssl/rand.h>

#include <array>

#include "db/error.h"
#include "host/passwords.h"

namespace rembiz::app {
namespace {

constexpr size_t kTokenBytes = 32;

std::string Hex(const unsigned char* data, size_t size) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(size * 2);
  for (size_t i = 0; i < size; ++i) {
    out += kDigits[data[i] >> 4];
    out += kDigits[data[i] & 0x0f];
  }
  return out;
}

std::string NewToken() {
  std::array<unsigned char, kTokenBytes> bytes;
  if (RAND_bytes(bytes.data(), static_cast<int>(bytes.size())) != 1) {
    throw ComError(static_cast<int32_t>(0x80004005), "No random numbers for a session token.",
                   "Rembiz.Serve");
  }
  return Hex(bytes.data(), bytes.size());
}

}  // namespace

SessionStore::SessionStore(std::chrono::minutes idle_limit, std::function<Clock::time_point()> now)
    : idle_limit_(idle_limit), now_(std::move(now)) {}

SessionStore::SessionStore(std::chrono::minutes idle_limit, const host::DataDir& dir)
    : idle_limit_(idle_limit),
      now_(&Clock::now),
      dir_(&dir),
      records_(std::make_unique<host::SessionRecords>(dir)) {}

bool SessionStore::LooksLikeToken(std::string_view token) {
  if (token.size() != kTokenBytes * 2) return false;
  for (char c : token) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

std::string SessionStore::HashToken(std::string_view token) {
  if (!LooksLikeToken(token)) return {};
  return host::Sha256Hex(token);
}

std::string SessionStore::Add(std::shared_ptr<const host::LocalSession> session,
                              const std::string& station) {
  std::string token = NewToken();
  std::string hash = HashToken(token);
  if (records_) {
    auto holder = std::make_shared<host::LocalSession>(*session);
    holder->SetHolder(hash);  // the function tasks it applies for are the session's
    records_->Insert(hash, *holder, station);
    session = std::move(holder);
  }
  std::lock_guard lock(mutex_);
  sessions_[hash] = Entry{std::move(session), now_()};
  return token;
}

std::shared_ptr<const host::LocalSession> SessionStore::SharedSession(std::string_view token,
                                                                      std::string* disabled_user) {
  std::string hash = HashToken(token);
  if (hash.empty()) return nullptr;
  std::optional<host::SessionUse> use = records_->Use(hash, idle_limit_);
  std::lock_guard lock(mutex_);
  auto it = sessions_.find(hash);
  if (!use || !use->user_enabled) {
    if (it != sessions_.end()) sessions_.erase(it);
    if (use && disabled_user) *disabled_user = use->request.user;
    return nullptr;
  }
  if (it != sessions_.end()) {
    it->second.last_use = now_();
    return it->second.session;
  }
  // A session another process made: opened again as it was at its login.
  std::shared_ptr<host::LocalSession> session;
  try {
    session = host::LocalSession::Open(*dir_, use->request);
  } catch (const ComError& e) {
    if (db::IsDatabaseUnreachable(e)) throw;
    return nullptr;  // the operator, the account or the rights are gone since
  }
  session->SetHolder(hash);
  sessions_[hash] = Entry{session, now_()};
  return session;
}

SessionStore::Entry* SessionStore::LiveEntry(std::string_view token) {
  std::string hash = HashToken(token);
  if (hash.empty()) return nullptr;
  auto it = sessions_.find(hash);
  if (it == sessions_.end() || now_() - it->second.last_use > idle_limit_) return nullptr;
  return &it->second;
}

std::shared_ptr<const host::LocalSession> SessionStore::OwnSession(std::string_view token, bool use,
                                                                   std::string* disabled_user) {
  std::shared_ptr<const host::LocalSession> session;
  {
    std::lock_guard lock(mutex_);
    Entry* entry = LiveEntry(token);
    if (!entry) return nullptr;
    if (use) entry->last_use = now_();
    session = entry->session;
  }
  if (session->UserStillEnabled()) return session;
  std::lock_guard lock(mutex_);
  sessions_.erase(HashToken(token));
  if (disabled_user) *disabled_user = session->UserId();
  return nullptr;
}

std::unique_ptr<host::LocalSession> SessionStore::Checkout(std::string_view token,
                                                           std::string* disabled_user) {
  std::shared_ptr<const host::LocalSession> session =
      records_ ? SharedSession(token, disabled_user) : OwnSession(token, true, disabled_user);
  return session ? std::make_unique<host::LocalSession>(*session) : nullptr;
}

std::shared_ptr<const host::LocalSession> SessionStore::Find(std::string_view token,
                                                             std::string* disabled_user) {
  return records_ ? SharedSession(token, disabled_user) : OwnSession(token, false, disabled_user);
}

bool SessionStore::Remove(std::string_view token) {
  if (records_) {
    std::string hash = HashToken(token);
    if (hash.empty()) return false;
    {
      std::lock_guard lock(mutex_);
      sessions_.erase(hash);
    }
    return records_->Remove(hash);
  }
  std::lock_guard lock(mutex_);
  if (!LiveEntry(token)) return false;
  sessions_.erase(HashToken(token));
  return true;
}

std::vector<std::string> SessionStore::Sweep() {
  std::vector<std::string> gone;
  if (records_) gone = records_->RemoveIdle(idle_limit_);
  std::lock_guard lock(mutex_);
  for (const std::string& hash : gone) sessions_.erase(hash);
  // Shared sessions: what this process built for sessions it no longer sees in use (another
  // process may still serve them; their rows decide).
  Clock::time_point now = now_();
  for (auto it = sessions_.begin(); it != sessions_.end();) {
    if (now - it->second.last_use > idle_limit_) {
      if (!records_) gone.push_back(it->first);
      it = sessions_.erase(it);
    } else {
      ++it;
    }
  }
  return gone;
}

size_t SessionStore::Size() const {
  if (records_) return static_cast<size_t>(records_->Count());
  std::lock_guard lock(mutex_);
  return sessions_.size();
}

}  // namespace rembiz::app
