// The command line of the rembiz program.
#pragma once

#include <string>
#include <string_view>

namespace rembiz::app {

// The option that names a data location on the command line: "--data DIR" or "--db URL".
std::string DataOption(std::string_view location);

// Exit codes: 0 success, 1 the operation failed (bad statement, error document), 2 usage.
int RunCli(int argc, char** argv);

}  // namespace rembiz::app
