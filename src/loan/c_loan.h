// CLoan: the business class behind the loan (advance) voucher pages. A loan voucher is one head
// row in EC_LoanVouch and its payment rows in EC_LoanVouch_Sub. The class lists and navigates
// the vouchers an operator may see, reads head and rows, saves and deletes them, submits them
// to approval and answers the page's checks (borrower limits, whether a voucher may still be
// changed, its write-offs). Writing operations share one transaction per request, opened by the
// first of them.
#pragma once

#include <span>
#include <string>

#include "voucher/voucher_class.h"

namespace rembiz::loan {

// Reads, navigation, template requests and the delete are the voucher classes' shared ones
// (voucher/voucher_class.h).
class CLoan : public voucher::VoucherClass {
 public:
  CLoan();

  // Writes: "savevouch", "submitaudit" (and "delvouch").
  bool SaveVouch(host::Session& session, db::Connection& cn, xml::Node& func,
                 xml::Document& answer);
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

 protected:
  // Vouchers the page may still edit: not approved, submitted exactly when submit-on-save is
  // on; with `in/begin` the opening vouchers with a row not yet repaid.
  std::string ListCondition(host::Session& session, db::Connection& cn,
                            const xml::Node& func) override;
};

}  // namespace rembiz::loan
