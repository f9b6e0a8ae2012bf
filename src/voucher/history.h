// The history of a loan voucher or a claim (EC_VoucherHistory): one entry for every change, who
// made it (and for whom, when a substitute acted), when, and what changed. Every place that
// changes a voucher writes its entry here, on the connection and in the transaction of the
// change, so that an entry exists exactly when the change does. The table refuses updates and
// deletes; nothing rewrites an entry once written.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "db/connection.h"
#include "host/session.h"
#include "xml/document.h"

namespace rembiz::voucher {

// What an entry says happened (cEvent).
namespace history {
inline constexpr std::string_view kSaved = "saved";          // a new voucher
inline constexpr std::string_view kChanged = "changed";      // a stored voucher saved again
inline constexpr std::string_view kDeleted = "deleted";      // a draft deleted
inline constexpr std::string_view kSubmitted = "submitted";  // sent to its approval
inline constexpr std::string_view kWithdrawn = "withdrawn";  // its maker took it back
inline constexpr std::string_view kPassed = "passed";        // one step of its approval passed
inline constexpr std::string_view kApproved = "approved";    // its last step passed
inline constexpr std::string_view kRejected = "rejected";
inline constexpr std::string_view kTakenBack = "takenback";       // an approver took back a pass
inline constexpr std::string_view kWriteOff = "writeoff";         // loans written off by a claim
inline constexpr std::string_view kSettlement = "settlement";     // a claim's settlement lines
inline constexpr std::string_view kPaid = "paid";                 // the cashier paid it
inline constexpr std::string_view kPaymentSent = "paysent";       // an online payment sent
inline constexpr std::string_view kPaymentWithdrawn = "payback";  // a sent payment withdrawn
inline constexpr std::string_view kConfirmed = "confirmed";       // the bank confirmed a payment
inline constexpr std::string_view kBooked = "booked";             // a ledger voucher made
inline constexpr std::string_view kUnbooked = "unbooked";         // its ledger voucher voided
}  // namespace history

// The user on whose behalf an entry's user acted; empty when they acted for themselves.
struct ActingFor {
  std::string id;
  std::string name;
};

// Who made a change: a user, or nobody the system knows (the bank, by its confirmation).
struct Actor {
  std::string id;
  std::string name;
};

// Writes one entry for the voucher of `table` ("EC_LoanVouch" or "EC_ExpenVouch") with GUID
// `guid`, read from the voucher as it stands (its card number and number), by the session's
// user. `changes` is the JSON of ChangesJson, or empty. Does nothing when no such voucher
// exists. Call it before a delete, after any other change.
void WriteHistory(host::Session& session, db::Connection& cn, std::string_view table,
                  std::string_view guid, std::string_view event, std::string_view remark = "",
                  std::string_view changes = "", const ActingFor& acting_for = {});
// The same by `actor`.
void WriteHistoryBy(const Actor& actor, db::Connection& cn, std::string_view table,
                    std::string_view guid, std::string_view event, std::string_view remark = "",
                    std::string_view changes = "", const ActingFor& acting_for = {});

// The stored values of a voucher: its head's columns and its rows' (in the order they were
// written), as text, for telling what a save changed. Columns the database keeps for itself
// (AutoID, GUID, MGuid, ts) are left out.
struct VoucherSnapshot {
  using Values = std::map<std::string, std::string>;  // column -> text, nulls absent
  Values head;
  std::vector<Values> rows;
};
VoucherSnapshot ReadSnapshot(db::Connection& cn, std::string_view table, std::string_view guid);

// The records of `sql` as a snapshot's rows (without a head): the lines kept beside a voucher,
// its write-offs and settlement lines.
VoucherSnapshot ReadLines(db::Connection& cn, const std::string& sql);

// The entry of the lines of the claim `guid` that `sql` reads (ReadLines), as they changed since
// `before`; none when nothing changed.
void WriteLinesHistory(host::Session& session, db::Connection& cn, std::string_view guid,
                       std::string_view event, const VoucherSnapshot& before,
                       const std::string& sql);

// What changed between two snapshots, as JSON: a list of {"field", "old", "new"} with "row"
// (from 1) for a row's field; a value that was or became null is null. "" when nothing changed.
std::string ChangesJson(const VoucherSnapshot& before, const VoucherSnapshot& after);

// The entry of a payment line (a loan row, EC_LoanVouch_Sub, or a claim's settlement line,
// EC_BalanceInfo, by its GUID), written on the voucher the line belongs to, with the line's
// payment id and confirmation before and after. Take it before the change; Write after.
class PaymentLineHistory {
 public:
  PaymentLineHistory(db::Connection& cn, bool loan, std::string_view line_guid);
  void Write(const Actor& actor, std::string_view event);

 private:
  db::Connection& cn_;
  const bool loan_;
  std::string sql_;
  std::string voucher_guid_;
  VoucherSnapshot before_;
};

// The entries of a voucher, oldest first, as a recordset's XML under `answer`.
void AnswerHistory(db::Connection& cn, std::string_view guid, xml::Document& answer);

}  // namespace rembiz::voucher
