#include "loan/c_loan.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "db/money.h"
#include "db/text.h"
#include "frame/convert.h"
#include "frame/registry.h"
#include "frame/request.h"
#include "frame/sql_helpers.h"
#include "host/errors.h"
#include "host/messages.h"
#include "voucher/scope.h"
#include "voucher/submission.h"
#include "voucher/voucher_save.h"

namespace rembiz::loan {
namespace {

using db::SqlText;
using frame::NormalizeSql;
using frame::Present;

// After the reads shared with the claim class (voucher/voucher_class.h).
constexpr frame::OperationEntry kOperations[] = {
    frame::Op<&CLoan::DelVouch>("delvouch", voucher::kVoucherWrite),
    frame::Op<&CLoan::SaveVouch>("savevouch", voucher::kVoucherWrite),
    frame::Op<&CLoan::SubmitAudit>("submitaudit", voucher::kVoucherWrite),
    frame::Op<&CLoan::GetHXInfo>("GetHXInfo"),
    frame::Op<&CLoan::CheckLoanXY>("CheckLoanXY"),
    frame::Op<&CLoan::CheckModify>("CheckModify", frame::kCheckHostLock),
};

constexpr frame::OperationEntry kPublicProcedures[] = {
    frame::Op<&CLoan::DelVouch>("DelVouch"),       frame::Op<&CLoan::SaveVouch>("SaveVouch"),
    frame::Op<&CLoan::SubmitAudit>("SubmitAudit"), frame::Op<&CLoan::GetHXInfo>("GetHXInfo"),
    frame::Op<&CLoan::CheckLoanXY>("CheckLoanXY"), frame::Op<&CLoan::CheckModify>("CheckModify"),
};

constexpr voucher::VoucherClassTraits kTraits{
    .variant = voucher::VoucherClassVariant("CLoan", "EC020101"),
    .pages = {.table = "EC_LoanVouch", .head_view = "vwECLoanHead", .body_view = "vwECLoanBody"},
    .operations = kOperations,
    .public_procedures = kPublicProcedures,
};

const frame::ClassRegistrar kRegistrar("Rembiz.CLoan", [] { return std::make_unique<CLoan>(); });

// A date of the page as "YYYY-MM-DD" (or with its time), nullopt when it is none.
std::optional<std::string> DateOf(const std::string& text) { return db::NormalizeDate(text); }

// The outstanding amount of open loans in home currency: the currency's own amount when it is
// the local one (iotherused -1), else amount less repaid converted with the voucher's rate.
constexpr const char* kOpenAmountSql =
    "isnull(sum(case isnull(iotherused,0) when -1 then isnull(dblmoney,0)-isnull(dblreturn,0) "
    "else (case isnull(bcal,0) when 1 then (isnull(dblmoney,0)-isnull(dblreturn,0))*"
    "isnull(fltrate,1) else (isnull(dblmoney,0)-isnull(dblreturn,0))/isnull(fltrate,1) end) "
    "end),0)";

// Days between two "YYYY-MM-DD" dates (later minus earlier).
int64_t DaysBetween(const std::string& from, const std::string& to) {
  auto days = [](const std::string& date) {
    int y = std::stoi(date.substr(0, 4));
    unsigned m = static_cast<unsigned>(std::stoi(date.substr(5, 2)));
    unsigned d = static_cast<unsigned>(std::stoi(date.substr(8, 2)));
    // Days from civil (proleptic Gregorian), enough for day differences.
    y -= m <= 2;
    const int era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return static_cast<int64_t>(era) * 146097 + static_cast<int64_t>(doe);
  };
  return days(to.substr(0, 10)) - days(from.substr(0, 10));
}

bool IsTypeOne(const db::Variant& control_type) { return db::Trim(control_type.ToText()) == "1"; }

constexpr voucher::VoucherFamily kLoanFamily{
    .table = "EC_LoanVouch",
    .claimant_missing = "Q7.Rembiz.0217",
    .claimant_unknown = "Q7.Rembiz.0218",
    .manual_number = "Q7.Rembiz.0237",
};

// What is a loan's own in the shared save: opening vouchers (blnBegin on the head element),
// the expected repayment date, the borrower's limits, payment rows with their cheque rules, and
// a head total that also tells whether any row carries money.
class LoanSave : public voucher::VoucherSave {
 public:
  LoanSave(host::Session& session, db::Connection& cn, xml::Node& func, xml::Document& answer)
      : VoucherSave(kLoanFamily, session, cn, func, answer, voucher::SubmitOnSave(cn)) {
    opening_ =
        frame::NumValue(db::Variant(func.SelectSingleNode("in/xml/head").Attr("blnBegin"))) != 0;
  }

