#include "reports/c_report.h"

#include <cctype>
#include <chrono>
#include <cstdio>
#include <limits>
#include <map>
#include <optional>
#include <vector>

#include "db/text.h"
#include "frame/convert.h"
#include "frame/registry.h"
#include "frame/request.h"
#include "frame/sql_helpers.h"
#include "host/ageing.h"
#include "host/errors.h"
#include "host/messages.h"
#include "reports/paging.h"
#include "reports/report_dimensions.h"
#include "reports/voucher_sources.h"

namespace rembiz::reports {
namespace {

using frame::NormalizeSql;
using frame::XmlEscape;
using host::MessageText;

constexpr frame::FrameVariant kVariant{
    .class_name = "CReport",
    .task_code = "",
    .entry_task = frame::EntryTask::kPerOperation,
    .transactions = frame::Transactions::kNone,
    .error_form = frame::ErrorForm::kQueryReport,
    .busy_message = false,
};

// The ageing periods and the ageing analysis are one right of the menu ("EC0402").
constexpr frame::OperationEntry kOperations[] = {
    frame::Op<&CReport::LoanAlertData>("loanalertdata", frame::kReadsOnly, "EC0401"),
    frame::Op<&CReport::AgeGet>("ageget", 0, "EC0402"),
    frame::Op<&CReport::AgeSet>("ageset", 0, "EC0402"),
    frame::Op<&CReport::LoanAgeData>("loanagedata", frame::kReadsOnly, "EC0402"),
    frame::Op<&CReport::typeCollectData>("typecollectdata", 0, "EC0404"),
};

const frame::ClassRegistrar kRegistrar("Rembiz.CReport",
                                       [] { return std::make_unique<CReport>(); });

// A work table in tempdb for the length of one analysis.
class WorkTable {
 public:
  WorkTable(db::Connection& cn, std::string_view columns)
      : cn_(cn), name_(frame::CreateTempTable(cn, columns)) {}
  ~WorkTable() { frame::DropTempTable(cn_, name_); }
  WorkTable(const WorkTable&) = delete;
  WorkTable& operator=(const WorkTable&) = delete;
  std::string Qualified() const { return "tempdb.." + name_; }

 private:
  db::Connection& cn_;
  std::string name_;
};

std::string Attr(std::string_view name, std::string_view value) {
  return " " + std::string(name) + "='" + XmlEscape(value) + "'";
}

std::string Column(std::string_view name, std::string_view text, int width, std::string_view align,
                   bool total = false) {
  return "<row" + Attr("name", name) + Attr("text", text) + Attr("width", std::to_string(width)) +
         Attr("align", align) + (total ? " total='1'" : "") + "/>";
}

// Amounts and rates are shown with two decimals, as decimal(18, 2) and decimal(5, 2) give them.
std::string Money(double value) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.2f", value + 0.0);
  return std::string(buffer) == "-0.00" ? "0.00" : buffer;
}

// A group's record: its class, code and names, as the work table's name joins give them.
std::string GroupAttrs(const Dimension& dimension, const db::Recordset& rs) {
  std::string out;
  if (dimension.item) {
    out += Attr("cclasscode", rs.Text("cclasscode")) + Attr("cclassname", rs.Text("cclassname"));
  }
  return out + Attr("ccode", rs.Text("ccode")) + Attr("cname", rs.Text("cname"));
}

std::string GroupIdentity(const Dimension& dimension, const db::Recordset& rs, bool currency) {
  std::string id = dimension.item ? rs.Text("cclasscode") + '\x1f' : std::string();
  id += rs.Text("ccode");
  if (currency) id += '\x1f' + rs.Text("cexchname");
  return id;
}

// An operation type code as part of a column name: letters, digits and underscores only.
std::string ColumnSuffix(std::string code) {
  for (char& c : code) {
    if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '_')) c = '_';
  }
  return code;
}

// ---------------------------------------------------------------------------------------------
// Ageing periods of a request: in/age/age/row, each with its upper bound `cdays` and a name.
// The first period reaches down to the youngest loans; a last period without a bound takes
// every older one. Bounds must grow; only the last may be empty.

struct AgePeriod {
  std::optional<int64_t> days;
  std::string name;
};

