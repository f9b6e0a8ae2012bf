#include "payment/c_net_pay.h"

#include <algorithm>
#include <memory>

#include "db/transaction.h"
#include "frame/convert.h"
#include "frame/registry.h"
#include "frame/sql_helpers.h"
#include "host/bank_link.h"
#include "host/errors.h"
#include "host/messages.h"
#include "host/notices.h"
#include "voucher/history.h"
#include "voucher/voucher_state.h"

namespace rembiz::payment {
namespace {

using frame::NormalizeSql;
using frame::SqlEscape;

constexpr frame::FrameVariant kVariant{
    .class_name = "CNetPay",
    .task_code = "",
    .entry_task = frame::EntryTask::kPerOperation,
    .transactions = frame::Transactions::kNone,
    .error_form = frame::ErrorForm::kStandard,
    .busy_message = false,
};

constexpr frame::OperationEntry kOperations[] = {
    frame::OwnErrors(frame::Op<&CNetPay::NetPay>("netpay", frame::kCheckHostLock, "EC020501"),
                     "NetoNB"),
    frame::OwnErrors(frame::Op<&CNetPay::NetUnpay>("netunpay", frame::kCheckHostLock, "EC020502"),
                     "NetoNB"),
    frame::OwnErrors(frame::Op<&CNetPay::CashPay>("cashpay", frame::kCheckHostLock, "EC020501"),
                     "CashPay"),
};

// The bank's bill kind for payments handed over by this module.
constexpr int kBillKind = 4;

// State of one payment line: a loan row, or a settlement line of a verified claim. A line of a
// voucher out of the operator's reach is not found.
std::string StateSql(host::Session& session, bool loan, const std::string& guid) {
  if (loan) {
    return "SELECT Convert(money,EC_LoanVouch.ts) as ts, EC_LoanVouch_Sub.strPayID as "
           "strPayID,EC_LoanVouch_Sub.blnNetOK as blnNetOK, EC_LoanVouch.strAuditorID as "
           "strAuditorID,EC_LoanVouch.strMakerID as strMakerID FROM " +
           frame::DataAuthFilter(session, "EC_LoanVouch", "True") +
           " INNER JOIN EC_LoanVouch_Sub ON EC_LoanVouch.GUID = EC_LoanVouch_Sub.MGuid Where "
           "EC_LoanVouch_Sub.GUID='" +
           SqlEscape(guid) + "'";
  }
  return "SELECT Convert(money,EC_ExpenVouch.ts) as ts, EC_BalanceInfo.strPayID as "
         "strPayID,EC_BalanceInfo.blnNetOK as blnNetOK, EC_ExpenVouch.strAuditorID as "
         "strAuditorID,EC_ExpenVouch.strMakerID as strMakerID FROM " +
         frame::DataAuthFilter(session, "EC_ExpenVouch", "True") +
         " INNER JOIN EC_BalanceInfo ON EC_ExpenVouch.GUID = EC_BalanceInfo.ExpenGUID Where "
         "EC_BalanceInfo.GUID='" +
         SqlEscape(guid) + "' and isnull(EC_ExpenVouch.strverifier,'') <>''";
}

// The bill record of one payment line, built into the work table.
std::string BillSql(bool loan, const std::string& guid, const std::string& table,
                    const std::string& person) {
  std::string line = loan ? "EC_LoanVouch_Sub" : "EC_BalanceInfo";
  std::string head = loan ? "EC_LoanVouch" : "EC_ExpenVouch";
  std::string money = line + ".dblMoney";
  std::string rate = head + ".fltRate";
  std::string sql =
      "SELECT " + line + ".GUID as iID, " + line + ".strBillID as cNoteNo, " + head +
      ".dtLoanDate as dVouchDate, " + money + " as iAmount_f, " + head +
      ".strBill as cExch_name, CASE WHEN foreigncurrency.bcal = 1 THEN " + money + " * " + rate +
      " ELSE " + money + " / " + rate + " END as iAmount, bank.cBAccount as cNatBankAccount, " +
      line + (loan ? ".strBankAcc" : ".strRecAcc") + " as cBankAccount, " + head +
      ".strPersonID as cOperator, " + rate + " as iExchRate, " + head + ".strUsed as cDigest, " +
      line + ".strBalanceID as cSSCode, " + head + ".strDepartID as cDeptCode, " + head +
      ".strItemClassID as cItem_Class, " + head + ".strItemID as cItemCode, '" + SqlEscape(person) +
      "' as cPerson Into tempdb.." + table;
  if (loan) {
    sql +=
        " FROM EC_LoanVouch_Sub INNER JOIN EC_LoanVouch ON EC_LoanVouch_Sub.MGuid = "
        "EC_LoanVouch.GUID LEFT JOIN Bank ON EC_LoanVouch_Sub.strPayBankID = bank.cBCode LEFT "
        "JOIN foreigncurrency ON EC_LoanVouch.strBill = foreigncurrency.cexch_name";
  } else {
    sql +=
        " FROM EC_BalanceInfo INNER JOIN EC_ExpenVouch ON EC_BalanceInfo.ExpenGUID = "
        "EC_ExpenVouch.GUID INNER JOIN Bank ON EC_BalanceInfo.strPayBankID = bank.cBCode INNER "
        "JOIN foreigncurrency ON EC_ExpenVouch.strBill = foreigncurrency.cexch_name";
  }
  return sql + " Where " + line + ".GUID = '" + SqlEscape(guid) + "'";
}

void DropWorkTable(db::Connection& cn, const std::string& table) {
  cn.Execute(NormalizeSql("IF EXISTS(SELECT * FROM tempdb..sysobjects WHERE NAME = '" + table +
                          "') Drop Table tempdb.." + table));
}

void Pay(host::Session& session, db::Connection& cn, bool loan, const std::string& guid,
         const std::string& table) {
  db::Recordset state = cn.Execute(NormalizeSql(StateSql(session, loan, guid)));
  if (state.Eof()) Raise(kErrBusiness, loan ? "Q7.Rembiz.0110" : "Q7.Rembiz.0112");
  if (!state.Text("strPayID").empty() || state.Value("blnNetOK").ToBool()) {
    Raise(kErrBusiness, "Q7.Rembiz.0111");
  }
  DropWorkTable(cn, table);
  cn.Execute(NormalizeSql(BillSql(loan, guid, table, session.UserName())));
  db::Recordset bills = cn.Execute(NormalizeSql("Select * From tempdb.." + table));

  std::unique_ptr<host::BankLink> bank = host::CreateBankLink(cn);
  xml::Document result;
  std::string error;
  if (!bank->ImportBill(bills, session, kBillKind, result, error)) {
    throw ComError(kErrBusiness, error, "Rembiz");
  }
  std::string target = loan ? "EC_LoanVouch_Sub" : "EC_BalanceInfo";
  voucher::PaymentLineHistory history(cn, loan, guid);
  for (const xml::Node& row : result.DocumentElement().SelectNodes("in/z:row")) {
    cn.Execute(NormalizeSql("Update " + target + " Set strPayID = '" +
                            SqlEscape(row.Attr("payid")) + "' Where guid = '" +
                            SqlEscape(row.Attr("guid")) + "'"));
  }
  history.Write({session.UserId(), session.UserName()}, voucher::history::kPaymentSent);
}

// A loan row the bank does not pay (cash, or no payee account) is paid out by the cashier, who
// records it here: the row is then paid and confirmed at once, as a bank payment is once the
// bank confirms it, so the loan can be booked and can no longer be unapproved.
void PayInCash(host::Session& session, db::Connection& cn, bool loan, const std::string& guid) {
  if (!loan) Raise(kErrBusiness, "Rembiz.Payment.CashLoansOnly");
  db::Recordset state = cn.Execute(NormalizeSql(
      "SELECT EC_LoanVouch.strAuditorID, EC_LoanVouch.blnBegin, EC_LoanVouch_Sub.AutoID, "
      "EC_LoanVouch_Sub.strPayID, EC_LoanVouch_Sub.blnNetOK, EC_LoanVouch_Sub.dblMoney, "
      "EC_LoanVouch_Sub.strPayBankID, EC_LoanVouch_Sub.strBankName, EC_LoanVouch_Sub.strBankAcc "
      "FROM " +
      frame::DataAuthFilter(session, "EC_LoanVouch", "True") +
      " INNER JOIN EC_LoanVouch_Sub ON EC_LoanVouch.GUID = EC_LoanVouch_Sub.MGuid Where "
      "EC_LoanVouch_Sub.GUID='" +
      SqlEscape(guid) + "'"));
  if (state.Eof()) Raise(kErrBusiness, "Q7.Rembiz.0110");
  if (!state.Text("strPayID").empty() || state.Value("blnNetOK").ToBool()) {
    Raise(kErrBusiness, "Q7.Rembiz.0111");
  }
  if (state.Text("strAuditorID").empty() || state.Value("blnBegin").ToBool() ||
      frame::NumValue(state.Value("dblMoney")) <= 0) {
    Raise(kErrBusiness, "Rembiz.Payment.CashNotDue");
  }
  if (!state.Text("strPayBankID").empty() && !state.Text("strBankName").empty() &&
      !state.Text("strBankAcc").empty()) {
    Raise(kErrBusiness, "Rembiz.Payment.CashOnlineLine");
  }
  voucher::PaymentLineHistory history(cn, loan, guid);
  int64_t affected = 0;
  cn.Execute(NormalizeSql("Update EC_LoanVouch_Sub Set strPayID = '" +
                          SqlEscape(voucher::CashPayId(session.LoginDate(), state.Text("AutoID"))) +
                          "', blnNetOK = 1 Where GUID = '" + SqlEscape(guid) +
                          "' And isnull(strPayID,'') = ''"),
             &affected);
  if (affected != 1) Raise(kErrBusiness, "Q7.Rembiz.0117");
  history.Write({session.UserId(), session.UserName()}, voucher::history::kPaid);
  host::NoticePaid(cn, guid, session.UserName());
}

void Withdraw(host::Session& session, db::Connection& cn, bool loan, const std::string& guid) {
  db::Recordset state = cn.Execute(NormalizeSql(StateSql(session, loan, guid)));
  if (state.Eof()) Raise(kErrBusiness, loan ? "Q7.Rembiz.0110" : "Q7.Rembiz.0112");
  std::string pay_id = state.Text("strPayID");
  if (pay_id.empty()) Raise(kErrBusiness, "Q7.Rembiz.0113");
  if (state.Value("blnNetOK").ToBool()) Raise(kErrBusiness, "Q7.Rembiz.0114");

  std::unique_ptr<host::BankLink> bank = host::CreateBankLink(cn);
  std::string error;
  if (!bank->DeleteBill("EC", kBillKind, guid, pay_id, error)) {
    throw ComError(kErrBusiness, error, "Rembiz");
  }
  voucher::PaymentLineHistory history(cn, loan, guid);
  int64_t affected = 0;
  cn.Execute(NormalizeSql("Update " + std::string(loan ? "EC_LoanVouch_Sub" : "EC_BalanceInfo") +
                          " Set strPayID = NULL,blnNetOK=0 Where GUID = '" + SqlEscape(guid) + "'"),
             &affected);
  if (affected != 1) Raise(kErrBusiness, "Q7.Rembiz.0117");
  history.Write({session.UserId(), session.UserName()}, voucher::history::kPaymentWithdrawn);
}

const frame::ClassRegistrar kRegistrar("Rembiz.CNetPay",
                                       [] { return std::make_unique<CNetPay>(); });

}  // namespace

const frame::FrameVariant& CNetPay::Variant() const { return kVariant; }

std::span<const frame::OperationEntry> CNetPay::Operations() const { return kOperations; }

bool CNetPay::NetPay(host::Session& session, db::Connection& cn, xml::Node& func,
                     xml::Document& answer) {
  return NetoNB(session, cn, true, func, answer);
}

bool CNetPay::NetUnpay(host::Session& session, db::Connection& cn, xml::Node& func,
                       xml::Document& answer) {
  return NetoNB(session, cn, false, func, answer);
}

bool CNetPay::CashPay(host::Session& session, db::Connection& cn, xml::Node& func, xml::Document&) {
  // As online: a failing line is undone, the lines before it stay paid.
  for (const xml::Node& line : func.Child("in").Children()) {
    std::string type = line.Attr("strtypecode");
    db::Transaction transaction(cn);
    PayInCash(session, cn, !type.empty() && type[0] == '3', line.Attr("guid"));
    transaction.Commit();
  }
  return true;
}

bool CNetPay::NetoNB(host::Session& session, db::Connection& cn, bool pay, xml::Node& func,
                     xml::Document&) {
  std::string table;
  try {
    table = GetRndName(cn);
    for (const xml::Node& line : func.Child("in").Children()) {
      std::string type = line.Attr("strtypecode");
      std::string guid = line.Attr("guid");
      bool loan = !type.empty() && type[0] == '3';
      db::Transaction transaction(cn);
      if (pay) {
        Pay(session, cn, loan, guid, table);
      } else {
        Withdraw(session, cn, loan, guid);
      }
      transaction.Commit();
    }
    DropWorkTable(cn, table);
    return true;
  } catch (const ComError& e) {
    // The failing line was undone; the lines before it stay paid or withdrawn.
    try {
      if (!table.empty()) DropWorkTable(cn, table);
    } catch (const ComError&) {
    }
    if (!e.Description().empty()) throw;
    throw ComError(e.Number(), host::MessageText("Q7.Rembiz.0115"), e.Source());
  }
}

std::string CNetPay::GetRndName(db::Connection& CN) {
  db::Recordset rs = CN.Execute(NormalizeSql("Select newid() As rnd"));
  std::string value = rs.Text("rnd");
  if (!value.empty()) value.erase(0, 1);  // the opening brace
  value.erase(std::remove(value.begin(), value.end(), '-'), value.end());
  return ("T" + value).substr(0, 20);
}

}  // namespace rembiz::payment
