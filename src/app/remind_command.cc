#include "app/remind_command.h"

#include "db/connection.h"
#include "db/error.h"
#include "db/text.h"

namespace rembiz::app {

void RemindAccounts(const host::DataDir& dir, const RemindCommand& command,
                    const std::function<void(const std::string&, const std::string&,
                                             const loan::ReminderRun*, const std::string&)>& done) {
  std::string today = command.today.empty() ? host::TodayText() : command.today;
  std::string year = command.year.empty() ? today.substr(0, 4) : command.year;
  if (year.empty() || year.size() > 4 ||
      year.find_first_not_of("0123456789") != std::string::npos) {
    throw ComError(db::kErrInvalidRequest, "The year must be a number, not '" + year + "'.",
                   "Rembiz.Reminders");
  }
  std::vector<std::string> accounts;
  {
    db::Connection system;
    system.Open(dir.SystemConnectionString());
    db::Recordset rs = system.Execute(
        "select cAcc_Id from UA_AccountYear where iYear = " + year +
        (command.account.empty() ? "" : " and cAcc_Id = " + db::SqlText(command.account)) +
        " order by cAcc_Id");
    for (; !rs.Eof(); rs.MoveNext()) accounts.push_back(rs.Text("cAcc_Id"));
  }
  for (const std::string& account : accounts) {
    try {
      db::Connection cn;
      cn.Open(dir.ConnectionString(account, year));
      loan::ReminderRun run = loan::RemindLoans(cn, today, command.force);
      done(account, year, &run, "");
    } catch (const ComError& e) {
      done(account, year, nullptr, e.Description());
    }
  }
}

int RunRemindCommand(const RemindCommand& command, std::ostream& out) {
  host::DataDir dir(command.location);
  bool failed = false;
  int accounts = 0;
  RemindAccounts(dir, command,
                 [&](const std::string& account, const std::string& year,
                     const loan::ReminderRun* run, const std::string& error) {
                   ++accounts;
                   out << "Account " << account << " (" << year << "): ";
                   if (!run) {
                     failed = true;
                     out << "failed: " << error << "\n";
                   } else if (!run->ran) {
                     out << "automatic alerts are off (option 104); --force reminds anyway\n";
                   } else {
                     out << run->reminded << " loans reminded, " << run->notices << " notices; "
                         << run->already << " reminded before in this period, " << run->unreachable
                         << " with nobody to tell\n";
                   }
                 });
  if (accounts == 0) out << "No account to remind.\n";
  return failed ? 1 : 0;
}

}  // namespace rembiz::app
