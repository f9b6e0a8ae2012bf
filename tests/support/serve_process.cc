#include "support/serve_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

namespace rembiz::testing {

ServeProcess::ServeProcess(const std::string& program, const std::string& data_args,
                           const std::filesystem::path& log, int threads) {
  const std::string command = "exec '" + program + "' serve " + data_args +
                              " --listen 127.0.0.1:0 --threads " + std::to_string(threads) +
                              " --queue 64";
  const std::string log_path = log.string();
  pid_ = fork();
  if (pid_ == 0) {
    int fd = open(log_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(fd, 1);
    dup2(fd, 2);
    execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  // The service names its port in its log once it listens.
  const std::regex listening("http://127\\.0\\.0\\.1:(\\d+)/");
  for (int i = 0; i < 300 && port_ == 0 && pid_ > 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::ifstream in(log);
    std::stringstream text;
    text << in.rdbuf();
    const std::string s = text.str();
    std::smatch m;
    if (std::regex_search(s, m, listening)) port_ = std::stoi(m[1]);
    if (waitpid(pid_, nullptr, WNOHANG) == pid_) pid_ = -1;
  }
}

ServeProcess::~ServeProcess() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  for (int i = 0; i < 200; ++i) {
    if (waitpid(pid_, nullptr, WNOHANG) == pid_) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  kill(pid_, SIGKILL);
  waitpid(pid_, nullptr, 0);
}

void ServeProcess::Kill() {
  if (pid_ <= 0) return;
  kill(pid_, SIGKILL);
  waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

httplib::Result ServeProcess::Post(const std::string& path, const std::string& body,
                                   const std::string& token) const {
  httplib::Client client("127.0.0.1", port_);
  client.set_read_timeout(60, 0);
  return client.Post(path, {{"Authorization", "Bearer " + token}}, body, "application/xml");
}

std::string ServeProcess::Login(const std::string& user) const {
  httplib::Client client("127.0.0.1", port_);
  httplib::Result r =
      client.Post("/api/login", httplib::Params{{"user", user}, {"password", user}});
  std::smatch m;
  const std::string body = r ? r->body : "";
  if (!r || r->status != 200 || !std::regex_search(body, m, std::regex("token=\"([0-9a-f]+)\""))) {
    return "";
  }
  return m[1];
}

bool Answered(const httplib::Result& r) {
  return r && r->status == 200 && r->body.find("<error>") == std::string::npos;
}

}  // namespace rembiz::testing
