#include "frame/convert.h"

#include <gtest/gtest.h>

#include "host/messages.h"

namespace rembiz::frame {
namespace {

using db::FieldInfo;
using db::Recordset;

Recordset MakeRecordset(std::vector<FieldInfo> fields, std::vector<std::vector<Variant>> rows) {
  return Recordset(std::move(fields), std::move(rows));
}

FieldInfo Field(const std::string& name, int type) {
  FieldInfo f;
  f.name = name;
  f.type = type;
  return f;
}

TEST(ConvertTest, RowXmlWritesEveryFieldEscapedAndBlanksEmptyTextDates) {
  Recordset rs = MakeRecordset(
      {Field("a", db::kAdVarChar), Field("b", db::kAdVarWChar), Field("d", db::kAdDbTimeStamp),
       Field("e", db::kAdVarChar)},
      {{Variant("x&y"), Variant(), Variant::Date("1900-01-01"), Variant("1900-01-01")},
       {Variant("p'q"), Variant("1900-01-01"), Variant::Date("2004-03-05 10:11:12"),
        Variant(3.5)}});
  EXPECT_EQ(RowXml(rs),
            "<row a='x&amp;y' b='' d='1900-01-01' e=''/>\r\n"
            "<row a='p&apos;q' b='1900-01-01' d='2004-03-05 10:11:12' e='3.5'/>\r\n");
  EXPECT_TRUE(rs.Eof());  // left at EOF

  Recordset empty = MakeRecordset({Field("a", db::kAdVarChar)}, {});
  Recordset closed;
  EXPECT_EQ(RowXml(empty), "");
  EXPECT_EQ(HeadXml(empty), "");
  EXPECT_EQ(RowXml(closed), "");
  EXPECT_EQ(HeadXml(closed), "");
}

TEST(ConvertTest, HeadXmlPairsNamesWithValues) {
  Recordset rs = MakeRecordset(
      {Field("strName", db::kAdVarChar), Field("strValue", db::kAdVarChar)},
      {{Variant("dDate"), Variant("1900-01-01")}, {Variant("cMemo"), Variant("a<b")}});
  EXPECT_EQ(HeadXml(rs), "<head dDate='' cMemo='a&lt;b'/>\r\n");
}

TEST(ConvertTest, LiteralWritersNeverLetAValueEndTheLiteral) {
  EXPECT_EQ(SqlValue(Variant("")), "null");
  EXPECT_EQ(SqlValue(Variant()), "null");
  EXPECT_EQ(SqlValue(Variant("O")), "'O'");
  EXPECT_EQ(SqlValue(Variant("O'B'; drop table x --")), "'O''B''; drop table x --'");
  EXPECT_EQ(NormalizeSql("select * from t where a=" + SqlValue(Variant("x' or '1'='1"))),
            "select * from t where a=N'x'' or ''1''=''1'");
  EXPECT_EQ(SqlNumber(Variant("12.50")), "12.5");
  EXPECT_EQ(SqlNumber(Variant("1; delete from t")), "null");
  EXPECT_EQ(SqlNumber(Variant("")), "null");
  EXPECT_EQ(NumValue(Variant("abc")), 0);
  EXPECT_EQ(NumValue(Variant(" 7 ")), 7);
  EXPECT_EQ(SqlBool(Variant(0)), "0");
  EXPECT_EQ(SqlBool(Variant("1")), "1");
  EXPECT_EQ(SqlBool(Variant("True")), "1");
  EXPECT_EQ(SqlBool(Variant()), "null");
  EXPECT_FALSE(ToBool(Variant("")));
  EXPECT_TRUE(ToBool(Variant("-1")));
}

TEST(ConvertTest, NormalizeSqlMarksEveryLiteralOnce) {
  host::SetCurrentLanguage("zh-CN");
  EXPECT_EQ(NormalizeSql("select * from t where a='x' and b=N'y'"),
            "select * from t where a=N'x' and b=N'y'");
  EXPECT_EQ(NormalizeSql("a='O''B'"), "a=N'O''B'");
  EXPECT_EQ(NormalizeSql("select 1"), "select 1");
  EXPECT_EQ(NormalizeSql("'x'"), "'x'");  // a literal at the very start has no piece before it
  // A literal right behind a word stays a literal of its own, not part of the word.
  EXPECT_EQ(NormalizeSql("where a like'%x%' or b in('y')"), "where a like N'%x%' or b in(N'y')");
  // Blob literals, quotes in comments and text that does not scan are left as they are.
  EXPECT_EQ(NormalizeSql("select x'41', X'42','c' -- it's\n"),
            "select x'41', X'42',N'c' -- it's\n");
  EXPECT_EQ(NormalizeSql("select 'a' /* 'b' */ + 'c'"), "select N'a' /* 'b' */ + N'c'");
  EXPECT_EQ(NormalizeSql("select 'open"), "select 'open");
}

TEST(ConvertTest, EnglishSessionsBracketAliases) {
  host::SetCurrentLanguage("en-US");
  EXPECT_EQ(NormalizeSql("select a as name,b as code from t"),
            "select a as [name],b as [code] from t");
  EXPECT_EQ(NormalizeSql("select count(*) as n, x as [m] from t"),
            "select count(*) as [n], x as [m] from t");
  EXPECT_EQ(BracketAliases("select a as (x) from t"), "select a as (x) from t");
  EXPECT_EQ(BracketAliases("select 'v' as N'lit' from t"), "select 'v' as N'lit' from t");
  host::SetCurrentLanguage("zh-CN");
}

// Literals reach the database exactly as the caller wrote them, in either language: only the
// SQL around them is touched.
TEST(ConvertTest, NormalizeSqlNeverEditsInsideALiteral) {
  const std::string update =
      "update t set a='Paid as agreed', b='a [ b ] c', c='O''Brien as x, y from z', d=N'[[x]]' "
      "where e = 'as' and f = x'22' and g = X'0A'";
  const std::string normal =
      "update t set a=N'Paid as agreed', b=N'a [ b ] c', c=N'O''Brien as x, y from z', "
      "d=N'[[x]]' where e = N'as' and f = x'22' and g = X'0A'";
  for (const char* language : {"zh-CN", "en-US"}) {
    host::SetCurrentLanguage(language);
    EXPECT_EQ(NormalizeSql(update), normal) << language;
    // Blob literals and national literals stay as they are.
    EXPECT_EQ(NormalizeSql("select x'22', n'y' from t"), "select x'22', n'y' from t") << language;
  }
  host::SetCurrentLanguage("zh-CN");
}

TEST(ConvertTest, EnglishSessionsBracketOnlyTheAliasName) {
  host::SetCurrentLanguage("en-US");
  // A derived table's alias is followed by the statement's own condition, which stays outside.
  EXPECT_EQ(NormalizeSql("Select max(AutoID) as AutoID From (Select * From EC_ExpenVouch Where "
                         "strDepartID IN ('0201') ) As EC_ExpenVouch Where AutoID = 2"),
            "Select max(AutoID) as [AutoID] From (Select * From EC_ExpenVouch Where "
            "strDepartID IN (N'0201') ) As [EC_ExpenVouch] Where AutoID = 2");
  EXPECT_EQ(NormalizeSql("select Cast(ts As money) As ts, 'a as b' as c, Cast(x as "
                         "decimal(18,2)) as d from t"),
            "select Cast(ts As money) As [ts], N'a as b' as [c], Cast(x as decimal(18,2)) as [d] "
            "from t");
  EXPECT_EQ(BracketAliases("select [a b] as [c d], 'v' as N'lit' from t"),
            "select [a b] as [c d], 'v' as N'lit' from t");
  host::SetCurrentLanguage("zh-CN");
}

TEST(ConvertTest, DatesAndAttributes) {
  EXPECT_EQ(DateText(Variant("2004-03-05"), "-"), "2004-3-5");
  EXPECT_EQ(DateText(Variant::Date("2004-03-05T10:00:00"), "/"), "2004/3/5");
  EXPECT_EQ(DateText(Variant("not a date"), "-"), "");
  EXPECT_EQ(DateText(Variant(), "-"), "");

  xml::Document doc;
  ASSERT_TRUE(doc.LoadXml("<func name='f'><in a='1'/></func>"));
  EXPECT_EQ(NodeAttr(doc, "name"), "f");
  EXPECT_EQ(NodeAttr(doc.DocumentElement(), "a", "in"), "1");
  EXPECT_EQ(NodeAttr(doc.DocumentElement(), "a", "  "), "");
  EXPECT_EQ(NodeAttr(doc.DocumentElement(), "a", "missing"), "");
  EXPECT_EQ(XmlEscape("a<'b'>&"), "a&lt;&apos;b&apos;&gt;&amp;");
  EXPECT_EQ(XmlEscape("&amp;"), "&amp;amp;");
}

}  // namespace
}  // namespace rembiz::frame
