#include "receipts/uploads.h"

#include "db/error.h"
#include "host/errors.h"
#include "host/receipt_files.h"

namespace rembiz::receipts {

voucher::Receipt AddUploadedReceipt(host::Session& session, db::Connection& cn,
                                    std::string_view voucher_guid, int row,
                                    std::string_view file_name, std::string_view bytes) {
  const voucher::ReceiptLimits limits = voucher::ReadReceiptLimits(cn);
  host::ReceiptLimits check_limits;
  check_limits.max_bytes = static_cast<size_t>(limits.max_bytes);
  host::ReceiptCheck check = host::CheckReceiptFile(bytes, check_limits);
  if (!check.accepted) {
    Raise(kErrBusiness, check.refusal,
          check.refusal == "Rembiz.Receipt.TooLarge"
              ? std::to_string(limits.max_bytes / (1024 * 1024))
              : check.mime);
  }
  voucher::ReceiptUpload upload;
  upload.voucher_guid = voucher_guid;
  upload.row = row;
  upload.file_name = file_name;
  upload.mime = check.mime;
  upload.bytes = bytes;
  // A file that passed the check but cannot be drawn small is kept without a thumbnail; the
  // pages show its type instead.
  try {
    host::ReceiptImage thumbnail = host::MakeReceiptThumbnail(bytes, check.mime);
    upload.thumbnail = std::move(thumbnail.bytes);
    upload.thumbnail_mime = thumbnail.mime;
  } catch (const ComError&) {
  }
  return voucher::AddReceipt(session, cn, upload);
}

voucher::ReceiptBytes ReceiptForViewing(host::Session& session, db::Connection& cn,
                                        std::string_view receipt_guid) {
  voucher::ReceiptBytes file = voucher::ReadReceipt(session, cn, receipt_guid, false);
  if (file.mime != "application/pdf") return file;
  host::ReceiptImage page = host::RenderPdfFirstPage(file.bytes);
  return {std::move(page.bytes), page.mime, file.file_name};
}

}  // namespace rembiz::receipts
