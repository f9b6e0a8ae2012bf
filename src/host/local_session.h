// The session object of this installation, built from the system database for an account, a
// year, an operator and a language. The CLI, the HTTP service and the tests hand it to myHandle.
#pragma once

#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "host/database_setup.h"
#include "host/session.h"

namespace rembiz::host {

struct SessionRequest {
  std::string account = "001";
  std::string year;  // empty: the current year
  std::string user;
  std::string language = "zh-CN";
  std::string login_date;  // empty: today, kept inside the fiscal year
  std::string client;      // the caller's address, for the log-in guard ("" for local callers)
};

class LocalSession : public Session {
 public:
  // A session for a trusted local caller (no password). Throws ComError when the user, the
  // account or the year does not exist, or the user holds no right in them.
  static std::unique_ptr<LocalSession> Open(const DataDir& dir, const SessionRequest& request);
  // The same after checking the password against the stored hash, under the log-in guard: after
  // repeated failures of the user or the client the check is refused for a while.
  static std::unique_ptr<LocalSession> Login(const DataDir& dir, const SessionRequest& request,
                                             std::string_view password);

  std::string ConnectionString() const override { return connection_string_; }
  std::string ReadConnectionString() const override { return read_connection_; }
  std::string LanguageId() const override { return language_; }
  std::string AccountId() const override { return account_; }
  std::string AccountName() const override { return account_name_; }
  std::string FiscalYear() const override { return year_; }
  std::string UserId() const override { return user_id_; }
  std::string UserName() const override { return user_name_; }
  std::string LoginDate() const override { return login_date_; }
  bool IsAdmin() const override { return admin_; }
  int CurrentPeriod() const override { return period_; }
  std::string MachineName() const override;
  bool IsGroup() const override { return group_; }
  std::string ClientAddress() const override { return client_; }

  bool TaskExec(const std::string& task_code, int mode, int year) override;
  std::string LastError() const override { return last_error_; }
  void ClearError() override { last_error_.clear(); }
  bool QueryState(int code, const std::string& system_id, int year) override;

  // Whether the operator holds the right (directly, by a role, by a parent code, or as admin).
  bool HoldsRight(std::string_view task_code) const;
  // Who holds the function tasks this session applies for (UA_Task.cSession): the hash of a
  // service session's token, otherwise one name per process.
  void SetHolder(std::string holder) { holder_ = std::move(holder); }
  const std::string& Holder() const { return holder_; }
  // False once the operator is disabled or removed: the sessions of a disabled user end at
  // their next request.
  bool UserStillEnabled() const;
  void SetLanguage(std::string language) { language_ = std::move(language); }
  void SetClientAddress(std::string client) { client_ = std::move(client); }
  const std::string& SystemConnectionString() const { return system_connection_; }

 private:
  LocalSession() = default;
  std::string TaskWhere(int year) const;  // the rows of UA_Task of the account and year
  std::string TaskHolder() const;

  std::string connection_string_;
  std::string read_connection_;
  std::string system_connection_;
  std::string language_;
  std::string account_, account_name_, year_;
  std::string user_id_, user_name_, login_date_;
  std::string client_;
  bool admin_ = false;
  bool group_ = false;
  int period_ = 1;
  std::set<std::string> rights_;
  std::vector<std::pair<std::string, std::string>> exclusions_;
  std::vector<std::string> held_tasks_;
  std::vector<std::string> recorded_tasks_;  // held tasks with a row in UA_Task
  std::string holder_;
  std::string last_error_;
};

}  // namespace rembiz::host
