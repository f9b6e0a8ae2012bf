// A company built from nothing: `rembiz init` without the demo, the host's data through
// `rembiz admin` and the module's through `rembiz call` (scripts/setup-company, which ends with
// a loan and a claim booked as a ledger voucher), then loans and claims that the limits and the
// standard entered there refuse or accept.
#include <gtest/gtest.h>

#include <fstream>

#include "db/connection.h"
#include "host/database_setup.h"
#include "host/local_session.h"
#include "host/messages.h"
#include "support/demo_fixture.h"
#include "support/program.h"

namespace rembiz::basedata {
namespace {

using testing::ProgramResult;
using testing::Rembiz;
using testing::RunCommand;

class CompanyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = testing::ScratchDir("company");
    location_ = testing::FreshLocation("company");
  }
  void TearDown() override {
    cn_.reset();
    db::ClearConnectionPool();
  }

  std::string DataArg() const { return " " + testing::LocationArgs(location_); }
  std::string Year() const { return host::CurrentYearText(); }

  // `rembiz call CLASS` as the administrator with the request on standard input.
  ProgramResult Call(const std::string& cls, const std::string& request) {
    std::filesystem::path file = dir_ / "request.xml";
    std::ofstream(file) << request;
    return RunCommand(
        Rembiz("call " + cls + " '" + file.string() + "'" + DataArg() + " --user admin"));
  }

  db::Connection& Cn() {
    if (!cn_) {
      cn_ = std::make_unique<db::Connection>();
      cn_->Open(host::DataDir(location_).ConnectionString("001", Year()));
    }
    return *cn_;
  }
  std::string Scalar(const std::string& sql) {
    db::Recordset rs = Cn().Execute(sql);
    return rs.Eof() ? "" : rs.Value(0).ToText();
  }
  // Every row of a query, "a|b|…" per line.
  std::string Rows(const std::string& sql) {
    std::string out;
    db::Recordset rs = Cn().Execute(sql);
    for (const auto& row : rs.Rows()) {
      for (size_t i = 0; i < row.size(); ++i) {
        out += (i ? "|" : "") + (row[i].IsNull() ? std::string("-") : row[i].ToText());
      }
      out += "\n";
    }
    return out;
  }

  std::string Loan(const std::string& number) {
    return "<req><func name='savevouch'><in><xml><head blnBegin='0'><z:row strTypeCode='301' "
           "strVouchID='" +
           number + "' dtLoanDate='" + Year() +
           "-03-05T00:00:00' strDepartID='0201' strLoanID='0002' strBill='人民币' fltRate='1' "
           "dblMoney='1000' dblOldMoney='1000' strUsed='Trip' strPersonID='Administrator'/>"
           "</head><body><row strBalanceID='1' dblMoney='1000'/></body></xml></in></func></req>";
  }
  // A hotel night with a receipt of 250 for Sam (grade 02): the bracket up to 300 allows 200.
  std::string Claim(const std::string& claimed) {
    return "<req><func name='savevouch'><in><xml><head><z:row strTypeCode='201' "
           "strVouchID='ZC0002' dtLoanDate='" +
           Year() +
           "-03-08T00:00:00' strDepartID='0201' strLoanID='0002' strBill='人民币' fltRate='1' "
           "dblMoney='" +
           claimed + "' dblOldMoney='" + claimed +
           "' strUsed='Hotel' strPersonID='Administrator'/></head><body><row strIOItem='20101' "
           "strEZero='0101' dblVouch='250' dblNumber='1' dblMoney='" +
           claimed + "'/></body></xml></in></func></req>";
  }

  std::filesystem::path dir_;  // files of the test
  std::string location_;       // the company's databases
  std::unique_ptr<db::Connection> cn_;
};

