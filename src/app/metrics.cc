#include "app/metrics.h"

#include <fmt/format.h>

namespace rembiz::app {
namespace {

// Names from a request as label values: the characters class and operation names use, bounded in
// length, so nothing a caller sends can break the text format or bloat it.
std::string Tame(std::string_view text) {
  std::string out;
  for (char c : text.substr(0, 64)) {
    bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                 c == '_' || c == ',' || c == '/' || c == '-' || c == '.';
    out += plain ? c : '?';
  }
  return out.empty() ? "-" : out;
}

// The entry of `key`, or of `other` once the map holds as many series as it may.
template <class Map>
typename Map::mapped_type& Slot(Map& map, const typename Map::key_type& key,
                                const typename Map::key_type& other) {
  auto it = map.find(key);
  if (it != map.end()) return it->second;
  return map.size() < Metrics::kMaxSeries ? map[key] : map[other];
}

std::string Number(double value) { return fmt::format("{}", value); }

}  // namespace

std::string PrometheusLabel(std::string_view value) {
  std::string out;
  for (char c : value) {
    if (c == '\\' || c == '"') {
      out += '\\';
      out += c;
    } else if (c == '\n') {
      out += "\\n";
    } else {
      out += c;
    }
  }
  return out;
}

void Metrics::Observe(std::string_view class_name, std::string_view operations, int status,
                      std::string_view outcome, double seconds) {
  std::string cls = Tame(class_name);
  std::string ops = Tame(operations);
  std::lock_guard lock(mutex_);
  Series& series = Slot(durations_, {cls, ops}, {"other", "other"});
  for (size_t i = 0; i < kBuckets.size(); ++i) {
    if (seconds <= kBuckets[i]) {
      ++series.buckets[i];
      break;
    }
  }
  ++series.count;
  series.sum += seconds;
  ++Slot(answers_, {cls, status}, {"other", status});
  ++Slot(outcomes_, {cls, std::string(Tame(outcome))}, {"other", std::string(Tame(outcome))});
}

std::string Metrics::Render(const std::vector<Gauge>& gauges) const {
  std::string out;
  std::lock_guard lock(mutex_);
  out +=
      "# HELP rembiz_request_duration_seconds Time from a request's arrival to its answer, by "
      "class and operation.\n# TYPE rembiz_request_duration_seconds histogram\n";
  for (const auto& [key, series] : durations_) {
    std::string labels = "class=\"" + PrometheusLabel(key.first) + "\",operation=\"" +
                         PrometheusLabel(key.second) + "\"";
    uint64_t cumulative = 0;
    for (size_t i = 0; i < kBuckets.size(); ++i) {
      cumulative += series.buckets[i];
      out += "rembiz_request_duration_seconds_bucket{" + labels + ",le=\"" + Number(kBuckets[i]) +
             "\"} " + std::to_string(cumulative) + "\n";
    }
    out += "rembiz_request_duration_seconds_bucket{" + labels + ",le=\"+Inf\"} " +
           std::to_string(series.count) + "\n";
    out += "rembiz_request_duration_seconds_sum{" + labels + "} " + Number(series.sum) + "\n";
    out += "rembiz_request_duration_seconds_count{" + labels + "} " + std::to_string(series.count) +
           "\n";
  }
  out +=
      "# HELP rembiz_requests_total Answered requests by class and HTTP status.\n"
      "# TYPE rembiz_requests_total counter\n";
  for (const auto& [key, count] : answers_) {
    out += "rembiz_requests_total{class=\"" + PrometheusLabel(key.first) + "\",status=\"" +
           std::to_string(key.second) + "\"} " + std::to_string(count) + "\n";
  }
  out +=
      "# HELP rembiz_request_errors_total Requests not answered with success: refused, failed, "
      "or without a database.\n# TYPE rembiz_request_errors_total counter\n";
  for (const auto& [key, count] : outcomes_) {
    if (key.second == "ok") continue;
    out += "rembiz_request_errors_total{class=\"" + PrometheusLabel(key.first) + "\",outcome=\"" +
           PrometheusLabel(key.second) + "\"} " + std::to_string(count) + "\n";
  }
  for (const Gauge& gauge : gauges) {
    out += "# HELP " + gauge.name + " " + gauge.help + "\n# TYPE " + gauge.name + " " + gauge.type +
           "\n" + gauge.name + " " + Number(gauge.value) + "\n";
  }
  return out;
}

}  // namespace rembiz::app
