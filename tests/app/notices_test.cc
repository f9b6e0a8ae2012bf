// Notices and webhook events from the change that makes them to the mail server and the
// receiver: a local SMTP server (aiosmtpd, started here on a free port) and a webhook receiver
// in the test. What each mail says in both languages is a golden file.
#include "host/notices.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <mutex>
#include <nlohmann/json.hpp>
#include <set>
#include <thread>

#include "app/outbox.h"
#include "approval/audit_fixture.h"
#include "support/golden.h"
#include "support/serve_process.h"

namespace rembiz::app {
namespace {

constexpr const char* kClaim = "{AD000071-0000-4000-8000-000000000071}";
constexpr const char* kSecret = "s3cret";

int FreePort(int* keep_open = nullptr) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  socklen_t size = sizeof addr;
  getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &size);
  if (keep_open) {
    // Listening but never answering: a mail server that hangs.
    listen(fd, 16);
    *keep_open = fd;
  } else {
    close(fd);
  }
  return ntohs(addr.sin_port);
}

// aiosmtpd writing each mail it takes as a JSON line.
class SmtpSink {
 public:
  explicit SmtpSink(std::filesystem::path file) : file_(std::move(file)), port_(FreePort()) {
    std::string script = std::string(REMBIZ_SOURCE_DIR) + "/tests/app/smtp_sink.py";
    pid_ = fork();
    if (pid_ == 0) {
      execl("/usr/bin/python3", "python3", script.c_str(), std::to_string(port_).c_str(),
            file_.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    for (int i = 0; i < 100 && !ready_; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      int fd = socket(AF_INET, SOCK_STREAM, 0);
      sockaddr_in addr{};
      addr.sin_family = AF_INET;
      addr.sin_port = htons(static_cast<uint16_t>(port_));
      addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      ready_ = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
      close(fd);
      if (waitpid(pid_, nullptr, WNOHANG) == pid_) break;
    }
  }
  ~SmtpSink() {
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
  bool Ready() const { return ready_; }
  int Port() const { return port_; }
  std::vector<nlohmann::json> Mails() const {
    std::vector<nlohmann::json> out;
    std::ifstream in(file_);
    for (std::string line; std::getline(in, line);) out.push_back(nlohmann::json::parse(line));
    return out;
  }

 private:
  std::filesystem::path file_;
  int port_;
  pid_t pid_ = -1;
  bool ready_ = false;
};

// The webhook receiver: keeps what it was sent, and answers 500 to the first `fail` posts.
class HookReceiver {
 public:
  struct Post {
    std::string event, signature, body;
  };
  HookReceiver() {
    server_.Post("/hook", [this](const httplib::Request& req, httplib::Response& res) {
      std::lock_guard lock(mutex_);
      if (fail_ > 0) {
        --fail_;
        res.status = 500;
        return;
      }
      posts_.push_back({req.get_header_value("X-Rembiz-Event"),
                        req.get_header_value("X-Rembiz-Signature"), req.body});
      res.set_content("{}", "application/json");
    });
    port_ = server_.bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_.listen_after_bind(); });
  }
  ~HookReceiver() {
    server_.stop();
    thread_.join();
  }
  std::string Url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/hook"; }
  void Fail(int posts) {
    std::lock_guard lock(mutex_);
    fail_ = posts;
  }
  std::vector<Post> Posts() {
    std::lock_guard lock(mutex_);
    return posts_;
  }

 private:
  httplib::Server server_;
  int port_ = 0;
  std::thread thread_;
  std::mutex mutex_;
  int fail_ = 0;
  std::vector<Post> posts_;
};

class NoticeTest : public approval::AuditTest {
 protected:
  void SetUp() override {
    AuditTest::SetUp();
    sink_ = std::make_unique<SmtpSink>(Scratch() / "mails.jsonl");
    if (!sink_->Ready()) GTEST_SKIP() << "no local mail server (python3-aiosmtpd)";
    Cn().Execute("insert into EC_Webhook (cUrl, cEvents, cSecret) values ('" + hooks_.Url() +
                 "', 'submitted, approved,rejected', '" + kSecret + "')");
  }

