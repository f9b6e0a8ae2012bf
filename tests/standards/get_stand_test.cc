#include "standards/get_stand.h"

#include <gtest/gtest.h>

#include "host/messages.h"
#include "support/demo_fixture.h"

namespace rembiz::standards {
namespace {

class GetStandTest : public testing::DemoTest {
 protected:
  std::string Answer(host::Session& session, std::string_view request) {
    xml::Document doc;
    EXPECT_TRUE(doc.LoadXml(request));
    xml::Node func = doc.SelectSingleNode("//func");
    xml::Document answer;
    EXPECT_TRUE(GetStand(session, Cn(), func, answer));
    EXPECT_EQ(answer.DocumentElement().Name(), "Rows");
    return StandRowsXml(session, Cn(), doc.SelectSingleNode("//Rows"));
  }
};

// Row 1 lodging by grade and place, 2 transport by bracket (the receipt as entered), 3 lodging
// without a place, 4 an item without standard, 5 entertainment by grade.
constexpr char kRequest[] =
    "<req><func name='GetStand'><in><Rows>"
    "<r row='1' strDepartID='01' strLoanID='0001' strIOItem='20101' strezero='0101'/>"
    "<r row='2' strIOItem='20102' dblVouch='150' dblNumber='2'/>"
    "<r row='3' strIOItem='20101'/>"
    "<r row='4' strIOItem='203'/>"
    "<r row=\"5&apos;\" strIOItem='202'/>"
    "</Rows></in></func></req>";

TEST_F(GetStandTest, AnswersTheStandardOfEveryRowThatHasOne) {
  EXPECT_EQ(Answer(Session(), kRequest),
            "<Rows><row id='1' strControlType='严格控制' dblMoney='600' dblRate='0' />"
            "<row id='2' strControlType='提示' dblMoney='150' dblRate='50' />"
            "<row id='5&apos;' strControlType='提示' dblMoney='2000' dblRate='0' /></Rows>");

  auto english = SessionFor("demo", "en-US");
  host::SetCurrentLanguage("en-US");
  std::string answer = Answer(*english, kRequest);
  host::SetCurrentLanguage("zh-CN");
  EXPECT_NE(answer.find("<row id='1' strControlType='Strict control' dblMoney='600'"),
            std::string::npos)
      << answer;
  EXPECT_NE(answer.find("<row id='2' strControlType='Warning'"), std::string::npos) << answer;
}

TEST_F(GetStandTest, RefusesARequestWithoutRowsOrWithATextForAnAmount) {
  xml::Document doc;
  ASSERT_TRUE(doc.LoadXml("<req><func name='GetStand'><in/></func></req>"));
  xml::Node func = doc.SelectSingleNode("//func");
  xml::Document answer;
  EXPECT_THROW(GetStand(Session(), Cn(), func, answer), ComError);

  ASSERT_TRUE(doc.LoadXml(
      "<Rows><r row='1' strDepartID='01' strIOItem='20102' dblVouch='1;delete from EC_Expense'/>"
      "</Rows>"));
  EXPECT_THROW(StandRowsXml(Session(), Cn(), doc.DocumentElement()), ComError);
  EXPECT_EQ(Scalar("select count(*) from EC_Expense"), "4");
}

}  // namespace
}  // namespace rembiz::standards
