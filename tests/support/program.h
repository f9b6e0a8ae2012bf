// Running a program from a test: a shell command line, its output (standard output and standard
// error together) and its exit code, and the rembiz program under test.
#pragma once

#include <string>

namespace rembiz::testing {

struct ProgramResult {
  int code = -1;  // the exit code; -1 when the program did not end normally
  std::string out;
};

// Runs `command` through the shell and waits for it.
ProgramResult RunCommand(const std::string& command);

// The command line of the rembiz program built with the tests, followed by `args` (which the
// caller quotes for the shell).
std::string Rembiz(const std::string& args);

}  // namespace rembiz::testing
