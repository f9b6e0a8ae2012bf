// `rembiz admin`: the administration class (CAdmin) from the command line, for scripts.
//
//   rembiz admin list KIND [attr=value …] [--format table|csv|xlsx|xml] [--out FILE]
//   rembiz admin add|change|delete KIND attr=value … [--step "attr=value …"]…
//   rembiz admin import KIND FILE.csv|FILE.xlsx [--dry-run]
//
// Every command builds one request to CAdmin and runs it as the operator of --user, so the
// rules (rights, row versions, records in use) are the class's, as for the pages.
#pragma once

#include <string>
#include <vector>

namespace rembiz::app {

struct AdminCommand {
  std::string location;  // data folder or database URL
  std::string account = "001";
  std::string year;
  std::string user = "admin";
  std::string language = "en-US";
  std::string action;  // list, add, change, delete, import
  std::string kind;
  std::vector<std::string> args;   // attr=value, or the file of an import
  std::vector<std::string> steps;  // "attr=value …" per step of a flow
  std::string format = "table";
  std::string out;
  bool dry_run = false;
};

// Exit codes: 0 done, 1 refused (the reason on standard error), 2 usage errors.
int RunAdminCommand(const AdminCommand& command);

// The records of a CSV text (RFC 4180, UTF-8, a byte-order mark skipped): the first record
// names the columns. Cells a CSV export protected with a leading "'" keep it.
std::vector<std::vector<std::string>> ReadCsv(const std::string& text);

}  // namespace rembiz::app
