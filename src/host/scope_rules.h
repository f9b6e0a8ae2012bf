// Row authority: which departments, persons, cost items, operators and templates an operator may
// see. Rules live in Host_ScopeRule / Host_ScopeRuleItem of the account database.
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace rembiz::host {

class ScopeRules {
 public:
  virtual ~ScopeRules() = default;
  virtual void Init(const std::string& connection_string, const std::string& user_id) = 0;
  // "" = unrestricted, "1=2" = nothing allowed, otherwise a quoted list usable inside IN (…).
  virtual std::string GetAuthString(std::string_view auth_type, std::string_view selector1 = "",
                                    std::string_view selector2 = "") = 0;
};

std::unique_ptr<ScopeRules> CreateScopeRules();

}  // namespace rembiz::host
