#include "app/demo_road.h"

#include <cmath>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>

#include "db/connection.h"
#include "db/text.h"
#include "frame/registry.h"
#include "host/database_setup.h"
#include "host/local_session.h"
#include "host/messages.h"
#include "payment/bank_confirmation.h"
#include "xml/document.h"

namespace rembiz::app {
namespace {

// A step that did not do what the road needs.
class StepFailed : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class DemoRoad {
 public:
  DemoRoad(const host::DataDir& dir, std::ostream& out) : dir_(dir), out_(out) {
    for (const char* user : {"clerk", "demo", "approver"}) {
      host::SessionRequest request;
      request.user = user;
      sessions_[user] = host::LocalSession::Open(dir_, request);
    }
    cn_.Open(sessions_["demo"]->ConnectionString());
    year_ = sessions_["demo"]->FiscalYear();
  }

  void Walk() {
    std::string loan = SaveLoan();
    Step("The clerk submits the loan to approval", [&] {
      Call("CLoan", "clerk",
           "<req><func name='submitaudit'><in><GUID>" + loan + "</GUID><ts>" +
               Ts("EC_LoanVouch", loan) + "</ts></in></func></req>");
      Show("submitted", Value("EC_LoanVouch", loan, "blnAudi"));
    });
    Step("The approver approves the loan (one-step flow)", [&] {
      Call("CAudit", "approver", AuditRequest("EC_LoanVouch", loan, "EC03"));
      Show("approved by", Value("EC_LoanVouch", loan, "strAuditorID"));
    });

    std::string claim = SaveClaim();
    std::string loan_row =
        Scalar("select GUID from EC_LoanVouch_Sub where MGuid = " + db::SqlText(loan));
    Step("The finance office (demo) writes the loan off against the claim", [&] {
      Call("CExpense", "demo",
           "<req><func name='SaveLoanInfo'>" + ClaimIn(claim) + WriteOffRow(claim, loan_row) +
               "</in></func></req>");
      Show("recorded write-off", Scalar("select sum(dblJE) from EC_ExpenLoanInfo where "
                                        "Expenguid = " +
                                        db::SqlText(claim)));
      Show("loan row returned (applied once the claim is approved)",
           Value("EC_LoanVouch_Sub", loan_row, "dblReturn"));
    });
    Step("The clerk submits the claim to approval", [&] {
      Call("CExpense", "clerk",
           "<req><func name='submitaudit'><in><GUID>" + claim + "</GUID><ts>" +
               Ts("EC_ExpenVouch", claim) + "</ts></in></func></req>");
      Show("submitted", Value("EC_ExpenVouch", claim, "blnAudi"));
    });
    Step("First approver (demo) takes step 1 of the claim flow", [&] {
      Call("CAudit", "demo", AuditRequest("EC_ExpenVouch", claim, "EC02"));
      Show("flow now at step", Scalar("select iCurStep from Host_FlowInstance where "
                                      "cVouchGUID = " +
                                      db::SqlText(claim)));
      Show("approved by", Value("EC_ExpenVouch", claim, "isnull(strAuditorID, '(not yet)')"));
    });
    Step("Second approver (approver) takes the last step; the budget is checked", [&] {
      Call("CAudit", "approver", AuditRequest("EC_ExpenVouch", claim, "EC02"));
      std::string auditor = Value("EC_ExpenVouch", claim, "isnull(strAuditorID, '')");
      if (auditor.empty()) throw StepFailed("the claim is not approved after the last step");
      Show("approved by", auditor);
      Show("budget consumed", Scalar("select isnull(sum(mAmount), 0) from Host_BudgetUse where "
                                     "cVouchGUID = " +
                                     db::SqlText(claim)));
      Show("loan row returned (the write-off applies with the approval)",
           Value("EC_LoanVouch_Sub", loan_row, "dblReturn"));
    });
    Step("The cashier (demo) pays the rest by transfer and confirms the write-off", [&] {
      std::string link =
          Scalar("select GUID from EC_ExpenLoanInfo where Expenguid = " + db::SqlText(claim));
      Call("CExpense", "demo",
           "<req><func name='SaveExpenInfo'><in GUID='" + claim + "' ts='" +
               Ts("EC_ExpenVouch", claim) + "'><rows><row P='1' intIOType='" +
               host::MessageText("Q7.Rembiz.0186", "zh-CN") +
               "' strBalanceID='302' strPayBankID='01' strBankName='工商银行' "
               "strBankAcc='6222020200001111' dblMoney='200'/></rows></in></func>"
               "<func name='SaveLoanInfo'>" +
               ClaimIn(claim) + WriteOffRow(claim, loan_row, link) + "</in></func></req>");
      std::string lines = " from EC_BalanceInfo where ExpenGUID = " + db::SqlText(claim);
      Show("payment lines", Scalar("select count(*)" + lines) + " line(s), " +
                                Scalar("select sum(dblMoney)" + lines));
      std::string row_returned = Returned("EC_LoanVouch_Sub", loan_row);
      std::string loan_returned = Returned("EC_LoanVouch", loan);
      Show("loan row returned", row_returned);
      Show("loan returned", loan_returned);
      // The loan voucher follows its only row.
      if (loan_returned != row_returned) throw StepFailed("the loan and its row disagree");
      Show("claim settled / verified by",
           Value("EC_ExpenVouch", claim, "case when blnSettle = 1 then 1 else 0 end") + " / " +
               Value("EC_ExpenVouch", claim, "isnull(strVerifier, '')"));
    });
    Step("The payment line is paid online", [&] {
      std::string line =
          Scalar("select GUID from EC_BalanceInfo where ExpenGUID = " + db::SqlText(claim));
      Call("CNetPay", "approver",
           "<req><func name='netpay'><in><row strtypecode='201' guid='" + line +
               "'/></in></func></req>");
      std::string pay_id = Scalar("select isnull(strPayID, '') from EC_BalanceInfo where GUID = " +
                                  db::SqlText(line));
      if (pay_id.empty()) throw StepFailed("the payment line has no payment id");
      Show("payment id", pay_id);
      pay_id_ = pay_id;
    });
    Step("The bank confirms the online payment", [&] {
      std::string error;
      if (!payment::ConfirmBankPayment(cn_, pay_id_, error)) throw StepFailed(error);
      Show("confirmed",
           Scalar("select bConfirmed from Host_BankBill where cPayID = " + db::SqlText(pay_id_)));
    });
    MakeLedgerVoucher(loan, claim);
  }

