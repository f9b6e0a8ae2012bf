#include "host/receipt_reading.h"

#include <dlfcn.h>
#include <tesseract/baseapi.h>
#include <tesseract/ocrclass.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <optional>
#include <regex>
#include <tuple>
#include <vector>

#include "host/errors.h"
#include "host/receipt_files.h"

namespace rembiz::host {
namespace {

using Clock = std::chrono::steady_clock;

// ---------------------------------------------------------------------------------------------
// The text as OCR gives it, made uniform: full-width letters, digits and signs become ASCII
// (￥ becomes ¥), and the blanks OCR puts between Chinese characters go, so that 价 税 合 计
// reads as the label it is.

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// The code points of a UTF-8 text; a byte that starts no valid sequence stands for itself.
std::vector<char32_t> CodePoints(std::string_view text) {
  std::vector<char32_t> out;
  for (size_t i = 0; i < text.size();) {
    auto byte = static_cast<unsigned char>(text[i]);
    int length = byte < 0x80         ? 1
                 : (byte >> 5) == 6  ? 2
                 : (byte >> 4) == 14 ? 3
                 : (byte >> 3) == 30 ? 4
                                     : 0;
    char32_t c = length == 1   ? byte
                 : length == 2 ? byte & 0x1F
                 : length == 3 ? byte & 0x0F
                               : byte & 0x07;
    bool valid = length > 0 && i + length <= text.size();
    for (int k = 1; valid && k < length; ++k) {
      auto next = static_cast<unsigned char>(text[i + k]);
      valid = (next & 0xC0) == 0x80;
      c = (c << 6) | (next & 0x3F);
    }
    if (!valid) {
      out.push_back(byte);
      ++i;
      continue;
    }
    out.push_back(c);
    i += length;
  }
  return out;
}

bool IsWide(char32_t c) { return c >= 0x2E80; }

std::string Normalised(std::string_view text) {
  std::vector<char32_t> in = CodePoints(text);
  for (char32_t& c : in) {
    if (c >= 0xFF01 && c <= 0xFF5E) {
      c -= 0xFEE0;
    } else if (c == 0x3000 || c == '\t') {
      c = ' ';
    } else if (c == 0xFFE5) {
      c = 0xA5;
    }
  }
  std::string out;
  char32_t last = 0;
  for (size_t i = 0; i < in.size(); ++i) {
    if (in[i] == '\r') continue;
    if (in[i] == ' ') {
      size_t end = i;
      while (end < in.size() && in[end] == ' ') ++end;
      if (end < in.size() && IsWide(last) && IsWide(in[end])) {
        i = end - 1;
        continue;
      }
    }
    AppendUtf8(out, in[i]);
    last = in[i];
  }
  return out;
}

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

std::vector<std::string> Lines(std::string_view text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    lines.emplace_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

// Where a label ends in a lower-cased line: English labels stand as words ("no" is not "note",
// "total" is not "subtotal"), Chinese ones anywhere.
struct Label {
  const char* text;
  int tier;
};

std::optional<size_t> FindLabel(const std::string& lower, const Label& label, size_t from = 0) {
  const std::string_view word = label.text;
  const bool english = IsLetter(word.front()) || word.front() == '#';
  for (size_t at = lower.find(word, from); at != std::string::npos; at = lower.find(word, at + 1)) {
    if (!english) return at + word.size();
    size_t end = at + word.size();
    bool starts = at == 0 || !IsLetter(lower[at - 1]);
    bool ends = end >= lower.size() || !IsLetter(lower[end]) || !IsLetter(word.back());
    if (!starts || !ends) continue;
    if (word.starts_with("total")) {
      std::string_view before = std::string_view(lower).substr(0, at);
      while (!before.empty() && (before.back() == ' ' || before.back() == '-')) {
        before.remove_suffix(1);
      }
      if (before.ends_with("sub")) continue;
    }
    return end;
  }
  return std::nullopt;
}

// The end of the strongest label of `labels` in the line, and its tier.
struct LabelHit {
  size_t end = 0;
  int tier = 0;
};
std::optional<LabelHit> StrongestLabel(const std::string& lower, const std::vector<Label>& labels) {
  std::optional<LabelHit> best;
  for (const Label& label : labels) {
    if (best && best->tier >= label.tier) continue;
    if (std::optional<size_t> end = FindLabel(lower, label)) best = LabelHit{*end, label.tier};
  }
  return best;
}

// ---------------------------------------------------------------------------------------------
// Dates

struct FoundDate {
  size_t begin = 0, end = 0;
  std::string iso;
};

std::optional<std::string> IsoDate(int year, int month, int day) {
  static constexpr int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (year < 1990 || year > 2100 || month < 1 || month > 12 || day < 1) return std::nullopt;
  bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  if (day > kDays[month - 1] || (month == 2 && day == 29 && !leap)) return std::nullopt;
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d", year, month, day);
  return std::string(buffer);
}

int MonthOf(const std::string& name) {
  static const char* kMonths[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                  "jul", "aug", "sep", "oct", "nov", "dec"};
  for (int m = 0; m < 12; ++m) {
    if (name.starts_with(kMonths[m])) return m + 1;
  }
  return 0;
}

// Every date in a lower-cased line, in order.
std::vector<FoundDate> DatesIn(const std::string& lower) {
  enum class Order { kYmd, kDmy, kDayMonthName, kMonthNameDay };
  static const std::string kMonth = "(jan|feb|mar|apr|may|jun|jul|aug|sep|oct|nov|dec)[a-z]*\\.?";
  static const std::vector<std::pair<std::regex, Order>> kPatterns = [] {
    std::vector<std::pair<std::regex, Order>> patterns;
    patterns.emplace_back(std::regex(R"((\d{4})\s*年\s*(\d{1,2})\s*月\s*(\d{1,2})\s*日?)"),
                          Order::kYmd);
    patterns.emplace_back(std::regex(R"((\d{4})\s?[-/.]\s?(\d{1,2})\s?[-/.]\s?(\d{1,2})(?!\d))"),
                          Order::kYmd);
    patterns.emplace_back(std::regex(R"((\d{1,2})[-/.](\d{1,2})[-/.](\d{4})(?!\d))"), Order::kDmy);
    patterns.emplace_back(
        std::regex(R"((\d{1,2})(?:st|nd|rd|th)?\s+)" + kMonth + R"(,?\s+(\d{4}))"),
        Order::kDayMonthName);
    patterns.emplace_back(std::regex(kMonth + R"(\s+(\d{1,2})(?:st|nd|rd|th)?,?\s+(\d{4}))"),
                          Order::kMonthNameDay);
    return patterns;
  }();
  std::vector<FoundDate> found;
  for (const auto& [pattern, order] : kPatterns) {
    for (std::sregex_iterator it(lower.begin(), lower.end(), pattern), end; it != end; ++it) {
      const std::smatch& m = *it;
      const auto begin = static_cast<size_t>(m.position(0));
      if (begin > 0 && IsDigit(lower[begin - 1])) continue;
      bool taken = false;
      for (const FoundDate& other : found) {
        taken = taken || (begin < other.end && other.begin < begin + m.length(0));
      }
      if (taken) continue;
      std::optional<std::string> iso;
      switch (order) {
        case Order::kYmd:
          iso = IsoDate(std::stoi(m[1]), std::stoi(m[2]), std::stoi(m[3]));
          break;
        case Order::kDmy:
          // Day first, as written in most places; month first only when that alone is a date.
          iso = IsoDate(std::stoi(m[3]), std::stoi(m[2]), std::stoi(m[1]));
          if (!iso) iso = IsoDate(std::stoi(m[3]), std::stoi(m[1]), std::stoi(m[2]));
          break;
        case Order::kDayMonthName:
          iso = IsoDate(std::stoi(m[3]), MonthOf(m[2]), std::stoi(m[1]));
          break;
        case Order::kMonthNameDay:
          iso = IsoDate(std::stoi(m[3]), MonthOf(m[1]), std::stoi(m[2]));
          break;
      }
      if (iso) found.push_back({begin, begin + static_cast<size_t>(m.length(0)), *iso});
    }
  }
  std::sort(found.begin(), found.end(),
            [](const FoundDate& a, const FoundDate& b) { return a.begin < b.begin; });
  return found;
}

// The line with its dates and times of day blanked, so that their digits are no amounts.
std::string WithoutDates(const std::string& lower) {
  std::string out = lower;
  for (const FoundDate& date : DatesIn(lower)) {
    std::fill(out.begin() + date.begin, out.begin() + date.end, ' ');
  }
  static const std::regex kTime(R"(\d{1,2}:\d{2}(?::\d{2})?)");
  for (std::sregex_iterator it(lower.begin(), lower.end(), kTime), end; it != end; ++it) {
    std::fill(out.begin() + it->position(0), out.begin() + it->position(0) + it->length(0), ' ');
  }
  return out;
}

// ---------------------------------------------------------------------------------------------
// Amounts

struct Money {
  size_t begin = 0;
  int64_t cents = 0;
  bool money_like = false;  // two decimals, thousands separators or a currency sign
  bool sign = false;        // a currency sign or code just before it
};

std::vector<Money> MoneyIn(const std::string& line) {
  static const std::regex kNumber(R"((\d{1,3}(?:,\d{3})+|\d+)(?:\.(\d+))?)");
  std::vector<Money> found;
  for (std::sregex_iterator it(line.begin(), line.end(), kNumber), end; it != end; ++it) {
    const std::smatch& m = *it;
    const auto begin = static_cast<size_t>(m.position(0));
    const size_t after = begin + m.length(0);
    if (begin > 0 && (IsDigit(line[begin - 1]) || line[begin - 1] == '.')) continue;
    std::string before = line.substr(0, begin);
    while (!before.empty() && before.back() == ' ') before.pop_back();
    bool sign = before.ends_with("\xC2\xA5") || before.ends_with("$") ||
                before.ends_with("\xE2\x82\xAC") || before.ends_with("\xC2\xA3") ||
                before.ends_with("rmb") || before.ends_with("cny") || before.ends_with("usd");
    if (!sign && begin > 0 && IsLetter(line[begin - 1])) continue;
    if (after < line.size() && (line[after] == '%' || IsLetter(line[after]))) continue;
    std::string whole = m[1];
    whole.erase(std::remove(whole.begin(), whole.end(), ','), whole.end());
    const std::string decimals = m[2];
    if (decimals.size() > 2 || whole.size() > 9) continue;
    // A long run of digits without decimals is a number of some other kind (a telephone, a code).
    if (decimals.empty() && whole.size() > 6) continue;
    Money money;
    money.begin = begin;
    money.cents = std::stoll(whole) * 100 +
                  (decimals.empty() ? 0 : std::stoll(decimals) * (decimals.size() == 1 ? 10 : 1));
    money.sign = sign;
    money.money_like =
        sign || decimals.size() == 2 || m[1].length() != static_cast<long>(whole.size());
    if (money.cents > 0) found.push_back(money);
  }
  return found;
}

std::string CentsText(int64_t cents) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%lld.%02lld", static_cast<long long>(cents / 100),
                static_cast<long long>(cents % 100));
  return buffer;
}

std::string ProposeAmount(const std::vector<std::string>& lower_lines) {
  // The words that stand before a total, strongest first; a currency sign counts as tier 2 and
  // any number with two decimals as tier 1.
  static const std::vector<Label> kLabels = {
      {"价税合计", 5},   {"小写", 5},        {"应付", 5},         {"实付", 5},
      {"实收", 5},       {"应收", 5},        {"grand total", 5},  {"total due", 5},
      {"amount due", 5}, {"balance due", 5}, {"total amount", 5}, {"amount payable", 5},
      {"合计", 4},       {"总计", 4},        {"总额", 4},         {"总金额", 4},
      {"total", 4},      {"金额", 3},        {"amount", 3},       {"sum", 3}};
  struct Candidate {
    int tier;
    bool money_like;
    int64_t cents;
  };
  std::optional<Candidate> best;
  auto offer = [&best](int tier, const Money& money) {
    Candidate c{tier, money.money_like, money.cents};
    if (!best || std::tie(c.tier, c.money_like, c.cents) >
                     std::tie(best->tier, best->money_like, best->cents)) {
      best = c;
    }
  };
  std::vector<std::string> scans;
  for (const std::string& line : lower_lines) scans.push_back(WithoutDates(line));
  for (size_t i = 0; i < scans.size(); ++i) {
    std::vector<Money> numbers = MoneyIn(scans[i]);
    for (const Money& money : numbers) {
      if (money.sign) offer(2, money);
      if (money.money_like) offer(1, money);
    }
    std::optional<LabelHit> label = StrongestLabel(lower_lines[i], kLabels);
    if (!label) continue;
    bool offered = false;
    for (const Money& money : numbers) {
      if (money.begin < label->end) continue;
      offer(label->tier, money);
      offered = true;
    }
    // A label alone on its line: its value is the first number of the next line that has any.
    if (!offered && lower_lines[i].find_first_not_of(" :.-", label->end) == std::string::npos) {
      for (size_t next = i + 1; next < scans.size() && next <= i + 2; ++next) {
        std::vector<Money> below = MoneyIn(scans[next]);
        if (below.empty()) continue;
        offer(label->tier, below.front());
        break;
      }
    }
  }
  return best ? CentsText(best->cents) : std::string();
}

// ---------------------------------------------------------------------------------------------
// Invoice numbers

std::optional<std::string> DigitRun(const std::string& line, size_t from) {
  static const std::regex kRun(R"(\d{8,20})");
  std::string rest = line.substr(std::min(from, line.size()));
  for (std::sregex_iterator it(rest.begin(), rest.end(), kRun), end; it != end; ++it) {
    const auto begin = static_cast<size_t>(it->position(0));
    const size_t after = begin + it->length(0);
    if (begin > 0 && IsDigit(rest[begin - 1])) continue;
    if (after < rest.size() && IsDigit(rest[after])) continue;
    return it->str();
  }
  return std::nullopt;
}

std::string ProposeInvoice(const std::vector<std::string>& lower_lines) {
  static const std::vector<Label> kLabels = {
      {"发票号码", 3},   {"invoice no", 3},  {"invoice number", 3},
      {"invoice #", 3},  {"invoice num", 3}, {"号码", 2},
      {"receipt no", 2}, {"receipt #", 2},   {"单号", 2},
      {"票号", 2},       {"no", 1},          {"#", 1}};
  std::optional<std::pair<int, std::string>> best;
  for (size_t i = 0; i < lower_lines.size(); ++i) {
    const std::string& line = lower_lines[i];
    std::string scan = WithoutDates(line);
    for (const Label& label : kLabels) {
      if (best && best->first >= label.tier) continue;
      std::optional<size_t> end = FindLabel(line, label);
      // A telephone number is no invoice number.
      while (end && std::string_view(label.text) == "号码" && *end >= 12 &&
             (line.compare(*end - 12, 6, "电话") == 0 || line.compare(*end - 12, 6, "手机") == 0)) {
        end = FindLabel(line, label, *end);
      }
      if (!end) continue;
      std::optional<std::string> run = DigitRun(scan, *end);
      if (!run && line.find_first_not_of(" :.-", *end) == std::string::npos &&
          i + 1 < lower_lines.size()) {
        run = DigitRun(WithoutDates(lower_lines[i + 1]), 0);
      }
      if (run) best = std::make_pair(label.tier, *run);
    }
  }
  return best ? best->second : std::string();
}

std::string ProposeDate(const std::vector<std::string>& lower_lines) {
  std::string first;
  for (size_t i = 0; i < lower_lines.size(); ++i) {
    std::vector<FoundDate> dates = DatesIn(lower_lines[i]);
    bool labelled = lower_lines[i].find("日期") != std::string::npos ||
                    FindLabel(lower_lines[i], {"date", 1}).has_value();
    if (labelled && dates.empty() && i + 1 < lower_lines.size()) {
      dates = DatesIn(lower_lines[i + 1]);
    }
    if (dates.empty()) continue;
    if (labelled) return dates.front().iso;
    if (first.empty()) first = dates.front().iso;
  }
  return first;
}

// ---------------------------------------------------------------------------------------------
// Tesseract. An engine with its language data loaded costs a second or two and about 100 MB,
// so engines are kept for the next call: as many as have ever been in use at once.

// Tesseract runs parts of its network in OpenMP threads, which spin while they wait: on two
// busy cores a reading took 1.6 s against 0.5 to 0.7 s on one thread, and readings of several
// requests at once would spin against each other. Parallel regions are made serial for the
// whole process, as OMP_THREAD_LIMIT=1 would. The function is looked up at run time: the OpenMP
// runtime comes with tesseract, and the build need not name one.
void OneThreadPerReading() {
  static std::once_flag once;
  std::call_once(once, [] {
    using SetMaxActiveLevels = void (*)(int);
    if (auto set = reinterpret_cast<SetMaxActiveLevels>(
            dlsym(RTLD_DEFAULT, "omp_set_max_active_levels"))) {
      set(0);
    }
  });
}

class EnginePool {
 public:
  std::unique_ptr<tesseract::TessBaseAPI> Take() {
    OneThreadPerReading();
    {
      std::lock_guard lock(mutex_);
      if (!idle_.empty()) {
        std::unique_ptr<tesseract::TessBaseAPI> engine = std::move(idle_.back());
        idle_.pop_back();
        return engine;
      }
    }
    auto engine = std::make_unique<tesseract::TessBaseAPI>();
    if (engine->Init(nullptr, "chi_sim+eng", tesseract::OEM_LSTM_ONLY) != 0) {
      Raise(kErrBusiness, "Rembiz.Receipt.Unavailable", "tesseract chi_sim+eng");
    }
    // Tesseract's notes on each page (resolution guesses, diacritics) are no one's concern.
    engine->SetVariable("debug_file", "/dev/null");
    // A receipt is one column of lines; reading it as one block also skips the page layout
    // analysis, which the time limit cannot interrupt.
    engine->SetPageSegMode(tesseract::PSM_SINGLE_BLOCK);
    return engine;
  }

