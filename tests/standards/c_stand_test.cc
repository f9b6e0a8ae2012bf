// CStand: maintenance of the standards, their departments, dimensions, values and value rows,
// and a standard entered through it controlling the claim check.
#include "standards/c_stand.h"

#include <gtest/gtest.h>

#include "host/messages.h"
#include "standards/standard_check.h"
#include "support/demo_fixture.h"
#include "support/golden.h"

namespace rembiz::standards {
namespace {

constexpr char kLodging[] = "{EC5D0001-0000-4000-8000-000000000001}";    // 20101, grade+place
constexpr char kTransport[] = "{EC5D0003-0000-4000-8000-000000000003}";  // 20102, brackets

class CStandTest : public testing::DemoTest {
 protected:
  // An operation on a standard: <in><s GUID=… attrs><rows>lines</rows></s></in>.
  xml::Document Op(const std::string& name, const std::string& guid, const std::string& lines = "",
                   const std::string& attrs = "") {
    return Call("CStand", "<req><func name='" + name + "'><in><s GUID='" + guid + "' " + attrs +
                              "><rows>" + lines + "</rows></s></in></func></req>");
  }
  static std::string Error(const xml::Document& doc) {
    return doc.SelectSingleNode("//out/error/text").Text();
  }
  static std::string Text(const std::string& key) { return host::MessageText(key); }
  std::string Ts(const std::string& table, const std::string& where) {
    return Scalar("select ts from " + table + " where " + where);
  }
  // The standard tables, to show that a refused request changed nothing.
  std::string State() {
    return Dump("EC_Expense") + Dump("EC_ExpenseDepart") + Dump("EC_EffectItem") +
           Dump("EC_EISet_Stand") + Dump("EC_EISet_NUStand") + Dump("EC_StandSet");
  }
  // A new standard's GUID, by name.
  std::string Guid(const std::string& name) {
    return Scalar("select GUID from EC_Expense where strStandName = '" + name + "'");
  }
};

TEST_F(CStandTest, ReadsAnswerRowsInTheSessionLanguage) {
  std::string reads =
      "<req><func name='getstand'/>"
      "<func name='getdepart'><in><s GUID='" +
      std::string(kLodging) + "'/></in></func><func name='geteffect'><in><s GUID='" + kTransport +
      "'/></in></func><func name='geteffectvalue'><in><s GUID='" + kTransport +
      "' strItem='4'/></in></func><func name='geteffectvalue'><in><s strItem='1'/></in></func>"
      "<func name='getset'><in><s GUID='" +
      kLodging +
      "'/></in></func>"
      // Without a standard there are no brackets and no value rows to list.
      "<func name='geteffectvalue'><in><s strItem='4'/></in></func>"
      "<func name='getset'><in><s/></in></func></req>";
  testing::ExpectGolden("standards/golden/reads.xml", Call("CStand", reads).Xml());

  auto english = SessionFor("demo", "en-US");
  xml::Document doc = Call("CStand", "<req><func name='getstand'/></req>", english.get());
  EXPECT_EQ(doc.SelectSingleNode("//row[@strIOCode='20101']").Attr("strControlType"),
            "Strict control");
  EXPECT_EQ(doc.SelectSingleNode("//row[@strIOCode='202']").Attr("strControlType"), "Warning");
}

TEST_F(CStandTest, AStandardEnteredHereControlsTheClaimCheck) {
  // Office costs (203) in 0201, by person grade; hard control, sent in English.
  auto english = SessionFor("demo", "en-US");
  xml::Document doc = Call("CStand",
                           "<req><func name='savestand'><in><s><rows><r P='1' "
                           "strStandName=\"Office 'A'\" strIOCode='203' "
                           "strControlType='Strict control'/></rows></s></in></func></req>",
                           english.get());
  ASSERT_EQ(Error(doc), "") << doc.Xml();
  std::string guid = Guid("Office ''A''");
  EXPECT_EQ(Scalar("select strControlType from EC_Expense where GUID = '" + guid + "'"),
            "严格控制");
  doc = Call("CStand", "<req><func name='savedepart'><in><s GUID='" + guid +
                           "'><r><row id='0201'/></r></s></in></func>"
                           "<func name='saveeffect'><in><s GUID='" +
                           guid +
                           "'><r><row id='1'/></r></s></in></func>"
                           "<func name='saveset'><in><s GUID='" +
                           guid +
                           "'><r><row P='1' strPerID='02' dblMoney='100' dblRate='100'/>"
                           "</r></s></in></func></req>");
  ASSERT_EQ(Error(doc), "") << doc.Xml();

  ClaimRowValues row;
  row.item = "203";
  row.department = "0201";
  row.claimant = "0002";  // grade 02
  row.claimed = 120;
  row.receipt = 110;
  StandardOutcome outcome = StandardCheck(Session(), Cn(), row);
  EXPECT_EQ(outcome.guid, guid);
  EXPECT_TRUE(outcome.StopsSave());
  EXPECT_DOUBLE_EQ(outcome.allowed, 110);  // 100 + all of the receipt above it
  row.claimed = 110;
  EXPECT_FALSE(StandardCheck(Session(), Cn(), row).Breaks());
  row.claimant = "0001";  // grade 01 has no value row
  EXPECT_EQ(StandardCheck(Session(), Cn(), row).message_key, "Q7.Rembiz.0037");
}

TEST_F(CStandTest, OneStandardPerItemAndDepartment) {
  std::string before = State();
  // 交通费标准 (20102) cannot move to 20101, whose standard covers the same departments.
  std::string ts = Ts("EC_Expense", "GUID = '" + std::string(kTransport) + "'");
  xml::Document doc = Op("savestand", "",
                         "<r P='2' GUID='" + std::string(kTransport) + "' ts='" + ts +
                             "' strStandName='x' strIOCode='20101' strControlType='提示'/>");
  EXPECT_EQ(Error(doc), host::MessageText("Q7.Rembiz.0068", "", "住宿费"));
  EXPECT_EQ(Error(Op("savestand", "",
                     "<r P='1' strStandName='住宿费标准' strIOCode='20102' "
                     "strControlType='提示'/>")),
            Text("Q7.Rembiz.0071"));
  EXPECT_EQ(Error(Op("savestand", "",
                     "<r P='1' strStandName='x' strIOCode='201' "
                     "strControlType='提示'/>")),
            Text("Rembiz.Master.ItemUnknown"));  // not a last-level item
  EXPECT_EQ(Error(Op("savestand", "", "<r P='1' strStandName='x' strIOCode='203'/>")),
            Text("Q7.Rembiz.0067"));
  EXPECT_EQ(State(), before);

  // A second standard of 20101 may not take a department the first one has.
  doc = Call("CStand",
             "<req><func name='savestand'><in><s><r><r P='1' strStandName='二' strIOCode='20101' "
             "strControlType='提示'/></r></s></in></func></req>");
  ASSERT_EQ(Error(doc), "");
  std::string second = Guid("二");
  EXPECT_EQ(Error(Op("savedepart", second, "<row id='03'/><row id='0201'/>")),
            Text("Q7.Rembiz.0074"));
  EXPECT_EQ(Error(Op("savedepart", second, "<row id='99'/>")), Text("Q7.Rembiz.0073"));
  EXPECT_EQ(Error(Op("savedepart", "{NO-SUCH}", "")), Text("Q7.Rembiz.0021"));
  EXPECT_EQ(Error(Op("savedepart", second, "", "ts='1'")), Text("Q7.Rembiz.0047"));
  EXPECT_EQ(Scalar("select count(*) from EC_ExpenseDepart where GuidMain = '" + second + "'"), "0");
}

TEST_F(CStandTest, StandardsAndValuesInUseStay) {
  // A standard with departments (the claims of those departments are under it) stays.
  std::string before = State();
  std::string ts = Ts("EC_Expense", "GUID = '" + std::string(kLodging) + "'");
  EXPECT_EQ(
      Error(Op("savestand", "", "<r P='3' GUID='" + std::string(kLodging) + "' ts='" + ts + "'/>")),
      Text("Q7.Rembiz.0069"));
  EXPECT_EQ(Error(Op("saveeffect", kLodging, "<row id='1'/>")), Text("Q7.Rembiz.0056"));
  auto value = [&](const std::string& item, const std::string& line, const std::string& guid = "") {
    return Error(Op("saveeffectvalue", guid, line, "strItem='" + item + "'"));
  };
  auto del = [&](const std::string& item, const std::string& code) {
    return value(item, "<r P='3' strCode='" + code + "' ts='" +
                           Ts("EC_EISet_NUStand",
                              "intEICode = " + item + " and strEICode = '" + code + "'") +
                           "'/>");
  };
  EXPECT_EQ(del("1", "01"), Text("Q7.Rembiz.0059"));  // value rows grade by it
  EXPECT_EQ(del("3", "02"), Text("Q7.Rembiz.0059"));
  EXPECT_EQ(value("4", "<r P='1' strName='1000 or 1=1'/>", kTransport),
            Text("Rembiz.Master.BracketNotNumber"));
  EXPECT_EQ(value("4", "<r P='1' strName='200'/>", kTransport), Text("Q7.Rembiz.0372"));
  EXPECT_EQ(value("5", "<r P='1' strName='x'/>"), Text("Q7.Rembiz.0058"));
  EXPECT_EQ(value("1", "<r P='2' strCode='01' strName='x' ts='1'/>"), Text("Q7.Rembiz.0047"));
  EXPECT_EQ(value("1", "<r P='3' strCode='03' ts='1'/>"), Text("Q7.Rembiz.0059"));
  EXPECT_EQ(State(), before);

  // Grades assigned to persons and places stay; the next code follows the highest.
  xml::Document doc =
      Op("saveeffectvalue", "", "<r P='1' strName=\"高级'经理\"/><r P='1' strName='实习'/>",
         "strItem='1'");
  ASSERT_EQ(Error(doc), "");
  EXPECT_EQ(Scalar("select group_concat(strEICode || strEIName, ',') from EC_EISet_NUStand "
                   "where intEICode = 1 and strEICode > '03'"),
            "04高级'经理,05实习");
  Cn().Execute("update EC_PersonCtrl set strGradeID = '04' where strPersonCode = '0001'");
  EXPECT_EQ(del("1", "04"), Text("Q7.Rembiz.0060"));
  EXPECT_EQ(del("1", "05"), "");
  Cn().Execute(
      "insert into EC_EISet_NUStand (intEICode, strEICode, strEIName) values (2, '04', "
      "'四类地区')");
  Cn().Execute("update EC_Position set strGradeID = '04' where strPositionCode = '0102'");
  EXPECT_EQ(del("2", "04"), Text("Q7.Rembiz.0061"));
  Cn().Execute(
      "insert into EC_EISet_NUStand (intEICode, strEICode, strEIName) values (3, '99', "
      "'船')");
  EXPECT_EQ(value("3", "<r P='1' strName='火箭'/>"), Text("Q7.Rembiz.0057"));
}

TEST_F(CStandTest, ValueRowsGiveTheStandardsDimensionsOnly) {
  std::string before = State();
  auto set = [&](const std::string& line) { return Error(Op("saveset", kLodging, line)); };
  EXPECT_EQ(set("<r P='1' dblMoney='1'/>"), Text("Q7.Rembiz.0062"));
  EXPECT_EQ(set("<r P='1' strPerID='01' strZeroID='04' dblRate='100.5'/>"), Text("Q7.Rembiz.0063"));
  EXPECT_EQ(set("<r P='1' strPerID='01' dblMoney='1'/>"),
            Text("Rembiz.Master.StandValueDimensions"));
  EXPECT_EQ(set("<r P='1' strPerID='01' strZeroID='01' strToolID='01' dblMoney='1'/>"),
            Text("Rembiz.Master.StandValueDimensions"));
  EXPECT_EQ(set("<r P='1' strPerID='01' strZeroID='09' dblMoney='1'/>"),
            Text("Rembiz.Master.DimensionValueUnknown"));
  EXPECT_EQ(set("<r P='1' strPerID='01' strZeroID='01' dblMoney='1'/>"), Text("Q7.Rembiz.0064"));
  const std::string row = "{EC5E0101-0000-4000-8000-000000000101}";
  std::string ts = Ts("EC_StandSet", "GUID = '" + row + "'");
  EXPECT_EQ(set("<r P='2' GUID='" + row + "' ts='1' strPerID='01' strZeroID='01'/>"),
            Text("Q7.Rembiz.0047"));
  EXPECT_EQ(set("<r P='3' GUID='" + row + "' ts='1;delete from EC_StandSet'/>"),
            Text("Q7.Rembiz.0048"));
  EXPECT_EQ(Error(Op("saveset", kTransport, "<r P='3' GUID='" + row + "' ts='" + ts + "'/>")),
            Text("Q7.Rembiz.0048"));  // a row of another standard
  EXPECT_EQ(Error(Op("saveset", "{NO-SUCH}", "<r P='1' strPerID='01'/>")), Text("Q7.Rembiz.0021"));
  EXPECT_EQ(State(), before);

  EXPECT_EQ(set("<r P='2' GUID='" + row + "' ts='" + ts +
                "' strPerID='01' strZeroID='01' dblMoney='650' dblRate='100'/>"),
            "");
  EXPECT_EQ(Scalar("select dblMoney from EC_StandSet where GUID = '" + row + "'"), "650");
  EXPECT_EQ(Scalar("select dblRate from EC_StandSet where GUID = '" + row + "'"), "100");
}

TEST_F(CStandTest, StaleVersionsAndUnknownStandardsChangeNothing) {
  std::string before = State();
  std::string ts = Ts("EC_Expense", "GUID = '" + std::string(kTransport) + "'");
  const std::string line = "' strStandName='x' strIOCode='20102' strControlType='提示'/>";
  EXPECT_EQ(
      Error(Op("savestand", "", "<r P='2' GUID='" + std::string(kTransport) + "' ts='1" + line)),
      Text("Q7.Rembiz.0047"));
  EXPECT_EQ(Error(Op("savestand", "", "<r P='2' GUID='{NO-SUCH}' ts='" + ts + line)),
            Text("Q7.Rembiz.0047"));
  EXPECT_EQ(Error(Op("savestand", "", "<r P='3' GUID='{NO-SUCH}' ts='" + ts + "'/>")),
            Text("Q7.Rembiz.0048"));
  EXPECT_EQ(Error(Op("savestand", "", "<r P='0' GUID='" + std::string(kTransport) + "'/>")),
            Text("Q7.Rembiz.0048"));
  EXPECT_EQ(Error(Op("saveeffect", "{NO-SUCH}", "<row id='1'/>")), Text("Q7.Rembiz.0021"));
  EXPECT_EQ(Error(Op("saveeffect", kTransport, "<row id='1'/>", "ts='1'")), Text("Q7.Rembiz.0047"));
  EXPECT_EQ(Error(Op("saveeffectvalue", "{NO-SUCH}", "<r P='1' strName='900'/>", "strItem='4'")),
            Text("Q7.Rembiz.0021"));
  EXPECT_EQ(
      Error(Op("saveeffectvalue", kTransport, "<r P='3' strCode='03' ts='1'/>", "strItem='4'")),
      Text("Q7.Rembiz.0059"));  // the 500 bracket has a value row
  Cn().Execute("insert into EC_EISet_Stand (GUIDStand, strEICode, strEIName) values ('" +
               std::string(kTransport) + "', '04', '900')");
  before = State();
  EXPECT_EQ(
      Error(Op("saveeffectvalue", kTransport, "<r P='3' strCode='04' ts='1'/>", "strItem='4'")),
      Text("Q7.Rembiz.0048"));
  EXPECT_EQ(
      Error(Op("saveeffectvalue", kLodging,
               "<r P='3' strCode='04' ts='" + Ts("EC_EISet_Stand", "strEICode = '04'") + "'/>",
               "strItem='4'")),
      Text("Q7.Rembiz.0048"));  // a bracket of another standard
  EXPECT_EQ(State(), before);
  // The brackets of a standard number on from its own highest code.
  EXPECT_EQ(Error(Op("saveeffectvalue", kLodging, "<r P='1' strName='250.5'/>", "strItem='4'")),
            "");
  EXPECT_EQ(Scalar("select strEICode from EC_EISet_Stand where GUIDStand = '" +
                   std::string(kLodging) + "'"),
            "01");
}

}  // namespace
}  // namespace rembiz::standards
