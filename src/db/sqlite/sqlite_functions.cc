// SQL Server's scalar functions with SQL Server's semantics, registered on every SQLite handle,
// and the helpers the translator's rewrites call (rembiz_convert, rembiz_decimal, rembiz_plus).
//
// Dates are text in one normal form, the one every value writer of the system uses:
// "YYYY-MM-DD" for midnight and "YYYY-MM-DD HH:MM:SS" (".mmm" when there are milliseconds)
// otherwise; only GETDATE() always carries its time. Texts that hold dates in other common
// shapes ("2004-3-5", "2004/03/05", "20040305", ISO with "T") are read wherever a date is
// expected. How text compares is in sqlite_collations.cc.
#include "db/sqlite/sqlite_functions.h"

#include <sqlite3.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>

#include "db/backend.h"
#include "db/error.h"

namespace rembiz::db::sqlite {
namespace {

// ---------------------------------------------------------------------------------------------
// Text and numbers

std::string_view TextArg(sqlite3_value* v) {
  const unsigned char* text = sqlite3_value_text(v);
  if (text == nullptr) return {};
  return {reinterpret_cast<const char*>(text), static_cast<size_t>(sqlite3_value_bytes(v))};
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

std::string LowerAscii(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

// Shortest text that reads back as the same double, without trailing zeros.
std::string NumberText(double v) {
  char buf[40];
  for (int precision = 15; precision <= 17; ++precision) {
    std::snprintf(buf, sizeof buf, "%.*g", precision, v);
    if (std::strtod(buf, nullptr) == v) break;
  }
  return buf;
}

// Rounds half away from zero at `scale` decimals (negative: tens, hundreds ...), on the value's
// 15-digit decimal form, so that 2.675 rounds to 2.68 as the server's exact decimals do.
double RoundHalfAway(double v, int scale) {
  if (!std::isfinite(v) || v == 0) return v;
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.14e", std::fabs(v));
  std::string digits(1, buf[0]);
  digits.append(buf + 2, 14);
  const int exp10 = std::atoi(std::strchr(buf, 'e') + 1);
  const int keep = exp10 + 1 + scale;
  if (keep >= 15) return v;
  if (keep < 0) return 0.0;
  uint64_t kept = keep == 0 ? 0 : std::stoull(digits.substr(0, static_cast<size_t>(keep)));
  if (digits[static_cast<size_t>(keep)] >= '5') ++kept;
  std::string text = std::to_string(kept) + "e" + std::to_string(exp10 + 1 - keep);
  double result = std::strtod(text.c_str(), nullptr);
  return v < 0 ? -result : result;
}

std::string FixedText(double v, int scale) {
  char buf[400];
  std::snprintf(buf, sizeof buf, "%.*f", scale, RoundHalfAway(v, scale));
  return buf;
}

// A whole text as a number, blanks around allowed.
std::optional<double> ParseDouble(std::string_view text) {
  text = Trim(text);
  if (text.empty()) return std::nullopt;
  std::string s(text);
  char* end = nullptr;
  double v = std::strtod(s.c_str(), &end);
  if (end != s.c_str() + s.size()) return std::nullopt;
  return v;
}

std::optional<int64_t> ParseInteger(std::string_view text) {
  text = Trim(text);
  if (text.empty()) return std::nullopt;
  std::string s(text);
  char* end = nullptr;
  errno = 0;
  long long v = std::strtoll(s.c_str(), &end, 10);
  if (errno != 0 || end != s.c_str() + s.size()) return std::nullopt;
  return v;
}

// The text SQL Server would give a value in a character context.
std::string ValueText(sqlite3_value* v) {
  switch (sqlite3_value_type(v)) {
    case SQLITE_INTEGER:
      return std::to_string(sqlite3_value_int64(v));
    case SQLITE_FLOAT:
      return NumberText(sqlite3_value_double(v));
    default:
      return std::string(TextArg(v));
  }
}

// UTF-8: character counts and byte offsets.
size_t CharCount(std::string_view s) {
  size_t n = 0;
  for (unsigned char c : s) {
    if ((c & 0xC0) != 0x80) ++n;
  }
  return n;
}

size_t ByteOffset(std::string_view s, size_t chars) {
  size_t i = 0;
  while (i < s.size() && chars > 0) {
    ++i;
    while (i < s.size() && (static_cast<unsigned char>(s[i]) & 0xC0) == 0x80) ++i;
    --chars;
  }
  return i;
}

std::string_view CharSlice(std::string_view s, size_t from, size_t count) {
  size_t b = ByteOffset(s, from);
  std::string_view rest = s.substr(b);
  return rest.substr(0, ByteOffset(rest, count));
}

void ResultText(sqlite3_context* ctx, std::string_view text) {
  sqlite3_result_text(ctx, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

void ResultError(sqlite3_context* ctx, const std::string& message) {
  sqlite3_result_error(ctx, message.c_str(), static_cast<int>(message.size()));
}

bool AnyNull(int argc, sqlite3_value** argv) {
  for (int i = 0; i < argc; ++i) {
    if (sqlite3_value_type(argv[i]) == SQLITE_NULL) return true;
  }
  return false;
}

// ---------------------------------------------------------------------------------------------
// Dates

struct DateTime {
  int year = 1900, month = 1, day = 1, hour = 0, minute = 0, second = 0, millisecond = 0;
};

int64_t DaysFromCivil(int64_t y, int m, int d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void CivilFromDays(int64_t z, DateTime& dt) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  dt.day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  dt.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  dt.year = static_cast<int>(yoe + era * 400 + (dt.month <= 2));
}

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int y, int m) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

int64_t DayNumber(const DateTime& dt) { return DaysFromCivil(dt.year, dt.month, dt.day); }

int64_t MillisOfDay(const DateTime& dt) {
  return ((dt.hour * 60 + dt.minute) * 60 + dt.second) * 1000LL + dt.millisecond;
}

int64_t TotalMillis(const DateTime& dt) { return DayNumber(dt) * 86400000LL + MillisOfDay(dt); }

DateTime FromMillis(int64_t ms) {
  int64_t days = ms >= 0 ? ms / 86400000LL : -((-ms + 86399999LL) / 86400000LL);
  int64_t rest = ms - days * 86400000LL;
  DateTime dt;
  CivilFromDays(days, dt);
  dt.hour = static_cast<int>(rest / 3600000);
  dt.minute = static_cast<int>(rest / 60000 % 60);
  dt.second = static_cast<int>(rest / 1000 % 60);
  dt.millisecond = static_cast<int>(rest % 1000);
  return dt;
}

bool Valid(const DateTime& dt) {
  return dt.year >= 1 && dt.year <= 9999 && dt.month >= 1 && dt.month <= 12 && dt.day >= 1 &&
         dt.day <= DaysInMonth(dt.year, dt.month) && dt.hour >= 0 && dt.hour < 24 &&
         dt.minute >= 0 && dt.minute < 60 && dt.second >= 0 && dt.second < 60;
}

// Day-first input styles of CONVERT (dd/mm/yyyy and friends).
bool DayFirstStyle(int style) {
  switch (style % 100) {
    case 3:
    case 4:
    case 5:
    case 6:
    case 13:
      return true;
    default:
      return false;
  }
}

std::optional<DateTime> ParseDate(std::string_view text, int style = 0) {
  text = Trim(text);
  DateTime dt;
  if (text.empty()) return dt;  // the server reads '' as 1900-01-01
  size_t i = 0;
  auto read_number = [&](size_t& digits) {
    int v = 0;
    digits = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9' && digits < 9) {
      v = v * 10 + (text[i] - '0');
      ++i;
      ++digits;
    }
    return v;
  };
  size_t d1 = 0;
  int n1 = read_number(d1);
  if (d1 == 0) return std::nullopt;
  const bool time_only = i < text.size() && text[i] == ':';
  if (time_only) {
    i = 0;
  } else if (d1 == 8) {
    dt.year = n1 / 10000;
    dt.month = n1 / 100 % 100;
    dt.day = n1 % 100;
  } else {
    if (i >= text.size() || (text[i] != '-' && text[i] != '/' && text[i] != '.')) {
      return std::nullopt;
    }
    const char sep = text[i++];
    size_t d2 = 0, d3 = 0;
    int n2 = read_number(d2);
    if (d2 == 0 || i >= text.size() || text[i] != sep) return std::nullopt;
    ++i;
    int n3 = read_number(d3);
    if (d3 == 0) return std::nullopt;
    if (d1 == 4) {
      dt.year = n1;
      dt.month = n2;
      dt.day = n3;
    } else {
      if (d3 <= 2) n3 += n3 < 50 ? 2000 : 1900;
      dt.year = n3;
      dt.month = DayFirstStyle(style) ? n2 : n1;
      dt.day = DayFirstStyle(style) ? n1 : n2;
    }
  }
  // Time: "[ |T]HH:MM[:SS[.fff]][ AM|PM]"
  if (i < text.size()) {
    if (!time_only) {
      if (text[i] != ' ' && text[i] != 'T') return std::nullopt;
      while (i < text.size() && (text[i] == ' ' || text[i] == 'T')) ++i;
    }
    size_t dh = 0, dm = 0;
    dt.hour = read_number(dh);
    if (dh == 0 || i >= text.size() || text[i] != ':') return std::nullopt;
    ++i;
    dt.minute = read_number(dm);
    if (dm == 0) return std::nullopt;
    if (i < text.size() && text[i] == ':') {
      ++i;
      size_t ds = 0;
      dt.second = read_number(ds);
      if (ds == 0) return std::nullopt;
      if (i < text.size() && (text[i] == '.' || text[i] == ':')) {
        ++i;
        int ms = 0, digits = 0;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
          if (digits < 3) ms = ms * 10 + (text[i] - '0');
          ++digits;
          ++i;
        }
        while (digits > 0 && digits < 3) {
          ms *= 10;
          ++digits;
        }
        dt.millisecond = ms;
      }
    }
    std::string_view rest = Trim(text.substr(i));
    if (rest.empty() || rest == "Z") {
    } else if (LowerAscii(rest) == "am" || LowerAscii(rest) == "pm") {
      if (dt.hour < 1 || dt.hour > 12) return std::nullopt;
      dt.hour %= 12;
      if (LowerAscii(rest) == "pm") dt.hour += 12;
    } else {
      return std::nullopt;
    }
  }
  if (!Valid(dt)) return std::nullopt;
  return dt;
}

std::string Two(int v) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "%02d", v);
  return buf;
}

std::string DatePart(const DateTime& dt) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", dt.year, dt.month, dt.day);
  return buf;
}

