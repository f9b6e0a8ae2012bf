// The expense-standard check of one claim row: finds the standard of the row's item in the
// claim's department, matches the row against the standard's dimensions, converts the amounts
// into local currency and decides what may be claimed. The claim save runs it for every row;
// what it reports decides between refusing the save and warning the claimant.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "db/connection.h"
#include "db/error.h"
#include "host/session.h"
#include "xml/document.h"

namespace rembiz::standards {

// The values of one claim row (and of its head) that the standard depends on. Amounts are in
// the claim's currency; a missing number counts as 0. Every member has an initializer, so that
// rows can be written with designated initializers naming only what matters.
struct ClaimRowValues {
  std::string item{};        // strIOItem of the row
  std::string department{};  // strDepartID of the head
  std::string claimant{};    // strLoanID of the head
  std::string place{};       // strEZero of the row: its place grade is dimension 2
  std::string dimension3{};  // strJTTools of the row
  double receipt = 0;        // dblVouch of the row
  double claimed = 0;        // dblMoney of the row
  double quantity = 0;       // dblNumber of the row; 0 counts as 1
  std::string currency{};    // strBill of the head
  double rate = 0;           // fltRate of the head

  // The values as the claim save sends them: head record and row element of the request.
  static ClaimRowValues FromClaim(const xml::Node& head, const xml::Node& row);
};

// What the check found. `guid` empty: no standard applies and the row is not controlled.
// `guid` set and `message` empty: the row is within the standard. `guid` and `message` set:
// the row breaks the standard, or lacks data the standard needs.
struct StandardOutcome {
  // Text of the message while no standard has been found; the claim save never shows it.
  static constexpr std::string_view kNoStandard = "没找到报消标准";

  std::string guid;          // EC_Expense.GUID
  std::string name;          // strStandName
  std::string control_type;  // strControlType as stored
  bool hard_control = false;
  double per_unit = 0;      // dblMoney of the matching value row
  double percent = 0;       // dblRate: share of the receipt above the base that is still allowed
  double base = 0;          // per-unit amount times the quantity
  double claimed = 0;       // claimed amount in local currency, 2 decimals
  double receipt = 0;       // receipt amount in local currency, 2 decimals
  double allowed = 0;       // what may be claimed, local currency
  double excess = 0;        // claimed minus allowed when the claim is above the standard
  std::string message_key;  // key of `message`, "" for kNoStandard or a database error
  std::string message{kNoStandard};
  bool failed = false;  // a database error stopped the check: `message` is its text

  bool Applies() const { return !guid.empty(); }
  // A failed check is reported even when no standard was found yet: the caller must not take
  // it for "no standard applies".
  bool Breaks() const { return failed || (Applies() && !message.empty()); }
  // A hard-control standard refuses the save; any other only warns.
  bool StopsSave() const { return Breaks() && hard_control; }
};

// What the checks of a claim's rows look up. Each answer is read once and kept for the other
// rows; Preload reads the standards of all the claim's items, with the dimensions they use, and
// the items themselves in one query each, where a single row's check asks for its own only.
class StandardLookups {
 public:
  explicit StandardLookups(db::Connection& cn) : cn_(cn) {}

  struct Standard {
    std::string guid;
    std::string name;
    std::string control_type;
    bool uses[4] = {};  // dimensions 1 to 4
  };
  struct Conversion {
    bool local = false;     // iotherused -1: the local currency, taken as it is
    bool multiply = false;  // bcal 1: the rate multiplies, otherwise it divides
  };

  // The standards and items of a claim's rows in its department, at once; with the items the
  // claimant's grade and the currency's conversion, which the rows' checks may need.
  void Preload(std::string_view department, const std::vector<std::string>& items,
               std::string_view claimant = "", std::string_view currency = "");
  // The first standard of the item in the department; nullopt when there is none.
  std::optional<Standard> Find(std::string_view item, std::string_view department);
  // Whether the item (EC_IOItem) is a leaf; nullopt when there is no such item.
  std::optional<bool> ItemIsLeaf(std::string_view item);
  // True when a standard of the item in the department grades by receipt bracket.
  bool UsesReceiptBracket(std::string_view department, std::string_view item);
  // The grade of a claimant (EC_PersonCtrl) or a place (EC_Position); nullopt without a row.
  std::optional<std::string> PersonGrade(std::string_view claimant);
  std::optional<std::string> PlaceGrade(std::string_view place);
  // How amounts of the currency become local ones; nullopt for an unknown currency.
  std::optional<Conversion> CurrencyConversion(std::string_view currency);

  // The value rows of every row's standard, read in one query before the rows are checked one
  // by one; each check then takes its own from here. When that query fails, each check that
  // asked fails with its error, as when its own read fails.
  void PreloadValueRows(std::string_view language, const std::vector<ClaimRowValues>& rows);
  // The value rows a check asks for with `sql`: those read at once when there, else read now.
  db::Recordset ValueRows(const std::string& sql);

  db::Connection& Cn() { return cn_; }

 private:
  using Grades = std::map<std::string, std::optional<std::string>, std::less<>>;
  std::optional<std::string> Grade(Grades& grades, const char* sql, std::string_view code);

  db::Connection& cn_;
  std::string department_;  // of the preloaded standards and items
  bool preloaded_ = false;
  // By lower-case item code: the item's standards in their order, and its leaf flag.
  std::map<std::string, std::vector<Standard>, std::less<>> standards_;
  std::map<std::string, bool, std::less<>> items_;
  std::optional<ComError> standards_error_;  // the failed read of the standards, if it failed
  std::optional<ComError> items_error_;
  Grades person_grades_;
  Grades place_grades_;
  std::map<std::string, std::optional<Conversion>, std::less<>> conversions_;
  std::vector<std::string>* asked_ = nullptr;  // while the value rows are being gathered
  std::map<std::string, db::Recordset, std::less<>> value_rows_;  // by the query that asks them
  std::map<std::string, ComError, std::less<>> failed_reads_;     // by the query that failed
};

// Runs the check for one row. Never throws on bad data or database errors: every problem ends
// up in the outcome's message, so that the caller decides between refusal and warning.
// Messages are in the session's language.
StandardOutcome StandardCheck(host::Session& session, db::Connection& cn,
                              const ClaimRowValues& row);
// The same with the look-ups of the claim the row belongs to.
StandardOutcome StandardCheck(host::Session& session, StandardLookups& lookups,
                              const ClaimRowValues& row);

// True when the stored control type means hard control ("严格控制", the zh-CN text of
// "Q7.Rembiz.0028"); any other value, empty included, only warns.
bool IsHardControl(std::string_view control_type);

// True when a standard of the item for the department grades by receipt bracket, so that a
// claim row of the item needs a receipt amount. False for an empty department.
bool UsesReceiptBracket(db::Connection& cn, std::string_view department, std::string_view item);

// Raises "Q7.Rembiz.0282" naming the row by `row_label` ("(n)") when the row carries no receipt
// amount (`receipt` empty) although its item's standard in the department grades by receipt
// bracket.
void RequireReceiptAmount(db::Connection& cn, std::string_view department, std::string_view item,
                          std::string_view receipt, std::string_view row_label);
void RequireReceiptAmount(StandardLookups& lookups, std::string_view department,
                          std::string_view item, std::string_view receipt,
                          std::string_view row_label);

}  // namespace rembiz::standards
