#include "host/system_login.h"

#include "db/connection_string.h"
#include "db/error.h"
#include "db/text.h"
#include "host/passwords.h"

namespace rembiz::host {
namespace {

using db::Trim;

constexpr std::string_view kSystemKey = "CONNECTSTRINGQ7SOFTPASS";

class LocalSystemLogin : public SystemLogin {
 public:
  explicit LocalSystemLogin(std::string account_connection)
      : account_connection_(std::move(account_connection)) {}

  std::string GetConnectString(std::string_view key) override {
    if (key != kSystemKey) return "failed: no connection is stored under " + std::string(key);
    db::ConnectionOptions account;
    try {
      account = db::ParseConnectionString(account_connection_);
    } catch (const ComError& e) {
      return "failed: " + e.Description();
    }
    std::optional<db::ConnectionOptions> system = db::SystemDatabaseOf(account);
    if (!system) return "failed: the installation has no system database";
    return db::FormatConnectionString(*system);
  }

  bool PasswordMatches(const db::Variant& stored, std::string_view given) override {
    std::string hash = stored.ToText();
    std::string password = Trim(given);
    if (hash.empty()) {
      SpendPasswordCheck(password);  // no quicker answer for users without a password
      return password.empty();
    }
    return VerifyPassword(password, hash);
  }

 private:
  std::string account_connection_;
};

}  // namespace

std::unique_ptr<SystemLogin> CreateSystemLogin(const Session& session) {
  return std::make_unique<LocalSystemLogin>(session.ConnectionString());
}

}  // namespace rembiz::host
