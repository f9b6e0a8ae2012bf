#include "reports/c_report_plugins.h"

#include "db/text.h"
#include "frame/convert.h"
#include "frame/frame.h"
#include "frame/registry.h"
#include "frame/sql_helpers.h"
#include "host/messages.h"
#include "reports/voucher_sources.h"

namespace rembiz::reports {
namespace {

using frame::NormalizeSql;

const frame::ClassRegistrar kJktj("Rembiz.CReportJKTJ",
                                  [] { return std::make_unique<CReportJKTJ>(); });
const frame::ClassRegistrar kSztj("Rembiz.CReportSZTJ",
                                  [] { return std::make_unique<CReportSZTJ>(); });

// A yes/no column as the texts of "Q7.Rembiz.0022" and "Q7.Rembiz.0023".
std::string YesNo(const std::string& when_yes, const std::string& name) {
  return "(case when " + when_yes + " then " + db::SqlText(host::MessageText("Q7.Rembiz.0022")) +
         " else " + db::SqlText(host::MessageText("Q7.Rembiz.0023")) + " end) as " + name;
}

// Whether a text column is filled ("approved", "made").
std::string Filled(const std::string& column) { return "isnull(" + column + ",'')<>''"; }

// The columns both plug-ins show of a voucher's approval and ledger state.
std::string StateColumns() {
  return "ec_vch.strauditorid," + YesNo(Filled("ec_vch.strauditorid"), "bauditorid") +
         ",ec_vch.strmakerid," + YesNo(Filled("ec_vch.strmakerid"), "bmarkid");
}

}  // namespace

void ReportPluginBase::myHandle(host::Session*, xml::Document& oXml) {
  frame::LoadProcedureError(oXml, ClassName(), "myHandle", 438,
                            "Object doesn't support this property or method");
}

std::string ReportPluginBase::TempTablename() {
  table_ = frame::TempName();
  return "tempdb.." + table_;
}

bool ReportPluginBase::MoveDataDetail() {
  std::string detail = DetailQuery();
  if (detail.empty()) return false;
  db::Connection& cn = *mconn;
  if (table_.empty()) TempTablename();
  frame::DropTempTable(cn, table_);
  cn.Execute("select * into tempdb.." + table_ + " from(" + detail + ")a");
  return true;
}

std::string ReportPluginBase::DetailQuery() {
  if (!mconn || !objLogin) return "";
  db::Connection& cn = *mconn;
  if (!cn.IsOpen()) cn.Open(NormalizeSql(ConnectionString));

  // The user's filter is not part of the detail: the engine applies it when it reads the rows,
  // outside the operator's rights and as a free query.
  std::string users = frame::RowAuthString(*objLogin, "USER");
  std::string rights;
  if (users == "1=2") {
    rights = " and 1=2";
  } else if (!users.empty()) {
    rights = " and strpersonid in(" + users + ")and strauditorid in(" + users +
             ")and strmakerid in(" + users + ")";
  }
  std::string detail = "(select " + DetailColumns() + " from " +
                       DetailFrom(frame::DataAuthFilter(*objLogin, HeadTable(), "False"), cn) +
                       ")a";
  return NormalizeSql("select * from" + detail + " where 1=1" + rights);
}

const std::string& CReportJKTJ::ClassName() const {
  static const std::string name = "CReportJKTJ";
  return name;
}

std::string CReportJKTJ::DetailColumns() const {
  return DateColumn("ec_vch.dtloandate", "dtloandate") +
         ",ec_vch.strdepartid,department.cdepname as strdepartname,ec_vch.strloanid,"
         "personloan.cpersonname as strloanname,ec_vch.stritemclassid,fitem.citem_name as "
         "stritemclassname,ec_vch.stritemid,fitems.citemname as stritemname," +
         DateColumn("ec_vch.dtexpdate", "dtexpdate") +
         ",ec_vch.strbuditemid,BG_Item.citemname as strbuditemname,ec_vch.strpersonid,"
         "ec_vchs.strbalanceid,settlestyle.cssname as strbalancename,ec_vchs.strpaybankid,"
         "bank.cbname as strpaybankname,bank.cbaccount as strpayaccount,ec_vchs.strbankname,"
         "ec_vchs.strbankacc,ec_vch.strtypecode,EC_OperationType.strname as strtypename,"
         "ec_vch.strvouchid,ec_vch.strbill,ec_vchs.dblmoney,ec_vch.strused,(case "
         "isnull(ec_vchs.dblmoney,0) when 0 then 0 else isnull(ec_vchs.dblmoney,0)-"
         "isnull(ec_vchs.dblreturn,0) end) as dbllack," +
         StateColumns() + "," + YesNo("ec_vchs.blnsettle=1", "blnsettle") + "," +
         YesNo("ec_vch.intbudpass=1", "bbudpass") + ",1 as intnum";
}

std::string CReportJKTJ::DetailFrom(const std::string& heads, db::Connection& cn) const {
  return "ec_loanvouch_sub ec_vchs join " + heads + " ec_vch on (ec_vchs.mguid=ec_vch.guid)" +
         NameJoins("ec_vch", frame::ItemSourceSql("", cn)) +
         " left join settlestyle on (settlestyle.csscode=ec_vchs.strbalanceid) left join bank on "
         "(bank.cbcode=ec_vchs.strpaybankid)";
}

const std::string& CReportSZTJ::ClassName() const {
  static const std::string name = "CReportSZTJ";
  return name;
}

std::string CReportSZTJ::DetailColumns() const {
  return DateColumn("ec_vch.dtloandate", "dtloandate") +
         ",ec_vch.strtypecode,EC_OperationType.strname as strtypename,ec_vch.strdepartid,"
         "department.cdepname as strdepartname,ec_vch.strloanid,personloan.cpersonname as "
         "strloanname,standa.strEIName as strloanclass,ec_vch.stritemclassid,fitem.citem_name as "
         "stritemclassname,ec_vch.stritemid,fitems.citemname as stritemname,ec_vchs.strezero,"
         "EC_Position.strPositionName as strezeroname,standb.strEIName as strezeroclass,"
         "ec_vchs.strjttools,standc.strEIName as strjttoolsname,ec_vchs.strioitem,"
         "EC_IOItem.strname as strioitemname,ec_vch.strbuditemid,BG_Item.citemname as "
         "strbuditemname,ec_vch.strpersonid,ec_vch.strvouchid,ec_vch.strbill,ec_vchs.dblmoney," +
         StateColumns() + "," + YesNo("ec_vch.intbudpass=1", "bbudpass") + "," +
         YesNo("ec_vch.blnaudi=1", "blnaudi");
}

std::string CReportSZTJ::DetailFrom(const std::string& heads, db::Connection& cn) const {
  // Rows reach the report only with a head the operator may see.
  return "ec_expenvouch_sub ec_vchs join " + heads + " ec_vch on (ec_vchs.mguid=ec_vch.guid)" +
         NameJoins("ec_vch", frame::ItemSourceSql("", cn)) +
         " left join EC_PersonCtrl on (EC_PersonCtrl.strPersonCode=ec_vch.strloanid)"
         " left join EC_EISet_NUStand standa on (standa.intEICode=1 and "
         "standa.strEICode=EC_PersonCtrl.strGradeID)"
         " left join EC_Position on (EC_Position.strPositionCode=ec_vchs.strezero)"
         " left join EC_EISet_NUStand standb on (standb.intEICode=2 and "
         "standb.strEICode=EC_Position.strGradeID)"
         " left join EC_EISet_NUStand standc on (standc.intEICode=3 and "
         "standc.strEICode=ec_vchs.strjttools)"
         " left join EC_IOItem on (EC_IOItem.strcode=ec_vchs.strioitem)";
}

}  // namespace rembiz::reports
