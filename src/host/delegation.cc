#include "host/delegation.h"

#include <chrono>
#include <set>

#include "db/text.h"
#include "host/errors.h"
#include "host/service_sql.h"

namespace rembiz::host {
namespace {

// A calendar date written "YYYY-MM-DD"; other forms are no date.
bool IsDate(std::string_view text) {
  if (text.size() != 10 || text[4] != '-' || text[7] != '-') return false;
  for (size_t i : {0, 1, 2, 3, 5, 6, 8, 9}) {
    if (text[i] < '0' || text[i] > '9') return false;
  }
  auto number = [&](size_t at, size_t length) {
    int value = 0;
    for (size_t i = at; i < at + length; ++i) value = value * 10 + (text[i] - '0');
    return value;
  };
  std::chrono::year_month_day day{std::chrono::year(number(0, 4)),
                                  std::chrono::month(static_cast<unsigned>(number(5, 2))),
                                  std::chrono::day(static_cast<unsigned>(number(8, 2)))};
  return day.ok();
}

struct Edge {
  std::string user, substitute, from, to;
};

// Whether following the delegations from `start` within the days [from, to] reaches `target`
// on some day: each step keeps only the days both delegations share.
bool Reaches(const std::vector<Edge>& edges, const std::string& start, const std::string& target,
             const std::string& from, const std::string& to, int depth = 0) {
  if (depth > static_cast<int>(edges.size())) return false;
  for (const Edge& edge : edges) {
    if (db::Lower(edge.user) != db::Lower(start)) continue;
    std::string low = std::max(from, edge.from);
    std::string high = std::min(to, edge.to);
    if (low > high) continue;
    if (db::Lower(edge.substitute) == db::Lower(target)) return true;
    if (Reaches(edges, edge.substitute, target, low, high, depth + 1)) return true;
  }
  return false;
}

// The user's id as the system database keeps it, with whether they are disabled; refused when
// there is no such user.
std::pair<std::string, bool> KnownUser(db::Connection& cn, std::string_view user) {
  db::Recordset rs = cn.Execute(
      "select cUser_Id, bDisabled from QDSystem..UA_User where cUser_Id = " + SqlText(user));
  if (rs.Eof()) Raise(kErrBusiness, "Rembiz.Host.DelegationNoUser", user);
  return {rs.Text("cUser_Id"), rs.Value("bDisabled").ToBool()};
}

}  // namespace

DelegationsInForce DelegationsInForce::Read(db::Connection& cn, std::string_view day) {
  DelegationsInForce in_force;
  db::Recordset rs = cn.Execute(
      "select d.cUser_Id, d.cSubstitute_Id, isnull(u.bDisabled, 1) as bDisabled from "
      "Host_Delegation d left join QDSystem..UA_User u on u.cUser_Id = d.cSubstitute_Id where "
      "d.dFrom <= " +
      SqlText(day) + " and d.dTo >= " + SqlText(day) + " order by d.AutoID");
  for (; !rs.Eof(); rs.MoveNext()) {
    in_force.links_[db::Lower(rs.Text("cUser_Id"))] =
        Link{rs.Text("cUser_Id"), rs.Text("cSubstitute_Id"), rs.Value("bDisabled").ToBool()};
  }
  return in_force;
}

std::string DelegationsInForce::Effective(const std::string& user) const {
  std::string current = user;
  std::set<std::string> seen{db::Lower(user)};
  for (;;) {
    auto link = links_.find(db::Lower(current));
    if (link == links_.end() || link->second.disabled) return current;
    // Circles are refused when saved; one that slipped in ends where it closes.
    if (!seen.insert(db::Lower(link->second.substitute)).second) return current;
    current = link->second.substitute;
  }
}

std::vector<std::string> DelegationsInForce::Principals(const std::string& user) const {
  std::vector<std::string> principals;
  for (const auto& [key, link] : links_) {
    if (key != db::Lower(user) && db::Lower(Effective(link.user)) == db::Lower(user)) {
      principals.push_back(link.user);
    }
  }
  return principals;
}

int64_t SaveDelegation(Session& session, db::Connection& cn, const DelegationInput& input,
                       std::string_view today) {
  std::string who = db::Trim(input.user);
  if (who.empty()) who = session.UserId();
  if (db::Lower(who) != db::Lower(session.UserId()) && !session.IsAdmin()) {
    Raise(kErrBusiness, "Rembiz.Host.DelegationNotYours");
  }
  std::string from = db::Trim(input.from), to = db::Trim(input.to);
  if (!IsDate(from) || !IsDate(to) || to < from) Raise(kErrBusiness, "Rembiz.Host.DelegationDates");
  if (to < today) Raise(kErrBusiness, "Rembiz.Host.DelegationPast", to);
  std::string user = KnownUser(cn, who).first;
  std::string substitute_text = db::Trim(input.substitute);
  if (substitute_text.empty()) Raise(kErrBusiness, "Rembiz.Host.DelegationNoSubstitute");
  auto [substitute, disabled] = KnownUser(cn, substitute_text);
  if (db::Lower(substitute) == db::Lower(user)) Raise(kErrBusiness, "Rembiz.Host.DelegationSelf");
  if (disabled) Raise(kErrBusiness, "Rembiz.Host.DelegationDisabled", substitute);

  db::Recordset overlap = cn.Execute(
      "select dFrom, dTo from Host_Delegation where cUser_Id = " + SqlText(user) +
      " and dFrom <= " + SqlText(to) + " and dTo >= " + SqlText(from) + " order by dFrom");
  if (!overlap.Eof()) {
    Raise(kErrBusiness, "Rembiz.Host.DelegationOverlap", user, overlap.Text("dFrom"),
          overlap.Text("dTo"));
  }
  // A circle on any day of the range would leave the work with nobody.
  std::vector<Edge> edges;
  db::Recordset rs = cn.Execute(
      "select cUser_Id, cSubstitute_Id, dFrom, dTo from Host_Delegation where dFrom <= " +
      SqlText(to) + " and dTo >= " + SqlText(from));
  for (; !rs.Eof(); rs.MoveNext()) {
    edges.push_back(
        {rs.Text("cUser_Id"), rs.Text("cSubstitute_Id"), rs.Text("dFrom"), rs.Text("dTo")});
  }
  if (Reaches(edges, substitute, user, from, to)) {
    Raise(kErrBusiness, "Rembiz.Host.DelegationCircle", substitute, user);
  }
  cn.Execute(
      "insert into Host_Delegation (cUser_Id, cSubstitute_Id, dFrom, dTo, cRemark, cMaker) "
      "values (" +
      SqlText(user) + ", " + SqlText(substitute) + ", " + SqlText(from) + ", " + SqlText(to) +
      ", " + SqlTextOrNull(db::Trim(input.remark)) + ", " + SqlText(session.UserId()) + ")");
  db::Recordset added =
      cn.Execute("select max(AutoID) as id from Host_Delegation where cUser_Id = " + SqlText(user) +
                 " and dFrom = " + SqlText(from));
  return added.Value("id").ToInt();
}

void RemoveDelegation(Session& session, db::Connection& cn, std::string_view auto_id,
                      std::string_view ts) {
  auto whole = [](std::string_view text) {
    return !text.empty() && text.size() < 19 &&
           text.find_first_not_of("0123456789") == std::string_view::npos;
  };
  if (!whole(auto_id) || !whole(ts)) Raise(kErrBusiness, "Rembiz.Host.DelegationStale");
  std::string where = " where AutoID = " + std::string(auto_id);
  db::Recordset rs = cn.Execute("select cUser_Id from Host_Delegation" + where);
  if (rs.Eof()) Raise(kErrBusiness, "Rembiz.Host.DelegationStale");
  if (db::Lower(rs.Text("cUser_Id")) != db::Lower(session.UserId()) && !session.IsAdmin()) {
    Raise(kErrBusiness, "Rembiz.Host.DelegationNotYours");
  }
  int64_t affected = 0;
  cn.Execute("delete from Host_Delegation" + where + " and Cast(ts As money) = " + std::string(ts),
             &affected);
  if (affected != 1) Raise(kErrBusiness, "Rembiz.Host.DelegationStale");
}

db::Recordset ListDelegations(Session& session, db::Connection& cn, std::string_view user) {
  std::string who = db::Trim(user);
  if (!session.IsAdmin()) who = session.UserId();
  std::string where = who.empty() ? ""
                                  : " where d.cUser_Id = " + SqlText(who) +
                                        " or d.cSubstitute_Id = " + SqlText(who);
  return cn.Execute(
      "select d.AutoID, d.cUser_Id, u.cUser_Name, d.cSubstitute_Id, s.cUser_Name as "
      "cSubstitute_Name, isnull(s.bDisabled, 1) as bDisabled, d.dFrom, d.dTo, d.cRemark, "
      "d.cMaker, d.dCreated, Cast(d.ts As money) as ts from Host_Delegation d left join "
      "QDSystem..UA_User u on u.cUser_Id = d.cUser_Id left join QDSystem..UA_User s on "
      "s.cUser_Id = d.cSubstitute_Id" +
      where + " order by d.dFrom desc, d.AutoID desc");
}

}  // namespace rembiz::host
