// The HTTP service on a copy of the demo company, on a free port, with an httplib client.
#pragma once

#include <gtest/gtest.h>
#include <httplib.h>
#include <spdlog/sinks/ringbuffer_sink.h>
#include <spdlog/spdlog.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <regex>
#include <string>
#include <thread>

#include "app/http_service.h"
#include "app/session_store.h"
#include "db/connection.h"
#include "db/connection_string.h"
#include "support/demo_fixture.h"

namespace rembiz::app {

inline constexpr char kCurrencies[] = "<req><func name='currencyget'/></req>";

class HttpTest : public testing::DemoTest {
 protected:
  void SetUp() override {
    DemoTest::SetUp();
    spdlog::set_level(spdlog::level::warn);
  }
  void TearDown() override {
    if (service_) {
      service_->Stop();
      if (runner_.joinable()) runner_.join();
      service_.reset();
    }
    DemoTest::TearDown();
  }

  void Start(size_t threads = 4, size_t queue = 16,
             const std::function<void(ServeOptions&)>& adjust = nullptr) {
    ServeOptions options;
    options.data_dir = Data().Describe();
    options.port = 0;
    options.threads = threads;
    options.queue = queue;
    options.max_body = 64 * 1024;
    if (adjust) adjust(options);
    service_ = std::make_unique<HttpService>(options);
    port_ = service_->Bind();
    runner_ = std::thread([this] { service_->Run(); });
  }

  httplib::Client Client() {
    httplib::Client client("127.0.0.1", port_);
    client.set_read_timeout(30, 0);
    return client;
  }
  httplib::Result Post(const std::string& path, const std::string& body,
                       const std::string& token = "") {
    httplib::Headers headers;
    if (!token.empty()) headers.emplace("Authorization", "Bearer " + token);
    return Client().Post(path, headers, body, "application/xml");
  }
  // Logs in and returns the token ("" when refused).
  std::string Login(const std::string& user, const std::string& password) {
    httplib::Result r =
        Client().Post("/api/login", httplib::Params{{"user", user}, {"password", password}});
    std::smatch m;
    std::string body = r ? r->body : "";
    if (!r || r->status != 200 ||
        !std::regex_search(body, m, std::regex("token=\"([0-9a-f]+)\""))) {
      return "";
    }
    return m[1];
  }
  int64_t SessionRows(const std::string& token) {
    db::Connection cn;
    cn.Open(Data().SystemConnectionString());
    return cn
        .Execute("select count(*) as n from UA_Session where cSession = '" +
                 SessionStore::HashToken(token) + "' or cSession = '" + token + "'")
        .Value("n")
        .ToInt();
  }

  std::unique_ptr<HttpService> service_;
  std::thread runner_;
  int port_ = 0;
};

// The same, with the service's log lines kept for the test to read.
class LoggedHttpTest : public HttpTest {
 protected:
  void SetUp() override {
    HttpTest::SetUp();
    log_ = std::make_shared<spdlog::sinks::ringbuffer_sink_mt>(200);
    spdlog::default_logger()->sinks().push_back(log_);
  }
  void TearDown() override {
    auto& sinks = spdlog::default_logger()->sinks();
    sinks.erase(std::remove(sinks.begin(), sinks.end(), log_), sinks.end());
    HttpTest::TearDown();
  }
  // The lines logged so far, one after the other.
  std::string Log() {
    std::string out;
    for (const std::string& line : log_->last_formatted()) out += line;
    return out;
  }
  bool Logged(const std::string& text) { return Log().find(text) != std::string::npos; }

  std::shared_ptr<spdlog::sinks::ringbuffer_sink_mt> log_;
};

}  // namespace rembiz::app
