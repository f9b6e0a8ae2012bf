#include "loan/reminders.h"

#include <chrono>
#include <cmath>
#include <optional>
#include <vector>

#include "db/error.h"
#include "db/text.h"
#include "db/transaction.h"
#include "host/approval_flow.h"
#include "host/notices.h"
#include "host/service_sql.h"

namespace rembiz::loan {
namespace {

using host::SqlText;
using std::chrono::sys_days;

// A date "YYYY-MM-DD" (a date-time's first ten characters); nullopt for anything else.
std::optional<sys_days> DateOf(std::string_view text) {
  if (text.size() < 10 || text[4] != '-' || text[7] != '-') return std::nullopt;
  int parts[3] = {0, 0, 0};
  const size_t starts[3] = {0, 5, 8}, lengths[3] = {4, 2, 2};
  for (int p = 0; p < 3; ++p) {
    for (size_t i = starts[p]; i < starts[p] + lengths[p]; ++i) {
      if (text[i] < '0' || text[i] > '9') return std::nullopt;
      parts[p] = parts[p] * 10 + (text[i] - '0');
    }
  }
  std::chrono::year_month_day day{std::chrono::year(parts[0]),
                                  std::chrono::month(static_cast<unsigned>(parts[1])),
                                  std::chrono::day(static_cast<unsigned>(parts[2]))};
  if (!day.ok()) return std::nullopt;
  return sys_days(day);
}

std::string DateText(sys_days day) {
  std::chrono::year_month_day ymd(day);
  char text[11];
  std::snprintf(text, sizeof text, "%04d-%02u-%02u", static_cast<int>(ymd.year()),
                static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()));
  return text;
}

// A whole number of days from an option's text; blank or not a number counts as none.
std::optional<int64_t> Days(const std::string& text) {
  std::string value = db::Trim(text);
  if (value.empty() || value.size() > 6 ||
      value.find_first_not_of("0123456789") != std::string::npos) {
    return std::nullopt;
  }
  return std::stoll(value);
}

struct Options {
  std::optional<int64_t> expire_days, alert_days;
  bool auto_alert = false;
};

Options ReadOptions(db::Connection& cn) {
  Options options;
  db::Recordset rs = cn.Execute(
      "select cID, cValue from accinformation where cSysID = 'EC' and cID in ('102', '103', "
      "'104')");
  for (; !rs.Eof(); rs.MoveNext()) {
    std::string id = rs.Text("cID"), value = rs.Text("cValue");
    if (id == "102") options.expire_days = Days(value);
    if (id == "103") options.alert_days = Days(value);
    if (id == "104") {
      std::string flag = db::Lower(db::Trim(value));
      options.auto_alert = flag == "true" || flag == "1";
    }
  }
  return options;
}

struct Loan {
  std::string guid, code, borrower_mail, maker, department;
  double lack = 0;
  sys_days due;
};

struct Due {
  std::string kind;    // "overdue" or "duesoon"
  std::string period;  // the due date, and for overdue loans the week overdue from 0
};

std::optional<Due> DueOf(const Loan& loan, sys_days today, const Options& options) {
  int64_t left = (loan.due - today).count();
  if (left < 0) {
    int64_t week = (-left - 1) / 7;
    return Due{"overdue", DateText(loan.due) + "/" + std::to_string(week)};
  }
  if (left <= options.alert_days.value_or(0)) return Due{"duesoon", DateText(loan.due)};
  return std::nullopt;
}

// The enabled users to tell of a loan: the borrower's user and the department's head, once.
std::vector<std::string> Recipients(db::Connection& cn, const Loan& loan) {
  std::vector<std::string> users;
  auto add_first = [&](const std::string& sql) {
    db::Recordset rs = cn.Execute(sql);
    if (rs.Eof()) return false;
    std::string user = rs.Text("cUser_Id");
    for (const std::string& known : users) {
      if (db::Lower(known) == db::Lower(user)) return true;
    }
    users.push_back(user);
    return true;
  };
  std::string enabled = "select cUser_Id from QDSystem..UA_User where bDisabled = 0 and ";
  bool borrower = !db::Trim(loan.borrower_mail).empty() &&
                  add_first(enabled + "cUser_Email = " + SqlText(db::Trim(loan.borrower_mail)) +
                            " order by cUser_Id");
  if (!borrower && !loan.maker.empty()) {
    add_first(enabled + "(cUser_Name = " + SqlText(loan.maker) +
              " or cUser_Id = " + SqlText(loan.maker) + ") order by cUser_Id");
  }
  std::string head = host::DepartmentHead(cn, loan.department);
  if (!head.empty()) add_first(enabled + "cUser_Id = " + SqlText(head));
  return users;
}

bool IsReminderTaken(const ComError& e) {
  return e.Number() == db::kErrConstraint &&
         e.Description().find("IX_EC_LoanReminder") != std::string::npos;
}

}  // namespace

