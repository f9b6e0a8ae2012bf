// A company from nothing: `init` without the demo, then only the administration class and the
// module's classes, up to a loan and a claim approved by the department's head and booked as
// one balanced ledger voucher. Then what the administration refuses, and imports.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>

#include "db/connection.h"
#include "db/text.h"
#include "frame/registry.h"
#include "host/database_setup.h"
#include "host/local_session.h"
#include "host/messages.h"
#include "support/demo_fixture.h"
#include "support/program.h"
#include "xml/document.h"

namespace rembiz::admin {
namespace {

class CompanyRoadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    location_ = testing::FreshLocation(std::string("road_") + info->name());
    dir_ = std::make_unique<host::DataDir>(location_);
    host::InitOptions options;
    options.admin_password = "admin-pass";
    options.account_name = "Harbour Trading";
    host::InitDataDirectory(*dir_, options);
  }
  void TearDown() override {
    sessions_.clear();
    cn_.reset();
    db::ClearConnectionPool();
  }

  host::LocalSession& As(const std::string& user) {
    auto& session = sessions_[user];
    if (!session) {
      host::SessionRequest request;
      request.user = user;
      request.language = "en-US";
      session = host::LocalSession::Open(*dir_, request);
    }
    return *session;
  }
  db::Connection& Cn() {
    if (!cn_) {
      cn_ = std::make_unique<db::Connection>();
      cn_->Open(dir_->ConnectionString("001", host::CurrentYearText()));
    }
    return *cn_;
  }
  std::string Scalar(const std::string& sql) {
    db::Recordset rs = Cn().Execute(sql);
    return rs.Eof() ? "" : rs.Value(0).ToText();
  }
  std::string Ts(const std::string& table, const std::string& guid) {
    return Scalar("select cast(ts as money) from " + table + " where GUID = " + db::SqlText(guid));
  }

  // Runs a request; the text of the first refusal, "" when none.
  std::string Try(const std::string& cls, const std::string& user, const std::string& request,
                  xml::Document* answer = nullptr) {
    xml::Document own;
    xml::Document& doc = answer ? *answer : own;
    EXPECT_TRUE(doc.LoadXml(request)) << request;
    frame::CreateObject("Rembiz." + cls)->myHandle(&As(user), doc);
    for (const char* path : {"/error/text", "//out/error/text", "//out/err/msg"}) {
      if (xml::Node error = doc.SelectSingleNode(path)) return error.Text();
    }
    return "";
  }
  void Do(const std::string& cls, const std::string& user, const std::string& request,
          xml::Document* answer = nullptr) {
    std::string refusal = Try(cls, user, request, answer);
    ASSERT_EQ(refusal, "") << cls << " " << request;
  }
  // One administration request saving rows of a kind.
  std::string Admin(const std::string& kind, const std::string& rows,
                    const std::string& user = "admin") {
    return Try("CAdmin", user,
               "<req><func name='save'><in kind='" + kind + "'>" + rows + "</in></func></req>");
  }
  std::string List(const std::string& kind, const std::string& user = "admin") {
    xml::Document doc;
    std::string refusal =
        Try("CAdmin", user, "<req><func name='list'><in kind='" + kind + "'/></func></req>", &doc);
    return refusal.empty() ? doc.SelectSingleNode("//out/rows").Xml() : refusal;
  }
  std::string Version(const std::string& kind, const std::string& attr, const std::string& key) {
    xml::Document doc;
    Try("CAdmin", "admin", "<req><func name='list'><in kind='" + kind + "'/></func></req>", &doc);
    return doc.SelectSingleNode("//out/rows/row[@" + attr + "='" + key + "']").Attr("ts");
  }
  static std::string Text(std::string_view key, std::string_view p1 = "",
                          std::string_view p2 = "") {
    return host::MessageText(key, "en-US", p1, p2);
  }

