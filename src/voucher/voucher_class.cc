#include "voucher/voucher_class.h"

#include <optional>

#include "db/persist.h"
#include "db/text.h"
#include "frame/constraints.h"
#include "frame/convert.h"
#include "frame/registry.h"
#include "frame/request.h"
#include "frame/sql_helpers.h"
#include "host/approval_flow.h"
#include "host/errors.h"
#include "host/messages.h"
#include "voucher/history.h"
#include "voucher/receipts.h"
#include "voucher/scope.h"
#include "voucher/voucher_state.h"

namespace rembiz::voucher {
namespace {

using db::IsSqlName;
using db::SqlText;
using db::Trim;
using frame::BusinessObject;
using frame::CreateObject;
using frame::DataAuthFilter;
using frame::Exists;
using frame::FirstIn;
using frame::InText;
using frame::NormalizeSql;
using frame::Op;
using frame::OperationEntry;
using frame::OwnErrors;
using frame::RequireInteger;
using frame::RowAuthString;
using frame::RowVersion;
using xml::XmlEscape;

// "11" names the voucher's business flow to the approval service.
constexpr const char* kFlowKind = "11";

// The kinds a delete request names by their entry templates.
struct DeleteKind {
  std::string_view type;
  std::string_view table;
  std::string_view card;  // approval-flow card number
  bool loan;
};

constexpr DeleteKind kDeleteKinds[] = {
    {"EC01", "EC_LoanVouch", "45", true},
    {"EC02", "EC_ExpenVouch", "46", false},
    {"EC03", "EC_ExpenVouch", "47", false},
};

// The links that keep a claim from being deleted, named by their foreign keys.
constexpr frame::ConstraintKey kDeleteConstraints[] = {
    {"FK_EC_ExpenLoanInfo_EC_ExpenVouch", "Q7.Rembiz.0273"},
    {"FK_EC_BalanceInfo_EC_ExpenVouch", "Q7.Rembiz.0274"},
};

// The voucher list may be read on a replica; a voucher itself is read where it was saved, so
// that a page shows what its operator just wrote.
constexpr OperationEntry kSharedOperations[] = {
    OwnErrors(Op<&VoucherClass::GetVouchListID>("getVouchListID", frame::kReadsOnly),
              "GetVoucherListID"),
    OwnErrors(Op<&VoucherClass::GetVouchByGUID>("getVouchByGUID"), "GetVouchByGUID"),
    OwnErrors(Op<&VoucherClass::GetVoucherHead>("vchgetloanheaddata"), "GetVoucherHead"),
    OwnErrors(Op<&VoucherClass::GetVoucherBody>("vchgetloanbodydata"), "GetVoucherBody"),
    OwnErrors(Op<&VoucherClass::GetOperList>("getOperList"), "GetOperList"),
    OwnErrors(Op<&VoucherClass::GetVouchHistory>("getVouchHistory"), "GetVouchHistory"),
    Op<&VoucherClass::VchModuleGet>("vchmoduleget"),
    Op<&VoucherClass::VchNoFormatGet>("vchnoformatget"),
};

constexpr OperationEntry kSharedPublicProcedures[] = {
    OwnErrors(Op<&VoucherClass::GetVoucherHead>("GetVoucherHead"), "GetVoucherHead"),
    OwnErrors(Op<&VoucherClass::GetVoucherBody>("GetVoucherBody"), "GetVoucherBody"),
    OwnErrors(Op<&VoucherClass::GetOperList>("GetOperList"), "GetOperList"),
    OwnErrors(Op<&VoucherClass::GetVouchListID>("GetVouchListID"), "GetVoucherListID"),
    OwnErrors(Op<&VoucherClass::GetVouchByGUID>("GetVouchByGUID"), "GetVouchByGUID"),
    OwnErrors(Op<&VoucherClass::GetVouchHistory>("GetVouchHistory"), "GetVouchHistory"),
};

std::span<const OperationEntry> Joined(std::vector<OperationEntry>& cache,
                                       std::span<const OperationEntry> shared,
                                       std::span<const OperationEntry> own) {
  if (cache.empty()) {
    cache.assign(shared.begin(), shared.end());
    cache.insert(cache.end(), own.begin(), own.end());
  }
  return cache;
}

// The number of the voucher a read names: the AutoID of the first child of `in`, else the
// current voucher; "" when there is neither. A voucher out of the operator's reach reads as
// AutoID 0, which no voucher has: the answer of a voucher that does not exist.
std::string VoucherNumber(host::Session& session, db::Connection& cn, std::string_view table,
                          const xml::Node& func, const std::string& current) {
  std::string number = FirstIn(func).Attr("AutoID");
  number = number.empty() ? current : RequireInteger(number, "AutoID");
  if (!number.empty() && !VoucherInScope(session, cn, table, "AutoID", number)) return "0";
  return number;
}

// The name of a cost item, "" when it is not found.
std::string ItemName(db::Connection& cn, const std::string& item_class, const std::string& item) {
  std::optional<std::string> sql;
  if (item_class == "ch") {
    sql = "Select cinvname As strName From inventory Where cinvcode = " + SqlText(item);
  } else if (IsSqlName("fitemss" + item_class)) {
    sql = "Select citemname As strName From fitemss" + item_class +
          " Where citemcode = " + SqlText(item);
  }
  if (!sql) return "";
  db::Recordset found = cn.Execute(NormalizeSql(*sql));
  return found.Eof() ? "" : found.Text("strName");
}

std::string Attr(std::string_view name, const std::string& value) {
  return std::string(name) + "='" + XmlEscape(value) + "' ";
}

// Checks, flow withdrawal and deletion of one voucher; database errors are the page's messages.
void DeleteVoucher(host::Session& session, db::Connection& cn, const DeleteKind& kind,
                   const std::string& guid) {
  std::unique_ptr<host::ApprovalFlow> flow = host::CreateApprovalFlow();
  flow->Init(session, cn);
  if (flow->HasInstance(kind.card, guid, kFlowKind))
    flow->DropInstance(cn, kind.card, guid, kFlowKind);
  const std::string qguid = SqlText(guid);
  if (kind.loan) {
    if (LoanWrittenOff(cn, guid)) Raise(kErrBusiness, "Q7.Rembiz.0208");
  } else if (Exists(cn, "select top 1 * from EC_BalanceInfo where ExpenGUID=" + qguid) ||
             Exists(cn, "select top 1 * from EC_ExpenLoanInfo where ExpenGUID=" + qguid)) {
    Raise(kErrBusiness, "Q7.Rembiz.0272");
  }
  const std::string table(kind.table);
  WriteHistory(session, cn, table, guid, history::kDeleted);
  cn.Execute(NormalizeSql("Delete " + table + "_Sub Where MGUID = " + qguid));
  DeleteVoucherReceipts(cn, guid);
  int64_t affected = 0;
  cn.Execute(NormalizeSql("Delete " + table + " Where GUID = " + qguid), &affected);
  if (affected != 1) Raise(kErrBusiness, "Q7.Rembiz.0209");
}

}  // namespace

std::string CardOfTypeCode(std::string_view type_code) {
  if (type_code.starts_with("1")) return "EC02";
  if (type_code.starts_with("2")) return "EC03";
  return "EC01";
}

bool LoanWrittenOff(db::Connection& cn, std::string_view guid) {
  return Exists(cn,
                "Select Top 1 * From EC_ExpenLoanInfo Where LoanSubguid In (Select GUID From "
                "EC_LoanVouch_Sub Where MGUID = " +
                    SqlText(guid) + ")");
}

void VoucherClass::ResetRequestState() {
  auto_id_.clear();
  show_model_.clear();
  card_num_.clear();
  pub_msg_.reset();
}

std::span<const OperationEntry> VoucherClass::Operations() const {
  return Joined(operations_, kSharedOperations, traits_.operations);
}

std::span<const OperationEntry> VoucherClass::PublicProcedures() const {
  return Joined(public_procedures_, kSharedPublicProcedures, traits_.public_procedures);
}

BusinessObject& VoucherClass::PubMsg() {
  if (!pub_msg_) pub_msg_ = CreateObject("Rembiz.CPubMsg");
  return *pub_msg_;
}

bool VoucherClass::GetVoucherHead(host::Session& session, db::Connection& cn, xml::Node& func,
                                  xml::Document& answer) {
  std::string number = VoucherNumber(session, cn, Pages().table, func, auto_id_);
  // Without a number the statement finds nothing but still gives the page the record's layout.
  // The currency's decimals come with the head: '0' for a currency that is not known.
  const std::string view(Pages().head_view);
  db::Recordset rs = cn.Execute(NormalizeSql(
      "Select *,'' as editprop,' ' As strItem,IsNull((SELECT Cast(idec As nvarchar(10)) FROM "
      "dbo.foreigncurrency WHERE cexch_name = " +
      view + ".strbill),'0') As NumPoint,'' As strState,'' As strStateName From " + view +
      " Where LocaleID=" + SqlText(host::CurrentLanguage()) +
      " and AutoID = " + (number.empty() ? "0" : number)));
  db::LoadXml(rs, answer);
  if (rs.Eof()) return true;
  card_num_ = CardOfTypeCode(rs.Text("strTypeCode"));
  xml::Node row = answer.SelectSingleNode("//rs:data/z:row");
  std::string item_class = rs.Text("strItemClassID");
  std::string item = rs.Text("strItemID");
  if (!item_class.empty() && !item.empty()) {
    // A loan's unknown item reads as no name; a claim's keeps the record's placeholder.
    std::string name = ItemName(cn, item_class, item);
    if (!name.empty() || !Pages().keeps_card) row.SetAttr("strItem", name);
  }
  // The head view carries what the state is read from.
  VoucherState state = VoucherStateOf(session, cn, Pages().table, rs.Text("GUID"), rs);
  row.SetAttr("strState", state.code);
  row.SetAttr("strStateName", state.name);
  return true;
}

bool VoucherClass::GetVoucherBody(host::Session& session, db::Connection& cn, xml::Node& func,
                                  xml::Document& answer) {
  std::string number = VoucherNumber(session, cn, Pages().table, func, auto_id_);
  db::Recordset rs =
      cn.Execute(NormalizeSql("Select *,'' as editprop From " + std::string(Pages().body_view) +
                              " Where AutoID = " + (number.empty() ? "0" : number)));
  db::LoadXml(rs, answer);
  return true;
}

bool VoucherClass::GetOperList(host::Session& session, db::Connection& cn, xml::Node& func,
                               xml::Document& answer) {
  std::string card = InText(func, "type");
  if (Pages().keeps_card) {
    // With a current claim its card decides; otherwise the page's card becomes the current one.
    if (auto_id_.empty()) {
      card_num_ = card;
    } else {
      card = card_num_;
    }
  }
  std::string templates = RowAuthString(session, "djmb", card);
  std::string sql =
      "SELECT dbo.EC_OperationType.strCode, dbo.EC_OperationType.strName, "
      "dbo.EC_OperationType.strShowModel,dbo.EC_OperationType.strPrintModel FROM "
      "dbo.EC_OperationType LEFT OUTER JOIN dbo.VoucherTemplates VoucherTemplates_1 ON "
      "dbo.EC_OperationType.strPrintModel = VoucherTemplates_1.VT_ID LEFT OUTER JOIN "
      "dbo.VoucherTemplates ON dbo.EC_OperationType.strShowModel = dbo.VoucherTemplates.VT_ID "
      "Left Outer Join Vouchers On VoucherTemplates.VT_CardNumber = Vouchers.CardNumber Where "
      "IsNull(dbo.VoucherTemplates.VT_CardNumber,'') = " +
      SqlText(card) + " And IsNull(VoucherTemplates_1.VT_CardNumber,'') = " + SqlText(card);
  if (templates == "1=2") {
    sql += " and 1=2";
  } else if (!templates.empty()) {
    sql += " and dbo.EC_OperationType.strShowModel in (" + templates + ") ";
  }
  // In the order the templates are defined, so that the first option is the card's first;
  // the types of one card by their code, on every engine.
  sql += " Order By dbo.Vouchers.DEF_ID, dbo.EC_OperationType.strCode";
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
        out += Attr(name, value);
        // Claims: the first option's template is the default of a following "vchmoduleget".
        if (Pages().keeps_card && name == "strShowModel" && show_model_.empty()) {
          show_model_ = value;
        }
      }
    }
    out += "/>";
  }
  answer.LoadXml(out + "</rows>");
  return true;
}

