// The voucher staging table: a work table in tempdb in the ledger's outside-voucher layout (plus
// the module's own strTypeCode, VouchGUID and bDirFlag), which the source-voucher builders fill
// one line at a time and the ledger's voucher save reads. Also the state one generation carries
// from the request to the builders.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "db/connection.h"
#include "db/variant.h"
#include "host/session.h"

namespace rembiz::ledger {

// The staging table's column definitions in their fixed order, "(csign nvarchar(100) NULL, …)";
// the account, year and period defaults come from the session.
std::string StagingColumnsDdl(const host::Session& session);

// What one generation ("makepz") carries: the staging table, the voucher link id shared by its
// lines, the ledger voucher's date and sign, and the number of the next staged line.
struct Generation {
  std::string table;      // "tempdb.." + name; empty while there is none
  std::string link_id;    // 29 characters of a new GUID
  std::string bill_date;  // "YYYY-MM-DD"
  std::string sign;
  int next_inid = 1;
  int reentry = 0;  // non-zero: sources are not tested for approval again
};

// One line as a builder makes it. Amounts are placed on their final side by PlaceAmounts.
struct StagedLine {
  std::string type_code;   // strTypeCode of the source voucher
  std::string vouch_guid;  // GUID of the source voucher (the claim for its write-off lines)
  std::string digest;      // the source's summary
  std::string code, code_name;
  db::Variant currency, rate;
  bool debit = true;
  double local = 0, foreign = 0;
  std::optional<double> quantity;  // none for loan, payment and settlement lines
  db::Variant dept_id, dept_name, person_id, person_name, item_id, item_class;
  db::Variant source_number;  // coutno_id until the voucher link id replaces it
  db::Variant source_date;    // doutdate
  db::Variant settle, settle_name;
  std::optional<db::Variant> bill_no;  // cn_id of payment and settlement lines
  db::Variant bud_pass;                // bWH_BgFlag
  std::array<db::Variant, 16> defines;
};

// Puts a line with local amount `local` and foreign amount `foreign` on its side: its natural
// side, or, when the account setting allows the direction to change (`modify_direction`) and the
// foreign amount is negative, the opposite side with both amounts made positive.
void PlaceAmounts(StagedLine& line, bool natural_debit, double local, double foreign,
                  bool modify_direction);

// Writes the line as the next line of the generation (one insert) and advances the numbering.
void InsertStagedLine(db::Connection& cn, const host::Session& session, Generation& generation,
                      const StagedLine& line);

// The first `count` characters of a UTF-8 text.
std::string LeftChars(std::string_view text, size_t count);

}  // namespace rembiz::ledger