  // Everything a small company needs before its first voucher, through CAdmin and the
  // module's own classes.
  void SetUpCompany() {
    ASSERT_EQ(Admin("role", "<row P='1' id='STAFF' name='Staff'/>"), "");
    ASSERT_EQ(Admin("user",
                    "<row P='1' id='boss' name='Bea Boss' password='boss-pass' language='en-US'/>"
                    "<row P='1' id='sam' name='Sam Seller' password='sam-pass1' roles='STAFF'/>"),
              "");
    ASSERT_EQ(Admin("rights",
                    "<row P='1' holder='role:STAFF' rights='EC020101,EC020301,EC020302,EC03'/>"
                    "<row P='1' holder='user:boss' rights='EC02,EC03'/>"),
              "");
    ASSERT_EQ(Admin("department",
                    "<row P='1' code='01' name='Management' head='boss'/>"
                    "<row P='1' code='02' name='Sales'/>"
                    "<row P='1' code='0201' name='Sales North'/>"),
              "");
    // The head of 02 approves for 0201 too.
    ASSERT_EQ(Admin("department", "<row P='2' code='02' head='boss' ts='" +
                                      Version("department", "code", "02") + "'/>"),
              "");
    ASSERT_EQ(Admin("person",
                    "<row P='1' code='0001' name='Bea Boss' department='01'/>"
                    "<row P='1' code='0002' name='Sam Seller' department='0201' "
                    "bankacc='6222 0000 1111' bank='Harbour Bank'/>"),
              "");
    ASSERT_EQ(Admin("settlestyle", "<row P='1' code='1' name='Cash'/>"), "");
    ASSERT_EQ(Admin("account",
                    "<row P='1' code='1001' name='Cash'/>"
                    "<row P='1' code='1221' name='Other receivables' person='1'/>"
                    "<row P='1' code='6602' name='Administrative expenses'/>"
                    "<row P='1' code='660201' name='Travel' department='1'/>"),
              "");
    Do("COperation", "admin",
       "<req><func name='edit'><in><row P='1' intType='3' strName='Travel advance' "
       "strShowID='11' strPrintID='12'/><row P='1' intType='2' strName='Travel claim' "
       "strShowID='31' strPrintID='32'/></in></func></req>");
    Do("CRPItem", "admin",
       "<req><func name='new'><in><r strcode='201' strupcode='2' strname='Travel' "
       "strtypecode='201'/></in></func><func name='new'><in><r strcode='20101' strupcode='201' "
       "strname='Hotel' strtypecode='201'/></in></func></req>");
    Do("CPzSet", "admin",
       "<req><func name='saveiokm'><in><row P='1' strOperatType='301' strIOItemCode='' "
       "strCurrency='人民币' strCode='1221' blnModiDire='0'/><row P='1' strOperatType='201' "
       "strIOItemCode='' strCurrency='人民币' strCode='660201' blnModiDire='1'/></in></func>"
       "<func name='saveopkm'><in><row P='1' strOperatType='Payment' strBalanceType='1' "
       "strBankID='' strCurrency='人民币' strCode='1001'/></in></func></req>");
  }

  std::string location_;
  std::unique_ptr<host::DataDir> dir_;
  std::map<std::string, std::unique_ptr<host::LocalSession>> sessions_;
  std::unique_ptr<db::Connection> cn_;
};

