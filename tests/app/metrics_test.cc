// What the service tells those who watch it: /metrics as Prometheus reads it, /readyz, request
// ids on answers and log lines, and log lines as JSON objects.
#include "app/metrics.h"

#include <gtest/gtest.h>
#include <httplib.h>
#include <spdlog/sinks/ostream_sink.h>
#include <spdlog/spdlog.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/http_fixture.h"
#include "app/log_format.h"
#include "host/messages.h"
#include "host/schema_versions.h"

namespace rembiz::app {
namespace {

// The samples of a scrape by series ("name{labels}"); fails on any line Prometheus' text format
// would not take.
std::map<std::string, double> Samples(const std::string& scrape) {
  static const std::regex kSample(
      R"(^([a-zA-Z_:][a-zA-Z0-9_:]*(\{([a-zA-Z_][a-zA-Z0-9_]*="([^"\\\n]|\\.)*",?)*\})?) )"
      R"(([-+]?[0-9.]+([eE][-+]?[0-9]+)?|\+Inf|NaN)$)");
  static const std::regex kComment(R"(^# (HELP|TYPE) [a-zA-Z_:][a-zA-Z0-9_:]* .+$)");
  std::map<std::string, double> samples;
  std::istringstream in(scrape);
  std::string line;
  while (std::getline(in, line)) {
    std::smatch m;
    if (std::regex_match(line, kComment)) continue;
    EXPECT_TRUE(std::regex_match(line, m, kSample)) << "not a sample: " << line;
    if (!m.empty()) samples[m[1]] = std::stod(m[5]);
  }
  return samples;
}

TEST_F(HttpTest, MetricsCountEveryAnswerByClassAndOperation) {
  Start(3);
  std::string token = Login("demo", "demo");
  for (int i = 0; i < 3; ++i) ASSERT_EQ(Post("/api/CPubMsg", kCurrencies, token)->status, 200);
  EXPECT_EQ(Client().Get("/no/such/path")->status, 404);
  EXPECT_EQ(Post("/api/CPubMsg", kCurrencies)->status, 401);

  // A request is counted once its answer is out, so the last ones may still be on their way (each
  // on a connection of its own, in any order).
  std::map<std::string, double> s;
  for (int i = 0; i < 100; ++i) {
    httplib::Result scrape = Client().Get("/metrics");
    ASSERT_TRUE(scrape);
    EXPECT_EQ(scrape->status, 200);
    EXPECT_EQ(scrape->get_header_value("Content-Type"), "text/plain; version=0.0.4; charset=utf-8");
    s = Samples(scrape->body);
    if (s["rembiz_requests_total{class=\"CPubMsg\",status=\"401\"}"] == 1 &&
        s["rembiz_requests_total{class=\"-\",status=\"404\"}"] == 1) {
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }

  const std::string series = "class=\"CPubMsg\",operation=\"currencyget\"";
  EXPECT_EQ(s["rembiz_request_duration_seconds_count{" + series + "}"], 3);
  EXPECT_EQ(s["rembiz_request_duration_seconds_bucket{" + series + ",le=\"+Inf\"}"], 3);
  double previous = 0;
  for (double le : Metrics::kBuckets) {
    std::string bucket = "rembiz_request_duration_seconds_bucket{" + series + ",le=\"" +
                         fmt::format("{}", le) + "\"}";
    ASSERT_TRUE(s.count(bucket)) << bucket;
    EXPECT_GE(s[bucket], previous) << "buckets are cumulative";
    previous = s[bucket];
  }
  EXPECT_GT(s["rembiz_request_duration_seconds_sum{" + series + "}"], 0);
  EXPECT_EQ(s["rembiz_requests_total{class=\"CPubMsg\",status=\"200\"}"], 3);
  EXPECT_EQ(s["rembiz_requests_total{class=\"CPubMsg\",status=\"401\"}"], 1);
  EXPECT_EQ(s["rembiz_request_errors_total{class=\"CPubMsg\",outcome=\"refused\"}"], 1);
  EXPECT_EQ(s["rembiz_requests_total{class=\"-\",status=\"404\"}"], 1);
  EXPECT_EQ(s["rembiz_workers"], 3);
  EXPECT_EQ(s["rembiz_sessions"], 1);
  EXPECT_EQ(s["rembiz_queue_length"], 0);
  EXPECT_TRUE(s.count("rembiz_workers_busy") && s.count("rembiz_db_connections_idle"));

  httplib::Result r = Client().Get("/readyz");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 200);
  EXPECT_EQ(r->body, "{\"status\":\"ready\"}");
}

