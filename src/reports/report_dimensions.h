// The dimensions the ageing analysis and the summary by voucher type group by: department,
// date (summary only), person, grade, item class, item and budget item. A request names one by
// the text of its message key in the user's language (`in/type/row[@name='stritem']`).
#pragma once

#include <string>
#include <string_view>

#include "db/connection.h"
#include "xml/document.h"

namespace rembiz::reports {

struct Dimension {
  std::string title;  // the text the request named
  bool item = false;  // grouped by item class and item (cclasscode, ccode)
  // Group columns over the voucher head; `source_joins` are the joins they need.
  std::string class_column;
  std::string code_column;
  std::string source_joins;
  // Names over the work table `w`: the joins and the name expressions.
  std::string name_joins;
  std::string class_name;
  std::string name;

  // "<class>,<code>" or "<code>", for SELECT and GROUP BY over the head.
  std::string GroupColumns() const;
  // " and <column> is not null" for every group column.
  std::string NotNull() const;
  // The group columns as they are selected into a work table.
  std::string SelectGroup() const;
  // The key of a group in the work table `w` (with the currency column when `currency`).
  std::string WorkKey(bool currency = false) const;
  // The group part of the column layout `format`.
  std::string GroupFormat() const;
};

// The dimension of the request over the head alias `head` ("ec_loanvouch", "ec_vch");
// `summary` admits the date and names persons with the summary's title. A dimension outside
// the table fails with "Q7.Rembiz.0343".
Dimension RequestDimension(const xml::Node& func, std::string_view head, bool summary,
                           db::Connection& cn);

}  // namespace rembiz::reports
