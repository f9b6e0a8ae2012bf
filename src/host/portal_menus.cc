#include "host/portal_menus.h"

#include <algorithm>
#include <map>
#include <optional>
#include <set>
#include <vector>

#include "db/error.h"
#include "db/text.h"
#include "db/variant.h"
#include "host/messages.h"
#include "xml/escape.h"

namespace rembiz::host {
namespace {

struct Entry {
  std::string id, parent, name, auth, url;
};

class TablePortalMenus : public PortalMenus {
 public:
  std::string LoadMenu1(db::Connection& cn, bool tree, std::string_view system_id,
                        std::string_view account, std::string_view year,
                        std::string_view user_id) override {
    std::optional<double> year_number = db::ParseNumber(year);
    if (!year_number) {
      throw ComError(static_cast<int32_t>(0x80070057),
                     "The year '" + std::string(year) + "' is not a number.");
    }
    std::string year_text = std::to_string(static_cast<int64_t>(*year_number));
    LoadRights(cn, account, year_text, user_id);

    std::string name =
        CurrentLanguageIsEnglish() ? "isnull(cMenu_NameEn,cMenu_Name)" : "cMenu_Name";
    db::Recordset rs = cn.Execute("select cMenu_Id,cSupMenu_Id," + name +
                                  " as cName,cAuth_Id,cUrl from qdsystem..UA_Menu where cSub_Id=" +
                                  db::SqlText(system_id) + " order by iOrder,cMenu_Id");
    entries_.clear();
    children_.clear();
    for (; !rs.Eof(); rs.MoveNext()) {
      Entry e{rs.Text("cMenu_Id"), rs.Text("cSupMenu_Id"), rs.Text("cName"), rs.Text("cAuth_Id"),
              rs.Text("cUrl")};
      children_[e.parent].push_back(entries_.size());
      entries_.push_back(std::move(e));
    }
    std::string out;
    for (size_t index : children_[""]) Write(index, tree, out);
    return out;
  }

 private:
  void LoadRights(db::Connection& cn, std::string_view account, const std::string& year,
                  std::string_view user_id) {
    rights_.clear();
    admin_ = false;
    db::Recordset user =
        cn.Execute("select bAdmin from qdsystem..UA_User where cUser_Id=" + db::SqlText(user_id));
    if (!user.Eof()) admin_ = user.Value("bAdmin").ToBool();
    db::Recordset rs = cn.Execute(
        "select cAuth_Id from qdsystem..UA_HoldAuth where cAcc_Id=" + db::SqlText(account) +
        " and iYear=" + year + " and ((iIsUser=1 and cUser_Id=" + db::SqlText(user_id) +
        ") or (iIsUser=0 and cUser_Id in (select cGroup_Id from qdsystem..UA_Role where "
        "cUser_Id=" +
        db::SqlText(user_id) + ")))");
    for (; !rs.Eof(); rs.MoveNext()) rights_.insert(rs.Text("cAuth_Id"));
    if (rights_.count("ADMIN")) admin_ = true;
  }

  // A right on a branch ("EC02") covers every task below it ("EC020101").
  bool Holds(const std::string& auth) const {
    if (admin_) return true;
    return std::any_of(rights_.begin(), rights_.end(),
                       [&](const std::string& right) { return auth.rfind(right, 0) == 0; });
  }

  bool Visible(size_t index) const {
    const Entry& e = entries_[index];
    if (!e.auth.empty()) return Holds(e.auth);
    auto it = children_.find(e.id);
    if (it == children_.end()) return false;
    return std::any_of(it->second.begin(), it->second.end(),
                       [&](size_t child) { return Visible(child); });
  }

  void Write(size_t index, bool tree, std::string& out) const {
    if (!Visible(index)) return;
    const Entry& e = entries_[index];
    auto it = children_.find(e.id);
    bool branch = e.auth.empty() && it != children_.end();
    if (branch && !tree) {
      for (size_t child : it->second) Write(child, tree, out);
      return;
    }
    out += "<item id='" + xml::XmlEscape(e.id) + "' name='" + xml::XmlEscape(e.name) + "' url='" +
           xml::XmlEscape(e.url) + "'";
    if (!branch) {
      out += "/>";
      return;
    }
    out += ">";
    for (size_t child : it->second) Write(child, tree, out);
    out += "</item>";
  }

  std::vector<Entry> entries_;
  std::map<std::string, std::vector<size_t>> children_;
  std::set<std::string> rights_;
  bool admin_ = false;
};

}  // namespace

std::unique_ptr<PortalMenus> CreatePortalMenus() { return std::make_unique<TablePortalMenus>(); }

}  // namespace rembiz::host
