// CExpense: the business class behind the expense claim pages. A claim is one head row in
// EC_ExpenVouch and its expense rows in EC_ExpenVouch_Sub; income claims (operation types
// beginning with "1") and expenditure claims ("2") share the tables and are numbered apart.
// Besides reading, navigating, saving, deleting and submitting claims, the class records the
// loans written off against a claim and its payment lines. Writing operations share one
// transaction per request, opened by the first of them.
#pragma once

#include <span>
#include <string>

#include "voucher/voucher_class.h"

namespace rembiz::expense {

// Reads, navigation, template requests and the delete are the voucher classes' shared ones
// (voucher/voucher_class.h); the delete and the save answer their failures under their `out`.
class CExpense : public voucher::VoucherClass {
 public:
  CExpense();

  // Writes: "savevouch", "submitaudit" (and "delvouch", which deletes loan vouchers too).
  bool SaveVouch(host::Session& session, db::Connection& cn, xml::Node& func,
                 xml::Document& answer);
  bool SubmitAudit(host::Session& session, db::Connection& cn, xml::Node& func,
                   xml::Document& answer);
  // Submits the claim of a head record to approval; raises error 9000 on failure.
  bool InitAudit(host::Session& m_objLogin, db::Connection& CN, const xml::Node& oNode);

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

 protected:
  // Claims the page may still edit: not approved, submitted exactly when submit-on-save is on,
  // of the templates the operator may use.
  std::string ListCondition(host::Session& session, db::Connection& cn,
                            const xml::Node& func) override;

 private:
  // The write-off rows of a claim, or the loan rows a claimant may write off.
  std::string LoanRowsXml(host::Session& session, db::Connection& cn, const xml::Node& in);
};

}  // namespace rembiz::expense
