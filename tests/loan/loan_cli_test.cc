#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <fstream>

#include "loan/loan_fixture.h"

namespace rembiz::loan {
namespace {

TEST_F(LoanTest, CliSavesALoanFromARequestFileAndListsIt) {
  std::filesystem::path request = Scratch() / "loan.xml";
  std::ofstream(request) << "<req>" << SaveFunc(Head())
                         << "<func name='getVouchListID'><in><strAutoID/><Director>0</Director>"
                            "</in></func></req>";
  std::string command = std::string(REMBIZ_BIN) + " call CLoan '" + request.string() + "' " +
                        DataArgs() + " --user demo 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string out;
  std::array<char, 4096> buf;
  while (size_t n = fread(buf.data(), 1, buf.size(), pipe)) out.append(buf.data(), n);
  int status = pclose(pipe);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << out;

  std::string id = Column("AutoID", "JK" + Year() + "030001");
  ASSERT_FALSE(id.empty()) << out;
  xml::Document doc;
  ASSERT_TRUE(doc.LoadXml(out)) << out;
  EXPECT_EQ(doc.SelectSingleNode("//func[@name='getVouchListID']/out/Rows/row").Attr("AutoID"), id);
  EXPECT_EQ(doc.SelectSingleNode("//func[@name='getVouchListID']/in/Director").Text(), "3");
}

}  // namespace
}  // namespace rembiz::loan
