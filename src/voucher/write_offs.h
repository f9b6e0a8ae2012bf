// Loans written off against claims, as they reach the loans. A write-off link (EC_ExpenLoanInfo)
// applies while its claim is approved. A loan row's returned amount and settled flag, and its
// voucher's, are derived from the links that apply to it, so that a save, an approval or its
// cancellation leaves them in the same state however often it runs: nothing is counted twice,
// and nothing is taken back that was never applied.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "db/connection.h"

namespace rembiz::voucher {

// The kind of a write-off (EC_ExpenLoanInfo.blnUsed), from the page's value: "-1" partial (its
// amount is returned), "1" close (the row is settled, nothing returned), anything else settle
// (its amount is returned and the row settled).
int WriteOffKind(std::string_view page_value);

// The loan rows that the claim's links name.
std::vector<std::string> LinkedLoanRows(db::Connection& cn, std::string_view claim);

// Brings the loan rows and their vouchers in line with the links that apply to them:
//   returned amount of a row = the partial and settling write-offs of approved claims;
//   a row is settled when such a claim settles or closes it, or its returned amount reaches
//   what it lent; a voucher's returned amount is the sum of its rows, and it is settled when
//   all of them are.
// Raises "Q7.Rembiz.0288" (a close) or "Q7.Rembiz.0287" (a settle) when two approved claims
// would settle one row, and "Q7.Rembiz.0379" when a row would have more returned than it lent.
void ApplyWriteOffs(db::Connection& cn, const std::vector<std::string>& loan_rows);

}  // namespace rembiz::voucher
