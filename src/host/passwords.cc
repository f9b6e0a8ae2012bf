#include "host/passwords.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <vector>

namespace rembiz::host {
namespace {

constexpr int kIterations = 20000;
constexpr size_t kSaltBytes = 16;
constexpr size_t kHashBytes = 32;

std::string Hex(const unsigned char* data, size_t size) {
  std::string out;
  char buf[3];
  for (size_t i = 0; i < size; ++i) {
    std::snprintf(buf, sizeof buf, "%02x", data[i]);
    out += buf;
  }
  return out;
}

std::vector<unsigned char> Unhex(std::string_view hex) {
  std::vector<unsigned char> out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    out.push_back(static_cast<unsigned char>(
        std::strtol(std::string(hex.substr(i, 2)).c_str(), nullptr, 16)));
  }
  return out;
}

std::vector<unsigned char> Derive(std::string_view password, const std::vector<unsigned char>& salt,
                                  int iterations) {
  std::vector<unsigned char> out(kHashBytes);
  if (PKCS5_PBKDF2_HMAC(password.data(), static_cast<int>(password.size()), salt.data(),
                        static_cast<int>(salt.size()), iterations, EVP_sha256(),
                        static_cast<int>(out.size()), out.data()) != 1) {
    throw std::runtime_error("password hashing failed");
  }
  return out;
}

}  // namespace

std::string HashPassword(std::string_view password) {
  std::vector<unsigned char> salt(kSaltBytes);
  if (RAND_bytes(salt.data(), static_cast<int>(salt.size())) != 1) {
    throw std::runtime_error("no random bytes for a password salt");
  }
  std::vector<unsigned char> hash = Derive(password, salt, kIterations);
  return "pbkdf2_sha256$" + std::to_string(kIterations) + "$" + Hex(salt.data(), salt.size()) +
         "$" + Hex(hash.data(), hash.size());
}

void SpendPasswordCheck(std::string_view password) {
  static const std::vector<unsigned char> kSalt(kSaltBytes, 0x5a);
  Derive(password, kSalt, kIterations);
}

std::string Sha256Hex(std::string_view text) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  if (EVP_Digest(text.data(), text.size(), digest, &size, EVP_sha256(), nullptr) != 1) {
    throw std::runtime_error("SHA-256 failed");
  }
  return Hex(digest, size);
}

bool VerifyPassword(std::string_view password, std::string_view stored) {
  // pbkdf2_sha256$<iterations>$<salt>$<hash>
  size_t a = stored.find('$');
  size_t b = a == std::string_view::npos ? a : stored.find('$', a + 1);
  size_t c = b == std::string_view::npos ? b : stored.find('$', b + 1);
  if (c == std::string_view::npos || stored.substr(0, a) != "pbkdf2_sha256") return false;
  int iterations = std::atoi(std::string(stored.substr(a + 1, b - a - 1)).c_str());
  if (iterations <= 0 || iterations > 10'000'000) return false;
  std::vector<unsigned char> salt = Unhex(stored.substr(b + 1, c - b - 1));
  std::vector<unsigned char> expected = Unhex(stored.substr(c + 1));
  std::vector<unsigned char> actual = Derive(password, salt, iterations);
  return expected.size() == actual.size() &&
         CRYPTO_memcmp(expected.data(), actual.data(), actual.size()) == 0;
}

}  // namespace rembiz::host
