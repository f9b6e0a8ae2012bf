#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <string>

#include "support/demo_fixture.h"

namespace rembiz::app {
namespace {

struct Result {
  int code;
  std::string out;
};

Result RunRembiz(const std::string& args) {
  std::string command = std::string(REMBIZ_BIN) + " " + args + " 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  std::string out;
  std::array<char, 4096> buf;
  while (size_t n = fread(buf.data(), 1, buf.size(), pipe)) out.append(buf.data(), n);
  int status = pclose(pipe);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
}

class CliTest : public testing::DemoTest {
 protected:
  std::string DataArg() { return "--data '" + Data().Path().string() + "'"; }
  std::string WriteRequest(const std::string& text) {
    auto path = Data().Path() / "request.xml";
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
  std::string dir = "'" + (Data().Path() / "road").string() + "'";
  Result r = RunRembiz("demo --data " + dir);
  EXPECT_EQ(r.code, 0) << r.out;
  for (const char* seen :
       {"approved by: Anna Approver", "budget consumed: 1000",
        "loan row returned: 800 of 800, settled 1", "loan returned: 800 of 800, settled 1",
        "payment id: NB", "ledger voucher: 记-3-1", "total: debit 1800.00, credit 1800.00",
        "The claim went the whole road."}) {
    EXPECT_NE(r.out.find(seen), std::string::npos) << seen << "\n" << r.out;
  }
  // A second walk refuses to overwrite the databases it made.
  EXPECT_EQ(RunRembiz("demo --data " + dir).code, 1);
}

}  // namespace
}  // namespace rembiz::app
