#include "host/scope_rules.h"

#include "db/connection.h"
#include "db/text.h"

namespace rembiz::host {
namespace {

class TableScopeRules : public ScopeRules {
 public:
  void Init(const std::string& connection_string, const std::string& user_id) override {
    connection_string_ = connection_string;
    user_id_ = user_id;
  }

  std::string GetAuthString(std::string_view auth_type, std::string_view selector1,
                            std::string_view selector2) override {
    db::Connection cn;
    cn.Open(connection_string_);
    // The most specific rule wins: exact selectors before the catch-all ''.
    std::string where = "cUser_Id = " + db::SqlText(user_id_) +
                        " and cAuthType = " + db::SqlText(auth_type) + " and cSelector1 in (N'', " +
                        db::SqlText(selector1) + ") and cSelector2 in (N'', " +
                        db::SqlText(selector2) + ")";
    db::Recordset rule = cn.Execute(
        "select top 1 iScope, cSelector1, cSelector2 from Host_ScopeRule where " + where +
        " order by case when cSelector1 = N'' then 1 else 0 end, "
        "case when cSelector2 = N'' then 1 else 0 end");
    if (rule.Eof()) return "";
    int64_t scope = rule.Value("iScope").ToInt();
    if (scope == 0) return "";
    if (scope == 1) return "1=2";
    db::Recordset items = cn.Execute(
        "select cCode from Host_ScopeRuleItem where cUser_Id = " + db::SqlText(user_id_) +
        " and cAuthType = " + db::SqlText(auth_type) +
        " and cSelector1 = " + db::SqlText(rule.Text("cSelector1")) +
        " and cSelector2 = " + db::SqlText(rule.Text("cSelector2")) + " order by cCode");
    if (items.Eof()) return "1=2";
    std::string list;
    for (items.MoveFirst(); !items.Eof(); items.MoveNext()) {
      if (!list.empty()) list += ",";
      list += db::SqlText(items.Text("cCode"));
    }
    return list;
  }

 private:
  std::string connection_string_;
  std::string user_id_;
};

}  // namespace

std::unique_ptr<ScopeRules> CreateScopeRules() { return std::make_unique<TableScopeRules>(); }

}  // namespace rembiz::host
