// Submission of loan vouchers and expense claims to the approval flow: the voucher is described
// to the host's flow service, a flow instance is started and the voucher is marked submitted
// (blnAudi = 1). Loans and claims share this code; both run it inside their request's
// transaction, so a failure leaves the voucher as it was.
#pragma once

#include <string>
#include <string_view>

#include "db/connection.h"
#include "host/session.h"
#include "xml/document.h"

namespace rembiz::voucher {

// A voucher kind as the approval flow knows it, chosen by the first character of strTypeCode.
struct VoucherKind {
  std::string_view card;   // card number: "45" loans, "46" income claims, "47" expenditure claims
  std::string_view task;   // task code named to the flow: "EC0202" loans, "EC0204" claims
  std::string_view table;  // voucher table
  std::string_view name;   // kind name used in the routing values
};

// The kind of an operation type code; nullptr for a code outside the three kinds.
const VoucherKind* KindOfTypeCode(std::string_view type_code);

// The voucher description (EAdata) that a flow instance is started with: the amount in home
// currency as the amount condition, department and operation type as routing values, the task
// code and the voucher number.
std::string EAdata(const VoucherKind& kind, std::string_view amount, std::string_view department,
                   std::string_view type_code, std::string_view vouch_id);

// Submits the voucher of a head record (attributes AutoID, blnModify, GUID, strDepartID,
// strTypeCode, strVouchID, dblOldMoney): starts its flow instance and marks it submitted.
// A record with an AutoID and without blnModify "1" (submitted as part of its own save) first
// asks whether a flow can start at all. Raises error 9000 on failure.
bool InitAudit(host::Session& session, db::Connection& cn, const xml::Node& node);

// The "submitaudit" operation on a voucher table ("EC_LoanVouch" or "EC_ExpenVouch"): `in/GUID`
// and `in/ts` name an unsubmitted voucher; answers "<RetValue ts='…' />" with its new row version.
bool SubmitAudit(host::Session& session, db::Connection& cn, xml::Node& func, xml::Document& answer,
                 std::string_view table);

// The submit-on-save option (105) of the module; its row must exist ("Q7.Rembiz.0210").
bool SubmitOnSave(db::Connection& cn);

}  // namespace rembiz::voucher
