#include "app/http_service.h"

#include <httplib.h>
#include <pthread.h>
#include <spdlog/spdlog.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <future>
#include <limits>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <ostream>
#include <random>
#include <streambuf>
#include <string_view>
#include <thread>
#include <vector>

#include "app/app_pages.h"
#include "app/cli.h"
#include "app/console_page.h"
#include "app/http_front.h"
#include "app/log_format.h"
#include "app/metrics.h"
#include "app/receipt_reader.h"
#include "app/remind_command.h"
#include "app/report_command.h"
#include "app/session_store.h"
#include "app/worker_pool.h"
#include "db/connection.h"
#include "db/connection_string.h"
#include "db/error.h"
#include "db/text.h"
#include "frame/convert.h"
#include "frame/registry.h"
#include "host/database_setup.h"
#include "host/errors.h"
#include "host/local_session.h"
#include "host/login_guard.h"
#include "host/messages.h"
#include "host/read_replica.h"
#include "host/schema_versions.h"
#include "receipts/c_receipt.h"
#include "receipts/uploads.h"
#include "voucher/receipts.h"
#include "xml/document.h"
#include "xml/escape.h"

namespace rembiz::app {
namespace {

using db::Trim;

using httplib::Request;
using httplib::Response;
using Clock = std::chrono::steady_clock;

constexpr char kXmlType[] = "application/xml; charset=utf-8";
constexpr char kCookieName[] = "rembiz_session";
constexpr char kClassPrefix[] = "Rembiz.";
// Seconds a caller is asked to wait before trying again while the database is out of reach.
constexpr char kDatabaseRetrySeconds[] = "5";
// A receipt goes to the client in pieces of this size.
constexpr size_t kReceiptPiece = 256 * 1024;

// What the access log says about the request being answered on this thread. httplib reads,
// routes, answers and logs one request on one thread, so a thread-local record is enough.
struct RequestLog {
  Clock::time_point start;
  bool started = false;
  std::string class_name;
  std::string operations;
  std::string outcome;
  std::string request_id;
};
thread_local RequestLog t_log;

// The caller's X-Request-Id when it is a plain token (a proxy's id then runs through both logs),
// otherwise one made here: a tag of this process and a counter.
std::string RequestIdOf(const Request& req) {
  std::string given = req.get_header_value("X-Request-Id");
  bool plain = !given.empty() && given.size() <= 64;
  for (char c : given) {
    plain = plain && (std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' ||
                      c == '.' || c == ':');
  }
  if (plain) return given;
  static const uint32_t process_tag = std::random_device{}();
  static std::atomic<uint64_t> counter = 0;
  char id[32];
  std::snprintf(id, sizeof id, "%08x-%06llx", process_tag,
                static_cast<unsigned long long>(++counter));
  return id;
}

// Request data in a log line: printable, one line, not too long.
std::string LogSafe(std::string_view text) {
  std::string out(text.substr(0, 200));
  for (char& c : out) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
  }
  return text.size() > 200 ? out + "…" : out;
}

std::string ErrorXml(std::string_view what, int status, std::string_view text) {
  return "<?xml version='1.0' encoding='utf-8'?><error><id>Rembiz:serve:" + xml::XmlEscape(what) +
         ":" + std::to_string(status) + "</id><text>" + xml::XmlEscape(text) + "</text></error>";
}

// A file name for Content-Disposition's filename* (RFC 5987): unreserved bytes as they are.
std::string PercentEncoded(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

void Refuse(Response& res, int status, std::string_view what, const std::string& text) {
  res.status = status;
  res.set_content(ErrorXml(what, status, text), kXmlType);
  t_log.outcome = "refused";
}

// The database is out of reach: the caller may try again shortly; what the driver said (servers,
// files) goes to the log only.
void NoDatabase(Response& res, std::string_view what, const std::string& language,
                std::string_view detail) {
  spdlog::warn("{}: the database cannot be reached: {}", what, LogSafe(detail));
  Refuse(res, 503, what, host::MessageText("Rembiz.Host.DatabaseUnreachable", language));
  res.set_header("Retry-After", kDatabaseRetrySeconds);
  t_log.outcome = "no-database";
}

// The language of texts for a caller without a session: English when it asks for it first.
std::string LanguageOf(std::string_view accept_language) {
  return Trim(accept_language).rfind("en", 0) == 0 ? "en-US" : "zh-CN";
}

std::string RequestLanguage(const Request& req) {
  return LanguageOf(req.get_header_value("Accept-Language"));
}

// The same from the raw head of a request that is refused before it is parsed.
std::string HeadLanguage(std::string_view head) {
  std::string lower = db::Lower(head);
  size_t at = lower.find("\r\naccept-language:");
  if (at == std::string::npos) return "zh-CN";
  size_t from = at + 18;
  return LanguageOf(head.substr(from, head.find("\r\n", from) - from));
}

// An ostream's buffer over a C file (a spool file of an answer).
class SpoolBuffer : public std::streambuf {
 public:
  explicit SpoolBuffer(std::FILE* file) : file_(file) {}

 protected:
  int_type overflow(int_type c) override {
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    return std::fputc(c, file_) == EOF ? traits_type::eof() : c;
  }
  std::streamsize xsputn(const char* data, std::streamsize n) override {
    return static_cast<std::streamsize>(std::fwrite(data, 1, static_cast<size_t>(n), file_));
  }

 private:
  std::FILE* file_;
};

// How much of a report's answer goes out in one chunk.
constexpr size_t kReportPiece = 64 << 10;

// httplib's router and handlers, answering requests the front has read whole.
class Router : public httplib::Server {
 public:
  // The router never listens, and httplib takes a server without a listening socket for one
  // shutting down: it would end an answer given by a content provider before its first byte.
  // The sentinel is never a socket of this process that httplib closes (it closes only what
  // listen() opened).
  Router() { svr_sock_ = std::numeric_limits<int>::max(); }

  bool Answer(httplib::Stream& stream, bool close_connection, bool& connection_closed) {
    return process_request(stream, close_connection, connection_closed, nullptr);
  }
};

// The session token of a request: a bearer token, the X-Rembiz-Session header or the cookie.
std::string RequestToken(const Request& req) {
  std::string auth = req.get_header_value("Authorization");
  if (auth.rfind("Bearer ", 0) == 0) return Trim(std::string_view(auth).substr(7));
  if (req.has_header("X-Rembiz-Session")) return Trim(req.get_header_value("X-Rembiz-Session"));
  std::string header = req.get_header_value("Cookie");
  std::string_view cookies = header;
  std::string_view name = kCookieName;
  while (!cookies.empty()) {
    size_t end = cookies.find(';');
    std::string pair = Trim(cookies.substr(0, end));
    if (pair.size() > name.size() && pair.compare(0, name.size(), name) == 0 &&
        pair[name.size()] == '=') {
      return pair.substr(name.size() + 1);
    }
    if (end == std::string_view::npos) break;
    cookies.remove_prefix(end + 1);
  }
  return {};
}

// The operation names of a request, for the log: names only, and not too many of them.
std::string OperationNames(const xml::Document& request) {
  std::string names;
  int count = 0;
  for (const xml::Node& func : request.SelectNodes("//func")) {
    if (++count > 8) {
      names += ",…";
      break;
    }
    std::string name = func.Attr("name").substr(0, 40);
    if (!db::IsSqlName(name)) name = "?";
    names += (names.empty() ? "" : ",") + name;
  }
  return names;
}

std::string SessionXml(const host::LocalSession& s, std::string_view token, int idle_minutes) {
  auto attr = [](std::string_view name, std::string_view value) {
    return " " + std::string(name) + "=\"" + xml::XmlEscape(value) + "\"";
  };
  std::string out = "<?xml version='1.0' encoding='utf-8'?><session";
  if (!token.empty()) out += attr("token", token);
  out += attr("user", s.UserId()) + attr("userName", s.UserName()) +
         attr("account", s.AccountId()) + attr("accountName", s.AccountName()) +
         attr("year", s.FiscalYear()) + attr("language", s.LanguageId()) +
         attr("loginDate", s.LoginDate()) + attr("idleMinutes", std::to_string(idle_minutes)) +
         "/>";
  return out;
}

// A login field: a form field, or an attribute of the <login/> document.
struct LoginFields {
  std::string user, password, account, year, language;
};

bool ReadLoginFields(const Request& req, LoginFields& fields, std::string& parse_error) {
  if (req.get_header_value("Content-Type").rfind("application/x-www-form-urlencoded", 0) == 0) {
    fields.user = req.get_param_value("user");
    fields.password = req.get_param_value("password");
    fields.account = req.get_param_value("account");
    fields.year = req.get_param_value("year");
    fields.language = req.get_param_value("language");
    return true;
  }
  if (Trim(req.body).empty()) return true;
  xml::Document doc;
  if (!doc.LoadXml(req.body) || doc.DocumentElement().IsNull()) {
    parse_error = doc.ParseError();
    return false;
  }
  xml::Node login = doc.DocumentElement();
  fields.user = login.Attr("user");
  fields.password = login.Attr("password");
  fields.account = login.Attr("account");
  fields.year = login.Attr("year");
  fields.language = login.Attr("language");
  return true;
}

// Languages are short tags such as "zh-CN"; anything else falls back to the default.
bool IsLanguageTag(std::string_view text) {
  return !text.empty() && text.size() <= 10 && std::all_of(text.begin(), text.end(), [](char c) {
    return std::isalpha(static_cast<unsigned char>(c)) || c == '-';
  });
}

std::string CookieHeader(const Request& req, std::string_view value, bool clear) {
  std::string cookie =
      std::string(kCookieName) + "=" + std::string(value) + "; Path=/; HttpOnly; SameSite=Strict";
  if (clear) cookie += "; Max-Age=0";
  // Behind a TLS proxy the cookie never travels in the clear.
  if (req.get_header_value("X-Forwarded-Proto") == "https") cookie += "; Secure";
  return cookie;
}

}  // namespace

class HttpService::Impl {
 public:
  explicit Impl(ServeOptions options)
      : options_(Normalized(std::move(options))),
        dir_(DataDirOf(options_)),
        sessions_(options_.record_sessions
                      ? SessionStore(std::chrono::minutes(options_.idle_minutes), dir_)
                      : SessionStore(std::chrono::minutes(options_.idle_minutes))),
        pool_(options_.threads, options_.queue),
        front_(
            FrontOptionsOf(options_),
            [this](httplib::Stream& stream, bool close, bool& closed) {
              return router_.Answer(stream, close, closed);
            },
            [this](int status, std::string_view head) { return RefusalBody(status, head); }),
        saved_limits_(db::GetReadOnlyLimits()) {
    db::ReadOnlyLimits limits = saved_limits_;
    limits.seconds = options_.query_seconds;
    limits.max_rows = options_.query_rows;
    limits.max_bytes = options_.query_bytes;
    // Free queries never take the last worker: other work always finds one.
    limits.max_running = std::max<size_t>(1, options_.threads - 1);
    db::SetReadOnlyLimits(limits);
    host::LoginGuard::SetReporter(
        [](const std::string& report) { spdlog::warn("log-in guard: {}", report); });
    SetUpRouter();
  }

