#include "app/session_store.h"

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <array>

#include "db/error.h"

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

bool SessionStore::LooksLikeToken(std::string_view token) {
  if (token.size() != kTokenBytes * 2) return false;
  for (char c : token) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

std::string SessionStore::HashToken(std::string_view token) {
  if (!LooksLikeToken(token)) return {};
  std::array<unsigned char, EVP_MAX_MD_SIZE> digest;
  unsigned int size = 0;
  if (EVP_Digest(token.data(), token.size(), digest.data(), &size, EVP_sha256(), nullptr) != 1) {
    throw ComError(static_cast<int32_t>(0x80004005), "Cannot hash a session token.",
                   "Rembiz.Serve");
  }
  return Hex(digest.data(), size);
}

std::string SessionStore::Add(std::shared_ptr<const host::LocalSession> session) {
  std::string token = NewToken();
  std::lock_guard lock(mutex_);
  sessions_[HashToken(token)] = Entry{std::move(session), now_()};
  return token;
}

SessionStore::Entry* SessionStore::LiveEntry(std::string_view token) {
  std::string hash = HashToken(token);
  if (hash.empty()) return nullptr;
  auto it = sessions_.find(hash);
  if (it == sessions_.end() || now_() - it->second.last_use > idle_limit_) return nullptr;
  return &it->second;
}

std::unique_ptr<host::LocalSession> SessionStore::Checkout(std::string_view token) {
  std::lock_guard lock(mutex_);
  Entry* entry = LiveEntry(token);
  if (!entry) return nullptr;
  entry->last_use = now_();
  return std::make_unique<host::LocalSession>(*entry->session);
}

std::shared_ptr<const host::LocalSession> SessionStore::Find(std::string_view token) {
  std::lock_guard lock(mutex_);
  Entry* entry = LiveEntry(token);
  return entry ? entry->session : nullptr;
}

bool SessionStore::Remove(std::string_view token) {
  std::lock_guard lock(mutex_);
  if (!LiveEntry(token)) return false;
  sessions_.erase(HashToken(token));
  return true;
}

std::vector<std::string> SessionStore::Sweep() {
  std::vector<std::string> gone;
  std::lock_guard lock(mutex_);
  Clock::time_point now = now_();
  for (auto it = sessions_.begin(); it != sessions_.end();) {
    if (now - it->second.last_use > idle_limit_) {
      gone.push_back(it->first);
      it = sessions_.erase(it);
    } else {
      ++it;
    }
  }
  return gone;
}

size_t SessionStore::Size() const {
  std::lock_guard lock(mutex_);
  return sessions_.size();
}

}  // namespace rembiz::app
