// The console's Reports view in a real browser: headless Chromium opens
// /?demo=1&view=reports, which logs in, asks CReport for the ageing analysis and draws its
// table and chart; the test reads the rendered DOM. Skipped when Chromium is not installed.
#include <gtest/gtest.h>
#include <spdlog/spdlog.h>

#include <algorithm>
#include <filesystem>
#include <regex>
#include <thread>

#include "app/http_service.h"
#include "reports/report_fixture.h"
#include "support/program.h"

namespace rembiz::app {
namespace {

constexpr const char* kChromium = "/usr/bin/chromium";

class ConsoleBrowserTest : public reports::ReportTest {
 protected:
  void TearDown() override {
    if (service_) {
      service_->Stop();
      runner_.join();
      service_.reset();
    }
    ReportTest::TearDown();
  }

  // The page after its scripts ran, as Chromium serialises it.
  std::string RenderedPage(const std::string& query) {
    spdlog::set_level(spdlog::level::warn);
    ServeOptions options;
    options.data_dir = Data().Describe();
    options.port = 0;
    options.threads = 2;
    options.record_sessions = false;
    service_ = std::make_unique<HttpService>(options);
    int port = service_->Bind();
    runner_ = std::thread([this] { service_->Run(); });
    std::filesystem::path profile = testing::ScratchDir("chromium-profile");
    // The page as the browser saw it; its own chatter on standard error stays out.
    return testing::RunCommand(
               std::string("{ timeout 90 ") + kChromium +
               " --headless --no-sandbox --disable-gpu --disable-quic --no-first-run"
               " --disable-background-networking --disable-component-update --disable-sync"
               " --lang=en-US --user-data-dir='" +
               profile.string() + "' --virtual-time-budget=10000 --dump-dom 'http://127.0.0.1:" +
               std::to_string(port) + "/" + query + "' 2>/dev/null; }")
        .out;
  }

  std::unique_ptr<HttpService> service_;
  std::thread runner_;
};

TEST_F(ConsoleBrowserTest, TheReportsViewDrawsTheAgeingWithItsChart) {
  if (!std::filesystem::exists(kChromium)) GTEST_SKIP() << "Chromium is not installed";
  AddCatalog();
  Generate(60);
  std::string cutoff = Date("10-01");
  std::string dom = RenderedPage("?demo=1&view=reports&cutoff=" + cutoff);
  ASSERT_NE(dom.find("id=\"reports\""), std::string::npos) << dom.substr(0, 2000);

  std::smatch m;
  ASSERT_TRUE(std::regex_search(dom, m, std::regex("<svg id=\"report-chart\"[^>]*>")))
      << dom.substr(0, 4000);
  EXPECT_EQ(m.str().find("hidden"), std::string::npos) << m.str();
  // One bar per ageing period of the demo company (five).
  size_t bars = 0;
  for (size_t at = dom.find("class=\"bar\""); at != std::string::npos;
       at = dom.find("class=\"bar\"", at + 1)) {
    ++bars;
  }
  EXPECT_EQ(bars, 5u);
  // The totals row carries the outstanding amount of every submitted loan before the cut-off.
  std::string total = Scalar(
      "select convert(varchar, cast(sum(isnull(dblmoney,0)-isnull(dblreturn,0)) as decimal(18, "
      "2))) "
      "from EC_LoanVouch where blnAudi = 1 and dtLoanDate < '" +
      cutoff + "'");
  // Amounts carry thousands separators.
  dom.erase(std::remove(dom.begin(), dom.end(), ','), dom.end());
  EXPECT_TRUE(std::regex_search(dom, std::regex("<tr class=\"total\">.*" + total + "</td></tr>")))
      << total << "\n"
      << dom.substr(dom.find("<table"), 600);
  EXPECT_NE(dom.find("Department"), std::string::npos);
}

}  // namespace
}  // namespace rembiz::app