  ~Impl() {
    host::LoginGuard::SetReporter(nullptr);
    db::SetReadOnlyLimits(saved_limits_);
  }

  int Bind() { return front_.Bind(); }

  void Run() {
    {
      std::lock_guard lock(run_mutex_);
      if (stop_requested_) return;
    }
    std::thread janitor([this] { SweepRegularly(); });
    std::thread reminder([this] {
      if (options_.reminders) RemindDaily();
    });
    front_.Run();  // returns when stopped and every request being answered is answered
    pool_.Shutdown();
    {
      std::lock_guard lock(run_mutex_);
      stop_requested_ = true;
    }
    run_state_.notify_all();
    janitor.join();
    reminder.join();
  }

  void Stop() {
    {
      std::lock_guard lock(run_mutex_);
      stop_requested_ = true;
    }
    run_state_.notify_all();
    front_.Stop();
  }

  size_t WaitingCalls() const { return pool_.Waiting(); }
  size_t OpenConnections() const { return front_.OpenConnections(); }
  const ServeOptions& Options() const { return options_; }

 private:
  static host::DataDir DataDirOf(const ServeOptions& options) {
    host::DataDir dir(options.data_dir);
    if (!options.read_db.empty()) dir.SetReadReplica(options.read_db);
    return dir;
  }

