// CMakePZ's work on vouchers once they are staged or saved: showing their lines ("getpzdata"),
// taking the page's edited lines into the staging table ("SaveTempPZData") and cancelling saved
// vouchers ("cancelpz").
#include <array>
#include <charconv>
#include <functional>
#include <set>

#include "db/text.h"
#include "db/transaction.h"
#include "frame/convert.h"
#include "frame/request.h"
#include "frame/sql_helpers.h"
#include "host/bank_link.h"
#include "host/errors.h"
#include "host/ledger.h"
#include "host/messages.h"
#include "ledger/c_make_pz.h"
#include "ledger/source_builders.h"
#include "voucher/history.h"

namespace rembiz::ledger {
namespace {

using frame::NormalizeSql;
using host::MessageText;

std::string StagedLinesSql(const std::string& table) {
  std::string defines;
  for (int i = 1; i <= 15; ++i) defines += "cdefine" + std::to_string(i) + ",";
  return "SELECT csign,ino_id,inid,cbill,doutbilldate,dbill_date,ccashier,idoc,ctext1,ctext2,"
         "cexch_name,cdigest,ccode,ccodename,md,mc,md_f,mc_f,nfrat,nd_s,nc_s,csettle,csettlename "
         "as cssname,cn_id,dt_date,cdept_id,cdept_name,cperson_id,cperson_name,ccus_id,ccus_name,"
         "csup_id,csup_name,citem_id,citem_name,citem_class,citemclassname,cname,ccode_equal,"
         "bvouchedit,bvouchaddordele,bvouchmoneyhold,bvalueedit,bcodeedit,ccodecontrol,bPCSedit,"
         "bDeptedit,bItemedit,bCusSupInput,coutaccset,ioutyear,coutsysname,coutsysver,"
         "ioutperiod,coutsign,coutno_id,doutdate,coutbillsign,coutid,iflag,bWH_BgFlag," +
         defines + "strTypeCode,VouchGUID,cdefine16 FROM " + table +
         " where isnull(md,0)<>0 OR isnull(mc,0)<>0 Order By inid";
}

// A ledger voucher code "sign-period-number" in its parts; nullopt when it is none.
struct VoucherCode {
  std::string sign;
  std::string period;
  std::string number;
};
std::optional<VoucherCode> ParseCode(const std::string& code) {
  size_t last = code.rfind('-');
  if (last == std::string::npos || last == 0) return std::nullopt;
  size_t middle = code.rfind('-', last - 1);
  if (middle == std::string::npos || middle == 0) return std::nullopt;
  VoucherCode parts{code.substr(0, middle), code.substr(middle + 1, last - middle - 1),
                    code.substr(last + 1)};
  auto digits = [](const std::string& text) {
    if (text.empty() || text.size() > 9) return false;
    for (char c : text) {
      if (c < '0' || c > '9') return false;
    }
    return true;
  };
  if (!digits(parts.period) || !digits(parts.number)) return std::nullopt;
  return parts;
}

std::string SavedLinesSql(const std::string& code, const std::string& item_source) {
  std::string defines;
  for (int i = 1; i <= 16; ++i) defines += ", GL_accvouch.cDefine" + std::to_string(i);
  std::string where =
      "GL_accvouch.csign + '-' + cast(GL_accvouch.iperiod as nvarchar(10)) + "
      "'-' + cast(GL_accvouch.ino_id as nvarchar(10)) = " +
      db::SqlText(code);
  // The voucher's own columns first narrow the search to its lines.
  if (std::optional<VoucherCode> parts = ParseCode(code)) {
    where += " And GL_accvouch.csign = " + db::SqlText(parts->sign) +
             " And GL_accvouch.iperiod = " + parts->period +
             " And GL_accvouch.ino_id = " + parts->number;
  }
  return "SELECT GL_accvouch.cname, GL_accvouch.cn_id, GL_accvouch.ino_id, GL_accvouch.csign, "
         "GL_accvouch.dbill_date, GL_accvouch.idoc, GL_accvouch.cdigest, GL_accvouch.ccode, "
         "code.ccode_name As ccodename, GL_accvouch.md, GL_accvouch.mc, GL_accvouch.md_f, "
         "GL_accvouch.mc_f, GL_accvouch.cexch_name, GL_accvouch.csettle, SettleStyle.cSSName As "
         "cssname, GL_accvouch.cdept_id, Department.cDepName As cdept_name, "
         "GL_accvouch.cperson_id, Person.cPersonName As cperson_name, GL_accvouch.ccus_id, "
         "Customer.cCusName As ccus_name, GL_accvouch.csup_id, Vendor.cVenName As csup_name, "
         "GL_accvouch.citem_class, fitem.citem_name As citemclassname, GL_accvouch.citem_id, "
         "fitems.citemname As citem_name, GL_accvouch.cbill, GL_accvouch.ccheck, "
         "GL_accvouch.cbook, GL_accvouch.ccashier, GL_accvouch.coutsign, GL_accvouch.coutno_id, "
         "dsign.ctext, GL_accvouch.nd_s, GL_accvouch.nc_s, code.cmeasure" +
         defines +
         " FROM (select * from gl_accvouch where coutsysname = 'ec') GL_accvouch LEFT JOIN dsign "
         "ON dsign.csign = GL_accvouch.csign LEFT JOIN Customer ON Customer.cCusCode = "
         "GL_accvouch.ccus_id LEFT JOIN Vendor ON Vendor.cVenCode = GL_accvouch.csup_id LEFT "
         "JOIN Department ON Department.cDepCode = GL_accvouch.cdept_id LEFT JOIN SettleStyle ON "
         "SettleStyle.cSSCode = GL_accvouch.csettle LEFT JOIN code ON code.ccode = "
         "GL_accvouch.ccode LEFT JOIN Person ON Person.cPersonCode = GL_accvouch.cperson_id LEFT "
         "JOIN fitem ON fitem.citem_class = GL_accvouch.citem_class LEFT JOIN " +
         item_source +
         " ON fitems.citem_class = GL_accvouch.citem_class And fitems.citemcode = "
         "GL_accvouch.citem_id Where " +
         where + " Order By GL_accvouch.inid";
}

// Numbers of an edited line go into SQL as numbers, with up to ten decimals.
std::string EditedNumber(const std::string& column, const std::string& text) {
  std::optional<double> value = db::ParseNumber(text);
  if (!value) frame::InvalidNumber(column, text);
  // Room for the longest fixed form of a double: 309 digits before the point, ten after.
  std::array<char, 400> buf{};
  auto [end, ec] =
      std::to_chars(buf.data(), buf.data() + buf.size(), *value, std::chars_format::fixed, 10);
  if (ec != std::errc()) frame::InvalidNumber(column, text);
  std::string out(buf.data(), end);
  out.erase(out.find_last_not_of('0') + 1);
  if (!out.empty() && out.back() == '.') out.pop_back();
  return out == "-0" ? "0" : out;
}

// Flags come back as the answer wrote them ("True"/"False") or as numbers.
std::string EditedBit(const std::string& column, const std::string& text) {
  std::string lower = db::Lower(db::Trim(text));
  if (lower == "true" || lower == "1" || lower == "-1") return "1";
  if (lower == "false" || lower == "0") return "0";
  frame::InvalidNumber(column, text);
}

bool IsNumberType(int type) {
  switch (type) {
    case db::kAdSmallInt:
    case db::kAdInteger:
    case db::kAdSingle:
    case db::kAdDouble:
    case db::kAdCurrency:
    case db::kAdTinyInt:
    case db::kAdBigInt:
    case db::kAdNumeric:
      return true;
    default:
      return false;
  }
}

// "getpzdata" and "SaveTempPZData" read their parameters from the request ("//in/blnTemp"): an
// operation that states none of its own takes those the page stated once, with "makepz".
xml::Node RequestNode(const xml::Node& func, const std::string& path) {
  return xml::Node(func.Raw().root()).SelectSingleNode(path);
}

// The bill date of an edit: the `in` of the operation, else the first `in` of the request that
// names one (as attribute dbill_date or element pzdate).
std::string EditDate(const xml::Node& func) {
  xml::Node in = func.Child("in");
  if (!in.HasAttr("dbill_date") && in.Child("pzdate").IsNull()) {
    in = RequestNode(func, "//in[@dbill_date] | //in[pzdate]");
  }
  return in.HasAttr("dbill_date") ? in.Attr("dbill_date") : db::Trim(in.Child("pzdate").Text());
}

// Ledger functions that must not be at work on the account while a voucher is cancelled.
constexpr std::pair<const char*, const char*> kLedgerFunctions[] = {
    {"GL0204", "Q7.Rembiz.0306"}, {"GL0203", "Q7.Rembiz.0307"}, {"GL1803", "Q7.Rembiz.0308"},
    {"GL0208", "Q7.Rembiz.0309"}, {"GL1512", "Q7.Rembiz.0310"},
};

// Releases the outside-voucher lock when the cancellation ends, however it ends.
class HeldLock {
 public:
  explicit HeldLock(std::function<void()> release) : release_(std::move(release)) {}
  ~HeldLock() {
    try {
      release_();
    } catch (...) {
      // The lock row stays; the ledger's own tools clear it.
    }
  }
  HeldLock(const HeldLock&) = delete;
  HeldLock& operator=(const HeldLock&) = delete;

