#include "app/outbox.h"

#include <curl/curl.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <spdlog/spdlog.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <ctime>
#include <mutex>
#include <random>
#include <vector>

#include "db/connection.h"
#include "db/error.h"
#include "db/text.h"
#include "host/notices.h"

namespace rembiz::app {
namespace {

constexpr int kDelivered = 1;
constexpr int kGivenUp = 2;
constexpr int kNothingToDo = 3;

// Waits after the 1st, 2nd, … failed attempt; the last one repeats.
constexpr int kBackOffSeconds[] = {60, 300, 1800, 7200};

int BackOff(int attempts) {
  int n = static_cast<int>(std::size(kBackOffSeconds));
  return kBackOffSeconds[std::min(std::max(attempts, 1), n) - 1];
}

// Who claims rows: the machine, the process and a random part, so that a restarted process
// with the same number never mistakes an old claim for its own.
const std::string& SenderId() {
  static const std::string id = [] {
    char host[64] = {};
    gethostname(host, sizeof host - 1);
    std::random_device random;
    return std::string(host).substr(0, 40) + ":" + std::to_string(getpid()) + ":" +
           std::to_string(random() % 1000000);
  }();
  return id;
}

void InitCurl() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct CurlHandle {
  CURL* curl = curl_easy_init();
  curl_slist* list = nullptr;
  ~CurlHandle() {
    if (list) curl_slist_free_all(list);
    if (curl) curl_easy_cleanup(curl);
  }
};

std::string Base64(std::string_view in) {
  std::string out(4 * ((in.size() + 2) / 3) + 1, '\0');
  int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                          reinterpret_cast<const unsigned char*>(in.data()),
                          static_cast<int>(in.size()));
  out.resize(n);
  return out;
}

// A header value in UTF-8 as RFC 2047 words.
std::string EncodedWord(const std::string& text) {
  bool plain = true;
  for (unsigned char c : text) plain = plain && c >= 0x20 && c < 0x7f;
  return plain ? text : "=?UTF-8?B?" + Base64(text) + "?=";
}

std::string RfcDate() {
  std::time_t now = std::time(nullptr);
  std::tm tm{};
  gmtime_r(&now, &tm);
  char buf[64];
  std::strftime(buf, sizeof buf, "%a, %d %b %Y %H:%M:%S +0000", &tm);
  return buf;
}

struct Upload {
  std::string data;
  size_t at = 0;
};

size_t ReadUpload(char* buffer, size_t size, size_t count, void* user) {
  auto* upload = static_cast<Upload*>(user);
  size_t n = std::min(size * count, upload->data.size() - upload->at);
  upload->data.copy(buffer, n, upload->at);
  upload->at += n;
  return n;
}

size_t Discard(char*, size_t size, size_t count, void*) { return size * count; }

// Sends one mail; "" on success, else why not.
std::string SendMail(const MailSettings& mail, int timeout, const std::string& to,
                     const std::string& subject, const std::string& body,
                     const std::string& message_id) {
  InitCurl();
  CurlHandle h;
  if (!h.curl) return "no mail handle";
  std::string body64 = Base64(body);
  std::string wrapped;
  for (size_t i = 0; i < body64.size(); i += 76) wrapped += body64.substr(i, 76) + "\r\n";
  Upload upload;
  upload.data = "Date: " + RfcDate() + "\r\nFrom: " + mail.sender + "\r\nTo: " + to +
                "\r\nMessage-ID: " + message_id + "\r\nSubject: " + EncodedWord(subject) +
                "\r\nMIME-Version: 1.0\r\nContent-Type: text/plain; charset=UTF-8\r\n"
                "Content-Transfer-Encoding: base64\r\n\r\n" +
                wrapped;
  std::string url = "smtp://" + mail.server + ":" + std::to_string(mail.port);
  curl_easy_setopt(h.curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(h.curl, CURLOPT_MAIL_FROM, mail.sender.c_str());
  h.list = curl_slist_append(h.list, to.c_str());
  curl_easy_setopt(h.curl, CURLOPT_MAIL_RCPT, h.list);
  curl_easy_setopt(h.curl, CURLOPT_USE_SSL,
                   static_cast<long>(mail.starttls ? CURLUSESSL_ALL : CURLUSESSL_NONE));
  if (!mail.user.empty()) {
    curl_easy_setopt(h.curl, CURLOPT_USERNAME, mail.user.c_str());
    curl_easy_setopt(h.curl, CURLOPT_PASSWORD, mail.password.c_str());
  }
  curl_easy_setopt(h.curl, CURLOPT_READFUNCTION, ReadUpload);
  curl_easy_setopt(h.curl, CURLOPT_READDATA, &upload);
  curl_easy_setopt(h.curl, CURLOPT_UPLOAD, 1L);
  curl_easy_setopt(h.curl, CURLOPT_TIMEOUT, static_cast<long>(timeout));
  curl_easy_setopt(h.curl, CURLOPT_CONNECTTIMEOUT, static_cast<long>(timeout));
  curl_easy_setopt(h.curl, CURLOPT_NOSIGNAL, 1L);
  CURLcode rc = curl_easy_perform(h.curl);
  return rc == CURLE_OK ? "" : curl_easy_strerror(rc);
}

struct PostResult {
  long status = 0;  // 0: no answer
  std::string error;
  int millis = 0;
};

PostResult PostJson(const std::string& url, const std::string& body, const std::string& event,
                    const std::string& delivery, const std::string& signature, int timeout) {
  InitCurl();
  CurlHandle h;
  PostResult result;
  if (!h.curl) {
    result.error = "no HTTP handle";
    return result;
  }
  for (const std::string& header :
       {std::string("Content-Type: application/json"), "X-Rembiz-Event: " + event,
        "X-Rembiz-Delivery: " + delivery, "X-Rembiz-Signature: " + signature}) {
    h.list = curl_slist_append(h.list, header.c_str());
  }
  curl_easy_setopt(h.curl, CURLOPT_URL, url.c_str());
  // Only web addresses: a registered "file://" or other scheme is refused by libcurl.
  curl_easy_setopt(h.curl, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(h.curl, CURLOPT_HTTPHEADER, h.list);
  curl_easy_setopt(h.curl, CURLOPT_POSTFIELDS, body.c_str());
  curl_easy_setopt(h.curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
  curl_easy_setopt(h.curl, CURLOPT_WRITEFUNCTION, Discard);
  curl_easy_setopt(h.curl, CURLOPT_TIMEOUT, static_cast<long>(timeout));
  curl_easy_setopt(h.curl, CURLOPT_CONNECTTIMEOUT, static_cast<long>(timeout));
  curl_easy_setopt(h.curl, CURLOPT_NOSIGNAL, 1L);
  auto start = std::chrono::steady_clock::now();
  CURLcode rc = curl_easy_perform(h.curl);
  result.millis = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                       std::chrono::steady_clock::now() - start)
                                       .count());
  if (rc != CURLE_OK) {
    result.error = curl_easy_strerror(rc);
    return result;
  }
  curl_easy_getinfo(h.curl, CURLINFO_RESPONSE_CODE, &result.status);
  if (result.status < 200 || result.status > 299) {
    result.error = "HTTP status " + std::to_string(result.status);
  }
  return result;
}

// One claimed row's delivery: "" delivered, else the failure; `nothing` set when there was
// nothing to deliver.
struct Outcome {
  std::string error;
  bool nothing = false;
};

Outcome DeliverMail(db::Connection& cn, const OutboxOptions& options, const db::Recordset& row) {
  db::Recordset n = cn.Execute(
      "select n.*, u.cUser_Email, u.cLocaleId, u.bDisabled from EC_Notice n left join "
      "QDSystem..UA_User u on u.cUser_Id = n.cUser_Id where n.iNoticeId = " +
      std::to_string(row.Value("iNoticeId").ToInt()));
  std::string to = n.Eof() ? "" : db::Trim(n.Text("cUser_Email"));
  // One plain address: nothing that could add a header or a second recipient.
  bool plain = !to.empty() && to.find('@') != std::string::npos &&
               to.find_first_of("\r\n,;<>\" ") == std::string::npos;
  if (!plain || n.Value("bDisabled").ToBool()) return {"", true};
  host::NoticeValues v = host::NoticeFromRow(n);
  std::string link;
  if (!options.mail.base_url.empty()) {
    std::string base = options.mail.base_url;
    while (!base.empty() && base.back() == '/') base.pop_back();
    link = base + "/app/#/" + host::NoticeRoute(cn, v);
  }
  std::string language = n.Text("cLocaleId");
  host::NoticeText text = host::RenderNotice(v, language.empty() ? "zh-CN" : language, link);
  std::string message_id =
      "<notice-" + n.Text("iNoticeId") + "." + row.Text("iOutboxId") + "@rembiz>";
  return {SendMail(options.mail, options.timeout_seconds, to, text.subject, text.body, message_id),
          false};
}

Outcome DeliverWebhook(db::Connection& cn, const OutboxOptions& options, const db::Recordset& row,
                       int attempt) {
  std::string hook_id = std::to_string(row.Value("iWebhookId").ToInt());
  db::Recordset hook =
      cn.Execute("select cUrl, cSecret, bActive from EC_Webhook where iWebhookId = " + hook_id);
  // A hook disabled since the event was queued no longer wants it.
  if (hook.Eof() || !hook.Value("bActive").ToBool()) return {"", true};
  std::string body = row.Text("cPayload");
  std::string event = row.Text("cEvent");
  PostResult post = PostJson(hook.Text("cUrl"), body, event, row.Text("iOutboxId"),
                             WebhookSignature(hook.Text("cSecret"), body), options.timeout_seconds);
  cn.Execute(
      "insert into EC_WebhookDelivery (iOutboxId, iWebhookId, cEvent, iAttempt, iStatus, cError, "
      "iMillis) values (" +
      row.Text("iOutboxId") + ", " + hook_id + ", " + db::SqlText(event) + ", " +
      std::to_string(attempt) + ", " + (post.status ? std::to_string(post.status) : "null") + ", " +
      (post.error.empty() ? "null" : db::SqlText(post.error.substr(0, 400))) + ", " +
      std::to_string(post.millis) + ")");
  return {post.error, false};
}

}  // namespace

std::string WebhookSignature(const std::string& secret, const std::string& body) {
  unsigned char mac[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  HMAC(EVP_sha256(), secret.data(), static_cast<int>(secret.size()),
       reinterpret_cast<const unsigned char*>(body.data()), body.size(), mac, &length);
  static const char* kHex = "0123456789abcdef";
  std::string out = "sha256=";
  for (unsigned int i = 0; i < length; ++i) {
    out += kHex[mac[i] >> 4];
    out += kHex[mac[i] & 15];
  }
  return out;
}

OutboxPass DeliverDue(const std::string& connection_string, const OutboxOptions& options) {
  OutboxPass pass;
  db::Connection cn;
  cn.Open(connection_string);
  const std::string& me = SenderId();
  // Mails wait while no mail server is set.
  std::string channels = options.mail.server.empty() ? " and cChannel = 'webhook'" : "";
  std::string due =
      " iState = 0 and dNextTry <= getdate() and (dClaimedUntil is null or dClaimedUntil < "
      "getdate())" +
      channels;
  for (;;) {
    db::Recordset batch =
        cn.Execute("select top 50 iOutboxId from EC_Outbox where" + due + " order by iOutboxId");
    if (batch.Eof()) break;
    int claimed = 0;
    for (; !batch.Eof(); batch.MoveNext()) {
      std::string id = batch.Text("iOutboxId");
      // The claim: only one sender's update finds the row still due and unclaimed.
      int64_t affected = 0;
      cn.Execute("update EC_Outbox set cClaimedBy = " + db::SqlText(me) +
                     ", dClaimedUntil = dateadd(second, " + std::to_string(options.claim_seconds) +
                     ", getdate()) where iOutboxId = " + id + " and" + due,
                 &affected);
      if (affected != 1) continue;
      ++claimed;
      db::Recordset row = cn.Execute(
          "select iOutboxId, cChannel, iNoticeId, iWebhookId, cEvent, cPayload, iAttempts from "
          "EC_Outbox where iOutboxId = " +
          id);
      int attempt = static_cast<int>(row.Value("iAttempts").ToInt()) + 1;
      Outcome outcome;
      try {
        outcome = row.Text("cChannel") == "mail" ? DeliverMail(cn, options, row)
                                                 : DeliverWebhook(cn, options, row, attempt);
      } catch (const std::exception& e) {
        outcome.error = e.what();
      }
      std::string done_by = " where iOutboxId = " + id + " and cClaimedBy = " + db::SqlText(me);
      if (outcome.error.empty()) {
        int state = outcome.nothing ? kNothingToDo : kDelivered;
        cn.Execute("update EC_Outbox set iState = " + std::to_string(state) +
                   ", iAttempts = " + std::to_string(outcome.nothing ? attempt - 1 : attempt) +
                   ", dDone = getdate(), cClaimedBy = null, dClaimedUntil = null, cLastError = "
                   "null" +
                   done_by);
        ++(outcome.nothing ? pass.nothing : pass.delivered);
        continue;
      }
      bool last = attempt >= options.max_attempts;
      spdlog::warn("outbox {}: attempt {} failed{}: {}", id, attempt, last ? " (giving up)" : "",
                   outcome.error);
      cn.Execute("update EC_Outbox set iAttempts = " + std::to_string(attempt) +
                 (last ? ", iState = " + std::to_string(kGivenUp) + ", dDone = getdate()"
                       : ", dNextTry = dateadd(second, " + std::to_string(BackOff(attempt)) +
                             ", getdate())") +
                 ", cClaimedBy = null, dClaimedUntil = null, cLastError = " +
                 db::SqlText(outcome.error.substr(0, 400)) + done_by);
      ++(last ? pass.given_up : pass.failed);
    }
    // Every row of the batch went to another sender: it works through them.
    if (claimed == 0) break;
  }
  return pass;
}

OutboxPass DeliverDueEverywhere(const host::DataDir& dir, const OutboxOptions& options) {
  std::vector<std::string> databases;
  {
    db::Connection cn;
    cn.Open(dir.SystemConnectionString());
    db::Recordset rs =
        cn.Execute("select cAcc_Id, iYear from UA_AccountYear order by cAcc_Id, iYear");
    for (; !rs.Eof(); rs.MoveNext()) {
      std::string name = host::DataDir::AccountDatabase(rs.Text("cAcc_Id"), rs.Text("iYear"));
      if (dir.Store().Exists(name)) databases.push_back(name);
    }
  }
  OutboxPass all;
  for (const std::string& name : databases) {
    try {
      OutboxPass pass = DeliverDue(dir.Store().ConnectionString(name), options);
      all.delivered += pass.delivered;
      all.failed += pass.failed;
      all.given_up += pass.given_up;
      all.nothing += pass.nothing;
    } catch (const std::exception& e) {
      spdlog::warn("outbox of {}: {}", name, e.what());
    }
  }
  return all;
}

OutboxSender::OutboxSender(const host::DataDir& dir, OutboxOptions options)
    : dir_(dir), options_(std::move(options)), thread_([this] { Run(); }) {}

OutboxSender::~OutboxSender() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

void OutboxSender::Wake() {
  {
    std::lock_guard lock(mutex_);
    woken_ = true;
  }
  wake_.notify_all();
}

void OutboxSender::Run() {
  std::unique_lock lock(mutex_);
  while (!stop_) {
    lock.unlock();
    try {
      OutboxPass pass = DeliverDueEverywhere(dir_, options_);
      if (pass.Total() > 0) {
        spdlog::info("outbox: {} delivered, {} to try again, {} given up, {} with nothing to send",
                     pass.delivered, pass.failed, pass.given_up, pass.nothing);
      }
    } catch (const std::exception& e) {
      spdlog::warn("outbox: {}", e.what());
    }
    lock.lock();
    wake_.wait_for(lock, std::chrono::seconds(options_.poll_seconds),
                   [this] { return stop_ || woken_; });
    woken_ = false;
  }
}

}  // namespace rembiz::app