  static ServeOptions Normalized(ServeOptions options) {
    if (options.threads == 0) {
      options.threads = std::max<size_t>(2, std::thread::hardware_concurrency());
    }
    if (options.queue == 0) options.queue = options.threads * 4;
    options.idle_minutes = std::max(options.idle_minutes, 1);
    options.request_seconds = std::max(options.request_seconds, 1);
    options.idle_seconds = std::max(options.idle_seconds, 1);
    options.query_seconds = std::max(options.query_seconds, 1);
    return options;
  }

  static FrontOptions FrontOptionsOf(const ServeOptions& options) {
    FrontOptions front;
    front.host = options.host;
    front.port = options.port;
    // Every call that may wait for a worker has its connection thread, and two more answer
    // /healthz, the console and the refusals while all of them wait.
    front.connection_threads = options.threads + options.queue + 2;
    front.request_seconds = options.request_seconds;
    front.idle_seconds = options.idle_seconds;
    front.max_connections = options.max_connections;
    front.per_client = options.per_client;
    front.max_body = options.max_body;
    front.max_upload = options.max_upload;
    return front;
  }

  // The error document of a refusal the front makes itself.
  std::string RefusalBody(int status, std::string_view head) const {
    std::string language = HeadLanguage(head);
    std::string text;
    switch (status) {
      case 408:
        text = host::MessageText("Rembiz.Host.HttpTimeout", language,
                                 std::to_string(options_.request_seconds));
        break;
      case 413:
        text = host::MessageText("Rembiz.Host.HttpTooLarge", language,
                                 std::to_string(options_.max_body));
        break;
      case 429:
        text = host::MessageText("Rembiz.Host.HttpTooManyConnections", language);
        break;
      case 431:
        text = host::MessageText("Rembiz.Host.HttpHeadTooLarge", language,
                                 std::to_string(front_.Options().max_head));
        break;
      case 503:
        text = host::MessageText("Rembiz.Host.HttpBusy", language);
        break;
      default:
        text = host::MessageText("Rembiz.Host.HttpBadRequest", language);
    }
    return ErrorXml("connection", status, text);
  }

