// Where a voucher stands: for claims, what their write-offs and payment lines settle of them,
// read in one place for the saves that change them.
#pragma once

#include <string>
#include <string_view>

#include "db/connection.h"

namespace rembiz::frame {

// What a claim's write-offs and payment lines settle of it, in the claim's currency. An
// expenditure claim (family "2") is settled by its write-offs and payments less what the
// claimant paid back; an income claim (family "1") by its receipts less payments and
// write-offs, as the write-off save has always counted it.
struct ClaimSettlement {
  double amount = 0;   // the claim's amount
  double settled = 0;  // what the write-offs and payment lines settle of it
  double paid = 0;     // the payment lines in the family's own direction (out, or in for income)
  std::string currency;
  int decimals = 2;  // of the currency

  // What is settled beyond the amount, to the cent; 0 when it stays within it.
  double Excess() const;
  // Something is settled, and all of the amount.
  bool Covered() const;
  // The excess as the claim's money is written in messages (its currency's decimals).
  std::string ExcessText() const;
};

ClaimSettlement ReadClaimSettlement(db::Connection& cn, std::string_view guid);

}  // namespace rembiz::frame
