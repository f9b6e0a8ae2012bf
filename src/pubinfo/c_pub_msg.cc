#include "pubinfo/c_pub_msg.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "db/persist.h"
#include "db/text.h"
#include "frame/convert.h"
#include "frame/registry.h"
#include "frame/sql_helpers.h"
#include "host/doc_number.h"
#include "host/errors.h"
#include "host/form_layout.h"
#include "host/free_fields.h"
#include "host/grid_layout.h"
#include "host/login_guard.h"
#include "host/lookup.h"
#include "host/messages.h"
#include "host/passwords.h"
#include "host/portal_menus.h"
#include "host/system_login.h"

namespace rembiz::pubinfo {
namespace {

using db::Lower;
using db::Trim;

using db::Variant;
using frame::NormalizeSql;
using frame::SqlEscape;
using frame::XmlEscape;
using frame::XmlName;

constexpr const char* kDeclaration = "<?xml version='1.0' encoding='utf-8'?>";
constexpr int32_t kErrUnexpected = static_cast<int32_t>(0x8000FFFF);
constexpr int32_t kErrFileNotFound = 53;
using db::kErrInvalidRequest;

// The right that maintains the operation types with their display and print templates.
constexpr std::string_view kPrintLayoutTask = "EC0102";

constexpr frame::FrameVariant kVariant{
    .class_name = "CPubMsg",
    .task_code = "",
    .entry_task = frame::EntryTask::kNone,
    .transactions = frame::Transactions::kNone,
    .error_form = frame::ErrorForm::kPubMsg,
    .busy_message = false,
};

std::vector<std::string> Split(std::string_view text, char separator) {
  std::vector<std::string> parts;
  size_t b = 0;
  while (b <= text.size()) {
    size_t e = text.find(separator, b);
    if (e == std::string_view::npos) e = text.size();
    if (e > b) parts.emplace_back(text.substr(b, e - b));
    b = e + 1;
  }
  return parts;
}

std::string Text(const xml::Node& func, std::string_view path) {
  return func.SelectSingleNode(path).Text();
}

// The markup of a node's element children when it has any, otherwise its text: pages send
// layouts both escaped and as elements.
std::string InnerXmlOrText(const xml::Node& node) {
  xml::NodeList children = node.Children();
  if (children.empty()) return node.Text();
  std::string out;
  for (const xml::Node& child : children) out += child.Xml();
  return out;
}

// Loads an answer; an answer that is not XML (a field name that is no XML name) is an error.
void Load(xml::Document& answer, const std::string& text) {
  if (!answer.LoadXml(text)) {
    throw ComError(kErrUnexpected, "The answer is not well-formed XML: " + answer.ParseError(),
                   "Rembiz");
  }
}

// The key's text stands in for an error that came without a description.
template <class Body>
bool Guarded(std::string_view key, Body&& body) {
  try {
    return body();
  } catch (const ComError& e) {
    if (!e.Description().empty() || key.empty()) throw;
    throw ComError(e.Number(), host::MessageText(key), e.Source());
  } catch (const std::exception& e) {
    if (*e.what() != '\0' || key.empty()) throw;
    throw ComError(kErrUnexpected, host::MessageText(key), "Rembiz");
  }
}

// A whole number from a request; anything else fails with the operation's key.
int64_t RequireInteger(std::string_view text, std::string_view key) {
  constexpr double kLimit = 9007199254740992.0;  // 2^53: every whole double below is exact
  std::optional<double> value = db::ParseNumber(text);
  if (!value || std::fabs(*value) >= kLimit || *value != std::trunc(*value)) {
    Raise(kErrBusiness, key);
  }
  return static_cast<int64_t>(*value);
}

// Paging numbers never reach SQL; a missing or bad one takes the default, and a huge one stands
// for "as far as there are rows".
int64_t PageNumber(std::string_view text, int64_t fallback) {
  constexpr double kMost = 1e9;
  std::optional<double> value = db::ParseNumber(text);
  if (!value || *value < 1) return fallback;
  return static_cast<int64_t>(std::min(*value, kMost));
}

std::string YearSql(const host::Session& session) {
  std::string year = session.FiscalYear();
  if (!frame::IsNumeric(Variant(year))) {
    throw ComError(kErrInvalidRequest, "The fiscal year '" + year + "' is not a number.");
  }
  return frame::SqlNumber(Variant(year));
}

db::Recordset Exec(db::Connection& cn, const std::string& sql) {
  return cn.Execute(NormalizeSql(sql));
}

// The attributes menuGet and ztGet share, from caccname to isgroup.
std::string SessionAttributes(const host::Session& session) {
  return "caccname='" + XmlEscape(session.AccountName()) + "' cacc_id='" +
         XmlEscape(session.AccountId()) + "' ciyear='" + XmlEscape(session.FiscalYear()) +
         "' cuserid='" + XmlEscape(session.UserId()) + "' cusername='" +
         XmlEscape(session.UserName()) + "' curdate='" + XmlEscape(session.LoginDate()) +
         "' isadmin='" + (session.IsAdmin() ? "1" : "0") + "' isgroup='" +
         (session.IsGroup() ? "1" : "0") + "'";
}

bool RowsAnswer(db::Connection& cn, const std::string& sql, xml::Document& answer) {
  db::Recordset rs = Exec(cn, sql);
  Load(answer, "<rows>" + frame::RowXml(rs) + "</rows>");
  return true;
}

// The operator's template authority as a condition on vt_id.
std::string TemplateAuthority(host::Session& session, const std::string& card) {
  std::string list = frame::RowAuthString(session, "djmb", card);
  if (list.empty()) return "";
  if (list == "1=2") return " and 1=2";
  return " and vt_id in (" + list + ")";
}

// The authority condition of a reference by its `auth` attribute.
std::string ReferenceAuthority(host::Session& session, const std::string& auth) {
  static constexpr std::pair<const char*, const char*> kKinds[] = {
      {"code", " ccode in ("}, {"dsign", " csign in ("}, {"user", " cuser_name in ("}};
  for (const auto& [type, prefix] : kKinds) {
    if (auth != type) continue;
    std::string list = frame::RowAuthString(session, type);
    if (list.empty()) break;
    if (list == "1=2") return " 1 = 2 ";
    return prefix + list + ") ";
  }
  return " 1 = 1 ";
}

// The value-list table and column of a user-defined field by the request's source (0–3).
bool UserDefineSource(const std::string& source) {
  return source == "0" || source == "1" || source == "2" || source == "3";
}
constexpr const char* kUserDefineTable = "UserDefine";
constexpr const char* kUserDefineColumn = "cValue";

}  // namespace

const frame::FrameVariant& CPubMsg::Variant() const { return kVariant; }

void CPubMsg::ResetRequestState() {
  loan_.reset();
  expense_.reset();
}

std::span<const frame::OperationEntry> CPubMsg::Operations() const {
  using frame::Op;
  using frame::OwnErrors;
  // Every operation but the voucher reads answers its failures with its own error document.
  static constexpr frame::OperationEntry kOperations[] = {
      OwnErrors(Op<&CPubMsg::EditTimeGet>("edittimeget"), "editTimeGet"),
      OwnErrors(Op<&CPubMsg::ZtInfoGet>("ztinfoget"), "ztInfoGet"),
      OwnErrors(Op<&CPubMsg::MenuGet>("menuget"), "menuGet"),
      OwnErrors(Op<&CPubMsg::ZtGet>("ztget"), "ztGet"),
      OwnErrors(Op<&CPubMsg::AccGet>("accget"), "accGet"),
      OwnErrors(Op<&CPubMsg::AccGet2>("accget2"), "accGet2"),
      OwnErrors(Op<&CPubMsg::AuthGet>("authget"), "authGet"),
      OwnErrors(Op<&CPubMsg::CurrencyGet>("currencyget"), "currencyGet"),
      OwnErrors(Op<&CPubMsg::HlGet>("hlget"), "currencyGet"),
      OwnErrors(Op<&CPubMsg::SelectGet>("selectget", frame::kReadsOnly), "selectGet"),
      OwnErrors(Op<&CPubMsg::ReferCheck>("refercheck", frame::kReadsOnly), "accGet"),
      Op<&CPubMsg::AddLock>("addlock"),
      OwnErrors(Op<&CPubMsg::ItemRefer>("refer"), "itemRefer"),
      OwnErrors(Op<&CPubMsg::UserdefCheck>("userdefcheck"), "userdefCheck"),
      OwnErrors(Op<&CPubMsg::UserdefData>("userdefdata"), "userdefData"),
      OwnErrors(Op<&CPubMsg::RptColumnGet>("rptcolumnget"), "RptColumnGet"),
      OwnErrors(Op<&CPubMsg::RptColumnSet>("rptcolumnset"), "RptColumnSet"),
      OwnErrors(Op<&CPubMsg::VchModuleGet>("vchmoduleget"), "VchModuleGet"),
      OwnErrors(Op<&CPubMsg::VchModuleListGet>("vchmodulelistget"), "VchModuleListGet"),
      OwnErrors(Op<&CPubMsg::VchNoFormatGet>("vchnoformatget"), "VchNoFormatGet"),
      OwnErrors(Op<&CPubMsg::VchNoGet>("vchnoget"), "VchNoGet"),
      OwnErrors(Op<&CPubMsg::VchPrintDataGet>("vchprintdataget"), "VchPrintDataGet"),
      // Print layouts are shared by every operator of the account: changing them is part of
      // maintaining the voucher kinds and their print templates.
      OwnErrors(Op<&CPubMsg::VchPrintDataSet>("vchprintdataset", 0, kPrintLayoutTask),
                "VchPrintDataSet"),
      OwnErrors(Op<&CPubMsg::VchFixedDataGet>("vchfixeddataget"), "VchFixedDataGet"),
      OwnErrors(Op<&CPubMsg::VchLogoGet>("vchlogoget"), "VchFixedDataGet"),
      Op<&CPubMsg::VchGetLoanHeadData>("vchgetloanheaddata"),
      Op<&CPubMsg::VchGetLoanBodyData>("vchgetloanbodydata"),
      Op<&CPubMsg::VchGetExpenHeadData>("vchgetexpenheaddata"),
      Op<&CPubMsg::VchGetExpenBodyData>("vchgetExpenbodydata"),
      Op<&CPubMsg::VchGetExpenLoanData>("vchgetexpenloandata"),
      Op<&CPubMsg::VchGetHistory>("vchgethistory"),
  };
  return kOperations;
}

std::span<const frame::OperationEntry> CPubMsg::PublicProcedures() const {
  using frame::Op;
  using frame::OwnErrors;
  static constexpr frame::OperationEntry kPublic[] = {
      OwnErrors(Op<&CPubMsg::VchModuleGet>("VchModuleGet"), "VchModuleGet"),
      OwnErrors(Op<&CPubMsg::VchNoFormatGet>("VchNoFormatGet"), "VchNoFormatGet"),
      OwnErrors(Op<&CPubMsg::VchNoGet>("VchNoGet"), "VchNoGet"),
  };
  return kPublic;
}

// ---------------------------------------------------------------------------------------------
// Log-in, account, menu, options, rights, currencies and free queries.

bool CPubMsg::EditTimeGet(host::Session&, db::Connection&, xml::Node& func, xml::Document& answer) {
  std::string folder = func.Child("in").Text();
  std::replace(folder.begin(), folder.end(), '\\', '/');
  while (!folder.empty() && folder.back() == '/') folder.pop_back();
  std::string file = folder + "/client/data2.cab";
  struct stat info {};
  if (::stat(file.c_str(), &info) != 0) {
    throw ComError(kErrFileNotFound, "File not found: " + file, "Rembiz");
  }
  std::tm tm{};
  localtime_r(&info.st_mtime, &tm);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &tm);
  Load(answer, std::string(kDeclaration) + "<edittime>" +
                   frame::DateText(db::Variant::Date(stamp), "-") + "</edittime>");
  return true;
}

