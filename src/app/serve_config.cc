#include "app/serve_config.h"

#include <toml++/toml.h>

#include <set>
#include <sstream>
#include <stdexcept>

namespace rembiz::app {
namespace {

[[noreturn]] void Refuse(const std::string& path, const toml::source_region& where,
                         const std::string& text) {
  std::ostringstream out;
  out << path;
  if (where.begin.line > 0) out << ":" << where.begin.line;
  out << ": " << text;
  throw std::runtime_error(out.str());
}

// One file setting: its key (a top-level key, or "table.key") and the flag that overrides it.
class Reader {
 public:
  Reader(const std::string& path, const toml::table& root,
         const std::function<bool(std::string_view)>& given)
      : path_(path), root_(root), given_(given) {}

  template <class T>
  void Number(std::string_view key, std::string_view flag, T& target, int64_t least) {
    const toml::node* node = Find(key);
    if (!node || given_(flag)) return;
    std::optional<int64_t> value = node->value<int64_t>();
    if (!node->is_integer() || !value || *value < least) {
      Refuse(path_, node->source(),
             std::string(key) + " wants a whole number of at least " + std::to_string(least));
    }
    target = static_cast<T>(*value);
  }
  void Text(std::string_view key, std::string_view flag, std::string& target) {
    const toml::node* node = Find(key);
    if (!node || given_(flag)) return;
    if (!node->is_string()) Refuse(path_, node->source(), std::string(key) + " wants text");
    target = *node->value<std::string>();
  }
  void Flag(std::string_view key, std::string_view flag, bool& target) {
    const toml::node* node = Find(key);
    if (!node || given_(flag)) return;
    if (!node->is_boolean())
      Refuse(path_, node->source(), std::string(key) + " wants true or false");
    target = *node->value<bool>();
  }
  const toml::node* Node(std::string_view key) { return Find(key); }

  // Every key of the file was read: a misspelt one is refused rather than silently ignored.
  void RefuseUnknown() const {
    for (const auto& [name, node] : root_) {
      std::string key(name.str());
      if (const toml::table* table = node.as_table()) {
        if (!tables_.count(key)) Refuse(path_, node.source(), "unknown section [" + key + "]");
        for (const auto& [inner, inner_node] : *table) {
          std::string full = key + "." + std::string(inner.str());
          if (!known_.count(full)) Refuse(path_, inner_node.source(), "unknown setting " + full);
        }
      } else if (!known_.count(key)) {
        Refuse(path_, node.source(), "unknown setting " + key);
      }
    }
  }

 private:
  const toml::node* Find(std::string_view key) {
    known_.insert(std::string(key));
    size_t dot = key.find('.');
    if (dot == std::string_view::npos) return root_.get(key);
    std::string table(key.substr(0, dot));
    tables_.insert(table);
    const toml::table* inner = root_[table].as_table();
    return inner ? inner->get(key.substr(dot + 1)) : nullptr;
  }

  const std::string& path_;
  const toml::table& root_;
  const std::function<bool(std::string_view)>& given_;
  std::set<std::string> known_;
  std::set<std::string> tables_;
};

}  // namespace

void ReadServeConfig(const std::string& path, ServeOptions& options, ServeExtras& extras,
                     const std::function<bool(std::string_view flag)>& given) {
  toml::table root;
  try {
    root = toml::parse_file(path);
  } catch (const toml::parse_error& e) {
    Refuse(path, e.source(), std::string(e.description()));
  }
  Reader read(path, root, given);
  read.Text("listen", "--listen", extras.listen);
  // Where the data is: a folder of SQLite files or a PostgreSQL database, not both.
  std::string data, database;
  read.Text("data", "--data", data);
  read.Text("database", "--db", database);
  if (!data.empty() && !database.empty()) {
    Refuse(path, root.source(), "give data (a folder) or database (a URL), not both");
  }
  if (!given("--data") && !given("--db")) {
    if (!data.empty()) options.data_dir = data;
    if (!database.empty()) options.data_dir = database;
  }
  read.Text("read_database", "--read-db", options.read_db);
  read.Number("workers", "--threads", options.threads, 1);
  read.Number("queue", "--queue", options.queue, 1);
  std::string log_format;
  read.Text("log_format", "--log-format", log_format);
  if (!log_format.empty() && !ParseLogFormat(log_format, extras.log_format)) {
    Refuse(path, read.Node("log_format")->source(), "log_format is text or json");
  }
  read.Flag("reminders", "--no-reminders", options.reminders);
  read.Number("limits.idle_minutes", "--idle-minutes", options.idle_minutes, 1);
  read.Number("limits.max_body", "--max-body", options.max_body, 1);
  read.Number("limits.request_seconds", "--request-seconds", options.request_seconds, 1);
  read.Number("limits.keep_alive_seconds", "--keep-alive-seconds", options.idle_seconds, 1);
  read.Number("limits.max_connections", "--max-connections", options.max_connections, 1);
  read.Number("limits.per_client", "--per-client", options.per_client, 0);
  read.Number("limits.query_seconds", "--query-seconds", options.query_seconds, 1);
  read.Number("limits.query_rows", "--query-rows", options.query_rows, 1);
  read.Number("limits.query_bytes", "--query-bytes", options.query_bytes, 1);
  MailSettings& mail = options.outbox.mail;
  read.Text("mail.server", "--mail-server", mail.server);
  read.Number("mail.port", "--mail-port", mail.port, 1);
  read.Flag("mail.starttls", "--mail-starttls", mail.starttls);
  read.Text("mail.user", "--mail-user", mail.user);
  read.Text("mail.password", "--mail-password", mail.password);
  read.Text("mail.sender", "--mail-sender", mail.sender);
  read.Text("mail.base_url", "--base-url", mail.base_url);
  read.Number("outbox.max_attempts", "--outbox-attempts", options.outbox.max_attempts, 1);
  read.Number("outbox.poll_seconds", "--outbox-seconds", options.outbox.poll_seconds, 1);
  read.Number("outbox.timeout_seconds", "--outbox-timeout", options.outbox.timeout_seconds, 1);
  if (!mail.server.empty() && mail.sender.empty()) {
    Refuse(path, root.source(), "mail.sender is needed with mail.server");
  }
  read.RefuseUnknown();
}

}  // namespace rembiz::app