std::string TimePart(const DateTime& dt, bool with_ms) {
  std::string out = Two(dt.hour) + ":" + Two(dt.minute) + ":" + Two(dt.second);
  if (with_ms) {
    char buf[8];
    std::snprintf(buf, sizeof buf, ".%03d", dt.millisecond);
    out += buf;
  }
  return out;
}

std::string NormalText(const DateTime& dt) {
  if (MillisOfDay(dt) == 0) return DatePart(dt);
  return DatePart(dt) + " " + TimePart(dt, dt.millisecond != 0);
}

const char* const kMonthNames[] = {"January",   "February", "March",    "April",
                                   "May",       "June",     "July",     "August",
                                   "September", "October",  "November", "December"};
const char* const kDayNames[] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                 "Thursday", "Friday", "Saturday"};

// 1 = Sunday, as with the server's default first day of the week.
int Weekday(const DateTime& dt) {
  int64_t days = DayNumber(dt);  // 1970-01-01 was a Thursday
  return static_cast<int>(((days + 4) % 7 + 7) % 7) + 1;
}

std::string Hour12(const DateTime& dt, bool seconds) {
  int h = dt.hour % 12 == 0 ? 12 : dt.hour % 12;
  char buf[32];
  if (seconds) {
    std::snprintf(buf, sizeof buf, "%2d:%02d:%02d:%03d%s", h, dt.minute, dt.second, dt.millisecond,
                  dt.hour < 12 ? "AM" : "PM");
  } else {
    std::snprintf(buf, sizeof buf, "%2d:%02d%s", h, dt.minute, dt.hour < 12 ? "AM" : "PM");
  }
  return buf;
}

