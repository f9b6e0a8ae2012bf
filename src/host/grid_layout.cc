#include "host/grid_layout.h"

#include <optional>
#include <vector>

#include "db/connection.h"
#include "db/text.h"
#include "db/transaction.h"
#include "db/variant.h"
#include "xml/document.h"
#include "xml/escape.h"

namespace rembiz::host {
namespace {

using xml::XmlEscape;

std::string Flag(const db::Variant& value) { return value.ToBool() ? "1" : "0"; }

bool FlagAttr(const xml::Node& node, std::string_view name, bool fallback) {
  if (!node.HasAttr(name)) return fallback;
  return db::Variant(node.Attr(name)).ToBool();
}

class TableGridLayout : public GridLayout {
 public:
  void Init(const Session& session, const std::string& connection_string, bool per_user) override {
    connection_string_ = connection_string;
    user_ = per_user ? session.UserId() : "";
  }

  std::string GetColInfo(std::string_view key, int mode) override {
    db::Connection cn;
    cn.Open(connection_string_);
    std::string owner;
    if (mode != 0 && !user_.empty()) {
      bool own = !cn.Execute("select top 1 cFieldName from Host_ColumnLayout where cKey=" +
                             db::SqlText(key) + " and cUser_Id=" + db::SqlText(user_))
                      .Eof();
      if (own) owner = user_;
    }
    db::Recordset rs = cn.Execute(
        "select cFieldName,cCaption,iOrder,iWidth,bVisible,cAlign,cFormat,bTotal "
        "from Host_ColumnLayout where cKey=" +
        db::SqlText(key) + " and cUser_Id=" + db::SqlText(owner) + " order by iOrder,cFieldName");
    std::string out = "<columns key='" + XmlEscape(key) + "' user='" + XmlEscape(owner) + "'>";
    for (; !rs.Eof(); rs.MoveNext()) {
      out += "<column name='" + XmlEscape(rs.Text("cFieldName")) + "' caption='" +
             XmlEscape(rs.Text("cCaption")) + "' order='" + rs.Text("iOrder") + "' width='" +
             rs.Text("iWidth") + "' visible='" + Flag(rs.Value("bVisible")) + "' align='" +
             XmlEscape(rs.Text("cAlign")) + "' format='" + XmlEscape(rs.Text("cFormat")) +
             "' total='" + Flag(rs.Value("bTotal")) + "'/>";
    }
    return out + "</columns>";
  }

  bool Save(std::string_view layout_xml) override {
    xml::Document doc;
    if (!doc.LoadXml(layout_xml)) return false;
    xml::Node root = doc.DocumentElement();
    std::string key = root.Attr("key");
    if (root.Name() != "columns" || key.empty()) return false;
    std::vector<std::string> rows;
    int order = 0;
    bool numbers_fit = true;
    for (const xml::Node& column : root.Children("column")) {
      std::string name = column.Attr("name");
      if (name.empty()) return false;
      ++order;
      // A position or width that is no number takes the default; one no column could have
      // (beyond an int) refuses the layout.
      auto number = [&](std::string_view attr, int64_t fallback) {
        std::optional<double> value = db::ParseNumber(column.Attr(attr));
        if (!value) return std::to_string(fallback);
        if (*value < -2147483648.0 || *value > 2147483647.0) {
          numbers_fit = false;
          return std::to_string(fallback);
        }
        return std::to_string(static_cast<int64_t>(*value));
      };
      std::string align = column.Attr("align");
      rows.push_back(
          "insert into Host_ColumnLayout (cKey,cUser_Id,cFieldName,cCaption,iOrder,"
          "iWidth,bVisible,cAlign,cFormat,bTotal) values (" +
          db::SqlText(key) + "," + db::SqlText(user_) + "," + db::SqlText(name) + "," +
          db::SqlText(column.Attr("caption")) + "," + number("order", order) + "," +
          number("width", 1200) + "," + (FlagAttr(column, "visible", true) ? "1" : "0") + "," +
          db::SqlText(align.empty() ? "left" : align) + "," + db::SqlText(column.Attr("format")) +
          "," + (FlagAttr(column, "total", false) ? "1" : "0") + ")");
    }
    if (!numbers_fit) return false;
    db::Connection cn;
    cn.Open(connection_string_);
    db::Transaction transaction(cn);
    cn.Execute("delete from Host_ColumnLayout where cKey=" + db::SqlText(key) +
               " and cUser_Id=" + db::SqlText(user_));
    for (const std::string& row : rows) cn.Execute(row);
    transaction.Commit();
    return true;
  }

 private:
  std::string connection_string_;
  std::string user_;
};

}  // namespace

std::unique_ptr<GridLayout> CreateGridLayout() { return std::make_unique<TableGridLayout>(); }

}  // namespace rembiz::host