 private:
  // The claim settles the whole loan row; `link` is the write-off already recorded, if any.
  std::string WriteOffRow(const std::string& claim, const std::string& loan_row,
                          const std::string& link = "") {
    (void)claim;
    return "<row GUID='" + loan_row + "' ts='" + Ts("EC_LoanVouch_Sub", loan_row) + "' GUID1='" +
           link + "' ts1='" + (link.empty() ? "" : Ts("EC_ExpenLoanInfo", link)) +
           "' blnUsed='0' dblRetValue='800'/>";
  }

  std::string SaveLoan() {
    std::string number;
    Step("The clerk saves a loan of 800 for employee 0002", [&] {
      Call("CLoan", "clerk",
           "<req><func name='savevouch'><in><xml><head blnBegin='0'><z:row strTypeCode='301' "
           "strVouchID='JK" +
               year_ + "030001' dtLoanDate='" + year_ +
               "-03-05T00:00:00' strDepartID='0201' "
               "strLoanID='0002' strBill='人民币' fltRate='1' dblMoney='800' dblOldMoney='800' "
               "strUsed='出差北京' strPersonID='Carl Clerk'/></head><body>"
               "<row strBalanceID='1' dblMoney='800'/></body></xml></in></func></req>");
      number = Scalar("select max(strVouchID) from EC_LoanVouch");
      Show("loan number", number);
      Show("amount",
           Scalar("select dblMoney from EC_LoanVouch where strVouchID = " + db::SqlText(number)));
    });
    return Scalar("select GUID from EC_LoanVouch where strVouchID = " + db::SqlText(number));
  }

