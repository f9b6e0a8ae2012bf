#include "support/golden.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

namespace rembiz::testing {

std::string Pretty(const xml::Node& node) {
  std::ostringstream out;
  node.Raw().print(out, "  ", pugi::format_indent);
  return out.str();
}

std::string StableXml(std::string_view xml) {
  static const std::regex kVersion(R"re( ts=("[^"]*"|'[^']*'))re");
  std::string out = std::regex_replace(std::string(xml), kVersion, "");
  std::string lines;
  for (size_t i = 0; i < out.size(); ++i) {
    if (out[i] == '\r' || out[i] == '\n') continue;
    if (out[i] == '<' && i > 0 && out[i - 1] == '>') lines += '\n';
    lines += out[i];
  }
  return lines + "\n";
}

void ExpectGolden(std::string_view relative_path, std::string_view actual) {
  ExpectGoldenText(relative_path, StableXml(actual));
}

void ExpectGoldenText(std::string_view relative_path, std::string_view stable) {
  std::filesystem::path path =
      std::filesystem::path(REMBIZ_SOURCE_DIR) / "tests" / std::string(relative_path);
  const char* update = std::getenv("REMBIZ_UPDATE_GOLDEN");
  if (update && std::string(update) == "1") {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << stable;
    return;
  }
  std::ifstream in(path, std::ios::binary);
  ASSERT_TRUE(in) << "no golden file " << path << "; run with REMBIZ_UPDATE_GOLDEN=1";
  std::stringstream expected;
  expected << in.rdbuf();
  EXPECT_EQ(stable, expected.str()) << "golden file " << path;
}

}  // namespace rembiz::testing
