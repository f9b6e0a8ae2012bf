// What the service counts for `GET /metrics`, in Prometheus' text format: requests and their
// durations by class and operation, refusals and failures, and the gauges the service reads at
// the moment of the scrape (sessions, workers, queue, connections, database).
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace rembiz::app {

class Metrics {
 public:
  // Upper bounds of the duration buckets, in seconds.
  static constexpr std::array<double, 12> kBuckets = {0.001, 0.0025, 0.005, 0.01, 0.025, 0.05,
                                                      0.1,   0.25,   0.5,   1.0,  2.5,   10.0};
  // Distinct class/operation pairs kept; later ones are counted under "other", so that callers
  // naming made-up operations cannot grow the scrape without end.
  static constexpr size_t kMaxSeries = 400;

  // One answered request: `class_name` and `operations` as the access log has them ("-" when the
  // request named none), `outcome` ok / refused / failed / no-database / …
  void Observe(std::string_view class_name, std::string_view operations, int status,
               std::string_view outcome, double seconds);

  struct Gauge {
    std::string name;
    std::string help;
    double value = 0;
    std::string type = "gauge";  // or "counter"
  };
  // The whole scrape: the counters kept here, then `gauges` as they are now.
  std::string Render(const std::vector<Gauge>& gauges) const;

 private:
  struct Series {
    std::array<uint64_t, kBuckets.size()> buckets{};  // not cumulative; summed when rendered
    uint64_t count = 0;
    double sum = 0;
  };
  using Key = std::pair<std::string, std::string>;  // class, operation

  mutable std::mutex mutex_;
  std::map<Key, Series> durations_;
  std::map<std::pair<std::string, int>, uint64_t> answers_;           // class, status
  std::map<std::pair<std::string, std::string>, uint64_t> outcomes_;  // class, outcome
};

// A label value as Prometheus reads it: backslash, quote and line feed escaped.
std::string PrometheusLabel(std::string_view value);

}  // namespace rembiz::app
