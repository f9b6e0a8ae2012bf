// The report plug-ins driven by the host's report engine: the detail rows of the catalog, the
// user's filter, the operator's rights, refused filters, and the work table's end.
#include <chrono>

#include "db/connection.h"
#include "frame/registry.h"
#include "host/report_engine.h"
#include "reports/report_fixture.h"

namespace rembiz::reports {
namespace {

class ReportPluginTest : public ReportTest {
 protected:
  db::Recordset Run(std::string_view prog_id, const std::string& filter = "",
                    host::Session* session = nullptr) {
    auto plugin = frame::CreateObjectAs<host::ReportPlugin>(prog_id);
    host::ReportEngine engine(session ? *session : Session());
    engine.SetFilter("statistics", filter);
    return engine.Run(*plugin, "statistics", "strvouchid");
  }
  static std::vector<std::string> Values(const db::Recordset& rs, const std::string& column) {
    std::vector<std::string> out;
    int index = rs.FieldIndex(column);
    for (const auto& row : rs.Rows()) out.push_back(row[static_cast<size_t>(index)].ToText());
    return out;
  }
  size_t WorkTables() {
    return std::stoul(Scalar("select count(*) from tempdb..sysobjects where name like 'qdtmp%'"));
  }
  using Strings = std::vector<std::string>;
};

TEST_F(ReportPluginTest, LoanStatisticsHaveOneRowPerPaymentRow) {
  AddCatalog();
  db::Recordset rs = Run("Rembiz.CReportJKTJ");
  EXPECT_EQ(Values(rs, "strvouchid"), (Strings{"JK0001", "JK0002", "JK0003", "JK0004", "JK0005"}));
  EXPECT_EQ(Values(rs, "dbllack"), (Strings{"1000", "60", "0", "200", "300"}));
  EXPECT_EQ(Values(rs, "bauditorid"), (Strings{"是", "否", "是", "是", "否"}));
  EXPECT_EQ(Values(rs, "bmarkid"), (Strings{"是", "否", "否", "否", "否"}));
  EXPECT_EQ(Values(rs, "blnsettle"), (Strings{"否", "否", "是", "否", "否"}));
  EXPECT_EQ(Values(rs, "strbalancename")[0], "现金");
  EXPECT_EQ(Values(rs, "strpaybankname")[1], "工商银行北京分行");
  EXPECT_EQ(Values(rs, "strbankname")[1], "工商银行");
  EXPECT_EQ(Values(rs, "stritemname")[4], "笔记本电脑");
  EXPECT_EQ(Values(rs, "intnum"), (Strings{"1", "1", "1", "1", "1"}));
  EXPECT_EQ(rs.FieldCount(), 34);
  EXPECT_EQ(WorkTables(), 0u);

  // The user's filter is a condition on the detail columns.
  EXPECT_EQ(
      Values(Run("Rembiz.CReportJKTJ", "dbllack > 100 and strdepartid = '0201'"), "strvouchid"),
      (Strings{"JK0001", "JK0004", "JK0005"}));
}

TEST_F(ReportPluginTest, ClaimStatisticsNameGradesPlacesAndTransport) {
  AddCatalog();
  db::Recordset rs = Run("Rembiz.CReportSZTJ", "  ");
  EXPECT_EQ(Values(rs, "strvouchid"), (Strings{"SR0001", "ZC0001", "ZC0002"}));
  EXPECT_EQ(Values(rs, "strloanclass"), (Strings{"职员", "主管", "职员"}));
  EXPECT_EQ(Values(rs, "strezeroname"), (Strings{"天津", "天津", "天津"}));
  EXPECT_EQ(Values(rs, "strezeroclass"), (Strings{"二类地区", "二类地区", "二类地区"}));
  EXPECT_EQ(Values(rs, "strjttoolsname"), (Strings{"火车", "火车", "火车"}));
  EXPECT_EQ(Values(rs, "strioitemname"), (Strings{"住宿费", "住宿费", "住宿费"}));
  EXPECT_EQ(Values(rs, "blnaudi"), (Strings{"是", "是", "是"}));
  EXPECT_EQ(rs.FieldCount(), 31);
}

TEST_F(ReportPluginTest, TheOperatorsRightsLimitTheRows) {
  AddCatalog();
  auto clerk = SessionFor("clerk");
  EXPECT_EQ(Values(Run("Rembiz.CReportJKTJ", "", clerk.get()), "strvouchid"),
            (Strings{"JK0001", "JK0004", "JK0005"}));
  EXPECT_EQ(Values(Run("Rembiz.CReportSZTJ", "", clerk.get()), "strvouchid"), Strings{"ZC0001"});
  // An operator with no rights gets an empty report, not an error.
  Cn().Execute("update Host_ScopeRule set iScope = 1 where cUser_Id = 'clerk'");
  EXPECT_EQ(Run("Rembiz.CReportJKTJ", "", clerk.get()).RecordCount(), 0);
  // Operators limited to users see only vouchers all of whose people they may see.
  Cn().Execute("update Host_ScopeRule set iScope = 0 where cUser_Id = 'clerk'");
  Cn().Execute(
      "insert into Host_ScopeRule (cUser_Id, cAuthType, cSelector1, cSelector2, iScope) values "
      "('clerk', 'USER', '', '', 2)");
  Cn().Execute(
      "insert into Host_ScopeRuleItem (cUser_Id, cAuthType, cSelector1, cSelector2, cCode) "
      "values ('clerk', 'USER', '', '', 'Demo Admin'), ('clerk', 'USER', '', '', 'Anna Approver')");
  EXPECT_EQ(Values(Run("Rembiz.CReportJKTJ", "", clerk.get()), "strvouchid"), Strings{"JK0001"});
}

TEST_F(ReportPluginTest, AFilterThatIsNotOneReadOnlyConditionIsRefused) {
  AddCatalog();
  std::string before = Dump("EC_LoanVouch") + Dump("EC_LoanVouch_Sub");
  for (const char* filter :
       {"1=1; delete from EC_LoanVouch", "1=1)a; delete from EC_LoanVouch; select * from (select 1",
        "1=1\ndelete from EC_LoanVouch",
        "exists(select 1 from QDSystem..UA_User where cPassword is not null)",
        "exists(select 1 from QDSystem..UA_Session)", "nosuchcolumn = 1", "1=1 /*",
        // what reaches outside the query on the server engine
        "set_config('search_path', 'qdsystem,rembiz', false) is not null",
        "query_to_xml('select cpassword from qdsystem.ua_user', true, true, '') is not null",
        "lo_from_bytea(0, 'x') > 0", "pg_sleep(20) is null",
        "(select count(pg_advisory_lock(x)) from generate_series(1, 60000) x) > 0",
        "pg_catalog.pg_read_file('/etc/hostname') is not null", "'1'::int = 1",
        "\"set_config\"('a.b', 'c', false) is not null"}) {
    try {
      Run("Rembiz.CReportJKTJ", filter);
      ADD_FAILURE() << "accepted: " << filter;
    } catch (const ComError& e) {
      // The refusal names the problem, never the SQL.
      EXPECT_EQ(e.Description().find(filter), std::string::npos) << e.Description();
      EXPECT_EQ(e.Description().find("select * from"), std::string::npos) << e.Description();
    }
  }
  EXPECT_EQ(Dump("EC_LoanVouch") + Dump("EC_LoanVouch_Sub"), before);
  EXPECT_EQ(WorkTables(), 0u);
  // A plug-in is no business class.
  xml::Document doc = Call("CReportJKTJ", "<req><func name='x'/></req>");
  EXPECT_EQ(doc.SelectSingleNode("/error/id").Text(), "Rembiz:CReportJKTJ:myHandle:438");
}

// The filter stands outside the rows the operator's rights select: text that tries to close the
// condition early and add its own is refused, and any condition only narrows.
TEST_F(ReportPluginTest, AFilterNarrowsTheOperatorsRowsAndNeverWidensThem) {
  AddCatalog();
  auto clerk = SessionFor("clerk");
  const Strings mine = {"JK0001", "JK0004", "JK0005"};
  for (const char* filter : {"1=1) or (1=1", "1=1)) or ((1=1", "1=1) union select * from (x"}) {
    try {
      Run("Rembiz.CReportJKTJ", filter, clerk.get());
      ADD_FAILURE() << "accepted: " << filter;
    } catch (const ComError& e) {
      EXPECT_NE(e.Description().find("one condition"), std::string::npos) << e.Description();
    }
  }
  for (const char* filter :
       {"1=1 or 1=1", "strdepartid <> '0201' or 1=1", "(1=1) or (strdepartid='0301')"}) {
    EXPECT_EQ(Values(Run("Rembiz.CReportJKTJ", filter, clerk.get()), "strvouchid"), mine) << filter;
  }
  EXPECT_EQ(Values(Run("Rembiz.CReportJKTJ", "strvouchid in ('JK0002', 'JK0004')", clerk.get()),
                   "strvouchid"),
            Strings{"JK0004"});
}

// A filter runs within the free-query bounds: stopped at its time, whatever it joins, and never
// making a value longer than the bound.
TEST_F(ReportPluginTest, AFilterRunsWithinTheFreeQueryBounds) {
  AddCatalog();
  db::ReadOnlyLimits saved = db::GetReadOnlyLimits();
  db::ReadOnlyLimits limits = saved;
  limits.seconds = 1;
  limits.max_value_bytes = 1 << 16;
  db::SetReadOnlyLimits(limits);
  auto start = std::chrono::steady_clock::now();
  try {
    Run("Rembiz.CReportJKTJ",
        "(select count(*) from UA_Auth a, UA_Auth b, UA_Auth c, UA_Auth d, UA_Auth e, UA_Auth f, "
        "UA_Auth g) > 0");
    ADD_FAILURE() << "a cross join ran to its end";
  } catch (const ComError& e) {
    EXPECT_NE(e.Description().find("longer than its 1 seconds"), std::string::npos)
        << e.Description();
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  if (!testing::OnPostgres()) {  // the server makes its values in its own memory
    EXPECT_THROW(
        Run("Rembiz.CReportJKTJ", "length(replace(replicate('a', 1000000), 'a', 'aaaaaaaaa')) > 0"),
        ComError);
  }
  db::SetReadOnlyLimits(saved);
  EXPECT_EQ(WorkTables(), 0u);
}

}  // namespace
}  // namespace rembiz::reports