TEST_F(CompanyTest, InitWithoutTheDemoMakesAnEmptyCompanyWithOneAdministrator) {
  // No password, none on standard input: refused, nothing created.
  ProgramResult r = RunCommand(Rembiz("init" + DataArg() + " < /dev/null"));
  EXPECT_EQ(r.code, 1) << r.out;
  EXPECT_NE(r.out.find("password"), std::string::npos) << r.out;
  EXPECT_FALSE(host::DataDir(location_).HasSystemDatabase());

  r = RunCommand("echo 's3cret pw' | " + Rembiz("init" + DataArg() + " --admin boss"));
  ASSERT_EQ(r.code, 0) << r.out;
  host::SessionRequest request;
  request.user = "boss";
  auto session = host::LocalSession::Login(host::DataDir(location_), request, "s3cret pw");
  EXPECT_TRUE(session->IsAdmin());
  EXPECT_EQ(session->AccountName(), "Account 001");
  EXPECT_EQ(session->CurrentPeriod() >= 1, true);
  EXPECT_THROW(host::LocalSession::Login(host::DataDir(location_), request, "demo"), ComError);

  EXPECT_EQ(Rows("select cUser_Id from qdsystem..UA_User"), "boss\n");
  // 101-110, and the receipts' limits 111-112.
  EXPECT_EQ(Scalar("select count(*) from accinformation where cSysID = 'EC' and cID like '1%'"),
            "12");
  EXPECT_EQ(Rows("select cValue from accinformation where cID in ('105', '106', '107') order by "
                 "cID"),
            "false\n1222\n222\n");
  for (const char* table :
       {"Department", "Person", "SettleStyle", "EC_OperationType", "EC_IOItem", "EC_Position",
        "EC_Expense", "EC_EISet_NUStand", "EC_PersonCtrl", "EC_LoanVouch", "Host_Budget"}) {
    EXPECT_EQ(Scalar(std::string("select count(*) from ") + table), "0") << table;
  }
  // What lets the first vouchers reach the ledger: lines merged by account, one voucher sign,
  // and per family a flow of one step that the department's head approves.
  EXPECT_EQ(Rows("select cName, cValue from accinformation where cName in ('iokm_km', "
                 "'opkm_km', 'iokm_zy') order by cName"),
            "iokm_km|true\niokm_zy|false\nopkm_km|true\n");
  EXPECT_EQ(Rows("select csign from dsign"), "记\n");
  EXPECT_EQ(Rows("select f.cCardNumber, s.iStep, a.iIsUser from Host_Flow f join Host_FlowStep s "
                 "on s.iFlowId = f.iFlowId join Host_FlowApprover a on a.iFlowId = f.iFlowId "
                 "order by 1"),
            "45|1|2\n46|1|2\n47|1|2\n");
  EXPECT_EQ(Rows("select vt_id from VoucherTemplates order by vt_id"), "11\n12\n21\n22\n31\n32\n");

  r = RunCommand(Rembiz("init" + DataArg() + " --admin-password x"));
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.out.find("--force"), std::string::npos) << r.out;
}

