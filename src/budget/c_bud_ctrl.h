// CBudCtrl: budget control of loans and claims over the host's budget service. The pages ask
// whether budget control applies to a voucher type ("CheckBud") and which dimensions a budget
// item has ("GetPort"); the approval operations call CheckBudCtrl for every voucher that is
// finally approved or whose approval is cancelled.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "frame/frame.h"

namespace rembiz::budget {

class CBudCtrl : public frame::FramedClass {
 public:
  bool CheckBud(host::Session& session, db::Connection& cn, xml::Node& func, xml::Document& answer);
  bool GetPort(host::Session& session, db::Connection& cn, xml::Node& func, xml::Document& answer);

  // Checks the voucher `strGUID` of `strTable` ("EC_LoanVouch" or "EC_ExpenVouch") against the
  // budget and writes the approval (`blnAudit` true) or its cancellation. `ts` is the row
  // version the caller read; the voucher must not have changed since. A refusal raises error
  // 9000 with its text (the budget service's over-budget text, or a message): the caller rolls
  // back its transaction. `blnWorkFlow` is accepted for the callers' signature and changes
  // nothing.
  void CheckBudCtrl(host::Session& ologin, db::Connection& CN, std::string_view strGUID,
                    std::string_view ts, std::string_view strTable, bool blnAudit,
                    bool blnWorkFlow);

 protected:
  const frame::FrameVariant& Variant() const override;
  std::span<const frame::OperationEntry> Operations() const override;
  std::span<const frame::OperationEntry> PublicProcedures() const override;
};

// The code of a display value "[code]name": the text between the first "[" and the first "]";
// a value without brackets is its own code.
std::string PortCode(std::string_view value);

}  // namespace rembiz::budget
