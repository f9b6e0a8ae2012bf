// CMakePZ: turns approved loan vouchers and claims into one balanced general-ledger voucher.
// "makepz" stages the voucher's lines in a work table in the ledger's outside-voucher layout
// (one builder per source family), normalises them against the chart of accounts, merges and
// balances them; when the voucher is not only a draft, the ledger saves it and the sources are
// linked to it. "getpzdata" shows staged or saved lines, "SaveTempPZData" takes lines edited on
// the page, "cancelpz" voids a saved voucher and releases its sources.
#pragma once

#include <span>
#include <string>

#include "frame/frame.h"
#include "ledger/staging.h"

namespace rembiz::ledger {

class AccountSettings;

class CMakePZ : public frame::FramedClass, public frame::RequestState {
 public:
  // Operations: "makepz" (a new voucher link id and line numbering, then MakePZ), "cancelpz",
  // "getpzdata", "SaveTempPZData".
  bool MakePZOperation(host::Session& session, db::Connection& cn, xml::Node& func,
                       xml::Document& answer);
  bool CancelPZ(host::Session& session, db::Connection& cn, xml::Node& func, xml::Document& answer);
  bool GetPZData(host::Session& session, db::Connection& cn, xml::Node& func,
                 xml::Document& answer);
  bool SaveTempPZData(host::Session& session, db::Connection& cn, xml::Node& func,
                      xml::Document& answer);

  // Stages, normalises, merges and stamps the lines of the source vouchers in one transaction;
  // a final voucher (in/blnTemp other than "1") is then converted. A failure rolls everything
  // back and loads the procedure's error document.
  bool MakePZ(host::Session& ologin, db::Connection& CN, xml::Node& oNode, xml::Document& oXml);
  // After the generation committed (or after the ledger saved the voucher): has the ledger save
  // the staged voucher unless it holds it already, links the sources of the first `daily`
  // element to it (all of them with con="1"), tells the bank which voucher carries its paid
  // lines, then registers the cheques of the claims' lines.
  bool ConvertPZ(host::Session& ologin, db::Connection& CN, xml::Node& oNode, xml::Document& oXml);
  // Stamps every staged line with the bill date, the voucher link id, the document count and
  // the maker.
  bool UpdatePublicInfo(host::Session& ologin, db::Connection& CN, xml::Node& oNode,
                        xml::Document& oXml);
  void UpdateItemClass(db::Connection& CN);
  // Creates the staging table and returns its "tempdb.."-prefixed name.
  std::string CreatePZTbl(db::Connection& CN, host::Session& ologin);
  // The ledger's outside-voucher lock (gl_mvocontrol): taken, or refused with "Q7.Rembiz.0025"
  // in strErr and error 9000 when someone holds it; released.
  bool LockPZ(host::Session& ologin, db::Connection& CN, std::string& SysID,
              const std::string& outSign, const std::string& iVouchNo, std::string& strErr);
  bool UnLockPZ(db::Connection& CN, const std::string& SysID, const std::string& outSign,
                const std::string& iVouchNo);

  // The staging table lives until the object ends its request.
  void myHandle(host::Session* ologin, xml::Document& oXml) override;
  void ResetRequestState() override;

  const Generation& generation() const { return generation_; }

 protected:
  const frame::FrameVariant& Variant() const override;
  std::span<const frame::OperationEntry> Operations() const override;
  std::span<const frame::OperationEntry> PublicProcedures() const override;

 private:
  void ReserveSourceVoucher(host::Session& session, db::Connection& cn, const xml::Node& source,
                            AccountSettings& accounts);
  void CancelOne(host::Session& session, db::Connection& cn, const xml::Node& row);
  void DropStagingTable(db::Connection& cn);

  Generation generation_;
};

}  // namespace rembiz::ledger
