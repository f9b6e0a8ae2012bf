#include "host/lookup.h"

#include <algorithm>
#include <cctype>

#include "db/persist.h"
#include "db/text.h"
#include "host/messages.h"

namespace rembiz::host {
namespace {

using db::Lower;

constexpr int64_t kDefaultLength = 20;

bool IsFreeItem(std::string_view name) {
  std::string lower = Lower(name);
  if (lower.rfind("cfree", 0) != 0 || lower.size() == 5 || lower.size() > 7) return false;
  return std::all_of(lower.begin() + 5, lower.end(),
                     [](unsigned char c) { return std::isdigit(c); });
}

class TableLookup : public Lookup {
 public:
  RefPage GetRefStrRst(db::Connection& cn, std::string_view sql, int64_t length,
                       int64_t current) override {
    db::Recordset all = cn.ExecuteReadOnly(sql);
    RefPage page;
    page.count = all.RecordCount();
    page.length = length > 0 ? length : kDefaultLength;
    int64_t pages = std::max<int64_t>(1, (page.count + page.length - 1) / page.length);
    page.current = std::clamp<int64_t>(current, 1, pages);
    const auto& rows = all.Rows();
    size_t from = static_cast<size_t>(std::min(page.count, (page.current - 1) * page.length));
    size_t to = static_cast<size_t>(std::min(page.count, page.current * page.length));
    page.rows = db::Recordset(all.Fields(), std::vector<std::vector<db::Variant>>(
                                                rows.begin() + static_cast<ptrdiff_t>(from),
                                                rows.begin() + static_cast<ptrdiff_t>(to)));
    return page;
  }

  RefPage GetRefItemRst(db::Connection& cn, std::string_view item_source,
                        std::string_view condition, std::string_view order, int64_t length,
                        int64_t current) override {
    std::string sql = "select * from (select citem_class,citemcode,citemname from " +
                      std::string(item_source) + ") items";
    if (!condition.empty()) sql += " where " + std::string(condition);
    sql += " order by " + (order.empty() ? std::string("citemcode") : std::string(order));
    return GetRefStrRst(cn, sql, length, current);
  }

  std::vector<RefColumn> GetTitleFormat(db::Connection& cn, std::string_view ref_name,
                                        const db::Recordset& page) override {
    std::string caption = CurrentLanguageIsEnglish() ? "isnull(cCaptionEn,cCaption)" : "cCaption";
    db::Recordset rs = cn.Execute("select cFieldName," + caption +
                                  " as cCaption,iWidth from Host_RefColumn where cRefName=" +
                                  db::SqlText(ref_name) + " order by iOrder");
    std::vector<RefColumn> columns;
    // Only the columns the page carries: one title format serves narrower queries too.
    for (; !rs.Eof(); rs.MoveNext()) {
      std::string field = rs.Text("cFieldName");
      if (page.FieldCount() > 0 && !page.HasField(field)) continue;
      columns.push_back({field, rs.Text("cCaption"), rs.Value("iWidth").ToInt()});
    }
    if (columns.empty()) {
      for (const db::FieldInfo& field : page.Fields()) columns.push_back({field.name, field.name});
    }
    return columns;
  }

  std::string GetData(const db::Recordset& page) override { return db::SaveXml(page); }

  bool GetFreeRefSQL(std::string_view name, std::string_view value, std::string* sql) override {
    if (!IsFreeItem(name)) return false;
    *sql = "select cValue,cAlias from UserDefine where cID=" + db::SqlText(name);
    if (!value.empty()) *sql += " and cValue like " + db::SqlText(std::string(value) + "%");
    *sql += " order by cValue";
    return true;
  }
};

}  // namespace

std::unique_ptr<Lookup> CreateLookup() { return std::make_unique<TableLookup>(); }

}  // namespace rembiz::host