bool CPubMsg::ZtInfoGet(host::Session& session, db::Connection&, xml::Node& func,
                        xml::Document& answer) {
  std::unique_ptr<host::SystemLogin> login = host::CreateSystemLogin(session);
  std::string connection = login->GetConnectString("CONNECTSTRINGQ7SOFTPASS");
  if (Lower(connection).find("failed") != std::string::npos) Raise(kErrBusiness, "Q7.Rembiz.0335");
  db::Connection sys;
  sys.Open(connection);
  sys.Execute("use qdsystem");

  std::string uid = Text(func, "in/uid");
  std::string pwd = Text(func, "in/pwd");
  std::string system_id = Text(func, "in/sys");
  // The password check is a log-in: it goes through the same guard, counted for the user
  // asked about and for the caller (its address, or its operator on this machine).
  host::LoginGuard guard(connection);
  std::string client =
      session.ClientAddress().empty() ? "operator " + session.UserId() : session.ClientAddress();
  if (int wait = guard.WaitSeconds(uid, client)) {
    Raise(kErrBusiness, "Rembiz.Host.LoginLocked", std::to_string(wait));
  }
  db::Recordset user =
      Exec(sys, "SELECT cUser_Name,cPassword FROM UA_User WHERE cUser_ID='" + SqlEscape(uid) + "'");
  if (user.Eof()) host::SpendPasswordCheck(pwd);
  if (user.Eof() || !login->PasswordMatches(user.Value("cPassword"), pwd)) {
    guard.Failed(uid, client);
    Raise(kErrBusiness, "Q7.Rembiz.0084");
  }
  guard.Succeeded(uid);

  std::string groups;
  db::Recordset roles =
      Exec(sys, "select distinct cgroup_id from ua_role where cUser_id='" + SqlEscape(uid) + "'");
  for (; !roles.Eof(); roles.MoveNext()) {
    groups += (groups.empty() ? "'" : ",'") + SqlEscape(roles.Text("cgroup_id")) + "'";
  }
  std::string holder = "((UA_HoldAuth.cUser_id='" + SqlEscape(uid) + "' and UA_HoldAuth.iIsuser=1)";
  if (!groups.empty()) {
    holder += " or (UA_HoldAuth.cUser_id in (" + groups + ") and UA_HoldAuth.iIsuser=0)";
  }
  holder += ")";
  const std::string columns =
      "select ua_holdauth.cacc_id as cacc_id,UA_Account.cAcc_Name as cAcc_Name,"
      "UA_HoldAuth.iYear as iYear,UA_Period.iID as iID,UA_Period.dBegin as dBegin,"
      "UA_Period.dEnd as dEnd from UA_HoldAuth ";
  const std::string periods =
      "inner join UA_Period on UA_Period.cAcc_ID=UA_HoldAuth.cacc_id and "
      "UA_Period.iYear=UA_HoldAuth.iYear inner join UA_Account on "
      "UA_Account.cAcc_Id=UA_HoldAuth.cacc_id ";
  std::string module =
      system_id.empty() ? "" : " and UA_Auth.cSub_Id='" + SqlEscape(system_id) + "'";
  // The union is ordered by its result names (aliased), which both dialects accept.
  db::Recordset rs = Exec(
      sys, columns + "inner join UA_Auth on UA_Auth.cAuth_Id=UA_HoldAuth.cauth_id " + periods +
               "where " + holder + module + " union " + columns + periods +
               "where UA_HoldAuth.cauth_id='ADMIN' and " + holder + " order by cacc_id,iYear,iID");
  if (rs.Eof()) Raise(kErrBusiness, "Q7.Rembiz.0085");

  std::string out = std::string(kDeclaration) + "<info><user id='" + XmlEscape(uid) + "' name='" +
                    XmlEscape(user.Text("cUser_Name")) + "'/><zts>";
  std::string current;
  for (; !rs.Eof(); rs.MoveNext()) {
    std::string key = rs.Text("cacc_id") + "|" + rs.Text("iYear");
    if (key != current) {
      if (!current.empty()) out += "</zt>";
      current = key;
      out += "<zt id='" + XmlEscape(rs.Text("cacc_id")) + "' name='" +
             XmlEscape(rs.Text("cAcc_Name")) + "' year='" + XmlEscape(rs.Text("iYear")) + "'>";
    }
    char period[24];
    std::snprintf(period, sizeof period, "%02lld", static_cast<long long>(rs.Value("iID").ToInt()));
    out += std::string("<period id='") + period + "' dbegin='" + XmlEscape(rs.Text("dBegin")) +
           "' dend='" + XmlEscape(rs.Text("dEnd")) + "'/>";
  }
  Load(answer, out + "</zt></zts></info>");
  return true;
}

