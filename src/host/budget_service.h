// The host's budget service: budget items with up to three dimensions, budget amounts per year,
// item and dimension values, and the amounts that approved vouchers consume. State lives in
// BG_Item and the Host_Budget* tables of the account database; the service works on the
// caller's connection, so what it records commits or rolls back with the caller's transaction.
#pragma once

#include <array>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "db/connection.h"

namespace rembiz::host {

struct BudgetDimension {
  int port = 0;      // 1..3
  std::string code;  // e.g. "department"
  std::string name;
};

// One amount handed to the service.
struct BudgetEntry {
  std::string system_id = "EC";
  std::string kind;       // "借款单" or "报销单"
  std::string type_name;  // operation type name
  std::string vouch_guid;
  std::string vouch_id;
  std::string vouch_date;  // "YYYY-MM-DD"
  std::string used;
  std::string item;                        // budget item code
  std::array<std::string, 3> port_codes;   // dimension codes as the voucher names them
  std::array<std::string, 3> port_values;  // dimension value codes
  double amount = 0;                       // > 0 consumes, < 0 releases what the voucher consumed
  // Set for a loan written off against a claim: a release is booked under the claim, and a
  // positive amount restores only what that claim released.
  std::string link_guid;
  std::string user;
  int year = 0;
};

struct BudgetOutcome {
  int result = 0;
  std::string text;  // why the amount is over budget, or the warning
};

class BudgetService {
 public:
  // Outcome codes.
  static constexpr int kWithinBudget = 0;
  static constexpr int kOverBudget = 1;     // hard control: nothing recorded
  static constexpr int kNotControlled = 2;  // no budget for the key, or nothing to release
  static constexpr int kWarned = 3;         // over a warning-only budget: recorded anyway

  virtual ~BudgetService() = default;

  // Every operation returns false with LastError() when it fails.
  virtual bool Init(db::Connection& cn) = 0;
  // False (with a text) also when budget control is switched off for the system.
  virtual bool IsActive(std::string_view system_id) = 0;
  virtual bool GetPort(std::string_view item, std::vector<BudgetDimension>* dimensions) = 0;
  virtual bool CheckBudget(const BudgetEntry& entry, BudgetOutcome* outcome) = 0;
  virtual std::string LastError() const = 0;
};

std::unique_ptr<BudgetService> CreateBudgetService();

}  // namespace rembiz::host
