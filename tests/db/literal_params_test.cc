#include "db/literal_params.h"

#include <gtest/gtest.h>

#include "support/demo_fixture.h"

namespace rembiz::db {
namespace {

std::string Values(const ParameterizedStatement& p) {
  std::string out;
  for (const LiteralValue& v : p.values) {
    out += (v.kind == LiteralValue::Kind::kText      ? "t:"
            : v.kind == LiteralValue::Kind::kInteger ? "i:"
                                                     : "r:") +
           v.text + "|";
  }
  return out;
}

TEST(LiteralParamsTest, ValuesBecomeParametersButNamesAndPositionsStay) {
  ParameterizedStatement p = ParameterizeLiterals(
      "select a1, 'O''B', [x 1], \"y\" from t2 where b = -12.5e1 and c in (3, 'z') "
      "order by 2, a1 desc limit 10");
  EXPECT_EQ(p.text,
            "select a1, ?, [x 1], \"y\" from t2 where b = -? and c in (?, ?) "
            "order by 2, a1 desc limit ?");
  EXPECT_EQ(Values(p), "t:O'B|r:12.5e1|i:3|t:z|i:10|");

  p = ParameterizeLiterals("select x from (select a as x from t group by 1) order by 1");
  EXPECT_EQ(p.text, "select x from (select a as x from t group by 1) order by 1");
  // Comments, blobs, very long integers and DDL keep their text.
  p = ParameterizeLiterals("select x'0A', 123456789012345678901 -- 'c'\n from t");
  EXPECT_EQ(p.text, "select x'0A', 123456789012345678901 -- 'c'\n from t");
  EXPECT_TRUE(p.values.empty());
  p = ParameterizeLiterals("CREATE TABLE tempdb.t (a varchar(10) default 'x')");
  EXPECT_TRUE(p.values.empty());
}

class LiteralParamsDbTest : public testing::DemoTest {};

TEST_F(LiteralParamsDbTest, StatementsOfOneShapeGiveEachTheirOwnValues) {
  Cn().Execute("CREATE TABLE P (id int, name varchar(20), amount money)");
  for (int i = 1; i <= 3; ++i) {
    Cn().Execute("insert into P (id, name, amount) values (" + std::to_string(i) + ", N'n''" +
                 std::to_string(i) + "', " + std::to_string(i) + ".25)");
  }
  EXPECT_EQ(Dump("P"), "1|n'1|1.25|\n2|n'2|2.25|\n3|n'3|3.25|\n");
  EXPECT_EQ(Scalar("select name from P where id = 2"), "n'2");
  EXPECT_EQ(Scalar("select count(*) from P where name like N'n%' and amount > 2"), "2");
  // A text column compared with a number still converts as it does with a literal.
  EXPECT_EQ(Scalar("select count(*) from P where name = 5"), "0");
  EXPECT_EQ(Scalar("select id from P order by 1 desc"), "3");
}

}  // namespace
}  // namespace rembiz::db