std::vector<AgePeriod> RequestPeriods(const xml::Node& func) {
  std::vector<AgePeriod> periods;
  xml::NodeList rows = func.SelectNodes("in/age/age/row");
  if (rows.empty()) Raise(kErrBusiness, "Q7.Rembiz.0133");
  std::optional<int64_t> previous;
  for (size_t i = 0; i < rows.size(); ++i) {
    AgePeriod period;
    period.name = rows[i].HasAttr("name") ? rows[i].Attr("name") : rows[i].Attr("cname");
    std::string days = db::Trim(rows[i].Attr("cdays"));
    if (days.empty()) {
      if (i + 1 != rows.size()) Raise(kErrBusiness, "Q7.Rembiz.0133");
    } else {
      bool digits = days.size() <= 6 && days.find_first_not_of("0123456789") == std::string::npos;
      if (!digits) Raise(kErrBusiness, "Q7.Rembiz.0133");
      period.days = std::stoll(days);
      if (previous && *period.days <= *previous) Raise(kErrBusiness, "Q7.Rembiz.0133");
      previous = period.days;
    }
    periods.push_back(std::move(period));
  }
  return periods;
}

// The cut-off date of the analysis (loans dated before it count). Without one the analysis is
// taken at the end of the business date, the day after it, so that today's loans count.
std::string CutOff(host::Session& session, const xml::Node& func) {
  std::string text = db::Trim(func.SelectSingleNode("in/type/row[@name='dtdate']").Attr("value"));
  const bool given = !text.empty();
  std::optional<std::string> date = db::NormalizeDate(given ? text : session.LoginDate());
  if (!date) Raise(kErrBusiness, "Q7.Rembiz.0137");
  if (given) return date->substr(0, 10);
  namespace chrono = std::chrono;
  const chrono::year_month_day today{
      chrono::year{std::stoi(date->substr(0, 4))},
      chrono::month{static_cast<unsigned>(std::stoi(date->substr(5, 2)))},
      chrono::day{static_cast<unsigned>(std::stoi(date->substr(8, 2)))}};
  const chrono::year_month_day next{chrono::sys_days{today} + chrono::days{1}};
  char out[16];
  std::snprintf(out, sizeof out, "%04d-%02u-%02u", static_cast<int>(next.year()),
                static_cast<unsigned>(next.month()), static_cast<unsigned>(next.day()));
  return out;
}

std::string AgeingFormat(const Dimension& dimension, const std::vector<AgePeriod>& periods) {
  std::string amount = MessageText("Q7.Rembiz.Web.0631");
  std::string rate = MessageText("Q7.Rembiz.0378") + "(％)";
  std::string out = "<rows>" + dimension.GroupFormat();
  for (size_t i = 0; i < periods.size(); ++i) {
    std::string n = std::to_string(i + 1);
    out += "<row name=''" + Attr("text", periods[i].name) + " printname='imoney" + n + ",irate" +
           n + "'" + Attr("printtext", amount + "," + rate) + ">" +
           Column("imoney" + n, amount, 1200, "right", true) +
           Column("irate" + n, rate, 1200, "right") + "</row>";
  }
  return out + Column("imoney", MessageText("Q7.Rembiz.0132"), 1500, "right", true) + "</rows>";
}

// One record of the ageing: the group's total and, per period, the amount and its share.
std::string AgeingRow(const std::string& group, const std::vector<AgePeriod>& periods,
                      const std::vector<std::pair<int64_t, double>>& ages) {
  double total = 0;
  for (const auto& [age, lack] : ages) total += lack;
  std::string out = "<row" + group;
  for (size_t i = 0; i < periods.size(); ++i) {
    int64_t lower = i == 0 ? std::numeric_limits<int64_t>::min() : *periods[i - 1].days;
    int64_t upper = periods[i].days.value_or(std::numeric_limits<int64_t>::max());
    double amount = 0;
    for (const auto& [age, lack] : ages) {
      if (age > lower && age <= upper) amount += lack;
    }
    std::string n = std::to_string(i + 1);
    out += Attr("imoney" + n, Money(amount)) +
           Attr("irate" + n, Money(total == 0 ? 0 : amount * 100 / total));
  }
  return out + Attr("imoney", Money(total)) + "/>\r\n";
}

}  // namespace

