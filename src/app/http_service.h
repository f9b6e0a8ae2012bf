// `rembiz serve`: the business classes over HTTP. Pages, scripts and other services log in,
// then post a request document to /api/<Class> and get the answered document back: one
// myHandle call per HTTP request, on a worker thread with its own connection.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace rembiz::app {

struct ServeOptions {
  std::string data_dir = "rembiz-data";  // a data folder or a database URL
  std::string host = "127.0.0.1";
  int port = 8080;             // 0: any free port (see HttpService::Bind)
  size_t threads = 0;          // workers running business calls; 0: one per core, at least 2
  size_t queue = 0;            // calls that may wait for a worker; 0: four per worker
  int idle_minutes = 30;       // a session ends after this long without a request
  size_t max_body = 8u << 20;  // larger request bodies are refused with 413
  // Sessions as rows of UA_Session (token hash only), shared by every service process on the
  // database; false: in this process only.
  bool record_sessions = true;
};

class HttpService {
 public:
  explicit HttpService(ServeOptions options);
  HttpService(const HttpService&) = delete;
  HttpService& operator=(const HttpService&) = delete;
  ~HttpService();

  // Binds the listening socket and returns its port; throws ComError when it cannot.
  int Bind();
  // Serves until Stop(); returns once the requests in flight have been answered.
  void Run();
  // Ends Run; callable from any thread, also before Run has started listening.
  void Stop();

  // Business calls waiting for a worker right now.
  size_t WaitingCalls() const;
  const ServeOptions& Options() const;

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

// The `rembiz serve` command: serves until SIGINT or SIGTERM, then finishes the requests in
// flight. Returns the exit code.
int RunServe(const ServeOptions& options);

}  // namespace rembiz::app
