// CNetPay: hands approved loan payments and verified claims' settlement lines to the online
// bank as payment bills ("netpay") and withdraws unconfirmed ones ("netunpay"); loan rows paid out
// in cash are recorded by the cashier ("cashpay").
#pragma once

#include <span>
#include <string>

#include "frame/frame.h"

namespace rembiz::payment {

class CNetPay : public frame::FramedClass {
 public:
  bool NetPay(host::Session& session, db::Connection& cn, xml::Node& func, xml::Document& answer);
  bool NetUnpay(host::Session& session, db::Connection& cn, xml::Node& func, xml::Document& answer);
  // Records the cash payout of approved loan rows the bank does not pay ("cashpay").
  bool CashPay(host::Session& session, db::Connection& cn, xml::Node& func, xml::Document& answer);

  // Pays (`pay` true) or withdraws every payment line under the operation's `in`, each line in
  // its own transaction. A failure loads the procedure's error document and returns false;
  // lines done before it stay done.
  bool NetoNB(host::Session& session, db::Connection& cn, bool pay, xml::Node& func,
              xml::Document& answer);

  // A fresh name for a work table in tempdb: "T" + 19 hexadecimal digits of a new GUID.
  static std::string GetRndName(db::Connection& CN);

 protected:
  const frame::FrameVariant& Variant() const override;
  std::span<const frame::OperationEntry> Operations() const override;
};

}  // namespace rembiz::payment
