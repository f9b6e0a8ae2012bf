// The command line of the rembiz program.
#pragma once

namespace rembiz::app {

// Exit codes: 0 success, 1 the operation failed (bad statement, error document), 2 usage.
int RunCli(int argc, char** argv);

}  // namespace rembiz::app
