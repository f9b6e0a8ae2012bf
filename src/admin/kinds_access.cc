// Users, roles, function rights and data permissions. Users and roles live in the system
// database (shared by every account); rights and permissions are the account year's.
#include <map>
#include <string>

#include "admin/table_kind.h"
#include "db/text.h"
#include "frame/request.h"
#include "host/errors.h"
#include "host/passwords.h"
#include "xml/escape.h"

namespace rembiz::admin {
namespace {

using db::SqlText;

constexpr size_t kShortestPassword = 8;

std::string Year(Context& ctx) { return frame::RequireInteger(ctx.session.FiscalYear(), "year"); }

std::string AccountYear(Context& ctx) {
  return "cAcc_Id = " + SqlText(ctx.session.AccountId()) + " and iYear = " + Year(ctx);
}

bool UserExists(Context& ctx, const std::string& user) {
  return !ctx.cn.Execute("select 1 from qdsystem..UA_User where cUser_Id = " + SqlText(user)).Eof();
}

bool RoleExists(Context& ctx, const std::string& role) {
  return !ctx.cn.Execute("select 1 from qdsystem..UA_Group where cGroup_Id = " + SqlText(role))
              .Eof();
}

// The members of roles (or the roles of users), "a,b" per key.
std::map<std::string, std::string> Memberships(Context& ctx, bool by_user) {
  std::map<std::string, std::string> out;
  db::Recordset rs = ctx.cn.Execute(
      "select cUser_Id, cGroup_Id from qdsystem..UA_Role order by cUser_Id, cGroup_Id");
  for (; !rs.Eof(); rs.MoveNext()) {
    std::string key = rs.Text(by_user ? "cUser_Id" : "cGroup_Id");
    std::string value = rs.Text(by_user ? "cGroup_Id" : "cUser_Id");
    out[db::Lower(key)] += (out[db::Lower(key)].empty() ? "" : ",") + value;
  }
  return out;
}

std::string HashedPassword(const xml::Node& row) {
  std::string password = row.Attr("password");
  if (password.size() < kShortestPassword) {
    Raise(kErrBusiness, "Rembiz.Admin.ShortPassword", std::to_string(kShortestPassword));
  }
  return host::HashPassword(password);
}

void CheckLanguage(const xml::Node& row) {
  std::string language = db::Trim(row.Attr("language"));
  if (!language.empty() && language != "zh-CN" && language != "en-US") {
    Raise(kErrBusiness, "Rembiz.Admin.BadLanguage", language);
  }
}

class UserKind : public TableKind {
 public:
  UserKind()
      : TableKind({.name = "user",
                   .table = "qdsystem..UA_User",
                   .fields = {{"id", "cUser_Id", FieldType::kCode, true, true, 20},
                              {"name", "cUser_Name", FieldType::kText, false, true},
                              {"language", "cLocaleId", FieldType::kCode, false, false, 10},
                              {"email", "cUser_Email"},
                              {"disabled", "bDisabled", FieldType::kFlag},
                              {"roles", "", FieldType::kDerived}},
                   .usages = {},
                   .order = "t.cUser_Id"}) {}

  std::string List(Context& ctx, const xml::Node&) override {
    std::map<std::string, std::string> roles = Memberships(ctx, true);
    db::Recordset rs = ctx.cn.Execute(
        "select cUser_Id as id, cUser_Name as name, cLocaleId as language, cUser_Email as email, "
        "bDisabled as disabled, bAdmin as admin, cast(ts as money) as ts from qdsystem..UA_User "
        "order by cUser_Id");
    std::string out;
    for (; !rs.Eof(); rs.MoveNext()) {
      std::string id = rs.Text("id");
      out += "<row id='" + xml::XmlEscape(id) + "' name='" + xml::XmlEscape(rs.Text("name")) +
             "' language='" + xml::XmlEscape(rs.Text("language")) + "' email='" +
             xml::XmlEscape(rs.Text("email")) + "' disabled='" +
             (rs.Value("disabled").ToBool() ? "1" : "0") + "' admin='" +
             (rs.Value("admin").ToBool() ? "1" : "0") + "' roles='" +
             xml::XmlEscape(roles[db::Lower(id)]) + "' ts='" + rs.Text("ts") + "'/>";
    }
    return out;
  }

