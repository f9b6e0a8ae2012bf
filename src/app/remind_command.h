// Reminders of overdue and soon-due loans (loan/reminders.h) for cron and for the service:
// `rembiz remind` runs them once; `rembiz serve` runs them at start and then every day.
#pragma once

#include <functional>
#include <ostream>
#include <string>

#include "host/database_setup.h"
#include "loan/reminders.h"

namespace rembiz::app {

struct RemindCommand {
  std::string location = "rembiz-data";
  std::string account;  // empty: every account of the year
  std::string year;     // empty: the year of `today`
  std::string today;    // empty: today, local time
  bool force = false;   // also where automatic alerts (option 104) are off
};

// Reminds the loans of every account database of the year (or of the one account); `done` is
// told each account's outcome. An account whose database fails is told with its error and the
// others go on; throws only when the system database cannot be read.
void RemindAccounts(
    const host::DataDir& dir, const RemindCommand& command,
    const std::function<void(const std::string& account, const std::string& year,
                             const loan::ReminderRun* run, const std::string& error)>& done);

// `rembiz remind`: one line per account on `out`; 1 when an account failed.
int RunRemindCommand(const RemindCommand& command, std::ostream& out);

}  // namespace rembiz::app