bool VoucherClass::GetVouchByGUID(host::Session& session, db::Connection& cn, xml::Node& func,
                                  xml::Document& answer) {
  const std::string text = InText(func, "GUID");
  std::string guid = SqlText(text);
  // A loan voucher first, else a claim, with its operation type's display template.
  db::Recordset rs = cn.Execute(NormalizeSql(
      "Select V.strTypeCode, V.AutoID, V.nKind, T.strShowModel, (Case When T.strCode Is Null Then "
      "0 Else "
      "1 End) As nType From (Select strTypeCode, AutoID, 1 As nKind From EC_LoanVouch Where GUID "
      "= " +
      guid + " Union All Select strTypeCode, AutoID, 2 As nKind From EC_ExpenVouch Where GUID = " +
      guid + ") V Left Join EC_OperationType T On T.strCode = V.strTypeCode Order By V.nKind"));
  if (rs.Eof() || !VoucherInScope(session, cn,
                                  rs.Value("nKind").ToInt() == 1 ? "EC_LoanVouch" : "EC_ExpenVouch",
                                  "GUID", text)) {
    Raise(kErrBusiness, "Q7.Rembiz.0257");
  }
  auto_id_ = rs.Text("AutoID");
  // A loan found through the claim class opens on the loan templates.
  card_num_ = CardOfTypeCode(rs.Text("strTypeCode"));
  if (rs.Value("nType").ToInt() == 0) Raise(kErrBusiness, "Q7.Rembiz.0258");
  show_model_ = rs.Text("strShowModel");
  answer.LoadXml("<Rows><row AutoID='" + auto_id_ + "' /></Rows>");
  return true;
}