  void SetUpRouter() {
    // The front reads whole requests within their limits; this is a second line.
    router_.set_payload_max_length(std::max(options_.max_body, options_.max_upload));
    router_.set_default_headers({{"X-Content-Type-Options", "nosniff"},
                                 {"Cache-Control", "no-store"},
                                 {"Referrer-Policy", "no-referrer"},
                                 {"X-Frame-Options", "DENY"}});

    router_.set_pre_routing_handler([](const Request& req, Response& res) {
      t_log = RequestLog{Clock::now(), true, {}, {}, {}, RequestIdOf(req)};
      res.set_header("X-Request-Id", t_log.request_id);
      // A page of another site may not change anything here with the user's cookie.
      if (!OriginAllowed(req)) {
        Refuse(res, 403, "request",
               host::MessageText("Rembiz.Host.HttpCrossOrigin", RequestLanguage(req)));
        return httplib::Server::HandlerResponse::Handled;
      }
      return httplib::Server::HandlerResponse::Unhandled;
    });
    // Answers httplib made itself (no route, body too large, broken request) as error documents.
    router_.set_error_handler(
        httplib::Server::HandlerWithResponse([this](const Request& req, Response& res) {
          if (!res.body.empty()) return httplib::Server::HandlerResponse::Unhandled;
          std::string language = RequestLanguage(req);
          std::string text;
          if (res.status == 404) {
            text = host::MessageText("Rembiz.Host.HttpNoPath", language, req.path);
          } else if (res.status == 413) {
            text = host::MessageText("Rembiz.Host.HttpTooLarge", language,
                                     std::to_string(options_.max_body));
          } else {
            text = host::MessageText("Rembiz.Host.HttpBadRequest", language);
          }
          res.set_content(ErrorXml("request", res.status, text), kXmlType);
          if (t_log.outcome.empty()) t_log.outcome = "refused";
          return httplib::Server::HandlerResponse::Handled;
        }));
    router_.set_exception_handler([](const Request& req, Response& res,
                                     const std::exception_ptr& ep) {
      std::string what = "unknown exception";
      try {
        std::rethrow_exception(ep);
      } catch (const std::exception& e) {
        if (db::IsDatabaseUnreachable(e)) {
          return NoDatabase(res, "request", RequestLanguage(req), e.what());
        }
        what = e.what();
      } catch (...) {
      }
      spdlog::error("{} {} failed: {} id={}", LogSafe(req.method), LogSafe(req.path), what,
                    t_log.request_id);
      res.status = 500;
      res.set_content(ErrorXml("request", 500,
                               host::MessageText("Rembiz.Host.HttpFailed", RequestLanguage(req))),
                      kXmlType);
      t_log.outcome = "failed";
    });
    router_.set_logger([this](const Request& req, const Response& res) {
      double ms =
          t_log.started
              ? std::chrono::duration<double, std::milli>(Clock::now() - t_log.start).count()
              : 0.0;
      std::string class_name = t_log.class_name.empty() ? "-" : t_log.class_name;
      std::string operations = t_log.operations.empty() ? "-" : t_log.operations;
      std::string outcome =
          t_log.outcome.empty() ? (res.status < 400 ? "ok" : "refused") : t_log.outcome;
      metrics_.Observe(class_name, operations, res.status, outcome, ms / 1000);
      LogFields fields({{"remote", req.remote_addr},
                        {"method", LogSafe(req.method)},
                        {"path", LogSafe(req.path)},
                        {"status", std::to_string(res.status)},
                        {"class", class_name},
                        {"ops", LogSafe(operations)},
                        {"ms", fmt::format("{:.1f}", ms)},
                        {"outcome", outcome},
                        {"request_id", t_log.request_id}});
      spdlog::info("{} {} {} {} class={} ops={} {:.1f}ms {} id={}", req.remote_addr,
                   LogSafe(req.method), LogSafe(req.path), res.status, class_name, operations, ms,
                   outcome, t_log.request_id);
      t_log = RequestLog{};
    });

    router_.Get("/", [](const Request&, Response& res) {
      res.set_header("Content-Security-Policy",
                     "default-src 'self'; img-src 'self' data:; frame-ancestors 'none'; "
                     "base-uri 'none'; form-action 'self'");
      res.set_content(std::string(kConsoleHtml), "text/html; charset=utf-8");
    });
    router_.Get("/console.css", [](const Request&, Response& res) {
      res.set_content(std::string(kConsoleCss), "text/css; charset=utf-8");
    });
    router_.Get("/console.js", [](const Request&, Response& res) {
      res.set_content(std::string(kConsoleJs), "text/javascript; charset=utf-8");
    });
    AddAppPages(router_);
    router_.Get("/healthz", [this](const Request&, Response& res) {
      res.set_content("{\"status\":\"ok\",\"sessions\":" + std::to_string(sessions_.Size()) +
                          ",\"workers\":" + std::to_string(pool_.Threads()) +
                          ",\"waiting\":" + std::to_string(pool_.Waiting()) +
                          ",\"connections\":" + std::to_string(front_.OpenConnections()) + "}",
                      "application/json");
    });
    // Ready for work: the database answers. (/healthz only says the process is alive.)
    router_.Get("/readyz", [this](const Request& req, Response& res) { Ready(req, res); });
    router_.Get("/metrics", [this](const Request&, Response& res) {
      res.set_content(metrics_.Render(Gauges()), "text/plain; version=0.0.4; charset=utf-8");
    });
    router_.Post("/api/login", [this](const Request& req, Response& res) { Login(req, res); });
    router_.Post("/api/logout", [this](const Request& req, Response& res) { Logout(req, res); });
    router_.Get("/api/session", [this](const Request& req, Response& res) {
      auto session = FindLive(RequestToken(req));
      if (!session) return NoSession(req, res, "session");
      res.set_content(SessionXml(*session, "", options_.idle_minutes), kXmlType);
    });
    router_.Get("/api/classes", [this](const Request& req, Response& res) {
      if (!FindLive(RequestToken(req))) return NoSession(req, res, "classes");
      std::string out = "<?xml version='1.0' encoding='utf-8'?><classes>";
      for (const std::string& prog_id : frame::RegisteredClasses()) {
        if (prog_id.rfind(kClassPrefix, 0) != 0) continue;
        out += "<class name=\"" + xml::XmlEscape(prog_id.substr(sizeof kClassPrefix - 1)) + "\"/>";
      }
      res.set_content(out + "</classes>", kXmlType);
    });
    router_.Get(R"(/api/report/([a-z]{1,20}))",
                [this](const Request& req, Response& res) { Report(req, res); });
    // Receipts: a file added to a voucher's row (multipart/form-data, part "file", ?row=n), a
    // voucher's receipts, and one receipt's bytes (?view=thumb for its thumbnail, ?view=page for
    // what the viewer shows: a PDF's first page).
    router_.Post(R"(/api/receipts/(\{?[A-Fa-f0-9-]{36}\}?))",
                 [this](const Request& req, Response& res, const httplib::ContentReader& read) {
                   UploadReceipt(req, res, read);
                 });
    router_.Get(R"(/api/receipts/(\{?[A-Fa-f0-9-]{36}\}?))",
                [this](const Request& req, Response& res) { ListReceipts(req, res); });
    router_.Get(R"(/api/receipt/(\{?[A-Fa-f0-9-]{36}\}?))",
                [this](const Request& req, Response& res) { ReceiptFile(req, res); });
    // Whatever its content type - `curl --data-binary` sends a form type - the body is the
    // request document, read as it is and never parsed as form fields. (httplib tries these
    // handlers before the others: log-in and log-out are left to theirs.)
    router_.Post(R"(/api/(?!login$|logout$)([A-Za-z_][A-Za-z0-9_]{0,63}))",
                 [this](const Request& req, Response& res, const httplib::ContentReader& read) {
                   std::string body;
                   if (!req.is_multipart_form_data()) {
                     read([&](const char* data, size_t size) {
                       body.append(data, size);
                       return true;
                     });
                   }
                   Call(req, res, body);
                 });
  }

  std::vector<Metrics::Gauge> Gauges() const {
    db::ConnectionPoolStats pool = db::ConnectionPoolNow();
    host::ReplicaReads replica = host::ReplicaReadsSoFar();
    auto count = [](size_t n) { return static_cast<double>(n); };
    return {
        {"rembiz_sessions", "Sessions open in this process.", count(sessions_.Size())},
        {"rembiz_workers", "Workers running business calls.", count(pool_.Threads())},
        {"rembiz_workers_busy", "Workers running a call right now.", count(pool_.Busy())},
        {"rembiz_queue_length", "Calls waiting for a worker.", count(pool_.Waiting())},
        {"rembiz_queue_limit", "Calls that may wait for a worker.", count(pool_.QueueLimit())},
        {"rembiz_connections_open", "HTTP connections open.", count(front_.OpenConnections())},
        {"rembiz_db_connections_in_use", "Database connections checked out.", count(pool.in_use)},
        {"rembiz_db_connections_idle", "Database connections idle in the pool.", count(pool.idle)},
        {"rembiz_replica_reads_total", "Requests that only read, tried on the read replica.",
         static_cast<double>(replica.tried), "counter"},
        {"rembiz_replica_fallbacks_total",
         "Of those, answered by the primary: the replica was down or could not serve them.",
         static_cast<double>(replica.fell_back), "counter"},
    };
  }

