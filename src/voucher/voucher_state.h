// The state of a loan voucher or a claim as people read it (draft, submitted, at a step of its
// approval, rejected, approved, partly paid, paid, settled), worked out here alone from the
// voucher's head, its approval flow and, for claims, what its write-offs and payment lines
// settle. Reads answer it with the voucher so that no page derives it from a column or two.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "db/connection.h"
#include "host/session.h"

namespace rembiz::voucher {

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

// The payment id of a loan row the cashier paid out in cash: "XJ" + the business date's digits +
// "-" + the row's AutoID. The bank never held a bill for it, so nothing is told to the bank
// about such a line (the bank's own ids begin "NB").
std::string CashPayId(std::string_view business_date, std::string_view row_autoid);
bool IsCashPayId(std::string_view pay_id);

struct VoucherState {
  // "draft", "submitted", "step", "rejected", "approved", "partpaid", "paid", "settled"
  std::string code;
  std::string name;  // in the session's language
};

// The state of the loan voucher (table "EC_LoanVouch") or claim ("EC_ExpenVouch") with that
// GUID; nullopt when there is none. A loan is partly paid while claims have repaid part of it
// and settled once they repaid all; a claim is paid once its payment lines and write-offs cover
// it, and settled when they cover it without a payment (its write-offs did). Both only after
// approval.
std::optional<VoucherState> ReadVoucherState(host::Session& session, db::Connection& cn,
                                             std::string_view table, std::string_view guid);
// The same from a head already read: `head` stands on the voucher's row and has its columns
// strTypeCode, blnAudi, strAuditorID and blnSettle, and a loan's dblReturn (the head views do).
VoucherState VoucherStateOf(host::Session& session, db::Connection& cn, std::string_view table,
                            std::string_view guid, const db::Recordset& head);

}  // namespace rembiz::voucher