 protected:
  std::string NumberCard() const override { return "EC01"; }
  std::string FlowCard() const override { return "45"; }

  void CheckFamilyHead() override {
    expected_date_ = "Null";
    if (Present(head_, "dtExpDate")) {
      std::optional<std::string> date = DateOf(head_.Attr("dtExpDate"));
      if (!date) Raise(kErrBusiness, "Q7.Rembiz.0213");
      expected_date_ = SqlText(*date);
    }
    // Opening vouchers carry loans from before and are not limited.
    if (!opening_) CheckLimits();
  }

  void CheckStored(const db::Recordset& stored) override {
    if (stored.Value("blnBegin").ToBool()) {
      if (voucher::LoanWrittenOff(cn_, guid_)) Raise(kErrBusiness, "Q7.Rembiz.0247");
    } else if (submit_on_save_) {
      // Submitted vouchers may change with the option on; their flow starts over.
      if (!stored.Text("strAuditorID").empty()) Raise(kErrBusiness, "Q7.Rembiz.0245");
    } else if (stored.Value("blnAudi").ToBool()) {
      Raise(kErrBusiness, "Q7.Rembiz.0246");
    }
  }

  voucher::Columns FamilyColumns() override {
    return {{"dtExpDate", expected_date_}, {"blnAllBill", "1"}, {"blnBegin", opening_ ? "1" : "0"}};
  }

  void WriteRow(const xml::Node& row, int index) override {
    if (!Present(row, "strBalanceID")) Raise(kErrBusiness, "Q7.Rembiz.0249");
    db::Recordset style =
        cn_.Execute(NormalizeSql("SELECT bSSEnd, bSSFlag From dbo.SettleStyle WHERE (cSSCode = " +
                                 SqlText(row.Attr("strBalanceID")) + ")"));
    if (style.Eof()) Raise(kErrBusiness, "Q7.Rembiz.0250");
    if (!style.Value("bSSEnd").ToBool()) Raise(kErrBusiness, "Q7.Rembiz.0251");
    // Cheque-type settlement: the row pays an advance against a bill, not an amount.
    const bool cheque = style.Value("bSSFlag").ToBool();

    const std::string money = frame::NumberOf(row, "dblMoney");
    const std::string advance = frame::NumberOf(row, "dblPreMoney");
    const double amount = frame::NumValue(db::Variant(money));
    const std::string label = std::to_string(index + 1);
    if (amount != 0) {
      voucher::RequirePositive(money, "Q7.Rembiz.0442", label);
      total_ += amount;
      all_bill_ = false;
    } else if (advance == "Null") {
      Raise(kErrBusiness, "Q7.Rembiz.0252");
    }
    // The advance is the row's amount when it has no money of its own; beside money it may be
    // left out, but never below zero.
    if (amount == 0 || frame::NumValue(db::Variant(advance)) != 0) {
      voucher::RequirePositive(advance, "Q7.Rembiz.0442", label);
    }
    if (cheque && !Present(row, "strBillID")) Raise(kErrBusiness, "Q7.Rembiz.0253");
    if (Present(row, "strPayBankID") &&
        !frame::Exists(cn_, "SELECT cBCode From dbo.Bank WHERE (cBCode = " +
                                SqlText(row.Attr("strPayBankID")) + ")")) {
      Raise(kErrBusiness, "Q7.Rembiz.0254");
    }

    InsertRow("EC_LoanVouch_Sub",
              {{"strBalanceID", frame::ValueOf(row, "strBalanceID")},
               {"dblMoney", cheque ? std::string("Null") : money},
               {"dblPreMoney",
                frame::NumValue(db::Variant(advance)) != 0 ? advance : std::string("Null")},
               {"strBillID", frame::ValueOf(row, "strBillID")},
               {"strPayBankID", frame::ValueOf(row, "strPayBankID")},
               {"strBankName", frame::ValueOf(row, "strBankName")},
               {"strBankAcc", frame::ValueOf(row, "strBankAcc")}},
              row, std::to_string(index));
  }