const frame::FrameVariant& CReport::Variant() const { return kVariant; }
std::span<const frame::OperationEntry> CReport::Operations() const { return kOperations; }

bool CReport::LoanAlertData(host::Session& session, db::Connection& cn, xml::Node& func,
                            xml::Document& answer) {
  return WithFailureKey("Q7.Rembiz.0127", [&] {
    PagedQuery query;
    std::string loans = frame::DataAuthFilter(session, "ec_loanvouch", "True");
    query.from = loans + NameJoins("ec_loanvouch", RequestItems(func, cn));
    query.where = UserFilter(func);
    query.key = "ec_loanvouch.autoid";
    query.unique_key = true;
    if (FilterOnlyOn(func, "ec_loanvouch")) query.key_from = loans;
    query.columns =
        "EC_OperationType.strname as strtypename,ec_loanvouch.strvouchid+(case when "
        "ec_loanvouch.blnbegin='1' then '*' else '' end) as strvouchid," +
        DateColumn("ec_loanvouch.dtloandate", "dtloandate") +
        ",ec_loanvouch.strused,department.cdepname as strdepartname,personloan.cpersonname as "
        "strloanname," +
        DateColumn("ec_loanvouch.dtexpdate", "dtexpdate") +
        ",BG_Item.citemname as strbuditemname,ec_loanvouch.strbill,ec_loanvouch.dblmoney,"
        "(isnull(ec_loanvouch.dblmoney,0)-isnull(ec_loanvouch.dblreturn,0)) as dbllack,"
        "fitem.citem_name as stritemclassname,fitems.citemname as stritemname,"
        "ec_loanvouch.autoid,ec_loanvouch.guid,ec_loanvouch.strtypecode,ec_loanvouch.strdepartid,"
        "ec_loanvouch.strloanid,ec_loanvouch.strbuditemid,ec_loanvouch.stritemclassid,"
        "ec_loanvouch.stritemid";
    Page page;
    db::Recordset rows = RunPage(cn, query, ReadPageRequest(func), &page);
    answer.LoadXml(Envelope(page, frame::RowXml(rows)));
    return true;
  });
}

bool CReport::AgeGet(host::Session&, db::Connection& cn, xml::Node& func, xml::Document& answer) {
  return WithFailureKey("Q7.Rembiz.0128", [&] {
    std::string type = frame::InText(func, "agetype");
    std::string text;
    // The page is told the operation's own text, whatever the service refused.
    try {
      text = host::CreateAgeing()->getAge(cn, "EC", type);
    } catch (const ComError&) {
      Raise(kErrBusiness, "Q7.Rembiz.0128");
    }
    if (!answer.LoadXml("<?xml version=\"1.0\" encoding=\"utf-8\"?>" + text)) {
      Raise(kErrBusiness, "Q7.Rembiz.0128");
    }
    return true;
  });
}

bool CReport::AgeSet(host::Session&, db::Connection& cn, xml::Node& func, xml::Document& answer) {
  return WithFailureKey("Q7.Rembiz.0129", [&] {
    xml::Node age = func.SelectSingleNode("in/age");
    if (!age) Raise(kErrBusiness, "Q7.Rembiz.0129");
    // The page is told the operation's own text; the service's reason is for callers of the
    // service itself.
    try {
      host::CreateAgeing()->SaveAge(cn, "EC", age.Xml());
    } catch (const ComError&) {
      Raise(kErrBusiness, "Q7.Rembiz.0129");
    }
    answer.LoadXml("<success/>");
    return true;
  });
}

