#include "app/http_front.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <spdlog/spdlog.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

#include "app/worker_pool.h"
#include "db/error.h"
#include "db/text.h"

namespace rembiz::app {
namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kReadChunk = 64 * 1024;
// A refused connection is read (and what it sends dropped) this long before it is closed, so
// that the refusal is not lost to a reset.
constexpr auto kDrainTime = std::chrono::seconds(2);
constexpr std::string_view kContinue = "HTTP/1.1 100 Continue\r\n\r\n";

const char* Reason(int status) {
  switch (status) {
    case 400:
      return "Bad Request";
    case 408:
      return "Request Timeout";
    case 411:
      return "Length Required";
    case 413:
      return "Payload Too Large";
    case 429:
      return "Too Many Requests";
    case 431:
      return "Request Header Fields Too Large";
    default:
      return "Service Unavailable";
  }
}

int64_t Millis(Clock::duration d) {
  return std::max<int64_t>(0, std::chrono::ceil<std::chrono::milliseconds>(d).count());
}

// What the head of a request says about the request's length.
struct Head {
  size_t size = 0;  // through the blank line
  size_t content_length = 0;
  bool expects_continue = false;
  bool upload = false;  // a receipt upload, which may be longer than other bodies
  int refusal = 0;      // a status to refuse the request with; 0 when it may go on
};

// The head once it has arrived whole; nullopt while it has not.
std::optional<Head> ParseHead(std::string_view buffer, size_t max_head) {
  size_t end = buffer.find("\r\n\r\n");
  Head head;
  if (end == std::string_view::npos || end + 4 > max_head) {
    if (buffer.size() <= max_head) return std::nullopt;
    head.refusal = 431;
    return head;
  }
  head.size = end + 4;
  head.upload = buffer.starts_with("POST /api/receipts/");
  bool has_length = false;
  for (size_t pos = buffer.find("\r\n") + 2; pos < end;) {
    size_t eol = buffer.find("\r\n", pos);
    std::string_view line = buffer.substr(pos, eol - pos);
    pos = eol + 2;
    size_t colon = line.find(':');
    if (colon == std::string_view::npos) continue;
    std::string name = db::Lower(db::Trim(line.substr(0, colon)));
    std::string value = db::Trim(line.substr(colon + 1));
    if (name == "transfer-encoding") {
      // Only declared lengths are read: a chunked body would escape the limits.
      head.refusal = 411;
      return head;
    }
    if (name == "content-length") {
      bool digits =
          !value.empty() && value.size() <= 15 &&
          std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; });
      size_t length = digits ? std::stoull(value) : 0;
      if (!digits || (has_length && length != head.content_length)) {
        head.refusal = 400;
        return head;
      }
      has_length = true;
      head.content_length = length;
    } else if (name == "expect") {
      head.expects_continue = db::Lower(value) == "100-continue";
    }
  }
  return head;
}

struct Connection {
  enum class State { kReading, kBusy, kDraining };

  int fd = -1;
  std::string client;  // the peer's address
  int client_port = 0;
  State state = State::kReading;
  std::string buffer;  // what has arrived and is not answered yet
  std::optional<Head> head;
  bool started = false;  // part of a request has arrived
  bool continue_sent = false;
  size_t reserved = 0;  // body bytes counted against the buffered budget
  size_t served = 0;
  Clock::time_point deadline;
};

// One complete request, read from the connection's buffer; the answer goes to the socket, which
// must take it within the write deadline.
class RequestStream : public httplib::Stream {
 public:
  RequestStream(Connection& c, size_t size, Clock::time_point deadline)
      : c_(c), size_(size), deadline_(deadline) {}

  bool is_readable() const override { return pos_ < size_; }
  bool is_writable() const override { return !failed_ && Clock::now() < deadline_; }

  ssize_t read(char* ptr, size_t size) override {
    size_t n = std::min(size, size_ - pos_);
    std::memcpy(ptr, c_.buffer.data() + pos_, n);
    pos_ += n;
    return static_cast<ssize_t>(n);
  }

