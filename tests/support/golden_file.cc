#include "support/golden_file.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace rembiz::testing {

std::string Pretty(const xml::Node& node) {
  std::ostringstream out;
  node.Raw().print(out, "  ", pugi::format_indent);
  return out.str();
}

void ExpectGolden(std::string_view relative_path, const std::string& actual) {
  std::filesystem::path path = std::filesystem::path(REMBIZ_SOURCE_DIR) / "tests" / relative_path;
  const char* update = std::getenv("REMBIZ_UPDATE_GOLDEN");
  if (update && std::string(update) == "1") {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << actual;
    return;
  }
  std::ifstream in(path, std::ios::binary);
  ASSERT_TRUE(in) << "no golden file " << path << " (REMBIZ_UPDATE_GOLDEN=1 writes it)";
  std::stringstream expected;
  expected << in.rdbuf();
  EXPECT_EQ(expected.str(), actual) << "differs from " << path;
}

}  // namespace rembiz::testing
