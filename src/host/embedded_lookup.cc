#include <algorithm>

#include "host/embedded_files.h"

namespace rembiz::host {

std::vector<EmbeddedFile> EmbeddedFilesUnder(std::string_view prefix) {
  std::vector<EmbeddedFile> out;
  for (const EmbeddedFile& file : EmbeddedFiles()) {
    if (file.path.substr(0, prefix.size()) == prefix) out.push_back(file);
  }
  std::sort(out.begin(), out.end(),
            [](const EmbeddedFile& a, const EmbeddedFile& b) { return a.path < b.path; });
  return out;
}

}  // namespace rembiz::host