  std::string SaveClaim() {
    std::string guid;
    Step("The clerk saves a travel claim of 1000 (rows checked against the standards)", [&] {
      xml::Document doc = Call(
          "CExpense", "clerk",
          "<req><func name='savevouch'><in><xml><head><z:row strTypeCode='201' strVouchID='ZC" +
              year_ +
              "030001' "
              "dtLoanDate='" +
              year_ +
              "-03-20T00:00:00' strDepartID='0201' strLoanID='0002' "
              "strBudItemID='01' strPort1='department' strPort1Value='[0201]会计科' "
              "strBill='人民币' fltRate='1' dblMoney='1000' dblOldMoney='1000' strUsed='出差北京' "
              "strPersonID='Carl Clerk'/></head><body>"
              "<row strIOItem='20101' strEZero='0101' dblNumber='2' dblVouch='900' dblMoney='900' "
              "strMemo='酒店两晚'/><row strIOItem='203' dblMoney='100' strMemo='办公用品'/>"
              "</body></xml></in></func></req>");
      guid = Scalar("select top 1 GUID from EC_ExpenVouch order by AutoID desc");
      Show("claim number", Value("EC_ExpenVouch", guid, "strVouchID"));
      std::string rows = " from EC_ExpenVouch_Sub where MGuid = " + db::SqlText(guid);
      Show("rows",
           Scalar("select count(*)" + rows) + " rows, " + Scalar("select sum(dblMoney)" + rows));
    });
    return guid;
  }

  // The loan and the claim become one ledger voucher, saved by the ledger and shown line by line.
  void MakeLedgerVoucher(const std::string& loan, const std::string& claim) {
    std::string code;
    Step("The finance office (demo) generates the ledger voucher of the loan and the claim", [&] {
      std::string sources =
          VoucherSource("301", "EC_LoanVouch", loan) + VoucherSource("201", "EC_ExpenVouch", claim);
      xml::Document doc = Call("CMakePZ", "demo",
                               "<req><func name='makepz'><in con='1'><pztype>记</pztype><pzdate>" +
                                   year_ + "-03-20</pzdate><blnTemp>0</blnTemp><rows>" + sources +
                                   "</rows></in><daily>" + sources + "</daily></func></req>");
      code = doc.SelectSingleNode("//out/Return").Attr("strpzcode");
      if (code.empty()) throw StepFailed("no ledger voucher was saved");
      Show("ledger voucher", code);
      Show("claim and loan linked", Value("EC_ExpenVouch", claim, "isnull(strMakerID, '')") +
                                        " / " +
                                        Value("EC_LoanVouch", loan, "isnull(strMakerID, '')"));
    });
    Step("The ledger voucher, line by line", [&] {
      xml::Document doc = Call(
          "CMakePZ", "demo",
          "<req><func name='getpzdata'><in><strpzcode>" + code + "</strpzcode></in></func></req>");
      double debit = 0;
      double credit = 0;
      for (const xml::Node& row : doc.SelectNodes("//out/Rows/row")) {
        std::string account = row.Attr("ccode") + " " + row.Attr("ccodename");
        Show(account, "debit " + Amount(row.Attr("md")) + ", credit " + Amount(row.Attr("mc")));
        debit += std::stod("0" + row.Attr("md"));
        credit += std::stod("0" + row.Attr("mc"));
      }
      Show("total",
           "debit " + Amount(std::to_string(debit)) + ", credit " + Amount(std::to_string(credit)));
      if (debit == 0 || std::fabs(debit - credit) >= 0.005) {
        throw StepFailed("the ledger voucher does not balance");
      }
    });
  }

