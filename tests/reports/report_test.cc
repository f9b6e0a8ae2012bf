// CReport on the catalog and on generated vouchers: the answers and column layouts (golden
// file), the reconciliation of every dimension with the vouchers' own amounts, the ageing
// periods, and the refusals.
#include <cmath>
#include <cstdlib>

#include "reports/report_fixture.h"

namespace rembiz::reports {
namespace {

class CReportTest : public ReportTest {
 protected:
  static constexpr const char* kPeriods =
      "<age><age><row cdays='30' name='30天以内'/><row cdays='60' name='31-60天'/>"
      "<row cdays='' name='60天以上'/></age></age>";

  // "loanagedata" by `dimension` at `cutoff` ("MM-DD"), all groups on one page by default.
  std::string Ageing(const std::string& dimension, const std::string& cutoff, int rows = 1000,
                     int current = 0, const std::string& periods = kPeriods,
                     const std::string& cond = "") {
    return "<func name='loanagedata'><in><page><current>" + std::to_string(current) +
           "</current><rows>" + std::to_string(rows) + "</rows></page><cond>" + cond +
           "</cond><type><row name='stritem' value='" + dimension +
           "'/><row name='dtdate' value='" + Date(cutoff) + "'/></type>" + periods + "</in></func>";
  }
  // "typecollectdata": source "0" loans, "1" claims, "2" the listed types.
  static std::string Summary(const std::string& dimension, const std::string& source,
                             bool currency = false, const std::string& codes = "",
                             int rows = 1000) {
    std::string types;
    for (size_t start = 0; start < codes.size();) {
      size_t comma = codes.find(',', start);
      if (comma == std::string::npos) comma = codes.size();
      types += "<row name='code' value='" + codes.substr(start, comma - start) + "'/>";
      start = comma + 1;
    }
    return "<func name='typecollectdata'><in><page><rows>" + std::to_string(rows) +
           "</rows></page><type><row name='strtype' value='" + source +
           "'/><row name='stritem' value='" + dimension + "'/><row name='strshow' value='" +
           (currency ? "1" : "0") + "'/>" + types + "</type></in></func>";
  }

  xml::Document Run(const std::string& funcs, host::Session* session = nullptr) {
    return Call("CReport", "<req>" + funcs + "</req>", session ? session : &Session());
  }

  static double Sum(const xml::Document& doc, const std::string& attr) {
    double total = 0;
    for (const xml::Node& row : doc.SelectNodes("//data/row"))
      total += std::atof(row.Attr(attr).c_str());
    return total;
  }
  double SqlSum(const std::string& sql) { return std::atof(Scalar(sql).c_str()); }