  ssize_t write(const char* ptr, size_t size) override {
    // The front told the client to go on while the body arrived; once is enough.
    if (c_.continue_sent && std::string_view(ptr, size) == kContinue) {
      return static_cast<ssize_t>(size);
    }
    size_t sent = 0;
    while (sent < size && !failed_) {
      ssize_t n = ::send(c_.fd, ptr + sent, size - sent, MSG_NOSIGNAL);
      if (n > 0) {
        sent += static_cast<size_t>(n);
      } else if (n < 0 && errno == EINTR) {
        continue;
      } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        Clock::duration left = deadline_ - Clock::now();
        if (left <= Clock::duration::zero()) {
          failed_ = true;
          break;
        }
        pollfd p{c_.fd, POLLOUT, 0};
        ::poll(&p, 1, static_cast<int>(std::min<int64_t>(Millis(left), 1000)));
      } else {
        failed_ = true;
      }
    }
    return failed_ ? -1 : static_cast<ssize_t>(size);
  }

  void get_remote_ip_and_port(std::string& ip, int& port) const override {
    ip = c_.client;
    port = c_.client_port;
  }
  void get_local_ip_and_port(std::string& ip, int& port) const override {
    sockaddr_storage addr{};
    socklen_t len = sizeof addr;
    ip.clear();
    port = 0;
    if (getsockname(c_.fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) return;
    char host[NI_MAXHOST], service[NI_MAXSERV];
    if (getnameinfo(reinterpret_cast<sockaddr*>(&addr), len, host, sizeof host, service,
                    sizeof service, NI_NUMERICHOST | NI_NUMERICSERV) == 0) {
      ip = host;
      port = std::atoi(service);
    }
  }
  socket_t socket() const override { return c_.fd; }

  bool Failed() const { return failed_; }

 private:
  Connection& c_;
  size_t size_;
  size_t pos_ = 0;
  Clock::time_point deadline_;
  bool failed_ = false;
};

}  // namespace

