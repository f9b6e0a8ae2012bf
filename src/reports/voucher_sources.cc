#include "reports/voucher_sources.h"

#include "db/text.h"
#include "frame/sql_helpers.h"

namespace rembiz::reports {
namespace {

constexpr const char* kHeadColumns =
    "h.AutoID, h.GUID, h.strTypeCode, h.strVouchID, h.dtLoanDate, h.strDepartID, h.strLoanID, "
    "h.strItemClassID, h.strItemID, h.strBudItemID, h.strBill, h.fltRate, h.dblMoney, "
    "h.dblOldMoney, ";

std::string LoanHeads(host::Session& session) {
  return std::string("select ") + kHeadColumns +
         "h.dblReturn, h.strUsed, h.dtExpDate, h.strPersonID, h.blnAudi, h.strAuditorID, "
         "null as strVerifier, h.strMakerID, h.intBudPass, h.blnBegin, h.PZGUID, h.ts, "
         "h.AutoID*2 as listkey from " +
         frame::DataAuthFilter(session, "EC_LoanVouch", "False") + " h";
}

std::string ClaimHeads(host::Session& session) {
  return std::string("select ") + kHeadColumns +
         "0 as dblReturn, h.strUsed, null as dtExpDate, h.strPersonID, h.blnAudi, "
         "h.strAuditorID, h.strVerifier, h.strMakerID, h.intBudPass, 0 as blnBegin, h.PZGUID, "
         "h.ts, h.AutoID*2+1 as listkey from " +
         frame::DataAuthFilter(session, "EC_ExpenVouch", "False") + " h";
}

constexpr const char* kLoanLines =
    "select s.AutoID, s.AutoID*2 as listkey, s.GUID, s.MGuid, s.strBalanceID, s.dblMoney, "
    "s.strPayBankID, s.strBankName, s.strBankAcc, s.strPayID, s.blnNetOK from EC_LoanVouch_Sub s";
constexpr const char* kClaimLines =
    "select b.AutoID, b.AutoID*2+1 as listkey, b.GUID, b.ExpenGUID as MGuid, b.strBalanceID, "
    "b.dblMoney, b.strPayBankID, b.strRecBank as strBankName, b.strRecAcc as strBankAcc, "
    "b.strPayID, b.blnNetOK from EC_BalanceInfo b";

}  // namespace

Family FamilyOfKind(std::string_view kind) {
  std::string k = db::Trim(kind);
  if (k == "3") return Family::kLoans;
  if (k == "1" || k == "2") return Family::kClaims;
  return Family::kBoth;
}

Family RequestFamily(const xml::Node& func) {
  return FamilyOfKind(func.SelectSingleNode("in/cond/row[@name='strtypecode']").Attr("value"));
}

std::string HeadSource(host::Session& session, Family family) {
  switch (family) {
    case Family::kLoans:
      return "(" + LoanHeads(session) + ") ec_vch";
    case Family::kClaims:
      return "(" + ClaimHeads(session) + ") ec_vch";
    case Family::kBoth:
      break;
  }
  return "(" + LoanHeads(session) + " union all " + ClaimHeads(session) + ") ec_vch";
}

std::string LineSource(Family family) {
  switch (family) {
    case Family::kLoans:
      return std::string("(") + kLoanLines + ") ec_vchs";
    case Family::kClaims:
      return std::string("(") + kClaimLines + ") ec_vchs";
    case Family::kBoth:
      break;
  }
  return std::string("(") + kLoanLines + " union all " + kClaimLines + ") ec_vchs";
}

// Join conditions stand in parentheses: the aliases of an English session are bracketed up to
// the next comma, which must not swallow a join.
std::string NameJoins(std::string_view head, const std::string& items) {
  std::string h(head);
  return " left join EC_OperationType on (EC_OperationType.strcode=" + h +
         ".strtypecode) left join department on (department.cdepcode=" + h +
         ".strdepartid) left join person personloan on (personloan.cpersoncode=" + h +
         ".strloanid) left join BG_Item on (BG_Item.citemcode=" + h +
         ".strbuditemid) left join fitem on (fitem.citem_class=" + h +
         ".stritemclassid) left join " + items + " on (fitems.citem_class=" + h +
         ".stritemclassid and fitems.citemcode=" + h + ".stritemid)";
}

std::string RequestItems(const xml::Node& func, db::Connection& cn) {
  std::string item_class =
      db::Trim(func.SelectSingleNode(".//row[@name='stritemclassid']").Attr("value"));
  return frame::ItemSourceSql(item_class, cn);
}

bool FilterOnlyOn(const xml::Node& func, std::string_view table) {
  std::string prefix = db::Lower(table) + ".";
  for (const xml::Node& child : func.SelectSingleNode("in/cond").Children()) {
    if (db::Lower(child.Attr("fieldname")).rfind(prefix, 0) != 0) return false;
  }
  return true;
}

std::string DateColumn(const std::string& column, const std::string& name) {
  return "convert(varchar(10)," + column + ",120) as " + name;
}

std::string UserFilter(const xml::Node& func, bool without_kind) {
  xml::Node cond = func.SelectSingleNode("in/cond");
  if (!without_kind || !cond) return frame::CondFilter(cond);
  xml::Document copy;
  copy.LoadXml("<cond/>");
  xml::Node root = copy.DocumentElement();
  for (const xml::Node& child : cond.Children()) {
    if (child.Attr("name") != "strtypecode") root.AppendChild(child);
  }
  return frame::CondFilter(root);
}

}  // namespace rembiz::reports