  size_t WorkTables() {
    return std::stoul(Scalar("select count(*) from tempdb..sysobjects where name like 'qdtmp%'"));
  }
};

TEST_F(CReportTest, AnswersAndColumnLayoutsOnTheCatalog) {
  AddCatalog();
  xml::Document doc = Run("<func name='loanalertdata'><in><page><rows>3</rows></page></in></func>" +
                          Ageing("部门", "04-15") + Ageing("项目", "04-15") + Summary("人员", "0") +
                          Summary("部门", "1", true) + Summary("日期", "2", false, "301,201"));
  ASSERT_TRUE(doc.SelectSingleNode("/error").IsNull()) << doc.Xml();
  testing::ExpectGoldenText("reports/golden/reports.xml", Golden(doc.DocumentElement()));
  EXPECT_EQ(WorkTables(), 0u);
}

// Without a cut-off the ageing is taken at the end of the business date: a loan of that day
// counts (one day old), and a loan that was never submitted owes nothing yet.
TEST_F(CReportTest, TheDefaultCutOffCountsTodaysLoansAndNoDrafts) {
  const std::string today = Session().LoginDate().substr(5, 5);
  Voucher submitted = MakeVoucher("", "JK-T1", "301", today, "0201", "0002", 300);
  submitted.submitted = 1;
  Add(submitted);
  Add(MakeVoucher("", "JK-T2", "301", today, "0201", "0002", 500));  // a draft
  std::string request = Ageing(Message("Q7.Rembiz.Web.0624"), today);
  request.replace(request.find(Date(today)), Date(today).size(), "");
  xml::Document doc = Run(request);
  ASSERT_EQ(doc.SelectNodes("//data/row").size(), 1u) << doc.Xml();
  EXPECT_EQ(doc.SelectSingleNode("//data/row").Attr("imoney"), "300.00");
  EXPECT_EQ(doc.SelectSingleNode("//data/row").Attr("imoney1"), "300.00");
  // A cut-off that is given still counts the loans strictly before it.
  doc = Run(Ageing(Message("Q7.Rembiz.Web.0624"), today));
  EXPECT_TRUE(doc.SelectNodes("//data/row").empty()) << doc.Xml();
}

// The ageing total is the outstanding amount of the loans before the cut-off, and each row's
// shares add up to 100; the summary's columns add up to the vouchers' local amounts per type.
TEST_F(CReportTest, EveryDimensionReconcilesWithTheVouchers) {
  AddCatalog();
  Generate(400);
  const std::string cutoff = Date("10-01");
  const std::string lack = "sum(isnull(dblmoney,0)-isnull(dblreturn,0))";
  const std::pair<const char*, std::string> ageing[] = {
      {"Q7.Rembiz.Web.0624", "strDepartID is not null"},
      {"Q7.Rembiz.0134", "strLoanID is not null"},
      {"Q7.Rembiz.0135",
       "strLoanID in (select strPersonCode from EC_PersonCtrl where strGradeID is not null)"},
      {"Q7.Rembiz.0131", "strItemClassID is not null"},
      {"Q7.Rembiz.Web.0634", "strItemClassID is not null and strItemID is not null"},
      {"Q7.Rembiz.Web.0635", "strBudItemID is not null"}};
  for (const auto& [key, grouped] : ageing) {
    xml::Document doc = Run(Ageing(Message(key), "10-01"));
    ASSERT_TRUE(doc.SelectSingleNode("/error").IsNull()) << key << doc.Xml();
    double expected =
        SqlSum("select " + lack + " from EC_LoanVouch where blnAudi = 1 and dtLoanDate < '" +
               cutoff + "' and " + grouped);
    EXPECT_NEAR(Sum(doc, "imoney"), expected, 0.005) << key;
    EXPECT_NEAR(Sum(doc, "imoney1") + Sum(doc, "imoney2") + Sum(doc, "imoney3"), expected, 0.005)
        << key;
    for (const xml::Node& row : doc.SelectNodes("//data/row")) {
      double rates = 0;
      for (const char* rate : {"irate1", "irate2", "irate3"})
        rates += std::atof(row.Attr(rate).c_str());
      EXPECT_NEAR(rates, 100, 0.016) << key << " " << row.Xml();
    }
    // Page by page, the groups are the same as on one page.
    std::string one_page, paged;
    for (const xml::Node& row : doc.SelectNodes("//data/row")) one_page += row.Xml();
    int rows = static_cast<int>(doc.SelectNodes("//data/row").size() + 2) / 3;
    for (int page = 0, pages = 1; page < pages; ++page) {
      xml::Document part = Run(Ageing(Message(key), "10-01", rows, page));
      pages = std::atoi(part.SelectSingleNode("//out//page/count").Text().c_str());
      for (const xml::Node& row : part.SelectNodes("//data/row")) paged += row.Xml();
    }
    EXPECT_EQ(paged, one_page) << key;
  }

  const std::pair<const char*, std::string> summary[] = {
      {"Q7.Rembiz.Web.0624", "strDepartID is not null"},
      {"Q7.Rembiz.0143", "dtLoanDate is not null"},
      {"Q7.Rembiz.0146", "strLoanID is not null"},
      {"Q7.Rembiz.0135",
       "strLoanID in (select strPersonCode from EC_PersonCtrl where strGradeID is not null)"},
      {"Q7.Rembiz.0131", "strItemClassID is not null"},
      {"Q7.Rembiz.Web.0634", "strItemClassID is not null and strItemID is not null"},
      {"Q7.Rembiz.Web.0635", "strBudItemID is not null"}};
  for (const auto& [key, grouped] : summary) {
    for (const char* source : {"0", "1", "2"}) {
      xml::Document doc = Run(Summary(Message(key), source, std::string(source) == "1", "302,202"));
      ASSERT_TRUE(doc.SelectSingleNode("/error").IsNull()) << key << source << doc.Xml();
      for (const char* type : {"301", "302", "101", "201", "202"}) {
        std::string table = type[0] == '3' ? "EC_LoanVouch" : "EC_ExpenVouch";
        bool shown = std::string(source) == "0" ? type[0] == '3'
                     : std::string(source) == "1"
                         ? type[0] != '3'
                         : std::string("302,202").find(type) != std::string::npos;
        double expected = shown ? SqlSum("select isnull(sum(dblOldMoney),0) from " + table +
                                         " where strTypeCode = '" + type + "' and " + grouped)
                                : 0;
        EXPECT_NEAR(Sum(doc, std::string("imoney") + type), expected, 0.005)
            << key << " source " << source << " type " << type;
      }
    }
  }
  EXPECT_EQ(WorkTables(), 0u);
}

TEST_F(CReportTest, TheCutOffAndRepaymentsDecideWhatIsOutstanding) {
  std::vector<Voucher> c = AddCatalog();
  // JK0003 is repaid in full; JK0005 is dated on the cut-off.
  xml::Document doc = Run(Ageing("借款人", "04-01"));
  EXPECT_EQ(Column(doc, "ccode"), (std::vector<std::string>{"0002", "0003"}));
  EXPECT_EQ(Column(doc, "imoney"), (std::vector<std::string>{"1200.00", "60.00"}));

  // The periods come in the user's language, as the dimension names do.
  auto english = SessionFor("demo", "en-US");
  doc = Run(Ageing("Department", "04-02"), english.get());
  EXPECT_EQ(Column(doc, "ccode"), (std::vector<std::string>{"0201", "0202"}));
  EXPECT_EQ(ErrorText(Run(Ageing("部门", "04-02"), english.get())),
            host::MessageText("Q7.Rembiz.0343", "en-US"));

  // The clerk, once allowed the ageing, sees department 0201 only.
  Cn().Execute(
      "insert into QDSystem..UA_HoldAuth (cAcc_Id, iYear, cUser_Id, iIsUser, cAuth_Id) "
      "values ('001', " +
      Year() + ", 'clerk', 1, 'EC0402')");
  auto clerk = SessionFor("clerk");
  EXPECT_EQ(Column(Run(Ageing("部门", "12-31"), clerk.get()), "ccode"),
            std::vector<std::string>{"0201"});
  xml::Document refused = Run(Summary("部门", "0"), clerk.get());
  EXPECT_NE(refused.SelectSingleNode("//func/out/error").Text().find("EC0404"), std::string::npos)
      << refused.Xml();
}

TEST_F(CReportTest, BadRequestsAreRefusedAndLeaveNoWorkTable) {
  AddCatalog();
  EXPECT_EQ(ErrorText(Run(Ageing("颜色", "04-15"))), Message("Q7.Rembiz.0343"));
  // The date is a dimension of the summary only.
  EXPECT_TRUE(Run(Summary("日期", "0")).SelectSingleNode("/error").IsNull());
  EXPECT_EQ(ErrorText(Run(Ageing("日期", "04-15"))), Message("Q7.Rembiz.0343"));
  for (const char* periods :
       {"<age/>", "<age><age><row cdays='60' name='a'/><row cdays='30' name='b'/></age></age>",
        "<age><age><row cdays='' name='a'/><row cdays='30' name='b'/></age></age>",
        "<age><age><row cdays='3;0' name='a'/></age></age>"}) {
    EXPECT_EQ(ErrorText(Run(Ageing("部门", "04-15", 10, 0, periods))), Message("Q7.Rembiz.0133"))
        << periods;
  }
  EXPECT_EQ(ErrorText(Run(Ageing("部门", "99-99"))), Message("Q7.Rembiz.0137"));
  EXPECT_EQ(ErrorText(Run(Summary("部门", "2"))), Message("Q7.Rembiz.0044"));
  EXPECT_EQ(ErrorText(Run(Summary("部门", "9"))), Message("Q7.Rembiz.0145"));
  EXPECT_EQ(ErrorText(Run(Summary("部门", "0", false, "", 0))),
            host::MessageText("Rembiz.Value.InvalidNumber", "", "rows per page", "0"));
  // A filter on a column that is not there fails with the analysis's own message, and its
  // work table is gone all the same.
  EXPECT_EQ(ErrorText(Run(Ageing("部门", "04-15", 10, 0, kPeriods, Cond("nosuch", "1")))),
            Message("Q7.Rembiz.0137"));
  EXPECT_EQ(ErrorText(Run(Summary("人员", "7"))), Message("Q7.Rembiz.0145"));
  EXPECT_EQ(ErrorText(Run(Ageing("部门", "01-01"))), Message("Q7.Rembiz.0087"));
  EXPECT_EQ(WorkTables(), 0u);
}

TEST_F(CReportTest, AgeingPeriodsAreKeptByTheHost) {
  std::string before = Dump("Host_AgePeriod");
  // Bounds that do not grow are refused with the operation's text, and nothing changes.
  xml::Document doc =
      Run("<func name='ageset'><in><age><age type='1'><row cdays='90' name='a'/><row cdays='30' "
          "name='b'/></age></age></in></func>");
  EXPECT_EQ(ErrorText(doc), Message("Q7.Rembiz.0129")) << doc.Xml();
  EXPECT_EQ(Dump("Host_AgePeriod"), before);

  doc = Run(
      "<func name='ageset'><in><age><age type='1'><row cdays='15' name='半月内'/><row cdays='' "
      "name='半月以上'/></age><age type='2'><row cdays='7' name='一周'/></age></age></in></func>"
      "<func name='ageget'><in><agetype>1</agetype></in></func>"
      "<func name='ageget'><in><agetype>2</agetype></in></func>"
      "<func name='ageget'><in><agetype>3</agetype></in></func>");
  ASSERT_TRUE(doc.SelectSingleNode("/error").IsNull()) << doc.Xml();
  EXPECT_FALSE(doc.SelectSingleNode("//func[1]/out/success").IsNull());
  xml::NodeList answers = doc.SelectNodes("//func[@name='ageget']/out/age");
  ASSERT_EQ(answers.size(), 3u);
  EXPECT_EQ(answers[0].Xml(),
            "<age systemid=\"EC\" type=\"1\"><row no=\"1\" cdays=\"15\" name=\"半月内\"/><row "
            "no=\"2\" cdays=\"\" name=\"半月以上\"/></age>");
  EXPECT_EQ(answers[1].Children("row").size(), 1u);
  EXPECT_EQ(answers[2].Children("row").size(), 0u);
  EXPECT_EQ(Scalar("select count(*) from Host_AgePeriod where cSysId = 'EC'"), "3");
}

}  // namespace
}  // namespace rembiz::reports
