// Delivering the outbox (EC_Outbox): notice mails through SMTP and webhook events as signed
// JSON POSTs, after the commit of the change that queued them and never inside a request's
// transaction. A sender claims a due row for a while before it delivers it (a conditional
// update, so two processes never take the same row); a row whose claim ran out, because its
// process stopped, is taken up again. A failed delivery is tried again later (1 min, 5 min,
// 30 min, then every 2 h) until it has been tried `max_attempts` times.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "host/database_setup.h"

namespace rembiz::app {

// The mail server and how mails are made.
struct MailSettings {
  std::string server;  // host name; "" sends no mail (mail rows wait)
  int port = 25;
  bool starttls = false;  // require STARTTLS before the login and the message
  std::string user;       // "" logs in as nobody
  std::string password;
  std::string sender;    // the From address
  std::string base_url;  // the pages' address ("https://rembiz.example.com"); links start here
};

struct OutboxOptions {
  MailSettings mail;
  int max_attempts = 6;
  int claim_seconds = 300;   // how long a claimed row stays with its sender
  int timeout_seconds = 20;  // one delivery's time limit (connection and answer)
  int poll_seconds = 10;     // the service's sender looks for due rows this often
};

// What one pass delivered.
struct OutboxPass {
  int delivered = 0;
  int failed = 0;    // tried, to be tried again
  int given_up = 0;  // tried for the last time
  int nothing = 0;   // nothing to send (no address, hook gone)
  int Total() const { return delivered + failed + given_up + nothing; }
};

// Delivers the due rows of one account database.
OutboxPass DeliverDue(const std::string& connection_string, const OutboxOptions& options);
// The same for every account year of the location.
OutboxPass DeliverDueEverywhere(const host::DataDir& dir, const OutboxOptions& options);

// The service's sender: a thread that delivers what is due every poll_seconds until destroyed.
class OutboxSender {
 public:
  OutboxSender(const host::DataDir& dir, OutboxOptions options);
  ~OutboxSender();
  OutboxSender(const OutboxSender&) = delete;
  OutboxSender& operator=(const OutboxSender&) = delete;
  // Looks for due rows now rather than at the next poll.
  void Wake();

 private:
  void Run();

  const host::DataDir& dir_;
  const OutboxOptions options_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stop_ = false;
  bool woken_ = false;
  std::thread thread_;
};

// "sha256=" + the lower-case hex HMAC-SHA256 of `body` keyed with `secret`: the value of a
// webhook's X-Rembiz-Signature header.
std::string WebhookSignature(const std::string& secret, const std::string& body);

}  // namespace rembiz::app
