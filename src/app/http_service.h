// `rembiz serve`: the business classes over HTTP. Pages, scripts and other services log in,
// then post a request document to /api/<Class> and get the answered document back: one
// myHandle call per HTTP request, on a worker thread with its own connection.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "app/outbox.h"

namespace rembiz::app {

struct ServeOptions {
  std::string data_dir = "rembiz-data";  // a data folder or a database URL
  // A PostgreSQL standby of data_dir's server: requests that only read go there (lists, reports,
  // free queries), everything else and whatever it cannot serve to data_dir. Empty: none.
  std::string read_db;
  std::string host = "127.0.0.1";
  int port = 8080;                // 0: any free port (see HttpService::Bind)
  size_t threads = 0;             // workers running business calls; 0: one per core, at least 2
  size_t queue = 0;               // calls that may wait for a worker; 0: four per worker
  int idle_minutes = 30;          // a session ends after this long without a request
  size_t max_body = 8u << 20;     // larger request bodies are refused with 413
  size_t max_upload = 24u << 20;  // the same for receipt uploads (the account limits each file)
  // Sessions as rows of UA_Session (token hash only), shared by every service process on the
  // database; false: in this process only.
  bool record_sessions = true;
  // Connections (see HttpFront): a request's head and body arrive within request_seconds, a
  // kept-alive connection waits idle_seconds for its next one; open connections are capped in
  // all and per client address (0: no cap per address).
  int request_seconds = 10;
  int idle_seconds = 5;
  size_t max_connections = 512;
  size_t per_client = 32;
  // Free queries (selectget, refercheck, …): their time budget, and the rows and bytes of one
  // answer. At most one runs per session, and one worker always stays free of them.
  int query_seconds = 5;
  size_t query_rows = 50'000;
  size_t query_bytes = 16u << 20;
  // Reminders of overdue and soon-due loans: at start and then once a day, in every account of
  // the year whose automatic alerts are on.
  bool reminders = true;
  // Notice mails and webhook events: the sender thread and the mail server.
  OutboxOptions outbox;
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
  // Connections open right now (being read, answered or refused).
  size_t OpenConnections() const;
  const ServeOptions& Options() const;

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

// The `rembiz serve` command: serves until SIGINT or SIGTERM, then finishes the requests in
// flight. Returns the exit code.
int RunServe(const ServeOptions& options);

}  // namespace rembiz::app