  void Give(std::unique_ptr<tesseract::TessBaseAPI> engine) {
    engine->Clear();
    std::lock_guard lock(mutex_);
    idle_.push_back(std::move(engine));
  }

 private:
  std::mutex mutex_;
  std::vector<std::unique_ptr<tesseract::TessBaseAPI>> idle_;
};

// Never destroyed: a thread may still be reading when the process ends.
EnginePool& Engines() {
  static auto* pool = new EnginePool;
  return *pool;
}

// An engine for one call, back to the pool at the end.
class Engine {
 public:
  Engine() : engine_(Engines().Take()) {}
  ~Engine() { Engines().Give(std::move(engine_)); }
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;
  tesseract::TessBaseAPI* operator->() const { return engine_.get(); }

 private:
  std::unique_ptr<tesseract::TessBaseAPI> engine_;
};

}  // namespace

ReceiptReading ProposeFromText(std::string_view text) {
  std::vector<std::string> lower_lines;
  for (const std::string& line : Lines(Normalised(text))) lower_lines.push_back(Lower(line));
  ReceiptReading reading;
  reading.amount = ProposeAmount(lower_lines);
  reading.date = ProposeDate(lower_lines);
  reading.invoice = ProposeInvoice(lower_lines);
  return reading;
}

void PrepareReceiptReading() { Engine engine; }

