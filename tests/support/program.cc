#include "support/program.h"

#include <sys/wait.h>

#include <array>
#include <cstdio>

namespace rembiz::testing {

ProgramResult RunCommand(const std::string& command) {
  ProgramResult result;
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (!pipe) {
    result.out = "cannot run: " + command;
    return result;
  }
  std::array<char, 4096> buf;
  while (size_t n = fread(buf.data(), 1, buf.size(), pipe)) result.out.append(buf.data(), n);
  const int status = pclose(pipe);
  result.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

std::string Rembiz(const std::string& args) { return std::string(REMBIZ_BIN) + " " + args; }

}  // namespace rembiz::testing