  // 200 when every database answers and is at this release's schema version, 503 (with the
  // reason, never the driver's text) when one does not answer or another release changed it.
  void Ready(const Request& req, Response& res) {
    try {
      {
        db::Connection cn;
        cn.Open(dir_.SystemConnectionString());
        cn.Execute("select 1");
      }
      for (const host::DatabaseVersion& d : host::SchemaVersions(dir_)) {
        if (d.version == d.latest) continue;
        spdlog::warn("readyz: {} has schema version {}, this release needs {}", d.database,
                     d.version, d.latest);
        res.status = 503;
        nlohmann::json body = {
            {"status", "unavailable"},
            {"reason", host::MessageText("Rembiz.Host.SchemaNotCurrent", RequestLanguage(req))}};
        res.set_content(body.dump(), "application/json");
        t_log.outcome = "schema-not-current";
        return;
      }
      res.set_content("{\"status\":\"ready\"}", "application/json");
    } catch (const std::exception& e) {
      spdlog::warn("readyz: the database cannot be reached: {}", LogSafe(e.what()));
      res.status = 503;
      res.set_header("Retry-After", kDatabaseRetrySeconds);
      nlohmann::json body = {
          {"status", "unavailable"},
          {"reason", host::MessageText("Rembiz.Host.DatabaseUnreachable", RequestLanguage(req))}};
      res.set_content(body.dump(), "application/json");
      t_log.outcome = "no-database";
    }
  }

  void NoSession(const Request& req, Response& res, std::string_view what) {
    Refuse(res, 401, what, host::MessageText("Rembiz.Host.HttpNoSession", RequestLanguage(req)));
  }
  void Busy(Response& res, std::string_view what, std::string_view language) {
    Refuse(res, 503, what, host::MessageText("Rembiz.Host.HttpBusy", language));
    res.set_header("Retry-After", "1");
  }

  // Runs the work on a business worker and waits for it; false when the queue is full.
  // A failure of the work is thrown again here.
  template <class Work>
  bool RunOnWorker(Work&& work) {
    std::packaged_task<void()> task(std::forward<Work>(work));
    std::future<void> done = task.get_future();
    if (!pool_.TrySubmit([&task] { task(); })) return false;
    done.get();
    return true;
  }

  // The token's session, or null: unknown, idle too long, or its operator was disabled
  // meanwhile - then the session ends here, at its next request.
  std::shared_ptr<const host::LocalSession> FindLive(const std::string& token) {
    std::string disabled;
    std::shared_ptr<const host::LocalSession> session = sessions_.Find(token, &disabled);
    if (!disabled.empty()) LogDisabled(disabled);
    return session;
  }

  // A copy of the token's session for one request, or null like FindLive.
  std::unique_ptr<host::LocalSession> CheckoutLive(const Request& req, const std::string& token) {
    std::string disabled;
    std::unique_ptr<host::LocalSession> session = sessions_.Checkout(token, &disabled);
    if (!disabled.empty()) LogDisabled(disabled);
    if (session) session->SetClientAddress(req.remote_addr);
    return session;
  }

  static void LogDisabled(const std::string& user) {
    spdlog::warn("session of {} ended: the user is disabled", LogSafe(user));
  }

  void Call(const Request& req, Response& res, const std::string& body) {
    std::string class_name = req.matches[1];
    t_log.class_name = class_name;
    std::string token = RequestToken(req);
    std::unique_ptr<host::LocalSession> session = CheckoutLive(req, token);
    if (!session) return NoSession(req, res, class_name);
    std::string language = session->LanguageId();
    std::string prog_id = kClassPrefix + class_name;
    if (!frame::IsRegistered(prog_id)) {
      return Refuse(res, 404, class_name,
                    host::MessageText("Rembiz.Host.HttpNoClass", language, class_name));
    }
    xml::Document request;
    if (!request.LoadXml(body) || request.DocumentElement().IsNull()) {
      return Refuse(res, 400, class_name,
                    host::MessageText("Rembiz.Host.HttpNotXml", language, request.ParseError()));
    }
    t_log.operations = OperationNames(request);

    std::string answer, outcome;
    bool accepted = RunOnWorker([&] {
      // The session's free queries run one at a time.
      db::ReadOnlyOwner owner(SessionStore::HashToken(token));
      bool was_error = request.DocumentElement().Name() == "error";
      frame::CreateObject(prog_id)->myHandle(session.get(), request);
      if (!was_error && request.DocumentElement().Name() == "error") {
        outcome = "error-document";
      } else if (!request.SelectNodes("//func/out/error | //func/out/err").empty()) {
        outcome = "operation-error";
      } else {
        outcome = "ok";
      }
      answer = request.Xml();
    });
    if (!accepted) return Busy(res, class_name, language);
    t_log.outcome = outcome;
    res.set_content(answer, kXmlType);
  }