  void Add(Context& ctx, const xml::Node& row) override {
    std::string id = KeyOf(row);
    if (UserExists(ctx, id)) Raise(kErrBusiness, "Rembiz.Admin.Exists", "user", id);
    CheckLanguage(row);
    std::string language = db::Trim(row.Attr("language"));
    std::string email = db::Trim(row.Attr("email"));
    ctx.cn.Execute(
        "insert into qdsystem..UA_User (cUser_Id, cUser_Name, cPassword, bAdmin, cLocaleId, "
        "cUser_Email, bDisabled) values (" +
        SqlText(id) + ", " + SqlText(Required(row, "name")) + ", " + SqlText(HashedPassword(row)) +
        ", 0, " + SqlText(language.empty() ? "zh-CN" : language) + ", " +
        (email.empty() ? "Null" : SqlText(email)) + ", " +
        (Flag(row, "disabled", false) ? "1" : "0") + ")");
    if (row.HasAttr("roles")) SetRoles(ctx, id, row.Attr("roles"));
  }

  void Change(Context& ctx, const xml::Node& row) override {
    std::string id = KeyOf(row);
    CheckLanguage(row);
    if (Flag(row, "disabled", false) && db::Lower(id) == db::Lower(ctx.session.UserId())) {
      Raise(kErrBusiness, "Rembiz.Admin.NotYourself");
    }
    TableKind::Change(ctx, row);
    if (row.HasAttr("roles")) SetRoles(ctx, id, row.Attr("roles"));
    // A disabled user's sessions end now, not at their next request.
    if (Flag(row, "disabled", false)) {
      ctx.cn.Execute("delete from qdsystem..UA_Session where cUser_Id = " + SqlText(id));
    }
  }

  void Delete(Context& ctx, const xml::Node& row) override {
    std::string id = KeyOf(row);
    if (db::Lower(id) == db::Lower(ctx.session.UserId())) {
      Raise(kErrBusiness, "Rembiz.Admin.NotYourself");
    }
    db::Recordset user =
        ctx.cn.Execute("select cUser_Name from qdsystem..UA_User where cUser_Id = " + SqlText(id));
    if (user.Eof()) Raise(kErrBusiness, "Rembiz.Admin.Stale");
    // Vouchers record the operator's name.
    std::string name = SqlText(user.Text("cUser_Name"));
    std::string who = SqlText(id);
    RefuseInUse(ctx.cn,
                "select 1 from EC_LoanVouch where strPersonID = " + name +
                    " or strAuditorID = " + name + " or strMakerID = " + name +
                    " union all select 1 from EC_ExpenVouch where strPersonID = " + name +
                    " or strAuditorID = " + name + " or strVerifier = " + name +
                    " or strMakerID = " + name,
                id, "Rembiz.Admin.UsedByVouchers");
    RefuseInUse(ctx.cn,
                "select 1 from Host_FlowRecord where cUser_Id = " + who +
                    " union all select 1 from Host_FlowApprover where iIsUser = 1 and "
                    "cApprover_Id = " +
                    who,
                id, "Rembiz.Admin.UsedByFlows");
    RefuseInUse(ctx.cn, "select 1 from Department where cDepLeader = " + who, id,
                "Rembiz.Admin.UsedAsHead");
    RefuseInUse(ctx.cn,
                "select 1 from qdsystem..UA_HoldAuth where iIsUser = 1 and cUser_Id = " + who +
                    " and not (" + AccountYear(ctx) + ")",
                id, "Rembiz.Admin.UsedElsewhere");
    ExecuteOne(ctx.cn, "delete from qdsystem..UA_User where cUser_Id = " + who +
                           " and cast(ts as money) = " + Version(row));
    ctx.cn.Execute("delete from qdsystem..UA_Role where cUser_Id = " + who);
    ctx.cn.Execute("delete from qdsystem..UA_HoldAuth where iIsUser = 1 and cUser_Id = " + who);
    ctx.cn.Execute("delete from qdsystem..UA_Session where cUser_Id = " + who);
    // Substitutes to or from the user end with the user (other accounts' fall back as for a
    // disabled substitute).
    ctx.cn.Execute("delete from Host_Delegation where cUser_Id = " + who +
                   " or cSubstitute_Id = " + who);
    ctx.cn.Execute("delete from Host_ScopeRule where cUser_Id = " + who);
  }