bool CPubMsg::MenuGet(host::Session& session, db::Connection& cn, xml::Node&,
                      xml::Document& answer) {
  std::string menu = host::CreatePortalMenus()->LoadMenu1(cn, true, "EC", session.AccountId(),
                                                          session.FiscalYear(), session.UserId());
  bool alert = frame::ToBool(db::Variant(frame::AccOption("blnAutoAlert", cn, "EC")));
  Load(answer, std::string(kDeclaration) + "<menu " + SessionAttributes(session) + " isalert='" +
                   (alert ? "1" : "0") + "'>" + menu + "</menu>");
  return true;
}

bool CPubMsg::ZtGet(host::Session& session, db::Connection& cn, xml::Node&, xml::Document& answer) {
  std::string account = SqlEscape(session.AccountId());
  std::string year = YearSql(session);
  db::Recordset rs =
      Exec(cn,
           "select ccurcode,ccurname,cunitname,cunitabbre,cunitaddr,cunitzap,cunittel,cunitfax,"
           "cunitemail,cunittaxno,iyear,imonth from qdsystem..ua_account where cAcc_Id='" +
               account + "'");
  std::string attributes;
  if (!rs.Eof()) {
    for (int i = 0; i < rs.FieldCount(); ++i) {
      attributes += " " + rs.Field(i).name + "='" + XmlEscape(rs.Value(i).ToText()) + "'";
    }
  }
  auto bound = [&](const char* column, const char* order) {
    db::Recordset b = Exec(cn, std::string("select top 1 convert(varchar(10),") + column +
                                   ",120) from Qdsystem..UA_Period where cacc_id='" + account +
                                   "' and iyear=" + year + " order by iid" + order);
    return b.Eof() ? std::string() : b.Value(0).ToText();
  };
  attributes += " dbegin='" + XmlEscape(bound("dbegin", "")) + "'";
  attributes += " dend='" + XmlEscape(bound("dend", " desc")) + "'";
  Load(answer,
       std::string(kDeclaration) + "<ztinfo " + SessionAttributes(session) + attributes + "/>");
  return true;
}

