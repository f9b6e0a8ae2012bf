#include "voucher/submission.h"

#include <memory>

#include "db/persist.h"
#include "db/text.h"
#include "frame/convert.h"
#include "frame/request.h"
#include "frame/sql_helpers.h"
#include "host/approval_flow.h"
#include "host/errors.h"
#include "host/notices.h"
#include "voucher/history.h"
#include "voucher/receipts.h"
#include "voucher/scope.h"

namespace rembiz::voucher {
namespace {

using frame::NormalizeSql;
using frame::SqlEscape;

constexpr VoucherKind kIncomeClaim{"46", "EC0204", "EC_ExpenVouch", "收入报销单"};
constexpr VoucherKind kExpenditureClaim{"47", "EC0204", "EC_ExpenVouch", "支出报销单"};
constexpr VoucherKind kLoan{"45", "EC0202", "EC_LoanVouch", "借款单"};

}  // namespace

bool SubmitOnSave(db::Connection& cn) {
  db::Recordset rs = cn.Execute(
      NormalizeSql("select cvalue from accinformation where csysid = 'ec' and cid = '105'"));
  if (rs.Eof()) Raise(kErrBusiness, "Q7.Rembiz.0210");
  return db::Lower(rs.Text("cvalue")) == "true";
}

const VoucherKind* KindOfTypeCode(std::string_view type_code) {
  if (type_code.empty()) return nullptr;
  switch (type_code.front()) {
    case '1':
      return &kIncomeClaim;
    case '2':
      return &kExpenditureClaim;
    case '3':
      return &kLoan;
    default:
      return nullptr;
  }
}

std::string EAdata(const VoucherKind& kind, std::string_view amount, std::string_view department,
                   std::string_view type_code, std::string_view vouch_id) {
  // Values are escaped so that a number or code with XML characters cannot break the document.
  std::string card(kind.card);
  std::string name(kind.name);
  std::string money = frame::XmlEscape(amount);
  return "<?xml version='1.0' encoding='utf-8'?>"
         "<EAdata><eccontrain 金额='" +
         money + "' 数量='0'/>" + "<eapcontrain 数量='0' 金额='" + money + "'/>" + "<eaovalue>" +
         "<item eaoid='" + card + "'   eaot='" + name + "_部门' eaov='" +
         frame::XmlEscape(department) + "'/>" + "<item eaoid='" + card + "'  eaot='" + name +
         "_业务类型' eaov='" + frame::XmlEscape(type_code) + "'/>" + "</eaovalue>" +
         "<cauth_id id='" + std::string(kind.task) + "'/><cVoucherCode code='" +
         frame::XmlEscape(vouch_id) + "'/></EAdata>";
}

bool InitAudit(host::Session& session, db::Connection& cn, const xml::Node& node) {
  std::string auto_id = node.Attr("AutoID");
  std::string modify = node.Attr("blnModify");
  std::string guid = node.Attr("GUID");
  std::string department = node.Attr("strDepartID");
  std::string type_code = node.Attr("strTypeCode");
  const VoucherKind* kind = KindOfTypeCode(type_code);
  if (!kind) Raise(kErrBusiness, "Q7.Rembiz.0177");
  std::string vouch_id = node.Attr("strVouchID");
  // Rows whose item asks for a receipt above an amount go to the approvers with one.
  if (kind->table == "EC_ExpenVouch") RequireReceipts(cn, guid);

  std::unique_ptr<host::ApprovalFlow> flow = host::CreateApprovalFlow();
  flow->Init(session, cn);
  if (!auto_id.empty() && modify != "1") {
    std::string flow_id, flow_name;
    if (!flow->CanStart(kind->card, &flow_id, &flow_name)) {
      Raise(kErrBusiness, "Rembiz.Host.FlowNone", kind->card);
    }
  }
  std::string description =
      EAdata(*kind, node.Attr("dblOldMoney"), department, type_code, vouch_id);
  flow->StartInstance(cn, kind->card, guid, vouch_id, description);

  int64_t affected = 0;
  cn.Execute(NormalizeSql("Update " + std::string(kind->table) + " Set blnAudi = 1 Where GUID = '" +
                          SqlEscape(guid) + "'"),
             &affected);
  if (affected != 1) Raise(kErrBusiness, "Q7.Rembiz.0260");
  WriteHistory(session, cn, kind->table, guid, history::kSubmitted);
  host::NoticeSubmitted(session, cn, kind->table, guid);
  return true;
}

bool SubmitAudit(host::Session& session, db::Connection& cn, xml::Node& func, xml::Document& answer,
                 std::string_view table) {
  bool claim = table == "EC_ExpenVouch";
  std::string guid = frame::InText(func, "GUID");
  if (guid.empty()) Raise(kErrBusiness, "Q7.Rembiz.0261");
  // A row version that is no number matches no voucher.
  std::string ts = frame::InText(func, "ts");
  if (!frame::IsNumeric(db::Variant(ts))) Raise(kErrBusiness, "Q7.Rembiz.0262");

  // A voucher out of the operator's reach is not found.
  if (!VoucherInScope(session, cn, table, "GUID", guid)) {
    Raise(kErrBusiness, "Q7.Rembiz.0262");
  }
  std::string columns = claim ? "strVouchID,GUID,AutoID ,blnSettle,dblOldMoney,"
                                "strTypeCode,strDepartID,'1' As blnModify,strPersonID"
                              : "strVouchID,GUID,AutoID ,dblOldMoney,strTypeCode,strDepartID,"
                                "'1' As blnModify,strPersonID";
  db::Recordset voucher = cn.Execute(NormalizeSql(
      "Select " + columns + " From " + std::string(table) + " Where blnAudi = 0 And GUID = '" +
      SqlEscape(guid) + "' And Cast(ts As money) = " + frame::SqlNumber(db::Variant(ts))));
  if (voucher.Eof()) Raise(kErrBusiness, "Q7.Rembiz.0262");
  RequireDraftMaker(session, false, voucher.Text("strPersonID"));

  xml::Document record;
  db::LoadXml(voucher, record);
  InitAudit(session, cn, record.SelectSingleNode("//rs:data/z:row"));

  db::Recordset version =
      cn.Execute(NormalizeSql("Select Cast(ts as money) as ts From " + std::string(table) +
                              " Where GUID = '" + SqlEscape(guid) + "'"));
  if (version.Eof()) Raise(kErrBusiness, "Q7.Rembiz.0180");
  answer.LoadXml("<RetValue ts='" + version.Text("ts") + "' />");
  return true;
}

}  // namespace rembiz::voucher