 private:
  static void SetRoles(Context& ctx, const std::string& user, const std::string& list) {
    std::vector<std::string> roles = SplitList(list);
    for (const std::string& role : roles) {
      if (!RoleExists(ctx, role)) Raise(kErrBusiness, "Rembiz.Admin.UnknownRole", role);
    }
    ctx.cn.Execute("delete from qdsystem..UA_Role where cUser_Id = " + SqlText(user));
    for (const std::string& role : roles) {
      ctx.cn.Execute("insert into qdsystem..UA_Role (cUser_Id, cGroup_Id) values (" +
                     SqlText(user) + ", " + SqlText(role) + ")");
    }
  }
};

// A new password for a user; the administrator sets it, the user is told it.
class PasswordKind : public Kind {
 public:
  std::string_view Name() const override { return "password"; }
  std::vector<std::string> Columns() const override { return {"id", "password"}; }
  std::string List(Context&, const xml::Node&) override { return ""; }
  void Add(Context& ctx, const xml::Node& row) override {
    std::string id = Code(row, "id", 20);
    if (!UserExists(ctx, id)) Raise(kErrBusiness, "Rembiz.Admin.UnknownUser", id);
    ctx.cn.Execute("update qdsystem..UA_User set cPassword = " + SqlText(HashedPassword(row)) +
                   " where cUser_Id = " + SqlText(id));
    // Whoever knew the old password is logged out.
    ctx.cn.Execute("delete from qdsystem..UA_Session where cUser_Id = " + SqlText(id));
  }
  void Change(Context& ctx, const xml::Node& row) override { Add(ctx, row); }
  void Delete(Context&, const xml::Node&) override {
    Raise(kErrBusiness, "Rembiz.Admin.BadMark", "3");
  }
};

class RoleKind : public TableKind {
 public:
  RoleKind()
      : TableKind({.name = "role",
                   .table = "qdsystem..UA_Group",
                   .fields = {{"id", "cGroup_Id", FieldType::kCode, true, true, 20},
                              {"name", "cGroup_Name", FieldType::kText, false, true},
                              {"memo", "cMemo"}},
                   .usages = {{"select 1 from qdsystem..UA_Role where cGroup_Id = {}",
                               "Rembiz.Admin.UsedByMembers"},
                              {"select 1 from Host_FlowApprover where iIsUser = 0 and "
                               "cApprover_Id = {}",
                               "Rembiz.Admin.UsedByFlows"}},
                   .order = "t.cGroup_Id"}) {}

 protected:
  void AfterDelete(Context& ctx, const std::string& key) override {
    ctx.cn.Execute("delete from qdsystem..UA_HoldAuth where iIsUser = 0 and cUser_Id = " +
                   SqlText(key) + " and " + AccountYear(ctx));
  }
};

// The function rights a user or a role holds in the account year: a row names the holder
// ("user:ID" or "role:ID") and the whole list of its rights, which replaces the list it had.
class RightsKind : public Kind {
 public:
  std::string_view Name() const override { return "rights"; }
  std::vector<std::string> Columns() const override { return {"holder", "rights"}; }

  std::string List(Context& ctx, const xml::Node& filter) override {
    if (filter.Attr("catalogue") == "1") {
      db::Recordset rs = ctx.cn.Execute(
          "select cAuth_Id as id, cAuth_Name as name, cAuth_NameEn as nameen, cSupAuth_Id as "
          "parent, bEndGrade as leaf from qdsystem..UA_Auth order by cAuth_Id");
      return RowsXml(rs);
    }
    std::map<std::string, std::string> held;
    db::Recordset rs =
        ctx.cn.Execute("select iIsUser, cUser_Id, cAuth_Id from qdsystem..UA_HoldAuth where " +
                       AccountYear(ctx) + " order by iIsUser desc, cUser_Id, cAuth_Id");
    for (; !rs.Eof(); rs.MoveNext()) {
      std::string holder =
          std::string(rs.Value("iIsUser").ToInt() == 1 ? "user:" : "role:") + rs.Text("cUser_Id");
      held[holder] += (held[holder].empty() ? "" : ",") + rs.Text("cAuth_Id");
    }
    std::string out;
    for (const auto& [holder, rights] : held) {
      out +=
          "<row holder='" + xml::XmlEscape(holder) + "' rights='" + xml::XmlEscape(rights) + "'/>";
    }
    return out;
  }

