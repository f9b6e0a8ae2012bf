// The sockets of the HTTP service. One thread accepts the connections and reads every request
// whole - head and body - before a connection thread answers it, so a client that is slow or
// sends nothing holds no thread: it holds a connection, which ends when its request has not
// arrived within a deadline for the whole request (not per line), or when it waits too long
// for its next one. Connections are capped per client address and in all; the front answers
// the refusals it makes itself and logs what it cut.
#pragma once

#include <httplib.h>

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace rembiz::app {

struct FrontOptions {
  std::string host = "127.0.0.1";
  int port = 8080;                // 0: any free port
  size_t connection_threads = 8;  // threads answering complete requests
  int request_seconds = 10;       // the head and body of a request arrive within this
  int idle_seconds = 5;           // a kept-alive connection waits this long for the next
  int write_seconds = 10;         // the client takes an answer within this
  size_t max_connections = 512;   // open connections in all
  size_t per_client = 32;         // open connections per client address; 0: no cap
  size_t max_head = 32u << 10;    // request line and headers
  size_t max_body = 8u << 20;     // a body declared longer is refused with 413
  // Receipt uploads ("POST /api/receipts/…") may be this long instead; the account's own limit
  // is checked when the file has arrived.
  size_t max_upload = 24u << 20;
  size_t max_buffered = 64u << 20;   // bodies being read at once, all connections together
  size_t keep_alive_requests = 100;  // requests on one connection
};

class HttpFront {
 public:
  // Answers one complete request read from the stream (the service's router); returns false
  // when the connection must close, and sets `connection_closed` when the client asked for it.
  using Answer =
      std::function<bool(httplib::Stream& stream, bool close_connection, bool& connection_closed)>;
  // The body of a refusal the front makes itself (an error document) for the status, given the
  // head of the request as far as it arrived.
  using RefusalBody = std::function<std::string(int status, std::string_view head)>;

  HttpFront(FrontOptions options, Answer answer, RefusalBody refusal_body);
  HttpFront(const HttpFront&) = delete;
  HttpFront& operator=(const HttpFront&) = delete;
  ~HttpFront();

  // Binds the listening socket and returns its port; throws ComError when it cannot.
  int Bind();
  // Serves until Stop(); returns once the requests being answered have been answered.
  void Run();
  // Stops listening at once and ends Run; callable from any thread, also before Run.
  void Stop();

  size_t OpenConnections() const;
  const FrontOptions& Options() const;

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace rembiz::app