  void WriteTotal() override {
    std::string amounts =
        "dblMoney = " + db::MoneyText(total_) + ", blnAllBill = " + (all_bill_ ? "1" : "0");
    if (opening_) {
      // Opening vouchers stand approved from their entry, by the operator.
      std::string user = SqlText(session_.UserName());
      amounts = "blnAudi = 1,strAuditorID = " + user + ",strMakerID = " + user + "," + amounts;
    }
    cn_.Execute(NormalizeSql("Update EC_LoanVouch Set " + amounts + " Where GUID = " + qguid_));
  }

  bool SubmitsNow() const override { return submit_on_save_ && !opening_; }

 private:
  // Limits of control type 1 on the borrower's other open loans.
  void CheckLimits() {
    const std::string borrower = SqlText(head_.Attr("strLoanID"));
    db::Recordset limits = cn_.Execute(NormalizeSql(
        "Select blnDay,intDay,strDayCtrType,blnNumber,intNumber,strNumCtrType,blnMoney,intMoney,"
        "strMonCtrType From EC_PersonCtrl Where strPersonCode = " +
        borrower));
    if (limits.Eof()) return;
    const std::string others =
        " WHERE (GUID <> " + qguid_ + ") And (blnSettle = 0) And (strLoanID = " + borrower + ")";
    if (limits.Value("blnDay").ToBool() && IsTypeOne(limits.Value("strDayCtrType"))) {
      db::Recordset age = cn_.Execute(NormalizeSql("SELECT MAX(DATEDIFF([day], dtLoanDate, '" +
                                                   loan_date_.substr(0, 10) +
                                                   "')) AS A FROM EC_LoanVouch" + others));
      const db::Variant& days = age.Value("A");
      if (!days.IsNull() && days.ToDouble() > limits.Value("intDay").ToDouble()) {
        db::Recordset oldest =
            cn_.Execute(NormalizeSql("SELECT MIN(dtLoanDate) AS D FROM EC_LoanVouch" + others));
        Raise(kErrBusiness, "Q7.Rembiz.0231", oldest.Text("D").substr(0, 10),
              limits.Text("intDay"));
      }
    }
    if (limits.Value("blnNumber").ToBool() && IsTypeOne(limits.Value("strNumCtrType"))) {
      db::Recordset count =
          cn_.Execute(NormalizeSql("SELECT COUNT(*) AS A FROM EC_LoanVouch" + others));
      double limit = limits.Value("intNumber").ToDouble();
      if (count.Eof()) {
        if (limit < 1) Raise(kErrBusiness, "Q7.Rembiz.0233");
      } else if (limit < count.Value("A").ToDouble() + 1) {
        Raise(kErrBusiness, "Q7.Rembiz.0232", limits.Text("intNumber"), count.Text("A"));
      }
    }
    if (limits.Value("blnMoney").ToBool() && IsTypeOne(limits.Value("strMonCtrType"))) {
      db::Recordset open =
          cn_.Execute(NormalizeSql(std::string("select ") + kOpenAmountSql +
                                   "as A from ec_loanvouch left join foreigncurrency on "
                                   "ec_loanvouch.strbill=foreigncurrency.cexch_name" +
                                   others));
      double limit = limits.Value("intMoney").ToDouble();
      double amount = frame::NumValue(db::Variant(head_.Attr("dblOldMoney")));
      if (open.Eof()) {
        if (limit < amount) Raise(kErrBusiness, "Q7.Rembiz.0235");
      } else if (limit < open.Value("A").ToDouble() + amount) {
        Raise(kErrBusiness, "Q7.Rembiz.0234", db::DoubleText(limit),
              db::CentsText(open.Value("A").ToDouble() + amount));
      }
    }
  }