bool VoucherClass::GetVouchHistory(host::Session& session, db::Connection& cn, xml::Node& func,
                                   xml::Document& answer) {
  const std::string guid = InText(func, "GUID");
  // Who may see the voucher may see its history; a voucher out of reach has none to show.
  db::Recordset kind = cn.Execute(NormalizeSql(
      "Select 1 As nKind From EC_LoanVouch Where GUID = " + SqlText(guid) +
      " Union All Select 2 As nKind From EC_ExpenVouch Where GUID = " + SqlText(guid)));
  if (kind.Eof() ||
      !VoucherInScope(session, cn,
                      kind.Value("nKind").ToInt() == 1 ? "EC_LoanVouch" : "EC_ExpenVouch", "GUID",
                      guid)) {
    Raise(kErrBusiness, "Q7.Rembiz.0257");
  }
  AnswerHistory(cn, guid, answer);
  return true;
}

bool VoucherClass::GetVouchListID(host::Session& session, db::Connection& cn, xml::Node& func,
                                  xml::Document& answer) {
  const VoucherPages& pages = Pages();
  const std::string source = DataAuthFilter(session, pages.table, "True");
  const std::string condition = ListCondition(session, cn, func);
  const std::string from = " From " + source + " Where ";
  std::string current = InText(func, "strAutoID");
  if (!current.empty()) RequireInteger(current, "strAutoID");
  std::string director = InText(func, "Director");

  const std::string last = "Select max(AutoID) as AutoID" + from + condition;
  std::string sql = last;
  if (director == "0") {
    sql = "Select min(AutoID) as AutoID" + from + condition;
  } else if (!current.empty() && director == "1") {
    sql = "Select max(AutoID) as AutoID" + from + condition + " And AutoID < " + current;
  } else if (!current.empty() && director == "2") {
    sql = "Select min(AutoID) as AutoID" + from + condition + " And AutoID > " + current;
  } else if (!current.empty() && director == "3") {
    sql = "Select min(AutoID) as AutoID" + from + condition + " And AutoID = " + current;
  } else if (!current.empty() && director == "-3") {
    // This one whatever its state (a page opened from elsewhere), still within the operator's
    // data permissions.
    sql = "Select max(AutoID) as AutoID" + from + "AutoID = " + current;
  }
  // A step past either end, and any other direction, shows the last voucher.
  std::string chosen = cn.Execute(NormalizeSql(sql)).Text("AutoID");
  if (chosen.empty() && sql != last) chosen = cn.Execute(NormalizeSql(last)).Text("AutoID");
  if (auto_id_.empty()) auto_id_ = chosen;

  db::Recordset list = cn.Execute(
      NormalizeSql("Select AutoID,strTypeCode" + from + condition + " Order By AutoID Desc"));
  std::string rows = "<Rows>";
  for (; !list.Eof(); list.MoveNext()) {
    std::string id = list.Text("AutoID");
    std::string type_code = list.Text("strTypeCode");
    if (id == auto_id_) card_num_ = CardOfTypeCode(type_code);
    rows += "<row " + Attr("AutoID", id) +
            (pages.keeps_card ? Attr("strTypeCode", type_code) : std::string()) + "/>";
  }
  answer.LoadXml(rows + "</Rows>");

  if (!auto_id_.empty()) {
    db::Recordset type = cn.Execute(
        NormalizeSql("SELECT strTypeCode,strShowModel FROM " + source +
                     " Left JOIN EC_OperationType ON " + std::string(pages.table) +
                     ".strTypeCode = EC_OperationType.strCode Where AutoID = " + auto_id_));
    if (!type.Eof()) {
      show_model_ = type.Text("strShowModel");
      card_num_ = CardOfTypeCode(type.Text("strTypeCode"));
    }
  }
  return true;
}

