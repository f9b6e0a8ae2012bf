// Code levels of the coded trees (reimbursement items, districts): an option such as "1222"
// gives the code length of each level, so that a code's level and its parent follow from its
// length. Items hang below two roots "1" and "2" that are no rows: the first level of their
// option is the root character.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "db/connection.h"

namespace rembiz::basedata {

class CodeLevels {
 public:
  // "1222" → lengths 1, 2, 2, 2; nullopt unless the text is one to five digits 1-9.
  static std::optional<CodeLevels> Parse(std::string_view text);

  size_t Count() const { return lengths_.size(); }
  size_t Length(size_t level) const { return lengths_.at(level - 1); }  // level from 1
  size_t MaxLength() const { return totals_.empty() ? 0 : totals_.back(); }
  // The level (from 1) whose running total of lengths equals the code's length; 0 when the
  // length is no such total.
  size_t LevelOf(std::string_view code) const;
  // The code's prefix through the level above its own; "" at level 1 or when it fits no level.
  std::string ParentOf(std::string_view code) const;

 private:
  std::vector<size_t> lengths_;
  std::vector<size_t> totals_;
};

// Characters of a code (UTF-8), as the database's len() counts them.
size_t CodeLength(std::string_view code);

// Why existing codes would not fit levels.
enum class LevelFit { kFits, kTooLong, kNoLevel, kNoParent };

// Checks every code against the levels: none longer than the deepest level, each exactly at a
// level, each below an existing parent. `rooted`: the first level is the root character ("1" or
// "2", items), so codes sit from the second level on and the roots need no row.
LevelFit CheckCodes(const CodeLevels& levels, const std::vector<std::string>& codes, bool rooted);

// The levels an option of system "EC" holds; raises `missing_key` when it is not set, and
// "Q7.Rembiz.0191" when it is no level string.
CodeLevels ReadLevels(db::Connection& cn, std::string_view option, std::string_view missing_key);

}  // namespace rembiz::basedata
