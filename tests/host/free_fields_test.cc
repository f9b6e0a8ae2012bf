// User-defined fields: a typed value is checked against the field's type, length, rules and the
// source of its valid values, and pick lists never take names or values as SQL.
#include "host/free_fields.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/errors.h"
#include "support/demo_fixture.h"

namespace rembiz::host {
namespace {

// Demo: cDefine1 takes the value list of UserDefine (20 characters), cDefine2 free input.
class FreeFieldsTest : public testing::DemoTest {
 protected:
  void SetUp() override {
    DemoTest::SetUp();
    ASSERT_TRUE(fields_->Init(Cn()));
  }
  void Define(const std::string& name, const std::string& columns, const std::string& values) {
    Cn().Execute("insert into Host_UserDefField (cFieldName, cCaption, " + columns + ") values ('" +
                 name + "', N'测试', " + values + ")");
  }
  int Check(const std::string& name, const std::string& value,
            const std::vector<std::string>& rule = {}) {
    return fields_->ValidateAr(name, value, "UserDefine", "cValue", rule);
  }
  // The values the field's pick list offers for a typed start, joined by ",".
  std::string PickList(const std::string& name, const std::string& start) {
    std::string sql;
    if (!fields_->GetRefSQL(name, start, "UserDefine", "cValue", {}, &sql)) return "(none)";
    return Lines(sql, ",");
  }

  std::unique_ptr<FreeFields> fields_ = CreateFreeFields();
};

TEST_F(FreeFieldsTest, ValuesKeepTypeLengthRulesAndTheirList) {
  Cn().Execute("insert into UserDefine (cID, cValue) values ('cDefine9', N'其他')");
  EXPECT_EQ(Check("cDefine1", "实施"), FreeFields::kValid);
  EXPECT_EQ(Check("cDefine1", "其他"), FreeFields::kNotAllowed);  // another field's list
  EXPECT_EQ(Check("cDefine1", "实施' or '1'='1"), FreeFields::kNotAllowed);
  EXPECT_EQ(Check("cDefine1", ""), FreeFields::kValid);
  EXPECT_EQ(Check("cDefine1", " ", {"required"}), FreeFields::kBreaksRule);
  // Lengths count characters, not bytes.
  EXPECT_EQ(Check("cDefine1", "实施", {"maxlen=2"}), FreeFields::kValid);
  EXPECT_EQ(Check("cDefine1", "实施", {"MaxLen=1"}), FreeFields::kBreaksRule);
  EXPECT_EQ(Check("cDefine2", std::string(120, 'x') + "实"), FreeFields::kNotAllowed);
  EXPECT_EQ(Check("cDefine2", std::string(119, 'x') + "实"), FreeFields::kValid);
  EXPECT_EQ(Check("cDefine0", "x"), FreeFields::kUnknownField);
  Cn().Execute("update Host_UserDefField set bEnabled = 0 where cFieldName = 'cDefine2'");
  EXPECT_EQ(Check("cDefine2", "x"), FreeFields::kUnknownField);

  // The field's own rule and must-input join the caller's.
  Define("cDefine3", "cDataType, iLength, cRule, bMustInput", "'number', 6, 'minlen=2,upper', 1");
  EXPECT_EQ(Check("cDefine3", ""), FreeFields::kBreaksRule);
  EXPECT_EQ(Check("cDefine3", "7"), FreeFields::kBreaksRule);
  EXPECT_EQ(Check("cDefine3", "12.5"), FreeFields::kValid);
  EXPECT_EQ(Check("cDefine3", "1E3"), FreeFields::kValid);
  EXPECT_EQ(Check("cDefine3", "1e3"), FreeFields::kBreaksRule);  // upper
  EXPECT_EQ(Check("cDefine3", "1E3X"), FreeFields::kNotAllowed);
  EXPECT_EQ(Check("cDefine3", "1234567"), FreeFields::kNotAllowed);
  EXPECT_EQ(Check("cDefine3", "12", {"date"}), FreeFields::kBreaksRule);

  // Valid values from a master table's column and from a query.
  Define("cDefine4", "iSource, cRefTable, cRefColumn, cRefNameColumn",
         "2, 'SettleStyle', 'cSSCode', 'cSSName'");
  EXPECT_EQ(Check("cDefine4", "301"), FreeFields::kValid);
  EXPECT_EQ(Check("cDefine4", "309"), FreeFields::kNotAllowed);
  Define("cDefine5", "iSource, cRefSql", "3, 'select cSSCode from SettleStyle where bSSEnd = 1'");
  EXPECT_EQ(Check("cDefine5", "301"), FreeFields::kValid);
  EXPECT_EQ(Check("cDefine5", "3"), FreeFields::kNotAllowed);
}

TEST_F(FreeFieldsTest, PickListsTakeNoSqlFromNamesOrValues) {
  EXPECT_EQ(PickList("cDefine1", ""), "实施,立项,验收");
  EXPECT_EQ(PickList("cDefine1", "立"), "立项");
  EXPECT_EQ(PickList("cDefine1", "立' or '1'='1"), "");
  EXPECT_EQ(PickList("cDefine2", ""), "(none)");  // free input
  EXPECT_EQ(PickList("cDefine0", ""), "(none)");
  Define("cDefine4", "iSource, cRefTable, cRefColumn, cRefNameColumn",
         "2, 'SettleStyle', 'cSSCode', 'cSSName'");
  EXPECT_EQ(PickList("cDefine4", "301"), "301|电汇");

  // Names from the caller or from a definition are names, or the call is refused.
  std::string sql;
  EXPECT_THROW(fields_->GetRefSQL("cDefine1", "", "UserDefine u; delete from UserDefine --",
                                  "cValue", {}, &sql),
               ComError);
  EXPECT_THROW(fields_->ValidateAr("cDefine1", "立项", "UserDefine", "cValue=cValue or 1=1", {}),
               ComError);
  Define("cDefine6", "iSource, cRefTable, cRefColumn", "2, 'SettleStyle', 'cSSCode or 1=1'");
  EXPECT_THROW(PickList("cDefine6", ""), ComError);
  EXPECT_THROW(Check("cDefine6", "1"), ComError);
  // A query definition only reads.
  Define("cDefine7", "iSource, cRefSql", "3, 'delete from UserDefine'");
  EXPECT_THROW(Check("cDefine7", "1"), ComError);
  EXPECT_EQ(Scalar("select count(*) from UserDefine"), "3");

  auto idle = CreateFreeFields();
  EXPECT_THROW(idle->ValidateAr("cDefine1", "立项", "UserDefine", "cValue", {}), ComError);
}

}  // namespace
}  // namespace rembiz::host