  void Add(Context& ctx, const xml::Node& row) override { Replace(ctx, row, true); }
  void Change(Context& ctx, const xml::Node& row) override { Replace(ctx, row, true); }
  void Delete(Context& ctx, const xml::Node& row) override { Replace(ctx, row, false); }

 private:
  static void Replace(Context& ctx, const xml::Node& row, bool keep) {
    std::string holder = Required(row, "holder");
    bool user = holder.rfind("user:", 0) == 0;
    if (!user && holder.rfind("role:", 0) != 0)
      Raise(kErrBusiness, "Rembiz.Admin.BadHolder", holder);
    std::string id = holder.substr(5);
    if (user ? !UserExists(ctx, id) : !RoleExists(ctx, id)) {
      Raise(kErrBusiness, user ? "Rembiz.Admin.UnknownUser" : "Rembiz.Admin.UnknownRole", id);
    }
    std::vector<std::string> rights =
        keep ? SplitList(row.Attr("rights")) : std::vector<std::string>{};
    bool keeps_admin = false;
    for (const std::string& right : rights) {
      if (right == "ADMIN") {
        keeps_admin = true;
        continue;
      }
      if (ctx.cn.Execute("select 1 from qdsystem..UA_Auth where cAuth_Id = " + SqlText(right))
              .Eof()) {
        Raise(kErrBusiness, "Rembiz.Admin.UnknownRight", right);
      }
    }
    // An administrator does not take away the right that lets them administer.
    if (user && db::Lower(id) == db::Lower(ctx.session.UserId()) && !keeps_admin &&
        !ctx.cn
             .Execute("select 1 from qdsystem..UA_HoldAuth where iIsUser = 1 and cAuth_Id = "
                      "'ADMIN' and cUser_Id = " +
                      SqlText(id) + " and " + AccountYear(ctx))
             .Eof()) {
      Raise(kErrBusiness, "Rembiz.Admin.NotYourself");
    }
    std::string where = AccountYear(ctx) + " and iIsUser = " + (user ? "1" : "0") +
                        " and cUser_Id = " + SqlText(id);
    ctx.cn.Execute("delete from qdsystem..UA_HoldAuth where " + where);
    for (const std::string& right : rights) {
      ctx.cn.Execute(
          "insert into qdsystem..UA_HoldAuth (cAcc_Id, iYear, cUser_Id, iIsUser, cAuth_Id) "
          "values (" +
          SqlText(ctx.session.AccountId()) + ", " + Year(ctx) + ", " + SqlText(id) + ", " +
          (user ? "1" : "0") + ", " + SqlText(right) + ")");
    }
  }
};

// The data permissions of a user: for departments, persons or operators, every record (all),
// none, or the listed codes. The lists and reports apply them.
class ScopeKind : public Kind {
 public:
  std::string_view Name() const override { return "scope"; }
  std::vector<std::string> Columns() const override { return {"user", "type", "scope", "codes"}; }

