// Stored password hashes: PBKDF2-HMAC-SHA256 with a random salt,
// "pbkdf2_sha256$<iterations>$<salt hex>$<hash hex>".
#pragma once

#include <string>
#include <string_view>

namespace rembiz::host {

std::string HashPassword(std::string_view password);
// True when the password matches the stored hash (constant-time comparison).
bool VerifyPassword(std::string_view password, std::string_view stored);

}  // namespace rembiz::host