bool CPubMsg::AccGet(host::Session&, db::Connection& cn, xml::Node&, xml::Document& answer) {
  return RowsAnswer(
      cn,
      "SELECT csysid,cname,ctype,cvalue,cdefault FROM AccInformation where csysid IN "
      "('AA','GL','EC') OR cName IN ('dNBFirstDate','dNBStartDate','dNBStartDatePeriod',"
      "'dBMFirstDate','dBMNatureDate','dBMPeriodDate')",
      answer);
}

bool CPubMsg::AccGet2(host::Session&, db::Connection& cn, xml::Node&, xml::Document& answer) {
  return RowsAnswer(
      cn,
      "SELECT cSysID,cID,cName,cType,cValue,cDefault FROM AccInformation where csysid IN ('AA')",
      answer);
}

bool CPubMsg::AuthGet(host::Session& session, db::Connection& cn, xml::Node& func,
                      xml::Document& answer) {
  std::string user = Text(func, "in/user");
  if (user.empty()) user = session.UserId();
  std::string u = SqlEscape(user);
  return RowsAnswer(cn,
                    "SELECT lower(cauth_id) as name FROM UA_HoldAuth WHERE cAcc_Id='" +
                        SqlEscape(session.AccountId()) + "' AND iYear=" + YearSql(session) +
                        " AND (iIsUser=1 AND cUser_Id = '" + u +
                        "' OR iIsUser=0 AND cUser_Id IN (SELECT cGroup_Id FROM UA_Role WHERE "
                        "cUser_Id= '" +
                        u + "'))",
                    answer);
}

bool CPubMsg::CurrencyGet(host::Session&, db::Connection& cn, xml::Node&, xml::Document& answer) {
  return RowsAnswer(
      cn, "select cexch_name,cexch_code,bcal,idec,nerror,iotherused FROM foreigncurrency", answer);
}

