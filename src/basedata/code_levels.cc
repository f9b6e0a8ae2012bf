#include "basedata/code_levels.h"

#include <unordered_set>

#include "db/text.h"
#include "frame/sql_helpers.h"
#include "host/errors.h"

namespace rembiz::basedata {
namespace {

// Byte offset after the first `chars` characters of a UTF-8 text.
size_t PrefixBytes(std::string_view text, size_t chars) {
  size_t pos = 0;
  for (size_t n = 0; n < chars && pos < text.size(); ++n) {
    ++pos;
    while (pos < text.size() && (static_cast<unsigned char>(text[pos]) & 0xC0) == 0x80) ++pos;
  }
  return pos;
}

}  // namespace

size_t CodeLength(std::string_view code) {
  size_t count = 0;
  for (char c : code) count += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return count;
}

std::optional<CodeLevels> CodeLevels::Parse(std::string_view text) {
  std::string trimmed = db::Trim(text);
  if (trimmed.empty() || trimmed.size() > 5) return std::nullopt;
  CodeLevels levels;
  size_t total = 0;
  for (char c : trimmed) {
    if (c < '1' || c > '9') return std::nullopt;
    levels.lengths_.push_back(static_cast<size_t>(c - '0'));
    total += levels.lengths_.back();
    levels.totals_.push_back(total);
  }
  return levels;
}

size_t CodeLevels::LevelOf(std::string_view code) const {
  size_t length = CodeLength(code);
  for (size_t i = 0; i < totals_.size(); ++i) {
    if (totals_[i] == length) return i + 1;
    if (totals_[i] > length) return 0;
  }
  return 0;
}

std::string CodeLevels::ParentOf(std::string_view code) const {
  size_t level = LevelOf(code);
  if (level < 2) return "";
  return std::string(code.substr(0, PrefixBytes(code, totals_[level - 2])));
}

LevelFit CheckCodes(const CodeLevels& levels, const std::vector<std::string>& codes, bool rooted) {
  for (const std::string& code : codes) {
    if (CodeLength(code) > levels.MaxLength()) return LevelFit::kTooLong;
  }
  for (const std::string& code : codes) {
    if (levels.LevelOf(code) == 0) return LevelFit::kNoLevel;
  }
  std::unordered_set<std::string> known(codes.begin(), codes.end());
  for (const std::string& code : codes) {
    size_t level = levels.LevelOf(code);
    if (level == 1) {
      // An item at the root level would be a root itself.
      if (rooted) return LevelFit::kNoParent;
      continue;
    }
    std::string parent = levels.ParentOf(code);
    bool root = rooted && level == 2 && (parent == "1" || parent == "2");
    if (!root && !known.count(parent)) return LevelFit::kNoParent;
  }
  return LevelFit::kFits;
}

CodeLevels ReadLevels(db::Connection& cn, std::string_view option, std::string_view missing_key) {
  std::string text = db::Trim(frame::AccOption(option, cn, "EC"));
  if (text.empty()) Raise(kErrBusiness, missing_key);
  std::optional<CodeLevels> levels = CodeLevels::Parse(text);
  if (!levels) Raise(kErrBusiness, "Q7.Rembiz.0191");
  return *levels;
}

}  // namespace rembiz::basedata