TEST_F(CompanyRoadTest, ALoanAndAClaimGoFromNothingToABalancedLedgerVoucher) {
  SetUpCompany();
  std::string year = host::CurrentYearText();

  // Sam's loan of 500, submitted; the default flow waits for the head of Sam's department.
  Do("CLoan", "sam",
     "<req><func name='savevouch'><in><xml><head blnBegin='0'><z:row strTypeCode='301' "
     "strVouchID='JK0001' dtLoanDate='" +
         year +
         "-03-05T00:00:00' strDepartID='0201' strLoanID='0002' strBill='人民币' fltRate='1' "
         "dblMoney='500' dblOldMoney='500' strUsed='Trip'/></head><body><row strBalanceID='1' "
         "dblMoney='500'/></body></xml></in></func></req>");
  std::string loan = Scalar("select GUID from EC_LoanVouch");
  Do("CLoan", "sam",
     "<req><func name='submitaudit'><in><GUID>" + loan + "</GUID><ts>" + Ts("EC_LoanVouch", loan) +
         "</ts></in></func></req>");
  EXPECT_EQ(Scalar("select cHead_Id from Host_FlowInstance"), "boss");
  auto approve = [&](const std::string& user, const std::string& table, const std::string& guid,
                     const std::string& type) {
    return Try("CAudit", user,
               "<req><func name='AuditVouch'><in><EASTdata><task EAAID='1' remark='ok'/>"
               "</EASTdata><strGUID><Rows flag='1'><row strGUID='" +
                   guid + "' ts='" + Ts(table, guid) + "' strType='" + type +
                   "' strVouchID='x'/></Rows></strGUID></in></func></req>");
  };
  // Sam is no approver of his own loan; the head is.
  EXPECT_NE(approve("sam", "EC_LoanVouch", loan, "EC03"), "");
  ASSERT_EQ(approve("boss", "EC_LoanVouch", loan, "EC03"), "");
  EXPECT_EQ(Scalar("select strAuditorID from EC_LoanVouch"), "Bea Boss");

  // A hotel claim of 400, the loan written off against it, approved, then confirmed by the
  // cashier's side (boss holds the settlement right).
  Do("CExpense", "sam",
     "<req><func name='savevouch'><in><xml><head><z:row strTypeCode='201' strVouchID='ZC0001' "
     "dtLoanDate='" +
         year +
         "-03-08T00:00:00' strDepartID='0201' strLoanID='0002' strBill='人民币' fltRate='1' "
         "dblMoney='400' dblOldMoney='400' strUsed='Hotel'/></head><body><row strIOItem='20101' "
         "dblMoney='400'/></body></xml></in></func></req>");
  std::string claim = Scalar("select GUID from EC_ExpenVouch");
  std::string loan_row = Scalar("select GUID from EC_LoanVouch_Sub");
  auto write_off = [&](const std::string& user) {
    std::string link = Scalar("select GUID from EC_ExpenLoanInfo");
    Do("CExpense", user,
       "<req><func name='SaveLoanInfo'><in GUID='" + claim + "' ts='" + Ts("EC_ExpenVouch", claim) +
           "' strLoanID='0002' strBill='人民币' fltRate='1'><row GUID='" + loan_row + "' ts='" +
           Ts("EC_LoanVouch_Sub", loan_row) + "' GUID1='" + link + "' ts1='" +
           (link.empty() ? "" : Ts("EC_ExpenLoanInfo", link)) +
           "' blnUsed='0' dblRetValue='400'/></in></func></req>");
  };
  write_off("sam");
  Do("CExpense", "sam",
     "<req><func name='submitaudit'><in><GUID>" + claim + "</GUID><ts>" +
         Ts("EC_ExpenVouch", claim) + "</ts></in></func></req>");
  ASSERT_EQ(approve("boss", "EC_ExpenVouch", claim, "EC02"), "");

  std::string sources = "<row strtypecode='301' guid='" + loan + "' ts='" +
                        Ts("EC_LoanVouch", loan) + "' strvouchid='JK0001'/>";
  auto make = [&](const std::string& all) {
    return Try("CMakePZ", "boss",
               "<req><func name='makepz'><in con='1'><pztype>记</pztype><pzdate>" + year +
                   "-03-20</pzdate><blnTemp>0</blnTemp><rows>" + all + "</rows></in><daily>" + all +
                   "</daily></func></req>");
  };
  // Not confirmed yet: the refusal says who must act.
  std::string claim_source = "<row strtypecode='201' guid='" + claim + "' ts='" +
                             Ts("EC_ExpenVouch", claim) + "' strvouchid='ZC0001'/>";
  EXPECT_EQ(make(sources + claim_source), Text("Rembiz.Ledger.NotConfirmed", "ZC0001"));
  write_off("boss");
  EXPECT_EQ(Scalar("select strVerifier from EC_ExpenVouch"), "Bea Boss");
  claim_source = "<row strtypecode='201' guid='" + claim + "' ts='" + Ts("EC_ExpenVouch", claim) +
                 "' strvouchid='ZC0001'/>";
  sources = "<row strtypecode='301' guid='" + loan + "' ts='" + Ts("EC_LoanVouch", loan) +
            "' strvouchid='JK0001'/>";
  ASSERT_EQ(make(sources + claim_source), "");

  // One voucher of the company's sign, balanced, on the accounts the administrator made; the
  // merge options of a new company put the travel expense on its own account.
  EXPECT_EQ(Scalar("select count(distinct ino_id) from GL_accvouch where csign = '记'"), "1");
  EXPECT_EQ(Scalar("select sum(md) from GL_accvouch"), Scalar("select sum(mc) from GL_accvouch"));
  EXPECT_EQ(Scalar("select sum(md) from GL_accvouch where ccode = '660201'"), "400");
  EXPECT_EQ(Scalar("select sum(md) - sum(mc) from GL_accvouch where ccode = '1221'"), "100");
  EXPECT_EQ(Scalar("select sum(mc) from GL_accvouch where ccode = '1001'"), "500");

  // What is in use stays: the department of the vouchers, the account of the ledger, the
  // head of a department, the user on the vouchers.
  std::string in_use = Text("Rembiz.Admin.InUse", "0201", Text("Rembiz.Admin.UsedByPersons"));
  EXPECT_EQ(Admin("department",
                  "<row P='3' code='0201' ts='" + Version("department", "code", "0201") + "'/>"),
            in_use);
  EXPECT_EQ(
      Admin("account", "<row P='3' code='1001' ts='" + Version("account", "code", "1001") + "'/>"),
      Text("Rembiz.Admin.InUse", "1001", Text("Rembiz.Admin.UsedByLedger")));
  EXPECT_EQ(Admin("user", "<row P='3' id='sam' ts='" + Version("user", "id", "sam") + "'/>"),
            Text("Rembiz.Admin.InUse", "sam", Text("Rembiz.Admin.UsedByVouchers")));
  // A parent account that took postings gets no child.
  EXPECT_EQ(Admin("account", "<row P='1' code='100101' name='Petty cash'/>"),
            Text("Rembiz.Admin.InUse", "1001", Text("Rembiz.Admin.UsedByLedger")));
}