class HttpFront::Impl {
 public:
  Impl(FrontOptions options, Answer answer, RefusalBody refusal_body)
      : options_(std::move(options)),
        answer_(std::move(answer)),
        refusal_body_(std::move(refusal_body)),
        threads_(std::max<size_t>(options_.connection_threads, 1), options_.max_connections + 1) {
    wake_fd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wake_fd_ < 0) throw ComError(static_cast<int32_t>(0x80004005), "No event descriptor.");
  }

  ~Impl() {
    threads_.Shutdown();
    for (auto& [fd, c] : connections_) ::close(fd);
    if (listen_fd_ >= 0) ::close(listen_fd_);
    ::close(wake_fd_);
  }

  int Bind() {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE;
    addrinfo* found = nullptr;
    std::string port = std::to_string(options_.port);
    const char* host = options_.host.empty() ? nullptr : options_.host.c_str();
    if (getaddrinfo(host, port.c_str(), &hints, &found) == 0) {
      for (addrinfo* a = found; a && listen_fd_ < 0; a = a->ai_next) {
        int fd =
            ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0) continue;
        // Quick restarts, but no shared port: a second service on it must fail to start.
        int yes = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        if (::bind(fd, a->ai_addr, a->ai_addrlen) == 0 && ::listen(fd, 1024) == 0) {
          listen_fd_ = fd;
        } else {
          ::close(fd);
        }
      }
      freeaddrinfo(found);
    }
    if (listen_fd_ < 0) {
      throw ComError(
          static_cast<int32_t>(0x80004005),
          "Cannot listen on " + options_.host + ":" + std::to_string(options_.port) + ".",
          "Rembiz.Serve");
    }
    sockaddr_storage addr{};
    socklen_t len = sizeof addr;
    getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&addr)->sin6_port
                                             : reinterpret_cast<sockaddr_in*>(&addr)->sin_port);
    return port_;
  }

  void Run() {
    if (listen_fd_ < 0 || stopping_) return;
    Loop();
    threads_.Shutdown();
  }

  void Stop() {
    stopping_ = true;
    // No new connections from here on, also before the loop notices.
    int fd = listen_fd_;
    if (fd >= 0) ::shutdown(fd, SHUT_RDWR);
    Wake();
  }

  size_t OpenConnections() const { return open_; }
  const FrontOptions& Options() const { return options_; }

 private:
  void Wake() {
    uint64_t one = 1;
    ssize_t ignored = ::write(wake_fd_, &one, sizeof one);
    (void)ignored;
  }

  void Loop() {
    std::vector<pollfd> polled;
    std::vector<Connection*> owners;
    for (;;) {
      Clock::time_point now = Clock::now();
      TakeReturned(now);
      if (stopping_) {
        // What is only read or drained ends now; what is being answered is answered.
        std::vector<int> idle;
        for (auto& [fd, c] : connections_) {
          if (c->state != Connection::State::kBusy) idle.push_back(fd);
        }
        for (int fd : idle) Close(fd);
        if (busy_ == 0) return;
      }
      polled.clear();
      owners.clear();
      polled.push_back({wake_fd_, POLLIN, 0});
      owners.push_back(nullptr);
      if (!stopping_ && now >= accept_paused_until_) {
        polled.push_back({listen_fd_, POLLIN, 0});
        owners.push_back(nullptr);
      }
      Clock::time_point next = now + std::chrono::seconds(1);
      for (auto& [fd, c] : connections_) {
        if (c->state == Connection::State::kBusy) continue;
        polled.push_back({fd, POLLIN, 0});
        owners.push_back(c.get());
        next = std::min(next, c->deadline);
      }
      int rc = ::poll(polled.data(), polled.size(), static_cast<int>(Millis(next - now)));
      if (rc < 0 && errno != EINTR) {
        spdlog::error("the service's poll failed: {}", std::strerror(errno));
        return;
      }
      now = Clock::now();
      if (polled[0].revents & POLLIN) {
        uint64_t count;
        ssize_t ignored = ::read(wake_fd_, &count, sizeof count);
        (void)ignored;
      }
      for (size_t i = 1; i < polled.size(); ++i) {
        if (!polled[i].revents) continue;
        if (!owners[i]) {
          Accept(now);
        } else {
          Readable(*owners[i], now);
        }
      }
      Expire(now);
    }
  }

  void Accept(Clock::time_point now) {
    for (;;) {
      sockaddr_storage addr{};
      socklen_t len = sizeof addr;
      int fd = accept4(listen_fd_, reinterpret_cast<sockaddr*>(&addr), &len,
                       SOCK_NONBLOCK | SOCK_CLOEXEC);
      if (fd < 0) {
        if (errno == EINTR || errno == ECONNABORTED) continue;
        if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
          // Out of descriptors: wait a little instead of spinning on the listener.
          Cut("-", "new connections: no file descriptors left");
          accept_paused_until_ = now + std::chrono::milliseconds(100);
        }
        return;
      }
      int yes = 1;
      setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
      auto c = std::make_unique<Connection>();
      c->fd = fd;
      char host[NI_MAXHOST] = "", service[NI_MAXSERV] = "";
      getnameinfo(reinterpret_cast<sockaddr*>(&addr), len, host, sizeof host, service,
                  sizeof service, NI_NUMERICHOST | NI_NUMERICSERV);
      c->client = host;
      c->client_port = std::atoi(service);
      c->deadline = now + std::chrono::seconds(options_.idle_seconds);
      Connection& added = *c;
      connections_[fd] = std::move(c);
      ++per_client_[added.client];
      open_ = connections_.size();
      if (connections_.size() > options_.max_connections) {
        // Past the hard limit even a refusal is too much.
        if (connections_.size() > options_.max_connections + 64) {
          Cut(added.client, "a connection: the service holds too many");
          Close(fd);
        } else {
          Refuse(added, 503, "a connection: the service holds too many", now);
        }
      } else if (options_.per_client > 0 && per_client_[added.client] > options_.per_client) {
        Refuse(added, 429, "a connection: too many from this address", now);
      }
    }
  }

  void Readable(Connection& c, Clock::time_point now) {
    char chunk[kReadChunk];
    for (;;) {
      ssize_t n = ::recv(c.fd, chunk, sizeof chunk, 0);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
      if (n <= 0) {  // the client closed, or the connection broke
        Close(c.fd);
        return;
      }
      if (c.state == Connection::State::kDraining) continue;
      c.buffer.append(chunk, static_cast<size_t>(n));
      if (!c.started) {
        c.started = true;
        c.deadline = now + std::chrono::seconds(options_.request_seconds);
      }
      if (!Progress(c, now)) return;
    }
  }

  // Looks at what has arrived: true while more of the request is to come; false when the
  // request went to a connection thread or was refused.
  bool Progress(Connection& c, Clock::time_point now) {
    if (!c.head) {
      std::optional<Head> head = ParseHead(c.buffer, options_.max_head);
      if (!head) return true;
      if (head->refusal == 431) {
        Refuse(c, 431, "a request: its head is too large", now);
        return false;
      }
      if (head->refusal) {
        Refuse(c, head->refusal, "a request: its length is not declared plainly", now);
        return false;
      }
      if (head->content_length > (head->upload ? options_.max_upload : options_.max_body)) {
        Refuse(c, 413, "a request: its body is too large", now);
        return false;
      }
      if (buffered_ + head->content_length > options_.max_buffered) {
        Refuse(c, 503, "a request: too many bodies arriving at once", now);
        return false;
      }
      c.reserved = head->content_length;
      buffered_ += c.reserved;
      c.head = head;
    }
    if (c.buffer.size() < c.head->size + c.head->content_length) {
      if (c.head->expects_continue && !c.continue_sent) {
        ssize_t ignored = ::send(c.fd, kContinue.data(), kContinue.size(), MSG_NOSIGNAL);
        (void)ignored;
        c.continue_sent = true;
      }
      return true;
    }
    c.state = Connection::State::kBusy;
    ++busy_;
    Connection* busy = &c;
    if (!threads_.TrySubmit([this, busy] { Serve(*busy); })) {
      // Only while stopping: the connection ends unanswered.
      --busy_;
      Close(c.fd);
    }
    return false;
  }

  // On a connection thread: answers the complete request at the start of the buffer.
  void Serve(Connection& c) {
    size_t size = c.head->size + c.head->content_length;
    bool last = stopping_ || c.served + 1 >= options_.keep_alive_requests;
    RequestStream stream(c, size, Clock::now() + std::chrono::seconds(options_.write_seconds));
    bool closed = false;
    bool ok = false;
    try {
      ok = answer_(stream, last, closed);
    } catch (const std::exception& e) {
      spdlog::error("request from {} failed: {}", c.client, e.what());
    }
    ++c.served;
    c.buffer.erase(0, size);
    bool keep = ok && !closed && !last && !stream.Failed();
    {
      std::lock_guard lock(returned_mutex_);
      returned_.emplace_back(c.fd, keep);
    }
    Wake();
  }

  void TakeReturned(Clock::time_point now) {
    std::vector<std::pair<int, bool>> returned;
    {
      std::lock_guard lock(returned_mutex_);
      returned.swap(returned_);
    }
    for (auto [fd, keep] : returned) {
      Connection& c = *connections_.at(fd);
      --busy_;
      buffered_ -= c.reserved;
      c.reserved = 0;
      c.head.reset();
      c.continue_sent = false;
      c.state = Connection::State::kReading;
      if (!keep || stopping_) {
        Close(fd);
        continue;
      }
      // A request sent right behind the last one is already (partly) here.
      c.started = !c.buffer.empty();
      c.deadline =
          now + std::chrono::seconds(c.started ? options_.request_seconds : options_.idle_seconds);
      if (c.started) Progress(c, now);
    }
  }

  void Expire(Clock::time_point now) {
    std::vector<Connection*> due;
    for (auto& [fd, c] : connections_) {
      if (c->state != Connection::State::kBusy && c->deadline <= now) due.push_back(c.get());
    }
    for (Connection* c : due) {
      if (c->state == Connection::State::kReading && c->started) {
        Refuse(*c, 408,
               "a request: not complete within " + std::to_string(options_.request_seconds) + " s",
               now);
      } else {
        Close(c->fd);  // idle, or drained long enough
      }
    }
  }

  // Answers the status itself and closes the connection once the client stops sending.
  void Refuse(Connection& c, int status, const std::string& what, Clock::time_point now) {
    Cut(c.client, what);
    size_t head_end = c.buffer.find("\r\n\r\n");
    std::string_view head(c.buffer);
    head = head.substr(
        0, std::min(head_end == std::string::npos ? head.size() : head_end, options_.max_head));
    std::string body = refusal_body_(status, head);
    std::string response = "HTTP/1.1 " + std::to_string(status) + " " + Reason(status) +
                           "\r\nContent-Type: application/xml; charset=utf-8\r\nContent-Length: " +
                           std::to_string(body.size()) +
                           "\r\nConnection: close\r\nCache-Control: no-store\r\n"
                           "X-Content-Type-Options: nosniff\r\n" +
                           (status == 503 || status == 429 ? "Retry-After: 1\r\n" : "") + "\r\n" +
                           body;
    // Small enough for the socket's buffer; what does not fit is dropped.
    ssize_t ignored = ::send(c.fd, response.data(), response.size(), MSG_NOSIGNAL);
    (void)ignored;
    ::shutdown(c.fd, SHUT_WR);
    buffered_ -= c.reserved;
    c.reserved = 0;
    c.buffer.clear();
    c.buffer.shrink_to_fit();
    c.state = Connection::State::kDraining;
    c.deadline = now + kDrainTime;
  }

  void Close(int fd) {
    auto it = connections_.find(fd);
    if (it == connections_.end()) return;
    auto count = per_client_.find(it->second->client);
    if (count != per_client_.end() && --count->second == 0) per_client_.erase(count);
    buffered_ -= it->second->reserved;
    ::close(fd);
    connections_.erase(it);
    open_ = connections_.size();
  }

  // Logs a cut connection; a flood of them is summed up instead of logged line by line.
  void Cut(const std::string& client, const std::string& what) {
    Clock::time_point now = Clock::now();
    if (now - last_cut_logged_ < std::chrono::seconds(1)) {
      ++cuts_not_logged_;
      return;
    }
    spdlog::warn("cut {} from {}{}", what, client,
                 cuts_not_logged_ ? " (and " + std::to_string(cuts_not_logged_) +
                                        " more cuts in the second before)"
                                  : "");
    last_cut_logged_ = now;
    cuts_not_logged_ = 0;
  }

  const FrontOptions options_;
  const Answer answer_;
  const RefusalBody refusal_body_;
  std::atomic<int> listen_fd_ = -1;
  int wake_fd_ = -1;
  int port_ = 0;
  std::atomic<bool> stopping_ = false;
  std::atomic<size_t> open_ = 0;

  // Owned by the loop's thread; a busy connection's fields belong to its connection thread.
  std::map<int, std::unique_ptr<Connection>> connections_;
  std::map<std::string, size_t> per_client_;
  size_t busy_ = 0;
  size_t buffered_ = 0;
  Clock::time_point accept_paused_until_{};
  Clock::time_point last_cut_logged_{};
  size_t cuts_not_logged_ = 0;

  std::mutex returned_mutex_;
  std::vector<std::pair<int, bool>> returned_;  // fd, keep the connection

  WorkerPool threads_;
};

HttpFront::HttpFront(FrontOptions options, Answer answer, RefusalBody refusal_body)
    : impl_(
          std::make_unique<Impl>(std::move(options), std::move(answer), std::move(refusal_body))) {}
HttpFront::~HttpFront() = default;
int HttpFront::Bind() { return impl_->Bind(); }
void HttpFront::Run() { impl_->Run(); }
void HttpFront::Stop() { impl_->Stop(); }
size_t HttpFront::OpenConnections() const { return impl_->OpenConnections(); }
const FrontOptions& HttpFront::Options() const { return impl_->Options(); }

}  // namespace rembiz::app
