// References: paging of a pick list at its edges, title formats narrowed to the page's columns,
// and queries that only ever read.
#include "host/lookup.h"

#include <gtest/gtest.h>

#include <string>

#include "host/errors.h"
#include "support/demo_fixture.h"

namespace rembiz::host {
namespace {

// The five demo settlement styles in code order: 1, 2, 3, 301, 302.
constexpr const char* kStyles = "select cSSCode, cSSName from SettleStyle order by cSSCode";

class LookupTest : public testing::DemoTest {
 protected:
  // "count current length: codes of the page".
  std::string Page(std::string_view sql, int64_t length, int64_t current) {
    RefPage page = lookup_->GetRefStrRst(Cn(), sql, length, current);
    std::string out = std::to_string(page.count) + " " + std::to_string(page.current) + " " +
                      std::to_string(page.length) + ":";
    for (; !page.rows.Eof(); page.rows.MoveNext()) out += " " + page.rows.Text("cSSCode");
    return out;
  }
  std::string Titles(std::string_view ref_name, std::string_view sql) {
    db::Recordset page = Cn().Execute(sql);
    std::string out;
    for (const RefColumn& column : lookup_->GetTitleFormat(Cn(), ref_name, page)) {
      out += column.name + "/" + column.caption + "/" + std::to_string(column.width) + ";";
    }
    return out;
  }

  std::unique_ptr<Lookup> lookup_ = CreateLookup();
};

TEST_F(LookupTest, PagesStayWithinTheList) {
  EXPECT_EQ(Page(kStyles, 2, 1), "5 1 2: 1 2");
  EXPECT_EQ(Page(kStyles, 2, 3), "5 3 2: 302");
  EXPECT_EQ(Page(kStyles, 2, 9), "5 3 2: 302");  // beyond the last: the last
  EXPECT_EQ(Page(kStyles, 2, -4), "5 1 2: 1 2");
  EXPECT_EQ(Page(kStyles, 5, 2), "5 1 5: 1 2 3 301 302");
  EXPECT_EQ(Page(kStyles, 0, 1), "5 1 20: 1 2 3 301 302");
  EXPECT_EQ(Page(kStyles, 2, INT64_MAX), "5 3 2: 302");
  EXPECT_EQ(Page("select cSSCode from SettleStyle where 1 = 0", 2, 2), "0 1 2:");

  // A query that arrived with a request reads and nothing more.
  std::string before = Dump("SettleStyle");
  EXPECT_THROW(Page("delete from SettleStyle", 2, 1), ComError);
  EXPECT_THROW(Page("select cSSCode from SettleStyle; delete from SettleStyle", 2, 1), ComError);
  EXPECT_EQ(Dump("SettleStyle"), before);
}

TEST_F(LookupTest, TitlesFollowTheColumnsOfThePage) {
  EXPECT_EQ(Titles("userdefine", "select cValue, cAlias from UserDefine"),
            "cValue/值/1600;cAlias/别名/2000;");
  EXPECT_EQ(Titles("userdefine", "select cAlias from UserDefine"), "cAlias/别名/2000;");
  // A reference without a title format, or none of whose columns the page has, shows the fields.
  EXPECT_EQ(Titles("userdefine", "select cID from UserDefine"), "cID/cID/1200;");
  EXPECT_EQ(Titles("nosuchref' or '1'='1", "select cSSCode, cSSName from SettleStyle"),
            "cSSCode/cSSCode/1200;cSSName/cSSName/1200;");

  // Free items are cFree1 to cFree10 (any case); their values start with what was typed.
  Cn().Execute(
      "insert into UserDefine (cID, cValue, cAlias) values ('cFree2', N'红', 'red'), "
      "('cFree2', N'红黑', 'red-black'), ('cFree2', N'蓝', 'blue'), ('cFree3', N'红', 'x')");
  std::string sql;
  for (const char* name : {"cFree", "cFree100", "cFreeA", "cDefine1", "xcFree1", ""}) {
    EXPECT_FALSE(lookup_->GetFreeRefSQL(name, "", &sql)) << name;
  }
  ASSERT_TRUE(lookup_->GetFreeRefSQL("cFree2", "红", &sql));
  EXPECT_EQ(Lines(sql, ","), "红|red,红黑|red-black");
  ASSERT_TRUE(lookup_->GetFreeRefSQL("cFree2", "红' or '1'='1", &sql));
  EXPECT_EQ(Lines(sql, ","), "");
  EXPECT_TRUE(lookup_->GetFreeRefSQL("cfree10", "", &sql));
}

}  // namespace
}  // namespace rembiz::host
