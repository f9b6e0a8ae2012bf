// What the loan and the claim classes share as the classes of the entry pages: the request's
// current voucher, display template and template card; reading a voucher's head and rows; the
// navigation of the page's list; finding a voucher by its GUID; the operation types offered;
// the template requests handed on to CPubMsg; and deleting a voucher of any of the three kinds.
// CLoan and CExpense describe themselves once (VoucherPages) and say which vouchers their
// list shows; the save they share lives in voucher_save.h.
#pragma once

#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "frame/frame.h"

namespace rembiz::voucher {

struct VoucherPages {
  std::string_view table;      // head table; its rows are in table + "_Sub"
  std::string_view head_view;  // head with display names, per language
  std::string_view body_view;  // rows by the head's AutoID
  // Claims: the template card follows the current voucher, the list names each voucher's
  // operation type, the template requests get the current card, and the first operation type
  // offered and the voucher after a deleted one become current; a head whose item is not
  // found keeps the placeholder name " ".
  bool keeps_card = false;
};

// The frame of both classes: the entry task before connecting, the transaction opened by the
// first writing operation, and the busy text for the database's busy codes.
constexpr frame::FrameVariant VoucherClassVariant(std::string_view class_name,
                                                  std::string_view task_code) {
  return frame::FrameVariant{.class_name = class_name,
                             .task_code = task_code,
                             .entry_task = frame::EntryTask::kBeforeConnect,
                             .transactions = frame::Transactions::kLazy,
                             .error_form = frame::ErrorForm::kStandard,
                             .busy_message = true};
}

// The writing operations of both classes check the write lock and open the transaction.
constexpr unsigned kVoucherWrite = frame::kCheckHostLock | frame::kOpensTransaction;

// The template card ("EC01" loans, "EC02" income claims, "EC03" expenditure claims) of an
// operation type code.
std::string CardOfTypeCode(std::string_view type_code);

// True when a row of the loan voucher `guid` has been written off against a claim.
bool LoanWrittenOff(db::Connection& cn, std::string_view guid);

// A class of the entry pages, as it describes itself once.
struct VoucherClassTraits {
  frame::FrameVariant variant;
  VoucherPages pages;
  // The class's own operations and public procedures, after the shared ones.
  std::span<const frame::OperationEntry> operations;
  std::span<const frame::OperationEntry> public_procedures;
};

class VoucherClass : public frame::FramedClass, public frame::RequestState {
 public:
  explicit VoucherClass(const VoucherClassTraits& traits) : traits_(traits) {}

  // "vchgetloanheaddata", "vchgetloanbodydata": the voucher named by the first child of `in`
  // (attribute AutoID), else the current one; without either an empty record with its schema.
  // The head carries the voucher's state (strState, and strStateName in the session language).
  bool GetVoucherHead(host::Session& session, db::Connection& cn, xml::Node& func,
                      xml::Document& answer);
  bool GetVoucherBody(host::Session& session, db::Connection& cn, xml::Node& func,
                      xml::Document& answer);
  // "getOperList": the operation types whose templates belong to a template card.
  bool GetOperList(host::Session& session, db::Connection& cn, xml::Node& func,
                   xml::Document& answer);
  // "getVouchByGUID": a loan voucher or a claim by its GUID becomes the current voucher.
  bool GetVouchByGUID(host::Session& session, db::Connection& cn, xml::Node& func,
                      xml::Document& answer);
  // "getVouchHistory": the history of the loan voucher or claim `in/GUID` (voucher/history.h),
  // oldest entry first, for an operator who may see the voucher.
  bool GetVouchHistory(host::Session& session, db::Connection& cn, xml::Node& func,
                       xml::Document& answer);
  // "getVouchListID": the list of the vouchers the page may still edit, and the one to show by
  // `in/Director` from `in/strAutoID`.
  bool GetVouchListID(host::Session& session, db::Connection& cn, xml::Node& func,
                      xml::Document& answer);
  // "vchmoduleget", "vchnoformatget": answered by CPubMsg with the current template.
  bool VchModuleGet(host::Session& session, db::Connection& cn, xml::Node& func,
                    xml::Document& answer);
  bool VchNoFormatGet(host::Session& session, db::Connection& cn, xml::Node& func,
                      xml::Document& answer);
  // "delvouch": a loan voucher ("EC01") or a claim ("EC02", "EC03") by AutoID and row version.
  bool DelVouch(host::Session& session, db::Connection& cn, xml::Node& func, xml::Document& answer);

  // The current voucher (an AutoID as text), its display template and template card.
  const std::string& AutoID() const { return auto_id_; }
  const std::string& strShowModel() const { return show_model_; }
  const std::string& strCardNum() const { return card_num_; }

  void ResetRequestState() override;

 protected:
  const frame::FrameVariant& Variant() const final { return traits_.variant; }
  // The shared operations (reads, navigation, template requests, each answering its failures
  // under its own `out`), then the class's own.
  std::span<const frame::OperationEntry> Operations() const final;
  std::span<const frame::OperationEntry> PublicProcedures() const final;
  const VoucherPages& Pages() const { return traits_.pages; }

  // The condition of the vouchers the entry page's list shows.
  virtual std::string ListCondition(host::Session& session, db::Connection& cn,
                                    const xml::Node& func) = 0;
  // CPubMsg, created on first use and kept for the rest of the request.
  frame::BusinessObject& PubMsg();

  std::string auto_id_;
  std::string show_model_;
  std::string card_num_;

 private:
  const VoucherClassTraits& traits_;
  std::unique_ptr<frame::BusinessObject> pub_msg_;
  mutable std::vector<frame::OperationEntry> operations_;
  mutable std::vector<frame::OperationEntry> public_procedures_;
};

}  // namespace rembiz::voucher
