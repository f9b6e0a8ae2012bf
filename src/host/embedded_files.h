// Files compiled into the program: schema scripts, demo data and message texts, keyed by their
// path in the source tree ("schema/account/001/030_ec.sql").
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace rembiz::host {

struct EmbeddedFile {
  std::string_view path;
  std::string_view content;
};

// All embedded files, sorted by path.
const std::vector<EmbeddedFile>& EmbeddedFiles();

// Files whose path starts with `prefix`, in path order.
std::vector<EmbeddedFile> EmbeddedFilesUnder(std::string_view prefix);

}  // namespace rembiz::host