bool CReport::LoanAgeData(host::Session& session, db::Connection& cn, xml::Node& func,
                          xml::Document& answer) {
  return WithFailureKey("Q7.Rembiz.0137", [&] {
    std::vector<AgePeriod> periods = RequestPeriods(func);
    std::string cutoff = db::SqlText(CutOff(session, func));
    Dimension dimension = RequestDimension(func, "ec_loanvouch", false, cn);

    // The groups' outstanding amounts per loan date, numbered in the order of their keys: read
    // straight, without a work table, so that the analysis writes nothing (a read replica can
    // answer it).
    const std::string order =
        (dimension.item ? "loan.cclasscode," : "") + std::string("loan.ccode,loan.dtloandate");
    const std::string grouped =
        "(select loan.*,row_number() over (order by " + order + ") as autoid from(select " +
        dimension.SelectGroup() +
        ",ec_loanvouch.dtloandate as dtloandate,sum(isnull(ec_loanvouch.dblmoney,0)-"
        "isnull(ec_loanvouch.dblreturn,0)) as dbllack from " +
        frame::DataAuthFilter(session, "ec_loanvouch", "True") + dimension.source_joins +
        NameJoins("ec_loanvouch", RequestItems(func, cn)) + " where " + UserFilter(func) +
        // A draft owes nothing yet: only submitted loans are counted.
        dimension.NotNull() + " and ec_loanvouch.blnaudi=1 and ec_loanvouch.dtloandate<" + cutoff +
        " group by " + dimension.GroupColumns() + ",ec_loanvouch.dtloandate)loan where dbllack<>0)";

    PagedQuery query;
    query.from = grouped + " w" + dimension.name_joins;
    query.where = "1=1";
    query.key = dimension.WorkKey();
    query.text_key = true;
    query.columns =
        (dimension.item ? "w.cclasscode," + dimension.class_name + " as cclassname," : "") +
        std::string("w.ccode,") + dimension.name +
        " as cname,w.dbllack,datediff(day,w.dtloandate," + cutoff + ") as iage,w.autoid";
    query.order = (dimension.item ? "w.cclasscode," : "") + std::string("w.ccode,w.autoid");
    Page page;
    db::Recordset rs = RunPage(cn, query, ReadPageRequest(func), &page);

    std::string data, group, current;
    std::vector<std::pair<int64_t, double>> ages;
    for (rs.MoveFirst(); !rs.Eof(); rs.MoveNext()) {
      std::string id = GroupIdentity(dimension, rs, false);
      if (id != current && !ages.empty()) {
        data += AgeingRow(group, periods, ages);
        ages.clear();
      }
      current = id;
      group = GroupAttrs(dimension, rs);
      ages.emplace_back(rs.Value("iage").ToInt(), rs.Value("dbllack").ToDouble());
    }
    if (!ages.empty()) data += AgeingRow(group, periods, ages);
    answer.LoadXml(Envelope(page, data, AgeingFormat(dimension, periods)));
    return true;
  });
}

