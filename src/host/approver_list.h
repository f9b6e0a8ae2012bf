// The approval filter of the voucher lists: which vouchers an approver may act on now, and which
// ones the approver has passed. Both answers are subqueries of voucher GUIDs that the lists put
// inside "IN (…)"; they read the approval-flow tables (Host_Flow…) and the users of the system
// database, so they always follow the flows as they stand.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "db/connection.h"

namespace rembiz::host {

class ApproverList {
 public:
  virtual ~ApproverList() = default;

  // GUIDs of the table's vouchers that the auditor has passed at some step (a pass not taken
  // back). `system_id` is "EC"; `voucher_table` EC_LoanVouch or EC_ExpenVouch; the auditor is
  // an operator's id or name. Throws ComError for another system or table.
  virtual std::string GetAuditUserListSql(std::string_view system_id,
                                          std::string_view voucher_table,
                                          std::string_view auditor) = 0;
  // GUIDs of the table's vouchers that are not waiting for the auditor: no running flow, or a
  // flow whose current step names neither the auditor (as a user, through a role or as the
  // department's head) nor a user whose work reaches the auditor through today's delegations,
  // or whose current step each of them named there has already decided in this round.
  virtual std::string GetNotInAuditUserListSql(std::string_view system_id,
                                               std::string_view voucher_table,
                                               std::string_view auditor) = 0;
};

// With a connection, the lists follow today's delegations (work the auditor holds as a
// substitute waits for the auditor too); without one, only the auditor's own.
std::unique_ptr<ApproverList> CreateApproverList(db::Connection* cn = nullptr);

}  // namespace rembiz::host