bool VoucherClass::VchModuleGet(host::Session& session, db::Connection& cn, xml::Node& func,
                                xml::Document& answer) {
  xml::Node in = func.Child("in");
  if (!in) in = func.AppendElement("in");
  xml::Node id = in.Child("id");
  if (Trim(id.Text()).empty() && !show_model_.empty()) {
    if (!id) id = in.AppendElement("id");
    id.SetText(show_model_);
  }
  if (Pages().keeps_card) {
    xml::Node type = in.Child("type");
    if (!auto_id_.empty() || Trim(type.Text()).empty()) {
      if (!type) type = in.AppendElement("type");
      type.SetText(card_num_);
    }
  }
  return PubMsg().InvokePublic("VchModuleGet", session, cn, func, answer);
}

bool VoucherClass::VchNoFormatGet(host::Session& session, db::Connection& cn, xml::Node& func,
                                  xml::Document& answer) {
  if (Pages().keeps_card && !auto_id_.empty()) {
    xml::Node in = func.Child("in");
    if (!in) in = func.AppendElement("in");
    xml::Node type = in.Child("type");
    if (!type) type = in.AppendElement("type");
    type.SetText(card_num_);
  }
  return PubMsg().InvokePublic("VchNoFormatGet", session, cn, func, answer);
}

