#include "host/messages.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>

namespace rembiz::host {
namespace {

// Every message key the code can raise must have a text in both languages.
TEST(MessagesTest, EveryKeyUsedInTheCodeHasBothTexts) {
  namespace fs = std::filesystem;
  fs::path src = fs::path(REMBIZ_SOURCE_DIR) / "src";
  std::regex key_pattern(
      R"re("(Q7\.Rembiz\.(?:Web\.)?[0-9]{4}|Rembiz\.(?:Host|Master|Ledger|Report|Value|Admin|Receipt)\.[A-Za-z]+)")re");
  std::set<std::string> keys;
  for (const auto& entry : fs::recursive_directory_iterator(src)) {
    if (!entry.is_regular_file()) continue;
    std::ifstream in(entry.path());
    std::stringstream text;
    text << in.rdbuf();
    std::string content = text.str();
    for (std::sregex_iterator it(content.begin(), content.end(), key_pattern), end; it != end;
         ++it) {
      keys.insert((*it)[1]);
    }
  }
  ASSERT_FALSE(keys.empty());
  for (const std::string& key : keys) EXPECT_TRUE(HasMessageText(key)) << key;
}

TEST(MessagesTest, TextsFollowTheLanguageAndFillParameters) {
  EXPECT_EQ(MessageText("Q7.Rembiz.0028", "zh-CN"), "严格控制");
  EXPECT_EQ(MessageText("Q7.Rembiz.0230", "zh-CN"), "提示");
  EXPECT_NE(MessageText("Q7.Rembiz.0001", "en-US"), MessageText("Q7.Rembiz.0001", "zh-CN"));
  EXPECT_EQ(MessageText("No.Such.Key"), "No.Such.Key");
  std::string text = MessageText("Rembiz.Host.NoRight", "en-US", "clerk", "EC0206");
  EXPECT_NE(text.find("clerk"), std::string::npos);
  EXPECT_NE(text.find("EC0206"), std::string::npos);
  SetCurrentLanguage("en-US");
  EXPECT_EQ(MessageText("Q7.Rembiz.0001"), MessageText("Q7.Rembiz.0001", "en-US"));
  SetCurrentLanguage("zh-CN");
}

}  // namespace
}  // namespace rembiz::host
