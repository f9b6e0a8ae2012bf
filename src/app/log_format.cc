#include "app/log_format.h"

#include <spdlog/pattern_formatter.h>
#include <spdlog/spdlog.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <memory>
#include <nlohmann/json.hpp>

namespace rembiz::app {
namespace {

thread_local std::vector<std::pair<std::string, std::string>> t_fields;
std::atomic<LogFormat> g_format = LogFormat::kText;

class JsonFormatter : public spdlog::formatter {
 public:
  void format(const spdlog::details::log_msg& msg, spdlog::memory_buf_t& dest) override {
    nlohmann::json line;
    auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(msg.time.time_since_epoch()).count();
    std::time_t seconds = static_cast<std::time_t>(millis / 1000);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char stamp[40];
    size_t n = std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%S", &utc);
    std::snprintf(stamp + n, sizeof stamp - n, ".%03dZ", static_cast<int>(millis % 1000));
    line["time"] = stamp;
    auto level = spdlog::level::to_string_view(msg.level);
    line["level"] = std::string(level.data(), level.size());
    line["message"] = std::string(msg.payload.data(), msg.payload.size());
    for (const auto& [name, value] : t_fields) line[name] = value;
    // Invalid UTF-8 from a caller is replaced, never a reason to lose the line.
    std::string text = line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    dest.append(text.data(), text.data() + text.size());
    dest.push_back('\n');
  }
  std::unique_ptr<spdlog::formatter> clone() const override {
    return std::make_unique<JsonFormatter>();
  }
};

}  // namespace

bool ParseLogFormat(std::string_view text, LogFormat& format) {
  if (text == "text") {
    format = LogFormat::kText;
  } else if (text == "json") {
    format = LogFormat::kJson;
  } else {
    return false;
  }
  return true;
}

void UseLogFormat(LogFormat format) {
  g_format = format;
  if (format == LogFormat::kJson) {
    spdlog::set_formatter(std::make_unique<JsonFormatter>());
  } else {
    spdlog::set_formatter(std::make_unique<spdlog::pattern_formatter>());
  }
}

LogFormat CurrentLogFormat() { return g_format; }

LogFields::LogFields(std::vector<std::pair<std::string, std::string>> fields) {
  t_fields = std::move(fields);
}
LogFields::~LogFields() { t_fields.clear(); }

}  // namespace rembiz::app
