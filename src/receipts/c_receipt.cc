#include "receipts/c_receipt.h"

#include "frame/registry.h"
#include "host/errors.h"
#include "xml/escape.h"

namespace rembiz::receipts {
namespace {

// Rights are the vouchers': who may see a voucher sees its receipts; changes are the maker's.
constexpr frame::FrameVariant kVariant{
    .class_name = "CReceipt",
    .task_code = "",
    .entry_task = frame::EntryTask::kNone,
    .transactions = frame::Transactions::kWholeRequest,
    .error_form = frame::ErrorForm::kStandard,
    .busy_message = false,
};

constexpr frame::OperationEntry kOperations[] = {
    frame::Op<&CReceipt::List>("list"),
    frame::Op<&CReceipt::Remove>("remove", frame::kCheckHostLock),
    frame::Op<&CReceipt::Duplicates>("duplicates"),
};

const frame::ClassRegistrar kRegistrar("Rembiz.CReceipt",
                                       [] { return std::make_unique<CReceipt>(); });

std::string Attr(std::string_view name, std::string_view value) {
  return " " + std::string(name) + "=\"" + xml::XmlEscape(value) + "\"";
}

std::string DuplicateXml(const voucher::ReceiptDuplicate& d, int row = -1) {
  std::string out = "<dup";
  if (row >= 0) out += Attr("row", std::to_string(row));
  return out + Attr("kind", d.kind) + Attr("voucher", d.voucher_id) +
         Attr("voucherGUID", d.voucher_guid) + Attr("otherRow", std::to_string(d.row)) + "/>";
}

// A voucher kind as the pages' addresses name it.
std::string_view Kind(int kind) { return kind == 1 ? "loan" : "claim"; }

std::string GuidOf(const xml::Node& func) {
  std::string guid = func.SelectSingleNode("in").Attr("GUID");
  if (guid.empty()) Raise(kErrBusiness, "Rembiz.Receipt.NotFound");
  return guid;
}

}  // namespace

std::string ReceiptXml(const voucher::Receipt& r) {
  std::string out = "<receipt" + Attr("guid", r.guid) + Attr("voucherGUID", r.voucher_guid) +
                    Attr("row", std::to_string(r.row)) + Attr("name", r.file_name) +
                    Attr("mime", r.mime) + Attr("size", std::to_string(r.size)) +
                    Attr("sha256", r.sha256) + Attr("uploader", r.uploader) +
                    Attr("uploaded", r.uploaded) + Attr("thumb", r.has_thumbnail ? "1" : "0") +
                    Attr("read", std::to_string(r.read_state)) + Attr("amount", r.read_amount) +
                    Attr("date", r.read_date) + Attr("invoice", r.read_invoice) + ">";
  for (const voucher::ReceiptDuplicate& d : r.duplicates) out += DuplicateXml(d);
  return out + "</receipt>";
}

const frame::FrameVariant& CReceipt::Variant() const { return kVariant; }
std::span<const frame::OperationEntry> CReceipt::Operations() const { return kOperations; }

std::string ReceiptsXml(host::Session& session, db::Connection& cn, std::string_view voucher_guid,
                        std::vector<std::string>* waiting) {
  std::string out = "<receipts" + Attr("voucherGUID", voucher_guid) + ">";
  for (const voucher::Receipt& r : voucher::ListReceipts(session, cn, voucher_guid)) {
    out += ReceiptXml(r);
    if (waiting && r.read_state == 0) waiting->push_back(r.guid);
  }
  out += "<rows>";
  for (const voucher::RowDuplicate& d : voucher::ClaimRowDuplicates(cn, voucher_guid)) {
    out += DuplicateXml(d.other, d.row);
  }
  return out + "</rows></receipts>";
}

bool CReceipt::List(host::Session& session, db::Connection& cn, xml::Node& func,
                    xml::Document& answer) {
  answer.LoadXml(ReceiptsXml(session, cn, GuidOf(func)));
  return true;
}

bool CReceipt::Remove(host::Session& session, db::Connection& cn, xml::Node& func,
                      xml::Document& answer) {
  voucher::DeleteReceipt(session, cn, GuidOf(func));
  answer.LoadXml("<removed/>");
  return true;
}

bool CReceipt::Duplicates(host::Session& session, db::Connection& cn, xml::Node&,
                          xml::Document& answer) {
  std::string out = "<duplicates>";
  for (const voucher::DuplicatePair& p : voucher::PossibleDuplicates(session, cn)) {
    out += "<pair" + Attr("kind", p.kind) + Attr("voucher", p.voucher_id) +
           Attr("row", std::to_string(p.row)) + Attr("other", p.other_voucher_id) +
           Attr("otherRow", std::to_string(p.other_row)) + Attr("person", p.person) +
           Attr("item", p.item) + Attr("amount", p.amount) + Attr("date", p.date) +
           Attr("sha256", p.sha256) + Attr("voucherKind", Kind(p.voucher_kind)) +
           Attr("voucherAutoID", p.voucher_autoid) + Attr("otherKind", Kind(p.other_voucher_kind)) +
           Attr("otherAutoID", p.other_voucher_autoid) + "/>";
  }
  answer.LoadXml(out + "</duplicates>");
  return true;
}

}  // namespace rembiz::receipts
