// CExpense: the business class behind the expense claim pages. A claim is one head row in
// EC_ExpenVouch and its expense rows in EC_ExpenVouch_Sub; income claims (operation types
// beginning with "1") and expenditure claims ("2") share the tables and are numbered apart.
// Besides reading, navigating, saving, deleting and submitting claims, the class records the
// loans written off against a claim and its payment lines. Writing operations share one
// transaction per request, opened by the first of them.
#pragma once

#include <memory>
#include <span>
#include <string>

#include "frame/frame.h"

namespace rembiz::expense {

class CExpense : public frame::FramedClass, public frame::RequestState {
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

  // Writes: "savevouch", "delvouch" (claims, and loan vouchers with type "EC01"), "submitaudit".
  bool SaveVouch(host::Session& session, db::Connection& cn, xml::Node& func,
                 xml::Document& answer);
  bool DelVouch(host::Session& session, db::Connection& cn, xml::Node& func, xml::Document& answer);
  bool SubmitAudit(host::Session& session, db::Connection& cn, xml::Node& func,
                   xml::Document& answer);

  // The standards of the rows being entered: "GetStand".
  bool GetStand(host::Session& session, db::Connection& cn, xml::Node& func, xml::Document& answer);

  // Loan write-off and payment lines: "GetLoanInfo", "SaveLoanInfo", "GetExpenInfo",
  // "SaveExpenInfo".
  bool GetLoanInfo(host::Session& session, db::Connection& cn, xml::Node& func,
                   xml::Document& answer);
  bool SaveLoanInfo(host::Session& session, db::Connection& cn, xml::Node& func,
                    xml::Document& answer);
  bool GetExpenInfo(host::Session& session, db::Connection& cn, xml::Node& func,
                    xml::Document& answer);
  bool SaveExpenInfo(host::Session& session, db::Connection& cn, xml::Node& func,
                     xml::Document& answer);

  // The current claim (an AutoID as text), its display template and its template card number
  // ("EC01", "EC02", "EC03"): set by the reads and the writes, used by later operations of the
  // same request.
  const std::string& AutoID() const { return auto_id_; }
  void set_AutoID(std::string value) { auto_id_ = std::move(value); }
  const std::string& strShowModel() const { return show_model_; }
  void set_strShowModel(std::string value) { show_model_ = std::move(value); }
  const std::string& strCardNum() const { return card_num_; }
  void set_strCardNum(std::string value) { card_num_ = std::move(value); }

  void ResetRequestState() override;

 protected:
  const frame::FrameVariant& Variant() const override;
  std::span<const frame::OperationEntry> Operations() const override;
  std::span<const frame::OperationEntry> PublicProcedures() const override;

 private:
  bool SaveVouchSteps(host::Session& session, db::Connection& cn, xml::Node& func,
                      xml::Document& answer);
  bool DelVouchSteps(host::Session& session, db::Connection& cn, xml::Node& func);
  // The write-off rows of a claim, or the loan rows a claimant may write off.
  std::string LoanRowsXml(host::Session& session, db::Connection& cn, const xml::Node& in);
  // CPubMsg, created on first use and kept for the rest of the request.
  frame::BusinessObject& PubMsg();

  std::string auto_id_;
  std::string show_model_;
  std::string card_num_;
  std::unique_ptr<frame::BusinessObject> pub_msg_;
};

}  // namespace rembiz::expense
