#include "reports/c_query.h"

#include "db/error.h"
#include "db/text.h"
#include "frame/convert.h"
#include "frame/registry.h"
#include "frame/request.h"
#include "frame/sql_helpers.h"
#include "host/approver_list.h"
#include "host/errors.h"
#include "host/messages.h"
#include "reports/paging.h"
#include "reports/voucher_sources.h"

namespace rembiz::reports {
namespace {

constexpr frame::FrameVariant kVariant{
    .class_name = "CQuery",
    .task_code = "",
    .entry_task = frame::EntryTask::kPerOperation,
    .transactions = frame::Transactions::kNone,
    .error_form = frame::ErrorForm::kQueryReport,
    .busy_message = false,
};

constexpr frame::OperationEntry kOperations[] = {
    frame::Op<&CQuery::ListLoanData>("listloandata", frame::kReadsOnly, "EC0301"),
    frame::Op<&CQuery::ListRepayData>("listrepaydata", frame::kReadsOnly, "EC0302"),
    frame::Op<&CQuery::ListPZData>("listpzdata", frame::kReadsOnly, "EC0303"),
    frame::Op<&CQuery::ListNetpayData>("listnetpaydata", frame::kReadsOnly),
    frame::Op<&CQuery::ListCashPayData>("listcashpaydata", frame::kReadsOnly),
    frame::Op<&CQuery::ListMakePZData>("listmakepzdata", frame::kReadsOnly),
};

const frame::ClassRegistrar kRegistrar("Rembiz.CQuery", [] { return std::make_unique<CQuery>(); });

// "sign-period-number" of a ledger voucher line.
std::string VoucherCode(const std::string& gl) {
  return gl + ".csign+'-'+cast(" + gl + ".iperiod as nvarchar(10))+'-'+cast(" + gl +
         ".ino_id as nvarchar(10))";
}

bool AnswerPage(db::Connection& cn, const PagedQuery& query, const xml::Node& func,
                xml::Document& answer) {
  Page page;
  db::Recordset rows = RunPage(cn, query, ReadPageRequest(func), &page);
  answer.LoadXml(Envelope(page, frame::RowXml(rows)));
  return true;
}

// The approval filter of the loan and claim lists, on the voucher table `table` (as the list's
// FROM names it). Applied unless the request names no auditor and condition -1.
std::string ApprovalFilter(db::Connection& cn, const xml::Node& func, const std::string& table) {
  xml::Node cond = func.SelectSingleNode(".//auditcond");
  if (!cond) return "";
  std::string auditor = cond.Attr("Auditor");
  std::string condition_text = db::Trim(cond.Attr("auditcondition"));
  int64_t condition = condition_text.empty() ? -1 : WholeNumber(condition_text, "auditcondition");
  if (auditor.empty() && condition == -1) return "";

  std::unique_ptr<host::ApproverList> approvers = host::CreateApproverList(&cn);
  std::string not_waiting = approvers->GetNotInAuditUserListSql("EC", table, auditor);
  std::string submitted = " and " + table + ".blnAudi=1";
  if (condition == 0) {
    return submitted + " and (case isnull(" + table + ".strauditorid,'') when '' then 0 else 1 " +
           "end)=0 and ltrim(" + table + ".Guid) not in (" + not_waiting + ")";
  }
  if (condition == 1) {
    return submitted + " and ltrim(" + table + ".Guid) in (" +
           approvers->GetAuditUserListSql("EC", table, auditor) + " union select guid from " +
           table + " where strauditorid=" + db::SqlText(auditor) + ")";
  }
  return submitted + " and ltrim(" + table + ".Guid) Not in (" + not_waiting + ")";
}

[[noreturn]] void NotAChoice(std::string_view what, const std::string& value) {
  throw ComError(db::kErrInvalidRequest,
                 host::MessageText("Rembiz.Value.NotAChoice", "", what, value), "Rembiz");
}

// The search box of the lists: `in/search/@text` is a word found in the voucher number, the
// purpose or the borrower's (claimant's) name of the heads `table`, matched literally: LIKE's
// wildcards in it are escaped.
std::string SearchWord(const xml::Node& func, const std::string& table) {
  std::string word = db::Trim(func.SelectSingleNode("in/search").Attr("text"));
  if (word.empty()) return "";
  std::string pattern = "%";
  for (char c : word) {
    if (c == '%' || c == '_' || c == '!') pattern += '!';
    pattern += c;
  }
  pattern += '%';
  std::string like = " like " + db::SqlText(pattern) + " escape '!'";
  return " and (" + table + ".strvouchid" + like + " or " + table + ".strused" + like + " or " +
         table + ".strloanid in (select cpersoncode from person where cpersonname" + like + "))";
}

// The word and the state choice of the loan and claim lists: `in/search/@state` is one of
// "draft" (not submitted), "waiting" (submitted, not yet approved) or "approved".
std::string SearchFilter(const xml::Node& func, const std::string& table) {
  std::string out = SearchWord(func, table);
  std::string state = func.SelectSingleNode("in/search").Attr("state");
  if (state == "draft") {
    out += " and isnull(" + table + ".blnaudi,0)=0";
  } else if (state == "waiting") {
    out += " and " + table + ".blnaudi=1 and isnull(" + table + ".strauditorid,'')=''";
  } else if (state == "approved") {
    out += " and isnull(" + table + ".strauditorid,'')<>''";
  } else if (!state.empty()) {
    NotAChoice("state", state);
  }
  return out;
}

// The loan and claim lists: one voucher table with its name joins, the user filter, the
// operator's data permissions and the approval filter.
PagedQuery VoucherList(host::Session& session, db::Connection& cn, const xml::Node& func,
                       const std::string& table, bool loans) {
  PagedQuery query;
  std::string vouchers = frame::DataAuthFilter(session, table, "True");
  query.from = vouchers + NameJoins(table, RequestItems(func, cn));
  query.where = UserFilter(func) + ApprovalFilter(cn, func, table) + SearchFilter(func, table);
  query.key = table + ".autoid";
  query.unique_key = true;
  if (FilterOnlyOn(func, table)) query.key_from = vouchers;
  std::string t = table + ".";
  query.columns = "'' as SelCol,EC_OperationType.strname as strtypename," +
                  (loans ? t + "strvouchid+(case when " + t + "blnbegin='1' then '*' else '' end)"
                         : t + "strvouchid") +
                  " as strvouchid," + DateColumn(t + "dtloandate", "dtloandate") + "," +
                  (loans ? DateColumn(t + "dtexpdate", "dtexpdate") + "," : std::string()) +
                  "department.cdepname as strdepartname,personloan.cpersonname as strloanname,"
                  "BG_Item.citemname as strbuditemname," +
                  t + "strbill," + t + "dblmoney," + t +
                  "strused,fitem.citem_name as stritemclassname,fitems.citemname as stritemname," +
                  t + "strpersonid," + t + "strauditorid,cast(" + t + "ts as money) as ts," + t +
                  "autoid," + t + "guid," + t + "strtypecode," + t + "strdepartid," + t +
                  "strloanid," + t + "strbuditemid," + t + "stritemclassid," + t + "stritemid";
  return query;
}

// Payment lines of `family` with their heads' names, as the payment lists show them.
PagedQuery PaymentLines(host::Session& session, db::Connection& cn, const xml::Node& func,
                        Family family) {
  PagedQuery query;
  query.from = LineSource(family) + " left join " + HeadSource(session, family) +
               " on (ec_vch.guid=ec_vchs.mguid) left join settlestyle on "
               "(settlestyle.csscode=ec_vchs.strbalanceid)" +
               NameJoins("ec_vch", RequestItems(func, cn));
  query.key = family == Family::kBoth ? "ec_vchs.listkey" : "ec_vchs.autoid";
  query.columns =
      "'' as SelCol,EC_OperationType.strname as strtypename,ec_vch.strvouchid," +
      DateColumn("ec_vch.dtloandate", "dtloandate") +
      ",ec_vch.strused,fitem.citem_name as stritemclassname,fitems.citemname as stritemname,"
      "department.cdepname as strdepartname,personloan.cpersonname as strloanname,"
      "settlestyle.cssname as strbalancename,ec_vch.strbill,ec_vchs.dblmoney,"
      "ec_vch.strpersonid,ec_vch.strauditorid,ec_vchs.autoid,ec_vchs.guid,ec_vch.strtypecode,"
      "ec_vch.strdepartid,ec_vch.strloanid,ec_vch.strbuditemid,ec_vch.stritemclassid,"
      "ec_vch.stritemid,ec_vchs.strbalanceid,ec_vchs.strpayid";
  query.order = "ec_vchs.autoid";
  return query;
}

}  // namespace

const frame::FrameVariant& CQuery::Variant() const { return kVariant; }
std::span<const frame::OperationEntry> CQuery::Operations() const { return kOperations; }

bool CQuery::ListLoanData(host::Session& session, db::Connection& cn, xml::Node& func,
                          xml::Document& answer) {
  return WithFailureKey("Q7.Rembiz.0324", [&] {
    return AnswerPage(cn, VoucherList(session, cn, func, "ec_loanvouch", true), func, answer);
  });
}

bool CQuery::ListRepayData(host::Session& session, db::Connection& cn, xml::Node& func,
                           xml::Document& answer) {
  return WithFailureKey("Q7.Rembiz.0325", [&] {
    return AnswerPage(cn, VoucherList(session, cn, func, "ec_expenvouch", false), func, answer);
  });
}

bool CQuery::ListPZData(host::Session& session, db::Connection& cn, xml::Node& func,
                        xml::Document& answer) {
  return WithFailureKey("Q7.Rembiz.0326", [&] {
    std::string year = session.FiscalYear();
    if (!frame::IsNumeric(db::Variant(year))) frame::InvalidNumber("fiscal year", year);
    PagedQuery query;
    // Lines of vouchers this operator may not see, or of the other family, find no source and
    // are not listed.
    query.from = "(select * From GL_accvouch Where coutsysname = 'ec') GL_accvouch left join " +
                 HeadSource(session, RequestFamily(func)) +
                 " on (ec_vch.guid=GL_accvouch.coutid) left join EC_OperationType on "
                 "(EC_OperationType.strcode=ec_vch.strtypecode)";
    query.where = UserFilter(func, true) +
                  " and ec_vch.guid is not null and GL_accvouch.ioutyear='" + year + "'";
    query.key =
        "GL_accvouch.csign+cast(GL_accvouch.iperiod as nvarchar(10))+cast(GL_accvouch."
        "ino_id as nvarchar(10))+GL_accvouch.coutid+isnull(convert(nvarchar(10),"
        "GL_accvouch.doutdate,120),'')+ec_vch.strtypecode";
    query.text_key = true;
    query.columns =
        "'' as SelCol," + DateColumn("GL_accvouch.doutdate", "dtDate") +
        ",EC_OperationType.strname as strtypename,ec_vch.strvouchid,isnull(GL_accvouch.cbill,"
        "ec_vch.strmakerid) as strMakerID," +
        DateColumn("GL_accvouch.dbill_date", "dtbilldate") + "," + VoucherCode("GL_accvouch") +
        " as strpzcode,(case when GL_accvouch.iflag=1 then " +
        db::SqlText(host::MessageText("Q7.Rembiz.Web.0744")) + " when GL_accvouch.iflag=2 then " +
        db::SqlText(host::MessageText("Q7.Rembiz.0301")) + " when GL_accvouch.ibook=1 then " +
        db::SqlText(host::MessageText("Q7.Rembiz.0386")) +
        " else '' end) as iflag,ec_vch.guid,ec_vch.strtypecode,GL_accvouch.isignseq,"
        "GL_accvouch.ino_id,GL_accvouch.csign,GL_accvouch.coutno_id as pzguid";
    query.order = "strpzcode,guid,strtypecode,isignseq";
    return AnswerPage(cn, query, func, answer);
  });
}

bool CQuery::ListNetpayData(host::Session& session, db::Connection& cn, xml::Node& func,
                            xml::Document& answer) {
  return WithFailureKey("Q7.Rembiz.0327", [&] {
    PagedQuery query = PaymentLines(session, cn, func, RequestFamily(func));
    // Claims are paid once verified; every line needs the paying bank and the receiving bank
    // and account.
    query.where = UserFilter(func, true) + SearchWord(func, "ec_vch") +
                  " and ec_vch.dblmoney > 0 and (ec_vch.strtypecode like '3%' or "
                  "isnull(ec_vch.strverifier,'') <>'') and isnull(ec_vchs.strpaybankid,'')<>'' "
                  "and isnull(ec_vchs.strbankname,'')<>'' and isnull(ec_vchs.strbankacc,'')<>''";
    return AnswerPage(cn, query, func, answer);
  });
}

// The loan rows the cashier pays out by hand: rows of approved loans (not carried over from
// before the system) that the bank cannot pay, lacking a paying bank or a payee account.
// `blnnetok` tells the rows paid already.
bool CQuery::ListCashPayData(host::Session& session, db::Connection& cn, xml::Node& func,
                             xml::Document& answer) {
  return WithFailureKey("Q7.Rembiz.0327", [&] {
    PagedQuery query = PaymentLines(session, cn, func, Family::kLoans);
    query.where = UserFilter(func, true) + SearchWord(func, "ec_vch") +
                  " and ec_vchs.dblmoney > 0 and isnull(ec_vch.strauditorid,'')<>'' and "
                  "isnull(ec_vch.blnbegin,0)<>1 and (isnull(ec_vchs.strpaybankid,'')='' or "
                  "isnull(ec_vchs.strbankname,'')='' or isnull(ec_vchs.strbankacc,'')='')";
    query.columns += ",cast(isnull(ec_vchs.blnnetok,0) as int) as blnnetok";
    return AnswerPage(cn, query, func, answer);
  });
}

bool CQuery::ListMakePZData(host::Session& session, db::Connection& cn, xml::Node& func,
                            xml::Document& answer) {
  return WithFailureKey("Q7.Rembiz.0328", [&] {
    Family family = RequestFamily(func);
    // A line passes while it is not sent and not confirmed, or sent and confirmed; a voucher
    // waits for its ledger voucher only when all its lines pass.
    constexpr const char* kLinePasses =
        "((isnull(strpayid,'')='' and isnull(blnnetok,0)=0)or(isnull(strpayid,'')<>'' and "
        "isnull(blnnetok,0)=1))";
    PagedQuery query;
    query.from = HeadSource(session, family) +
                 " left join gl_accvouch on (gl_accvouch.coutno_id=ec_vch.PZGUID)" +
                 NameJoins("ec_vch", RequestItems(func, cn));
    query.where = UserFilter(func, true) + SearchWord(func, "ec_vch") +
                  " and isnull(ec_vch.strauditorid,'')<>'' and isnull(ec_vch.blnbegin,0)<>1 "
                  "and ec_vch.guid not in (select MGuid from EC_LoanVouch_Sub where not " +
                  std::string(kLinePasses) +
                  " union select ExpenGUID from EC_BalanceInfo where not " + kLinePasses + ")";
    // `in/search state="waiting"` keeps the vouchers that have no ledger voucher yet (the work
    // the navigation counts); the list itself shows the booked ones too.
    std::string state = func.SelectSingleNode("in/search").Attr("state");
    if (state == "waiting") {
      query.where += " and isnull(ec_vch.pzguid,'')=''";
    } else if (!state.empty()) {
      NotAChoice("state", state);
    }
    query.key = family == Family::kBoth ? "ec_vch.listkey" : "ec_vch.autoid";
    query.columns =
        "'' as SelCol,EC_OperationType.strname as strtypename,ec_vch.strvouchid," +
        DateColumn("ec_vch.dtloandate", "dtloandate") +
        ",department.cdepname as strdepartname,personloan.cpersonname as strloanname,"
        "fitem.citem_name as stritemclassname,fitems.citemname as stritemname,ec_vch.strbill,"
        "ec_vch.dblmoney,ec_vch.strused,ec_vch.strpersonid,ec_vch.strauditorid,isnull(" +
        VoucherCode("gl_accvouch") +
        ",'') as strpzid,ec_vch.autoid,ec_vch.guid,ec_vch.strtypecode,ec_vch.strdepartid,"
        "ec_vch.strloanid,ec_vch.stritemclassid,ec_vch.stritemid,ec_vch.pzguid,cast(ec_vch.ts as "
        "money) as ts";
    query.order = "ec_vch.autoid";
    return AnswerPage(cn, query, func, answer);
  });
}

}  // namespace rembiz::reports