  // "returned of money, settled flag" of a loan voucher or loan row.
  std::string Returned(const std::string& table, const std::string& guid) {
    return Value(table, guid, "dblReturn") + " of " + Value(table, guid, "dblMoney") +
           ", settled " + Value(table, guid, "case when blnSettle = 1 then 1 else 0 end");
  }

  std::string VoucherSource(const std::string& type, const std::string& table,
                            const std::string& guid) {
    return "<row strtypecode='" + type + "' guid='" + guid + "' ts='" + Ts(table, guid) +
           "' strvouchid='" + Value(table, guid, "strVouchID") + "'/>";
  }

  static std::string Amount(const std::string& text) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.2f", std::stod("0" + text));
    return buf;
  }

  std::string ClaimIn(const std::string& claim) {
    return "<in GUID='" + claim + "' ts='" + Ts("EC_ExpenVouch", claim) +
           "' strLoanID='0002' strBill='人民币' fltRate='1'>";
  }

  std::string AuditRequest(const std::string& table, const std::string& guid,
                           const std::string& type) {
    return "<req><func name='AuditVouch'><in><EASTdata><task EAAID='1' remark='同意'/></EASTdata>"
           "<strGUID><Rows flag='1'><row strGUID='" +
           guid + "' ts='" + Ts(table, guid) + "' strType='" + type + "' strVouchID='" +
           Value(table, guid, "strVouchID") + "'/></Rows></strGUID></in></func></req>";
  }

  // Runs one request as a page would; an error document anywhere in the answer fails the step.
  xml::Document Call(const std::string& class_name, const std::string& user,
                     const std::string& request) {
    xml::Document doc;
    if (!doc.LoadXml(request)) throw StepFailed("bad request text");
    frame::CreateObject("Rembiz." + class_name)->myHandle(sessions_.at(user).get(), doc);
    if (doc.DocumentElement().Name() == "error") {
      throw StepFailed(class_name + ": " + doc.SelectSingleNode("/error/text").Text());
    }
    if (xml::Node error = doc.SelectSingleNode("//out/error/text")) {
      throw StepFailed(class_name + ": " + error.Text());
    }
    if (xml::Node error = doc.SelectSingleNode("//out/err/msg")) {
      throw StepFailed(class_name + ": " + error.Text());
    }
    return doc;
  }

  void Step(const std::string& title, const std::function<void()>& body) {
    out_ << "\n" << ++step_ << ". " << title << "\n";
    body();
  }
  void Show(const std::string& what, const std::string& value) {
    out_ << "     " << what << ": " << value << "\n";
  }

  std::string Scalar(const std::string& sql) {
    db::Recordset rs = cn_.Execute(sql);
    return rs.IsOpen() && !rs.Eof() ? rs.Value(0).ToText() : "";
  }
  std::string Value(const std::string& table, const std::string& guid, const std::string& expr) {
    return Scalar("select " + expr + " from " + table + " where GUID = " + db::SqlText(guid));
  }
  std::string Ts(const std::string& table, const std::string& guid) {
    return Value(table, guid, "Cast(ts As money)");
  }

  const host::DataDir& dir_;
  std::ostream& out_;
  std::map<std::string, std::unique_ptr<host::LocalSession>> sessions_;
  db::Connection cn_;
  std::string year_;
  std::string pay_id_;
  int step_ = 0;
};

}  // namespace

int RunDemoRoad(const std::string& dir, bool force, std::ostream& out) {
  host::DataDir data(dir);
  host::InitOptions options;
  options.demo = true;
  options.force = force;
  host::InitDataDirectory(data, options);
  out << "Demo company created in " << data.Describe() << "\n";
  try {
    DemoRoad road(data, out);
    road.Walk();
  } catch (const StepFailed& e) {
    out << "     FAILED: " << e.what() << "\n";
    return 1;
  } catch (const ComError& e) {
    out << "     FAILED: " << e.Description() << "\n";
    return 1;
  }
  out << "\nThe claim went the whole road.\n";
  return 0;
}

}  // namespace rembiz::app
