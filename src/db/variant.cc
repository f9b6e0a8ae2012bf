#include "db/variant.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace rembiz::db {
namespace {

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int y, int m) {
  static constexpr std::array<int, 12> kDays = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

// Reads up to `max_digits` digits at text[pos]; false when there are none.
bool ReadInt(std::string_view text, size_t& pos, int max_digits, int& out) {
  size_t start = pos;
  out = 0;
  while (pos < text.size() && pos - start < static_cast<size_t>(max_digits) && text[pos] >= '0' &&
         text[pos] <= '9') {
    out = out * 10 + (text[pos] - '0');
    ++pos;
  }
  return pos > start;
}

}  // namespace

Variant Variant::Bool(bool v) {
  Variant out;
  out.value_ = v;
  return out;
}

Variant Variant::Date(std::string_view text) {
  Variant out;
  if (auto normal = NormalizeDate(text)) out.value_ = DateValue{*normal};
  return out;
}

std::string DoubleText(double value) {
  if (std::isnan(value)) return "NaN";
  if (value == 0) return "0";
  std::array<char, 64> buf{};
  auto [end, ec] = std::to_chars(buf.data(), buf.data() + buf.size(), value);
  if (ec != std::errc()) return std::to_string(value);
  return std::string(buf.data(), end);
}

std::optional<double> ParseNumber(std::string_view text) {
  text = Trim(text);
  if (text.empty()) return std::nullopt;
  if (text.front() == '+') text.remove_prefix(1);
  double value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(value)) {
    return std::nullopt;
  }
  return value;
}

std::optional<std::string> NormalizeDate(std::string_view text) {
  text = Trim(text);
  size_t pos = 0;
  int y = 0, m = 0, d = 0, hh = 0, mi = 0, ss = 0;
  if (!ReadInt(text, pos, 4, y) || pos != 4) return std::nullopt;
  auto sep = [&]() {
    if (pos < text.size() && (text[pos] == '-' || text[pos] == '/' || text[pos] == '.')) {
      ++pos;
      return true;
    }
    return false;
  };
  if (!sep() || !ReadInt(text, pos, 2, m) || !sep() || !ReadInt(text, pos, 2, d)) {
    return std::nullopt;
  }
  if (m < 1 || m > 12 || d < 1 || d > DaysInMonth(y, m) || y < 1) return std::nullopt;
  bool has_time = false;
  if (pos < text.size()) {
    if (text[pos] != ' ' && text[pos] != 'T') return std::nullopt;
    ++pos;
    if (!ReadInt(text, pos, 2, hh) || pos >= text.size() || text[pos] != ':') return std::nullopt;
    ++pos;
    if (!ReadInt(text, pos, 2, mi)) return std::nullopt;
    if (pos < text.size() && text[pos] == ':') {
      ++pos;
      if (!ReadInt(text, pos, 2, ss)) return std::nullopt;
      // Fractions of a second are dropped.
      if (pos < text.size() && text[pos] == '.') {
        ++pos;
        while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') ++pos;
      }
    }
    if (pos != text.size() || hh > 23 || mi > 59 || ss > 59) return std::nullopt;
    has_time = hh != 0 || mi != 0 || ss != 0;
  }
  char buf[32];
  if (has_time) {
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", y, m, d, hh, mi, ss);
  } else {
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", y, m, d);
  }
  return std::string(buf);
}

std::string Variant::ToText() const {
  switch (kind()) {
    case Kind::kNull:
      return "";
    case Kind::kInt:
      return std::to_string(std::get<int64_t>(value_));
    case Kind::kDouble:
      return DoubleText(std::get<double>(value_));
    case Kind::kText:
      return std::get<std::string>(value_);
    case Kind::kBool:
      return std::get<bool>(value_) ? "True" : "False";
    case Kind::kDate:
      return std::get<DateValue>(value_).text;
  }
  return "";
}

std::string_view Variant::TextView(std::string& scratch) const {
  switch (kind()) {
    case Kind::kText:
      return std::get<std::string>(value_);
    case Kind::kDate:
      return std::get<DateValue>(value_).text;
    case Kind::kNull:
      return {};
    case Kind::kBool:
      return std::get<bool>(value_) ? "True" : "False";
    case Kind::kInt:
    case Kind::kDouble:
    default:
      scratch = ToText();
      return scratch;
  }
}

double Variant::ToDouble() const {
  switch (kind()) {
    case Kind::kInt:
      return static_cast<double>(std::get<int64_t>(value_));
    case Kind::kDouble:
      return std::get<double>(value_);
    case Kind::kBool:
      return std::get<bool>(value_) ? 1 : 0;
    case Kind::kText: {
      const std::string& s = std::get<std::string>(value_);
      return std::strtod(s.c_str(), nullptr);
    }
    case Kind::kNull:
    case Kind::kDate:
    default:
      return 0;
  }
}

int64_t Variant::ToInt() const {
  if (kind() == Kind::kInt) return std::get<int64_t>(value_);
  return static_cast<int64_t>(std::llround(ToDouble()));
}

bool Variant::ToBool() const {
  switch (kind()) {
    case Kind::kBool:
      return std::get<bool>(value_);
    case Kind::kInt:
      return std::get<int64_t>(value_) != 0;
    case Kind::kDouble:
      return std::get<double>(value_) != 0;
    case Kind::kText: {
      std::string_view s = Trim(std::get<std::string>(value_));
      if (s.size() == 4 && (s[0] == 't' || s[0] == 'T') && (s[1] == 'r' || s[1] == 'R') &&
          (s[2] == 'u' || s[2] == 'U') && (s[3] == 'e' || s[3] == 'E')) {
        return true;
      }
      if (auto n = ParseNumber(s)) return *n != 0;
      return false;
    }
    case Kind::kNull:
    case Kind::kDate:
    default:
      return false;
  }
}

}  // namespace rembiz::db
