#include "host/ledger.h"

#include <cmath>
#include <cstdio>
#include <set>

#include "db/text.h"
#include "host/errors.h"
#include "host/service_sql.h"

namespace rembiz::host {
namespace {

// "Operation is not allowed when the object is closed."
constexpr int32_t kErrObjectClosed = static_cast<int32_t>(0x800A0E78);

// Lines of an outside voucher that the ledger takes: those with an amount.
constexpr const char* kWithAmount = " where isnull(md,0)<>0 or isnull(mc,0)<>0";

// The columns the ledger copies from a staged line, in GL_accvouch's names.
constexpr const char* kCopiedColumns =
    "dbill_date, idoc, cbill, ctext1, ctext2, cdigest, ccode, cexch_name, md, mc, md_f, mc_f, "
    "nfrat, nd_s, nc_s, csettle, cn_id, dt_date, cdept_id, cperson_id, ccus_id, csup_id, "
    "citem_id, citem_class, cname, ccode_equal, coutaccset, ioutyear, coutsysver, doutbilldate, "
    "ioutperiod, coutsign, coutno_id, doutdate, coutbillsign, coutid, cDefine1, cDefine2, "
    "cDefine3, cDefine4, cDefine5, cDefine6, cDefine7, cDefine8, cDefine9, cDefine10, cDefine11, "
    "cDefine12, cDefine13, cDefine14, cDefine15, cDefine16";

std::string Money(double value) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.2f", value);
  return buf;
}

// A staging table in tempdb, by its bare or "tempdb.."-prefixed name.
std::string StagingName(std::string_view table) {
  std::string name(table);
  if (db::Lower(name).rfind("tempdb..", 0) == 0) name = name.substr(8);
  if (!db::IsSqlName(name)) {
    throw ComError(db::kErrInvalidRequest, "Invalid staging table name '" + name + "'.", "Ledger");
  }
  return "tempdb.." + name;
}

int YearOf(const Session& session) {
  std::string year = session.FiscalYear();
  bool digits = !year.empty() && year.size() <= 4;
  for (char c : year) digits = digits && c >= '0' && c <= '9';
  if (!digits) {
    throw ComError(db::kErrInvalidRequest, "Invalid fiscal year '" + year + "'.", "Ledger");
  }
  return std::stoi(year);
}

}  // namespace

db::Connection& LedgerDb::Connection() const {
  if (!cn_) throw ComError(kErrObjectClosed, "The ledger database is not open.", "LedgerDb");
  return *cn_;
}

std::string LedgerVoucher::Code() const {
  return sign + "-" + std::to_string(period) + "-" + std::to_string(number);
}

db::Connection& LedgerCommon::Cn() const {
  if (!database_) {
    throw ComError(kErrObjectClosed, "The ledger services are not initialised.", "LedgerCommon");
  }
  return database_->Connection();
}

int LedgerCommon::SignSequence(std::string_view sign) const {
  db::Recordset rs = Cn().Execute("select isignseq from dsign where csign = " + SqlText(sign));
  if (sign.empty() || rs.Eof()) Raise(kErrBusiness, "Rembiz.Host.LedgerNoSign", sign);
  return static_cast<int>(rs.Value("isignseq").ToInt());
}

int LedgerCommon::PeriodOfDate(const Session& session, std::string_view date) const {
  std::string day(date.substr(0, 10));
  db::Recordset rs =
      Cn().Execute("select iid from qdsystem..ua_period where (" + SqlText(day) +
                   " between dbegin and dend) and iYear = " + std::to_string(YearOf(session)) +
                   " and cacc_id = " + SqlText(session.AccountId()) + " and bisdelete = 0");
  return rs.Eof() ? 0 : static_cast<int>(rs.Value("iid").ToInt());
}

int LedgerCommon::LastClosedPeriod() const {
  db::Recordset rs = Cn().Execute("select max(iperiod) as iperiod from gl_mend where bflag=1");
  return rs.Eof() ? 0 : static_cast<int>(rs.Value("iperiod").ToInt());
}

bool LedgerCommon::IsPostingAccount(std::string_view code) const {
  return !Cn().Execute("select ccode from code where be = 1 and ccode = " + SqlText(code)).Eof();
}

