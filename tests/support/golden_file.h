// Golden files: an answer compared as a whole with a file under tests/. Run a test binary with
// REMBIZ_UPDATE_GOLDEN=1 to write the files from the current answers, then read the diff.
#pragma once

#include <string>
#include <string_view>

#include "xml/document.h"

namespace rembiz::testing {

// The element and its children, one element per line, indented by two blanks.
std::string Pretty(const xml::Node& node);

// Expects `actual` to equal the file tests/<relative_path>.
void ExpectGolden(std::string_view relative_path, const std::string& actual);

}  // namespace rembiz::testing
