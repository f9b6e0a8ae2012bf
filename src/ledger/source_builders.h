// The builders that turn one approved source voucher into staged ledger lines, one per source
// family, and the account settings they take the lines' accounts from.
#pragma once

#include <map>
#include <string>
#include <tuple>

#include "db/connection.h"
#include "host/session.h"
#include "ledger/staging.h"

namespace rembiz::ledger {

// An expense-side account (EC_PzSet_IO) with its modify-direction flag; a payment-side account
// (EC_PzSet_OP) has none. An empty code means no setting applies.
struct SettingAccount {
  std::string code;
  std::string name;
  bool modify_direction = false;
};

// The account settings as one generation reads them: every lookup runs once per generation and
// is remembered, since thousands of lines share a few settings.
class AccountSettings {
 public:
  explicit AccountSettings(db::Connection& cn) : cn_(cn) {}

  // By operation type, item and currency; without an item-specific setting, a setting of the
  // type and currency for any item.
  SettingAccount LookupIOAccount(const std::string& operation_type, const std::string& item,
                                 const std::string& currency);
  // By payment direction (`io_type` "1" receipt, anything else payment), settlement style, bank
  // and currency, from the most specific setting to the least.
  SettingAccount LookupOPAccount(const std::string& io_type, const std::string& style,
                                 const std::string& bank, const std::string& currency);

 private:
  db::Connection& cn_;
  std::map<std::tuple<std::string, std::string, std::string>, SettingAccount> io_;
  std::map<std::tuple<std::string, std::string, std::string, std::string>, SettingAccount> op_;
};

// The family of a source voucher is the first character of its type code: "3" loans
// (EC_LoanVouch), "1" and "2" claims (EC_ExpenVouch).
inline bool IsLoan(const std::string& type_code) {
  return !type_code.empty() && type_code[0] == '3';
}
inline std::string SourceTable(const std::string& type_code) {
  return IsLoan(type_code) ? "EC_LoanVouch" : "EC_ExpenVouch";
}

struct BuildContext {
  db::Connection& cn;
  const host::Session& session;
  Generation& generation;
  AccountSettings& accounts;
};

// Income claim (type "1"): item lines credited, settlement lines debited; a claim without
// settlement lines fails with "Q7.Rembiz.0297", an item line without an account setting fails.
void BuildIncomeLines(BuildContext& context, const std::string& guid);
// Expenditure claim (type "2"): item lines debited (the head alone when it has no rows),
// settlement lines by direction, written-off loans credited.
void BuildExpenseLines(BuildContext& context, const std::string& guid);
// Loan voucher (type "3"): per loan row the loan debited and its payment credited.
void BuildLoanLines(BuildContext& context, const std::string& guid);

}  // namespace rembiz::ledger