bool CPubMsg::HlGet(host::Session& session, db::Connection& cn, xml::Node& func,
                    xml::Document& answer) {
  std::string name = SqlEscape(Text(func, "in/exchname"));
  std::optional<std::string> date = db::NormalizeDate(Text(func, "in/curdate"));
  std::string rate;
  bool known = !Exec(cn, "select * from foreigncurrency where cexch_name='" + name + "'").Eof();
  if (known && date) {
    db::Recordset mode =
        Exec(cn, "Select cValue From AccInformation Where cSysID='AA' and cName='iXchgRateStl'");
    bool period_mode = !mode.Eof() && Lower(Trim(mode.Text("cValue"))) == "true";
    std::string iso = date->substr(0, 10);
    std::string dotted = iso;
    std::replace(dotted.begin(), dotted.end(), '-', '.');
    db::Recordset period =
        Exec(cn, "Select iid from qdsystem..UA_period where cAcc_id='" +
                     SqlEscape(session.AccountId()) + "' and iyear=" + YearSql(session) +
                     " and dbegin<='" + iso + "' and dend>='" + iso + "'");
    if (!period.Eof()) {
      std::string p = frame::SqlNumber(period.Value("iid"));
      auto period_rate = [&] {
        db::Recordset rs = Exec(cn, "select * from exch where cexch_name='" + name +
                                        "' and itype=2 and iperiod=" + p + " and cdate=" + p +
                                        " order by cexch_name, itype, iperiod, cdate");
        return rs.Eof() ? std::string() : rs.Text("nFlat");
      };
      if (period_mode) {
        rate = period_rate();
      } else {
        db::Recordset daily =
            Exec(cn, "Select nflat from exch where cexch_name='" + name +
                         "' and itype=1 and iperiod=" + p + " and cdate='" + dotted + "'");
        rate = daily.Eof() || daily.Value("nflat").IsNull() ? period_rate() : daily.Text("nflat");
      }
    }
  }
  Load(answer, std::string(kDeclaration) + "<hl>" + XmlEscape(rate) + "</hl>");
  return true;
}

bool CPubMsg::SelectGet(host::Session&, db::Connection& cn, xml::Node& func,
                        xml::Document& answer) {
  db::Recordset rs = cn.ExecuteReadOnly(NormalizeSql(Text(func, "in/sql")));
  Load(answer, std::string(kDeclaration) + "<rows>" + frame::RowXml(rs) + "</rows>");
  return true;
}

bool CPubMsg::ReferCheck(host::Session&, db::Connection& cn, xml::Node& func,
                         xml::Document& answer) {
  std::string sql = func.Child("in").FirstChild().Attr("strsql");
  db::Recordset rs = cn.ExecuteReadOnly(NormalizeSql(sql));
  std::string attributes;
  if (rs.RecordCount() == 1) {
    rs.MoveFirst();
    for (int i = 0; i < rs.FieldCount(); ++i) {
      attributes += " " + XmlName(rs.Field(i).name) + "='" + XmlEscape(rs.Value(i).ToText()) + "' ";
    }
  }
  Load(answer, std::string(kDeclaration) + "<Rows " + attributes + " />");
  return true;
}

bool CPubMsg::AddLock(host::Session&, db::Connection&, xml::Node&, xml::Document&) { return true; }

// ---------------------------------------------------------------------------------------------
// References and user-defined fields.

bool CPubMsg::ItemRefer(host::Session& session, db::Connection& cn, xml::Node& func,
                        xml::Document& answer) {
  return Guarded("Q7.Rembiz.0086", [&] {
    xml::Node in = func.Child("in");
    std::string type = in.Attr("type");
    std::string name = in.Attr("name");
    std::string auth = in.Attr("auth");
    std::string match = in.Attr("match");
    std::string order = in.Attr("order");
    int64_t length = PageNumber(in.Attr("length"), 20);
    int64_t current = PageNumber(in.Attr("current"), 1);
    std::string lower = Lower(name);

    std::string condition = ReferenceAuthority(session, auth);
    if (!Trim(match).empty()) condition += " and (" + match + ")";
    std::unique_ptr<host::Lookup> lookup = host::CreateLookup();
    host::RefPage page;
    std::string title = lower;
    if (type != "sql" && type != "col" && lower.rfind("fitemss", 0) == 0) {
      std::string source = frame::ItemSourceSql(name.substr(7), cn);
      page = lookup->GetRefItemRst(cn, NormalizeSql(source), NormalizeSql(condition),
                                   NormalizeSql(order), length, current);
      title = "fitemss";
    } else {
      std::string source;
      if (type == "sql") {
        source = in.Attr("sql");
      } else if (type == "col") {
        frame::RequireSqlName(name, "reference table");
        std::vector<std::string> columns = Split(in.Attr("col"), ',');
        for (std::string& column : columns) {
          column = Trim(column);
          frame::RequireSqlName(column, "reference column");
        }
        std::string list;
        for (const std::string& column : columns) list += (list.empty() ? "" : ",") + column;
        source = "select " + (list.empty() ? std::string("*") : list) + " from " + name;
      } else if (lower == "cdefine") {
        source =
            "select cFieldName,cCaption,cDataType,iSource from Host_UserDefField where "
            "bEnabled=1";
      } else if (lower == "userdefine" || lower == "userdefineref") {
        std::string field = in.Attr("username");
        source = "select cID,cValue,cAlias from UserDefine";
        if (!field.empty()) source += " where cID='" + SqlEscape(field) + "'";
        title = "userdefine";
      } else if (lower == "gl_bdigest") {
        source = "select cCode,cDigest from gl_bdigest";
      } else if (lower == "fd_dwref") {
        source = "Select iid,cUnitCode,cUnitName,cMark,iType,accunit_id from fd_accunit ";
      } else if (lower == "userdef") {
        if (!UserDefineSource(in.Attr("source"))) Raise(kErrBusiness, "Q7.Rembiz.0336");
        std::unique_ptr<host::FreeFields> fields = host::CreateFreeFields();
        if (!fields->Init(cn)) Raise(kErrBusiness, "Q7.Rembiz.0086");
        if (!fields->GetRefSQL(in.Attr("username"), in.Attr("uservalue"), kUserDefineTable,
                               kUserDefineColumn, Split(in.Attr("rule"), ','), &source)) {
          Raise(kErrBusiness, "Q7.Rembiz.0336");
        }
        title = "userdefine";
      }
      if (Trim(source).empty()) Raise(kErrBusiness, "Q7.Rembiz.0336");
      // Wrapped, the conditions and the order apply to the reference's own columns whatever
      // its query looks like.
      std::string sql = "select * from (" + source + ") refsrc where" + condition;
      if (!Trim(order).empty()) sql += " order by " + order;
      page = lookup->GetRefStrRst(cn, NormalizeSql(sql), length, current);
    }
    if (page.count == 0) Raise(kErrBusiness, "Q7.Rembiz.0087");

    std::string mode;
    for (const host::RefColumn& column : lookup->GetTitleFormat(cn, title, page.rows)) {
      mode += "<col name='" + XmlEscape(column.name) + "' caption='" + XmlEscape(column.caption) +
              "' width='" + std::to_string(column.width) + "'/>";
    }
    Load(answer,
         std::string(kDeclaration) + "<page count='" + std::to_string(page.count) + "' current='" +
             std::to_string(page.current) + "' length='" + std::to_string(page.length) +
             "' type='" + XmlEscape(type) + "' name='" + XmlEscape(name) + "' match='" +
             XmlEscape(match) + "' order='" + XmlEscape(order) + "' auth='" + XmlEscape(auth) +
             "' flag='" + XmlEscape(in.Attr("flag")) + "' format='" + XmlEscape(in.Attr("format")) +
             "'><data>" + lookup->GetData(page.rows) + "</data><mode>" + mode + "</mode></page>");
    return true;
  });
}

