// Golden files: an answer or a table rendered as text and compared with a file under tests/.
// REMBIZ_UPDATE_GOLDEN=1 writes the files instead of comparing (then review the diff).
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace rembiz::testing {

// `relative` is a path below tests/ ("ledger/golden/loan.txt").
inline void ExpectGolden(const std::string& relative, const std::string& actual) {
  std::filesystem::path path = std::filesystem::path(REMBIZ_SOURCE_DIR) / "tests" / relative;
  const char* update = std::getenv("REMBIZ_UPDATE_GOLDEN");
  if (update && std::string(update) == "1") {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << actual;
    return;
  }
  std::ifstream in(path, std::ios::binary);
  ASSERT_TRUE(in) << "missing golden file " << path << " (REMBIZ_UPDATE_GOLDEN=1 writes it)";
  std::stringstream expected;
  expected << in.rdbuf();
  EXPECT_EQ(actual, expected.str()) << "golden file " << path;
}

}  // namespace rembiz::testing
