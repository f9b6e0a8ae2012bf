#include "host/receipt_reading.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <future>
#include <sstream>
#include <string>
#include <vector>

#include "host/receipt_samples.h"
#include "support/golden.h"

namespace rembiz::host {
namespace {

using namespace std::chrono_literals;
using testing::Encoded;
using testing::TextPage;

// tests/host/golden/receipt_text.txt: records "=== name", the text OCR gave, "--- proposes" and
// the proposals. The file is compared with itself after each record's proposals are made anew
// from its text, so REMBIZ_UPDATE_GOLDEN=1 rewrites only the proposals.
TEST(ReceiptReadingTest, TextProposesAmountDateAndInvoice) {
  std::ifstream in(std::filesystem::path(REMBIZ_SOURCE_DIR) / "tests/host/golden/receipt_text.txt");
  ASSERT_TRUE(in);
  std::string actual, text, line;
  bool in_text = false;
  int records = 0;
  auto propose = [&] {
    ReceiptReading reading = ProposeFromText(text);
    auto field = [](const char* name, const std::string& value) {
      return std::string(name) + ":" + (value.empty() ? "" : " " + value) + "\n";
    };
    actual += "--- proposes\n" + field("amount", reading.amount) + field("date", reading.date) +
              field("invoice", reading.invoice) + "\n";
    ++records;
  };
  while (std::getline(in, line)) {
    if (line.starts_with("=== ")) {
      actual += line + "\n";
      text.clear();
      in_text = true;
    } else if (in_text && line == "--- proposes") {
      in_text = false;
      propose();
    } else if (in_text) {
      actual += line + "\n";
      text += line + "\n";
    } else if (records == 0 && (line.starts_with("#") || line.empty())) {
      actual += line + "\n";  // the comment at the top
    }
  }
  if (actual.ends_with("\n\n")) actual.pop_back();
  EXPECT_GE(records, 6);
  testing::ExpectGoldenText("host/golden/receipt_text.txt", actual);
}

const char* const kEnglishReceipt =
    "RECEIPT\nDate: 2026-12-07\nInvoice No: 12345678\nTotal: 123.45";

TEST(ReceiptReadingTest, AReceiptImageIsReadBack) {
  const std::string png = Encoded(TextPage(kEnglishReceipt), ".png");
  // Two readings at once, each with its own engine, read the same.
  std::vector<std::future<ReceiptReading>> readings;
  for (int i = 0; i < 2; ++i) {
    readings.push_back(
        std::async(std::launch::async, [&png] { return ReadReceipt(png, "image/png", 60s); }));
  }
  for (auto& future : readings) {
    ReceiptReading reading = future.get();
    EXPECT_FALSE(reading.timed_out);
    EXPECT_EQ(reading.amount, "123.45") << reading.text;
    EXPECT_EQ(reading.date, "2026-12-07") << reading.text;
    EXPECT_EQ(reading.invoice, "12345678") << reading.text;
  }
}

TEST(ReceiptReadingTest, AChineseInvoiceIsReadBack) {
  if (!testing::HaveReceiptFont()) GTEST_SKIP() << "no Chinese font: " << testing::kReceiptFontFile;
  const std::string jpeg = Encoded(
      TextPage("电子发票（普通发票）\n发票号码：26112000000012345678\n开票日期：2026年12月07日\n"
               "项目 金额 税额\n*餐饮服务*餐费 116.46 6.99\n价税合计（小写）￥123.45"),
      ".jpg[Q=90]");
  ReceiptReading reading = ReadReceipt(jpeg, "image/jpeg", 60s);
  EXPECT_EQ(reading.amount, "123.45") << reading.text;
  EXPECT_EQ(reading.date, "2026-12-07") << reading.text;
  EXPECT_EQ(reading.invoice, "26112000000012345678") << reading.text;
}

TEST(ReceiptReadingTest, APdfIsReadFromItsFirstPage) {
  ReceiptReading reading =
      ReadReceipt(testing::HandWrittenPdf(2, {"RECEIPT", "Date: 07/12/2026", "Total: 88.20"}),
                  "application/pdf", 60s);
  EXPECT_EQ(reading.amount, "88.20") << reading.text;
  EXPECT_EQ(reading.date, "2026-12-07") << reading.text;
}

TEST(ReceiptReadingTest, AReadingStopsAtItsTimeLimit) {
  const std::string png = Encoded(TextPage(kEnglishReceipt), ".png");
  ReceiptReading reading = ReadReceipt(png, "image/png", 1ms);
  EXPECT_TRUE(reading.timed_out);
  EXPECT_EQ(reading.amount, "");
  EXPECT_EQ(reading.text, "");
}

}  // namespace
}  // namespace rembiz::host
