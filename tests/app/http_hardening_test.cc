// The service under hostile and careless clients: connections that send nothing or send slowly,
// too many connections from one address, password guessing, disabled users, bodies of any
// content type, documents that are not well-formed, and free queries that want every worker.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <spdlog/sinks/ringbuffer_sink.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/http_fixture.h"
#include "host/messages.h"

namespace rembiz::app {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using std::chrono::seconds;

// A TCP connection to the service from a chosen loopback address (127.0.0.0/8 is all local),
// so that tests can play several clients.
class RawClient {
 public:
  RawClient(const std::string& from, int port) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    inet_pton(AF_INET, from.c_str(), &local.sin_addr);
    sockaddr_in remote{};
    remote.sin_family = AF_INET;
    remote.sin_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET, "127.0.0.1", &remote.sin_addr);
    connected_ = ::bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0 &&
                 ::connect(fd_, reinterpret_cast<sockaddr*>(&remote), sizeof remote) == 0;
  }
  ~RawClient() { ::close(fd_); }
  RawClient(const RawClient&) = delete;
  RawClient& operator=(const RawClient&) = delete;

  bool Connected() const { return connected_; }
  bool Send(std::string_view text) {
    return ::send(fd_, text.data(), text.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(text.size());
  }
  // What arrives until the service closes the connection or the time is up.
  std::string Read(Clock::duration within) {
    std::string out;
    Clock::time_point end = Clock::now() + within;
    for (;;) {
      auto left = std::chrono::duration_cast<milliseconds>(end - Clock::now()).count();
      if (left <= 0) break;
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(left)) <= 0) break;
      char buf[4096];
      ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
      if (n <= 0) {
        closed_ = true;
        break;
      }
      out.append(buf, static_cast<size_t>(n));
    }
    return out;
  }
  bool Closed() const { return closed_; }

 private:
  int fd_ = -1;
  bool connected_ = false;
  bool closed_ = false;
};

class HttpHardeningTest : public LoggedHttpTest {
 protected:
  // Posts as a browser form would (curl --data-binary sends this content type).
  httplib::Result PostForm(const std::string& path, const std::string& body,
                           const std::string& token) {
    httplib::Headers headers{{"Authorization", "Bearer " + token}};
    return Client().Post(path.c_str(), headers, body, "application/x-www-form-urlencoded");
  }
};

TEST_F(HttpHardeningTest, SlowAndIdleConnectionsHoldNoThreadAndAreCut) {
  Start(/*threads=*/2, /*queue=*/4, [](ServeOptions& o) {
    o.request_seconds = 4;
    o.idle_seconds = 4;
  });
  std::string token = Login("demo", "demo");
  ASSERT_FALSE(token.empty());

  // 50 connections that send nothing and 50 that send a header line now and then, from ten
  // addresses; none of them ever completes a request.
  std::vector<std::unique_ptr<RawClient>> idle, slow;
  for (int i = 0; i < 50; ++i) {
    idle.push_back(std::make_unique<RawClient>("127.0.0." + std::to_string(2 + i % 5), port_));
    slow.push_back(std::make_unique<RawClient>("127.0.0." + std::to_string(7 + i % 5), port_));
    ASSERT_TRUE(idle.back()->Connected() && slow.back()->Connected());
    slow.back()->Send("POST /api/CPubMsg HTTP/1.1\r\nHost: x\r\n");
  }
  std::atomic<bool> trickling = true;
  std::thread trickle([&] {
    while (trickling) {
      for (auto& c : slow) c->Send("X-Slow: 1\r\n");
      std::this_thread::sleep_for(milliseconds(300));
    }
  });

  // The logged-in client is answered as if they were not there.
  Clock::duration slowest{};
  for (int i = 0; i < 10; ++i) {
    Clock::time_point start = Clock::now();
    httplib::Result r = Post("/api/CPubMsg", kCurrencies, token);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 200);
    httplib::Result health = Client().Get("/healthz");
    ASSERT_TRUE(health);
    EXPECT_EQ(health->status, 200);
    slowest = std::max(slowest, Clock::now() - start);
  }
  EXPECT_LT(slowest, seconds(1));
  EXPECT_GE(service_->OpenConnections(), 100u);

  // Past the deadline of the whole request the slow ones get 408 and the idle ones are closed.
  std::string answer = slow.front()->Read(seconds(8));
  EXPECT_EQ(answer.rfind("HTTP/1.1 408", 0), 0u) << answer;
  EXPECT_NE(answer.find("<id>Rembiz:serve:connection:408</id>"), std::string::npos) << answer;
  idle.front()->Read(seconds(4));
  EXPECT_TRUE(idle.front()->Closed());
  trickling = false;
  trickle.join();
  EXPECT_TRUE(Logged("cut a request: not complete within 4 s from 127.0.0.")) << "no cut logged";
}