 private:
  std::function<void()> release_;
};

}  // namespace

bool CMakePZ::GetPZData(host::Session&, db::Connection& cn, xml::Node& func,
                        xml::Document& answer) {
  db::Recordset lines;
  xml::Node temp = func.SelectSingleNode("in/blnTemp");
  xml::Node code_node = func.SelectSingleNode("in/strpzcode");
  if (temp.IsNull() && code_node.IsNull()) {
    temp = RequestNode(func, "//in/blnTemp");
    code_node = RequestNode(func, "//in/strpzcode");
  }
  if (db::Trim(temp.Text()) == "1") {
    if (generation_.table.empty()) Raise(kErrBusiness, "Q7.Rembiz.0312");
    lines = cn.Execute(NormalizeSql(StagedLinesSql(generation_.table)));
    if (lines.Eof()) Raise(kErrBusiness, "Q7.Rembiz.0313");
  } else {
    std::string code = db::Trim(code_node.Text());
    lines = cn.Execute(NormalizeSql(SavedLinesSql(code, frame::ItemSourceSql("", cn))));
  }
  answer.LoadXml("<Rows>" + frame::RowXml(lines) + "</Rows>");
  return true;
}

bool CMakePZ::SaveTempPZData(host::Session& session, db::Connection& cn, xml::Node& func,
                             xml::Document&) {
  // Edits belong to the voucher this request staged; a request of its own has none.
  if (generation_.table.empty()) Raise(kErrBusiness, "Q7.Rembiz.0371");
  const std::string& table = generation_.table;
  db::Recordset layout = cn.Execute(NormalizeSql("Select * From " + table + " where 1= 2"));

  std::optional<std::string> normalized = db::NormalizeDate(EditDate(func));
  if (!normalized) Raise(kErrBusiness, "Q7.Rembiz.0314");
  const std::string date = normalized->substr(0, 10);

  db::Recordset start = cn.Execute(NormalizeSql(
      "SELECT CVALUE FROM AccInformation  WHERE CSYSID='EC' AND CNAME='dECPeriodDate'"));
  if (start.Eof()) Raise(kErrBusiness, "Q7.Rembiz.0315");
  std::optional<std::string> start_date = db::NormalizeDate(start.Text("CVALUE"));
  if (!start_date) Raise(kErrBusiness, "Q7.Rembiz.0316");
  if (date < start_date->substr(0, 10)) Raise(kErrBusiness, "Q7.Rembiz.0317");

  // The year's bounds first, so that a date of another year says so rather than that no
  // period holds it.
  db::Recordset periods =
      cn.Execute(NormalizeSql("select iid, dBegin, dEnd from qdsystem..ua_period where cacc_id=" +
                              db::SqlText(session.AccountId()) +
                              " and iyear=" + db::SqlText(session.FiscalYear()) + " order by iid"));
  std::string first_day, last_day;
  for (; !periods.Eof(); periods.MoveNext()) {
    int64_t id = periods.Value("iid").ToInt();
    if (id == 1) first_day = periods.Text("dBegin").substr(0, 10);
    if (id == 12) last_day = periods.Text("dEnd").substr(0, 10);
  }
  if ((!first_day.empty() && date < first_day) || (!last_day.empty() && date > last_day)) {
    Raise(kErrBusiness, "Q7.Rembiz.0319");
  }
  host::OpenLedger ledger(cn, "EC");
  int period = ledger->PeriodOfDate(session, date);
  if (period == 0) Raise(kErrBusiness, "Q7.Rembiz.0323");
  if (period <= ledger->LastClosedPeriod()) Raise(kErrBusiness, "Q7.Rembiz.0318");

  std::set<std::string> postable;
  for (db::Recordset rs = cn.Execute(NormalizeSql("select ccode from code where be=1")); !rs.Eof();
       rs.MoveNext()) {
    postable.insert(db::Lower(rs.Text("ccode")));
  }

  db::Transaction transaction(cn);
  // The page sends the whole voucher: its lines replace the staged ones.
  cn.Execute(NormalizeSql("delete from " + table));
  std::set<std::string> links, sources;
  for (const xml::Node& line : func.SelectNodes(".//Rows/*")) {
    std::string type = line.Attr("strTypeCode");
    std::string source_table = SourceTable(type);
    std::string link = line.Attr("coutno_id");
    if (links.insert(link).second &&
        frame::Exists(cn, "select * from " + source_table + " where pzguid=" + db::SqlText(link))) {
      Raise(kErrBusiness, "Q7.Rembiz.0320");
    }
    std::string source = line.Attr("coutid");
    if (!IsLoan(type) && sources.insert(source).second) {
      db::Recordset claim = cn.Execute(
          NormalizeSql("select strVerifier from EC_ExpenVouch where guid=" + db::SqlText(source)));
      if (claim.Eof() || claim.Text("strVerifier").empty()) Raise(kErrBusiness, "Q7.Rembiz.0167");
    }
    if (postable.count(db::Lower(line.Attr("ccode"))) == 0) Raise(kErrBusiness, "Q7.Rembiz.0321");

    // Exactly the attributes that are staging columns go in; the others are the page's own.
    std::string columns, values;
    for (const auto& [name, value] : line.Attributes()) {
      int index = layout.FieldIndex(name);
      if (index < 0) continue;
      const db::FieldInfo& field = layout.Field(index);
      columns += (columns.empty() ? "" : ",") + field.name;
      if (value.empty()) {
        values += std::string(values.empty() ? "" : ",") + "Null";
      } else if (field.type == db::kAdBoolean) {
        values += (values.empty() ? "" : ",") + EditedBit(field.name, value);
      } else if (IsNumberType(field.type)) {
        values += (values.empty() ? "" : ",") + EditedNumber(field.name, value);
      } else {
        values += (values.empty() ? "" : ",") + db::SqlText(value);
      }
    }
    if (columns.empty()) continue;
    cn.Execute(NormalizeSql("Insert Into " + table + " (" + columns + ") Values (" + values + ")"));
  }
  cn.Execute(NormalizeSql("update " + table + " set dbill_date=" + db::SqlText(date)));
  transaction.Commit();
  generation_.bill_date = date;
  return true;
}

bool CMakePZ::CancelPZ(host::Session& session, db::Connection& cn, xml::Node& func,
                       xml::Document& answer) {
  for (const xml::Node& row : func.SelectNodes("in/rows/*")) {
    try {
      CancelOne(session, cn, row);
    } catch (const ComError& e) {
      // The first voucher that cannot be cancelled stops the rest.
      throw ComError(e.Number(), MessageText("Q7.Rembiz.0299") + " " + e.Description(), e.Source());
    }
  }
  answer.LoadXml("<Return />");
  return true;
}

void CMakePZ::CancelOne(host::Session& session, db::Connection& cn, const xml::Node& row) {
  const std::string pzguid = row.Attr("pzguid");
  const std::string link = db::SqlText(pzguid);
  if (row.Attr("iflag") == MessageText("Q7.Rembiz.Web.0744")) Raise(kErrBusiness, "Q7.Rembiz.0300");
  std::optional<VoucherCode> code = ParseCode(row.Attr("strpzcode"));
  if (!code) {
    throw ComError(db::kErrInvalidRequest,
                   "Invalid request: '" + row.Attr("strpzcode") + "' is no ledger voucher code.",
                   "Rembiz");
  }
  std::string sign_seq = frame::OptionalNumber(row.Attr("isignseq"), "isignseq");
  const std::string number = code->number;

  std::string system_id = "EC";
  std::string error;
  LockPZ(session, cn, system_id, code->sign, pzguid, error);
  HeldLock lock([&] { UnLockPZ(cn, system_id, code->sign, pzguid); });

  db::Recordset lines = cn.Execute(NormalizeSql(
      "Select ccashier, ccheck,cSign, isnull(iflag,0) as iflag From gl_accvouch Where ino_id = " +
      number + " And coutno_id = " + link + " And iperiod = " + code->period +
      " And csign = " + db::SqlText(code->sign)));
  bool live = false;
  bool signed_off = false;
  for (; !lines.Eof(); lines.MoveNext()) {
    live = live || lines.Value("iflag").ToInt() != 1;
    signed_off = signed_off || !lines.Text("ccashier").empty() || !lines.Text("ccheck").empty();
  }
  // Nothing to cancel: the voucher is void already, or the code and link do not match.
  if (!live) Raise(kErrBusiness, "Q7.Rembiz.0300");
  if (frame::Exists(cn, "select name from sysobjects where type='U' and name='GL_LTDATA1'")) {
    std::string seq = sign_seq.empty()
                          ? std::to_string(host::OpenLedger(cn, "EC")->SignSequence(code->sign))
                          : sign_seq;
    db::Recordset marked = cn.Execute(
        NormalizeSql("Select Count(*) As intMarked From GL_LTDATA1 Where ino_id = " + number +
                     " And iperiod = " + code->period + " And isignseq = " + seq));
    if (marked.Value("intMarked").ToInt() > 0) Raise(kErrBusiness, "Q7.Rembiz.0303");
  }
  if (frame::Exists(cn, "Select ino_id From gl_accvouch Where iBG_overflag=2 and ino_id = " +
                            number + " And coutno_id = " + link)) {
    Raise(kErrBusiness, "Q7.Rembiz.0304");
  }
  if (signed_off) Raise(kErrBusiness, "Q7.Rembiz.0305");
  for (const auto& [function, key] : kLedgerFunctions) {
    db::Recordset in_use = cn.Execute(NormalizeSql(
        "Select Count(*) As intNum From QDSystem..UA_Task Where cAuth_ID = '" +
        std::string(function) + "' And cAcc_ID = " + db::SqlText(session.AccountId())));
    if (in_use.Value("intNum").ToInt() != 0) Raise(kErrBusiness, key);
  }
  if (frame::Exists(
          cn, "select * from gl_accvouch Where isnull(ssxznum,'')<>'' And coutno_id = " + link)) {
    Raise(kErrBusiness, "Q7.Rembiz.0311");
  }

  db::Transaction transaction(cn);
  std::unique_ptr<host::BankLink> bank = host::CreateBankLink(cn);
  db::Recordset paid = cn.Execute(NormalizeSql(
      "select ec_loanvouch_sub.guid, isnull(ec_loanvouch_sub.strPayID,'') as strPayID from  "
      "gl_accvouch join ec_loanvouch on gl_accvouch.coutno_id=ec_loanvouch.pzguid join "
      "ec_loanvouch_sub on ec_loanvouch_sub.mguid=ec_loanvouch.guid where gl_accvouch.coutno_id "
      "= " +
      link +
      " union select EC_BalanceInfo.guid, isnull(EC_BalanceInfo.strPayID,'') as strPayID from "
      "gl_accvouch join EC_ExpenVouch on gl_accvouch.coutno_id=EC_ExpenVouch.pzguid join "
      "EC_BalanceInfo on EC_BalanceInfo.ExpenGUID=EC_ExpenVouch.guid where "
      "gl_accvouch.coutno_id = " +
      link));
  for (; !paid.Eof(); paid.MoveNext()) {
    std::string bank_error;
    if (!bank->DeletePZID(paid.Text("guid"), paid.Text("strPayID"), pzguid, bank_error)) {
      throw ComError(kErrBusiness, bank_error, "Rembiz");
    }
  }
  cn.Execute(NormalizeSql("UPDATE gl_accvouch SET iflag = 1,ibg_overflag=null Where ino_id = " +
                          number + " And coutno_id = " + link));
  for (const char* source : {"EC_LoanVouch", "EC_ExpenVouch"}) {
    db::Recordset booked = cn.Execute(
        NormalizeSql("Select GUID From " + std::string(source) + " Where PZGUID = " + link));
    for (; !booked.Eof(); booked.MoveNext()) {
      voucher::WriteHistory(session, cn, source, booked.Text("GUID"), voucher::history::kUnbooked,
                            row.Attr("strpzcode"));
    }
  }
  try {
    for (const char* source : {"EC_LoanVouch", "EC_ExpenVouch"}) {
      cn.Execute(NormalizeSql("Update " + std::string(source) +
                              " Set strMakerID = null , PZGUID = null Where PZGUID = " + link));
    }
  } catch (const db::DbError&) {
    Raise(kErrBusiness, "Q7.Rembiz.0300");
  }
  transaction.Commit();
}

}  // namespace rembiz::ledger