bool CPubMsg::UserdefCheck(host::Session&, db::Connection& cn, xml::Node& func,
                           xml::Document& answer) {
  xml::Node in = func.Child("in");
  std::string value = in.Attr("value");
  if (!UserDefineSource(in.Attr("source"))) Raise(kErrBusiness, "Q7.Rembiz.0088");
  std::unique_ptr<host::FreeFields> fields = host::CreateFreeFields();
  if (!fields->Init(cn)) Raise(kErrBusiness, "Q7.Rembiz.0338");
  int result = fields->ValidateAr(in.Attr("name"), value, kUserDefineTable, kUserDefineColumn,
                                  Split(in.Attr("rule"), ','));
  auto refuse = [&](std::string_view key) {
    Load(answer, std::string(kDeclaration) + "<error><id>1</id><text>" +
                     XmlEscape(host::MessageText(key)) + "</text></error>");
    return true;
  };
  switch (result) {
    case host::FreeFields::kUnknownField:
    case host::FreeFields::kNotAllowed:
      return refuse("Q7.Rembiz.0089");
    case host::FreeFields::kBreaksRule:
      return refuse("Q7.Rembiz.0337");
    case host::FreeFields::kValid:
      Load(answer, std::string(kDeclaration) + "<success><id>0</id><text>" + XmlEscape(value) +
                       "</text></success>");
      return true;
    default:
      Raise(kErrBusiness, "Q7.Rembiz.0339");
  }
}

bool CPubMsg::UserdefData(host::Session&, db::Connection& cn, xml::Node& func,
                          xml::Document& answer) {
  return Guarded("Q7.Rembiz.0340", [&] {
    xml::Node in = func.Child("in");
    int64_t length = PageNumber(in.Attr("length"), 20);
    int64_t current = PageNumber(in.Attr("current"), 1);
    std::string name = in.Attr("name");
    std::string value = in.Attr("value");
    std::unique_ptr<host::Lookup> lookup = host::CreateLookup();
    std::string sql;
    std::string flag = "EC";
    if (Lower(name).find("cfree") != std::string::npos) {
      // Free items have their own lists; source, position and rule do not apply.
      if (!lookup->GetFreeRefSQL(name, value, &sql)) Raise(kErrBusiness, "Q7.Rembiz.0341");
    } else {
      std::string source = in.Attr("source");
      if (!UserDefineSource(source)) Raise(kErrBusiness, "Q7.Rembiz.0336");
      std::unique_ptr<host::FreeFields> fields = host::CreateFreeFields();
      if (!fields->Init(cn)) Raise(kErrBusiness, "Q7.Rembiz.0340");
      if (!fields->GetRefSQL(name, value, kUserDefineTable, kUserDefineColumn,
                             Split(in.Attr("rule"), ','), &sql)) {
        Raise(kErrBusiness, "Q7.Rembiz.0342");
      }
      flag += source + in.Attr("pos");
    }
    sql = NormalizeSql(sql);
    host::RefPage page = lookup->GetRefStrRst(cn, sql, length, current);
    std::string head, width;
    for (const host::RefColumn& column : lookup->GetTitleFormat(cn, "userdefine", page.rows)) {
      head += (head.empty() ? "" : ",") + column.caption;
      width += (width.empty() ? "" : ",") + std::to_string(column.width);
    }
    Load(answer, std::string(kDeclaration) + "<page count='" + std::to_string(page.count) +
                     "' current='" + std::to_string(page.current) + "' length='" +
                     std::to_string(page.length) + "' type='sql' name='" + XmlEscape(name) +
                     "' match='' order='' auth='0' flag='" + XmlEscape(flag) + "' sql='" +
                     XmlEscape(sql) + "' head='" + XmlEscape(head) + "' width='" +
                     XmlEscape(width) + "'><data>" + lookup->GetData(page.rows) + "</data></page>");
    return true;
  });
}

