// A receipt as it arrives over HTTP: the file's bytes judged (type from the bytes, whole,
// within the limits), a thumbnail made once, and the receipt kept with its voucher row in one
// transaction; and the viewer's image of a PDF.
#pragma once

#include <string>
#include <string_view>

#include "db/connection.h"
#include "host/session.h"
#include "voucher/receipts.h"

namespace rembiz::receipts {

// Checks the file and keeps it (inside the caller's transaction). Refuses (ComError,
// kErrBusiness) what the file check refuses, with the account's limits, and whatever
// voucher::AddReceipt refuses; nothing is kept then.
voucher::Receipt AddUploadedReceipt(host::Session& session, db::Connection& cn,
                                    std::string_view voucher_guid, int row,
                                    std::string_view file_name, std::string_view bytes);

// What the viewer shows of a receipt: an image as it is; a PDF as its first page (PNG).
voucher::ReceiptBytes ReceiptForViewing(host::Session& session, db::Connection& cn,
                                        std::string_view receipt_guid);

}  // namespace rembiz::receipts
