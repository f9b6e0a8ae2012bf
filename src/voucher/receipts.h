// Receipts: files kept with a loan or with a row of a claim, in the account database beside the
// voucher (EC_Receipt for what a list shows, EC_ReceiptFile for the bytes). Who may see a voucher
// may see its receipts; only the voucher's maker adds or removes them, and only while it is a
// draft: a submitted voucher's receipts are what its approvers saw. What a file is (its type,
// whether it is whole, its thumbnail) is decided from its bytes before it gets here.
//
// A claim's rows are written anew by every save, so a receipt names its row by its place in the
// claim (1, 2, … in the order the rows were entered), as the claim page shows them; 0 is the
// voucher as a whole (a loan's receipts).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "db/connection.h"
#include "host/session.h"

namespace rembiz::voucher {

// A file to keep, checked and typed by the caller.
struct ReceiptUpload {
  std::string voucher_guid;
  int row = 0;
  std::string file_name;  // as the uploader named it: shown, never trusted
  std::string mime;       // decided from the bytes
  std::string_view bytes;
  std::string thumbnail;  // a small image of it, or empty
  std::string thumbnail_mime;
};

// Another place the same receipt appears: the same file, or (for a claim row) the same person,
// item, amount and date on another claim.
struct ReceiptDuplicate {
  std::string kind;        // "file" or "row"
  std::string voucher_id;  // the other voucher's number
  std::string voucher_guid;
  int row = 0;
};

struct Receipt {
  std::string guid;
  std::string voucher_guid;
  int voucher_kind = 0;  // 1 loan, 2 claim
  int row = 0;
  std::string file_name;
  std::string mime;
  int64_t size = 0;
  std::string sha256;
  std::string uploader;
  std::string uploaded;  // "YYYY-MM-DD HH:MM:SS"
  bool has_thumbnail = false;
  // What reading the receipt proposed (never written to the row without the clerk).
  int read_state = 0;  // 0 waiting, 1 read, 2 found nothing, 3 out of time, 4 not readable
  std::string read_amount;
  std::string read_date;
  std::string read_invoice;
  std::vector<ReceiptDuplicate> duplicates;  // the same file elsewhere
};

// The limits of the account's options: bytes per file and files per voucher.
struct ReceiptLimits {
  int64_t max_bytes = 10 * 1024 * 1024;
  int max_files = 20;
};
ReceiptLimits ReadReceiptLimits(db::Connection& cn);

// Keeps a receipt; the caller's transaction holds the row and its bytes together. Refuses
// (ComError, kErrBusiness) a voucher out of the operator's reach or not theirs, a submitted one,
// a row the claim does not have, an empty or oversize file and one too many for the voucher.
Receipt AddReceipt(host::Session& session, db::Connection& cn, const ReceiptUpload& upload);

// The receipts of a voucher in the operator's reach, by row and time, each with the other places
// its file appears.
std::vector<Receipt> ListReceipts(host::Session& session, db::Connection& cn,
                                  std::string_view voucher_guid);

// One receipt's bytes (or its thumbnail's) with type and name, when its voucher is in reach.
struct ReceiptBytes {
  std::string bytes;
  std::string mime;
  std::string file_name;
};
ReceiptBytes ReadReceipt(host::Session& session, db::Connection& cn, std::string_view receipt_guid,
                         bool thumbnail);
// The same checks without the bytes, for answers that stream them a piece at a time from
// `kReceiptFiles`: type, name and size (bytes left empty).
struct ReceiptFileInfo {
  std::string mime;
  std::string file_name;
  int64_t size = 0;
};
ReceiptFileInfo ReadableReceipt(host::Session& session, db::Connection& cn,
                                std::string_view receipt_guid, bool thumbnail);
// Where the bytes are: the table, and its columns of the file and the thumbnail, keyed by GUID.
inline constexpr std::string_view kReceiptFiles = "EC_ReceiptFile";
inline constexpr std::string_view kReceiptContent = "bContent";
inline constexpr std::string_view kReceiptThumb = "bThumb";

// Removes a receipt of a draft, by its voucher's maker.
void DeleteReceipt(host::Session& session, db::Connection& cn, std::string_view receipt_guid);

// The claim rows that are possible duplicates of rows of other claims: the same person, item,
// amount and date. One entry per row and other claim.
struct RowDuplicate {
  int row = 0;
  ReceiptDuplicate other;
};
std::vector<RowDuplicate> ClaimRowDuplicates(db::Connection& cn, std::string_view claim_guid);

// At submission: every row of a claim whose item asks for a receipt above an amount
// (EC_IOItem.dblReceiptAbove) and whose amount is above it has one; raises naming the row.
void RequireReceipts(db::Connection& cn, std::string_view claim_guid);

// A voucher deleted takes its receipts with it.
void DeleteVoucherReceipts(db::Connection& cn, std::string_view voucher_guid);

// What reading proposed for a receipt (state as in Receipt::read_state).
void StoreReceiptReading(db::Connection& cn, std::string_view receipt_guid, int state,
                         std::string_view amount, std::string_view date, std::string_view invoice);

// The possible duplicates among the vouchers the operator may see, for the report: pairs of
// claim rows (or receipts) that look the same.
struct DuplicatePair {
  std::string kind;  // "file" or "row"
  std::string voucher_id, other_voucher_id;
  int row = 0, other_row = 0;
  int voucher_kind = 0, other_voucher_kind = 0;      // 1 loan, 2 claim
  std::string voucher_autoid, other_voucher_autoid;  // how the pages open them
  std::string person, item, amount, date, sha256;
};
std::vector<DuplicatePair> PossibleDuplicates(host::Session& session, db::Connection& cn);

}  // namespace rembiz::voucher