// ---------------------------------------------------------------------------------------------
// Column layouts, templates, print data and numbering.

bool CPubMsg::RptColumnGet(host::Session& session, db::Connection&, xml::Node& func,
                           xml::Document& answer) {
  return Guarded("Q7.Rembiz.0090", [&] {
    std::string key = Text(func, "in/key");
    if (key.empty()) Raise(kErrBusiness, "Q7.Rembiz.0090");
    std::string mode_text = Text(func, "in/mode");
    int64_t mode = mode_text.empty() ? 1 : RequireInteger(mode_text, "Q7.Rembiz.0090");
    if (mode < 0 || mode > 255) Raise(kErrBusiness, "Q7.Rembiz.0090");
    std::unique_ptr<host::GridLayout> grid = host::CreateGridLayout();
    grid->Init(session, session.ConnectionString(), true);
    Load(answer, std::string(kDeclaration) + grid->GetColInfo(key, static_cast<int>(mode)));
    return true;
  });
}

bool CPubMsg::RptColumnSet(host::Session& session, db::Connection&, xml::Node& func,
                           xml::Document& answer) {
  return Guarded("Q7.Rembiz.0091", [&] {
    std::unique_ptr<host::GridLayout> grid = host::CreateGridLayout();
    grid->Init(session, session.ConnectionString(), true);
    if (!grid->Save(InnerXmlOrText(func.Child("in")))) Raise(kErrBusiness, "Q7.Rembiz.0091");
    Load(answer, "<success/>");
    return true;
  });
}

bool CPubMsg::VchModuleListGet(host::Session& session, db::Connection& cn, xml::Node& func,
                               xml::Document& answer) {
  return Guarded("Q7.Rembiz.0092", [&] {
    std::string type = Text(func, "in/type");
    std::string kind_text = Text(func, "in/kind");
    int64_t kind = kind_text.empty() ? 0 : RequireInteger(kind_text, "Q7.Rembiz.0092");
    db::Recordset rs = Exec(cn,
                            "Select vt_id,vt_name,vt_cardnumber From VoucherTemplates Where "
                            "vt_cardnumber='" +
                                SqlEscape(type) + "' and vt_templatemode=" + std::to_string(kind) +
                                TemplateAuthority(session, type));
    Load(answer, std::string(kDeclaration) + "<rows>" + frame::RowXml(rs) + "</rows>");
    return true;
  });
}

bool CPubMsg::VchModuleGet(host::Session& session, db::Connection& cn, xml::Node& func,
                           xml::Document& answer) {
  return Guarded("Q7.Rembiz.0095", [&] {
    std::string type = Text(func, "in/type");
    std::string id_text = Text(func, "in/id");
    bool test = !Text(func, "in/test").empty();
    std::string authority = frame::RowAuthString(session, "djmb", type);
    int64_t id = 0;
    if (!id_text.empty()) {
      id = RequireInteger(id_text, "Q7.Rembiz.0094");
      if (authority == "1=2") Raise(kErrBusiness, "Q7.Rembiz.0094");
      if (!authority.empty()) {
        db::Recordset allowed = Exec(
            cn, "Select vt_id,vt_name,vt_cardnumber From VoucherTemplates Where vt_cardnumber='" +
                    SqlEscape(type) + "' and vt_id in (" + authority +
                    ") and vt_id=" + std::to_string(id));
        if (allowed.Eof()) Raise(kErrBusiness, "Q7.Rembiz.0094");
      }
    } else {
      db::Recordset first = Exec(
          cn, "Select top 1 vt_id,vt_cardnumber From VoucherTemplates Where vt_cardnumber='" +
                  SqlEscape(type) + "' and vt_templatemode=0" + TemplateAuthority(session, type));
      if (first.Eof()) {
        if (!test) Raise(kErrBusiness, "Q7.Rembiz.0093");
        Load(answer, "<Rows/>");
        return true;
      }
      if (test) {
        Load(answer, "<Rows>1</Rows>");
        return true;
      }
      id = first.Value("vt_id").ToInt();
    }
    db::Recordset fields = host::CreateFormLayout()->GetTemplateData2(cn, type, id);
    if (fields.Eof()) Raise(kErrBusiness, "Q7.Rembiz.0095");
    Load(answer, db::SaveXml(fields));
    return true;
  });
}

bool CPubMsg::VchFixedDataGet(host::Session&, db::Connection& cn, xml::Node& func,
                              xml::Document& answer) {
  return Guarded("Q7.Rembiz.0096", [&] {
    int64_t id = RequireInteger(Text(func, "in/id"), "Q7.Rembiz.0096");
    Load(answer, db::SaveXml(host::CreateFormLayout()->GetFixedData(cn, id)));
    return true;
  });
}

bool CPubMsg::VchLogoGet(host::Session&, db::Connection& cn, xml::Node&, xml::Document& answer) {
  return Guarded("Q7.Rembiz.0096", [&] {
    std::string logo = host::CreateFormLayout()->GetCompanyLogoImageData(cn);
    Load(answer, "<logo>" + XmlEscape(logo) + "</logo>");
    return true;
  });
}