// CONVERT's date styles; nullopt for a style the server does not have.
std::optional<std::string> FormatStyle(const DateTime& dt, int style) {
  const bool century = style >= 100;
  char y[8];
  std::snprintf(y, sizeof y, century ? "%04d" : "%02d", century ? dt.year : dt.year % 100);
  const std::string yy = y, mm = Two(dt.month), dd = Two(dt.day);
  const std::string mon = std::string(kMonthNames[dt.month - 1]).substr(0, 3);
  char day_blank[8];
  std::snprintf(day_blank, sizeof day_blank, "%2d", dt.day);
  switch (style) {
    case 0:
    case 100:
      return mon + " " + day_blank + " " + std::to_string(dt.year) + " " + Hour12(dt, false);
    case 1:
    case 101:
      return mm + "/" + dd + "/" + yy;
    case 2:
    case 102:
      return yy + "." + mm + "." + dd;
    case 3:
    case 103:
      return dd + "/" + mm + "/" + yy;
    case 4:
    case 104:
      return dd + "." + mm + "." + yy;
    case 5:
    case 105:
      return dd + "-" + mm + "-" + yy;
    case 6:
    case 106:
      return dd + " " + mon + " " + yy;
    case 7:
    case 107:
      return mon + " " + dd + ", " + yy;
    case 8:
    case 108:
      return TimePart(dt, false);
    case 9:
    case 109:
      return mon + " " + day_blank + " " + std::to_string(dt.year) + " " + Hour12(dt, true);
    case 10:
    case 110:
      return mm + "-" + dd + "-" + yy;
    case 11:
    case 111:
      return yy + "/" + mm + "/" + dd;
    case 12:
    case 112:
      return yy + mm + dd;
    case 13:
    case 113: {
      std::string t = TimePart(dt, true);
      t[8] = ':';
      return dd + " " + mon + " " + std::to_string(dt.year) + " " + t;
    }
    case 14:
    case 114: {
      std::string t = TimePart(dt, true);
      t[8] = ':';
      return t;
    }
    case 20:
    case 120:
      return DatePart(dt) + " " + TimePart(dt, false);
    case 21:
    case 25:
    case 121:
      return DatePart(dt) + " " + TimePart(dt, true);
    case 23:
      return DatePart(dt);
    case 126:
    case 127:
      return DatePart(dt) + "T" + TimePart(dt, dt.millisecond != 0);
    default:
      return std::nullopt;
  }
}

// A date argument: numbers count days from 1900-01-01 (fractions are the time of day).
// Sets an error on the context and returns nullopt for a text that is no date.
std::optional<DateTime> DateArg(sqlite3_context* ctx, sqlite3_value* v, int style = 0) {
  switch (sqlite3_value_type(v)) {
    case SQLITE_INTEGER:
    case SQLITE_FLOAT: {
      double days = sqlite3_value_double(v);
      if (!(std::fabs(days) < 3e6)) {
        ResultError(ctx, "Arithmetic overflow error converting expression to data type datetime.");
        return std::nullopt;
      }
      int64_t base = DaysFromCivil(1900, 1, 1) * 86400000LL;
      return FromMillis(base + static_cast<int64_t>(std::llround(days * 86400000.0)));
    }
    default: {
      auto dt = ParseDate(TextArg(v), style);
      if (!dt)
        ResultError(ctx,
                    "Conversion failed when converting date and/or time from "
                    "character string.");
      return dt;
    }
  }
}

enum class Part {
  kYear,
  kQuarter,
  kMonth,
  kDayOfYear,
  kDay,
  kWeek,
  kWeekday,
  kHour,
  kMinute,
  kSecond,
  kMillisecond
};

std::optional<Part> ParsePart(std::string_view text) {
  std::string p = LowerAscii(Trim(text));
  if (p == "year" || p == "yy" || p == "yyyy") return Part::kYear;
  if (p == "quarter" || p == "qq" || p == "q") return Part::kQuarter;
  if (p == "month" || p == "mm" || p == "m") return Part::kMonth;
  if (p == "dayofyear" || p == "dy" || p == "y") return Part::kDayOfYear;
  if (p == "day" || p == "dd" || p == "d") return Part::kDay;
  if (p == "week" || p == "wk" || p == "ww") return Part::kWeek;
  if (p == "weekday" || p == "dw" || p == "w") return Part::kWeekday;
  if (p == "hour" || p == "hh") return Part::kHour;
  if (p == "minute" || p == "mi" || p == "n") return Part::kMinute;
  if (p == "second" || p == "ss" || p == "s") return Part::kSecond;
  if (p == "millisecond" || p == "ms") return Part::kMillisecond;
  return std::nullopt;
}

std::optional<Part> PartArg(sqlite3_context* ctx, sqlite3_value* v) {
  auto part = ParsePart(TextArg(v));
  if (!part) ResultError(ctx, "'" + std::string(TextArg(v)) + "' is not a recognized datepart.");
  return part;
}