  OutboxOptions Options() const {
    OutboxOptions options;
    options.mail.server = "127.0.0.1";
    options.mail.port = sink_->Port();
    options.mail.sender = "rembiz@localhost";
    options.mail.base_url = "http://rembiz.test/";
    options.timeout_seconds = 5;
    return options;
  }
  std::string MailArgs(int port) const {
    return " --mail-server 127.0.0.1 --mail-port " + std::to_string(port) +
           " --mail-sender rembiz@localhost --outbox-seconds 1";
  }
  OutboxPass Deliver(const OutboxOptions& options) {
    return DeliverDue(Session().ConnectionString(), options);
  }
  // "to|subject" of every mail, sorted.
  std::string MailList() const {
    std::multiset<std::string> lines;
    for (const auto& m : sink_->Mails()) {
      lines.insert(m["to"][0].get<std::string>() + "|" + m["subject"].get<std::string>());
    }
    std::string out;
    for (const std::string& l : lines) out += l + "\n";
    return out;
  }
  std::string BodyTo(const std::string& to, const std::string& subject_part) const {
    for (const auto& m : sink_->Mails()) {
      if (m["to"][0] == to &&
          m["subject"].get<std::string>().find(subject_part) != std::string::npos) {
        return m["body"];
      }
    }
    return "";
  }
  // Waits until the outbox holds at most `left` rows to deliver; false after `seconds`.
  bool WaitForOutbox(int left, int seconds) {
    for (int i = 0; i < seconds * 10; ++i) {
      if (std::stoi(Scalar("select count(*) from EC_Outbox where iState = 0")) <= left) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
  }

  std::unique_ptr<SmtpSink> sink_;
  HookReceiver hooks_;
};

TEST_F(NoticeTest, AClaimThroughTwoStepsMailsEachPersonAndPostsEachEventOnce) {
  Cn().Execute("update QDSystem..UA_User set cLocaleId = 'en-US' where cUser_Id = 'approver'");
  InsertClaim(kClaim, "ZC0071", 1200, "01", "[01]总经理办公室");
  SubmitClaim(kClaim);
  ASSERT_TRUE(
      AuditVouch("EC_ExpenVouch", kClaim, "EC02", true, &Session()).SelectSingleNode("//Return"));
  auto approver = SessionFor("approver");
  ASSERT_TRUE(AuditVouch("EC_ExpenVouch", kClaim, "EC02", true, approver.get())
                  .SelectSingleNode("//Return"));

  // Submission: step one's two approvers; step one passed: step two's approver; the last step:
  // the maker. Two events.
  OutboxPass pass = Deliver(Options());
  EXPECT_EQ(pass.delivered, 6);
  EXPECT_EQ(Deliver(Options()).Total(), 0);
  EXPECT_EQ(MailList(),
            "anna@qingsong.example|Voucher ZC0071 waits for your approval\n"
            "demo@qingsong.example|单据 ZC0071 已审批通过\n"
            "demo@qingsong.example|单据 ZC0071 等待您审批\n"
            "mike@qingsong.example|单据 ZC0071 等待您审批\n");
  std::string autoid = Column("EC_ExpenVouch", "AutoID", kClaim);
  std::string anna = BodyTo("anna@qingsong.example", "waits");
  EXPECT_NE(anna.find("Demo Admin submitted voucher ZC0071 for 1200.00"), std::string::npos)
      << anna;
  EXPECT_NE(anna.find("http://rembiz.test/app/#/review/claim/" + autoid), std::string::npos);
  EXPECT_NE(BodyTo("demo@qingsong.example", "已审批").find("#/claim/" + autoid), std::string::npos);

  std::vector<HookReceiver::Post> posts = hooks_.Posts();
  ASSERT_EQ(posts.size(), 2u);
  EXPECT_EQ(posts[0].event, "submitted");
  EXPECT_EQ(posts[1].event, "approved");
  for (const auto& post : posts) {
    EXPECT_EQ(post.signature, WebhookSignature(kSecret, post.body));
    nlohmann::json payload = nlohmann::json::parse(post.body);
    EXPECT_EQ(payload["event"], post.event);
    EXPECT_EQ(payload["code"], "ZC0071");
    EXPECT_EQ(payload["card"], "47");
    EXPECT_EQ(payload["amount"], 1200);
    EXPECT_EQ(payload["maker"], "Demo Admin");
  }
  EXPECT_EQ(Lines("select cEvent, iAttempt, iStatus from EC_WebhookDelivery order by AutoID"),
            "submitted|1|200\napproved|1|200");
  EXPECT_EQ(Lines("select cChannel, iState, iAttempts from EC_Outbox order by iOutboxId", ","),
            "mail|1|1,mail|1|1,webhook|1|1,mail|1|1,mail|1|1,webhook|1|1");

  // In the pages each reads and marks only their own.
  xml::Document list = Call("CNotice", "<req><func name='list'><in/></func></req>", approver.get());
  xml::NodeList listed = list.SelectNodes("//notices/notice");
  ASSERT_EQ(listed.size(), 1u) << list.Xml();
  EXPECT_EQ(listed[0].Attr("route"), "review/claim/" + autoid);
  // The pages speak the session's language.
  EXPECT_EQ(listed[0].Attr("subject"), "单据 ZC0071 等待您审批");
  std::string others = Scalar("select max(iNoticeId) from EC_Notice where cUser_Id = 'demo'");
  xml::Document read = Call(
      "CNotice", "<req><func name='read'><in id='" + others + "'/></func></req>", approver.get());
  EXPECT_EQ(read.SelectSingleNode("//notices").Attr("unread"), "1") << read.Xml();
  read = Call("CNotice", "<req><func name='read'><in all='1'/></func></req>", approver.get());
  EXPECT_EQ(read.SelectSingleNode("//notices").Attr("unread"), "0") << read.Xml();
  EXPECT_EQ(Lines("select cUser_Id, cast(bRead as int) from EC_Notice order by iNoticeId", ","),
            "demo|0,manager|0,approver|1,demo|0");
}

TEST_F(NoticeTest, ARejectionReachesTheMakerAndAFailedPostIsRetriedAfterItsPause) {
  Cn().Execute("update QDSystem..UA_User set cUser_Email = null where cUser_Id = 'manager'");
  hooks_.Fail(1);
  InsertClaim(kClaim, "ZC0072", 300, "01", "[01]总经理办公室");
  SubmitClaim(kClaim);
  ASSERT_TRUE(AuditVouch("EC_ExpenVouch", kClaim, "EC02", true, &Session(), "2")
                  .SelectSingleNode("//Return"));

  // The first post fails; a user without an address has nothing to be sent.
  OutboxPass pass = Deliver(Options());
  EXPECT_EQ(pass.delivered, 3);
  EXPECT_EQ(pass.nothing, 1);
  EXPECT_EQ(pass.failed, 1);
  EXPECT_NE(BodyTo("demo@qingsong.example", "退回").find("原因：ok"), std::string::npos)
      << MailList();
  EXPECT_EQ(Scalar("select cEvent, iAttempts, cLastError from EC_Outbox where iState = 0 and "
                   "dNextTry > getdate()"),
            "submitted|1|HTTP status 500");
  EXPECT_EQ(Deliver(Options()).Total(), 0);  // not before its pause

  Cn().Execute("update EC_Outbox set dNextTry = dateadd(minute, -2, getdate()) where iState = 0");
  EXPECT_EQ(Deliver(Options()).delivered, 1);
  EXPECT_EQ(Lines("select cEvent, iAttempt, isnull(iStatus, 0) from EC_WebhookDelivery order by "
                  "AutoID"),
            "submitted|1|500\nrejected|1|200\nsubmitted|2|200");
  ASSERT_EQ(hooks_.Posts().size(), 2u);

  // The last allowed attempt that fails gives the row up.
  hooks_.Fail(5);
  EXPECT_EQ(host::QueueWebhookEvent(Cn(), "approved", "EC_ExpenVouch", kClaim, "Demo Admin"), 1);
  OutboxOptions once = Options();
  once.max_attempts = 1;
  EXPECT_EQ(Deliver(once).given_up, 1);
  EXPECT_EQ(Scalar("select iState, iAttempts from EC_Outbox where cEvent = 'approved'"), "2|1");
}

// Notices committed while no sender ran; a service killed while it held a claim; then two
// services share the outbox: every mail arrives exactly once.
TEST_F(NoticeTest, KilledAndConcurrentServicesSendEachMailOnce) {
  const char* users[] = {"demo", "approver", "clerk", "manager"};
  for (int i = 0; i < 12; ++i) {
    host::NoticeValues n;
    n.user = users[i % 4];
    n.kind = i % 2 ? "overdue" : "duesoon";
    n.card = "45";
    n.code = "JK" + std::to_string(100 + i);
    n.amount = "500";
    n.due = "2026-03-01";
    host::AddNotice(Cn(), n);
  }

  int silent = -1;
  int silent_port = FreePort(&silent);
  {
    testing::ServeProcess hung(REMBIZ_BIN, DataArgs() + MailArgs(silent_port),
                               Scratch() / "hung.log", 2);
    ASSERT_GT(hung.Port(), 0);
    for (int i = 0; i < 100 && Scalar("select count(*) from EC_Outbox where cClaimedBy is not "
                                      "null") == "0";
         ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    hung.Kill();
  }
  close(silent);
  ASSERT_EQ(Scalar("select count(*) from EC_Outbox where iState = 0 and dClaimedUntil > "
                   "getdate()"),
            "1");
  // Time passes beyond the dead process's claim.
  Cn().Execute(
      "update EC_Outbox set dClaimedUntil = dateadd(minute, -1, getdate()) where "
      "cClaimedBy is not null");

  {
    testing::ServeProcess a(REMBIZ_BIN, DataArgs() + MailArgs(sink_->Port()), Scratch() / "a.log",
                            2);
    testing::ServeProcess b(REMBIZ_BIN, DataArgs() + MailArgs(sink_->Port()), Scratch() / "b.log",
                            2);
    ASSERT_TRUE(a.Port() > 0 && b.Port() > 0);
    EXPECT_TRUE(WaitForOutbox(0, 60));
  }
  std::vector<nlohmann::json> mails = sink_->Mails();
  std::set<std::string> ids;
  for (const auto& m : mails) ids.insert(m["message_id"].get<std::string>());
  EXPECT_EQ(mails.size(), 12u);
  EXPECT_EQ(ids.size(), 12u);
  EXPECT_EQ(Scalar("select count(*) from EC_Outbox where iState = 1 and iAttempts = 1"), "12");
}

// The administrator's webhooks: known events and web addresses only, the secret never listed, a
// disabled hook gets no events, and one that was posted to is disabled rather than deleted.
TEST_F(NoticeTest, WebhooksTakeKnownEventsAndWebAddressesOnly) {
  auto save = [&](const std::string& row) {
    return Call("CAdmin", "<req><func name='save'><in kind='webhook'>" + row + "</in></func></req>")
        .Xml();
  };
  std::string before = Dump("EC_Webhook");
  EXPECT_NE(save("<row P='1' url='https://h.example/x' events='submitted,payd' secret='k'/>")
                .find(host::MessageText("Rembiz.Admin.WebhookEvent", "zh-CN", "payd")),
            std::string::npos);
  EXPECT_NE(save("<row P='1' url='file:///etc/passwd' events='paid' secret='k'/>")
                .find(host::MessageText("Rembiz.Admin.WebhookUrl", "zh-CN", "file:///etc/passwd")),
            std::string::npos);
  EXPECT_EQ(Dump("EC_Webhook"), before);

  save("<row P='1' url='http://127.0.0.1:9/h' events='Paid, submitted,paid' secret='k2'/>");
  EXPECT_EQ(Scalar("select cEvents, cSecret, cast(bActive as int), cMaker from EC_Webhook where "
                   "iWebhookId = 2"),
            "paid,submitted|k2|1|demo");
  std::string listed =
      Call("CAdmin", "<req><func name='list'><in kind='webhook'/></func></req>").Xml();
  EXPECT_EQ(listed.find(kSecret), std::string::npos) << listed;
  EXPECT_EQ(listed.find("k2"), std::string::npos) << listed;

  // The first hook is disabled: the next submission is posted to the second only.
  save("<row P='2' id='1' url='" + hooks_.Url() + "' events='submitted' active='0' ts='" +
       Scalar("select cast(ts as money) from EC_Webhook where iWebhookId = 1") + "'/>");
  EXPECT_EQ(Scalar("select cSecret, cast(bActive as int) from EC_Webhook where iWebhookId = 1"),
            std::string(kSecret) + "|0");  // a blank secret keeps the one it had
  InsertClaim(kClaim, "ZC0073", 300, "01", "[01]总经理办公室");
  SubmitClaim(kClaim);
  EXPECT_EQ(Lines("select iWebhookId, cEvent from EC_Outbox where cChannel = 'webhook'"),
            "2|submitted");
  std::string refusal =
      save("<row P='3' id='2' ts='" +
           Scalar("select cast(ts as money) from EC_Webhook where iWebhookId = 2") + "'/>");
  EXPECT_NE(refusal.find(host::MessageText("Rembiz.Admin.UsedByDeliveries", "zh-CN")),
            std::string::npos)
      << refusal;
  EXPECT_EQ(Scalar("select count(*) from EC_Webhook"), "2");
}

// What every kind of notice says, in both languages.
TEST(NoticeTextTest, EveryKindHasASubjectAndBodyInBothLanguages) {
  std::string out;
  for (const char* language : {"zh-CN", "en-US"}) {
    for (const char* kind : {"waiting", "approved", "rejected", "paid", "overdue", "duesoon"}) {
      host::NoticeValues n;
      n.kind = kind;
      n.code = "ZC0001";
      n.amount = "1234.5";
      n.actor = "Anna Approver";
      n.step = "Manager";
      n.remark = "receipt missing";
      n.due = "2026-03-01 00:00:00";
      host::NoticeText text = host::RenderNotice(n, language, "http://rembiz.test/app/#/claim/7");
      out += std::string(language) + " " + kind + "\n  " + text.subject + "\n  " + text.body + "\n";
    }
  }
  testing::ExpectGoldenText("app/golden/notice_texts.txt", out);
}

}  // namespace
}  // namespace rembiz::app
