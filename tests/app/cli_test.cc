#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "host/database_setup.h"
#include "support/demo_fixture.h"
#include "support/program.h"

namespace rembiz::app {
namespace {

using Result = testing::ProgramResult;

Result RunRembiz(const std::string& args) { return testing::RunCommand(testing::Rembiz(args)); }

class CliTest : public testing::DemoTest {
 protected:
  std::string DataArg() { return DataArgs(); }
  std::string WriteRequest(const std::string& text) {
    auto path = Scratch() / "request.xml";
    std::ofstream(path) << text;
    return "'" + path.string() + "'";
  }
};

TEST_F(CliTest, CallAnswersTheDocumentAndRefusesBadInput) {
  Result r =
      RunRembiz("call CLoan " + WriteRequest("<req><func name='nosuch'/></req>") + " " + DataArg());
  EXPECT_EQ(r.code, 0) << r.out;
  EXPECT_NE(r.out.find("<func name=\"nosuch\"><out/></func>"), std::string::npos) << r.out;

  r = RunRembiz("call CNoSuch " + WriteRequest("<req/>") + " " + DataArg());
  EXPECT_EQ(r.code, 2);
  EXPECT_NE(r.out.find("unknown class"), std::string::npos) << r.out;
  r = RunRembiz("call CLoan " + WriteRequest("<req><func></req>") + " " + DataArg());
  EXPECT_EQ(r.code, 2);
  EXPECT_NE(r.out.find("not well-formed"), std::string::npos) << r.out;
  r = RunRembiz("call CLoan /no/such/file.xml " + DataArg());
  EXPECT_EQ(r.code, 2);

  // A refused entry task replaces the document: exit code 1.
  r = RunRembiz("call CMakePZ " + WriteRequest("<req><func name='makepz'/></req>") + " " +
                DataArg() + " --user clerk");
  EXPECT_EQ(r.code, 1) << r.out;
  EXPECT_NE(r.out.find("<error>"), std::string::npos) << r.out;
}

TEST_F(CliTest, SqlPrintsRowsAndInitRefusesToOverwrite) {
  Result r = RunRembiz("sql " + DataArg() +
                       " \"select cUser_Id from qdsystem..UA_User where cUser_Id='clerk'\"");
  EXPECT_EQ(r.code, 0) << r.out;
  EXPECT_NE(r.out.find("clerk"), std::string::npos);
  EXPECT_NE(r.out.find("(1 row)"), std::string::npos);

  r = RunRembiz("sql " + DataArg() + " --xml \"select cUser_Id from qdsystem..UA_User where 1=2\"");
  EXPECT_EQ(r.code, 0) << r.out;
  EXPECT_NE(r.out.find("s:AttributeType name='cUser_Id'"), std::string::npos) << r.out;

  r = RunRembiz("sql " + DataArg() + " \"select nosuchcolumn from nosuchtable\"");
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.out.find("nosuchtable"), std::string::npos) << r.out;

  r = RunRembiz("init --demo " + DataArg());
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.out.find("--force"), std::string::npos) << r.out;

  r = RunRembiz("sql --data /no/such/dir \"select 1\"");
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.out.find("not found"), std::string::npos) << r.out;
}

TEST_F(CliTest, DemoWalksTheWholeRoadOfAClaim) {
  std::string where = FreshDataArgs("road");
  Result r = RunRembiz("demo " + where);
  EXPECT_EQ(r.code, 0) << r.out;
  for (const char* seen :
       {"approved by: Anna Approver", "budget consumed: 1000",
        "loan row returned: 800 of 800, settled 1", "loan returned: 800 of 800, settled 1",
        "payment id: NB", "ledger voucher: 记-3-1", "total: debit 1800.00, credit 1800.00",
        "The claim went the whole road."}) {
    EXPECT_NE(r.out.find(seen), std::string::npos) << seen << "\n" << r.out;
  }
  // A second walk refuses to overwrite the databases it made.
  EXPECT_EQ(RunRembiz("demo " + where).code, 1);
}

