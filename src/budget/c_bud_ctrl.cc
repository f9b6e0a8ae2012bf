#include "budget/c_bud_ctrl.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <memory>
#include <vector>

#include "db/text.h"
#include "frame/convert.h"
#include "frame/registry.h"
#include "host/budget_service.h"
#include "host/errors.h"
#include "host/messages.h"

namespace rembiz::budget {
namespace {

using db::Lower;
using db::Trim;

using frame::NormalizeSql;
using frame::SqlEscape;

using db::kErrInvalidRequest;

constexpr frame::FrameVariant kVariant{
    .class_name = "CBudCtrl",
    .task_code = "",
    .entry_task = frame::EntryTask::kNone,
    .transactions = frame::Transactions::kNone,
    .error_form = frame::ErrorForm::kStandard,
    .busy_message = false,
};

constexpr frame::OperationEntry kOperations[] = {
    frame::Op<&CBudCtrl::CheckBud>("CheckBud"),
    frame::Op<&CBudCtrl::GetPort>("GetPort"),
};

// Voucher kind names as the budget service knows them.
constexpr const char* kLoanKind = "借款单";
constexpr const char* kClaimKind = "报销单";

// Loan rows without a bill number that a claim wrote off, with their own budget data.
constexpr const char* kWrittenOffLoansSql =
    "SELECT dbo.EC_ExpenLoanInfo.dblJE, dbo.EC_LoanVouch.strTypeCode, "
    "dbo.EC_LoanVouch.strVouchID,dbo.EC_LoanVouch.GUID, dbo.EC_LoanVouch.dtLoanDate, "
    "dbo.EC_LoanVouch.strUsed, dbo.EC_LoanVouch.strBudItemID, "
    "dbo.EC_LoanVouch.strPort1, dbo.EC_LoanVouch.strPort1Value, "
    "dbo.EC_LoanVouch.strPort2, dbo.EC_LoanVouch.strPort2Value, "
    "dbo.EC_LoanVouch.strPort3 , dbo.EC_LoanVouch.strPort3Value,ec_operationtype.strName "
    "FROM dbo.EC_LoanVouch RIGHT OUTER JOIN "
    "dbo.EC_LoanVouch_Sub ON "
    "dbo.EC_LoanVouch.GUID = dbo.EC_LoanVouch_Sub.MGuid RIGHT OUTER JOIN "
    "dbo.EC_ExpenLoanInfo ON "
    "dbo.EC_LoanVouch_Sub.Guid = dbo.EC_ExpenLoanInfo.LoanSubguid "
    "Left join ec_operationtype on EC_LoanVouch.strtypecode = ec_operationtype.strcode "
    "WHERE (ISNULL(dbo.EC_LoanVouch_Sub.strBillID, '') = '') And "
    "dbo.EC_ExpenLoanInfo.Expenguid = '";

// The text of the first child of `in`.
std::string FirstInText(const xml::Node& func) {
  xml::Node in = func.Child("in");
  xml::Node first = in.FirstChild();
  return Trim(first ? first.Text() : in.Text());
}

// Claims are budget-controlled when the option reads "false"; loans otherwise.
bool ClaimsMode(db::Connection& cn, std::string_view sql, bool* found = nullptr) {
  db::Recordset rs = cn.Execute(NormalizeSql(sql));
  if (found) *found = !rs.Eof();
  return !rs.Eof() && Lower(rs.Text("cvalue")) == "false";
}

// A refusal in the budget service's own words.
[[noreturn]] void RaiseText(const std::string& text) {
  throw ComError(kErrBusiness, text, "Rembiz");
}

[[noreturn]] void RaiseServiceError(const host::BudgetService& service,
                                    std::string_view default_key) {
  std::string text = service.LastError();
  if (text.empty()) Raise(kErrBusiness, default_key);
  throw ComError(kErrBusiness, text, "Rembiz");
}

// What the budget service is told about a voucher (or a written-off loan) at the current row.
host::BudgetEntry EntryOf(const db::Recordset& rs, const char* kind, double amount,
                          host::Session& session) {
  host::BudgetEntry entry;
  entry.kind = kind;
  entry.type_name = rs.Text("strName");
  entry.vouch_guid = rs.Text("GUID");
  entry.vouch_id = rs.Text("strVouchID");
  entry.vouch_date = rs.Text("dtLoanDate").substr(0, 10);
  entry.used = rs.Text("strUsed");
  entry.item = rs.Text("strBudItemID");
  for (int i = 0; i < 3; ++i) {
    std::string port = "strPort" + std::to_string(i + 1);
    entry.port_codes[i] = PortCode(rs.Text(port));
    entry.port_values[i] = PortCode(rs.Text(port + "Value"));
  }
  entry.amount = amount;
  entry.user = session.UserId();
  // The budget year is the voucher's; the login year stands in for a voucher without a date.
  auto year = db::ParseNumber(entry.vouch_date.substr(0, 4));
  entry.year = year && entry.vouch_date.size() == 10 ? static_cast<int>(*year)
                                                     : std::atoi(session.FiscalYear().c_str());
  return entry;
}

const frame::ClassRegistrar kRegistrar("Rembiz.CBudCtrl",
                                       [] { return std::make_unique<CBudCtrl>(); });

}  // namespace

std::string PortCode(std::string_view value) {
  size_t open = value.find('[');
  size_t close = value.find(']');
  if (open != std::string_view::npos && close != std::string_view::npos && close > open) {
    return std::string(value.substr(open + 1, close - open - 1));
  }
  return Trim(value);
}

const frame::FrameVariant& CBudCtrl::Variant() const { return kVariant; }

std::span<const frame::OperationEntry> CBudCtrl::Operations() const { return kOperations; }

std::span<const frame::OperationEntry> CBudCtrl::PublicProcedures() const { return kOperations; }

bool CBudCtrl::CheckBud(host::Session&, db::Connection& cn, xml::Node& func,
                        xml::Document& answer) {
  std::string type = FirstInText(func);
  if (type.empty()) Raise(kErrBusiness, "Q7.Rembiz.0148");
  std::unique_ptr<host::BudgetService> service = host::CreateBudgetService();
  if (!service->Init(cn) || !service->IsActive("EC")) {
    RaiseServiceError(*service, "Q7.Rembiz.0366");
  }
  bool found = false;
  bool claims_mode = ClaimsMode(
      cn, "Select cvalue From AccInformation Where cSysID = 'EC' And cName = 'blnBudCtrl'", &found);
  if (!found) Raise(kErrBusiness, "Q7.Rembiz.0150");
  if (claims_mode && type == "EC01") Raise(kErrBusiness, "Q7.Rembiz.0151");
  if (!claims_mode && type != "EC01") Raise(kErrBusiness, "Q7.Rembiz.0152");
  answer.LoadXml("<Return />");
  return true;
}

bool CBudCtrl::GetPort(host::Session&, db::Connection& cn, xml::Node& func, xml::Document& answer) {
  std::string item = FirstInText(func);
  if (item.empty()) Raise(kErrBusiness, "Q7.Rembiz.0153");
  std::unique_ptr<host::BudgetService> service = host::CreateBudgetService();
  std::vector<host::BudgetDimension> dimensions;
  if (!service->Init(cn) || !service->GetPort(item, &dimensions)) {
    RaiseServiceError(*service, "Q7.Rembiz.0149");
  }
  std::string attributes;
  for (const host::BudgetDimension& dimension : dimensions) {
    std::string port = "Port" + std::to_string(dimension.port);
    attributes += port + "='" + frame::XmlEscape(dimension.code) + "' " + port + "Name='" +
                  frame::XmlEscape(dimension.name) + "' ";
  }
  answer.LoadXml("<Return " + attributes + "/>");
  return true;
}

void CBudCtrl::CheckBudCtrl(host::Session& ologin, db::Connection& CN, std::string_view strGUID,
                            std::string_view ts, std::string_view strTable, bool blnAudit,
                            bool /*blnWorkFlow*/) {
  std::string table(strTable);
  bool loan = Lower(table) == "ec_loanvouch";
  if (!loan && Lower(table) != "ec_expenvouch") {
    throw ComError(kErrInvalidRequest, "Invalid request: '" + table + "' is not a voucher table.",
                   "Rembiz");
  }
  // A row version that is no number can only be a stale or forged one.
  if (!frame::IsNumeric(db::Variant(ts))) Raise(kErrBusiness, "Q7.Rembiz.0368");
  std::string version = frame::SqlNumber(db::Variant(ts));
  std::string guid = SqlEscape(strGUID);
  std::string operator_name = SqlEscape(ologin.UserName());
  std::string where = " Where GUID = '" + guid + "'";
  std::string where_version = where + " and cast(ts as money)=" + version;

  // Every statement here changes exactly the voucher; no row means it changed meanwhile.
  auto update = [&](const std::string& sql) {
    int64_t affected = 0;
    CN.Execute(NormalizeSql(sql), &affected);
    if (affected == 0) Raise(kErrBusiness, "Q7.Rembiz.0368");
  };

  bool claims_mode = ClaimsMode(
      CN, "select cvalue from accinformation where csysid = 'ec' and cname = 'blnBudCtrl'");
  bool controlled = loan ? !claims_mode : claims_mode;
  bool updated = false;  // the voucher's row version moved in this call
  bool approval_written = false;
  if (controlled) {
    db::Recordset voucher =
        CN.Execute(NormalizeSql("Select * From " + table + " left join ec_operationtype on " +
                                table + ".strtypecode = ec_operationtype.strcode" + where));
    if (voucher.Eof()) Raise(kErrBusiness, "Q7.Rembiz.0368");
    int64_t bud_pass = voucher.Value("intBudPass").ToInt();
    if (blnAudit && bud_pass == 1) {
      // The budget already passed this voucher: approve without asking again.
      update("Update " + table + " Set strAuditorID = '" + operator_name + "',intOverBud=-1" +
             where);
      approval_written = true;
    } else if (voucher.Text("strBudItemID").empty()) {
      // Nothing to check against a budget.
    } else if (bud_pass == 0 && voucher.Value("intOverBud").ToInt() == 3) {
      Raise(kErrBusiness, "Q7.Rembiz.0157");
    } else {
      // A voucher changed meanwhile is refused before the budget books anything for it.
      if (CN.Execute(NormalizeSql("Select GUID From " + table + where_version)).Eof()) {
        Raise(kErrBusiness, "Q7.Rembiz.0368");
      }
      std::unique_ptr<host::BudgetService> service = host::CreateBudgetService();
      double amount = voucher.Value("dblOldMoney").ToDouble() * (blnAudit ? 1 : -1);
      host::BudgetEntry entry = EntryOf(voucher, loan ? kLoanKind : kClaimKind, amount, ologin);
      host::BudgetOutcome outcome;
      if (!service->Init(CN) || !service->CheckBudget(entry, &outcome)) {
        std::string text = service->LastError();
        RaiseText(text.empty() ? host::MessageText("Q7.Rembiz.0149") : text);
      }
      switch (outcome.result) {
        case host::BudgetService::kWithinBudget:
        case host::BudgetService::kWarned:
          update("Update " + table + " Set intBudPass = " + (blnAudit ? "1" : "0") + where_version);
          updated = true;
          break;
        case host::BudgetService::kOverBudget:
          update("Update " + table +
                 " Set intBudPass = 0 ,intOverBud = " + std::to_string(outcome.result) +
                 ",strOverPerson=Null,strOverDate=Null,strOverDesc=Null" + where_version);
          RaiseText(outcome.text);
        case host::BudgetService::kNotControlled:
          // A cancellation with nothing left to release clears the stored outcome.
          if (!blnAudit) {
            update("Update " + table + " Set intBudPass = 0" + where_version);
            updated = true;
          }
          break;
        default:
          break;
      }
      if (!loan) {
        // The loans a claim wrote off give their amounts back to their own budgets on
        // approval, and take them again when the approval is cancelled.
        db::Recordset loans;
        try {
          loans = CN.Execute(NormalizeSql(kWrittenOffLoansSql + guid + "'"));
        } catch (const ComError&) {
          Raise(kErrBusiness, "Q7.Rembiz.0158");
        }
        for (; !loans.Eof(); loans.MoveNext()) {
          if (loans.Text("strBudItemID").empty()) continue;
          double written_off = loans.Value("dblJE").ToDouble() * (blnAudit ? -1 : 1);
          host::BudgetEntry loan_entry = EntryOf(loans, kLoanKind, written_off, ologin);
          loan_entry.link_guid = std::string(strGUID);
          host::BudgetOutcome loan_outcome;
          if (!service->CheckBudget(loan_entry, &loan_outcome)) {
            Raise(kErrBusiness, "Q7.Rembiz.0329");
          }
        }
      }
    }
  }

  if (!approval_written) {
    if (blnAudit) {
      update("Update " + table + " Set strAuditorID = '" + operator_name + "',intOverBud=-1" +
             where + (updated ? "" : " and Cast(ts As Money)=" + version));
    } else {
      update("Update " + table + " Set strAuditorID = Null,intOverBud=-1" + where +
             (updated ? "" : " And Cast(ts as Money)=" + version));
    }
  }
  if (loan) {
    // Touches the rows so that their row versions change with the approval.
    CN.Execute(NormalizeSql("Update " + table + "_Sub Set guid=guid Where MGUID = '" + guid + "'"));
  }
}

}  // namespace rembiz::budget
