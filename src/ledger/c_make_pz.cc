#include "ledger/c_make_pz.h"

#include <algorithm>
#include <set>
#include <vector>

#include "db/text.h"
#include "db/transaction.h"
#include "frame/convert.h"
#include "frame/registry.h"
#include "frame/request.h"
#include "frame/sql_helpers.h"
#include "host/bank_link.h"
#include "host/errors.h"
#include "host/ledger.h"
#include "host/messages.h"
#include "host/notices.h"
#include "ledger/source_builders.h"
#include "ledger/staged_lines.h"
#include "payment/cheque_registration.h"
#include "voucher/history.h"
#include "voucher/voucher_state.h"

namespace rembiz::ledger {
namespace {

using frame::NormalizeSql;
using host::MessageText;

constexpr frame::FrameVariant kVariant{
    .class_name = "CMakePZ",
    .task_code = "EC0206",
    .entry_task = frame::EntryTask::kAfterConnect,
    .transactions = frame::Transactions::kNone,
    .error_form = frame::ErrorForm::kStandard,
    .busy_message = false,
};

// Generating, converting and cancelling answer their failures with their own error documents.
constexpr frame::OperationEntry kOperations[] = {
    frame::OwnErrors(frame::Op<&CMakePZ::MakePZOperation>("makepz", frame::kLowerCaseName),
                     "MakePZ"),
    frame::OwnErrors(
        frame::Op<&CMakePZ::CancelPZ>("cancelpz", frame::kCheckHostLock | frame::kLowerCaseName),
        "CancelPZ"),
    frame::Op<&CMakePZ::GetPZData>("getpzdata", frame::kLowerCaseName),
    frame::Op<&CMakePZ::SaveTempPZData>("SaveTempPZData", frame::kCheckHostLock),
};

constexpr frame::OperationEntry kPublicProcedures[] = {
    frame::OwnErrors(frame::Op<&CMakePZ::MakePZ>("MakePZ"), "MakePZ"),
    frame::OwnErrors(frame::Op<&CMakePZ::ConvertPZ>("ConvertPZ"), "ConvertPZ"),
    frame::Op<&CMakePZ::UpdatePublicInfo>("UpdatePublicInfo"),
};

const frame::ClassRegistrar kRegistrar("Rembiz.CMakePZ",
                                       [] { return std::make_unique<CMakePZ>(); });

// The module's name towards the ledger and the bank.
constexpr const char* kSystemId = "EC";

// A payment sent to the bank and not yet confirmed blocks the voucher.
void CheckOnlinePayments(db::Connection& cn, const xml::NodeList& sources) {
  for (const xml::Node& source : sources) {
    std::string guid = db::SqlText(source.Attr("guid"));
    if (IsLoan(source.Attr("strtypecode"))) {
      if (frame::Exists(cn,
                        "select guid from EC_LoanVouch_sub where isnull(strpayid,'')<>'' and "
                        "isnull(blnnetok,0)<>1 and mguid=" +
                            guid)) {
        Raise(kErrBusiness, "Q7.Rembiz.0294");
      }
    } else if (frame::Exists(cn,
                             "select guid from EC_Balanceinfo where isnull(strpayid,'')<>'' and "
                             "isnull(blnnetok,0)<>1 and expenguid=" +
                                 guid)) {
      Raise(kErrBusiness, "Q7.Rembiz.0295");
    }
  }
}

// The voucher link id: a new GUID without braces and dashes, cut to 29 characters.
std::string NewLinkId(db::Connection& cn) {
  std::string guid = frame::NewGuid(cn);
  guid.erase(std::remove_if(guid.begin(), guid.end(),
                            [](char c) { return c == '{' || c == '}' || c == '-'; }),
             guid.end());
  return guid.substr(0, 29);
}

// Registers the cheques the claims of the voucher paid by; returns the registration's messages,
// one line each. Runs after the commit, so a refusal only becomes a message.
std::string RegisterClaimCheques(host::Session& session, db::Connection& cn,
                                 const std::string& table) {
  db::Recordset lines = cn.Execute(
      NormalizeSql("select " + table + ".ccode, " + table + ".cn_id, " + table + ".csettle, " +
                   table + ".md, " + table + ".mc, " + table + ".md_f, " + table + ".mc_f, " +
                   table + ".cexch_name, " + table + ".dbill_date, " + table + ".cdigest, " +
                   table + ".cdept_name, Person.cPersonName from " + table + " join code on " +
                   table + ".ccode=code.ccode join EC_expenvouch on EC_expenvouch.pzguid=" + table +
                   ".coutno_id and EC_expenvouch.GUID=" + table +
                   ".coutid join Person on EC_expenvouch.strLoanID=person.cPersonCode order by " +
                   table + ".inid"));
  std::string messages;
  for (; !lines.Eof(); lines.MoveNext()) {
    std::string code = lines.Text("ccode");
    std::string cheque = lines.Text("cn_id");
    std::string settle = lines.Text("csettle");
    if (code.empty() || cheque.empty() || settle.empty()) continue;
    if (!frame::Exists(
            cn, "select * from settlestyle where bSSFlag=1 and cSSCode=" + db::SqlText(settle))) {
      continue;
    }
    bool foreign = !lines.Text("cexch_name").empty();
    double amount = lines.Value(foreign ? "mc_f" : "mc").ToDouble();
    if (amount == 0) amount = lines.Value(foreign ? "md_f" : "md").ToDouble();
    std::string person = lines.Text("cPersonName");
    bool update_flag = false;
    std::string message;
    try {
      payment::RegisterCheque(session, cn, update_flag, code, cheque, settle, amount,
                              lines.Text("dbill_date"), lines.Text("cdigest"),
                              lines.Text("cdept_name"), person, person, message);
    } catch (const ComError& e) {
      message = e.Description();
    }
    if (!message.empty()) messages += (messages.empty() ? "" : "\r\n") + message;
  }
  return messages;
}

}  // namespace

const frame::FrameVariant& CMakePZ::Variant() const { return kVariant; }
std::span<const frame::OperationEntry> CMakePZ::Operations() const { return kOperations; }
std::span<const frame::OperationEntry> CMakePZ::PublicProcedures() const {
  return kPublicProcedures;
}

void CMakePZ::ResetRequestState() { generation_ = Generation{}; }

void CMakePZ::myHandle(host::Session* ologin, xml::Document& oXml) {
  FramedClass::myHandle(ologin, oXml);
  if (generation_.table.empty() || !ologin) return;
  try {
    db::Connection cn;
    cn.Open(NormalizeSql(ologin->ConnectionString()));
    DropStagingTable(cn);
  } catch (const std::exception&) {
    // A work table left behind goes with the process's tempdb.
  }
}

void CMakePZ::DropStagingTable(db::Connection& cn) {
  if (generation_.table.empty()) return;
  frame::DropTempTable(cn, generation_.table);
  generation_.table.clear();
}

bool CMakePZ::MakePZOperation(host::Session& session, db::Connection& cn, xml::Node& func,
                              xml::Document& answer) {
  generation_.next_inid = 1;
  generation_.reentry = 0;
  generation_.link_id.clear();
  return MakePZ(session, cn, func, answer);
}

std::string CMakePZ::CreatePZTbl(db::Connection& CN, host::Session& ologin) {
  std::string name = frame::TempName();
  CN.Execute(NormalizeSql(
      "If exists (select * from tempdb..sysobjects where id = object_id(N'tempdb.." + name +
      "') and OBJECTPROPERTY(id, N'IsUserTable') = 1) drop table tempdb.." + name));
  CN.Execute(NormalizeSql("CREATE TABLE tempdb.." + name + StagingColumnsDdl(ologin)));
  return "tempdb.." + name;
}

bool CMakePZ::MakePZ(host::Session& ologin, db::Connection& CN, xml::Node& oNode,
                     xml::Document& oXml) {
  xml::Node in = oNode.Child("in");
  bool shape_b = !in.Child("pztype").IsNull();
  xml::NodeList sources = shape_b ? in.Child("rows").Children() : in.Children();
  xml::Node temp = in.Child("blnTemp");
  bool final_voucher = !temp.IsNull() && db::Trim(temp.Text()) != "1";
  try {
    DropStagingTable(CN);
    if (generation_.link_id.empty()) generation_.link_id = NewLinkId(CN);
    db::Transaction transaction(CN);
    CheckOnlinePayments(CN, sources);
    generation_.table = CreatePZTbl(CN, ologin);

    generation_.sign = shape_b ? db::Trim(in.Child("pztype").Text()) : in.Attr("csign");
    std::string date = shape_b ? db::Trim(in.Child("pzdate").Text()) : in.Attr("dbill_date");
    std::optional<std::string> bill_date = db::NormalizeDate(date);
    if (!bill_date) Raise(kErrBusiness, "Q7.Rembiz.0314");
    generation_.bill_date = bill_date->substr(0, 10);
    host::OpenLedger(CN, kSystemId)->SignSequence(generation_.sign);

    AccountSettings accounts(CN);
    for (const xml::Node& source : sources) ReserveSourceVoucher(ologin, CN, source, accounts);
    UpdateItemClass(CN);
    if (in.Attr("con") == "1") MergeStagedLines(CN, generation_.table);
    UpdatePublicInfo(ologin, CN, oNode, oXml);
    transaction.Commit();
  } catch (const ComError&) {
    generation_.table.clear();  // the rollback took it
    throw;
  }
  return final_voucher ? ConvertPZ(ologin, CN, oNode, oXml) : true;
}

void CMakePZ::ReserveSourceVoucher(host::Session& session, db::Connection& cn,
                                   const xml::Node& source, AccountSettings& accounts) {
  std::string type = source.Attr("strtypecode");
  std::string guid = source.Attr("guid");
  char family = type.empty() ? '\0' : type[0];
  if (family != '1' && family != '2' && family != '3') Raise(kErrBusiness, "Q7.Rembiz.0298");
  std::string table = SourceTable(type);
  // Tested rather than marked and unmarked: a mark would give the voucher a new row version, so
  // the version the page holds (and the conversion compares) would be stale after a mere draft.
  // The generation's transaction keeps a second maker waiting until this one ends. A source out
  // of the operator's reach is one that is not there.
  if (generation_.reentry == 0 &&
      !frame::Exists(cn, "Select GUID From " + frame::DataAuthFilter(session, table, "True") +
                             " Where GUID = " + db::SqlText(guid) +
                             " And Isnull(strAuditorID,'') <> '' And IsNull(strMakerID,'') = ''")) {
    Raise(kErrBusiness, "Q7.Rembiz.0334", source.Attr("strvouchid"));
  }

  BuildContext context{cn, session, generation_, accounts};
  if (family == '1') {
    BuildIncomeLines(context, guid);
  } else if (family == '2') {
    BuildExpenseLines(context, guid);
  } else {
    BuildLoanLines(context, guid);
  }
}

void CMakePZ::UpdateItemClass(db::Connection& CN) {
  if (generation_.table.empty()) Raise(kErrBusiness, "Q7.Rembiz.0371");
  NormaliseStagedLines(CN, generation_.table);
}

bool CMakePZ::UpdatePublicInfo(host::Session& ologin, db::Connection& CN, xml::Node&,
                               xml::Document&) {
  if (generation_.table.empty()) Raise(kErrBusiness, "Q7.Rembiz.0371");
  const std::string& table = generation_.table;
  CN.Execute(NormalizeSql("Update " + table +
                          " Set dbill_date=" + db::SqlText(generation_.bill_date) +
                          " ,coutno_id = " + db::SqlText(generation_.link_id) +
                          ",idoc = Isnull((Select Sum(idoc) From " + table +
                          "),0) ,cbill = " + db::SqlText(ologin.UserName())));
  return true;
}

bool CMakePZ::ConvertPZ(host::Session& ologin, db::Connection& CN, xml::Node& oNode,
                        xml::Document& oXml) {
  const std::string& table = generation_.table;
  std::unique_ptr<host::BankLink> bank = host::CreateBankLink(CN);
  host::LedgerVoucher voucher;
  frame::AsProcedure("ConvertPZ", [&] {
    if (table.empty()) Raise(kErrBusiness, "Q7.Rembiz.0371");
    db::Transaction transaction(CN);
    {
      host::OpenLedger ledger(CN, kSystemId);
      std::optional<host::LedgerVoucher> saved = ledger->FindOutVoucher(generation_.link_id);
      voucher = saved ? *saved : ledger->SaveOutVoucher(ologin, table);
    }

    xml::Node root(oNode.Raw().root());
    bool every_source = root.SelectSingleNode("//in").Attr("con") == "1";
    std::set<std::string> met;
    xml::NodeList sources = root.SelectSingleNode("//daily").Children();
    // A saved voucher whose sources stay free could be made a second time.
    if (sources.empty()) Raise(kErrBusiness, "Rembiz.Ledger.NoSources");
    for (size_t i = 0; i < sources.size() && (i == 0 || every_source); ++i) {
      const xml::Node& source = sources[i];
      std::string type = source.Attr("strtypecode");
      std::string guid = source.Attr("guid");
      if (!met.insert(db::Lower(guid)).second) continue;
      std::string source_table = SourceTable(type);
      std::optional<std::string> ts = frame::RowVersion(source.Attr("ts"));
      if (!ts ||
          !frame::Exists(
              CN, "select top 1 Guid from " + frame::DataAuthFilter(ologin, source_table, "True") +
                      " Where GUID = " + db::SqlText(guid) + " and Cast(ts As money)=" + *ts +
                      " and (isnull(strMakerID,'')=''" +
                      (IsLoan(type) ? "" : " and isnull(strVerifier,'')<>''") + ")")) {
        // A claim that is there as sent but whose settlement nobody confirmed says so.
        db::Recordset unconfirmed =
            ts && !IsLoan(type)
                ? CN.Execute(NormalizeSql("select strVouchID from " +
                                          frame::DataAuthFilter(ologin, source_table, "True") +
                                          " Where GUID = " + db::SqlText(guid) +
                                          " and Cast(ts As money)=" + *ts +
                                          " and isnull(strMakerID,'')='' and "
                                          "isnull(strVerifier,'')=''"))
                : db::Recordset();
        if (!unconfirmed.Eof()) {
          Raise(kErrBusiness, "Rembiz.Ledger.NotConfirmed", unconfirmed.Text("strVouchID"));
        }
        Raise(kErrBusiness, "Q7.Rembiz.0167");
      }
      CN.Execute(NormalizeSql("Update " + source_table +
                              " Set PZGUID= " + db::SqlText(generation_.link_id) +
                              " ,strMakerID = " + db::SqlText(ologin.UserName()) +
                              " Where GUID = " + db::SqlText(guid)));
      voucher::WriteHistory(ologin, CN, source_table, guid, voucher::history::kBooked,
                            voucher.Code());
      host::NoticeBooked(ologin, CN, source_table, guid);
    }

    db::Recordset paid = CN.Execute(NormalizeSql(
        "select EC_loanvouch_sub.guid,isnull(EC_loanvouch_sub.strPayID,'') as strPayID  from " +
        table + " join EC_loanvouch on " + table +
        ".coutno_id=EC_loanvouch.pzguid join EC_loanvouch_sub on "
        "EC_loanvouch_sub.mguid=EC_loanvouch.guid union select EC_BalanceInfo.guid,"
        "isnull(EC_BalanceInfo.strPayID,'') as strPayID from " +
        table + " join EC_expenvouch on " + table +
        ".coutno_id=EC_expenvouch.pzguid  join EC_BalanceInfo on "
        "EC_BalanceInfo.expenguid=EC_expenvouch.guid "));
    for (; !paid.Eof(); paid.MoveNext()) {
      // A row paid out in cash never went to the bank.
      if (voucher::IsCashPayId(paid.Text("strPayID"))) continue;
      std::string error;
      if (!bank->WritePZID(kSystemId, paid.Text("guid"), paid.Text("strPayID"), generation_.link_id,
                           error)) {
        throw ComError(kErrBusiness, error, "Rembiz");
      }
    }
    transaction.Commit();
  });

  std::string messages;
  try {
    messages = RegisterClaimCheques(ologin, CN, table);
  } catch (const ComError& e) {
    messages = e.Description();  // the voucher stands; the cheques are registered by hand
  }
  if (!messages.empty()) {
    oXml.LoadXml(
        "<?xml version='1.0' encoding='utf-8'?><message><id>Rembiz:CExpend:SaveVouch:"
        "ExpenStandard</id><text>" +
        frame::XmlEscape(messages) + "</text></message>");
  } else {
    oXml.LoadXml("<Return pzguid='" + frame::XmlEscape(generation_.link_id) + "' strpzcode='" +
                 frame::XmlEscape(voucher.Code()) + "'/>");
  }
  return true;
}

bool CMakePZ::LockPZ(host::Session& ologin, db::Connection& CN, std::string& SysID,
                     const std::string& outSign, const std::string& iVouchNo, std::string& strErr) {
  std::string where = " where coutsysname=" + db::SqlText(SysID) +
                      " and coutsign=" + db::SqlText(outSign) +
                      " and coutno_id=" + db::SqlText(iVouchNo);
  if (frame::Exists(CN, "select * from gl_mvocontrol" + where)) {
    strErr = MessageText("Q7.Rembiz.0025");
    throw ComError(kErrBusiness, strErr, "Rembiz");
  }
  try {
    // "作废凭证": the ledger's name of the work that holds the voucher (voiding it).
    CN.Execute(NormalizeSql(
        "insert into gl_mvocontrol (coutsign, coutno_id, cauth, cuser, cmachine, coutsysname) "
        "values (" +
        db::SqlText(outSign) + ", " + db::SqlText(iVouchNo) + ", N'作废凭证', " +
        db::SqlText(ologin.UserName()) + ", " + db::SqlText(ologin.MachineName()) + ", " +
        db::SqlText(SysID) + ")"));
  } catch (const ComError& e) {
    strErr = e.Description();
    throw ComError(kErrBusiness, strErr, "Rembiz");
  }
  return true;
}

bool CMakePZ::UnLockPZ(db::Connection& CN, const std::string& SysID, const std::string& outSign,
                       const std::string& iVouchNo) {
  std::string where = " where coutsysname=" + db::SqlText(SysID) +
                      " and coutsign=" + db::SqlText(outSign) +
                      " and coutno_id=" + db::SqlText(iVouchNo);
  if (frame::Exists(CN, "select * from gl_mvocontrol" + where)) {
    CN.Execute(NormalizeSql("delete from gl_mvocontrol" + where));
  }
  return true;
}

}  // namespace rembiz::ledger
