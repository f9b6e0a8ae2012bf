// CPubMsg: the public information service of the web pages — log-in information, account and
// periods, menu, options, rights, currencies and rates, free queries, voucher templates, numbers,
// print layouts, column layouts, references and user-defined fields. It runs without function
// task and without transaction; every procedure writes its own error document.
#pragma once

#include <memory>
#include <span>
#include <string_view>

#include "frame/frame.h"

namespace rembiz::pubinfo {

class CPubMsg : public frame::FramedClass, public frame::RequestState {
 public:
  void ResetRequestState() override;

  // Public procedures other classes call by name ("VchModuleGet", "VchNoFormatGet", "VchNoGet").
  bool VchModuleGet(host::Session& session, db::Connection& cn, xml::Node& func,
                    xml::Document& answer);
  bool VchNoFormatGet(host::Session& session, db::Connection& cn, xml::Node& func,
                      xml::Document& answer);
  bool VchNoGet(host::Session& session, db::Connection& cn, xml::Node& func, xml::Document& answer);

 protected:
  const frame::FrameVariant& Variant() const override;
  std::span<const frame::OperationEntry> Operations() const override;
  std::span<const frame::OperationEntry> PublicProcedures() const override;

 private:
  bool EditTimeGet(host::Session& session, db::Connection& cn, xml::Node& func,
                   xml::Document& answer);
  bool ZtInfoGet(host::Session& session, db::Connection& cn, xml::Node& func,
                 xml::Document& answer);
  bool MenuGet(host::Session& session, db::Connection& cn, xml::Node& func, xml::Document& answer);
  bool ZtGet(host::Session& session, db::Connection& cn, xml::Node& func, xml::Document& answer);
  bool AccGet(host::Session& session, db::Connection& cn, xml::Node& func, xml::Document& answer);
  bool AccGet2(host::Session& session, db::Connection& cn, xml::Node& func, xml::Document& answer);
  bool AuthGet(host::Session& session, db::Connection& cn, xml::Node& func, xml::Document& answer);
  bool CurrencyGet(host::Session& session, db::Connection& cn, xml::Node& func,
                   xml::Document& answer);
  bool HlGet(host::Session& session, db::Connection& cn, xml::Node& func, xml::Document& answer);
  bool SelectGet(host::Session& session, db::Connection& cn, xml::Node& func,
                 xml::Document& answer);
  bool ReferCheck(host::Session& session, db::Connection& cn, xml::Node& func,
                  xml::Document& answer);
  bool AddLock(host::Session& session, db::Connection& cn, xml::Node& func, xml::Document& answer);
  bool ItemRefer(host::Session& session, db::Connection& cn, xml::Node& func,
                 xml::Document& answer);
  bool UserdefCheck(host::Session& session, db::Connection& cn, xml::Node& func,
                    xml::Document& answer);
  bool UserdefData(host::Session& session, db::Connection& cn, xml::Node& func,
                   xml::Document& answer);
  bool RptColumnGet(host::Session& session, db::Connection& cn, xml::Node& func,
                    xml::Document& answer);
  bool RptColumnSet(host::Session& session, db::Connection& cn, xml::Node& func,
                    xml::Document& answer);
  bool VchModuleListGet(host::Session& session, db::Connection& cn, xml::Node& func,
                        xml::Document& answer);
  bool VchPrintDataGet(host::Session& session, db::Connection& cn, xml::Node& func,
                       xml::Document& answer);
  bool VchPrintDataSet(host::Session& session, db::Connection& cn, xml::Node& func,
                       xml::Document& answer);
  bool VchFixedDataGet(host::Session& session, db::Connection& cn, xml::Node& func,
                       xml::Document& answer);
  bool VchLogoGet(host::Session& session, db::Connection& cn, xml::Node& func,
                  xml::Document& answer);

  // The voucher reads answered by the loan and claim classes.
  bool VchGetLoanHeadData(host::Session& session, db::Connection& cn, xml::Node& func,
                          xml::Document& answer);
  bool VchGetLoanBodyData(host::Session& session, db::Connection& cn, xml::Node& func,
                          xml::Document& answer);
  bool VchGetExpenHeadData(host::Session& session, db::Connection& cn, xml::Node& func,
                           xml::Document& answer);
  bool VchGetExpenBodyData(host::Session& session, db::Connection& cn, xml::Node& func,
                           xml::Document& answer);
  // The loans written off by one claim, for those who read the claim without entering or
  // settling claims (approvers): the claim's own links only, never the claimant's open loans.
  bool VchGetExpenLoanData(host::Session& session, db::Connection& cn, xml::Node& func,
                           xml::Document& answer);
  // The history of a loan voucher or a claim by its GUID, for whoever may see the voucher.
  bool VchGetHistory(host::Session& session, db::Connection& cn, xml::Node& func,
                     xml::Document& answer);
  // Creates the other class on first use in this request and calls its public procedure.
  bool Forward(std::unique_ptr<frame::BusinessObject>& object, std::string_view prog_id,
               std::string_view procedure, host::Session& session, db::Connection& cn,
               xml::Node& func, xml::Document& answer);

  std::unique_ptr<frame::BusinessObject> loan_;
  std::unique_ptr<frame::BusinessObject> expense_;
};

}  // namespace rembiz::pubinfo
