// The console page of the HTTP service: log in, pick a class, start from an example request of
// each operation family, send it and read the answer pretty-printed.
#pragma once

#include <string_view>

namespace rembiz::app {

extern const std::string_view kConsoleHtml;
extern const std::string_view kConsoleCss;
extern const std::string_view kConsoleJs;

}  // namespace rembiz::app