int64_t FloorDiv(int64_t a, int64_t b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }

DateTime AddMonths(DateTime dt, int64_t months) {
  int64_t total = dt.year * 12LL + (dt.month - 1) + months;
  dt.year = static_cast<int>(FloorDiv(total, 12));
  dt.month = static_cast<int>(total - dt.year * 12LL) + 1;
  dt.day = std::min(dt.day, DaysInMonth(dt.year, dt.month));
  return dt;
}

int64_t PartValue(const DateTime& dt, Part part) {
  switch (part) {
    case Part::kYear:
      return dt.year;
    case Part::kQuarter:
      return (dt.month - 1) / 3 + 1;
    case Part::kMonth:
      return dt.month;
    case Part::kDayOfYear:
      return DayNumber(dt) - DaysFromCivil(dt.year, 1, 1) + 1;
    case Part::kDay:
      return dt.day;
    case Part::kWeek: {
      DateTime jan1{dt.year, 1, 1};
      return (DayNumber(dt) - DayNumber(jan1) + Weekday(jan1) - 1) / 7 + 1;
    }
    case Part::kWeekday:
      return Weekday(dt);
    case Part::kHour:
      return dt.hour;
    case Part::kMinute:
      return dt.minute;
    case Part::kSecond:
      return dt.second;
    case Part::kMillisecond:
      return dt.millisecond;
  }
  return 0;
}

// Boundaries of `part` crossed from a to b, as DATEDIFF counts them.
int64_t Difference(const DateTime& a, const DateTime& b, Part part) {
  switch (part) {
    case Part::kYear:
      return b.year - a.year;
    case Part::kQuarter:
      return (b.year * 4LL + (b.month - 1) / 3) - (a.year * 4LL + (a.month - 1) / 3);
    case Part::kMonth:
      return (b.year * 12LL + b.month) - (a.year * 12LL + a.month);
    case Part::kDayOfYear:
    case Part::kDay:
    case Part::kWeekday:
      return DayNumber(b) - DayNumber(a);
    case Part::kWeek:  // weeks begin on Sunday; 1970-01-04 was one
      return FloorDiv(DayNumber(b) - 3, 7) - FloorDiv(DayNumber(a) - 3, 7);
    case Part::kHour:
      return (DayNumber(b) * 24 + b.hour) - (DayNumber(a) * 24 + a.hour);
    case Part::kMinute:
      return FloorDiv(TotalMillis(b), 60000) - FloorDiv(TotalMillis(a), 60000);
    case Part::kSecond:
      return FloorDiv(TotalMillis(b), 1000) - FloorDiv(TotalMillis(a), 1000);
    case Part::kMillisecond:
      return TotalMillis(b) - TotalMillis(a);
  }
  return 0;
}

// DATEADD; a result outside the representable years comes back invalid (year 0).
DateTime Add(const DateTime& dt, Part part, int64_t n) {
  constexpr int64_t kMaxMonths = 12 * 10000;
  constexpr int64_t kMaxMillis = 10000LL * 366 * 86400000LL;
  int64_t months = 0, unit = 0;
  switch (part) {
    case Part::kYear:
      months = 12;
      break;
    case Part::kQuarter:
      months = 3;
      break;
    case Part::kMonth:
      months = 1;
      break;
    case Part::kDayOfYear:
    case Part::kDay:
    case Part::kWeekday:
      unit = 86400000LL;
      break;
    case Part::kWeek:
      unit = 7 * 86400000LL;
      break;
    case Part::kHour:
      unit = 3600000LL;
      break;
    case Part::kMinute:
      unit = 60000LL;
      break;
    case Part::kSecond:
      unit = 1000LL;
      break;
    case Part::kMillisecond:
      unit = 1;
      break;
  }
  DateTime invalid;
  invalid.year = 0;
  if (months != 0) {
    if (n > kMaxMonths || n < -kMaxMonths) return invalid;
    return AddMonths(dt, n * months);
  }
  if (n > kMaxMillis / unit || n < -kMaxMillis / unit) return invalid;
  return FromMillis(TotalMillis(dt) + n * unit);
}

// ---------------------------------------------------------------------------------------------
// The functions

void LenFn(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (sqlite3_value_type(argv[0]) == SQLITE_NULL) return sqlite3_result_null(ctx);
  std::string text = ValueText(argv[0]);
  std::string_view s = text;
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  sqlite3_result_int64(ctx, static_cast<int64_t>(CharCount(s)));
}

template <bool kRight>
void LeftRightFn(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (AnyNull(argc, argv)) return sqlite3_result_null(ctx);
  int64_t n = sqlite3_value_int64(argv[1]);
  if (n < 0) {
    return ResultError(ctx, std::string("Invalid length parameter passed to the ") +
                                (kRight ? "right" : "left") + " function.");
  }
  std::string text = ValueText(argv[0]);
  size_t count = CharCount(text);
  size_t take = std::min<size_t>(static_cast<size_t>(n), count);
  ResultText(ctx, CharSlice(text, kRight ? count - take : 0, take));
}

void SubstringFn(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (AnyNull(argc, argv)) return sqlite3_result_null(ctx);
  int64_t start = sqlite3_value_int64(argv[1]);
  int64_t length = sqlite3_value_int64(argv[2]);
  if (length < 0)
    return ResultError(ctx,
                       "Invalid length parameter passed to the substring "
                       "function.");
  std::string text = ValueText(argv[0]);
  int64_t end = 0;  // exclusive, 1-based
  if (__builtin_add_overflow(start, length, &end)) end = INT64_MAX;
  int64_t from = std::max<int64_t>(start, 1);
  if (end <= from) return ResultText(ctx, "");
  ResultText(ctx, CharSlice(text, static_cast<size_t>(from - 1), static_cast<size_t>(end - from)));
}