  // GET /api/report/<kind>?filter=…&format=csv|json: the report engine's detail rows.
  void Report(const Request& req, Response& res) {
    std::string kind_name = req.matches[1];
    t_log.class_name = "report/" + kind_name;
    std::string token = RequestToken(req);
    std::unique_ptr<host::LocalSession> session = CheckoutLive(req, token);
    if (!session) return NoSession(req, res, "report");
    std::string language = session->LanguageId();
    const ReportKind* kind = FindReportKind(kind_name);
    if (!kind) {
      return Refuse(res, 404, "report",
                    host::MessageText("Rembiz.Host.HttpNoPath", language, req.path));
    }
    std::string format = req.has_param("format") ? req.get_param_value("format") : "csv";
    if (format != "csv" && format != "json") {
      return Refuse(res, 400, "report", host::MessageText("Rembiz.Host.HttpBadRequest", language));
    }
    // The rows are written to a spool file as the engine reads them, on the worker: a refused
    // filter or one stopped at its bound is still answered with its status before any byte
    // goes out. The file then goes out in chunks as the client takes it, without a worker, and
    // is gone with the answer; memory holds a row and a chunk, whatever the report's length.
    std::shared_ptr<std::FILE> spool(std::tmpfile(), [](std::FILE* f) {
      if (f) std::fclose(f);
    });
    if (!spool) {
      spdlog::error("report/{}: no temporary file for the answer", kind_name);
      return Refuse(res, 500, "report", host::MessageText("Rembiz.Host.HttpFailed", language));
    }
    std::string type, refusal;
    std::optional<std::string> unreachable;
    int status = 200;
    bool accepted = RunOnWorker([&] {
      db::ReadOnlyOwner owner(SessionStore::HashToken(token));  // the filter is free SQL
      try {
        SpoolBuffer buffer(spool.get());
        std::ostream out(&buffer);
        WriteReportAnswer(*session, *kind, req.get_param_value("filter"), format, out, &type);
        out.flush();
        if (!out || std::fflush(spool.get()) != 0) {
          throw ComError(static_cast<int32_t>(0x80004005), "Cannot write the report's answer.",
                         "Rembiz.Report");
        }
      } catch (const ComError& e) {
        // A filter the engine refuses or cannot run is the caller's; anything else is ours.
        // (A filter stopped at its time bound, or refused while others run, is the caller's
        // to narrow or send again.)
        bool callers = e.Number() == db::kErrStatement || e.Number() == db::kErrInvalidRequest ||
                       e.Number() == kErrBusiness || e.Number() == db::kErrTimeout;
        if (db::IsDatabaseUnreachable(e)) {
          unreachable = e.Description();
          return;
        }
        status = callers ? 400 : 500;
        refusal = e.Description();
      }
    });
    if (!accepted) return Busy(res, "report", language);
    if (unreachable) return NoDatabase(res, "report", language, *unreachable);
    if (status != 200) return Refuse(res, status, "report", refusal);
    t_log.outcome = "ok";
    if (format == "csv") {
      res.set_header("Content-Disposition",
                     "attachment; filename=\"" + std::string(kind->name) + ".csv\"");
    }
    std::rewind(spool.get());
    res.set_chunked_content_provider(type, [spool](size_t, httplib::DataSink& sink) {
      char piece[kReportPiece];
      size_t read = std::fread(piece, 1, sizeof piece, spool.get());
      if (read > 0) return sink.write(piece, read);
      if (std::ferror(spool.get())) return false;
      sink.done();
      return true;
    });
  }

  // Runs `work` on a worker with a connection of the session's account database (and its
  // language), in one transaction when `write`. Answers the refusal itself and returns false when
  // the work did not succeed.
  template <class Work>
  bool ReceiptWork(Response& res, host::LocalSession& session, bool write, Work&& work) {
    std::string refusal;
    std::optional<std::string> unreachable;
    int status = 200;
    bool accepted = RunOnWorker([&] {
      host::SetCurrentLanguage(session.LanguageId());
      try {
        db::Connection cn;
        cn.Open(session.ConnectionString());
        if (!write) return work(cn);
        cn.BeginTrans();
        try {
          work(cn);
          cn.CommitTrans();
        } catch (...) {
          cn.RollbackTrans();
          throw;
        }
      } catch (const ComError& e) {
        if (db::IsDatabaseUnreachable(e)) {
          unreachable = e.Description();
          return;
        }
        // What the caller can mend is the caller's; a receipt not found is not found.
        status = e.Number() == kErrBusiness ? 400 : 500;
        refusal = e.Description();
      }
    });
    const std::string language = session.LanguageId();
    if (!accepted) {
      Busy(res, "receipts", language);
      return false;
    }
    if (unreachable) {
      NoDatabase(res, "receipts", language, *unreachable);
      return false;
    }
    if (status != 200) {
      Refuse(res, status, "receipts", refusal);
      return false;
    }
    return true;
  }

  void UploadReceipt(const Request& req, Response& res, const httplib::ContentReader& read) {
    t_log.class_name = "receipts";
    const std::string token = RequestToken(req);
    std::unique_ptr<host::LocalSession> session = CheckoutLive(req, token);
    if (!session) return NoSession(req, res, "receipts");
    const std::string language = session->LanguageId();
    const std::string bad = host::MessageText("Rembiz.Host.HttpBadRequest", language);
    if (!req.is_multipart_form_data()) return Refuse(res, 400, "receipts", bad);
    // One part named "file"; its bytes are the only copy of the file this request holds.
    std::string file_name, bytes;
    int files = 0;
    bool in_file = false;
    read(
        [&](const httplib::MultipartFormData& part) {
          in_file = part.name == "file";
          if (in_file) {
            ++files;
            file_name = part.filename;
          }
          return files <= 1;
        },
        [&](const char* data, size_t size) {
          if (in_file) bytes.append(data, size);
          return true;
        });
    int row = 0;
    if (req.has_param("row")) {
      const std::string text = req.get_param_value("row");
      if (text.empty() || text.size() > 4 ||
          text.find_first_not_of("0123456789") != std::string::npos) {
        return Refuse(res, 400, "receipts", bad);
      }
      row = std::stoi(text);
    }
    if (files != 1) return Refuse(res, 400, "receipts", bad);
    const std::string voucher_guid = req.matches[1];
    std::string answer, receipt_guid;
    if (!ReceiptWork(res, *session, true, [&](db::Connection& cn) {
          voucher::Receipt added =
              receipts::AddUploadedReceipt(*session, cn, voucher_guid, row, file_name, bytes);
          receipt_guid = added.guid;
          answer = receipts::ReceiptXml(added);
        })) {
      return;
    }
    // Read after the commit, never inside the request.
    reader_.Enqueue(session->ConnectionString(), receipt_guid);
    t_log.outcome = "ok";
    res.set_content(answer, kXmlType);
  }

