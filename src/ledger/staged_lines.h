// What happens to the staged lines of a generation once every source voucher is in: auxiliary
// items made to fit each account, the local currency cleared, debit and credit balanced, and
// lines merged by the merge options. Each step costs statements per account or per merged group,
// never per line, so a voucher from thousands of sources stays linear.
#pragma once

#include <string>

#include "db/connection.h"

namespace rembiz::ledger {

// Per account of the staged lines: the account's item class and the line's item (looked up in
// the class's item table, null when not found); the person's department for accounts kept by
// person, no person for accounts kept by department, neither for accounts kept by neither;
// customer, supplier and user-defined fields the account does not carry cleared. Then lines of
// the local currency lose their currency and foreign amounts, and the difference between debit
// and credit goes to the last credit line (or the last debit line).
void NormaliseStagedLines(db::Connection& cn, const std::string& table);

// Merges lines (the request's con="1"): a line absorbs the later lines on its side whose values
// agree on what its account's merge options ask for (expense-side or payment-side options,
// "iokm_…"/"opkm_…" in AccInformation); its amounts become the sums and the absorbed lines go.
// Lines whose account is in neither settings table are not merged. Nothing staged fails with
// "Q7.Rembiz.0296".
void MergeStagedLines(db::Connection& cn, const std::string& table);

}  // namespace rembiz::ledger
