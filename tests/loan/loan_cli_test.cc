#include <gtest/gtest.h>

#include <fstream>

#include "loan/loan_fixture.h"
#include "support/program.h"

namespace rembiz::loan {
namespace {

TEST_F(LoanTest, CliSavesALoanFromARequestFileAndListsIt) {
  std::filesystem::path request = Scratch() / "loan.xml";
  std::ofstream(request) << "<req>" << SaveFunc(Head())
                         << "<func name='getVouchListID'><in><strAutoID/><Director>0</Director>"
                            "</in></func></req>";
  testing::ProgramResult r = testing::RunCommand(
      testing::Rembiz("call CLoan '" + request.string() + "' " + DataArgs() + " --user demo"));
  EXPECT_EQ(r.code, 0) << r.out;
  const std::string& out = r.out;

  std::string id = Column("AutoID", "JK" + Year() + "030001");
  ASSERT_FALSE(id.empty()) << out;
  xml::Document doc;
  ASSERT_TRUE(doc.LoadXml(out)) << out;
  EXPECT_EQ(doc.SelectSingleNode("//func[@name='getVouchListID']/out/Rows/row").Attr("AutoID"), id);
  EXPECT_EQ(doc.SelectSingleNode("//func[@name='getVouchListID']/in/Director").Text(), "3");
}

}  // namespace
}  // namespace rembiz::loan
