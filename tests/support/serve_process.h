// A `rembiz serve` child process on a free local port, for the tests and the benchmarks that
// run several service processes on one database. Stopped (and waited for) when it goes out of
// scope, whatever happened meanwhile.
#pragma once

#include <httplib.h>
#include <sys/types.h>

#include <filesystem>
#include <string>

namespace rembiz::testing {

class ServeProcess {
 public:
  // Starts `program serve <data_args> --listen 127.0.0.1:0 --threads <threads>`, its output in
  // `log`, and waits until it names its port there; Port() is 0 when it did not start.
  ServeProcess(const std::string& program, const std::string& data_args,
               const std::filesystem::path& log, int threads = 4);
  ~ServeProcess();
  ServeProcess(const ServeProcess&) = delete;
  ServeProcess& operator=(const ServeProcess&) = delete;

  int Port() const { return port_; }
  // Ends the process at once (SIGKILL), as a crash or a power cut would: no clean stop.
  void Kill();

  // Posts a request document with the session of `token`.
  httplib::Result Post(const std::string& path, const std::string& body,
                       const std::string& token) const;
  // Logs `user` in with the password `user` (the demo's); "" when refused.
  std::string Login(const std::string& user) const;

 private:
  pid_t pid_ = -1;
  int port_ = 0;
};

// Whether a service answered a request document without an error.
bool Answered(const httplib::Result& r);

}  // namespace rembiz::testing
