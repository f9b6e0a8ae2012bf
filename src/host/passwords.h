// Stored password hashes: PBKDF2-HMAC-SHA256 with a random salt,
// "pbkdf2_sha256$<iterations>$<salt hex>$<hash hex>".
#pragma once

#include <string>
#include <string_view>

namespace rembiz::host {

std::string HashPassword(std::string_view password);
// True when the password matches the stored hash (constant-time comparison).
bool VerifyPassword(std::string_view password, std::string_view stored);
// The work of one VerifyPassword against a stored hash, for a user that does not exist or has no
// password: a refusal takes the same time whether the user exists or not.
void SpendPasswordCheck(std::string_view password);

// The SHA-256 digest of a text in lower-case hex: how session tokens and the log-in guard's keys
// are stored.
std::string Sha256Hex(std::string_view text);

}  // namespace rembiz::host
