// The service log's two forms: lines for people (the default) or one JSON object per line for
// log collectors (`rembiz serve --log-format json`). Access lines carry their fields as members
// of that object rather than inside the message.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace rembiz::app {

enum class LogFormat { kText, kJson };

// "text" or "json"; false for anything else.
bool ParseLogFormat(std::string_view text, LogFormat& format);

// Installs the form on the default logger (every sink).
void UseLogFormat(LogFormat format);
LogFormat CurrentLogFormat();

// While alive, JSON lines written on this thread carry these members besides time, level and
// message (the text form ignores them: its message already says everything).
class LogFields {
 public:
  explicit LogFields(std::vector<std::pair<std::string, std::string>> fields);
  ~LogFields();
  LogFields(const LogFields&) = delete;
  LogFields& operator=(const LogFields&) = delete;
};

}  // namespace rembiz::app