bool CPubMsg::VchPrintDataGet(host::Session&, db::Connection& cn, xml::Node& func,
                              xml::Document& answer) {
  return Guarded("Q7.Rembiz.0097", [&] {
    db::Recordset rs = Exec(cn, "select top 1 formatxml from prn_format where moduleid='" +
                                    SqlEscape(Text(func, "in/key")) + "'");
    if (rs.Eof()) Raise(kErrBusiness, "Q7.Rembiz.0097");
    Load(answer, std::string(kDeclaration) + "<printset>" + XmlEscape(rs.Text("formatxml")) +
                     "</printset>");
    return true;
  });
}

bool CPubMsg::VchPrintDataSet(host::Session&, db::Connection& cn, xml::Node& func,
                              xml::Document& answer) {
  return Guarded("Q7.Rembiz.0098", [&] {
    std::string key = SqlEscape(Text(func, "in/key"));
    if (key.empty()) Raise(kErrBusiness, "Q7.Rembiz.0098");
    std::string printset = SqlEscape(InnerXmlOrText(func.SelectSingleNode("in/printset")));
    if (Exec(cn, "select top 1 * from prn_format where moduleid='" + key + "'").Eof()) {
      Exec(cn,
           "insert into prn_format (moduleid,formatxml) values ('" + key + "','" + printset + "')");
    } else {
      Exec(cn, "update prn_format set formatxml='" + printset + "' where moduleid='" + key + "'");
    }
    Load(answer, "<success/>");
    return true;
  });
}

bool CPubMsg::VchNoFormatGet(host::Session&, db::Connection& cn, xml::Node& func,
                             xml::Document& answer) {
  return Guarded("Q7.Rembiz.0109", [&] {
    if (!answer.LoadXml(host::BillFormatXml(cn, Text(func, "in/type")))) {
      Raise(kErrBusiness, "Q7.Rembiz.0100");
    }
    return true;
  });
}

bool CPubMsg::VchNoGet(host::Session&, db::Connection& cn, xml::Node& func, xml::Document& answer) {
  return Guarded("Q7.Rembiz.0108", [&] {
    std::string type = Text(func, "in/type");
    xml::Node take = func.SelectSingleNode("in/true");
    bool flag = take ? frame::ToBool(db::Variant(take.Text())) : false;
    xml::Node head = func.SelectSingleNode("in/voucher/rs:data/z:row");
    if (!head) head = func.SelectSingleNode("in/voucher/head/z:row");
    std::string number = host::VoucherNumber(
        cn, type, [&](std::string_view field) { return head.Attr(field); }, flag);
    host::AnswerNumber(answer, number);
    return true;
  });
}

// ---------------------------------------------------------------------------------------------
// Voucher reads of the loan and claim classes. Their failures are the request's: they end in
// the handler's error document.

bool CPubMsg::Forward(std::unique_ptr<frame::BusinessObject>& object, std::string_view prog_id,
                      std::string_view procedure, host::Session& session, db::Connection& cn,
                      xml::Node& func, xml::Document& answer) {
  if (!object) object = frame::CreateObject(prog_id);
  return object->InvokePublic(procedure, session, cn, func, answer);
}

bool CPubMsg::VchGetLoanHeadData(host::Session& session, db::Connection& cn, xml::Node& func,
                                 xml::Document& answer) {
  return Forward(loan_, "Rembiz.CLoan", "GetVoucherHead", session, cn, func, answer);
}

bool CPubMsg::VchGetLoanBodyData(host::Session& session, db::Connection& cn, xml::Node& func,
                                 xml::Document& answer) {
  return Forward(loan_, "Rembiz.CLoan", "GetVoucherBody", session, cn, func, answer);
}

bool CPubMsg::VchGetExpenHeadData(host::Session& session, db::Connection& cn, xml::Node& func,
                                  xml::Document& answer) {
  return Forward(expense_, "Rembiz.CExpense", "GetVoucherHead", session, cn, func, answer);
}

bool CPubMsg::VchGetExpenBodyData(host::Session& session, db::Connection& cn, xml::Node& func,
                                  xml::Document& answer) {
  return Forward(expense_, "Rembiz.CExpense", "GetVoucherBody", session, cn, func, answer);
}

bool CPubMsg::VchGetExpenLoanData(host::Session& session, db::Connection& cn, xml::Node& func,
                                  xml::Document& answer) {
  // Without a claimant the read answers the claim's links alone, each within the data
  // permissions of the claim and of the loans, as the claim class reads them.
  xml::Node in = func.Child("in");
  if (in) in.RemoveAttr("strLoanID");
  return Forward(expense_, "Rembiz.CExpense", "GetLoanInfo", session, cn, func, answer);
}

bool CPubMsg::VchGetHistory(host::Session& session, db::Connection& cn, xml::Node& func,
                            xml::Document& answer) {
  // The claim class finds loans and claims alike.
  return Forward(expense_, "Rembiz.CExpense", "GetVouchHistory", session, cn, func, answer);
}

namespace {
const frame::ClassRegistrar kRegistrar("Rembiz.CPubMsg",
                                       [] { return std::make_unique<CPubMsg>(); });
}  // namespace

}  // namespace rembiz::pubinfo