ReminderRun RemindLoans(db::Connection& cn, std::string_view today_text, bool force) {
  ReminderRun run;
  std::optional<sys_days> today = DateOf(today_text);
  if (!today || today_text.size() != 10) {
    throw ComError(
        db::kErrInvalidRequest,
        "The day to remind as of must be YYYY-MM-DD, not '" + std::string(today_text) + "'.",
        "Rembiz.Reminders");
  }
  Options options = ReadOptions(cn);
  run.alerts_on = options.auto_alert;
  if (!options.auto_alert && !force) return run;
  run.ran = true;

  db::Recordset rs = cn.Execute(
      "select l.GUID, l.strVouchID, l.strDepartID, l.strPersonID, l.dtLoanDate, l.dtExpDate, "
      "isnull(l.dblMoney, 0) - isnull(l.dblReturn, 0) as dblLack, p.cPersonEmail from "
      "EC_LoanVouch l left join Person p on p.cPersonCode = l.strLoanID where "
      "isnull(l.blnSettle, 0) = 0 and (isnull(l.strAuditorID, '') <> '' or l.blnBegin = 1) and "
      "isnull(l.dblMoney, 0) - isnull(l.dblReturn, 0) > 0.005 order by l.AutoID");
  std::vector<Loan> loans;
  for (; !rs.Eof(); rs.MoveNext()) {
    Loan loan{rs.Text("GUID"),
              rs.Text("strVouchID"),
              rs.Text("cPersonEmail"),
              rs.Text("strPersonID"),
              rs.Text("strDepartID"),
              rs.Value("dblLack").ToDouble(),
              sys_days{}};
    std::optional<sys_days> expected = DateOf(rs.Text("dtExpDate"));
    std::optional<sys_days> lent = DateOf(rs.Text("dtLoanDate"));
    if (expected) {
      loan.due = *expected;
    } else if (lent && options.expire_days) {
      loan.due = *lent + std::chrono::days(*options.expire_days);
    } else {
      continue;  // never due
    }
    loans.push_back(std::move(loan));
  }

  for (const Loan& loan : loans) {
    std::optional<Due> due = DueOf(loan, *today, options);
    if (!due) continue;
    std::string marked = "select 1 from EC_LoanReminder where cVouchGUID = " + SqlText(loan.guid) +
                         " and cKind = " + SqlText(due->kind) +
                         " and cPeriod = " + SqlText(due->period);
    if (!cn.Execute(marked).Eof()) {
      ++run.already;
      continue;
    }
    std::vector<std::string> users = Recipients(cn, loan);
    if (users.empty()) {
      ++run.unreachable;
      continue;
    }
    try {
      int64_t written = 0;
      db::Transaction transaction(cn, 5, 20);
      // The mark first: a second process reminding the same loan stops here.
      cn.Execute("insert into EC_LoanReminder (cVouchGUID, cKind, cPeriod) values (" +
                 SqlText(loan.guid) + ", " + SqlText(due->kind) + ", " + SqlText(due->period) +
                 ")");
      for (const std::string& user : users) {
        host::NoticeValues notice;
        notice.user = user;
        notice.kind = due->kind;
        notice.card = "45";
        notice.guid = loan.guid;
        notice.code = loan.code;
        notice.amount = host::SqlMoney(std::round(loan.lack * 100) / 100);
        notice.due = DateText(loan.due);
        host::AddNotice(cn, notice);
        ++written;
      }
      transaction.Commit();
      run.notices += written;
      ++run.reminded;
    } catch (const ComError& e) {
      if (!IsReminderTaken(e)) throw;
      ++run.already;
    }
  }
  return run;
}

}  // namespace rembiz::loan