// The server's default collation ignores case: CHARINDEX('C', 'abc') is 3.
void CharIndexFn(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (AnyNull(argc, argv)) return sqlite3_result_null(ctx);
  std::string needle = LowerAscii(ValueText(argv[0]));
  std::string hay = LowerAscii(ValueText(argv[1]));
  int64_t start = argc > 2 ? sqlite3_value_int64(argv[2]) : 1;
  if (start < 1) start = 1;
  if (needle.empty()) return sqlite3_result_int(ctx, 0);
  size_t from = ByteOffset(hay, static_cast<size_t>(start - 1));
  size_t pos = hay.find(needle, from);
  if (pos == std::string::npos) return sqlite3_result_int(ctx, 0);
  sqlite3_result_int64(ctx,
                       static_cast<int64_t>(CharCount(std::string_view(hay).substr(0, pos)) + 1));
}

void SpaceFn(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (sqlite3_value_type(argv[0]) == SQLITE_NULL) return sqlite3_result_null(ctx);
  int64_t n = sqlite3_value_int64(argv[0]);
  if (n < 0) return sqlite3_result_null(ctx);
  if (n > 8000) n = 8000;
  ResultText(ctx, std::string(static_cast<size_t>(n), ' '));
}

void ReplicateFn(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (AnyNull(argc, argv)) return sqlite3_result_null(ctx);
  int64_t n = sqlite3_value_int64(argv[1]);
  if (n < 0) return sqlite3_result_null(ctx);
  std::string unit = ValueText(argv[0]);
  if (unit.empty()) return ResultText(ctx, "");
  if (static_cast<double>(unit.size()) * static_cast<double>(n) > 1e8) {
    return ResultError(ctx, "replicate: result too long");
  }
  std::string out;
  out.reserve(unit.size() * static_cast<size_t>(n));
  for (int64_t i = 0; i < n; ++i) out += unit;
  ResultText(ctx, out);
}

void ReverseFn(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (sqlite3_value_type(argv[0]) == SQLITE_NULL) return sqlite3_result_null(ctx);
  std::string text = ValueText(argv[0]);
  std::string out;
  size_t i = text.size();
  while (i > 0) {
    size_t start = i - 1;
    while (start > 0 && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80) --start;
    out.append(text, start, i - start);
    i = start;
  }
  ResultText(ctx, out);
}

void AsciiFn(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (sqlite3_value_type(argv[0]) == SQLITE_NULL) return sqlite3_result_null(ctx);
  std::string text = ValueText(argv[0]);
  if (text.empty()) return sqlite3_result_null(ctx);
  sqlite3_result_int(ctx, static_cast<unsigned char>(text[0]));
}

// STR(x [, length [, decimals]]): right-aligned, rounded; asterisks when it does not fit.
void StrFn(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (AnyNull(argc, argv)) return sqlite3_result_null(ctx);
  double v = sqlite3_value_double(argv[0]);
  int64_t length = argc > 1 ? sqlite3_value_int64(argv[1]) : 10;
  int64_t decimals = argc > 2 ? std::min<int64_t>(sqlite3_value_int64(argv[2]), 16) : 0;
  if (length <= 0 || length > 8000 || decimals < 0) return sqlite3_result_null(ctx);
  std::string text;
  for (int64_t d = decimals; d >= 0; --d) {
    text = FixedText(v, static_cast<int>(d));
    if (static_cast<int64_t>(text.size()) <= length) break;
  }
  if (static_cast<int64_t>(text.size()) > length) text = std::string(length, '*');
  ResultText(ctx, std::string(static_cast<size_t>(length) - text.size(), ' ') + text);
}

void IsNumericFn(sqlite3_context* ctx, int, sqlite3_value** argv) {
  switch (sqlite3_value_type(argv[0])) {
    case SQLITE_INTEGER:
    case SQLITE_FLOAT:
      return sqlite3_result_int(ctx, 1);
    case SQLITE_NULL:
      return sqlite3_result_int(ctx, 0);
    default:
      break;
  }
  std::string_view s = Trim(TextArg(argv[0]));
  size_t i = 0;
  if (i < s.size() && s[i] == '$') ++i;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
  bool digits = false;
  while (i < s.size() && ((s[i] >= '0' && s[i] <= '9') || (s[i] == ',' && digits))) {
    digits = digits || s[i] != ',';
    ++i;
  }
  if (i < s.size() && s[i] == '.') {
    ++i;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') {
      digits = true;
      ++i;
    }
  }
  if (digits && i < s.size() && (s[i] == 'e' || s[i] == 'E' || s[i] == 'd' || s[i] == 'D')) {
    size_t k = i + 1;
    if (k < s.size() && (s[k] == '+' || s[k] == '-')) ++k;
    if (k < s.size() && s[k] >= '0' && s[k] <= '9') {
      while (k < s.size() && s[k] >= '0' && s[k] <= '9') ++k;
      i = k;
    }
  }
  sqlite3_result_int(ctx, digits && i == s.size() ? 1 : 0);
}

// ROUND(x, n [, truncate]) with negative n and rounding half away from zero on exact decimals.
void RoundFn(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (AnyNull(argc, argv)) return sqlite3_result_null(ctx);
  int scale = argc > 1 ? static_cast<int>(sqlite3_value_int64(argv[1])) : 0;
  bool truncate = argc > 2 && sqlite3_value_int64(argv[2]) != 0;
  if (sqlite3_value_type(argv[0]) == SQLITE_INTEGER && scale >= 0) {
    return sqlite3_result_int64(ctx, sqlite3_value_int64(argv[0]));
  }
  double v = sqlite3_value_double(argv[0]);
  double r;
  if (truncate) {
    double p = std::pow(10.0, scale);
    r = std::trunc(RoundHalfAway(v * p, 6)) / p;
  } else {
    r = RoundHalfAway(v, scale);
  }
  if (sqlite3_value_type(argv[0]) == SQLITE_INTEGER && std::fabs(r) < 9.2e18) {
    return sqlite3_result_int64(ctx, static_cast<int64_t>(r));
  }
  sqlite3_result_double(ctx, r);
}