  void ListReceipts(const Request& req, Response& res) {
    t_log.class_name = "receipts";
    const std::string token = RequestToken(req);
    std::unique_ptr<host::LocalSession> session = CheckoutLive(req, token);
    if (!session) return NoSession(req, res, "receipts");
    const std::string voucher_guid = req.matches[1];
    std::string answer;
    std::vector<std::string> waiting;
    if (!ReceiptWork(res, *session, false, [&](db::Connection& cn) {
          answer = receipts::ReceiptsXml(*session, cn, voucher_guid, &waiting);
        })) {
      return;
    }
    // Receipts whose reading was lost (a full queue, a stop) are read now.
    for (const std::string& guid : waiting) reader_.Enqueue(session->ConnectionString(), guid);
    t_log.outcome = "ok";
    res.set_content(answer, kXmlType);
  }

  void ReceiptFile(const Request& req, Response& res) {
    t_log.class_name = "receipts";
    const std::string token = RequestToken(req);
    std::unique_ptr<host::LocalSession> session = CheckoutLive(req, token);
    if (!session) return NoSession(req, res, "receipts");
    const std::string receipt_guid = req.matches[1];
    const std::string view = req.has_param("view") ? req.get_param_value("view") : "file";
    if (view != "file" && view != "thumb" && view != "page") {
      return Refuse(res, 400, "receipts",
                    host::MessageText("Rembiz.Host.HttpBadRequest", session->LanguageId()));
    }
    // Shown, never run: a file may be what its uploader made it, so it gets no rights of a page.
    res.set_header("Content-Security-Policy", "default-src 'none'; sandbox");
    const auto disposition = [&](const std::string& file_name) {
      res.set_header("Content-Disposition",
                     std::string(req.has_param("download") ? "attachment" : "inline") +
                         "; filename*=UTF-8''" + PercentEncoded(file_name));
    };
    if (view == "file") {
      // The file itself goes out a piece at a time as the client takes it, read from the
      // database on a connection of its own once the rights were checked.
      voucher::ReceiptFileInfo info;
      if (!ReceiptWork(res, *session, false, [&](db::Connection& cn) {
            info = voucher::ReadableReceipt(*session, cn, receipt_guid, false);
          })) {
        return;
      }
      t_log.outcome = "ok";
      disposition(info.file_name);
      auto cn = std::make_shared<db::Connection>();
      const std::string connection_string = session->ConnectionString();
      res.set_content_provider(static_cast<size_t>(info.size), info.mime,
                               [cn, connection_string, receipt_guid](size_t offset, size_t length,
                                                                     httplib::DataSink& sink) {
                                 std::string piece;
                                 try {
                                   if (!cn->IsOpen()) cn->Open(connection_string);
                                   cn->ReadBytesRange(
                                       voucher::kReceiptFiles, voucher::kReceiptContent, "GUID",
                                       receipt_guid, static_cast<int64_t>(offset),
                                       std::min<size_t>(length, kReceiptPiece), piece);
                                 } catch (const ComError& e) {
                                   spdlog::warn("receipt {}: {}", receipt_guid, e.Description());
                                   return false;
                                 }
                                 // A receipt removed meanwhile ends the answer short; the client
                                 // sees it broken off.
                                 return !piece.empty() && sink.write(piece.data(), piece.size());
                               });
      return;
    }
    voucher::ReceiptBytes file;
    if (!ReceiptWork(res, *session, false, [&](db::Connection& cn) {
          file = view == "page" ? receipts::ReceiptForViewing(*session, cn, receipt_guid)
                                : voucher::ReadReceipt(*session, cn, receipt_guid, true);
        })) {
      return;
    }
    t_log.outcome = "ok";
    disposition(file.file_name);
    // Moved, not copied: the answer holds the only copy of the image.
    res.body = std::move(file.bytes);
    res.set_header("Content-Type", file.mime);
  }

  void Login(const Request& req, Response& res) {
    LoginFields fields;
    std::string parse_error;
    if (!ReadLoginFields(req, fields, parse_error)) {
      return Refuse(res, 400, "login",
                    host::MessageText("Rembiz.Host.HttpNotXml", RequestLanguage(req), parse_error));
    }
    host::SessionRequest request;
    request.user = fields.user;
    request.account = fields.account.empty() ? "001" : fields.account;
    request.year = fields.year;
    request.language = IsLanguageTag(fields.language) ? fields.language : RequestLanguage(req);
    request.client = req.remote_addr;
    t_log.operations = "user=" + (db::IsSqlName(fields.user) ? fields.user : "?");
    // A locked user or client is refused before any worker hashes a password.
    if (int wait = host::LoginGuard(dir_.SystemConnectionString())
                       .WaitSeconds(fields.user, request.client)) {
      Refuse(res, 429, "login",
             host::MessageText("Rembiz.Host.LoginLocked", request.language, std::to_string(wait)));
      res.set_header("Retry-After", std::to_string(wait));
      return;
    }

    // Password hashing is deliberately slow: it runs on a worker like any business call.
    std::shared_ptr<const host::LocalSession> session;
    std::string refusal;
    std::optional<std::string> unreachable;
    bool accepted = RunOnWorker([&] {
      try {
        session = host::LocalSession::Login(dir_, request, fields.password);
      } catch (const ComError& e) {
        if (db::IsDatabaseUnreachable(e)) {
          unreachable = e.Description();
          return;
        }
        if (e.Source() != "Rembiz.Login") throw;
        refusal = e.Description();
      }
    });
    if (!accepted) return Busy(res, "login", request.language);
    if (unreachable) return NoDatabase(res, "login", request.language, *unreachable);
    if (!session) return Refuse(res, 401, "login", refusal);

    std::string token;
    try {
      token = sessions_.Add(session, req.remote_addr);
      sessions_.Sweep();
    } catch (const ComError& e) {
      if (db::IsDatabaseUnreachable(e)) {
        return NoDatabase(res, "login", request.language, e.Description());
      }
      spdlog::error("session not kept: {}", e.Description());
      return Refuse(res, 500, "login",
                    host::MessageText("Rembiz.Host.HttpFailed", request.language));
    }
    res.set_header("Set-Cookie", CookieHeader(req, token, false));
    res.set_content(SessionXml(*session, token, options_.idle_minutes), kXmlType);
  }

