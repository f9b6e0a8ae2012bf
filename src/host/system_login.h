// What a page needs before any account is chosen: the connection to the system database and the
// check of a user's password against its stored hash.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "db/variant.h"
#include "host/session.h"

namespace rembiz::host {

class SystemLogin {
 public:
  virtual ~SystemLogin() = default;
  // The connection string stored under `key`; "CONNECTSTRINGQ7SOFTPASS" is the system
  // database's. A text containing "failed" when there is none.
  virtual std::string GetConnectString(std::string_view key) = 0;
  // Whether `given` (blanks around it ignored) is the password of a stored cPassword value.
  // A Null or empty stored value means the user has no password: only an empty one matches.
  virtual bool PasswordMatches(const db::Variant& stored, std::string_view given) = 0;
};

// A login object of the installation the session belongs to.
std::unique_ptr<SystemLogin> CreateSystemLogin(const Session& session);

}  // namespace rembiz::host