void DateDiffFn(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (AnyNull(argc, argv)) return sqlite3_result_null(ctx);
  auto part = PartArg(ctx, argv[0]);
  if (!part) return;
  auto a = DateArg(ctx, argv[1]);
  if (!a) return;
  auto b = DateArg(ctx, argv[2]);
  if (!b) return;
  sqlite3_result_int64(ctx, Difference(*a, *b, *part));
}

void DateAddFn(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (AnyNull(argc, argv)) return sqlite3_result_null(ctx);
  auto part = PartArg(ctx, argv[0]);
  if (!part) return;
  auto dt = DateArg(ctx, argv[2]);
  if (!dt) return;
  int64_t n = sqlite3_value_type(argv[1]) == SQLITE_INTEGER
                  ? sqlite3_value_int64(argv[1])
                  : static_cast<int64_t>(std::trunc(sqlite3_value_double(argv[1])));
  DateTime result = Add(*dt, *part, n);
  if (!Valid(result))
    return ResultError(ctx,
                       "Adding a value to a 'datetime' column caused an "
                       "overflow.");
  ResultText(ctx, NormalText(result));
}

void DatePartFn(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (AnyNull(argc, argv)) return sqlite3_result_null(ctx);
  auto part = PartArg(ctx, argv[0]);
  if (!part) return;
  auto dt = DateArg(ctx, argv[1]);
  if (!dt) return;
  sqlite3_result_int64(ctx, PartValue(*dt, *part));
}

void DateNameFn(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (AnyNull(argc, argv)) return sqlite3_result_null(ctx);
  auto part = PartArg(ctx, argv[0]);
  if (!part) return;
  auto dt = DateArg(ctx, argv[1]);
  if (!dt) return;
  if (*part == Part::kMonth) return ResultText(ctx, kMonthNames[dt->month - 1]);
  if (*part == Part::kWeekday) return ResultText(ctx, kDayNames[Weekday(*dt) - 1]);
  ResultText(ctx, std::to_string(PartValue(*dt, *part)));
}

template <Part kPart>
void PartFn(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (sqlite3_value_type(argv[0]) == SQLITE_NULL) return sqlite3_result_null(ctx);
  auto dt = DateArg(ctx, argv[0]);
  if (!dt) return;
  sqlite3_result_int64(ctx, PartValue(*dt, kPart));
}

template <bool kUtc>
void GetDateFn(sqlite3_context* ctx, int, sqlite3_value**) {
  std::time_t now = std::time(nullptr);
  std::tm tm{};
  if (kUtc) {
    gmtime_r(&now, &tm);
  } else {
    localtime_r(&now, &tm);
  }
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm);
  ResultText(ctx, buf);
}

void NewIdFn(sqlite3_context* ctx, int, sqlite3_value**) {
  unsigned char b[16];
  sqlite3_randomness(sizeof b, b);
  ResultText(ctx, RandomGuidText(b));
}

// "db..name", "db.dbo.name", "dbo.name", "[name]" -> ("schema", "name").
std::pair<std::string, std::string> SplitObjectName(std::string_view text) {
  std::string parts[3];
  int count = 0;
  std::string current;
  bool bracket = false;
  for (char c : text) {
    if (c == '[' || c == '"') {
      bracket = true;
    } else if (c == ']' || (c == '"' && bracket)) {
      bracket = false;
    } else if (c == '.' && !bracket) {
      if (count < 2) parts[count++] = current;
      current.clear();
    } else {
      current += c;
    }
  }
  std::string name = LowerAscii(Trim(current));
  std::string db = count == 2 ? LowerAscii(Trim(parts[0])) : std::string();
  std::string schema = db == "tempdb" || db == "qdsystem" ? db : "main";
  return {schema, name};
}

// The catalog type ("table", "view") of schema.name, or "" when there is no such object.
std::string ObjectType(sqlite3* db, const std::string& schema, const std::string& name) {
  std::string sql = "SELECT type FROM \"" + schema +
                    "\".sqlite_master WHERE type IN ('table','view') AND lower(name) = ?1";
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
    sqlite3_finalize(stmt);
    return {};
  }
  sqlite3_bind_text(stmt, 1, name.c_str(), -1, SQLITE_TRANSIENT);
  std::string type;
  if (sqlite3_step(stmt) == SQLITE_ROW) {
    type = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
  }
  sqlite3_finalize(stmt);
  return type;
}

bool SafeSchema(const std::string& schema) {
  return schema == "main" || schema == "tempdb" || schema == "qdsystem";
}

// OBJECT_ID: an id text "schema.name" matching the translated catalog's `id`, null when the
// table or view does not exist.
void ObjectIdFn(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (sqlite3_value_type(argv[0]) == SQLITE_NULL) return sqlite3_result_null(ctx);
  auto [schema, name] = SplitObjectName(TextArg(argv[0]));
  if (ObjectType(sqlite3_context_db_handle(ctx), schema, name).empty()) {
    return sqlite3_result_null(ctx);
  }
  ResultText(ctx, schema + "." + name);
}