  void Logout(const Request& req, Response& res) {
    std::string token = RequestToken(req);
    if (!sessions_.Remove(token)) return NoSession(req, res, "logout");
    res.set_header("Set-Cookie", CookieHeader(req, "", true));
    res.set_content("<?xml version='1.0' encoding='utf-8'?><logout/>", kXmlType);
  }

  // Ends idle sessions once a minute, also when nobody logs in.
  void SweepRegularly() {
    std::unique_lock lock(run_mutex_);
    while (!stop_requested_) {
      run_state_.wait_for(lock, std::chrono::minutes(1));
      if (stop_requested_) break;
      lock.unlock();
      try {
        sessions_.Sweep();
      } catch (const ComError& e) {
        spdlog::warn("idle sessions not ended: {}", e.Description());
      }
      lock.lock();
    }
  }

  // Reminds the loans at start and then each day a few minutes after midnight, local time.
  void RemindDaily() {
    std::unique_lock lock(run_mutex_);
    while (!stop_requested_) {
      lock.unlock();
      try {
        RemindAccounts(dir_, RemindCommand{},
                       [](const std::string& account, const std::string& year,
                          const loan::ReminderRun* run, const std::string& error) {
                         if (!run) {
                           spdlog::warn("loan reminders of account {} ({}) failed: {}", account,
                                        year, error);
                         } else if (run->reminded > 0) {
                           spdlog::info("loan reminders of account {} ({}): {} loans, {} notices",
                                        account, year, run->reminded, run->notices);
                         }
                       });
      } catch (const ComError& e) {
        spdlog::warn("loan reminders not run: {}", e.Description());
      }
      lock.lock();
      std::time_t now = std::time(nullptr);
      std::tm local{};
      localtime_r(&now, &local);
      local.tm_mday += 1;
      local.tm_hour = 0;
      local.tm_min = 5;
      local.tm_sec = 0;
      local.tm_isdst = -1;
      auto next = std::chrono::system_clock::from_time_t(std::mktime(&local));
      run_state_.wait_until(lock, next, [this] { return stop_requested_; });
    }
  }

  const ServeOptions options_;
  const host::DataDir dir_;
  Metrics metrics_;
  SessionStore sessions_;
  WorkerPool pool_;
  Router router_;
  HttpFront front_;
  const db::ReadOnlyLimits saved_limits_;
  ReceiptReader reader_;
  OutboxSender sender_{dir_, options_.outbox};

  std::mutex run_mutex_;
  std::condition_variable run_state_;
  bool stop_requested_ = false;
};

HttpService::HttpService(ServeOptions options)
    : impl_(std::make_unique<Impl>(std::move(options))) {}
HttpService::~HttpService() = default;
int HttpService::Bind() { return impl_->Bind(); }
void HttpService::Run() { impl_->Run(); }
void HttpService::Stop() { impl_->Stop(); }
size_t HttpService::WaitingCalls() const { return impl_->WaitingCalls(); }
size_t HttpService::OpenConnections() const { return impl_->OpenConnections(); }
const ServeOptions& HttpService::Options() const { return impl_->Options(); }

int RunServe(const ServeOptions& options) {
  // SIGINT and SIGTERM are blocked in every thread (threads inherit the mask) and taken by
  // one waiting thread, which stops the service; in-flight requests still finish.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  // An inherited "ignore" would discard them before the waiting thread sees them.
  signal(SIGINT, SIG_DFL);
  signal(SIGTERM, SIG_DFL);

  host::DataDir dir(options.data_dir);
  try {
    if (!options.read_db.empty()) dir.SetReadReplica(options.read_db);
  } catch (const ComError& e) {
    spdlog::error("{}", e.Description());
    return 1;
  }
  if (!dir.HasSystemDatabase()) {
    spdlog::error("no databases in {}: create them with `rembiz init {} --demo`", dir.Describe(),
                  DataOption(options.data_dir));
    return 1;
  }
  try {
    host::RequireCurrentSchema(dir);
  } catch (const ComError& e) {
    spdlog::error("{}", e.Description());
    return 1;
  }
  HttpService service(options);
  int port = service.Bind();
  const ServeOptions& used = service.Options();
  spdlog::info(
      "serving {} on http://{}:{}/ ({} workers, {} queued calls at most, sessions end "
      "after {} idle minutes)",
      dir.Describe(), used.host, port, used.threads, used.queue, used.idle_minutes);
  if (dir.HasReadReplica()) {
    spdlog::info("lists, reports and free queries read from {} (the primary when it cannot)",
                 dir.ReadReplica().Describe());
  }
  const MailSettings& mail = used.outbox.mail;
  if (mail.server.empty()) {
    spdlog::info("no mail server set: notice mails wait in the outbox ([mail] server)");
  } else {
    spdlog::info("notice mails through {}:{}{} from {}", mail.server, mail.port,
                 mail.starttls ? " with STARTTLS" : "", mail.sender);
  }

  std::atomic<bool> done = false;
  std::thread waiter([&] {
    timespec tick{0, 200'000'000};
    while (!done) {
      int signal = sigtimedwait(&signals, nullptr, &tick);
      if (signal > 0) {
        spdlog::info("stopping on {}: finishing the requests in flight",
                     signal == SIGINT ? "SIGINT" : "SIGTERM");
        service.Stop();
        return;
      }
    }
  });
  service.Run();
  done = true;
  waiter.join();
  spdlog::info("stopped");
  return 0;
}

}  // namespace rembiz::app
