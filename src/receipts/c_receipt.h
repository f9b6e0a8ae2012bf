// CReceipt: the receipts of loans and claim rows as the pages and the command line reach them —
// a voucher's receipts with what looks like a duplicate, removing one, and the report of possible
// duplicates. The bytes themselves go over HTTP (upload and download routes of the service),
// through AddUploadedReceipt below.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "frame/frame.h"
#include "voucher/receipts.h"

namespace rembiz::receipts {

class CReceipt : public frame::FramedClass {
 public:
  // <in GUID=voucher/>: its receipts, and the claim rows that look like rows of other claims.
  bool List(host::Session& session, db::Connection& cn, xml::Node& func, xml::Document& answer);
  // <in GUID=receipt/>: removes it (the draft's maker only).
  bool Remove(host::Session& session, db::Connection& cn, xml::Node& func, xml::Document& answer);
  // The possible duplicates among the vouchers the operator may see.
  bool Duplicates(host::Session& session, db::Connection& cn, xml::Node& func,
                  xml::Document& answer);

 protected:
  const frame::FrameVariant& Variant() const override;
  std::span<const frame::OperationEntry> Operations() const override;
};

// A receipt as the answers write it: <receipt guid=… row=… name=… …><dup …/></receipt>.
std::string ReceiptXml(const voucher::Receipt& receipt);

// A voucher's receipts as the class and the service answer them: <receipts> with each receipt
// and, under <rows>, the claim rows that look like rows of other claims. The GUIDs of receipts
// still waiting to be read go to `waiting` when it is given.
std::string ReceiptsXml(host::Session& session, db::Connection& cn, std::string_view voucher_guid,
                        std::vector<std::string>* waiting = nullptr);

}  // namespace rembiz::receipts
