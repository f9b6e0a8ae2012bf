// Reminders of loans not yet accounted for: borrowers and their department heads are told of
// loans that are overdue or about to be, through the notices (EC_Notice, cKind "overdue" or
// "duesoon") and their mails (EC_Outbox), once per loan and period (EC_LoanReminder).
//
// A loan counts when it is approved (or an opening loan), not settled and something of it is
// not yet repaid (dblMoney - dblReturn). Its due date is its expected repayment date
// (dtExpDate), else its loan date plus the days until a loan is overdue (option "102"
// intExpireDays); a loan with neither is never due. It is due soon from the days of warning
// (option "103" intAlertDays) before its due date up to that date, and overdue from the day
// after.
//
// Periods: "duesoon" once per due date (a new expected date is reminded again); "overdue" once
// per week overdue (days 1-7, 8-14, …), so an unpaid loan comes back weekly and no more often.
//
// Who is told: the borrower as a user - the enabled user whose e-mail is the person's
// (Person.cPersonEmail), else the user who entered the loan (strPersonID, a user's name) - and
// the head of the loan's department (or of the nearest department above with one). A loan with
// nobody to tell is not marked, so a later run tells whoever can be told then.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "db/connection.h"

namespace rembiz::loan {

struct ReminderRun {
  bool alerts_on = false;   // option "104" blnAutoAlert
  bool ran = false;         // false: alerts off and not forced
  int64_t reminded = 0;     // loans reminded now
  int64_t notices = 0;      // notices written (one mail each)
  int64_t already = 0;      // loans due a reminder that had it in this period
  int64_t unreachable = 0;  // loans due a reminder with nobody to tell
};

// Reminds the account database's loans as of `today` ("YYYY-MM-DD"). Runs only when automatic
// alerts are on (option "104"), or when `force` is given. Each loan is written in its own
// transaction, so several processes running it together tell each loan once.
ReminderRun RemindLoans(db::Connection& cn, std::string_view today, bool force);

}  // namespace rembiz::loan
