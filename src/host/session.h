// The session object a caller hands to every business class: who is working, in which account
// and year, in which language, and the host's function tasks and write lock.
#pragma once

#include <string>

namespace rembiz::host {

class Session {
 public:
  virtual ~Session() = default;

  virtual std::string ConnectionString() const = 0;
  // Where requests that only read may go instead: the same database on a read replica (a
  // standby of the primary); empty when there is none. Whatever the replica cannot serve runs
  // on ConnectionString().
  virtual std::string ReadConnectionString() const { return ""; }
  virtual std::string LanguageId() const = 0;
  virtual std::string AccountId() const = 0;
  virtual std::string AccountName() const = 0;
  virtual std::string FiscalYear() const = 0;
  virtual std::string UserId() const = 0;
  virtual std::string UserName() const = 0;
  virtual std::string LoginDate() const = 0;  // "YYYY-MM-DD"
  virtual bool IsAdmin() const = 0;
  // Period number (1..12) of the login date in the fiscal year.
  virtual int CurrentPeriod() const = 0;
  virtual std::string MachineName() const = 0;
  virtual bool IsGroup() const = 0;
  // Where the request comes from (an address), "" for a local caller.
  virtual std::string ClientAddress() const { return ""; }

  // Applies for (mode -1) or releases (mode 0) a function task; false with LastError on refusal.
  virtual bool TaskExec(const std::string& task_code, int mode, int year) = 0;
  virtual std::string LastError() const = 0;
  virtual void ClearError() = 0;
  // True when writing is blocked for the code and system in that year.
  virtual bool QueryState(int code, const std::string& system_id, int year) = 0;
};

}  // namespace rembiz::host
