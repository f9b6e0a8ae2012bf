// Delegation of approvals: a user away names a substitute for a range of days
// (Host_Delegation); on those days the substitute may act at every step of an approval flow the
// user would approve, and the flow records say for whom. The approval flow and the approver
// list ask here who takes whose work today.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "db/connection.h"
#include "db/recordset.h"
#include "host/session.h"

namespace rembiz::host {

// The delegations in force on one day, read once.
class DelegationsInForce {
 public:
  // `day` is "YYYY-MM-DD"; every delegation whose range holds it counts.
  static DelegationsInForce Read(db::Connection& cn, std::string_view day);

  // Who takes `user`'s work: the substitute, the substitute's substitute and so on. A disabled
  // substitute ends the chain there and the work stays with the last enabled user before it
  // (A to B to C with B disabled stays with A): A chose B, not whoever B chose. The user is
  // their own answer without a delegation.
  std::string Effective(const std::string& user) const;
  // The users whose work reaches `user` through delegations today (never `user` itself).
  std::vector<std::string> Principals(const std::string& user) const;

 private:
  struct Link {
    std::string user;
    std::string substitute;
    bool disabled = false;  // the substitute may no longer log in
  };
  std::map<std::string, Link> links_;  // by the delegating user
};

struct DelegationInput {
  std::string user;  // the one away; empty: the operator
  std::string substitute;
  std::string from, to;  // "YYYY-MM-DD", both days included
  std::string remark;
};

// Saves a new delegation for the operator, or for anyone when the operator is an administrator.
// Refused (error 9000): a range that is not two dates in order or that ended before `today`, an
// unknown or disabled substitute, oneself, a range that overlaps another delegation of the same
// user, and one that would close a circle on any day of its range. Returns its AutoID.
int64_t SaveDelegation(Session& session, db::Connection& cn, const DelegationInput& input,
                       std::string_view today);
// Removes a delegation by AutoID and the row version a list answered; only the user's own (or
// any, for an administrator).
void RemoveDelegation(Session& session, db::Connection& cn, std::string_view auto_id,
                      std::string_view ts);
// The operator's delegations and those naming the operator as substitute, newest range first;
// an administrator gets every one, or those of `user` (given or named as substitute).
db::Recordset ListDelegations(Session& session, db::Connection& cn, std::string_view user);

}  // namespace rembiz::host
