#include "voucher/write_offs.h"

#include "db/text.h"
#include "frame/convert.h"
#include "frame/request.h"
#include "host/errors.h"

namespace rembiz::voucher {
namespace {

using frame::NormalizeSql;

// The links that apply: those of approved claims.
constexpr const char* kAppliedLinks =
    "From EC_ExpenLoanInfo li Inner Join EC_ExpenVouch e On e.GUID = li.Expenguid Where "
    "IsNull(e.strAuditorID,'') <> '' And ";

// What a row lent: its amount, or the advance of a cheque row.
constexpr const char* kLent = "Coalesce(dblMoney,dblPreMoney,0)";

}  // namespace

int WriteOffKind(std::string_view page_value) {
  std::string value = db::Trim(page_value);
  if (value == "-1") return -1;
  if (value == "1") return 1;
  return 0;
}

std::vector<std::string> LinkedLoanRows(db::Connection& cn, std::string_view claim) {
  db::Recordset rs =
      cn.Execute(NormalizeSql("Select Distinct LoanSubguid From EC_ExpenLoanInfo Where "
                              "Expenguid = " +
                              db::SqlText(claim)));
  std::vector<std::string> rows;
  for (; !rs.Eof(); rs.MoveNext()) rows.push_back(rs.Text("LoanSubguid"));
  return rows;
}

void ApplyWriteOffs(db::Connection& cn, const std::vector<std::string>& loan_rows) {
  if (loan_rows.empty()) return;
  std::string list;
  for (const std::string& row : loan_rows) list += (list.empty() ? "" : ",") + db::SqlText(row);
  const std::string rows = " Where GUID In (" + list + ")";

  // One row settled by two claims at once.
  db::Recordset conflict = cn.Execute(
      NormalizeSql(std::string("Select li.LoanSubguid, Max(IsNull(li.blnUsed,0)) As closes ") +
                   kAppliedLinks + "li.LoanSubguid In (" + list +
                   ") And IsNull(li.blnUsed,0) In (0,1) Group By li.LoanSubguid Having "
                   "Count(Distinct li.Expenguid) > 1"));
  if (!conflict.Eof()) {
    Raise(kErrBusiness,
          conflict.Value("closes").ToInt() == 1 ? "Q7.Rembiz.0288" : "Q7.Rembiz.0287");
  }

  cn.Execute(NormalizeSql(
      std::string("Update EC_LoanVouch_Sub Set dblReturn = (Select IsNull(Sum(li.dblJE),0) ") +
      kAppliedLinks + "li.LoanSubguid = EC_LoanVouch_Sub.GUID And IsNull(li.blnUsed,0) <> 1)" +
      rows));
  db::Recordset over =
      cn.Execute(NormalizeSql(std::string("Select Top 1 GUID From EC_LoanVouch_Sub") + rows +
                              " And Round(IsNull(dblReturn,0),2) > Round(" + kLent + ",2)"));
  if (!over.Eof()) Raise(kErrBusiness, "Q7.Rembiz.0379");
  cn.Execute(NormalizeSql(
      std::string("Update EC_LoanVouch_Sub Set blnSettle = (Case When Exists(Select 1 ") +
      kAppliedLinks +
      "li.LoanSubguid = EC_LoanVouch_Sub.GUID And IsNull(li.blnUsed,0) In (0,1)) Then 1 When "
      "IsNull(dblReturn,0) > 0 And Round(IsNull(dblReturn,0),2) >= Round(" +
      kLent + ",2) Then 1 Else 0 End)" + rows));
  cn.Execute(NormalizeSql(
      "Update EC_LoanVouch Set dblReturn = (Select IsNull(Sum(IsNull(s.dblReturn,0)),0) From "
      "EC_LoanVouch_Sub s Where s.MGuid = EC_LoanVouch.GUID), blnSettle = (Case When "
      "Exists(Select 1 From EC_LoanVouch_Sub s Where s.MGuid = EC_LoanVouch.GUID And "
      "IsNull(s.blnSettle,0) = 0) Then 0 Else 1 End) Where GUID In (Select MGuid From "
      "EC_LoanVouch_Sub" +
      rows + ")"));
}

}  // namespace rembiz::voucher