void ObjectPropertyFn(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (AnyNull(argc, argv)) return sqlite3_result_null(ctx);
  std::string id(TextArg(argv[0]));
  size_t dot = id.find('.');
  if (dot == std::string::npos || !SafeSchema(id.substr(0, dot))) {
    return sqlite3_result_null(ctx);
  }
  std::string type =
      ObjectType(sqlite3_context_db_handle(ctx), id.substr(0, dot), id.substr(dot + 1));
  if (type.empty()) return sqlite3_result_null(ctx);
  std::string property = LowerAscii(TextArg(argv[1]));
  if (property == "isusertable" || property == "istable") {
    return sqlite3_result_int(ctx, type == "table");
  }
  if (property == "isview") return sqlite3_result_int(ctx, type == "view");
  sqlite3_result_null(ctx);
}

// Numeric value of an argument for arithmetic; a text that is no number is an error, as in
// the server.
bool NumericArg(sqlite3_context* ctx, sqlite3_value* v, bool* is_integer, int64_t* i, double* d) {
  switch (sqlite3_value_type(v)) {
    case SQLITE_INTEGER:
      *is_integer = true;
      *i = sqlite3_value_int64(v);
      return true;
    case SQLITE_FLOAT:
      *is_integer = false;
      *d = sqlite3_value_double(v);
      return true;
    default:
      break;
  }
  std::string_view text = TextArg(v);
  if (auto n = ParseInteger(text)) {
    *is_integer = true;
    *i = *n;
    return true;
  }
  if (auto n = ParseDouble(text)) {
    *is_integer = false;
    *d = *n;
    return true;
  }
  if (Trim(text).empty()) {
    *is_integer = true;
    *i = 0;
    return true;
  }
  ResultError(ctx, "Conversion failed when converting the varchar value '" + std::string(text) +
                       "' to data type int.");
  return false;
}

// "+" whose operand types were unknown when the statement was translated: texts concatenate,
// anything numeric adds.
void PlusFn(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (AnyNull(argc, argv)) return sqlite3_result_null(ctx);
  auto textual = [](sqlite3_value* v) {
    int t = sqlite3_value_type(v);
    return t == SQLITE_TEXT || t == SQLITE_BLOB;
  };
  if (textual(argv[0]) && textual(argv[1])) {
    return ResultText(ctx, std::string(TextArg(argv[0])) + std::string(TextArg(argv[1])));
  }
  bool ia = false, ib = false;
  int64_t a = 0, b = 0;
  double da = 0, db = 0;
  if (!NumericArg(ctx, argv[0], &ia, &a, &da) || !NumericArg(ctx, argv[1], &ib, &b, &db)) return;
  if (ia && ib) {
    int64_t sum = 0;
    if (!__builtin_add_overflow(a, b, &sum)) return sqlite3_result_int64(ctx, sum);
  }
  sqlite3_result_double(ctx,
                        (ia ? static_cast<double>(a) : da) + (ib ? static_cast<double>(b) : db));
}

// rembiz_decimal(x, scale): the value of CAST(x AS decimal(p, scale)) or money.
void DecimalFn(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (sqlite3_value_type(argv[0]) == SQLITE_NULL) return sqlite3_result_null(ctx);
  int scale = argc > 1 ? static_cast<int>(sqlite3_value_int64(argv[1])) : 0;
  bool is_integer = false;
  int64_t i = 0;
  double d = 0;
  switch (sqlite3_value_type(argv[0])) {
    case SQLITE_INTEGER:
      return sqlite3_result_int64(ctx, sqlite3_value_int64(argv[0]));
    case SQLITE_FLOAT:
      return sqlite3_result_double(ctx, RoundHalfAway(sqlite3_value_double(argv[0]), scale));
    default:
      break;
  }
  std::string_view text = TextArg(argv[0]);
  if (Trim(text).empty()) return sqlite3_result_int(ctx, 0);
  if (auto n = ParseInteger(text)) {
    is_integer = true;
    i = *n;
  } else if (auto v = ParseDouble(text)) {
    d = *v;
  } else {
    return ResultError(ctx, "Error converting data type varchar to numeric.");
  }
  if (is_integer) return sqlite3_result_int64(ctx, i);
  sqlite3_result_double(ctx, RoundHalfAway(d, scale));
}

