// A database or request value: null, integer, double, text, boolean or date. Its text form is
// fixed here and used by every writer: integers plainly, doubles in the shortest round-trip form
// without trailing zeros, booleans "True"/"False", dates "YYYY-MM-DD" (with " HH:MM:SS" when
// there is a time).
#pragma once

#include <concepts>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace rembiz::db {

struct DateValue {
  std::string text;  // normalised "YYYY-MM-DD" or "YYYY-MM-DD HH:MM:SS"
  bool operator==(const DateValue&) const = default;
};

class Variant {
 public:
  enum class Kind { kNull, kInt, kDouble, kText, kBool, kDate };

  Variant() = default;
  // Implicit on purpose: values flow freely between records, requests and SQL writers.
  template <std::integral T>
  requires(!std::same_as<T, bool>) Variant(T v) : value_(static_cast<int64_t>(v)) {}  // NOLINT
  Variant(double v) : value_(v) {}                                                    // NOLINT
  Variant(std::string v) : value_(std::move(v)) {}                                    // NOLINT
  Variant(const char* v) : value_(std::string(v)) {}                                  // NOLINT
  Variant(std::string_view v) : value_(std::string(v)) {}                             // NOLINT
  static Variant Bool(bool v);
  // A date from its text ("YYYY-MM-DD[ HH:MM:SS]" or with "T"); null when the text is no date.
  static Variant Date(std::string_view text);
  static Variant Null() { return Variant(); }

  Kind kind() const { return static_cast<Kind>(value_.index()); }
  bool IsNull() const { return kind() == Kind::kNull; }
  bool IsNumber() const { return kind() == Kind::kInt || kind() == Kind::kDouble; }

  // The fixed text form (null → "").
  std::string ToText() const;
  // The same text without a copy: a view on the stored text, or on `scratch` holding the
  // written number (short enough never to allocate).
  std::string_view TextView(std::string& scratch) const;
  // Numeric value: numbers as they are, booleans 1/0, text by its leading number (0 if none).
  double ToDouble() const;
  int64_t ToInt() const;
  // True for non-zero numbers, "true"/"-1"/non-zero numeric text, true booleans.
  bool ToBool() const;

  bool operator==(const Variant& other) const { return value_ == other.value_; }

 private:
  std::variant<std::monostate, int64_t, double, std::string, bool, DateValue> value_;
};

// Shortest round-trip text of a double without trailing zeros ("350", "0.1", "1e+21").
std::string DoubleText(double value);

// Parses a whole text as a number (leading/trailing blanks allowed); nullopt when it is not one.
std::optional<double> ParseNumber(std::string_view text);

// Normalises a date or date-time text ("2004-3-5", "2004-03-05T00:00:00", "2004/03/05 10:01")
// to "YYYY-MM-DD" or "YYYY-MM-DD HH:MM:SS"; nullopt when it is not a valid date.
std::optional<std::string> NormalizeDate(std::string_view text);

}  // namespace rembiz::db
