// CAudit: the approvers' class. Submitted loan vouchers and claims are approved or their
// approval cancelled in a batch from a list ("CheckAudit") or one approver action at a time
// through the host's approval flow ("AuditVouch"); the flow and its records are shown
// ("GetAuditInfo", "GetAudiState"), and a submission not yet approved is withdrawn ("DelAudit").
// Approvers also name their substitutes while away ("GetDelegations", "SaveDelegation",
// "DelDelegation").
// The final write of an approval is the budget check's (CBudCtrl::CheckBudCtrl); each voucher
// runs in its own transaction, opened here, and under the function task of its kind.
#pragma once

#include <span>
#include <string_view>

#include "frame/frame.h"

namespace rembiz::approval {

class CAudit : public frame::FramedClass {
 public:
  bool CheckAudit(host::Session& session, db::Connection& cn, xml::Node& func,
                  xml::Document& answer);
  bool GetAuditInfo(host::Session& session, db::Connection& cn, xml::Node& func,
                    xml::Document& answer);
  bool GetAudiState(host::Session& session, db::Connection& cn, xml::Node& func,
                    xml::Document& answer);
  bool AuditVouch(host::Session& session, db::Connection& cn, xml::Node& func,
                  xml::Document& answer);
  bool DelAudit(host::Session& session, db::Connection& cn, xml::Node& func, xml::Document& answer);
  // Substitutes while away: list, add, remove.
  bool GetDelegations(host::Session& session, db::Connection& cn, xml::Node& func,
                      xml::Document& answer);
  bool SaveDelegation(host::Session& session, db::Connection& cn, xml::Node& func,
                      xml::Document& answer);
  bool DelDelegation(host::Session& session, db::Connection& cn, xml::Node& func,
                     xml::Document& answer);

 protected:
  const frame::FrameVariant& Variant() const override;
  std::span<const frame::OperationEntry> Operations() const override;
  std::span<const frame::OperationEntry> PublicProcedures() const override;
};

// Registers in the cheque register the rows of an approved loan that pay an advance by cheque
// at approval. Raises error 9000 when a row lacks its cheque number or account, or the register
// refuses it.
void RegisterLoanCheques(host::Session& session, db::Connection& cn, std::string_view guid);

}  // namespace rembiz::approval