TEST_F(CompanyRoadTest, RefusalsChangeNothingAndOnlyAdministratorsAdminister) {
  SetUpCompany();
  auto snapshot = [&] {
    return List("user") + List("department") + List("person") + List("flow") + List("rights") +
           List("account");
  };
  std::string before = snapshot();

  // Somebody with every daily right is still no administrator.
  EXPECT_EQ(Admin("department", "<row P='1' code='03' name='Other'/>", "boss"),
            Text("Rembiz.Host.NoRight", "boss", "ADMIN"));
  // Stale or missing versions, unknown references, a half-good request: nothing is kept.
  EXPECT_EQ(Admin("department",
                  "<row P='1' code='03' name='Other'/>"
                  "<row P='2' code='01' name='Top' ts='1'/>"),
            Text("Rembiz.Admin.Stale"));
  EXPECT_EQ(Admin("department", "<row P='2' code='01' name='Top' ts='1 or 1=1'/>"),
            Text("Rembiz.Admin.Stale"));
  EXPECT_EQ(Admin("person", "<row P='1' code='0009' name='Nina' department='02'/>"),
            Text("Rembiz.Admin.NotLastLevel", "02"));
  EXPECT_EQ(Admin("person", "<row P='1' code=\"0' or 1=1\" name='Q' department='01'/>"),
            Text("Rembiz.Admin.BadCode", "code", "20"));
  EXPECT_EQ(Admin("user", "<row P='1' id='eve' name='Eve' password='short'/>"),
            Text("Rembiz.Admin.ShortPassword", "8"));
  EXPECT_EQ(Admin("rights", "<row P='1' holder='user:sam' rights='EC0201,NOPE'/>"),
            Text("Rembiz.Admin.UnknownRight", "NOPE"));
  EXPECT_EQ(Admin("rights", "<row P='1' holder='user:admin' rights='EC01'/>"),
            Text("Rembiz.Admin.NotYourself"));
  EXPECT_EQ(Admin("account", "<row P='1' code='10011' name='Odd'/>"),
            Text("Rembiz.Admin.CodeLevel", "10011"));
  EXPECT_EQ(Admin("account", "<row P='1' code='220101' name='Orphan'/>"),
            Text("Rembiz.Admin.NoParent", "220101", "2201"));

  // Flows: a step nobody can approve is refused; so is a type of another family.
  Admin("user", "<row P='1' id='gone' name='Gone' password='gone-pass' disabled='1'/>");
  before = snapshot();
  EXPECT_EQ(Admin("flow",
                  "<row P='1' family='expenditure' name='Big claims' min='5000'>"
                  "<step name='Director' approvers='user:gone'/></row>"),
            Text("Rembiz.Admin.NobodyApproves", "Director"));
  EXPECT_EQ(Admin("flow",
                  "<row P='1' family='expenditure' name='Big claims' min='5000'>"
                  "<step name='Director' approvers='role:NOBODY'/></row>"),
            Text("Rembiz.Admin.UnknownRole", "NOBODY"));
  EXPECT_EQ(Admin("flow",
                  "<row P='1' family='expenditure' name='Advances' types='301'>"
                  "<step approvers='head'/></row>"),
            Text("Rembiz.Admin.UnknownType", "301", "expenditure"));
  EXPECT_EQ(Admin("flow", "<row P='1' family='loan' name='Empty'/>"),
            Text("Rembiz.Admin.FlowWithoutSteps"));
  EXPECT_EQ(snapshot(), before);

  // A two-step flow for large claims of type 201 that sends a rejection back a step.
  ASSERT_EQ(Admin("flow",
                  "<row P='1' family='expenditure' name='Big claims' priority='1' "
                  "types='201' min='5000' reject='previous'><step name='Head' "
                  "approvers='head'/><step name='Staff' approvers='role:STAFF,user:boss'/>"
                  "</row>"),
            "");
  xml::Document flows;
  Try("CAdmin", "admin", "<req><func name='list'><in kind='flow'/></func></req>", &flows);
  xml::Node big = flows.SelectSingleNode("//row[@name='Big claims']");
  EXPECT_EQ(big.Attr("types"), "201");
  EXPECT_EQ(big.Attr("reject"), "previous");
  EXPECT_EQ(big.SelectSingleNode("step[@no='2']").Attr("approvers"), "user:boss,role:STAFF");
  // Deleting a flow no voucher used; the default flow of loans is deleted too.
  EXPECT_EQ(Admin("flow", "<row P='3' id='" + big.Attr("id") + "' ts='" + big.Attr("ts") + "'/>"),
            "");
}