  std::string List(Context& ctx, const xml::Node&) override {
    db::Recordset rs = ctx.cn.Execute(
        "select r.cUser_Id, r.cAuthType, r.iScope, i.cCode from Host_ScopeRule r left join "
        "Host_ScopeRuleItem i on i.cUser_Id = r.cUser_Id and i.cAuthType = r.cAuthType and "
        "i.cSelector1 = r.cSelector1 and i.cSelector2 = r.cSelector2 where r.cSelector1 = '' "
        "and r.cSelector2 = '' and r.cAuthType in ('department', 'person', 'user') order by "
        "r.cUser_Id, r.cAuthType, i.cCode");
    std::map<std::pair<std::string, std::string>, std::pair<int64_t, std::string>> rules;
    for (; !rs.Eof(); rs.MoveNext()) {
      auto& rule = rules[{rs.Text("cUser_Id"), db::Lower(rs.Text("cAuthType"))}];
      rule.first = rs.Value("iScope").ToInt();
      if (!rs.Value("cCode").IsNull()) {
        rule.second += (rule.second.empty() ? "" : ",") + rs.Text("cCode");
      }
    }
    std::string out;
    static const char* kScopes[] = {"all", "none", "listed"};
    for (const auto& [key, rule] : rules) {
      out += "<row user='" + xml::XmlEscape(key.first) + "' type='" + xml::XmlEscape(key.second) +
             "' scope='" + kScopes[rule.first < 0 || rule.first > 2 ? 0 : rule.first] +
             "' codes='" + xml::XmlEscape(rule.second) + "'/>";
    }
    return out;
  }

  void Add(Context& ctx, const xml::Node& row) override {
    auto [user, type] = Read(ctx, row);
    std::string scope = db::Lower(Required(row, "scope"));
    int iscope = scope == "all" ? 0 : scope == "none" ? 1 : scope == "listed" ? 2 : -1;
    if (iscope < 0) Raise(kErrBusiness, "Rembiz.Admin.BadScope", scope);
    std::vector<std::string> codes = SplitList(row.Attr("codes"));
    static const std::map<std::string, std::pair<std::string, std::string>> kTables = {
        {"department", {"Department", "cDepCode"}},
        {"person", {"Person", "cPersonCode"}},
        {"user", {"qdsystem..UA_User", "cUser_Id"}}};
    const auto& [table, column] = kTables.at(type);
    for (const std::string& code : codes) {
      if (ctx.cn.Execute("select 1 from " + table + " where " + column + " = " + SqlText(code))
              .Eof()) {
        Raise(kErrBusiness, "Rembiz.Admin.UnknownCode", type, code);
      }
    }
    Remove(ctx, user, type);
    ctx.cn.Execute(
        "insert into Host_ScopeRule (cUser_Id, cAuthType, cSelector1, cSelector2, iScope) "
        "values (" +
        SqlText(user) + ", " + SqlText(type) + ", '', '', " + std::to_string(iscope) + ")");
    if (iscope != 2) return;
    for (const std::string& code : codes) {
      ctx.cn.Execute(
          "insert into Host_ScopeRuleItem (cUser_Id, cAuthType, cSelector1, cSelector2, cCode) "
          "values (" +
          SqlText(user) + ", " + SqlText(type) + ", '', '', " + SqlText(code) + ")");
    }
  }
  void Change(Context& ctx, const xml::Node& row) override { Add(ctx, row); }
  void Delete(Context& ctx, const xml::Node& row) override {
    auto [user, type] = Read(ctx, row);
    Remove(ctx, user, type);
  }

 private:
  static std::pair<std::string, std::string> Read(Context& ctx, const xml::Node& row) {
    std::string user = Code(row, "user", 20);
    if (!UserExists(ctx, user)) Raise(kErrBusiness, "Rembiz.Admin.UnknownUser", user);
    std::string type = db::Lower(Required(row, "type"));
    if (type != "department" && type != "person" && type != "user") {
      Raise(kErrBusiness, "Rembiz.Admin.BadScopeType", type);
    }
    return {user, type};
  }
  static void Remove(Context& ctx, const std::string& user, const std::string& type) {
    std::string where = " where cUser_Id = " + SqlText(user) + " and cAuthType = " + SqlText(type) +
                        " and cSelector1 = '' and cSelector2 = ''";
    ctx.cn.Execute("delete from Host_ScopeRuleItem" + where);
    ctx.cn.Execute("delete from Host_ScopeRule" + where);
  }
};

UserKind user_kind;
PasswordKind password_kind;
RoleKind role_kind;
RightsKind rights_kind;
ScopeKind scope_kind;
const KindRegistrar kRegistrars[] = {KindRegistrar(&user_kind), KindRegistrar(&password_kind),
                                     KindRegistrar(&role_kind), KindRegistrar(&rights_kind),
                                     KindRegistrar(&scope_kind)};

}  // namespace
}  // namespace rembiz::admin