LedgerVoucher LedgerCommon::SaveOutVoucher(const Session& session,
                                           std::string_view staging_table) const {
  db::Connection& cn = Cn();
  const std::string table = StagingName(staging_table);
  db::Recordset lines =
      cn.Execute("select inid, csign, dbill_date, coutno_id, ccode, md, mc from " + table +
                 kWithAmount + " order by inid");
  if (lines.Eof()) Raise(kErrBusiness, "Rembiz.Host.LedgerEmpty");

  const std::string sign = lines.Text("csign");
  const std::string date = lines.Text("dbill_date").substr(0, 10);
  const std::string link = lines.Text("coutno_id");
  double debit = 0;
  double credit = 0;
  std::set<std::string> accounts;
  for (; !lines.Eof(); lines.MoveNext()) {
    if (lines.Text("csign") != sign || lines.Text("dbill_date").substr(0, 10) != date ||
        lines.Text("coutno_id") != link) {
      Raise(kErrBusiness, "Rembiz.Host.LedgerMixed");
    }
    std::string code = lines.Text("ccode");
    if (code.empty()) Raise(kErrBusiness, "Rembiz.Host.LedgerNoAccount", lines.Text("inid"));
    accounts.insert(code);
    debit += lines.Value("md").ToDouble();
    credit += lines.Value("mc").ToDouble();
  }
  for (const std::string& code : accounts) {
    if (!IsPostingAccount(code)) Raise(kErrBusiness, "Rembiz.Host.LedgerNotPosting", code);
  }
  LedgerVoucher voucher;
  voucher.sign = sign;
  voucher.sign_seq = SignSequence(sign);
  voucher.period = PeriodOfDate(session, date);
  if (voucher.period == 0) Raise(kErrBusiness, "Rembiz.Host.LedgerNoPeriod", date);
  if (voucher.period <= LastClosedPeriod()) {
    Raise(kErrBusiness, "Rembiz.Host.LedgerClosed", std::to_string(voucher.period));
  }
  if (std::fabs(debit - credit) >= 0.005) {
    Raise(kErrBusiness, "Rembiz.Host.LedgerUnbalanced", Money(debit), Money(credit));
  }

  // Numbers run per sign and period; void vouchers keep theirs.
  const std::string year = std::to_string(YearOf(session));
  const std::string where_voucher = " where iyear = " + year +
                                    " and iperiod = " + std::to_string(voucher.period) +
                                    " and csign = " + SqlText(sign);
  db::Recordset last =
      cn.Execute("select isnull(max(ino_id),0) as n from GL_accvouch" + where_voucher);
  voucher.number = static_cast<int>(last.Value("n").ToInt()) + 1;
  cn.Execute(
      "insert into GL_accvouch (iyear, iperiod, csign, isignseq, ino_id, inid, "
      "coutsysname, " +
      std::string(kCopiedColumns) + ") select " + year + ", " + std::to_string(voucher.period) +
      ", " + SqlText(sign) + ", " + std::to_string(voucher.sign_seq) + ", " +
      std::to_string(voucher.number) + ", row_number() over (order by inid), " +
      SqlText(db::Lower(SystemId())) + ", " + kCopiedColumns + " from " + table + kWithAmount);
  return voucher;
}

std::optional<LedgerVoucher> LedgerCommon::FindOutVoucher(std::string_view link_id) const {
  db::Recordset rs = Cn().Execute(
      "select top 1 csign, iperiod, ino_id, isignseq from GL_accvouch where coutsysname = " +
      SqlText(db::Lower(SystemId())) + " and coutno_id = " + SqlText(link_id) +
      " and isnull(iflag,0) <> 1");
  if (rs.Eof()) return std::nullopt;
  LedgerVoucher voucher;
  voucher.sign = rs.Text("csign");
  voucher.period = static_cast<int>(rs.Value("iperiod").ToInt());
  voucher.number = static_cast<int>(rs.Value("ino_id").ToInt());
  voucher.sign_seq = static_cast<int>(rs.Value("isignseq").ToInt());
  return voucher;
}

}  // namespace rembiz::host
