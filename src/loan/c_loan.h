// CLoan: the business class behind the loan (advance) voucher pages. A loan voucher is one head
// row in EC_LoanVouch and its payment rows in EC_LoanVouch_Sub. The class lists and navigates
// the vouchers an operator may see, reads head and rows, saves and deletes them, submits them
// to approval and answers the page's checks (borrower limits, whether a voucher may still be
// changed, its write-offs). Writing operations share one transaction per request, opened by the
// first of them.
#pragma once

#include <memory>
#include <span>
#include <string>

#include "frame/frame.h"

namespace rembiz::loan {

class CLoan : public frame::FramedClass, public frame::RequestState {
 public:
  // Reads: "getVouchListID", "getVouchByGUID", "vchgetloanheaddata", "vchgetloanbodydata",
  // "getOperList"; template operations answered by CPubMsg.
  bool GetVouchListID(host::Session& session, db::Connection& cn, xml::Node& func,
                      xml::Document& answer);
  bool GetVouchByGUID(host::Session& session, db::Connection& cn, xml::Node& func,
                      xml::Document& answer);
  bool GetVoucherHead(host::Session& session, db::Connection& cn, xml::Node& func,
                      xml::Document& answer);
  bool GetVoucherBody(host::Session& session, db::Connection& cn, xml::Node& func,
                      xml::Document& answer);
  bool GetOperList(host::Session& session, db::Connection& cn, xml::Node& func,
                   xml::Document& answer);
  bool VchModuleGet(host::Session& session, db::Connection& cn, xml::Node& func,
                    xml::Document& answer);
  bool VchNoFormatGet(host::Session& session, db::Connection& cn, xml::Node& func,
                      xml::Document& answer);

  // Writes: "savevouch", "delvouch", "submitaudit".
  bool SaveVouch(host::Session& session, db::Connection& cn, xml::Node& func,
                 xml::Document& answer);
  bool DelVouch(host::Session& session, db::Connection& cn, xml::Node& func, xml::Document& answer);
  bool SubmitAudit(host::Session& session, db::Connection& cn, xml::Node& func,
                   xml::Document& answer);

  // Checks of the page: "GetHXInfo", "CheckLoanXY", "CheckModify".
  bool GetHXInfo(host::Session& session, db::Connection& cn, xml::Node& func,
                 xml::Document& answer);
  bool CheckLoanXY(host::Session& session, db::Connection& cn, xml::Node& func,
                   xml::Document& answer);
  bool CheckModify(host::Session& session, db::Connection& cn, xml::Node& func,
                   xml::Document& answer);

  // Submits the voucher of a head record to approval; raises error 9000 on failure.
  bool InitAudit(host::Session& m_objLogin, db::Connection& CN, const xml::Node& oNode);

  // The current voucher (an AutoID as text) and its display template: set by the list and the
  // lookup by GUID, used by later operations of the same request.
  const std::string& AutoID() const { return auto_id_; }
  void set_AutoID(std::string value) { auto_id_ = std::move(value); }
  const std::string& strShowModel() const { return show_model_; }
  void set_strShowModel(std::string value) { show_model_ = std::move(value); }

  void ResetRequestState() override;

 protected:
  const frame::FrameVariant& Variant() const override;
  std::span<const frame::OperationEntry> Operations() const override;
  std::span<const frame::OperationEntry> PublicProcedures() const override;

 private:
  bool SaveVouchSteps(host::Session& session, db::Connection& cn, xml::Node& func,
                      xml::Document& answer);
  // CPubMsg, created on first use and kept for the rest of the request.
  frame::BusinessObject& PubMsg();

  std::string auto_id_;
  std::string show_model_;
  std::unique_ptr<frame::BusinessObject> pub_msg_;
};

}  // namespace rembiz::loan
