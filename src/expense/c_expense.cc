#include "expense/c_expense.h"

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
#include "host/tasks.h"
#include "standards/get_stand.h"
#include "standards/standard_check.h"

namespace rembiz::expense {
namespace {

using approval::SubmitOnSave;
using db::kErrInvalidRequest;
using db::Lower;
using db::MoneyText;
using db::RoundMoney;
using db::Trim;
using frame::Exists;
using frame::FirstIn;
using frame::InText;
using frame::NormalizeSql;
using frame::OptionalNumber;
using frame::Present;
using frame::RequireInteger;
using frame::RowVersion;
using frame::SqlEscape;
using frame::ValueOf;

constexpr frame::FrameVariant kVariant{
    .class_name = "CExpense",
    .task_code = "EC020301",
    .entry_task = frame::EntryTask::kBeforeConnect,
    .transactions = frame::Transactions::kLazy,
    .error_form = frame::ErrorForm::kStandard,
    .busy_message = true,
};

constexpr unsigned kWrite = frame::kCheckHostLock | frame::kOpensTransaction;

constexpr frame::OperationEntry kOperations[] = {
    frame::Op<&CExpense::GetVouchListID>("getVouchListID"),
    frame::Op<&CExpense::GetVouchByGUID>("getVouchByGUID"),
    frame::Op<&CExpense::GetVoucherHead>("vchgetloanheaddata"),
    frame::Op<&CExpense::GetVoucherBody>("vchgetloanbodydata"),
    frame::Op<&CExpense::GetOperList>("getOperList"),
    frame::Op<&CExpense::VchModuleGet>("vchmoduleget"),
    frame::Op<&CExpense::VchNoFormatGet>("vchnoformatget"),
    frame::Op<&CExpense::DelVouch>("delvouch", kWrite),
    frame::Op<&CExpense::SaveVouch>("savevouch", kWrite),
    frame::Op<&CExpense::SubmitAudit>("submitaudit", kWrite),
    frame::Op<&CExpense::GetStand>("GetStand"),
    frame::Op<&CExpense::GetLoanInfo>("GetLoanInfo"),
    frame::Op<&CExpense::SaveLoanInfo>("SaveLoanInfo", frame::kOpensTransaction),
    frame::Op<&CExpense::GetExpenInfo>("GetExpenInfo"),
    frame::Op<&CExpense::SaveExpenInfo>("SaveExpenInfo", kWrite),
};

constexpr frame::OperationEntry kPublicProcedures[] = {
    frame::Op<&CExpense::GetVoucherHead>("GetVoucherHead"),
    frame::Op<&CExpense::GetVoucherBody>("GetVoucherBody"),
    frame::Op<&CExpense::GetOperList>("GetOperList"),
    frame::Op<&CExpense::GetVouchListID>("GetVouchListID"),
    frame::Op<&CExpense::GetVouchByGUID>("GetVouchByGUID"),
    frame::Op<&CExpense::DelVouch>("DelVouch"),
    frame::Op<&CExpense::SaveVouch>("SaveVouch"),
    frame::Op<&CExpense::SubmitAudit>("SubmitAudit"),
    frame::Op<&CExpense::GetStand>("GetStand"),
    frame::Op<&CExpense::GetLoanInfo>("GetLoanInfo"),
    frame::Op<&CExpense::SaveLoanInfo>("SaveLoanInfo"),
    frame::Op<&CExpense::GetExpenInfo>("GetExpenInfo"),
    frame::Op<&CExpense::SaveExpenInfo>("SaveExpenInfo"),
};

// "11" names the voucher's business flow to the approval service.
constexpr const char* kFlowKind = "11";

// Fresh numbers asked for before a save gives up on a numbering that only yields taken ones.
constexpr int kFreshNumbers = 5;

const frame::ClassRegistrar kRegistrar("Rembiz.CExpense",
                                       [] { return std::make_unique<CExpense>(); });

// Request helpers shared with CLoan live in frame/request.h; the ones below differ in what the
// claim pages send.

// A number of a record: null when missing or empty, refused when it is no number.
std::string NumberOf(const xml::Node& node, std::string_view name) {
  std::string number = OptionalNumber(node.Attr(name), name);
  return number.empty() ? "Null" : number;
}

std::string RequiredNumber(const xml::Node& node, std::string_view name,
                           std::string_view missing_key) {
  std::string text = node.Attr(name);
  if (text.empty()) Raise(kErrBusiness, missing_key);
  return NumberOf(node, name);
}

// Template card number of an operation-type code's family.
std::string CardOfTypeCode(std::string_view type_code) {
  if (type_code.starts_with("1")) return "EC02";
  if (type_code.starts_with("2")) return "EC03";
  return "EC01";
}

// The error document of a procedure that writes its own: busy codes read "Q7.Rembiz.0159".
void LoadProcedureError(xml::Document& answer, std::string_view procedure, const ComError& e,
                        std::string text) {
  if (frame::IsBusyCode(e.Number())) text = host::MessageText("Q7.Rembiz.0159");
  answer.LoadXml(frame::ProcedureErrorXml("CExpense", procedure, e.Number(), text));
}

// The budget columns of a head: item and three dimension pairs, and the message of the first
// incomplete pair.
struct BudgetColumns {
  std::vector<std::pair<std::string, std::string>> values;  // column, SQL literal
  std::string error_key;
};

BudgetColumns BudgetOf(const xml::Node& head) {
  static constexpr const char* kPairKeys[] = {"Q7.Rembiz.0240", "Q7.Rembiz.0241", "Q7.Rembiz.0331"};
  BudgetColumns out;
  bool item = Present(head, "strBudItemID");
  out.values.emplace_back("strBudItemID", item ? ValueOf(head, "strBudItemID") : "Null");
  bool complete = false;
  for (int i = 1; i <= 3; ++i) {
    std::string port = "strPort" + std::to_string(i);
    std::string value = port + "Value";
    bool has_port = Present(head, port);
    bool has_value = Present(head, value);
    if (item && has_port != has_value && out.error_key.empty()) out.error_key = kPairKeys[i - 1];
    complete = complete || (has_port && has_value);
    out.values.emplace_back(port, item ? ValueOf(head, port) : "Null");
    out.values.emplace_back(value, item ? ValueOf(head, value) : "Null");
  }
  if (item && !complete && out.error_key.empty()) out.error_key = "Q7.Rembiz.0242";
  return out;
}

// Sum of a query's column A; 0 without rows or with a null sum.
double SumOf(db::Connection& cn, const std::string& sql) {
  db::Recordset rs = cn.Execute(NormalizeSql(sql));
  return rs.Eof() ? 0 : rs.Value("A").ToDouble();
}

// The claim's new row version, handed to the other settlement save of the same request.
void PassRowVersion(db::Connection& cn, xml::Node& func, const std::string& qguid,
                    std::string_view other) {
  db::Recordset rs = cn.Execute(
      NormalizeSql("select Cast(ts As Money)as ts from EC_ExpenVouch where GUID=" + qguid));
  xml::Node in = func.SelectSingleNode("//func[@name='" + std::string(other) + "']/in");
  if (in && !rs.Eof()) in.SetAttr("ts", rs.Text("ts"));
}

std::string Attr(const char* name, const std::string& value) {
  return std::string(name) + "='" + frame::XmlEscape(value) + "' ";
}

// A bit read back as the page's number ("1"/"0"); "" for null.
std::string BitText(const db::Variant& value) {
  return value.IsNull() ? "" : (value.ToBool() ? "1" : "0");
}

}  // namespace

const frame::FrameVariant& CExpense::Variant() const { return kVariant; }
std::span<const frame::OperationEntry> CExpense::Operations() const { return kOperations; }
std::span<const frame::OperationEntry> CExpense::PublicProcedures() const {
  return kPublicProcedures;
}

void CExpense::ResetRequestState() {
  auto_id_.clear();
  show_model_.clear();
  card_num_.clear();
  pub_msg_.reset();
}

frame::BusinessObject& CExpense::PubMsg() {
  if (!pub_msg_) pub_msg_ = frame::CreateObject("Rembiz.CPubMsg");
  return *pub_msg_;
}

// ---------------------------------------------------------------------------------------------
// Reads

bool CExpense::GetVoucherHead(host::Session&, db::Connection& cn, xml::Node& func,
                              xml::Document& answer) {
  std::string number = FirstIn(func).Attr("AutoID");
  number = number.empty() ? auto_id_ : RequireInteger(number, "AutoID");
  std::string language = db::SqlText(host::CurrentLanguage());
  db::Recordset rs = cn.Execute(NormalizeSql(
      number.empty()
          ? "Select Top 1 *,'' as editprop,' ' As strItem,'0' As NumPoint From vwECExpenHead "
            "Where 1 = 2 and LocaleID=" +
                language
          : "Select *,'' as editprop,' ' As strItem,'0' As NumPoint From vwECExpenHead Where "
            "LocaleID=" +
                language + " and AutoID = " + number));
  if (!rs.Eof()) card_num_ = CardOfTypeCode(rs.Text("strTypeCode"));
  answer.LoadXml(db::SaveXml(rs));
  if (rs.Eof()) return true;
  xml::Node row = answer.SelectSingleNode("//rs:data/z:row");

  std::string item_class = rs.Text("strItemClassID");
  std::string item = rs.Text("strItemID");
  if (!item_class.empty() && !item.empty()) {
    std::optional<std::string> sql;
    if (item_class == "ch") {
      sql = "Select cinvname As strName From inventory Where cinvcode = " + db::SqlText(item);
    } else if (frame::IsSqlName("fitemss" + item_class)) {
      sql = "Select citemname As strName From fitemss" + item_class +
            " Where citemcode = " + db::SqlText(item);
    }
    if (sql) {
      db::Recordset found = cn.Execute(NormalizeSql(*sql));
      if (!found.Eof()) row.SetAttr("strItem", found.Text("strName"));
    }
  }
  std::string currency = rs.Text("strbill");
  if (!currency.empty()) {
    db::Recordset decimals = cn.Execute(NormalizeSql(
        "SELECT idec FROM dbo.foreigncurrency WHERE (cexch_name = " + db::SqlText(currency) + ")"));
    if (!decimals.Eof()) row.SetAttr("NumPoint", decimals.Text("idec"));
  }
  return true;
}

bool CExpense::GetVoucherBody(host::Session&, db::Connection& cn, xml::Node& func,
                              xml::Document& answer) {
  std::string number = FirstIn(func).Attr("AutoID");
  number = number.empty() ? auto_id_ : RequireInteger(number, "AutoID");
  db::Recordset rs = cn.Execute(NormalizeSql(
      number.empty() ? std::string("Select *,'' as editprop From vwECExpenBody Where 1=2")
                     : "Select *,'' as editprop From vwECExpenBody Where AutoID = " + number));
  answer.LoadXml(db::SaveXml(rs));
  return true;
}

bool CExpense::GetOperList(host::Session& session, db::Connection& cn, xml::Node& func,
                           xml::Document& answer) {
  if (auto_id_.empty()) card_num_ = InText(func, "type");
  const std::string& card = card_num_;
  std::string templates = frame::RowAuthString(session, "djmb", card);
  std::string sql =
      "SELECT dbo.EC_OperationType.strCode, dbo.EC_OperationType.strName, "
      "dbo.EC_OperationType.strShowModel,dbo.EC_OperationType.strPrintModel "
      "FROM dbo.EC_OperationType LEFT OUTER JOIN dbo.VoucherTemplates VoucherTemplates_1 ON "
      "dbo.EC_OperationType.strPrintModel = VoucherTemplates_1.VT_ID LEFT OUTER JOIN "
      "dbo.VoucherTemplates ON dbo.EC_OperationType.strShowModel = dbo.VoucherTemplates.VT_ID "
      "Where IsNull(dbo.VoucherTemplates.VT_CardNumber,'') = " +
      db::SqlText(card) + "And IsNull(VoucherTemplates_1.VT_CardNumber,'') = " + db::SqlText(card);
  if (templates == "1=2") {
    sql += " and 1=2";
  } else if (!templates.empty()) {
    sql += " and dbo.EC_OperationType.strShowModel in (" + templates + ") ";
  }
  db::Recordset rs = cn.Execute(NormalizeSql(sql));
  std::string out = "<rows>";
  for (; !rs.Eof(); rs.MoveNext()) {
    out += "<option ";
    for (int i = 0; i < rs.FieldCount(); ++i) {
      const std::string& name = rs.Field(i).name;
      std::string value = rs.Value(i).ToText();
      if (name == "strCode") {
        out += Attr("value", value);
      } else if (name == "strName") {
        out += Attr("text", value);
      } else {
        out += name + "='" + frame::XmlEscape(value) + "' ";
        if (name == "strShowModel" && show_model_.empty()) show_model_ = value;
      }
    }
    out += "/>";
  }
  answer.LoadXml(out + "</rows>");
  return true;
}

bool CExpense::GetVouchByGUID(host::Session&, db::Connection& cn, xml::Node& func,
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
  std::string type_code = rs.Text("strTypeCode");
  // The card of the voucher's family; loan codes (which begin with "3") give "EC01", so that
  // a loan found here opens on the loan templates.
  card_num_ = CardOfTypeCode(type_code);
  db::Recordset type = cn.Execute(NormalizeSql(
      "Select strShowModel From EC_OperationType Where strCode = " + db::SqlText(type_code)));
  if (type.Eof()) Raise(kErrBusiness, "Q7.Rembiz.0258");
  show_model_ = type.Text("strShowModel");
  answer.LoadXml("<Rows><row AutoID='" + auto_id_ + "' /></Rows>");
  return true;
}

bool CExpense::GetVouchListID(host::Session& session, db::Connection& cn, xml::Node& func,
                              xml::Document& answer) {
  std::string source = frame::DataAuthFilter(session, "EC_ExpenVouch", "True");
  std::string submitted = SubmitOnSave(cn) ? "1" : "0";

  // Template rights of both claim cards: either card's templates make a claim visible.
  std::string rights;
  std::string income = frame::RowAuthString(session, "djmb", "EC02");
  if (income == "1=2") {
    rights = " and 1=2";
  } else if (!income.empty()) {
    rights = " and (strShowModel in (" + income + ")) ";
  }
  std::string expenditure = frame::RowAuthString(session, "djmb", "EC03");
  if (expenditure == "1=2") {
    if (rights == " and 1=2") rights += " and 1=2";
  } else if (!expenditure.empty()) {
    rights = rights == " and 1=2" ? " and (strShowModel in (" + expenditure + ")) "
                                  : rights + " or (strShowModel in (" + expenditure + ")) ";
  }
  if (!rights.empty()) rights = "(" + rights.substr(4) + ")";

  std::string condition = "blnAudi = " + submitted + " And IsNull(strAuditorID,'') = ''";
  if (!rights.empty()) {
    condition += " And strTypeCode IN (Select strcode From EC_OperationType Where " + rights + ")";
  }

  std::string current = InText(func, "strAutoID");
  if (!current.empty()) RequireInteger(current, "strAutoID");
  std::string director = InText(func, "Director");
  std::string last = "Select max(AutoID) as AutoID From " + source + " Where " + condition;
  std::string sql = last;
  if (director == "0") {
    sql = "Select  min(AutoID) as AutoID From " + source + " Where " + condition;
  } else if (director == "-1") {
    sql = "Select max(AutoID) as AutoID From " + source + " Where " + condition;
  } else if (!current.empty() && director == "1") {
    sql = "Select max(AutoID) as AutoID From " + source + " Where " + condition + " And AutoID < " +
          current;
  } else if (!current.empty() && director == "2") {
    sql = "Select min(AutoID) as AutoID From " + source + " Where " + condition + " And AutoID > " +
          current;
  } else if (!current.empty() && director == "3") {
    sql = "Select min(AutoID) as AutoID From " + source + " Where " + condition +
          " And AutoID = " + current;
  } else if (!current.empty() && director == "-3") {
    sql = "Select max(AutoID) as AutoID From " + source + " Where AutoID = " + current;
  }
  // A step past either end, and any other direction, shows the last claim.
  std::string chosen = cn.Execute(NormalizeSql(sql)).Text("AutoID");
  if (chosen.empty() && sql != last) chosen = cn.Execute(NormalizeSql(last)).Text("AutoID");
  if (auto_id_.empty()) auto_id_ = chosen;

  db::Recordset list = cn.Execute(NormalizeSql("Select AutoID,strTypeCode From " + source +
                                               " Where " + condition + " Order By AutoID Desc"));
  std::string rows = "<Rows>";
  for (; !list.Eof(); list.MoveNext()) {
    if (list.Text("AutoID") == auto_id_) card_num_ = CardOfTypeCode(list.Text("strTypeCode"));
    rows += "<row " + Attr("AutoID", list.Text("AutoID")) +
            Attr("strTypeCode", list.Text("strTypeCode")) + "/>";
  }
  answer.LoadXml(rows + "</Rows>");

  if (!auto_id_.empty()) {
    // The join condition stands in parentheses so that a bracketed alias of a restricted
    // source cannot swallow it.
    db::Recordset type = cn.Execute(NormalizeSql(
        "SELECT strTypeCode,strShowModel FROM " + source +
        " Left JOIN EC_OperationType ON (EC_ExpenVouch.strTypeCode = EC_OperationType.strCode) "
        "Where AutoID = " +
        auto_id_));
    if (!type.Eof()) {
      show_model_ = type.Text("strShowModel");
      card_num_ = CardOfTypeCode(type.Text("strTypeCode"));
    }
  }
  return true;
}

bool CExpense::VchModuleGet(host::Session& session, db::Connection& cn, xml::Node& func,
                            xml::Document& answer) {
  xml::Node in = func.Child("in");
  if (!in) in = func.AppendElement("in");
  xml::Node id = in.Child("id");
  if (Trim(id.Text()).empty()) {
    if (!id) id = in.AppendElement("id");
    id.SetText(show_model_);
  }
  xml::Node type = in.Child("type");
  if (!auto_id_.empty() || Trim(type.Text()).empty()) {
    if (!type) type = in.AppendElement("type");
    type.SetText(card_num_);
  }
  return PubMsg().InvokePublic("VchModuleGet", session, cn, func, answer);
}

bool CExpense::VchNoFormatGet(host::Session& session, db::Connection& cn, xml::Node& func,
                              xml::Document& answer) {
  if (!auto_id_.empty()) {
    xml::Node in = func.Child("in");
    if (!in) in = func.AppendElement("in");
    xml::Node type = in.Child("type");
    if (!type) type = in.AppendElement("type");
    type.SetText(card_num_);
  }
  return PubMsg().InvokePublic("VchNoFormatGet", session, cn, func, answer);
}

bool CExpense::GetStand(host::Session& session, db::Connection& cn, xml::Node& func,
                        xml::Document& answer) {
  return standards::GetStand(session, cn, func, answer);
}

// ---------------------------------------------------------------------------------------------
// Save

bool CExpense::SaveVouch(host::Session& session, db::Connection& cn, xml::Node& func,
                         xml::Document& answer) {
  try {
    return SaveVouchSteps(session, cn, func, answer);
  } catch (const ComError& e) {
    // The save answers its own error document; constraint names become the page's messages.
    std::string text = e.Description();
    if (text.find("IX_EC_ExpenVouch") != std::string::npos) {
      text = host::MessageText("Q7.Rembiz.0236");
    } else if (text.find("overflow error") != std::string::npos) {
      text = host::MessageText("Q7.Rembiz.0377");
    }
    LoadProcedureError(answer, "SaveVouch", e, text);
    return false;
  }
}

bool CExpense::SaveVouchSteps(host::Session& session, db::Connection& cn, xml::Node& func,
                              xml::Document& answer) {
  const std::string submit = SubmitOnSave(cn) ? "1" : "0";
  xml::Node head_element = func.SelectSingleNode("in/xml/head");
  xml::Node head = func.SelectSingleNode("in/xml/head/z:row");

  std::string guid = head.Attr("GUID");
  const bool change = !guid.empty();
  if (!change) guid = frame::NewGuid(cn);
  const std::string qguid = db::SqlText(guid);

  if (!Present(head, "strTypeCode")) Raise(kErrBusiness, "Q7.Rembiz.0011");
  const std::string type_code = head.Attr("strTypeCode");
  const std::string family = type_code.substr(0, 1);
  const std::string card = family == "1" ? "EC02" : "EC03";

  if (!Present(head, "strVouchID")) Raise(kErrBusiness, "Q7.Rembiz.0211");
  if (!Present(head, "dtLoanDate")) Raise(kErrBusiness, "Q7.Rembiz.0212");
  if (!head.HasAttr("strUsed")) Raise(kErrBusiness, "Q7.Rembiz.0275");
  std::optional<std::string> loan_date = db::NormalizeDate(head.Attr("dtLoanDate"));
  if (!loan_date) Raise(kErrBusiness, "Q7.Rembiz.0213");

  if (!Present(head, "strDepartID")) Raise(kErrBusiness, "Q7.Rembiz.0214");
  const std::string department = head.Attr("strDepartID");
  db::Recordset depart = cn.Execute(NormalizeSql(
      "SELECT cDepCode, bDepEnd FROM Department Where cDepCode = " + db::SqlText(department)));
  if (depart.Eof()) Raise(kErrBusiness, "Q7.Rembiz.0215");
  if (!depart.Value("bDepEnd").ToBool()) Raise(kErrBusiness, "Q7.Rembiz.0216");

  if (!Present(head, "strLoanID")) Raise(kErrBusiness, "Q7.Rembiz.0276");
  if (!Exists(cn, "SELECT cPersonCode, cDepCode FROM Person Where cPersonCode = " +
                      db::SqlText(head.Attr("strLoanID")))) {
    Raise(kErrBusiness, "Q7.Rembiz.0277");
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

  BudgetColumns budget = BudgetOf(head);
  std::string vouch_id = head.Attr("strVouchID");

  if (!change) {
    // A taken number (within the family) is replaced by fresh ones, a few times at most.
    int fresh = 0;
    while (Exists(
        cn, "Select strVouchID From EC_ExpenVouch Where strVouchID = " + db::SqlText(vouch_id) +
                " And left(strTypeCode,1) = " + db::SqlText(family))) {
      if (fresh == kFreshNumbers) Raise(kErrBusiness, "Q7.Rembiz.0239");
      xml::Document format_request;
      format_request.LoadXml("<a><in><type>" + card + "</type></in><out/></a>");
      xml::Node format_node = format_request.DocumentElement();
      answer.Clear();
      if (!PubMsg().InvokePublic("VchNoFormatGet", session, cn, format_node, answer)) {
        std::string text = answer.SelectSingleNode("//error/text").Text();
        if (text.empty()) Raise(kErrBusiness, "Q7.Rembiz.0109");
        throw ComError(kErrBusiness, text, "Rembiz");
      }
      xml::Node format = answer.SelectSingleNode("//单据编号");
      if (Lower(format.Attr("允许手工修改")) == "true") Raise(kErrBusiness, "Q7.Rembiz.0236");

      xml::Document number_request;
      number_request.LoadXml("<a><in><type>" + card + "</type><true>true</true><voucher type='" +
                             card + "'>" + head_element.Xml() + "</voucher></in></a>");
      xml::Node number_node = number_request.DocumentElement();
      answer.Clear();
      if (!PubMsg().InvokePublic("VchNoGet", session, cn, number_node, answer)) {
        std::string text = answer.SelectSingleNode("//error/text").Text();
        if (text.empty()) Raise(kErrBusiness, "Q7.Rembiz.0108");
        throw ComError(kErrBusiness, text, "Rembiz");
      }
      vouch_id = answer.SelectSingleNode("//vchno").Text();
      answer.Clear();
      if (vouch_id.empty()) Raise(kErrBusiness, "Q7.Rembiz.0108");
      ++fresh;
    }
  }

  // Head columns in the order both statements write them.
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
      {"strPersonID", ValueOf(head, "strPersonID")},
  };
  columns.insert(columns.end(), tail.begin(), tail.end());
  std::vector<std::pair<std::string, std::string>> defines;
  for (int i = 1; i <= 16; ++i) {
    std::string name = "cDefine" + std::to_string(i);
    defines.emplace_back(name, ValueOf(head, name));
  }

  if (!change) {
    if (!budget.error_key.empty()) Raise(kErrBusiness, budget.error_key);
    std::string names = "GUID";
    std::string values = qguid;
    for (const auto& [column, value] : columns) {
      names += "," + column;
      values += "," + value;
    }
    names += ",blnAudi,intOverBud";
    values += "," + submit + ",-1";
    for (const auto& [column, value] : defines) {
      names += "," + column;
      values += "," + value;
    }
    cn.Execute(NormalizeSql("Insert Into EC_ExpenVouch (" + names + ") Values (" + values + ")"));
  } else {
    // A row version that is no number matches no stored claim.
    std::optional<std::string> ts = RowVersion(head.Attr("ts"));
    if (!ts) Raise(kErrBusiness, "Q7.Rembiz.0243");
    db::Recordset stored = cn.Execute(NormalizeSql(
        "Select intBudPass,strAuditorID,blnaudi From EC_ExpenVouch Where GUID = " + qguid +
        " And Cast(ts As money) = " + *ts));
    if (stored.Eof()) Raise(kErrBusiness, "Q7.Rembiz.0243");
    if (stored.Value("intBudPass").ToInt() == 1) Raise(kErrBusiness, "Q7.Rembiz.0244");
    if (stored.Value("blnaudi").ToBool()) Raise(kErrBusiness, "Q7.Rembiz.0246");
    if (submit == "1" && !stored.Text("strAuditorID").empty()) {
      Raise(kErrBusiness, "Q7.Rembiz.0245");
    }
    if (Exists(cn, "select top 1 * from EC_BalanceInfo where ExpenGUID=" + qguid) ||
        Exists(cn, "select top 1 * from EC_ExpenLoanInfo where ExpenGUID=" + qguid)) {
      Raise(kErrBusiness, "Q7.Rembiz.0332");
    }
    if (!budget.error_key.empty()) Raise(kErrBusiness, budget.error_key);

    std::string sql =
        "Update EC_ExpenVouch Set intBudPass = 0 ,intOverBud = -1 ,blnaudi = " + submit +
        " ,strOverPerson = null ,strOverDate = null ,strOverDesc = null, ";
    for (const auto& [column, value] : columns) sql += column + " = " + value + ", ";
    for (size_t i = 0; i < defines.size(); ++i) {
      sql += (i ? ", " : "") + defines[i].first + " = " + defines[i].second;
    }
    sql += " Where GUID = " + qguid + " And Cast(ts As money) = " + *ts;
    int64_t affected = 0;
    cn.Execute(NormalizeSql(sql), &affected);
    if (affected == 0) Raise(kErrBusiness, "Q7.Rembiz.0248");
    cn.Execute(NormalizeSql("Delete EC_ExpenVouch_Sub Where MGuid = " + qguid));

    // A changed claim starts its approval over.
    std::string flow_card = family == "1" ? "46" : "47";
    std::unique_ptr<host::ApprovalFlow> flow = host::CreateApprovalFlow();
    flow->Init(session, cn);
    if (flow->HasInstance(flow_card, guid, kFlowKind) &&
        !flow->ResetInstance(flow_card, guid, kFlowKind)) {
      Raise(kErrBusiness, "Q7.Rembiz.0196", flow->LastErrorText());
    }
  }

  // Rows: master data, standards, insert.
  xml::Node body = func.SelectSingleNode("in/xml/body");
  if (!body) body = func.SelectSingleNode("//body");
  std::string warnings;
  double total = 0;
  int n = 0;
  for (const xml::Node& row : body.Children()) {
    const std::string label = "(" + std::to_string(++n) + ")";
    if (!row.HasAttr("strIOItem")) Raise(kErrBusiness, "Q7.Rembiz.0281", label);
    const std::string item = row.Attr("strIOItem");
    if (!item.empty()) {
      db::Recordset io = cn.Execute(
          NormalizeSql("Select blnEnd From EC_IOItem Where strCode = " + db::SqlText(item)));
      if (io.Eof()) Raise(kErrBusiness, "Q7.Rembiz.0281", label);
      if (!io.Value("blnEnd").ToBool()) Raise(kErrBusiness, "Q7.Rembiz.0280", label);
    }

    standards::StandardOutcome outcome =
        standards::StandardCheck(session, cn, standards::ClaimRowValues::FromClaim(head, row));
    if (outcome.Breaks()) {
      if (outcome.StopsSave()) Raise(kErrBusiness, "Q7.Rembiz.0279", label, outcome.message);
      warnings += host::MessageText("Q7.Rembiz.0279", "", label, outcome.message);
    }

    // A receipt amount is required where the item's standard grades by receipt bracket.
    standards::RequireReceiptAmount(cn, department, item, row.Attr("dblVouch"));

    std::string money_text = row.Attr("dblMoney");
    if (!frame::IsNumeric(db::Variant(money_text))) frame::InvalidNumber("dblMoney", money_text);
    std::string sql =
        "Insert Into EC_ExpenVouch_Sub (MGuid,dtBDate,intBTime,dtEDate,intETime,strBZero,strEZero,"
        "strJTTools,strIOItem,dblVouch,dblNumber,dblStand,dblPer,dblMoney,dblOldMoney,intAppend,"
        "strMemo";
    for (int i = 22; i <= 37; ++i) sql += ",cDefine" + std::to_string(i);
    sql += ") Values (" + qguid + "," + ValueOf(row, "dtBDate") + "," + NumberOf(row, "intBTime") +
           "," + ValueOf(row, "dtEDate") + "," + NumberOf(row, "intETime") + "," +
           ValueOf(row, "strBZero") + "," + ValueOf(row, "strEZero") + "," +
           ValueOf(row, "strJTTools") + "," + ValueOf(row, "strIOItem") + "," +
           NumberOf(row, "dblVouch") + "," + NumberOf(row, "dblNumber") + "," +
           NumberOf(row, "dblStand") + "," + NumberOf(row, "dblPer") + "," +
           NumberOf(row, "dblMoney") + "," + NumberOf(row, "dblOldMoney") + "," +
           NumberOf(row, "intAppend") + "," + ValueOf(row, "strMemo");
    for (int i = 22; i <= 37; ++i) sql += "," + ValueOf(row, "cDefine" + std::to_string(i));
    int64_t affected = 0;
    cn.Execute(NormalizeSql(sql + ")"), &affected);
    total += frame::NumValue(db::Variant(money_text));
    if (affected != 1) Raise(kErrBusiness, "Q7.Rembiz.0255", label);
  }
  if (n > 0) {
    cn.Execute(NormalizeSql("Update EC_ExpenVouch Set dblMoney = " + MoneyText(total) +
                            " Where GUID = " + qguid));
  }

  if (submit == "1") {
    head.SetAttr("GUID", guid);
    // The flow is told the number the claim was saved under.
    head.SetAttr("strVouchID", vouch_id);
    approval::InitAudit(session, cn, head);
  }

  db::Recordset saved = cn.Execute(
      NormalizeSql("Select AutoID,strTypeCode From EC_ExpenVouch Where GUID = " + qguid));
  if (!saved.Eof()) card_num_ = CardOfTypeCode(saved.Text("strTypeCode"));
  xml::Node list_id = func.SelectSingleNode("//func[@name='getVouchListID']/in/strAutoID");
  if (list_id && !saved.Eof()) {
    list_id.SetText(saved.Text("AutoID"));
    xml::Node director = func.SelectSingleNode("//func[@name='getVouchListID']/in/Director");
    if (director) director.SetText("3");
  }

  answer.Clear();
  if (!warnings.empty()) {
    answer.LoadXml(
        "<?xml version='1.0' encoding='utf-8'?><message><id>Rembiz:CExpend:SaveVouch:"
        "ExpenStandard</id><text>" +
        frame::XmlEscape(warnings) + "</text></message>");
  }
  return true;
}

// ---------------------------------------------------------------------------------------------
// Delete and submission

bool CExpense::DelVouch(host::Session& session, db::Connection& cn, xml::Node& func,
                        xml::Document& answer) {
  try {
    return DelVouchSteps(session, cn, func);
  } catch (const ComError& e) {
    std::string text = e.Description();
    if (text.find("FK_EC_ExpenLoanInfo_EC_ExpenVouch") != std::string::npos) {
      text = host::MessageText("Q7.Rembiz.0273");
    } else if (text.find("FK_EC_BalanceInfo_EC_ExpenVouch") != std::string::npos) {
      text = host::MessageText("Q7.Rembiz.0274");
    }
    LoadProcedureError(answer, "DelVouch", e, text);
    return false;
  }
}

bool CExpense::DelVouchSteps(host::Session& session, db::Connection& cn, xml::Node& func) {
  std::string id = RequireInteger(InText(func, "strAutoID"), "strAutoID");
  std::optional<std::string> ts = RowVersion(InText(func, "ts"));
  if (!ts) Raise(kErrBusiness, "Q7.Rembiz.0201");

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

  db::Recordset voucher = cn.Execute(NormalizeSql(
      "Select * From " + table + " Where AutoID = " + id + " And Cast(ts As money) = " + *ts));
  if (voucher.Eof()) Raise(kErrBusiness, "Q7.Rembiz.0370");
  if (voucher.Value("blnaudi").ToBool()) Raise(kErrBusiness, "Q7.Rembiz.0271");
  if (voucher.Value("intBudPass").ToInt() == 1) Raise(kErrBusiness, "Q7.Rembiz.0206");

  std::string guid = voucher.Text("guid");
  const std::string qguid = db::SqlText(guid);
  std::unique_ptr<host::ApprovalFlow> flow = host::CreateApprovalFlow();
  flow->Init(session, cn);
  if (flow->HasInstance(card, guid, kFlowKind) && !flow->DropInstance(cn, card, guid, kFlowKind)) {
    throw ComError(kErrBusiness, flow->LastErrorText(), "Rembiz");
  }
  if (Exists(cn, "select top 1 * from EC_BalanceInfo where ExpenGUID=" + qguid) ||
      Exists(cn, "select top 1 * from EC_ExpenLoanInfo where ExpenGUID=" + qguid)) {
    Raise(kErrBusiness, "Q7.Rembiz.0272");
  }

  cn.Execute(NormalizeSql("Delete " + table + "_Sub Where MGUID = " + qguid));
  int64_t affected = 0;
  cn.Execute(NormalizeSql("Delete " + table + " Where GUID = " + qguid), &affected);
  if (affected != 1) Raise(kErrBusiness, "Q7.Rembiz.0209");

  db::Recordset next = cn.Execute(
      NormalizeSql("Select Top 1 AutoID,strTypeCode From " + table + " Where AutoID > " + id));
  if (next.Eof()) {
    auto_id_.clear();
    card_num_ = "EC02";
  } else {
    auto_id_ = next.Text("AutoID");
    card_num_ = CardOfTypeCode(next.Text("strTypeCode"));
  }
  return true;
}

bool CExpense::SubmitAudit(host::Session& session, db::Connection& cn, xml::Node& func,
                           xml::Document& answer) {
  return approval::SubmitAudit(session, cn, func, answer, "EC_ExpenVouch");
}

// ---------------------------------------------------------------------------------------------
// Loan write-off

std::string CExpense::LoanRowsXml(host::Session& session, db::Connection& cn, const xml::Node& in) {
  const std::string claimant = in.Attr("strLoanID");
  const std::string claim = in.Attr("GUID");
  if (claimant.empty() && claim.empty()) Raise(kErrBusiness, "Q7.Rembiz.0284");
  std::string rate = OptionalNumber(in.Attr("fltRate"), "fltRate");
  if (rate.empty()) rate = "0";
  const bool linked_only = claimant.empty();

  std::string loans = frame::DataAuthFilter(session, "EC_LoanVouch", "True");
  std::string sql =
      "SELECT Person.cPersonName AS strLoan, EC_LoanVouch.strLoanID, "
      "EC_LoanVouch.dtLoanDate,EC_LoanVouch.strVouchID,EC_LoanVouch_Sub.strBalanceID, "
      "SettleStyle.cSSName AS strBalance,EC_LoanVouch_Sub.dblMoney,EC_LoanVouch_Sub.dblPreMoney, "
      "EC_LoanVouch_Sub.strBillID,CAST(EC_LoanVouch_Sub.ts AS money) AS ts,EC_LoanVouch_Sub.GUID, "
      "EC_LoanVouch_Sub.blnSettle,EC_ExpenLoanInfo.GUID AS GUID1,CAST(EC_ExpenLoanInfo.ts AS "
      "money) AS ts1, EC_ExpenLoanInfo.Expenguid,EC_ExpenLoanInfo.blnUsed,EC_ExpenLoanInfo.dblJE,"
      "EC_LoanVouch_Sub.dblReturn ";
  std::string joins = " LEFT OUTER JOIN " + loans +
                      " ON (EC_LoanVouch.GUID = EC_LoanVouch_Sub.MGuid) LEFT OUTER JOIN "
                      "SettleStyle ON (EC_LoanVouch_Sub.strBalanceID = SettleStyle.cSSCode) LEFT "
                      "OUTER JOIN Person ON (EC_LoanVouch.strLoanID = Person.cPersonCode) ";
  std::string currency =
      " And strBill = " + db::SqlText(in.Attr("strBill")) + " And fltRate =" + rate;
  if (linked_only) {
    sql +=
        "FROM EC_ExpenLoanInfo INNER JOIN EC_LoanVouch_Sub ON (EC_LoanVouch_Sub.GUID = "
        "EC_ExpenLoanInfo.LoanSubguid)" +
        joins + "WHERE (ISNULL(EC_LoanVouch.strAuditorID, '') <> '') And Expenguid = " +
        db::SqlText(claim) + currency + " Order by dtLoanDate";
  } else {
    sql +=
        "FROM EC_LoanVouch_Sub Left OUTER JOIN EC_ExpenLoanInfo ON (EC_LoanVouch_Sub.GUID = "
        "EC_ExpenLoanInfo.LoanSubguid)" +
        joins +
        "WHERE (ISNULL(EC_LoanVouch.strAuditorID, '') <> '') And EC_LoanVouch.strLoanID = " +
        db::SqlText(claimant) + currency +
        " And(isnull(Expenguid ,'{00000000-0000-0000-0000-000000000000}')=" + db::SqlText(claim) +
        " Or EC_LoanVouch_Sub.blnSettle = 0) Order by dtLoanDate";
  }

  // Whether this claim's write-offs are already carried into the loan rows.
  bool applied = false;
  if (linked_only) {
    db::Recordset state = cn.Execute(
        NormalizeSql("Select isnull(strAuditorID,'') As A From EC_ExpenVouch Where GUID = " +
                     db::SqlText(claim)));
    applied = !state.Eof() && !state.Text("A").empty();
  }

  db::Recordset rs = cn.Execute(NormalizeSql(sql));
  std::string out = "<Rows>";
  for (; !rs.Eof(); rs.MoveNext()) {
    double money = rs.Value("dblMoney").ToDouble();
    double returned = rs.Value("dblReturn").ToDouble();
    double je = rs.Value("dblJE").ToDouble();
    double leave = money - returned;
    double ret_leave = leave;
    if (linked_only) {
      // Open amount before this claim's write-off: a row settled while the claim's links are
      // not applied was settled by someone else and has nothing open; once applied, this
      // claim's own amount is part of dblReturn and is given back.
      if (!applied && rs.Value("blnSettle").ToBool()) {
        leave = 0;
      } else if (applied) {
        leave += je;
      }
      // What stays open after this claim's write-off.
      ret_leave = leave - je < 0 ? 0 : leave - je;
    }
    out +=
        "<row " + Attr("strLoan", rs.Text("strLoan")) + Attr("strLoanID", rs.Text("strLoanID")) +
        Attr("dtLoanDate", rs.Text("dtLoanDate")) + Attr("strVouchID", rs.Text("strVouchID")) +
        Attr("strBalanceID", rs.Text("strBalanceID")) + Attr("strBalance", rs.Text("strBalance")) +
        Attr("dblMoney", rs.Text("dblMoney")) + Attr("dblPreMoney", rs.Text("dblPreMoney")) +
        Attr("strBillID", rs.Text("strBillID")) + Attr("blnUsed", BitText(rs.Value("blnUsed"))) +
        Attr("GUID", rs.Text("GUID")) + Attr("blnSettle", BitText(rs.Value("blnSettle"))) +
        Attr("GUID1", linked_only ? rs.Text("GUID1") : "") + Attr("ts", rs.Text("ts")) +
        Attr("ts1", linked_only ? rs.Text("ts1") : "") + Attr("Expenguid", rs.Text("Expenguid")) +
        Attr("dblReturn", rs.Text("dblReturn")) + Attr("dblLeave", MoneyText(leave)) +
        Attr("dblRetValue", linked_only ? rs.Text("dblJE") : "") +
        Attr("dblRetLeave", MoneyText(ret_leave)) + "/>";
  }
  return out + "</Rows>";
}

bool CExpense::GetLoanInfo(host::Session& session, db::Connection& cn, xml::Node& func,
                           xml::Document& answer) {
  answer.LoadXml(LoanRowsXml(session, cn, func.Child("in")));
  return true;
}

bool CExpense::SaveLoanInfo(host::Session& session, db::Connection& cn, xml::Node& func,
                            xml::Document& answer) {
  xml::Node in = func.Child("in");
  const std::string guid = in.Attr("GUID");
  const std::string qguid = db::SqlText(guid);
  std::optional<std::string> ts = RowVersion(in.Attr("ts"));
  if (!ts) Raise(kErrBusiness, "Q7.Rembiz.0286");
  const std::string claim_version = " where guid=" + qguid + " and Cast(ts As Money)=" + *ts;
  db::Recordset count =
      cn.Execute(NormalizeSql("select Count(*)as iOld from EC_ExpenVouch" + claim_version));
  if (count.Value("iOld").ToInt() != 1) Raise(kErrBusiness, "Q7.Rembiz.0286");

  db::Recordset state =
      cn.Execute(NormalizeSql("select strAuditorID,blnaudi from EC_ExpenVouch" + claim_version));
  const bool approved = !state.Text("strAuditorID").empty();
  const std::string task = approved ? "EC020305" : "EC020302";
  // A refused task is the answer; the request stops so that nothing half-done is committed.
  host::TaskHold hold(&session, task, answer);
  if (!hold.Applied()) return false;

  // Row versions of the loan rows and of the links the page read.
  xml::NodeList rows = in.SelectNodes("row");
  std::string loan_check, link_check;
  int loan_rows = 0, link_rows = 0;
  for (const xml::Node& row : rows) {
    if (Present(row, "GUID")) {
      std::optional<std::string> row_ts = RowVersion(row.Attr("ts"));
      if (!row_ts) Raise(kErrBusiness, "Q7.Rembiz.0286");
      loan_check += " or(EC_LoanVouch_Sub.GUID=" + db::SqlText(row.Attr("GUID")) +
                    " and Cast(EC_LoanVouch_Sub.ts As Money)=" + *row_ts + ")";
      ++loan_rows;
    }
    if (Present(row, "GUID1")) {
      std::optional<std::string> link_ts = RowVersion(row.Attr("ts1"));
      if (!link_ts) Raise(kErrBusiness, "Q7.Rembiz.0286");
      link_check += " or(EC_ExpenLoanInfo.GUID=" + db::SqlText(row.Attr("GUID1")) +
                    " and Cast(EC_ExpenLoanInfo.ts As Money)=" + *link_ts + ")";
      ++link_rows;
    }
  }
  if (loan_rows > 0 &&
      cn.Execute(
            NormalizeSql("select Count(*)as iOld from EC_LoanVouch_Sub where 1=0" + loan_check))
              .Value("iOld")
              .ToInt() != loan_rows) {
    Raise(kErrBusiness, "Q7.Rembiz.0286");
  }
  if (link_rows > 0 &&
      cn.Execute(
            NormalizeSql("select Count(*)as iOld from EC_ExpenLoanInfo where 1=0" + link_check))
              .Value("iOld")
              .ToInt() != link_rows) {
    Raise(kErrBusiness, "Q7.Rembiz.0286");
  }

  auto parent = [](const std::string& qrow) {
    return "(Select MGUID From EC_LoanVouch_Sub Where GUID = " + qrow + ")";
  };

  if (approved) {
    db::Recordset links = cn.Execute(
        NormalizeSql("Select dblJE,LoanSubguid From EC_ExpenLoanInfo Where Expenguid = " + qguid));
    if (links.RecordCount() < link_rows) Raise(kErrBusiness, "Q7.Rembiz.0286");
    // Undo every earlier write-off of the claim. blnUsed is a bit: each kind a save applies is
    // stored as 1 or 0, so this finds all of them and none is counted twice.
    db::Recordset applied = cn.Execute(
        NormalizeSql("Select dblJE,LoanSubguid From EC_ExpenLoanInfo Where Expenguid = " + qguid +
                     " and blnused in (1,0)"));
    for (; !applied.Eof(); applied.MoveNext()) {
      const std::string qrow = db::SqlText(applied.Text("LoanSubguid"));
      const std::string je = MoneyText(applied.Value("dblJE").ToDouble());
      db::Recordset loan = cn.Execute(NormalizeSql(
          "Select Isnull(dblMoney ,0) As dblMoney From EC_LoanVouch_Sub Where GUID = " + qrow));
      if (loan.Eof()) Raise(kErrBusiness, "Q7.Rembiz.0285");
      if (loan.Value("dblMoney").ToDouble() != 0) {
        cn.Execute(
            NormalizeSql("Update EC_LoanVouch_Sub Set blnSettle = 0 ,dblReturn = dblReturn - " +
                         je + " Where GUID = " + qrow));
        cn.Execute(NormalizeSql("Update EC_LoanVouch Set blnSettle = 0 ,dblReturn = dblReturn - " +
                                je + " Where GUID = " + parent(qrow)));
      } else {
        cn.Execute(NormalizeSql(
            "Update EC_LoanVouch_Sub Set blnSettle = 0 ,dblReturn = 0 Where GUID = " + qrow));
        cn.Execute(
            NormalizeSql("Update EC_LoanVouch Set blnSettle = 0 Where GUID = " + parent(qrow)));
      }
    }
  }

  cn.Execute(NormalizeSql("Delete EC_ExpenLoanInfo Where Expenguid = " + qguid));

  if (in.Attr("del") != "1") {
    for (const xml::Node& row : rows) {
      const std::string kind = Trim(row.Attr("blnUsed"));
      std::string value = OptionalNumber(row.Attr("dblRetValue"), "dblRetValue");
      if (value.empty()) value = "0";
      const double amount = frame::NumValue(db::Variant(value));
      if (kind != "1" && amount == 0) continue;
      const std::string kind_sql = OptionalNumber(kind, "blnUsed");
      const std::string qrow = db::SqlText(row.Attr("GUID"));
      cn.Execute(NormalizeSql(
          "Insert Into EC_ExpenLoanInfo (LoanSubguid,Expenguid,dblJE,blnUsed) Values (" + qrow +
          "," + qguid + "," + value + "," + (kind_sql.empty() ? "Null" : kind_sql) + ")"));
      if (!approved) continue;

      const std::string settling =
          "select * from EC_ExpenLoanInfo where isnull(blnused,-1)=0 and LoanSubguid=" + qrow;
      if (kind == "-1") {
        cn.Execute(NormalizeSql("Update EC_LoanVouch_Sub Set dblReturn = Isnull(dblReturn,0) + " +
                                value + " Where GUID = " + qrow));
        db::Recordset check = cn.Execute(
            NormalizeSql("select dblreturn,dblmoney from EC_LoanVouch_Sub  Where GUID = " + qrow));
        if (!check.Eof() && db::RoundCents(check.Value("dblreturn").ToDouble()) >
                                db::RoundCents(check.Value("dblmoney").ToDouble())) {
          Raise(kErrBusiness, "Q7.Rembiz.0379");
        }
        cn.Execute(NormalizeSql(
            "Update EC_LoanVouch_Sub Set blnSettle = (case when dblReturn = dblmoney then 1 else "
            "0 end) Where GUID = " +
            qrow));
      } else if (kind == "1") {
        if (Exists(cn, settling)) Raise(kErrBusiness, "Q7.Rembiz.0288");
        cn.Execute(NormalizeSql(
            "Update EC_LoanVouch_Sub Set blnSettle = 1,dblReturn = 0 Where GUID = " + qrow));
      } else {
        // A settling link of another claim conflicts: a loan row is settled by one claim only.
        // This claim's own links were deleted above, so the one just written never counts.
        if (Exists(cn, settling + " and Expenguid <> " + qguid)) {
          Raise(kErrBusiness, "Q7.Rembiz.0287");
        }
        cn.Execute(NormalizeSql("Update EC_LoanVouch_Sub Set blnSettle = 1,dblReturn = " + value +
                                " Where GUID = " + qrow));
      }
      cn.Execute(NormalizeSql("Update EC_LoanVouch Set dblReturn = IsNull(dblReturn ,0) + " +
                              value + " Where GUID = " + parent(qrow) + " "));
      // One statement instead of T-SQL's IF … ELSE, same meaning: the loan voucher is settled
      // exactly when none of its rows is open.
      cn.Execute(NormalizeSql(
          "update EC_LoanVouch set blnSettle=(case when (Select Count(*) From EC_LoanVouch_Sub "
          "Where MGuid=" +
          parent(qrow) + " And blnSettle=0) = 0 then 1 else 0 end) where Guid=" + parent(qrow)));
    }
  }

  // Settled when write-offs and payment lines together cover the claim.
  double written = SumOf(cn,
                         "Select Sum(isnull(dblJE,0)) AS A From EC_ExpenLoanInfo Where "
                         "ExpenGUID = " +
                             qguid);
  double received = SumOf(cn,
                          "Select Sum(isnull(dblMoney,0)) As A From EC_BalanceInfo Where "
                          "intIOType = 1 And ExpenGUID = " +
                              qguid);
  double paid = SumOf(cn,
                      "Select Sum(isnull(dblMoney,0)) As A From EC_BalanceInfo Where "
                      "intIOType = 2 And ExpenGUID = " +
                          qguid);
  double total = RoundMoney(written - received + paid);
  // The family digit is compared as text ('1'): left() yields text, and a text never equals
  // the number 1 in SQLite.
  cn.Execute(NormalizeSql(
      "Update EC_ExpenVouch Set strVerifier=" +
      (total == 0 ? std::string("Null") : db::SqlText(session.UserName())) +
      ",blnSettle = (Case When (case left(strtypecode,1) when '1' then -isnull(dblmoney,0) else "
      "isnull(dblmoney,0) end) = " +
      MoneyText(total) + " Then 1 Else 0 End) Where GUID = " + qguid));
  cn.Execute(NormalizeSql(
      "Update EC_ExpenVouch Set strVerifier=Null Where isnull(strAuditorID,'')='' and GUID = " +
      qguid));

  PassRowVersion(cn, func, qguid, "SaveExpenInfo");
  answer.LoadXml(LoanRowsXml(session, cn, in));
  return true;
}

// ---------------------------------------------------------------------------------------------
// Payment lines

bool CExpense::GetExpenInfo(host::Session&, db::Connection& cn, xml::Node& func,
                            xml::Document& answer) {
  const std::string guid = func.Child("in").Attr("GUID");
  if (guid.empty()) Raise(kErrBusiness, "Q7.Rembiz.0289");
  db::Recordset rs = cn.Execute(NormalizeSql(
      "SELECT EC_BalanceInfo.GUID, (Case When EC_BalanceInfo.intIOType = 1 Then " +
      db::SqlText(host::MessageText("Q7.Rembiz.0185")) + " Else " +
      db::SqlText(host::MessageText("Q7.Rembiz.0186")) +
      " End ) As intIOType, EC_BalanceInfo.strBalanceID,bank.cBName As strPayBankName,"
      "bank.cBAccount As strPayBankAcc , EC_BalanceInfo.dblMoney, EC_BalanceInfo.strBillID, "
      "EC_BalanceInfo.strPayBankID, EC_BalanceInfo.strPayment, EC_BalanceInfo.strRecBank AS "
      "strBankName, EC_BalanceInfo.strRecAcc AS strBankAcc, Cast(EC_BalanceInfo.ts As money) As "
      "ts, EC_BalanceInfo.strPayID, SettleStyle.cSSName AS strBalance FROM EC_BalanceInfo LEFT "
      "OUTER JOIN SettleStyle ON EC_BalanceInfo.strBalanceID = SettleStyle.cSSCode Left Outer "
      "Join Bank On Bank.cBCode = EC_BalanceInfo.strPayBankID Where EC_BalanceInfo.ExpenGUID = " +
      db::SqlText(guid) + " Order By EC_BalanceInfo.AutoID"));
  answer.LoadXml("<Rows>" + frame::RowXml(rs) + "</Rows>");
  return true;
}

bool CExpense::SaveExpenInfo(host::Session& session, db::Connection& cn, xml::Node& func,
                             xml::Document&) {
  xml::Node in = func.Child("in");
  const std::string guid = in.Attr("GUID");
  if (guid.empty()) Raise(kErrBusiness, "Q7.Rembiz.0290");
  const std::string qguid = db::SqlText(guid);
  const std::string receipt = host::MessageText("Q7.Rembiz.0185");

  for (const xml::Node& line : in.FirstChild().Children()) {
    const std::string io_text = line.Attr("intIOType");
    if (io_text.empty()) Raise(kErrBusiness, "Q7.Rembiz.0291");
    const std::string io_type = io_text == receipt ? "1" : "2";
    const std::string p = line.Attr("P");
    const std::string values[] = {ValueOf(line, "strBalanceID"), NumberOf(line, "dblMoney"),
                                  ValueOf(line, "strBillID"),    ValueOf(line, "strPayBankID"),
                                  ValueOf(line, "strPayment"),   ValueOf(line, "strBankName"),
                                  ValueOf(line, "strBankAcc")};
    static constexpr const char* kColumns[] = {"strBalanceID", "dblMoney",   "strBillID",
                                               "strPayBankID", "strPayment", "strRecBank",
                                               "strRecAcc"};
    int64_t affected = 0;
    if (p == "1") {
      std::string sql =
          "Insert Into EC_BalanceInfo (ExpenGUID,intIOType,strBalanceID,dblMoney,strBillID,"
          "strPayBankID,strPayment,strRecBank,strRecAcc) Values (" +
          qguid + "," + io_type;
      for (const std::string& value : values) sql += "," + value;
      cn.Execute(NormalizeSql(sql + ")"), &affected);
    } else if (p == "2" || p == "3") {
      std::optional<std::string> line_ts = RowVersion(line.Attr("ts"));
      if (!line_ts) Raise(kErrBusiness, "Q7.Rembiz.0112");
      const std::string where = " Where GUID = " + db::SqlText(line.Attr("GUID")) +
                                " And Cast(ts As money) = " + *line_ts;
      if (p == "2") {
        std::string sql =
            "Update EC_BalanceInfo Set ExpenGUID = " + qguid + ", intIOType = " + io_type;
        for (size_t i = 0; i < std::size(kColumns); ++i) {
          sql += ", " + std::string(kColumns[i]) + " = " + values[i];
        }
        cn.Execute(NormalizeSql(sql + where), &affected);
      } else {
        if (Exists(cn, "select top 1 * from EC_BalanceInfo where Guid=" +
                           db::SqlText(line.Attr("GUID")) + " and isnull(strPayID,'')<>''")) {
          Raise(kErrBusiness, "Q7.Rembiz.0380");
        }
        cn.Execute(NormalizeSql("Delete EC_BalanceInfo" + where), &affected);
      }
    } else {
      Raise(kErrBusiness, "Q7.Rembiz.0292");
    }
    if (affected != 1) Raise(kErrBusiness, "Q7.Rembiz.0112");
  }

  db::Recordset maker = cn.Execute(NormalizeSql(
      "Select top 1 isnull(strMakerID,'') as strMakerID from EC_ExpenVouch where guid=" + qguid));
  if (!maker.Eof() && !maker.Text("strMakerID").empty()) Raise(kErrBusiness, "Q7.Rembiz.0376");

  std::optional<std::string> ts = RowVersion(in.Attr("ts"));
  if (!ts) Raise(kErrBusiness, "Q7.Rembiz.0293");
  db::Recordset claim = cn.Execute(
      NormalizeSql("Select strTypeCode ,dblMoney From EC_ExpenVouch Where GUID = " + qguid +
                   " and Cast(ts As Money)=" + *ts));
  if (claim.Eof()) Raise(kErrBusiness, "Q7.Rembiz.0293");

  // Only ever sets the settled flag; the write-off save is the one that clears it.
  const std::string verifier = db::SqlText(session.UserName());
  if (claim.Text("strTypeCode").starts_with("1")) {
    cn.Execute(NormalizeSql(
        "Update EC_ExpenVouch Set strVerifier=" + verifier +
        ",blnSettle = 1 Where Left(strTypeCode,1) = '1' And GUID = " + qguid +
        " And isnull(dblMoney,0) = (Select isnull(Sum(isnull(dblMoney,0)),0) From EC_BalanceInfo "
        "Where ExpenGUID = " +
        qguid + ")"));
  } else if (claim.Text("strTypeCode").starts_with("2")) {
    cn.Execute(NormalizeSql(
        "Update EC_ExpenVouch Set strVerifier=" + verifier +
        ",blnSettle = 1 Where Left(strTypeCode,1) = '2' And GUID = " + qguid +
        " And dblMoney = ((Select isnull(Sum(isnull(dblMoney,0)),0) From EC_BalanceInfo Where "
        "intIOtype = 2 and ExpenGUID = " +
        qguid +
        ")-(Select isnull(Sum(isnull(dblMoney,0)),0) From EC_BalanceInfo Where intIOtype = 1 And "
        "ExpenGUID = " +
        qguid + "))"));
  }
  cn.Execute(NormalizeSql(
      "Update EC_ExpenVouch Set strVerifier=Null Where isnull(strAuditorID,'')='' and GUID = " +
      qguid));

  PassRowVersion(cn, func, qguid, "SaveLoanInfo");
  return true;
}

}  // namespace rembiz::expense