// rembiz_convert(type, value [, style [, scale]]): CONVERT and CAST to character, date and bit
// types. `scale` is the number of decimals of a decimal or money value being turned into text.
void ConvertFn(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (sqlite3_value_type(argv[1]) == SQLITE_NULL) return sqlite3_result_null(ctx);
  const std::string type = LowerAscii(TextArg(argv[0]));
  const bool has_style = argc > 2 && sqlite3_value_type(argv[2]) != SQLITE_NULL;
  const int style = has_style ? static_cast<int>(sqlite3_value_int64(argv[2])) : 0;
  const bool has_scale = argc > 3 && sqlite3_value_type(argv[3]) != SQLITE_NULL;
  const int scale = has_scale ? static_cast<int>(sqlite3_value_int64(argv[3])) : 0;
  std::string base = type;
  std::string length;
  if (size_t open = type.find('('); open != std::string::npos) {
    base = type.substr(0, open);
    length = type.substr(open + 1, type.find(')') - open - 1);
  }
  sqlite3_value* value = argv[1];

  if (base == "char" || base == "varchar" || base == "nchar" || base == "nvarchar" ||
      base == "text" || base == "ntext" || base == "sysname") {
    std::string text;
    if (sqlite3_value_type(value) == SQLITE_FLOAT && has_scale) {
      text = FixedText(sqlite3_value_double(value), scale);
    } else if (sqlite3_value_type(value) == SQLITE_INTEGER && has_scale && scale > 0) {
      text = FixedText(static_cast<double>(sqlite3_value_int64(value)), scale);
    } else {
      text = ValueText(value);
      if (has_style && sqlite3_value_type(value) == SQLITE_TEXT) {
        if (auto dt = ParseDate(text); dt && !Trim(text).empty()) {
          auto formatted = FormatStyle(*dt, style);
          if (!formatted)
            return ResultError(ctx, std::to_string(style) +
                                        " is not a valid style number when "
                                        "converting to a character type.");
          text = *formatted;
        }
      }
    }
    size_t max_chars = std::string::npos;
    if (base == "text" || base == "ntext" || length == "max") {
    } else if (!length.empty()) {
      max_chars = static_cast<size_t>(std::max(1, std::atoi(length.c_str())));
    } else {
      max_chars = base == "sysname" ? 128 : 30;
    }
    if (max_chars != std::string::npos) {
      size_t count = CharCount(text);
      if (count > max_chars) {
        text = std::string(CharSlice(text, 0, max_chars));
      } else if ((base == "char" || base == "nchar") && !length.empty()) {
        text.append(max_chars - count, ' ');
      }
    }
    return ResultText(ctx, text);
  }

  if (base == "datetime" || base == "smalldatetime" || base == "date" || base == "datetime2" ||
      base == "datetimeoffset" || base == "time") {
    auto dt = DateArg(ctx, value, style);
    if (!dt) return;
    DateTime d = *dt;
    if (base == "date") {
      d.hour = d.minute = d.second = d.millisecond = 0;
    } else if (base == "smalldatetime") {
      d = FromMillis((TotalMillis(d) + 30000) / 60000 * 60000);
    } else if (base == "time") {
      return ResultText(ctx, TimePart(d, d.millisecond != 0));
    }
    return ResultText(ctx, NormalText(d));
  }

  if (base == "bit") {
    switch (sqlite3_value_type(value)) {
      case SQLITE_INTEGER:
        return sqlite3_result_int(ctx, sqlite3_value_int64(value) != 0);
      case SQLITE_FLOAT:
        return sqlite3_result_int(ctx, sqlite3_value_double(value) != 0);
      default: {
        std::string t = LowerAscii(Trim(TextArg(value)));
        if (t == "true") return sqlite3_result_int(ctx, 1);
        if (t == "false" || t.empty()) return sqlite3_result_int(ctx, 0);
        if (auto n = ParseDouble(t)) return sqlite3_result_int(ctx, *n != 0);
        return ResultError(ctx, "Conversion failed when converting the varchar value '" +
                                    std::string(TextArg(value)) + "' to data type bit.");
      }
    }
  }
  if (base == "uniqueidentifier") return ResultText(ctx, ValueText(value));
  ResultError(ctx, "rembiz_convert: unsupported type '" + type + "'");
}

// The names RegisterSqlServerFunctions adds, once it has run.
std::atomic<const std::set<std::string, std::less<>>*> registered_names = nullptr;

struct FunctionSpec {
  const char* name;
  int args;  // -1: any number
  bool deterministic;
  void (*fn)(sqlite3_context*, int, sqlite3_value**);
};

}  // namespace

bool IsSqlServerFunction(std::string_view name) {
  const auto* names = registered_names.load();
  return names && names->count(LowerAscii(name)) > 0;
}

void RegisterSqlServerFunctions(sqlite3* db) {
  RegisterSqlServerCollations(db);
  static const FunctionSpec kFunctions[] = {
      {"len", 1, true, LenFn},
      {"left", 2, true, LeftRightFn<false>},
      {"right", 2, true, LeftRightFn<true>},
      {"substring", 3, true, SubstringFn},
      {"charindex", 2, true, CharIndexFn},
      {"charindex", 3, true, CharIndexFn},
      {"space", 1, true, SpaceFn},
      {"replicate", 2, true, ReplicateFn},
      {"reverse", 1, true, ReverseFn},
      {"ascii", 1, true, AsciiFn},
      {"str", 1, true, StrFn},
      {"str", 2, true, StrFn},
      {"str", 3, true, StrFn},
      {"isnumeric", 1, true, IsNumericFn},
      {"round", 1, true, RoundFn},
      {"round", 2, true, RoundFn},
      {"round", 3, true, RoundFn},
      {"datediff", 3, true, DateDiffFn},
      {"dateadd", 3, true, DateAddFn},
      {"datepart", 2, true, DatePartFn},
      {"datename", 2, true, DateNameFn},
      {"year", 1, true, PartFn<Part::kYear>},
      {"month", 1, true, PartFn<Part::kMonth>},
      {"day", 1, true, PartFn<Part::kDay>},
      {"getdate", 0, false, GetDateFn<false>},
      {"getutcdate", 0, false, GetDateFn<true>},
      {"newid", 0, false, NewIdFn},
      {"object_id", 1, false, ObjectIdFn},
      {"objectproperty", 2, false, ObjectPropertyFn},
      {"rembiz_plus", 2, true, PlusFn},
      {"rembiz_decimal", 2, true, DecimalFn},
      {"rembiz_convert", 2, true, ConvertFn},
      {"rembiz_convert", 3, true, ConvertFn},
      {"rembiz_convert", 4, true, ConvertFn},
  };
  static const std::set<std::string, std::less<>> kNames = [] {
    std::set<std::string, std::less<>> names;
    for (const FunctionSpec& f : kFunctions) names.insert(f.name);
    return names;
  }();
  registered_names = &kNames;
  for (const FunctionSpec& f : kFunctions) {
    int flags = SQLITE_UTF8 | (f.deterministic ? SQLITE_DETERMINISTIC : 0);
    int rc = sqlite3_create_function_v2(db, f.name, f.args, flags, nullptr, f.fn, nullptr, nullptr,
                                        nullptr);
    if (rc != SQLITE_OK) {
      throw DbError(kErrConnection, std::string("Cannot register SQL function ") + f.name + ": " +
                                        sqlite3_errstr(rc));
    }
  }
}

}  // namespace rembiz::db::sqlite
