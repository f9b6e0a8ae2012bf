#include "host/approver_list.h"

#include <vector>

#include "db/error.h"
#include "db/text.h"
#include "host/database_setup.h"
#include "host/delegation.h"
#include "host/service_sql.h"

namespace rembiz::host {
namespace {

// The approval card numbers of the vouchers kept in a table.
std::string CardsOf(std::string_view system_id, std::string_view voucher_table) {
  if (db::Lower(system_id) != "ec") {
    throw ComError(db::kErrInvalidRequest,
                   "The approver list knows no system '" + std::string(system_id) + "'.",
                   "ApproverList");
  }
  std::string table = db::Lower(voucher_table);
  if (table == "ec_loanvouch") return "N'45'";
  if (table == "ec_expenvouch") return "N'46',N'47'";
  throw ComError(db::kErrInvalidRequest,
                 "The approver list knows no voucher table '" + std::string(voucher_table) + "'.",
                 "ApproverList");
}

// The operator the page names, by id or by name (approvals record the name on the voucher).
std::string UsersOf(std::string_view auditor) {
  return "select u.cUser_Id from QDSystem..UA_User u where u.cUser_Id = " + SqlText(auditor) +
         " or u.cUser_Name = " + SqlText(auditor);
}

// Waiting for one user, `match` being the SQL test of a user id ("in (…)", "= N'…'"): the
// current step names the user, and the user has not decided it in this round, neither in
// person nor through a substitute.
std::string WaitsFor(const std::string& match) {
  return "(exists (select 1 from Host_FlowApprover fa where fa.iFlowId = fi.iFlowId and "
         "fa.iStep = fi.iCurStep and ((fa.iIsUser = 1 and fa.cApprover_Id " +
         match +
         ") or (fa.iIsUser = 0 and fa.cApprover_Id in (select ur.cGroup_Id from "
         "QDSystem..UA_Role ur where ur.cUser_Id " +
         match + ")) or (fa.iIsUser = 2 and fi.cHead_Id " + match +
         "))) and not exists (select 1 from Host_FlowRecord fr where fr.iInstanceId = "
         "fi.iInstanceId and fr.iRound = fi.iRound and fr.iStep = fi.iCurStep and fr.bUndone = 0 "
         "and fr.EAAID in (select EAAID from Host_FlowAction where iEffect in (1, 2)) and "
         "((fr.cUser_Id " +
         match + " and isnull(fr.cForUser_Id, '') = '') or fr.cForUser_Id " + match + ")))";
}

class TableApproverList : public ApproverList {
 public:
  explicit TableApproverList(db::Connection* cn) : cn_(cn) {}

  std::string GetAuditUserListSql(std::string_view system_id, std::string_view voucher_table,
                                  std::string_view auditor) override {
    std::string cards = CardsOf(system_id, voucher_table);
    return "select fi.cVouchGUID from Host_FlowInstance fi where fi.cCardNumber in (" + cards +
           ") and exists (select 1 from Host_FlowRecord fr where fr.iInstanceId = "
           "fi.iInstanceId and fr.bUndone = 0 and fr.EAAID in (select EAAID from "
           "Host_FlowAction where iEffect = 1) and fr.cUser_Id in (" +
           UsersOf(auditor) + "))";
  }

  std::string GetNotInAuditUserListSql(std::string_view system_id, std::string_view voucher_table,
                                       std::string_view auditor) override {
    std::string cards = CardsOf(system_id, voucher_table);
    // Waiting for the auditor: a running instance whose current step waits for the auditor or
    // for one whose work the auditor holds as a substitute today.
    std::string waits = WaitsFor("in (" + UsersOf(auditor) + ")");
    for (const std::string& principal : Principals(auditor)) {
      waits += " or " + WaitsFor("= " + SqlText(principal));
    }
    std::string waiting =
        "select fi.cVouchGUID from Host_FlowInstance fi where fi.cCardNumber in (" + cards +
        ") and fi.iState = 0 and (" + waits + ")";
    std::string table =
        db::Lower(voucher_table) == "ec_loanvouch" ? "EC_LoanVouch" : "EC_ExpenVouch";
    return "select nv.GUID from " + table + " nv where nv.GUID not in (" + waiting + ")";
  }

 private:
  // The users whose work reaches the auditor through today's delegations.
  std::vector<std::string> Principals(std::string_view auditor) {
    if (!cn_) return {};
    db::Recordset rs = cn_->Execute(UsersOf(auditor));
    if (rs.Eof()) return {};
    return DelegationsInForce::Read(*cn_, TodayText()).Principals(rs.Text("cUser_Id"));
  }

  db::Connection* cn_;
};

}  // namespace

std::unique_ptr<ApproverList> CreateApproverList(db::Connection* cn) {
  return std::make_unique<TableApproverList>(cn);
}

}  // namespace rembiz::host