bool VoucherClass::DelVouch(host::Session& session, db::Connection& cn, xml::Node& func,
                            xml::Document&) {
  std::optional<std::string> ts = RowVersion(InText(func, "ts"));
  if (!ts) Raise(kErrBusiness, "Q7.Rembiz.0201");
  const DeleteKind* kind = nullptr;
  for (const DeleteKind& candidate : kDeleteKinds) {
    if (candidate.type == InText(func, "type")) kind = &candidate;
  }
  if (!kind) Raise(kErrBusiness, "Q7.Rembiz.0177");
  const std::string table(kind->table);
  std::string id = RequireInteger(InText(func, "strAutoID"), "strAutoID");

  // A voucher out of the operator's reach is not found, as if it had gone meanwhile.
  VoucherScope scope(session);
  if (!scope.Reaches(cn, table, "AutoID", id)) Raise(kErrBusiness, "Q7.Rembiz.0370");
  db::Recordset voucher = cn.Execute(NormalizeSql(
      "Select * From " + table + " Where AutoID = " + id + " And Cast(ts As money) = " + *ts));
  if (voucher.Eof()) Raise(kErrBusiness, "Q7.Rembiz.0370");
  RequireDraftMaker(session, voucher.Value("blnaudi").ToBool(), voucher.Text("strPersonID"));
  // An opening loan stands approved from its entry: it may go until something was repaid.
  if (kind->loan && voucher.Value("blnBegin").ToBool()) {
    if (voucher.Value("dblReturn").ToDouble() != 0) Raise(kErrBusiness, "Q7.Rembiz.0203");
  } else if (voucher.Value("blnaudi").ToBool()) {
    Raise(kErrBusiness, "Q7.Rembiz.0271");
  }
  int64_t bud_pass = voucher.Value("intBudPass").ToInt();
  if (bud_pass == 1) Raise(kErrBusiness, "Q7.Rembiz.0206");
  if (kind->loan && bud_pass == 0 && voucher.Value("intOverBud").ToInt() == 1) {
    Raise(kErrBusiness, "Q7.Rembiz.0207");
  }

  try {
    DeleteVoucher(session, cn, *kind, voucher.Text("GUID"));
  } catch (const db::DbError& e) {
    throw frame::ConstraintText(e, kDeleteConstraints);
  }

  // The claim page goes on with the next voucher of the table that the operator may see, if
  // there is one; the loan page chooses its voucher through the list.
  if (!Pages().keeps_card) return true;
  db::Recordset next = cn.Execute(NormalizeSql("Select Top 1 AutoID,strTypeCode From " +
                                               DataAuthFilter(session, table, "True") +
                                               " Where AutoID > " + id + " Order By AutoID"));
  if (next.Eof()) {
    auto_id_.clear();
    card_num_ = "EC02";
  } else {
    auto_id_ = next.Text("AutoID");
    card_num_ = CardOfTypeCode(next.Text("strTypeCode"));
  }
  return true;
}

}  // namespace rembiz::voucher