TEST_F(HttpTest, ReadinessWantsEveryDatabaseAtThisReleasesSchema) {
  Start();
  EXPECT_EQ(Client().Get("/readyz")->status, 200);
  // Another release's upgrade took the account further than this program knows.
  Cn().Execute("insert into Host_SchemaVersion (iVersion) values (" +
               std::to_string(host::LatestSchemaVersion(host::SchemaKind::kAccount) + 1) + ")");
  httplib::Result r = Client().Get("/readyz", {{"Accept-Language", "en-US"}});
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 503);
  EXPECT_NE(r->body.find(host::MessageText("Rembiz.Host.SchemaNotCurrent", "en-US")),
            std::string::npos)
      << r->body;
}

TEST(MetricsTest, MadeUpNamesCannotGrowTheScrapeWithoutEnd) {
  Metrics metrics;
  for (int i = 0; i < 1000; ++i) {
    metrics.Observe("C" + std::to_string(i), "op\"\n{" + std::to_string(i), 200, "ok", 0.001);
  }
  std::map<std::string, double> s = Samples(metrics.Render({}));
  size_t series = 0;
  for (const auto& [name, value] : s) {
    if (name.rfind("rembiz_request_duration_seconds_count", 0) == 0) ++series;
  }
  EXPECT_EQ(series, Metrics::kMaxSeries + 1);
  EXPECT_EQ(s["rembiz_request_duration_seconds_count{class=\"other\",operation=\"other\"}"],
            1000 - Metrics::kMaxSeries);
  EXPECT_EQ(PrometheusLabel("a\"b\\c\nd"), "a\\\"b\\\\c\\nd");
}

TEST_F(HttpTest, RequestIdsRunThroughAnswersAndJsonLogLines) {
  // A sink that writes each line as it is logged (the ring buffer would format them later).
  std::ostringstream written;
  auto sink = std::make_shared<spdlog::sinks::ostream_sink_mt>(written);
  auto& sinks = spdlog::default_logger()->sinks();
  sinks.push_back(sink);
  spdlog::set_level(spdlog::level::info);
  UseLogFormat(LogFormat::kJson);
  Start();
  httplib::Result first = Client().Get("/healthz");
  httplib::Result second = Client().Get("/healthz");
  httplib::Result given = Client().Get("/healthz", httplib::Headers{{"X-Request-Id", "lb-7f.1"}});
  httplib::Result odd = Client().Get("/healthz", httplib::Headers{{"X-Request-Id", "a b\"c"}});
  // The access line is written once the answer is out: stop the service before reading them.
  service_->Stop();
  runner_.join();
  service_.reset();
  UseLogFormat(LogFormat::kText);
  sinks.erase(std::remove(sinks.begin(), sinks.end(), sink), sinks.end());

  ASSERT_TRUE(first && second && given && odd);
  std::string id = first->get_header_value("X-Request-Id");
  EXPECT_FALSE(id.empty());
  EXPECT_NE(id, second->get_header_value("X-Request-Id"));
  EXPECT_EQ(given->get_header_value("X-Request-Id"), "lb-7f.1");
  EXPECT_NE(odd->get_header_value("X-Request-Id"), "a b\"c");  // not a plain token: a new one

  // Every line is one JSON object; the access lines carry their fields as members.
  std::map<std::string, nlohmann::json> by_id;
  std::istringstream lines(written.str());
  std::string line;
  while (std::getline(lines, line)) {
    nlohmann::json object = nlohmann::json::parse(line, nullptr, false);
    ASSERT_FALSE(object.is_discarded()) << "not JSON: " << line;
    ASSERT_TRUE(object.contains("time") && object.contains("level") && object.contains("message"));
    if (object.contains("request_id")) by_id[object["request_id"]] = object;
  }
  ASSERT_TRUE(by_id.count(id)) << written.str();
  EXPECT_EQ(by_id[id]["path"], "/healthz");
  EXPECT_EQ(by_id[id]["status"], "200");
  EXPECT_EQ(by_id[id]["outcome"], "ok");
  EXPECT_EQ(by_id[id]["level"], "info");
  EXPECT_TRUE(by_id.count("lb-7f.1"));
}

}  // namespace
}  // namespace rembiz::app