TEST_F(CompanyRoadTest, AThousandPersonsImportInOneStepAndOneBadLineAddsNothing) {
  SetUpCompany();
  auto import = [&](const std::string& rows, bool dry, xml::Document* doc) {
    return Try("CAdmin", "admin",
               std::string("<req><func name='import'><in kind='person' dry='") + (dry ? "1" : "0") +
                   "'>" + rows + "</in></func></req>",
               doc);
  };
  std::string rows;
  for (int i = 1; i <= 1000; ++i) {
    char code[16];
    std::snprintf(code, sizeof code, "P%04d", i);
    rows += "<row line='" + std::to_string(i + 1) + "' code='" + code + "' name='Person " +
            std::to_string(i) + "' department='" + (i % 2 ? "01" : "0201") + "'/>";
  }
  std::string bad = rows +
                    "<row line='1002' code='P0500' name='Twice' department='01'/>"
                    "<row line='1003' code='Q1' name='Lost' department='99'/>";
  xml::Document doc;
  ASSERT_EQ(import(bad, false, &doc), "");
  xml::Node result = doc.SelectSingleNode("//out/import");
  EXPECT_EQ(result.Attr("refused"), "2");
  EXPECT_EQ(result.Attr("added"), "0");
  EXPECT_EQ(result.SelectSingleNode("refused[1]").Attr("line"), "1002");
  EXPECT_EQ(result.SelectSingleNode("refused[1]").Attr("reason"),
            Text("Rembiz.Admin.Exists", "person", "P0500"));
  EXPECT_EQ(result.SelectSingleNode("refused[2]").Attr("reason"),
            Text("Rembiz.Admin.UnknownDepartment", "99"));
  EXPECT_EQ(Scalar("select count(*) from Person"), "2");

  ASSERT_EQ(import(rows, true, &doc), "");
  EXPECT_EQ(doc.SelectSingleNode("//out/import").Attr("refused"), "0");
  EXPECT_EQ(Scalar("select count(*) from Person"), "2");
  ASSERT_EQ(import(rows, false, &doc), "");
  EXPECT_EQ(doc.SelectSingleNode("//out/import").Attr("added"), "1000");
  EXPECT_EQ(Scalar("select count(*) from Person"), "1002");
}

