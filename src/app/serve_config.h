// The service's configuration file (`rembiz serve --config /etc/rembiz/rembiz.toml`): the same
// settings as the command line's flags, which win over the file where both are given.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "app/http_service.h"
#include "app/log_format.h"

namespace rembiz::app {

// Settings the file may hold besides ServeOptions.
struct ServeExtras {
  std::string listen;  // "host:port"
  LogFormat log_format = LogFormat::kText;
};

// Reads `path` into `options` and `extras`, leaving alone every setting whose flag
// (`--threads`, …) `given` says was on the command line. A missing file, a syntax error, an
// unknown key or a value of the wrong kind throws std::runtime_error naming the file, line and
// key.
void ReadServeConfig(const std::string& path, ServeOptions& options, ServeExtras& extras,
                     const std::function<bool(std::string_view flag)>& given);

}  // namespace rembiz::app