// A second account joins a data location without touching the first: both log in and save,
// the first one's vouchers and registration stay, and a repeated or misplaced init is refused.
TEST_F(CliTest, InitAddsAnAccountBesideTheOthers) {
  const std::string where = FreshDataArgs("accounts");
  Result r = RunRembiz("init --demo --account 002 " + where);
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.out.find("account 001"), std::string::npos) << r.out;
  ASSERT_EQ(RunRembiz("init --demo " + where).code, 0);
  auto loan = [&](const std::string& number) {
    return WriteRequest(
        "<req><func name='savevouch'><in><xml><head blnBegin='0'><z:row strTypeCode='301' "
        "strVouchID='" +
        number + "' dtLoanDate='" + host::CurrentYearText() +
        "-03-05T00:00:00' strDepartID='0201' strLoanID='0002' strBill='人民币' fltRate='1' "
        "dblMoney='800' dblOldMoney='800' strUsed='出差' strPersonID='Demo Admin'/></head>"
        "<body><row strBalanceID='1' dblMoney='500'/></body></xml></in></func></req>");
  };
  auto list = [&](const std::string& account) {
    return RunRembiz("sql " + where + " --account " + account +
                     " \"select strVouchID from EC_LoanVouch where strVouchID like 'ACC%' "
                     "order by 1\"");
  };
  r = RunRembiz("call CLoan " + loan("ACC001") + " " + where);
  ASSERT_EQ(r.code, 0) << r.out;

  r = RunRembiz("init --demo --account 002 " + where);
  ASSERT_EQ(r.code, 0) << r.out;
  EXPECT_NE(r.out.find("Added account 002"), std::string::npos) << r.out;
  r = RunRembiz("call CLoan " + loan("ACC002") + " " + where + " --account 002");
  EXPECT_EQ(r.code, 0) << r.out;
  EXPECT_EQ(r.out.find("<error"), std::string::npos) << r.out;
  EXPECT_NE(list("001").out.find("ACC001"), std::string::npos) << list("001").out;
  EXPECT_EQ(list("001").out.find("ACC002"), std::string::npos) << list("001").out;
  EXPECT_NE(list("002").out.find("ACC002"), std::string::npos) << list("002").out;
  r = RunRembiz("call CLoan " + loan("ACC003") + " " + where);
  EXPECT_EQ(r.code, 0) << r.out;
  EXPECT_NE(list("001").out.find("ACC003"), std::string::npos) << list("001").out;

  // An empty company beside them, for an administrator the system database already knows: no
  // password is asked and the administrator's password stays.
  r = RunRembiz("init --account 003 --admin demo --account-name Third " + where + " </dev/null");
  ASSERT_EQ(r.code, 0) << r.out;
  r = RunRembiz("sql " + where +
                " \"select cAcc_Id, cAcc_Name from qdsystem..UA_Account order by 1\"");
  EXPECT_NE(r.out.find("003"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Third"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("(3 rows)"), std::string::npos) << r.out;
  r = RunRembiz("sql " + where + " --account 003 \"select count(*) from EC_LoanVouch\"");
  EXPECT_EQ(r.code, 0) << r.out;

  r = RunRembiz("init --demo --account 002 " + where);
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.out.find("already exists"), std::string::npos) << r.out;
  EXPECT_NE(list("002").out.find("ACC002"), std::string::npos) << list("002").out;
  r = RunRembiz("init --demo --account 0x2 " + where);
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.out.find("0x2"), std::string::npos) << r.out;

  // --force is what starts over: the system database knows only the account it made.
  r = RunRembiz("init --demo --force " + where);
  ASSERT_EQ(r.code, 0) << r.out;
  r = RunRembiz("sql " + where + " \"select cAcc_Id from qdsystem..UA_Account\"");
  EXPECT_NE(r.out.find("(1 row)"), std::string::npos) << r.out;
  EXPECT_EQ(list("001").out.find("ACC001"), std::string::npos) << list("001").out;

  if (!testing::OnPostgres()) {
    std::filesystem::path other = Scratch() / "not-data";
    std::filesystem::create_directories(other);
    std::ofstream(other / "notes.txt") << "mine";
    r = RunRembiz("init --demo --data '" + other.string() + "'");
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.out.find("is not a data location"), std::string::npos) << r.out;
    EXPECT_FALSE(std::filesystem::exists(other / "qdsystem.db"));
  }
}

}  // namespace
}  // namespace rembiz::app
