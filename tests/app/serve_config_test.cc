// The service's settings file: what it sets, what the command line's flags keep, and files that
// are refused with their line and key rather than half applied.
#include "app/serve_config.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#include "support/program.h"

namespace rembiz::app {
namespace {

namespace fs = std::filesystem;

class ServeConfigTest : public ::testing::Test {
 protected:
  void TearDown() override { fs::remove(path_); }
  // Writes `text` as the file and reads it with `flags` given on the command line.
  void Read(const std::string& text, const std::set<std::string>& flags = {}) {
    std::ofstream(path_) << text;
    ReadServeConfig(path_.string(), options_, extras_,
                    [&](std::string_view flag) { return flags.count(std::string(flag)) > 0; });
  }
  std::string Refusal(const std::string& text) {
    try {
      Read(text);
    } catch (const std::runtime_error& e) {
      return e.what();
    }
    return "";
  }

  fs::path path_ =
      fs::temp_directory_path() /
      ("rembiz-config-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
       ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".toml");
  ServeOptions options_;
  ServeExtras extras_;
};

TEST_F(ServeConfigTest, TheFileSetsWhatNoFlagGave) {
  Read(R"(# /etc/rembiz/rembiz.toml
listen = "0.0.0.0:8090"
data = "/var/lib/rembiz"
workers = 6
queue = 40
log_format = "json"
reminders = false

[limits]
idle_minutes = 45
query_seconds = 3
per_client = 0
)",
       {"--queue"});
  EXPECT_EQ(extras_.listen, "0.0.0.0:8090");
  EXPECT_EQ(extras_.log_format, LogFormat::kJson);
  EXPECT_EQ(options_.data_dir, "/var/lib/rembiz");
  EXPECT_EQ(options_.threads, 6u);
  EXPECT_EQ(options_.queue, ServeOptions().queue);  // --queue was given: the flag's value stays
  EXPECT_EQ(options_.idle_minutes, 45);
  EXPECT_EQ(options_.query_seconds, 3);
  EXPECT_EQ(options_.per_client, 0u);
  EXPECT_EQ(options_.max_body, ServeOptions().max_body);  // not in the file
  EXPECT_FALSE(options_.reminders);

  Read(R"([mail]
server = "smtp.example.com"
port = 587
starttls = true
user = "rembiz"
password = "p"
sender = "rembiz@example.com"
base_url = "https://rembiz.example.com"
[outbox]
max_attempts = 3
)",
       {"--mail-port"});
  const MailSettings& mail = options_.outbox.mail;
  EXPECT_EQ(
      mail.server + "|" + mail.user + "|" + mail.password + "|" + mail.sender + "|" + mail.base_url,
      "smtp.example.com|rembiz|p|rembiz@example.com|https://rembiz.example.com");
  EXPECT_TRUE(mail.starttls);
  EXPECT_EQ(mail.port, 25);  // --mail-port was given
  EXPECT_EQ(options_.outbox.max_attempts, 3);

  ServeOptions before;
  options_ = before;
  Read("database = \"postgresql://rembiz@db:5432/rembiz\"\n", {"--data"});
  EXPECT_EQ(options_.data_dir, before.data_dir);  // the folder on the command line wins
}

TEST_F(ServeConfigTest, MistakesAreRefusedWithTheirLineAndKey) {
  EXPECT_NE(Refusal("workers = 2\nworkerz = 4\n").find(":2: unknown setting workerz"),
            std::string::npos);
  EXPECT_NE(Refusal("[limits]\nidle_minute = 5\n").find("unknown setting limits.idle_minute"),
            std::string::npos);
  EXPECT_NE(Refusal("[mails]\nserver = \"x\"\n").find("unknown section [mails]"),
            std::string::npos);
  EXPECT_NE(Refusal("workers = \"four\"\n").find("workers wants a whole number"),
            std::string::npos);
  EXPECT_NE(Refusal("[limits]\nquery_seconds = 0\n").find("at least 1"), std::string::npos);
  EXPECT_NE(Refusal("log_format = \"xml\"\n").find("text or json"), std::string::npos);
  EXPECT_NE(Refusal("reminders = \"no\"\n").find("true or false"), std::string::npos);
  EXPECT_NE(Refusal("data = \"/d\"\ndatabase = \"postgresql://x@y/z\"\n").find("not both"),
            std::string::npos);
  EXPECT_NE(Refusal("workers = [\n").find(path_.string() + ":"), std::string::npos);
  EXPECT_NE(Refusal("[mail]\nstarttls = \"yes\"\n").find("mail.starttls wants true or false"),
            std::string::npos);
  EXPECT_NE(Refusal("[mail]\nserver = \"smtp\"\n").find("mail.sender is needed"),
            std::string::npos);
  fs::remove(path_);
  std::string missing;
  try {
    ReadServeConfig(path_.string(), options_, extras_, [](std::string_view) { return false; });
  } catch (const std::runtime_error& e) {
    missing = e.what();
  }
  EXPECT_NE(missing.find(path_.string()), std::string::npos) << missing;
}

TEST(ServeCommandTest, ABadSettingsFileStopsTheServiceBeforeItStarts) {
  fs::path file = fs::temp_directory_path() / "rembiz-config-cli.toml";
  std::ofstream(file) << "workers = 2\nlisten = \"127.0.0.1:0\"\nthreads = 2\n";
  testing::ProgramResult r =
      testing::RunCommand(testing::Rembiz("serve --config '" + file.string() + "' 2>&1"));
  fs::remove(file);
  EXPECT_EQ(r.code, 2) << r.out;
  EXPECT_NE(r.out.find(":3: unknown setting threads"), std::string::npos) << r.out;
}

}  // namespace
}  // namespace rembiz::app
