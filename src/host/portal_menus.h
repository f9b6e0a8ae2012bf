// The module's menu for an operator: the entries of UA_Menu whose right the operator holds
// (directly, through a role, through a right on a branch above it, or as administrator), and
// the branches that have such entries below them.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "db/connection.h"

namespace rembiz::host {

class PortalMenus {
 public:
  virtual ~PortalMenus() = default;
  // The menu as nested <item id='…' name='…' url='…'> elements, names in the current language.
  // With `tree` the branches enclose their entries; without it only the entries, in menu order.
  // `cn` is an account connection (the system database attached as qdsystem).
  virtual std::string LoadMenu1(db::Connection& cn, bool tree, std::string_view system_id,
                                std::string_view account, std::string_view year,
                                std::string_view user_id) = 0;
};

std::unique_ptr<PortalMenus> CreatePortalMenus();

}  // namespace rembiz::host