  bool opening_ = false;
  std::string expected_date_ = "Null";
  double total_ = 0;
  bool all_bill_ = true;
};

}  // namespace

CLoan::CLoan() : VoucherClass(kTraits) {}

std::string CLoan::ListCondition(host::Session& session, db::Connection& cn,
                                 const xml::Node& func) {
  std::string submitted = voucher::SubmitOnSave(cn) ? "1" : "0";
  std::string templates = frame::RowAuthString(session, "djmb", "EC01");
  std::string condition =
      templates.empty() ? " 1=1"
      : templates == "1=2"
          ? " 1=2"
          : " strTypeCode IN (Select strcode From EC_OperationType Where strShowModel in (" +
                templates + ")) ";
  std::string begin = db::Trim(func.SelectSingleNode("in/begin").Text());
  if (frame::IsNumeric(db::Variant(begin)) && frame::NumValue(db::Variant(begin)) != 0) {
    // Opening vouchers with a row not yet repaid.
    return condition +
           " and blnBegin = 1 And GUID in (SELECT DISTINCT MGuid From EC_LoanVouch_Sub WHERE "
           "(dblReturn = 0) AND (blnSettle = 0))";
  }
  // Vouchers still editable: not approved, and submitted exactly when submit-on-save is on.
  return condition + " and blnBegin = 0 And blnAudi = " + submitted +
         " And IsNull(strAuditorID,'') = ''";
}

bool CLoan::SaveVouch(host::Session& session, db::Connection& cn, xml::Node& func,
                      xml::Document& answer) {
  LoanSave save(session, cn, func, answer);
  save.Run(&voucher::InitAudit);
  return true;
}

bool CLoan::SubmitAudit(host::Session& session, db::Connection& cn, xml::Node& func,
                        xml::Document& answer) {
  return voucher::SubmitAudit(session, cn, func, answer, "EC_LoanVouch");
}

bool CLoan::InitAudit(host::Session& m_objLogin, db::Connection& CN, const xml::Node& oNode) {
  return voucher::InitAudit(m_objLogin, CN, oNode);
}

// ---------------------------------------------------------------------------------------------
// Checks

bool CLoan::CheckLoanXY(host::Session& session, db::Connection& cn, xml::Node& func,
                        xml::Document& answer) {
  xml::Node in = frame::FirstIn(func);
  std::string guid = in.Attr("GUID");
  std::string borrower = in.Attr("strPersonCode");
  std::string date_text = db::Trim(in.Attr("dtDate"));
  std::optional<std::string> date =
      date_text.empty() ? DateOf(session.LoginDate()) : DateOf(date_text);
  if (!date) Raise(kErrBusiness, "Q7.Rembiz.0213");
  *date = date->substr(0, 10);
  std::string amount_text =
      in.Attr("dblOldMoney").empty() ? in.Attr("dblMoney") : in.Attr("dblOldMoney");
  double amount = frame::NumValue(db::Variant(amount_text));

  std::vector<std::string> rows;
  bool hard = false;
  db::Recordset limits =
      cn.Execute(NormalizeSql("SELECT blnDay, intDay, strDayCtrType, blnNumber, intNumber, "
                              "strNumCtrType , blnMoney, intMoney, strMonCtrType "
                              "FROM EC_PersonCtrl "
                              "Where strPersonCode = " +
                              db::SqlText(borrower)));
  if (!limits.Eof()) {
    std::string where = guid.empty() ? "" : "(GUID <> " + db::SqlText(guid) + ") And ";
    db::Recordset open = cn.Execute(
        NormalizeSql("SELECT MAX(DATEDIFF([day], dtLoanDate, '" + *date +
                     "')) AS A1, COUNT(*) AS A2," + kOpenAmountSql +
                     "as A3 from ec_loanvouch left join foreigncurrency on "
                     "ec_loanvouch.strbill=foreigncurrency.cexch_name WHERE " +
                     where + "(blnSettle = 0) And (strLoanID = " + db::SqlText(borrower) + ")"));
    auto exceeded = [&](const std::string& key, const char* control, std::string_view p1,
                        std::string_view p2) {
      rows.push_back(host::MessageText(key, "", p1, p2));
      hard = hard || IsTypeOne(limits.Value(control));
    };
    if (limits.Value("blnDay").ToBool()) {
      double limit = limits.Value("intDay").ToDouble();
      const db::Variant& oldest = open.Value("A1");
      // Without open loans the voucher itself ages from its loan date to the business date.
      double days = oldest.IsNull()
                        ? static_cast<double>(std::max<int64_t>(
                              0, DaysBetween(*date, DateOf(session.LoginDate()).value_or(*date))))
                        : oldest.ToDouble();
      if (days > limit) {
        exceeded("Q7.Rembiz.0264", "strDayCtrType", limits.Text("intDay"), db::DoubleText(days));
      }
    }
    if (limits.Value("blnNumber").ToBool()) {
      double limit = limits.Value("intNumber").ToDouble();
      double count = open.Value("A2").ToDouble() + 1;
      if (count > limit) {
        exceeded("Q7.Rembiz.0265", "strNumCtrType", limits.Text("intNumber"),
                 db::DoubleText(count));
      }
      // A limit below one allows no loan at all, which the page is told besides.
      if (limit < 1) exceeded("Q7.Rembiz.0266", "strNumCtrType", "", "");
    }
    if (limits.Value("blnMoney").ToBool()) {
      double limit = limits.Value("intMoney").ToDouble();
      double total = open.Value("A3").ToDouble() + amount;
      if (total > limit) {
        exceeded("Q7.Rembiz.0267", "strMonCtrType", db::DoubleText(limit), db::CentsText(total));
      }
    }
  }
  std::string out = "<Rows CtrlType='" + std::string(hard ? "1" : "0") + "'>";
  for (const std::string& text : rows) out += "<row>" + frame::XmlEscape(text) + "</row>";
  answer.LoadXml(out + "</Rows>");
  return true;
}

bool CLoan::CheckModify(host::Session& session, db::Connection& cn, xml::Node& func,
                        xml::Document& answer) {
  xml::Node in = frame::FirstIn(func);
  std::string guid = in.Attr("GUID");
  if (guid.empty()) Raise(kErrBusiness, "Q7.Rembiz.0268");
  // A voucher out of the operator's reach answers as one that does not exist.
  if (!voucher::VoucherInScope(session, cn, "EC_LoanVouch", "GUID", guid)) {
    if (in.Attr("flag") == "0") Raise(kErrBusiness, "Q7.Rembiz.0180");
  } else if (in.Attr("flag") != "0") {
    if (voucher::LoanWrittenOff(cn, guid)) Raise(kErrBusiness, "Q7.Rembiz.0270");
  } else {
    db::Recordset voucher =
        cn.Execute(NormalizeSql("Select * From EC_LoanVouch Where GUID = " + db::SqlText(guid)));
    if (voucher.Eof()) Raise(kErrBusiness, "Q7.Rembiz.0180");
    if (voucher.Value("blnaudi").ToBool()) Raise(kErrBusiness, "Q7.Rembiz.0269");
  }
  answer.LoadXml("<Rows />");
  return true;
}

bool CLoan::GetHXInfo(host::Session& session, db::Connection& cn, xml::Node& func,
                      xml::Document& answer) {
  std::string guid = frame::FirstIn(func).Attr("GUID");
  if (guid.empty()) Raise(kErrBusiness, "Q7.Rembiz.0263");
  // A voucher out of the operator's reach has no rows to show.
  if (!voucher::VoucherInScope(session, cn, "EC_LoanVouch", "GUID", guid)) {
    answer.LoadXml("<Rows></Rows>");
    return true;
  }
  db::Recordset rs = cn.Execute(NormalizeSql(
      "Select strBalance,dblMoney,dblPreMoney,dblReturn,dblLeave,dblJE,dtLoanDate,strAuditorID,"
      "cPersonName,strVouchID,blnUsed From (SELECT EC_LoanVouch_Sub.AutoID,SettleStyle.cSSName "
      "AS strBalance,dbo.EC_LoanVouch_Sub.dblMoney, dbo.EC_LoanVouch_Sub.dblPreMoney, "
      "dbo.EC_LoanVouch_Sub.dblReturn, 0 AS dblLeave, dbo.vwECExpenInfo.dblJE, "
      "dbo.vwECExpenInfo.dtLoanDate, dbo.vwECExpenInfo.strAuditorID, "
      "dbo.vwECExpenInfo.cPersonName, dbo.vwECExpenInfo.strVouchID, dbo.vwECExpenInfo.blnUsed, "
      "dbo.EC_LoanVouch_Sub.MGuid, dbo.EC_LoanVouch_Sub.GUID FROM dbo.EC_LoanVouch_Sub LEFT "
      "OUTER JOIN dbo.vwECExpenInfo ON dbo.EC_LoanVouch_Sub.GUID = dbo.vwECExpenInfo.LoanSubguid "
      "and vwECExpenInfo.blnUsed in (-1,1,0) LEFT OUTER JOIN dbo.SettleStyle ON "
      "dbo.EC_LoanVouch_Sub.strBalanceID = dbo.SettleStyle.cSSCode) a Where MGUID = " +
      db::SqlText(guid) + " ORDER BY AutoID "));
  auto attr = [&](const char* name, const std::string& value) {
    return std::string(name) + "='" + frame::XmlEscape(value) + "' ";
  };
  std::string out = "<Rows>";
  for (; !rs.Eof(); rs.MoveNext()) {
    // The row's amount is its money, or the advance of a cheque row.
    const db::Variant& money = rs.Value("dblMoney");
    double amount = money.IsNull() ? rs.Value("dblPreMoney").ToDouble() : money.ToDouble();
    double leave = db::RoundMoney(amount - rs.Value("dblReturn").ToDouble());
    out += "<row " + attr("strBalance", rs.Text("strBalance")) +
           attr("dblMoney", rs.Text("dblMoney")) + attr("dblPreMoney", rs.Text("dblPreMoney")) +
           attr("dblReturn", rs.Text("dblReturn")) + attr("dblLeave", db::DoubleText(leave)) +
           "dblJE='' dtLoanDate='' strAuditorID='' cPersonName='' strVouchID='' blnUsed='' />";
    if (!rs.Text("dblJE").empty()) {
      out += "<row strBalance='' dblMoney='' dblPreMoney='' dblReturn='' dblLeave='' " +
             attr("dblJE", rs.Text("dblJE")) + attr("dtLoanDate", rs.Text("dtLoanDate")) +
             attr("strAuditorID", rs.Text("strAuditorID")) +
             attr("cPersonName", rs.Text("cPersonName")) +
             attr("strVouchID", rs.Text("strVouchID")) + attr("blnUsed", rs.Text("blnUsed")) + "/>";
    }
  }
  answer.LoadXml(out + "</Rows>");
  return true;
}

}  // namespace rembiz::loan