ReceiptReading ReadReceipt(std::string_view bytes, std::string_view mime,
                           std::chrono::milliseconds limit) {
  const Clock::time_point deadline = Clock::now() + limit;
  ReceiptReading timed_out;
  timed_out.timed_out = true;
  if (Clock::now() >= deadline) return timed_out;
  GreyPage page = ReceiptGreyPage(bytes, mime);
  if (Clock::now() >= deadline) return timed_out;
  Engine engine;
  if (Clock::now() >= deadline) return timed_out;

  engine->SetImage(reinterpret_cast<const unsigned char*>(page.pixels.data()), page.width,
                   page.height, 1, page.width);
  engine->SetSourceResolution(300);
  // Tesseract asks the monitor between words whether to stop.
  tesseract::ETEXT_DESC monitor;
  monitor.cancel = [](void* until, int) {
    return Clock::now() >= *static_cast<const Clock::time_point*>(until);
  };
  Clock::time_point until = deadline;
  monitor.cancel_this = &until;
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  monitor.set_deadline_msecs(static_cast<int32_t>(std::max<int64_t>(1, left.count())));
  if (engine->Recognize(&monitor) != 0) {
    if (Clock::now() >= deadline) return timed_out;
    return {};  // nothing recognisable on the page
  }
  std::unique_ptr<char[]> text(engine->GetUTF8Text());
  ReceiptReading reading = ProposeFromText(text ? text.get() : "");
  reading.text = text ? text.get() : "";
  return reading;
}

}  // namespace rembiz::host