bool CReport::typeCollectData(host::Session& session, db::Connection& cn, xml::Node& func,
                              xml::Document& answer) {
  return WithFailureKey("Q7.Rembiz.0145", [&] {
    std::string source =
        db::Trim(func.SelectSingleNode("in/type/row[@name='strtype']").Attr("value"));
    bool currency =
        db::Trim(func.SelectSingleNode("in/type/row[@name='strshow']").Attr("value")) == "1";
    Family family = Family::kBoth;
    std::string types;
    if (source == "0") {
      family = Family::kLoans;
    } else if (source == "1") {
      family = Family::kClaims;
    } else if (source == "2") {
      for (const xml::Node& row : func.SelectNodes("in/type/row[@name='code']")) {
        std::string code = db::Trim(row.Attr("value"));
        if (!code.empty()) types += (types.empty() ? "" : ",") + db::SqlText(code);
      }
      if (types.empty()) Raise(kErrBusiness, "Q7.Rembiz.0044");
      types = " and ec_vch.strtypecode in(" + types + ")";
    } else {
      Raise(kErrBusiness, "Q7.Rembiz.0145");
    }
    Dimension dimension = RequestDimension(func, "ec_vch", true, cn);

    std::string text = " COLLATE Chinese_PRC_CI_AS";
    WorkTable table(cn, "(" +
                            (dimension.item ? "[cclasscode] [varchar] (50)" + text + " NOT NULL ,"
                                            : std::string()) +
                            "[ccode] [varchar] (50)" + text + " NOT NULL ,[ctype] [varchar] (20)" +
                            text + " NULL ," +
                            (currency ? "[cexchname] [varchar] (50)" + text +
                                            " NULL ,[imoney] [decimal](18, 2) NULL ,[imoneyf] "
                                            "[decimal](18, 2) NULL"
                                      : std::string("[imoney] [decimal](18, 2) NULL")) +
                            ") ON [PRIMARY]");
    cn.Execute(NormalizeSql(
        "insert into " + table.Qualified() + " select * from(select " + dimension.SelectGroup() +
        ",ec_vch.strtypecode as ctype," + (currency ? "ec_vch.strbill as cexchname," : "") +
        "sum(ec_vch.dbloldmoney)as imoney" + (currency ? ",sum(ec_vch.dblmoney)as imoneyf" : "") +
        " from " + HeadSource(session, family) + dimension.source_joins +
        NameJoins("ec_vch", RequestItems(func, cn)) + " where " + UserFilter(func) + types +
        dimension.NotNull() + " group by " + dimension.GroupColumns() + ",ec_vch.strtypecode" +
        (currency ? ",ec_vch.strbill" : "") + ")r where imoney<>0"));

    PagedQuery query;
    query.from = table.Qualified() + " w" + dimension.name_joins;
    query.where = "1=1";
    query.key = dimension.WorkKey(currency);
    query.text_key = true;
    query.columns =
        (dimension.item ? "w.cclasscode," + dimension.class_name + " as cclassname," : "") +
        std::string("w.ccode,") + dimension.name + " as cname," +
        (currency ? "w.cexchname,w.imoneyf," : "") + "w.ctype,w.imoney";
    query.order = (dimension.item ? "w.cclasscode," : "") + std::string("w.ccode,") +
                  (currency ? "w.cexchname," : "") + "w.ctype";
    Page page = FindPage(cn, query, ReadPageRequest(func));

    // Every page shows the columns of every type the whole summary holds.
    std::vector<std::pair<std::string, std::string>> columns;  // code, type name
    db::Recordset type_rows = cn.Execute(NormalizeSql(
        "select distinct w.ctype,EC_OperationType.strname as strtypename from " +
        table.Qualified() +
        " w left join EC_OperationType on (EC_OperationType.strcode=w.ctype) order by w.ctype"));
    for (; !type_rows.Eof(); type_rows.MoveNext()) {
      std::string name = type_rows.Text("strtypename");
      columns.emplace_back(type_rows.Text("ctype"), name.empty() ? type_rows.Text("ctype") : name);
    }

    db::Recordset rs = ReadPage(cn, query, page);
    std::string data, current;
    std::map<std::string, std::pair<double, double>> amounts;  // type → local, foreign
    std::string group;
    auto flush = [&] {
      if (amounts.empty()) return;
      data += "<row" + group;
      for (const auto& [code, name] : columns) {
        auto it = amounts.find(code);
        std::string suffix = ColumnSuffix(code);
        if (currency) {
          data += Attr("imoneyf" + suffix, it == amounts.end() ? "" : Money(it->second.second));
        }
        data += Attr("imoney" + suffix, it == amounts.end() ? "" : Money(it->second.first));
      }
      data += "/>\r\n";
      amounts.clear();
    };
    for (rs.MoveFirst(); !rs.Eof(); rs.MoveNext()) {
      std::string id = GroupIdentity(dimension, rs, currency);
      if (id != current) flush();
      current = id;
      group = GroupAttrs(dimension, rs) + (currency ? Attr("cexchname", rs.Text("cexchname")) : "");
      amounts[rs.Text("ctype")] = {rs.Value("imoney").ToDouble(),
                                   currency ? rs.Value("imoneyf").ToDouble() : 0.0};
    }
    flush();

    std::string format = "<rows>" + dimension.GroupFormat();
    if (currency) format += Column("cexchname", MessageText("Q7.Rembiz.0142"), 800, "left");
    std::string foreign = MessageText("Rembiz.Report.ForeignAmount");
    std::string local = MessageText("Rembiz.Report.LocalAmount");
    for (const auto& [code, name] : columns) {
      std::string suffix = ColumnSuffix(code);
      if (currency) {
        format += "<row name=''" + Attr("text", name) + " printname='imoneyf" + suffix + ",imoney" +
                  suffix + "'" + Attr("printtext", foreign + "," + local) + ">" +
                  Column("imoneyf" + suffix, foreign, 1200, "right") +
                  Column("imoney" + suffix, local, 1200, "right", true) + "</row>";
      } else {
        format += Column("imoney" + suffix, name, 1300, "right", true);
      }
    }
    answer.LoadXml(Envelope(page, data, format + "</rows>"));
    return true;
  });
}

}  // namespace rembiz::reports