TEST_F(HttpHardeningTest, ConnectionsAreCappedPerClientAddress) {
  Start(4, 16, [](ServeOptions& o) { o.per_client = 3; });
  std::vector<std::unique_ptr<RawClient>> held;
  for (int i = 0; i < 3; ++i) {
    held.push_back(std::make_unique<RawClient>("127.0.0.20", port_));
    ASSERT_TRUE(held.back()->Connected());
  }
  RawClient extra("127.0.0.20", port_);
  ASSERT_TRUE(extra.Connected());
  std::string answer = extra.Read(seconds(5));
  EXPECT_EQ(answer.rfind("HTTP/1.1 429", 0), 0u) << answer;
  EXPECT_NE(answer.find("<error>"), std::string::npos);

  // Another address is served, and a freed place is taken again.
  RawClient other("127.0.0.21", port_);
  other.Send("GET /healthz HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
  EXPECT_EQ(other.Read(seconds(5)).rfind("HTTP/1.1 200", 0), 0u);
  held.pop_back();
  std::string again;
  for (int i = 0; i < 50 && again.rfind("HTTP/1.1 200", 0) != 0; ++i) {
    std::this_thread::sleep_for(milliseconds(50));
    RawClient next("127.0.0.20", port_);
    next.Send("GET /healthz HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
    again = next.Read(seconds(5));
  }
  EXPECT_EQ(again.rfind("HTTP/1.1 200", 0), 0u) << again;
}

TEST_F(HttpHardeningTest, BodiesOfAnyContentTypeAreReadTheSameAndMustBeWellFormed) {
  Start();
  std::string token = Login("demo", "demo");
  ASSERT_FALSE(token.empty());
  // Larger than a form body may be, well within the body limit.
  std::string request =
      "<req><func name='currencyget'/><!-- " + std::string(20000, 'x') + " --></req>";
  httplib::Result r = PostForm("/api/CPubMsg", request, token);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 200) << r->body;
  EXPECT_NE(r->body.find("<rows>"), std::string::npos);
  // "a=1&b=2" stays a document (and is not one).
  EXPECT_EQ(PostForm("/api/CPubMsg", "a=1&b=2", token)->status, 400);

  for (const char* bad :
       {"<req/><req/>", "<req>&undefined;</req>", "<!DOCTYPE r [<!ENTITY x 'y'>]><req>&x;</req>"}) {
    r = Post("/api/CPubMsg", bad, token);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 400) << bad << r->body;
    EXPECT_NE(r->body.find("Rembiz:serve:CPubMsg:400"), std::string::npos) << r->body;
  }
}

TEST_F(HttpHardeningTest, GuessedPasswordsLockTheLogInAndAreLogged) {
  Start();
  for (int i = 0; i < 6; ++i) {
    httplib::Result r =
        Client().Post("/api/login", httplib::Params{{"user", "approver"}, {"password", "guess"}});
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 401) << i;
  }
  httplib::Result r =
      Client().Post("/api/login", httplib::Params{{"user", "approver"}, {"password", "approver"}});
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 429) << r->body;
  EXPECT_EQ(r->get_header_value("Retry-After"), "1");
  EXPECT_NE(r->body.find(host::MessageText("Rembiz.Host.LoginLocked", "zh-CN", "1")),
            std::string::npos)
      << r->body;
  EXPECT_TRUE(Logged("log-in guard: user approver locked for 1 s after 6 failed"));
}

TEST_F(HttpHardeningTest, ADisabledUsersSessionsEndAtTheirNextRequest) {
  Start();
  std::string token = Login("clerk", "clerk");
  ASSERT_FALSE(token.empty());
  ASSERT_EQ(Post("/api/CPubMsg", kCurrencies, token)->status, 200);
  Cn().Execute("update qdsystem..UA_User set bDisabled = 1 where cUser_Id = 'clerk'");
  EXPECT_EQ(Post("/api/CPubMsg", kCurrencies, token)->status, 401);
  Cn().Execute("update qdsystem..UA_User set bDisabled = 0 where cUser_Id = 'clerk'");
  EXPECT_EQ(Post("/api/CPubMsg", kCurrencies, token)->status, 401);  // ended, not paused
  EXPECT_EQ(SessionRows(token), 0);
  EXPECT_TRUE(Logged("session of clerk ended: the user is disabled"));
}

TEST_F(HttpHardeningTest, SlowFreeQueriesLeaveAWorkerForEveryoneElse) {
  Start(/*threads=*/2, /*queue=*/4, [](ServeOptions& o) { o.query_seconds = 3; });
  std::string a = Login("demo", "demo");
  std::string b = Login("clerk", "clerk");
  ASSERT_FALSE(a.empty() || b.empty());
  const std::string slow =
      "<req><func name='selectget'><in><sql>select count(*) as n from UA_Auth a, UA_Auth b, "
      "UA_Auth c, UA_Auth d, UA_Auth e, UA_Auth f, UA_Auth g</sql></in></func></req>";
  auto first = std::async(std::launch::async, [&] { return Post("/api/CPubMsg", slow, a); });
  std::this_thread::sleep_for(milliseconds(500));  // the first query is running by now

  Clock::time_point start = Clock::now();
  httplib::Result same = Post("/api/CPubMsg", slow, a);
  httplib::Result other = Post("/api/CPubMsg", slow, b);
  httplib::Result plain = Post("/api/CPubMsg", kCurrencies, b);
  EXPECT_LT(Clock::now() - start, seconds(2));
  ASSERT_TRUE(same && other && plain);
  EXPECT_NE(same->body.find("of this session is still running"), std::string::npos) << same->body;
  EXPECT_NE(other->body.find("Too many free queries"), std::string::npos) << other->body;
  EXPECT_NE(plain->body.find("<rows>"), std::string::npos) << plain->body;

  httplib::Result r = first.get();
  ASSERT_TRUE(r);
  EXPECT_NE(r->body.find("longer than its 3 seconds"), std::string::npos) << r->body;
}

}  // namespace
}  // namespace rembiz::app