TEST_F(CompanyTest, ACompanySetUpThroughTheClassesControlsItsVouchers) {
  ProgramResult r =
      RunCommand("REMBIZ=" + std::string(REMBIZ_BIN) + " '" + std::string(REMBIZ_SOURCE_DIR) +
                 "/scripts/setup-company' '" + location_ + "' 'pw'");
  ASSERT_EQ(r.code, 0) << r.out;

  // What the classes stored.
  EXPECT_EQ(Rows("select cName, cValue from accinformation where cID in ('102', '107') order "
                 "by cID"),
            "intExpireDays|45\nstrZeroLevel|22\n");
  EXPECT_EQ(Rows("select intType, strCode, strName, strShowModel, strPrintModel from "
                 "EC_OperationType order by strCode"),
            "2|201|Travel claim|31|32\n3|301|Travel advance|11|12\n");
  EXPECT_EQ(Rows("select strCode, strUpCode, blnEnd, strTypeCode from EC_IOItem order by "
                 "strCode"),
            "201|2|False|201\n20101|201|True|201\n20102|201|True|201\n");
  EXPECT_EQ(Rows("select intEICode, strEICode, strEIName from EC_EISet_NUStand order by 1, 2"),
            "1|01|Manager\n1|02|Staff\n2|01|City\n2|02|Town\n");
  EXPECT_EQ(Rows("select strPositionCode, strUpCode, strGradeID from EC_Position order by 1"),
            "01|-|02\n0101|01|01\n");
  EXPECT_EQ(Rows("select strPersonCode, strGradeID, blnNumber, intNumber, strNumCtrType, blnDay, "
                 "blnMoney from EC_PersonCtrl order by 1"),
            "0001|01|False|-|0|False|False\n0002|02|True|1|1|False|False\n");
  EXPECT_EQ(Rows("select strPersonCode, strBankAcc, blnDefault from EC_PersonAcc"),
            "0002|6222 0000 1111|True\n");
  EXPECT_EQ(Rows("select strStandName, strIOItemCode, strControlType from EC_Expense"),
            "Hotel standard|20101|严格控制\n");
  EXPECT_EQ(Rows("select strDepartID from EC_ExpenseDepart order by 1"), "01\n0201\n");
  EXPECT_EQ(Rows("select intEDCode from EC_EffectItem order by 1"), "1\n4\n");
  EXPECT_EQ(Rows("select strEICode, strEIName from EC_EISet_Stand order by 1"), "01|300\n02|800\n");
  EXPECT_EQ(Rows("select strField1, strField4, dblMoney, dblRate from EC_StandSet order by 1, 2"),
            "01|01|300|0\n01|02|500|50\n02|01|200|0\n02|02|300|50\n");

  // The script's road: Sam's loan and claim, approved by Bea as the head of his department,
  // one balanced ledger voucher of the company's sign.
  EXPECT_EQ(Rows("select strVouchID, strAuditorID, strMakerID from EC_LoanVouch"),
            "JK0001|Bea Boss|Bea Boss\n");
  EXPECT_EQ(Rows("select strVouchID, strAuditorID, strVerifier, strMakerID from EC_ExpenVouch"),
            "ZC0001|Bea Boss|Bea Boss|Bea Boss\n");
  EXPECT_EQ(Rows("select ccode, md, mc from GL_accvouch where csign = '记' order by inid"),
            "1221|800|0\n1001|0|800\n660201|200|0\n1221|0|200\n");

  // A loan not yet approved, then one more, which Sam's limit of one open loan refuses (the
  // booked loan no longer counts).
  r = Call("CLoan", Loan("JK0002"));
  ASSERT_EQ(r.code, 0) << r.out;
  r = Call("CLoan", Loan("JK0003"));
  EXPECT_EQ(r.code, 1) << r.out;
  EXPECT_NE(r.out.find(host::MessageText("Q7.Rembiz.0232", "", "1", "1")), std::string::npos)
      << r.out;
  EXPECT_EQ(Scalar("select count(*) from EC_LoanVouch"), "2");

  // A claim of 250 for the night is above the hard standard (200 allowed) and is refused;
  // 200 is accepted.
  r = Call("CExpense", Claim("250"));
  EXPECT_NE(r.out.find("Hotel standard"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("<error>"), std::string::npos) << r.out;
  EXPECT_EQ(Scalar("select count(*) from EC_ExpenVouch"), "1");
  r = Call("CExpense", Claim("200"));
  ASSERT_EQ(r.out.find("<error>"), std::string::npos) << r.out;
  EXPECT_EQ(Rows("select h.strVouchID, h.strLoanID, s.strIOItem, s.strEZero, s.dblVouch, "
                 "s.dblMoney from EC_ExpenVouch h join EC_ExpenVouch_Sub s on s.MGuid = h.GUID "
                 "order by h.strVouchID"),
            "ZC0001|0002|20101|0101|250|200\nZC0002|0002|20101|0101|250|200\n");
}

}  // namespace
}  // namespace rembiz::basedata