TEST_F(CompanyRoadTest, TheCommandLineImportsAndExportsSpreadsheets) {
  SetUpCompany();
  std::string where = " " + testing::LocationArgs(location_);
  std::filesystem::path dir = testing::ScratchDir("admin_cli");
  std::string csv = (dir / "persons.csv").string();
  {
    std::ofstream out(csv);
    out << "\xEF\xBB\xBF"
        << "code,name,department,phone\r\n"
        << "0101,\"Lee, Ann\",01,'+86 10 1234\r\n"
        << "0102,Bo,0201,\r\n";
  }
  testing::ProgramResult r = testing::RunCommand(
      testing::Rembiz("admin import person '" + csv + "'" + where + " --dry-run"));
  EXPECT_EQ(r.code, 0) << r.out;
  EXPECT_EQ(Scalar("select count(*) from Person"), "2");
  r = testing::RunCommand(testing::Rembiz("admin import person '" + csv + "'" + where));
  ASSERT_EQ(r.code, 0) << r.out;
  EXPECT_EQ(
      Scalar("select cPersonName + '|' + cPersonPhone from Person where cPersonCode = '0101'"),
      "Lee, Ann|+86 10 1234");

  // The workbook written by the export reads back as the same rows.
  std::string xlsx = (dir / "departments.xlsx").string();
  r = testing::RunCommand(
      testing::Rembiz("admin list department --format xlsx --out '" + xlsx + "'" + where));
  ASSERT_EQ(r.code, 0) << r.out;
  r = testing::RunCommand(
      testing::Rembiz("admin import department '" + xlsx + "'" + where + " --dry-run"));
  EXPECT_EQ(r.code, 1) << r.out;
  EXPECT_NE(r.out.find("line 2: " + Text("Rembiz.Admin.Exists", "department", "01")),
            std::string::npos)
      << r.out;

  // Without --user a real company's report names nobody.
  r = testing::RunCommand(testing::Rembiz("report loans" + where));
  EXPECT_EQ(r.code, 2);
  EXPECT_NE(r.out.find("--user"), std::string::npos) << r.out;
}

}  // namespace
}  // namespace rembiz::admin

