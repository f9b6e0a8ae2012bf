// The data the benchmarks run on: data directories made from the demo company plus generated
// loan vouchers, and the requests the benchmarks send.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "host/database_setup.h"
#include "host/local_session.h"

namespace rembiz::bench {

// Whether `location` holds a whole data set of `vouchers` generated vouchers, upgraded to the
// program's schema when it was older.
bool Reusable(const std::string& location, int64_t vouchers);

// A demo data directory under `root` with `vouchers` generated loan vouchers on top of the demo
// ones (file databases in WAL mode, as `rembiz init` makes them).
host::DataDir MakeDataDirectory(const std::filesystem::path& root, int64_t vouchers);
// The same at any data location (a folder or a database URL), replacing what is there.
host::DataDir MakeDemoData(const std::string& location, int64_t vouchers);

// A demo data directory under `root` with `claims` approved and verified expenditure claims of
// 300 (travel 200 and office supplies 100, paid in cash), ready for ledger voucher generation;
// their vouchers are numbered "LG" + eight digits from 1.
host::DataDir MakeLedgerDataDirectory(const std::filesystem::path& root, int64_t claims);

std::unique_ptr<host::LocalSession> OpenSession(const host::DataDir& dir);

// A new loan voucher of 800 in two rows, numbered `number`.
std::string LoanSaveRequest(const std::string& year, const std::string& number);
// A new expenditure claim of five rows, each checked against the standards, numbered `number`.
std::string ClaimSaveRequest(const std::string& year, const std::string& number);

}  // namespace rembiz::bench
