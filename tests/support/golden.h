// Golden files: an answer compared with the text stored under tests/<subsystem>/golden/. Run a
// test with REMBIZ_UPDATE_GOLDEN=1 to write the files anew, then review them with git diff.
#pragma once

#include <string>
#include <string_view>

#include "xml/document.h"

namespace rembiz::testing {

// The answer without its row versions (ts='…' / ts="…"), which move whenever data is added
// elsewhere, one element per line so that a difference reads well.
std::string StableXml(std::string_view xml);

// Compares StableXml(actual) with the golden file (relative to tests/), or writes it.
void ExpectGolden(std::string_view relative_path, std::string_view actual);

// The element and its children, one element per line, indented by two blanks.
std::string Pretty(const xml::Node& node);

// The same for a text that is no XML (a table of lines, say): compared as it is.
void ExpectGoldenText(std::string_view relative_path, std::string_view actual);

}  // namespace rembiz::testing