namespace rembiz::admin {
namespace {

// Items, districts and value rows of standards import through the rules of the classes that
// keep them: each refused line names that class's reason, and one refusal adds nothing.
TEST_F(CompanyRoadTest, ItemsDistrictsAndValueRowsImportByTheirClassesRules) {
  SetUpCompany();
  auto import = [&](const std::string& kind, const std::string& rows, xml::Document* doc) {
    return Try("CAdmin", "admin",
               "<req><func name='import'><in kind='" + kind + "'>" + rows + "</in></func></req>",
               doc);
  };
  auto reasons = [](const xml::Document& doc) {
    std::string out;
    for (const xml::Node& refused : doc.SelectNodes("//out/import/refused")) {
      out += refused.Attr("line") + ": " + refused.Attr("reason") + "\n";
    }
    return out;
  };
  xml::Document doc;
  ASSERT_EQ(import("item",
                   "<row line='2' code='20102' name='Transport' type='201'/>"
                   "<row line='3' code='202' name='Meals' type='999'/>"
                   "<row line='4' code='20201' name='Lunch' type='201' parent='202'/>"
                   "<row line='5' code='20101' name='Hotel again' type='201'/>",
                   &doc),
            "");
  EXPECT_EQ(reasons(doc), "3: " + Text("Q7.Rembiz.0011") + "\n4: " + Text("Q7.Rembiz.0006") +
                              "\n5: " + Text("Q7.Rembiz.0007") + "\n");
  EXPECT_EQ(Scalar("select count(*) from EC_IOItem"), "2");
  ASSERT_EQ(import("item",
                   "<row line='2' code='20102' name='Transport' type='201'/>"
                   "<row line='3' code='202' name='Meals' type='201'/>"
                   "<row line='4' code='20201' name='Lunch' type='201'/>",
                   &doc),
            "");
  EXPECT_EQ(doc.SelectSingleNode("//out/import").Attr("added"), "3");
  // The class keeps its tree: 202 is no last level any more.
  EXPECT_EQ(Scalar("select cast(blnEnd as int) from EC_IOItem where strCode = '202'"), "0");

  // Place grades 01 City and 02 Town, person grades 01 and 02; then districts.
  Do("CStand", "admin",
     "<req><func name='saveeffectvalue'><in><d strItem='2'><rows><row P='1' strName='City'/>"
     "<row P='1' strName='Town'/></rows></d></in></func><func name='saveeffectvalue'><in>"
     "<d strItem='1'><rows><row P='1' strName='Manager'/><row P='1' strName='Staff'/></rows>"
     "</d></in></func></req>");
  ASSERT_EQ(import("district",
                   "<row line='2' code='01' name='North' grade='02'/>"
                   "<row line='3' code='0101' name='Capital' grade='01' parent='01'/>"
                   "<row line='4' code='0102' name='Harbour' grade='07'/>",
                   &doc),
            "");
  EXPECT_EQ(reasons(doc), "4: " + Text("Rembiz.Master.GradeUnknown") + "\n");
  EXPECT_EQ(Scalar("select count(*) from EC_Position"), "0");
  ASSERT_EQ(import("district",
                   "<row line='2' code='01' name='North' grade='02'/>"
                   "<row line='3' code='0101' name='Capital' grade='01' parent='01'/>",
                   &doc),
            "");
  EXPECT_EQ(Scalar("select strUpCode from EC_Position where strPositionCode = '0101'"), "01");

  // A hotel standard by person grade and receipt bracket.
  Do("CStand", "admin",
     "<req><func name='savestand'><in><s><rows><row P='1' strStandName='Hotel standard' "
     "strIOCode='20101' strControlType='严格控制'/></rows></s></in></func></req>");
  std::string guid = Scalar("select GUID from EC_Expense");
  Do("CStand", "admin",
     "<req><func name='saveeffect'><in><s GUID='" + guid +
         "'><rows><row id='1'/><row id='4'/></rows></s></in></func><func "
         "name='saveeffectvalue'><in><s GUID='" +
         guid +
         "' strItem='4'><rows><row P='1' strName='300'/><row P='1' strName='800'/></rows></s>"
         "</in></func></req>");
  ASSERT_EQ(import("standvalue",
                   "<row line='2' standard='Hotel standard' person='1' bracket='1' amount='300'/>"
                   "<row line='3' standard='Hotel standard' person='01' place='01' bracket='02'/>"
                   "<row line='4' standard='Motel standard' person='01' bracket='01'/>"
                   "<row line='5' standard='Hotel standard' person='03' bracket='01'/>"
                   "<row line='6' standard='Hotel standard' person='02' bracket='01' rate='150'/>",
                   &doc),
            "");
  EXPECT_EQ(reasons(doc), "3: " + Text("Rembiz.Master.StandValueDimensions") +
                              "\n4: " + Text("Rembiz.Admin.UnknownStandard", "Motel standard") +
                              "\n5: " + Text("Rembiz.Master.DimensionValueUnknown") +
                              "\n6: " + Text("Q7.Rembiz.0063") + "\n");
  EXPECT_EQ(Scalar("select count(*) from EC_StandSet"), "0");
  ASSERT_EQ(import("standvalue",
                   "<row line='2' standard='Hotel standard' person='1' bracket='1' amount='300'/>"
                   "<row line='3' standard='Hotel standard' person='02' bracket='02' "
                   "amount='500' rate='50'/>",
                   &doc),
            "");
  EXPECT_EQ(Scalar("select strField4 from EC_StandSet where strField1 = '01'"), "01");
  // The same combination twice is the class's refusal too; a change goes through it as well.
  EXPECT_EQ(Admin("standvalue", "<row P='1' standard='Hotel standard' person='01' bracket='01'/>"),
            Text("Q7.Rembiz.0064"));
  xml::Document listed;
  Do("CAdmin", "admin", "<req><func name='list'><in kind='standvalue'/></func></req>", &listed);
  xml::Node row = listed.SelectSingleNode("//out/rows/row[@person='01']");
  ASSERT_EQ(Admin("standvalue",
                  "<row P='2' standard='Hotel standard' person='01' bracket='01' "
                  "amount='320' id='" +
                      row.Attr("id") + "' ts='" + row.Attr("ts") + "'/>"),
            "");
  EXPECT_EQ(Scalar("select dblMoney from EC_StandSet where strField1 = '01'"), "320");
  EXPECT_EQ(Admin("standvalue", "<row P='3' standard='Hotel standard' id='" + row.Attr("id") +
                                    "' ts='" + row.Attr("ts") + "'/>"),
            Text("Q7.Rembiz.0048"));
}

}  // namespace
}  // namespace rembiz::admin
