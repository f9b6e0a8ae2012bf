#include "host/ageing.h"

#include <gtest/gtest.h>

#include "host/messages.h"
#include "support/demo_fixture.h"

namespace rembiz::host {
namespace {

class AgeingTest : public testing::DemoTest {
 protected:
  std::string Get(const std::string& type, const std::string& system = "EC") {
    return ageing_->getAge(Cn(), system, type);
  }
  // Saves `xml`, expecting a refusal with the text of `key` (period `p1`) when one is given.
  void Save(const std::string& xml, const std::string& key = "", const std::string& p1 = "",
            const std::string& system = "EC") {
    std::string refusal;
    try {
      ageing_->SaveAge(Cn(), system, xml);
    } catch (const ComError& e) {
      EXPECT_EQ(e.Number(), 9000) << xml;
      refusal = e.Description();
    }
    EXPECT_EQ(refusal, key.empty() ? "" : MessageText(key, "", p1)) << xml;
  }
  std::unique_ptr<Ageing> ageing_ = CreateAgeing();
};

TEST_F(AgeingTest, PeriodsRoundTripPerTypeWithAnOpenLastBound) {
  Save(
      "<age type='9'><row cdays='30' name='30天以内'/><row cdays=' 90 ' name='90天以内'/>"
      "<row cdays='' name=\"90 &amp; 'more'\"/></age>");
  EXPECT_EQ(Get("9"),
            "<age systemid='EC' type='9'><row no='1' cdays='30' name='30天以内'/>"
            "<row no='2' cdays='90' name='90天以内'/>"
            "<row no='3' cdays='' name='90 &amp; &apos;more&apos;'/></age>");
  // A type without periods, and another system, answer an empty list.
  EXPECT_EQ(Get("8"), "<age systemid='EC' type='8'></age>");
  EXPECT_EQ(Get("9", "GL"), "<age systemid='GL' type='9'></age>");

  // Several types in one document replace only theirs; the type defaults to 1.
  Save(
      "<ages><age type='9'><row cdays='7' name='a week'/></age><age><row cdays='1' name='a "
      "day'/><row name='later' cname='ignored'/></age></ages>");
  EXPECT_EQ(Get("9"), "<age systemid='EC' type='9'><row no='1' cdays='7' name='a week'/></age>");
  EXPECT_EQ(Get("1"),
            "<age systemid='EC' type='1'><row no='1' cdays='1' name='a day'/>"
            "<row no='2' cdays='' name='later'/></age>");
  EXPECT_EQ(Scalar("select count(*) from Host_AgePeriod where cSysId = 'EC' and cAgeType = '9'"),
            "1");
}

TEST_F(AgeingTest, ARefusedDefinitionChangesNoPeriod) {
  Save("<age type='9'><row cdays='30' name='month'/><row name='older'/></age>");
  const std::string before = Dump("Host_AgePeriod");
  Save("<age", "Rembiz.Report.AgeBadDocument");
  Save("<age type='9'/>", "Rembiz.Report.AgeBadDocument");
  Save("<ages><other/></ages>", "Rembiz.Report.AgeBadDocument");
  // Bounds grow, are whole days, and only the last may be open.
  Save("<age type='9'><row cdays='30' name='a'/><row cdays='30' name='b'/></age>",
       "Rembiz.Report.AgeBadBound", "2");
  Save("<age type='9'><row cdays='30' name='a'/><row cdays='20' name='b'/></age>",
       "Rembiz.Report.AgeBadBound", "2");
  Save("<age type='9'><row cdays='' name='a'/><row cdays='20' name='b'/></age>",
       "Rembiz.Report.AgeBadBound", "1");
  for (const char* days : {"-1", "1.5", "1e3", "9999999", "30 or 1=1"}) {
    Save(std::string("<age type='9'><row cdays='") + days + "' name='a'/></age>",
         "Rembiz.Report.AgeBadBound", "1");
  }
  Save("<age type='9'><row cdays='5' name='a'/><row cdays='6' name=' '/></age>",
       "Rembiz.Report.AgeBadName", "2");
  // A bad second type keeps the good first one from being written.
  Save(
      "<ages><age type='9'><row cdays='1' name='x'/></age><age type=\"x'y\"><row cdays='1' "
      "name='x'/></age></ages>",
      "Rembiz.Report.AgeBadType");
  Save("<age type=''><row cdays='1' name='x'/></age>", "Rembiz.Report.AgeBadType");
  Save("<age><row cdays='1' name='x'/></age>", "Rembiz.Report.AgeBadType", "", "E'C");
  EXPECT_EQ(Dump("Host_AgePeriod"), before);

  try {
    Get("x'y");
    ADD_FAILURE() << "a quote in the type was accepted";
  } catch (const ComError& e) {
    EXPECT_EQ(e.Description(), MessageText("Rembiz.Report.AgeBadType"));
  }
  EXPECT_NE(Get("9").find("month"), std::string::npos);
}

}  // namespace
}  // namespace rembiz::host
