#include "loan/c_loan.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "approval/submission.h"
#include "db/money.h"
#include "db/persist.h"
#include "db/text.h"
#include "frame/convert.h"
#include "frame/registry.h"
#include "frame/request.h"
#include "frame/sql_helpers.h"
#include "host/approval_flow.h"
#include "host/errors.h"
#include "host/messages.h"

namespace rembiz::loan {
namespace {

using approval::SubmitOnSave;
using db::Lower;
using db::RoundMoney;
using db::Trim;
using frame::Exists;
using frame::FirstIn;
using frame::InText;
using frame::Present;
using frame::RequireInteger;
using frame::ValueOf;

using frame::NormalizeSql;
using frame::SqlEscape;

using db::kErrInvalidRequest;

constexpr frame::FrameVariant kVariant{
    .class_name = "CLoan",
    .task_code = "EC020101",
    .entry_task = frame::EntryTask::kBeforeConnect,
    .transactions = frame::Transactions::kLazy,
    .error_form = frame::ErrorForm::kStandard,
    .busy_message = true,
};

constexpr unsigned kWrite = frame::kCheckHostLock | frame::kOpensTransaction;

constexpr frame::OperationEntry kOperations[] = {
    frame::Op<&CLoan::GetVouchListID>("getVouchListID"),
    frame::Op<&CLoan::GetVouchByGUID>("getVouchByGUID"),
    frame::Op<&CLoan::GetVoucherHead>("vchgetloanheaddata"),
    frame::Op<&CLoan::GetVoucherBody>("vchgetloanbodydata"),
    frame::Op<&CLoan::GetOperList>("getOperList"),
    frame::Op<&CLoan::VchModuleGet>("vchmoduleget"),
    frame::Op<&CLoan::VchNoFormatGet>("vchnoformatget"),
    frame::Op<&CLoan::DelVouch>("delvouch", kWrite),
    frame::Op<&CLoan::SaveVouch>("savevouch", kWrite),
    frame::Op<&CLoan::SubmitAudit>("submitaudit", kWrite),
    frame::Op<&CLoan::GetHXInfo>("GetHXInfo"),
    frame::Op<&CLoan::CheckLoanXY>("CheckLoanXY"),
    frame::Op<&CLoan::CheckModify>("CheckModify", frame::kCheckHostLock),
};

constexpr frame::OperationEntry kPublicProcedures[] = {
    frame::Op<&CLoan::GetVoucherHead>("GetVoucherHead"),
    frame::Op<&CLoan::GetVoucherBody>("GetVoucherBody"),
    frame::Op<&CLoan::GetOperList>("GetOperList"),
    frame::Op<&CLoan::DelVouch>("DelVouch"),
    frame::Op<&CLoan::SaveVouch>("SaveVouch"),
    frame::Op<&CLoan::GetVouchListID>("GetVouchListID"),
    frame::Op<&CLoan::GetVouchByGUID>("GetVouchByGUID"),
    frame::Op<&CLoan::SubmitAudit>("SubmitAudit"),
    frame::Op<&CLoan::GetHXInfo>("GetHXInfo"),
    frame::Op<&CLoan::CheckLoanXY>("CheckLoanXY"),
    frame::Op<&CLoan::CheckModify>("CheckModify"),
};

// Loans are card "45" to the approval flow; "11" names the voucher's business flow.
constexpr const char* kLoanCard = "45";
constexpr const char* kFlowKind = "11";

// Fresh numbers asked for before a save gives up on a numbering that only yields taken ones.
constexpr int kFreshNumbers = 5;

const frame::ClassRegistrar kRegistrar("Rembiz.CLoan", [] { return std::make_unique<CLoan>(); });

// A loan row of the voucher has been written off against a claim.
bool WrittenOff(db::Connection& cn, const std::string& guid) {
  return Exists(cn,
                "Select Top 1 * From EC_ExpenLoanInfo Where LoanSubguid In (Select GUID From "
                "EC_LoanVouch_Sub Where MGUID = " +
                    db::SqlText(guid) + ")");
}

// A field of the current record, or Null when the recordset has no such field.
db::Variant FieldOr(const db::Recordset& rs, std::string_view name) {
  return rs.HasField(name) ? rs.Value(name) : db::Variant();
}

std::string NumberOf(const xml::Node& node, std::string_view name) {
  return frame::SqlNumber(db::Variant(node.Attr(name)));
}

// A number the caller requires: a missing value raises `missing_key`; one that is not a number
// is refused as an invalid request, never pasted.
std::string RequiredNumber(const xml::Node& node, std::string_view name,
                           std::string_view missing_key) {
  std::string text = node.Attr(name);
  if (text.empty()) Raise(kErrBusiness, missing_key);
  if (!frame::IsNumeric(db::Variant(text))) {
    throw ComError(kErrInvalidRequest,
                   "Invalid request: " + std::string(name) + " '" + text + "' is not a number.",
                   "Rembiz");
  }
  return frame::SqlNumber(db::Variant(text));
}

// A date of the page as "YYYY-MM-DD" (or with its time), nullopt when it is none.
std::optional<std::string> DateOf(const std::string& text) { return db::NormalizeDate(text); }

// The budget columns of a head: item and three dimension pairs, and the message of the first
// incomplete pair (raised where the save checks them).
struct BudgetColumns {
  std::vector<std::pair<std::string, std::string>> values;  // column, SQL literal
  std::string error_key;
};

BudgetColumns BudgetOf(const xml::Node& head) {
  static constexpr const char* kPairKeys[] = {"Q7.Rembiz.0240", "Q7.Rembiz.0241", "Q7.Rembiz.0331"};
  BudgetColumns out;
  bool item = Present(head, "strBudItemID");
  out.values.emplace_back("strBudItemID", item ? ValueOf(head, "strBudItemID") : "Null");
  bool any = false;
  for (int i = 1; i <= 3; ++i) {
    std::string port = "strPort" + std::to_string(i);
    std::string value = port + "Value";
    bool has_port = Present(head, port);
    bool has_value = Present(head, value);
    if (item && has_port != has_value && out.error_key.empty()) out.error_key = kPairKeys[i - 1];
    any = any || has_port || has_value;
    out.values.emplace_back(port, item ? ValueOf(head, port) : "Null");
    out.values.emplace_back(value, item ? ValueOf(head, value) : "Null");
  }
  if (item && !any && out.error_key.empty()) out.error_key = "Q7.Rembiz.0242";
  return out;
}

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

bool IsTypeOne(const db::Variant& control_type) { return Trim(control_type.ToText()) == "1"; }

}  // namespace

const frame::FrameVariant& CLoan::Variant() const { return kVariant; }
std::span<const frame::OperationEntry> CLoan::Operations() const { return kOperations; }
std::span<const frame::OperationEntry> CLoan::PublicProcedures() const { return kPublicProcedures; }

void CLoan::ResetRequestState() {
  auto_id_.clear();
  show_model_.clear();
  pub_msg_.reset();
}

frame::BusinessObject& CLoan::PubMsg() {
  if (!pub_msg_) pub_msg_ = frame::CreateObject("Rembiz.CPubMsg");
  return *pub_msg_;
}

// ---------------------------------------------------------------------------------------------
// Reads

bool CLoan::GetVoucherHead(host::Session&, db::Connection& cn, xml::Node& func,
                           xml::Document& answer) {
  std::string number = FirstIn(func).Attr("AutoID");
  number = number.empty() ? auto_id_ : RequireInteger(number, "AutoID");
  db::Recordset rs = cn.Execute(NormalizeSql(
      "Select *,'' as editprop,' ' As strItem,'0' As NumPoint From vwECLoanHead Where Localeid='" +
      SqlEscape(host::CurrentLanguage()) + "' and AutoID = " + (number.empty() ? "0" : number)));
  answer.LoadXml(db::SaveXml(rs));
  if (rs.Eof()) return true;
  xml::Node row = answer.SelectSingleNode("//rs:data/z:row");

  std::string item_class = rs.Text("strItemClassID");
  std::string item = rs.Text("strItemID");
  if (!item_class.empty() && !item.empty()) {
    std::string name;
    if (item_class == "ch") {
      db::Recordset found = cn.Execute(NormalizeSql(
          "Select cinvname As strName From inventory Where cinvcode = " + db::SqlText(item)));
      if (!found.Eof()) name = found.Text("strName");
    } else if (frame::IsSqlName("fitemss" + item_class)) {
      db::Recordset found =
          cn.Execute(NormalizeSql("Select citemname As strName From fitemss" + item_class +
                                  " Where citemcode = " + db::SqlText(item)));
      if (!found.Eof()) name = found.Text("strName");
    }
    row.SetAttr("strItem", name);
  }
  std::string currency = rs.Text("strbill");
  if (!currency.empty()) {
    db::Recordset decimals = cn.Execute(NormalizeSql(
        "SELECT idec FROM dbo.foreigncurrency WHERE (cexch_name = " + db::SqlText(currency) + ")"));
    if (!decimals.Eof()) row.SetAttr("NumPoint", decimals.Text("idec"));
  }
  return true;
}

bool CLoan::GetVoucherBody(host::Session&, db::Connection& cn, xml::Node& func,
                           xml::Document& answer) {
  std::string number = FirstIn(func).Attr("AutoID");
  number = number.empty() ? auto_id_ : RequireInteger(number, "AutoID");
  db::Recordset rs =
      cn.Execute(NormalizeSql("Select *,'' as editprop From vwECLoanBody Where AutoID = " +
                              (number.empty() ? std::string("0") : number)));
  answer.LoadXml(db::SaveXml(rs));
  return true;
}

bool CLoan::GetOperList(host::Session& session, db::Connection& cn, xml::Node& func,
                        xml::Document& answer) {
  std::string type = InText(func, "type");
  std::string templates = frame::RowAuthString(session, "djmb", type);
  std::string sql =
      "SELECT dbo.EC_OperationType.strCode, "
      "dbo.EC_OperationType.strName, dbo.EC_OperationType.strShowModel,"
      "dbo.EC_OperationType.strPrintModel "
      "FROM dbo.EC_OperationType LEFT OUTER JOIN "
      "dbo.VoucherTemplates VoucherTemplates_1 ON "
      "dbo.EC_OperationType.strPrintModel = VoucherTemplates_1.VT_ID LEFT OUTER JOIN "
      "dbo.VoucherTemplates ON "
      "dbo.EC_OperationType.strShowModel = dbo.VoucherTemplates.VT_ID Left Outer Join Vouchers "
      "On VoucherTemplates.VT_CardNumber = Vouchers.CardNumber "
      "Where IsNull(dbo.VoucherTemplates.VT_CardNumber,'') = " +
      db::SqlText(type) + " " +
      "And IsNull(VoucherTemplates_1.VT_CardNumber,'') = " + db::SqlText(type);
  if (templates == "1=2") {
    sql += " and 1=2";
  } else if (!templates.empty()) {
    sql += " and dbo.EC_OperationType.strShowModel in (" + templates + ") ";
  }
  sql += " Order By dbo.Vouchers.DEF_ID";
  db::Recordset rs = cn.Execute(NormalizeSql(sql));
  std::string out = "<rows>";
  for (; !rs.Eof(); rs.MoveNext()) {
    out += "<option ";
    for (int i = 0; i < rs.FieldCount(); ++i) {
      const std::string& name = rs.Field(i).name;
      std::string value = frame::XmlEscape(rs.Value(i).ToText());
      if (name == "strCode") {
        out += "value='" + value + "' ";
      } else if (name == "strName") {
        out += "text='" + value + "' ";
      } else {
        out += name + "='" + value + "' ";
      }
    }
    out += "/>";
  }
  answer.LoadXml(out + "</rows>");
  return true;
}

bool CLoan::GetVouchByGUID(host::Session&, db::Connection& cn, xml::Node& func,
                           xml::Document& answer) {
  std::string guid = InText(func, "GUID");
  db::Recordset rs = cn.Execute(NormalizeSql(
      "Select strTypeCode ,AutoID From EC_LoanVouch Where GUID = " + db::SqlText(guid)));
  if (rs.Eof()) {
    rs = cn.Execute(NormalizeSql("Select strTypeCode ,AutoID From EC_ExpenVouch Where GUID = " +
                                 db::SqlText(guid)));
  }
  if (rs.Eof()) Raise(kErrBusiness, "Q7.Rembiz.0257");
  auto_id_ = rs.Text("AutoID");
  answer.LoadXml("<Rows><row AutoID='" + auto_id_ + "' /></Rows>");
  db::Recordset type =
      cn.Execute(NormalizeSql("Select strShowModel From EC_OperationType Where strCode = " +
                              db::SqlText(rs.Text("strTypeCode"))));
  if (type.Eof()) Raise(kErrBusiness, "Q7.Rembiz.0258");
  show_model_ = type.Text("strShowModel");
  return true;
}

bool CLoan::GetVouchListID(host::Session& session, db::Connection& cn, xml::Node& func,
                           xml::Document& answer) {
  std::string source = frame::DataAuthFilter(session, "EC_LoanVouch", "True");
  std::string submitted = SubmitOnSave(cn) ? "1" : "0";

  std::string templates = frame::RowAuthString(session, "djmb", "EC01");
  std::string condition =
      templates.empty() ? " 1=1"
      : templates == "1=2"
          ? " 1=2"
          : " strTypeCode IN (Select strcode From EC_OperationType Where strShowModel in (" +
                templates + ")) ";
  xml::Node begin = func.SelectSingleNode("in/begin");
  if (begin && frame::IsNumeric(db::Variant(Trim(begin.Text()))) &&
      frame::NumValue(db::Variant(Trim(begin.Text()))) != 0) {
    // Opening vouchers with a row not yet repaid.
    condition +=
        " and blnBegin = 1 And GUID in (SELECT DISTINCT MGuid From EC_LoanVouch_Sub WHERE "
        "(dblReturn = 0) AND (blnSettle = 0))";
  } else {
    // Vouchers still editable: not approved, and submitted exactly when submit-on-save is on.
    condition +=
        " and blnBegin = 0 And blnAudi = " + submitted + " And IsNull(strAuditorID,'') = ''";
  }

  std::string current = InText(func, "strAutoID");
  if (!current.empty()) RequireInteger(current, "strAutoID");
  std::string director = InText(func, "Director");
  std::string last = "Select max(AutoID) as AutoID From " + source + " Where " + condition;
  std::string sql = last;
  if (director == "0") {
    sql = "Select min(AutoID) as AutoID From " + source + " Where " + condition;
  } else if (director == "-1") {
    sql = "Select  max(AutoID) as AutoID From " + source + " Where " + condition;
  } else if (!current.empty() && director == "1") {
    sql = "Select max(AutoID) as AutoID From " + source + " Where " + condition + " And AutoID < " +
          current;
  } else if (!current.empty() && director == "2") {
    sql = "Select  min(AutoID) as AutoID From " + source + " Where " + condition +
          " And AutoID > " + current;
  } else if (!current.empty() && director == "3") {
    sql = "Select  min(AutoID) as AutoID From " + source + " Where " + condition +
          " And AutoID = " + current;
  }
  // Any other direction, and a step past either end, shows the last voucher.
  std::string chosen = cn.Execute(NormalizeSql(sql)).Text("AutoID");
  if (chosen.empty() && sql != last) chosen = cn.Execute(NormalizeSql(last)).Text("AutoID");

  db::Recordset list = cn.Execute(NormalizeSql("Select AutoID From " + source + " Where " +
                                               condition + " Order By AutoID Desc"));
  std::string rows = "<Rows>";
  for (; !list.Eof(); list.MoveNext()) rows += "<row AutoID='" + list.Text("AutoID") + "'/>";
  answer.LoadXml(rows + "</Rows>");

  if (auto_id_.empty()) auto_id_ = chosen;
  if (!auto_id_.empty()) {
    // The join condition stands in parentheses: with English aliases bracketed, a restricted
    // source's alias would otherwise swallow the join up to the end of the statement.
    db::Recordset type = cn.Execute(NormalizeSql(
        "SELECT strTypeCode,strShowModel FROM " + source +
        " Left JOIN EC_OperationType ON (EC_LoanVouch.strTypeCode = EC_OperationType.strCode) "
        "Where AutoID = " +
        auto_id_));
    if (!type.Eof()) show_model_ = type.Text("strShowModel");
  }
  return true;
}

bool CLoan::VchModuleGet(host::Session& session, db::Connection& cn, xml::Node& func,
                         xml::Document& answer) {
  xml::Node in = func.Child("in");
  xml::Node id = in.Child("id");
  if (Trim(id.Text()).empty() && !show_model_.empty()) {
    if (!id) id = in.AppendElement("id");
    id.SetText(show_model_);
  }
  return PubMsg().InvokePublic("VchModuleGet", session, cn, func, answer);
}

bool CLoan::VchNoFormatGet(host::Session& session, db::Connection& cn, xml::Node& func,
                           xml::Document& answer) {
  return PubMsg().InvokePublic("VchNoFormatGet", session, cn, func, answer);
}

// ---------------------------------------------------------------------------------------------
// Save

bool CLoan::SaveVouch(host::Session& session, db::Connection& cn, xml::Node& func,
                      xml::Document& answer) {
  try {
    return SaveVouchSteps(session, cn, func, answer);
  } catch (const db::DbError& e) {
    // Database errors reach the page as the message of the constraint they name.
    std::string text = e.Description();
    if (text.find("IX_EC_ExpenVouch") != std::string::npos ||
        text.find("IX_EC_LoanVouch") != std::string::npos) {
      text = host::MessageText("Q7.Rembiz.0236");
    }
    if (text.find("EC_ExpenLoanInfo") != std::string::npos) {
      text = host::MessageText("Q7.Rembiz.0256");
    }
    if (text.find("overflow error") != std::string::npos) {
      text = host::MessageText("Q7.Rembiz.0377");
    }
    throw ComError(e.Number(), text, e.Source());
  }
}

bool CLoan::SaveVouchSteps(host::Session& session, db::Connection& cn, xml::Node& func,
                           xml::Document& answer) {
  const std::string submit = SubmitOnSave(cn) ? "1" : "0";
  xml::Node head_element = func.SelectSingleNode("in/xml/head");
  const int begin = frame::NumValue(db::Variant(head_element.Attr("blnBegin"))) != 0 ? 1 : 0;
  xml::Node head = func.SelectSingleNode("in/xml/head/z:row");

  std::string guid = head.Attr("GUID");
  const bool change = !guid.empty();
  if (!change) guid = frame::NewGuid(cn);
  const std::string qguid = db::SqlText(guid);

  // Head: presence and master data.
  if (!Present(head, "strTypeCode")) Raise(kErrBusiness, "Q7.Rembiz.0011");
  if (!Present(head, "strVouchID")) Raise(kErrBusiness, "Q7.Rembiz.0211");
  if (!Present(head, "dtLoanDate")) Raise(kErrBusiness, "Q7.Rembiz.0212");
  std::optional<std::string> loan_date = DateOf(head.Attr("dtLoanDate"));
  if (!loan_date) Raise(kErrBusiness, "Q7.Rembiz.0213");
  std::string exp_date = "Null";
  if (Present(head, "dtExpDate")) {
    std::optional<std::string> date = DateOf(head.Attr("dtExpDate"));
    if (!date) Raise(kErrBusiness, "Q7.Rembiz.0213");
    exp_date = db::SqlText(*date);
  }

  if (!Present(head, "strDepartID")) Raise(kErrBusiness, "Q7.Rembiz.0214");
  db::Recordset department =
      cn.Execute(NormalizeSql("SELECT cDepCode, bDepEnd FROM Department Where cDepCode = " +
                              db::SqlText(head.Attr("strDepartID"))));
  if (department.Eof()) Raise(kErrBusiness, "Q7.Rembiz.0215");
  if (!department.Value("bDepEnd").ToBool()) Raise(kErrBusiness, "Q7.Rembiz.0216");

  if (!Present(head, "strLoanID")) Raise(kErrBusiness, "Q7.Rembiz.0217");
  const std::string borrower = head.Attr("strLoanID");
  if (!Exists(cn, "SELECT cPersonCode, cDepCode FROM Person Where cPersonCode = " +
                      db::SqlText(borrower))) {
    Raise(kErrBusiness, "Q7.Rembiz.0218");
  }

  frame::CheckCostItem(cn, head);
  frame::CheckCurrencyAndRate(cn, head);

  const std::string head_money = RequiredNumber(head, "dblMoney", "Q7.Rembiz.0226");
  const std::string old_money = RequiredNumber(head, "dblOldMoney", "Q7.Rembiz.0227");

  if (!Present(head, "strPersonID")) Raise(kErrBusiness, "Q7.Rembiz.0228");
  if (!Exists(cn, "SELECT cUser_Name FROM QDSystem.dbo.UA_User Where cUser_Name = " +
                      db::SqlText(head.Attr("strPersonID")))) {
    Raise(kErrBusiness, "Q7.Rembiz.0229");
  }

  // Borrower limits of control type 1; opening vouchers carry loans from before and skip them.
  if (begin != 1) {
    db::Recordset limits = cn.Execute(NormalizeSql(
        "Select blnDay,intDay,strDayCtrType,blnNumber,intNumber,strNumCtrType,blnMoney,intMoney,"
        "strMonCtrType From EC_PersonCtrl Where strPersonCode = " +
        db::SqlText(borrower)));
    if (!limits.Eof()) {
      std::string others = " WHERE (GUID <> " + qguid +
                           ") And (blnSettle = 0) And (strLoanID = " + db::SqlText(borrower) + ")";
      if (limits.Value("blnDay").ToBool() && IsTypeOne(limits.Value("strDayCtrType"))) {
        db::Recordset age = cn.Execute(NormalizeSql("SELECT MAX(DATEDIFF([day], dtLoanDate, '" +
                                                    loan_date->substr(0, 10) +
                                                    "')) AS A FROM EC_LoanVouch" + others));
        const db::Variant& days = age.Value("A");
        if (!days.IsNull() && days.ToDouble() > limits.Value("intDay").ToDouble()) {
          db::Recordset oldest =
              cn.Execute(NormalizeSql("SELECT MIN(dtLoanDate) AS D FROM EC_LoanVouch" + others));
          Raise(kErrBusiness, "Q7.Rembiz.0231", oldest.Text("D").substr(0, 10),
                limits.Text("intDay"));
        }
      }
      if (limits.Value("blnNumber").ToBool() && IsTypeOne(limits.Value("strNumCtrType"))) {
        db::Recordset count =
            cn.Execute(NormalizeSql("SELECT COUNT(*) AS A FROM EC_LoanVouch" + others));
        double limit = limits.Value("intNumber").ToDouble();
        if (count.Eof()) {
          if (limit < 1) Raise(kErrBusiness, "Q7.Rembiz.0233");
        } else if (limit < count.Value("A").ToDouble() + 1) {
          Raise(kErrBusiness, "Q7.Rembiz.0232", limits.Text("intNumber"), count.Text("A"));
        }
      }
      if (limits.Value("blnMoney").ToBool() && IsTypeOne(limits.Value("strMonCtrType"))) {
        db::Recordset open =
            cn.Execute(NormalizeSql(std::string("select ") + kOpenAmountSql +
                                    "as A from ec_loanvouch left join foreigncurrency on "
                                    "ec_loanvouch.strbill=foreigncurrency.cexch_name" +
                                    others));
        double limit = limits.Value("intMoney").ToDouble();
        double amount = frame::NumValue(db::Variant(head.Attr("dblOldMoney")));
        if (open.Eof()) {
          if (limit < amount) Raise(kErrBusiness, "Q7.Rembiz.0235");
        } else if (limit < open.Value("A").ToDouble() + amount) {
          Raise(kErrBusiness, "Q7.Rembiz.0234", db::DoubleText(limit),
                db::CentsText(open.Value("A").ToDouble() + amount));
        }
      }
    }
  }

  // Change mode: the stored voucher must still be changeable.
  if (change) {
    db::Recordset stored = cn.Execute(NormalizeSql(
        "Select intBudPass,blnAudi,strAuditorID,blnBegin From EC_LoanVouch Where GUID = " + qguid));
    if (stored.Eof()) Raise(kErrBusiness, "Q7.Rembiz.0243");
    if (stored.Value("intBudPass").ToInt() == 1) Raise(kErrBusiness, "Q7.Rembiz.0244");
    if (stored.Value("blnBegin").ToBool()) {
      if (WrittenOff(cn, guid)) Raise(kErrBusiness, "Q7.Rembiz.0247");
    } else if (submit == "1") {
      if (!stored.Text("strAuditorID").empty()) Raise(kErrBusiness, "Q7.Rembiz.0245");
    } else if (stored.Value("blnAudi").ToBool()) {
      Raise(kErrBusiness, "Q7.Rembiz.0246");
    }
  }

  // Head columns in the order both statements write them.
  BudgetColumns budget = BudgetOf(head);
  std::string vouch_id = head.Attr("strVouchID");
  std::vector<std::pair<std::string, std::string>> columns = {
      {"strTypeCode", ValueOf(head, "strTypeCode")},
      {"strVouchID", db::SqlText(vouch_id)},
      {"dtLoanDate", db::SqlText(*loan_date)},
      {"strDepartID", ValueOf(head, "strDepartID")},
      {"strLoanID", ValueOf(head, "strLoanID")},
      {"strItemClassID", ValueOf(head, "strItemClassID")},
      {"strItemID", ValueOf(head, "strItemID")},
  };
  columns.insert(columns.end(), budget.values.begin(), budget.values.end());
  std::vector<std::pair<std::string, std::string>> tail = {
      {"strBill", ValueOf(head, "strBill")},
      {"fltRate", NumberOf(head, "fltRate")},
      {"dblMoney", head_money},
      {"dblOldMoney", old_money},
      {"strUsed", ValueOf(head, "strUsed")},
      {"dtExpDate", exp_date},
      {"strPersonID", ValueOf(head, "strPersonID")},
  };
  columns.insert(columns.end(), tail.begin(), tail.end());
  std::vector<std::pair<std::string, std::string>> defines;
  for (int i = 1; i <= 16; ++i) {
    std::string name = "cDefine" + std::to_string(i);
    defines.emplace_back(name, ValueOf(head, name));
  }

  if (change) {
    std::string ts = head.Attr("ts");
    // A row version that is no number matches no stored voucher.
    if (!frame::IsNumeric(db::Variant(ts))) Raise(kErrBusiness, "Q7.Rembiz.0248");
    std::string sql =
        "Update EC_LoanVouch Set intBudPass = 0 ,intOverBud = -1 ,blnaudi = " + submit +
        ",strOverPerson = null ,strOverDate = null ,strOverDesc = null, ";
    for (const auto& [column, value] : columns) sql += column + " = " + value + ", ";
    sql += "blnAllBill = 1, blnBegin = " + std::to_string(begin);
    for (const auto& [column, value] : defines) sql += ", " + column + " = " + value;
    sql +=
        " Where GUID = " + qguid + " And Cast(ts As money) = " + frame::SqlNumber(db::Variant(ts));
    int64_t affected = 0;
    cn.Execute(NormalizeSql(sql), &affected);
    if (affected == 0) Raise(kErrBusiness, "Q7.Rembiz.0248");
    cn.Execute(NormalizeSql("Delete EC_LoanVouch_Sub Where MGuid = " + qguid));
  }

  if (!budget.error_key.empty()) Raise(kErrBusiness, budget.error_key);

  if (!change) {
    // A number already in use is replaced by fresh ones from the numbering, a few times at most.
    int fresh = 0;
    while (Exists(
        cn, "Select strVouchID From EC_LoanVouch Where strVouchID = " + db::SqlText(vouch_id))) {
      if (fresh == kFreshNumbers) Raise(kErrBusiness, "Q7.Rembiz.0239");
      xml::Document format_request;
      format_request.LoadXml("<a><in><type>EC01</type></in><out/></a>");
      xml::Node format_node = format_request.DocumentElement();
      answer.Clear();
      if (!PubMsg().InvokePublic("VchNoFormatGet", session, cn, format_node, answer)) {
        std::string text = answer.SelectSingleNode("//error/text").Text();
        if (text.empty()) Raise(kErrBusiness, "Q7.Rembiz.0109");
        throw ComError(kErrBusiness, text, "Rembiz");
      }
      xml::Node format = answer.SelectSingleNode("//单据编号");
      if (Lower(format.Attr("允许手工修改")) == "true") Raise(kErrBusiness, "Q7.Rembiz.0237");

      // The numbering seeds its date parts from the head; it gets the date as saved.
      xml::Document seed;
      seed.LoadXml(head_element.Xml());
      seed.SelectSingleNode("//z:row").SetAttr("dtLoanDate", *loan_date);
      xml::Document number_request;
      number_request.LoadXml("<a><in><type>EC01</type><true>true</true><voucher type='EC01'>" +
                             seed.DocumentElement().Xml() + "</voucher></in></a>");
      xml::Node number_node = number_request.DocumentElement();
      answer.Clear();
      PubMsg().InvokePublic("VchNoGet", session, cn, number_node, answer);
      vouch_id = answer.SelectSingleNode("//vchno").Text();
      if (vouch_id.empty()) Raise(kErrBusiness, "Q7.Rembiz.0108");
      ++fresh;
    }
    columns[1].second = db::SqlText(vouch_id);

    std::string names = "GUID";
    std::string values = qguid;
    for (const auto& [column, value] : columns) {
      names += "," + column;
      values += "," + value;
    }
    names += ",blnAudi,blnAllBill,blnBegin,intOverBud";
    values += "," + submit + ",1," + std::to_string(begin) + ",-1";
    for (const auto& [column, value] : defines) {
      names += "," + column;
      values += "," + value;
    }
    cn.Execute(NormalizeSql("Insert Into EC_LoanVouch (" + names + ") Values (" + values + ")"));
  }

  if (change) {
    // A changed voucher starts its approval over.
    std::unique_ptr<host::ApprovalFlow> flow = host::CreateApprovalFlow();
    flow->Init(session, cn);
    if (flow->HasInstance(kLoanCard, guid, kFlowKind) &&
        !flow->ResetInstance(kLoanCard, guid, kFlowKind)) {
      Raise(kErrBusiness, "Q7.Rembiz.0196", flow->LastErrorText());
    }
  }

  // Rows.
  xml::Node body = func.SelectSingleNode("in/xml/body");
  if (!body) body = func.SelectSingleNode("//body");
  double total = 0;
  int all_bill = 1;
  int index = 0;
  for (const xml::Node& row : body.Children()) {
    if (!Present(row, "strBalanceID")) Raise(kErrBusiness, "Q7.Rembiz.0249");
    db::Recordset style =
        cn.Execute(NormalizeSql("SELECT bSSEnd, bSSFlag From dbo.SettleStyle WHERE (cSSCode = " +
                                db::SqlText(row.Attr("strBalanceID")) + ")"));
    if (style.Eof()) Raise(kErrBusiness, "Q7.Rembiz.0250");
    if (!style.Value("bSSEnd").ToBool()) Raise(kErrBusiness, "Q7.Rembiz.0251");
    // Cheque-type settlement: the row pays an advance against a bill, not an amount.
    const bool cheque = style.Value("bSSFlag").ToBool();

    double money = frame::NumValue(db::Variant(row.Attr("dblMoney")));
    if (money != 0) {
      total += money;
      all_bill = 0;
    } else if (!Present(row, "dblPreMoney")) {
      Raise(kErrBusiness, "Q7.Rembiz.0252");
    }
    if (cheque && !Present(row, "strBillID")) Raise(kErrBusiness, "Q7.Rembiz.0253");
    if (Present(row, "strPayBankID") &&
        !Exists(cn, "SELECT cBCode From dbo.Bank WHERE (cBCode = " +
                        db::SqlText(row.Attr("strPayBankID")) + ")")) {
      Raise(kErrBusiness, "Q7.Rembiz.0254");
    }

    double advance = frame::NumValue(db::Variant(row.Attr("dblPreMoney")));
    std::string sql =
        "Insert Into EC_LoanVouch_Sub (MGuid,strBalanceID,dblMoney,dblPreMoney,strBillID,"
        "strPayBankID,strBankName,strBankAcc";
    for (int i = 22; i <= 37; ++i) sql += ",cDefine" + std::to_string(i);
    sql += ") Values (" + qguid + "," + ValueOf(row, "strBalanceID") + "," +
           (cheque ? std::string("Null") : NumberOf(row, "dblMoney")) + "," +
           (advance != 0 ? NumberOf(row, "dblPreMoney") : std::string("Null")) + "," +
           ValueOf(row, "strBillID") + "," + ValueOf(row, "strPayBankID") + "," +
           ValueOf(row, "strBankName") + "," + ValueOf(row, "strBankAcc");
    for (int i = 22; i <= 37; ++i) sql += "," + ValueOf(row, "cDefine" + std::to_string(i));
    int64_t affected = 0;
    cn.Execute(NormalizeSql(sql + ")"), &affected);
    if (affected != 1) Raise(kErrBusiness, "Q7.Rembiz.0255", std::to_string(index));
    ++index;
  }

  // Head total; opening vouchers are approved on entry by the operator.
  std::string amounts = "dblMoney = " + db::DoubleText(RoundMoney(total)) +
                        ", blnAllBill = " + std::to_string(all_bill);
  if (begin == 1) {
    std::string user = db::SqlText(session.UserName());
    cn.Execute(NormalizeSql("Update EC_LoanVouch Set blnAudi = 1,strAuditorID = " + user +
                            ",strMakerID = " + user + "," + amounts + " Where GUID = " + qguid));
  } else {
    cn.Execute(NormalizeSql("Update EC_LoanVouch Set " + amounts + " Where GUID = " + qguid));
  }

  if (submit == "1" && begin != 1) {
    head.SetAttr("GUID", guid);
    // The flow is told the number the voucher was saved under.
    head.SetAttr("strVouchID", vouch_id);
    InitAudit(session, cn, head);
  }

  db::Recordset saved =
      cn.Execute(NormalizeSql("Select AutoID From EC_LoanVouch Where GUID = " + qguid));
  xml::Node list_id = func.SelectSingleNode("//func[@name='getVouchListID']/in/strAutoID");
  if (list_id && !saved.Eof()) {
    list_id.SetText(saved.Text("AutoID"));
    func.SelectSingleNode("//func[@name='getVouchListID']/in/Director").SetText("3");
  }
  return true;
}

// ---------------------------------------------------------------------------------------------
// Delete and submission

bool CLoan::DelVouch(host::Session& session, db::Connection& cn, xml::Node& func, xml::Document&) {
  std::string id = RequireInteger(InText(func, "strAutoID"), "strAutoID");
  std::string ts = InText(func, "ts");
  if (!frame::IsNumeric(db::Variant(ts))) Raise(kErrBusiness, "Q7.Rembiz.0201");

  std::string type = InText(func, "type");
  std::string table, card;
  if (type == "EC01") {
    table = "EC_LoanVouch";
    card = "45";
  } else if (type == "EC02") {
    table = "EC_ExpenVouch";
    card = "46";
  } else if (type == "EC03") {
    table = "EC_ExpenVouch";
    card = "47";
  } else {
    Raise(kErrBusiness, "Q7.Rembiz.0177");
  }

  db::Recordset voucher =
      cn.Execute(NormalizeSql("Select * From " + table + " Where AutoID = " + id +
                              " And Cast(ts As money) = " + frame::SqlNumber(db::Variant(ts))));
  if (voucher.Eof()) Raise(kErrBusiness, "Q7.Rembiz.0370");
  if (FieldOr(voucher, "blnBegin").ToBool()) {
    if (FieldOr(voucher, "dblreturn").ToDouble() != 0) Raise(kErrBusiness, "Q7.Rembiz.0203");
  } else if (voucher.Value("blnaudi").ToBool()) {
    Raise(kErrBusiness, "Q7.Rembiz.0271");
  }
  int64_t bud_pass = voucher.Value("intBudPass").ToInt();
  if (bud_pass == 1) Raise(kErrBusiness, "Q7.Rembiz.0206");
  if (voucher.Value("intOverBud").ToInt() == 1 && bud_pass == 0) {
    Raise(kErrBusiness, "Q7.Rembiz.0207");
  }

  std::string guid = voucher.Text("GUID");
  std::unique_ptr<host::ApprovalFlow> flow = host::CreateApprovalFlow();
  flow->Init(session, cn);
  if (flow->HasInstance(card, guid, kFlowKind) && !flow->DropInstance(cn, card, guid, kFlowKind)) {
    throw ComError(kErrBusiness, flow->LastErrorText(), "Rembiz");
  }
  if (WrittenOff(cn, guid)) Raise(kErrBusiness, "Q7.Rembiz.0208");

  cn.Execute(NormalizeSql("Delete " + table + "_Sub Where MGUID = " + db::SqlText(guid)));
  int64_t affected = 0;
  cn.Execute(NormalizeSql("Delete " + table + " Where GUID = " + db::SqlText(guid)), &affected);
  if (affected != 1) Raise(kErrBusiness, "Q7.Rembiz.0209");
  return true;
}

bool CLoan::SubmitAudit(host::Session& session, db::Connection& cn, xml::Node& func,
                        xml::Document& answer) {
  return approval::SubmitAudit(session, cn, func, answer, "EC_LoanVouch");
}

bool CLoan::InitAudit(host::Session& m_objLogin, db::Connection& CN, const xml::Node& oNode) {
  return approval::InitAudit(m_objLogin, CN, oNode);
}

// ---------------------------------------------------------------------------------------------
// Checks

bool CLoan::CheckLoanXY(host::Session& session, db::Connection& cn, xml::Node& func,
                        xml::Document& answer) {
  xml::Node in = FirstIn(func);
  std::string guid = in.Attr("GUID");
  std::string borrower = in.Attr("strPersonCode");
  std::string date_text = Trim(in.Attr("dtDate"));
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
      if (limit < 1) {
        exceeded("Q7.Rembiz.0266", "strNumCtrType", "", "");
      } else if (count > limit) {
        exceeded("Q7.Rembiz.0265", "strNumCtrType", limits.Text("intNumber"),
                 db::DoubleText(count));
      }
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

bool CLoan::CheckModify(host::Session&, db::Connection& cn, xml::Node& func,
                        xml::Document& answer) {
  xml::Node in = FirstIn(func);
  std::string guid = in.Attr("GUID");
  if (guid.empty()) Raise(kErrBusiness, "Q7.Rembiz.0268");
  if (in.Attr("flag") != "0") {
    if (WrittenOff(cn, guid)) Raise(kErrBusiness, "Q7.Rembiz.0270");
  } else {
    db::Recordset voucher =
        cn.Execute(NormalizeSql("Select * From EC_LoanVouch Where GUID = " + db::SqlText(guid)));
    if (voucher.Eof()) Raise(kErrBusiness, "Q7.Rembiz.0180");
    if (voucher.Value("blnaudi").ToBool()) Raise(kErrBusiness, "Q7.Rembiz.0269");
  }
  answer.LoadXml("<Rows />");
  return true;
}

bool CLoan::GetHXInfo(host::Session&, db::Connection& cn, xml::Node& func, xml::Document& answer) {
  std::string guid = FirstIn(func).Attr("GUID");
  if (guid.empty()) Raise(kErrBusiness, "Q7.Rembiz.0263");
  db::Recordset rs = cn.Execute(NormalizeSql(
      "Select strBalance,dblMoney,dblPreMoney,dblReturn,dblLeave,dblJE,dtLoanDate,strAuditorID,"
      "cPersonName,strVouchID,blnUsed From (SELECT EC_LoanVouch_Sub.AutoID,SettleStyle.cSSName "
      "AS strBalance,dbo.EC_LoanVouch_Sub.dblMoney, dbo.EC_LoanVouch_Sub.dblPreMoney, "
      "dbo.EC_LoanVouch_Sub.dblReturn, 0 AS dblLeave, dbo.vwECExpenInfo.dblJE, "
      "dbo.vwECExpenInfo.dtLoanDate, dbo.vwECExpenInfo.strAuditorID, "
      "dbo.vwECExpenInfo.cPersonName, dbo.vwECExpenInfo.strVouchID, dbo.vwECExpenInfo.blnUsed, "
      "dbo.EC_LoanVouch_Sub.MGuid, dbo.EC_LoanVouch_Sub.GUID FROM dbo.EC_LoanVouch_Sub LEFT "
      "OUTER JOIN dbo.vwECExpenInfo ON dbo.EC_LoanVouch_Sub.GUID = dbo.vwECExpenInfo.LoanSubguid "
      "and vwECExpenInfo.blnUsed in (1,0) LEFT OUTER JOIN dbo.SettleStyle ON "
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
    double leave = RoundMoney(amount - rs.Value("dblReturn").ToDouble());
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
