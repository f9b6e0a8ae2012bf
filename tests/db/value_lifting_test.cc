#include "db/value_lifting.h"

#include <gtest/gtest.h>

namespace rembiz::db {
namespace {

TEST(ValueLiftingTest, OnlyPlainValuesAreLifted) {
  std::optional<LiftedBatch> lifted = LiftValues(
      "select top 3 convert(varchar(10), dtDate, 120), N'O''B' + code from t where ts=12 and "
      "a>=1.5 and b in (7) and name=N'x'");
  ASSERT_TRUE(lifted);
  EXPECT_EQ(lifted->values, (std::vector<std::string>{"'O''B'", "12", "1.5", "'x'"}));
  EXPECT_NE(lifted->text.find("top 3"), std::string::npos);
  EXPECT_NE(lifted->text.find(", 120)"), std::string::npos);
  EXPECT_NE(lifted->text.find("in (7)"), std::string::npos);

  lifted = LiftValues("insert into t (a, b, c) values (5, N'x', -2)");
  ASSERT_TRUE(lifted);
  EXPECT_EQ(lifted->values, (std::vector<std::string>{"5", "'x'"}));
  EXPECT_FALSE(LiftValues("select a from t where b = c"));
  // Blob literals and column names written as texts stay in the shape.
  lifted = LiftValues("select x'0A', 1 as 'one' from t where c = X'22' and d = 'v'");
  ASSERT_TRUE(lifted);
  EXPECT_EQ(lifted->values, (std::vector<std::string>{"'v'"}));
  EXPECT_NE(lifted->text.find("select x'0A', 1 as 'one' from t where c = X'22'"),
            std::string::npos);
}

// Translating the shape and putting the values back gives what translating the batch gives.
TEST(ValueLiftingTest, ShapesTranslateLikeTheBatchesTheyCameFrom) {
  for (const char* sql : {
           "select top 1 strVouchID from EC_LoanVouch where GUID=N'{A}' and Cast(ts As money)=17",
           "Update EC_LoanVouch Set dblMoney=800, strUsed=N'trip' Where AutoID=3",
           "insert into T (a, b) values (N'x''y', 4.25)\r\nupdate T set a=N'z' where b=4.25",
           "select isnull(a, N'') + N'-' + convert(varchar(10), d, 120) from T where a<>N'q'",
           "if exists(select 1 from tempdb..sysobjects where name=N'qdtmp1' and xtype=N'U') "
           "drop table tempdb..qdtmp1",
           "if (select count(*) from T where a=N'x') = 0 update T set b=2 where a=N'y' "
           "else update T set b=3 where a=N'z'",
           // Literals right behind a word (found by fuzzing: "then'a'" became "thenN 'a'").
           "select case when a=1 then'a' else'b' end from T where c like'0%'",
       }) {
    std::optional<LiftedBatch> lifted = LiftValues(sql);
    ASSERT_TRUE(lifted) << sql;
    std::optional<StatementList> back =
        PutValuesBack(TranslateSqlUncached(lifted->text), lifted->values);
    ASSERT_TRUE(back) << sql;
    EXPECT_EQ(*back, TranslateSqlUncached(sql)) << sql;
    EXPECT_EQ(*TranslateSql(sql), TranslateSqlUncached(sql)) << sql;
  }
}

}  // namespace
}  // namespace rembiz::db
