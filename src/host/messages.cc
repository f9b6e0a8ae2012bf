#include "host/messages.h"

#include <algorithm>
#include <cctype>
#include <unordered_map>

#include "db/text.h"
#include "host/embedded_files.h"

namespace rembiz::host {
namespace {

using Table = std::unordered_map<std::string, std::string>;

Table ParseTable(std::string_view content) {
  Table table;
  size_t pos = 0;
  while (pos < content.size()) {
    size_t end = content.find('\n', pos);
    if (end == std::string_view::npos) end = content.size();
    std::string_view line = content.substr(pos, end - pos);
    pos = end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty() || line.front() == '#') continue;
    size_t tab = line.find('\t');
    if (tab == std::string_view::npos) continue;
    table.emplace(std::string(line.substr(0, tab)), std::string(line.substr(tab + 1)));
  }
  return table;
}

struct Tables {
  Table zh;
  Table en;
};

const Tables& LoadedTables() {
  static const Tables tables = [] {
    Tables t;
    for (const EmbeddedFile& file : EmbeddedFilesUnder("schema/messages/")) {
      if (file.path.ends_with("zh-CN.tsv")) t.zh = ParseTable(file.content);
      if (file.path.ends_with("en-US.tsv")) t.en = ParseTable(file.content);
    }
    return t;
  }();
  return tables;
}

std::string& ThreadLanguage() {
  thread_local std::string language = "zh-CN";
  return language;
}

bool IsEnglish(std::string_view language) { return db::Lower(language).rfind("en", 0) == 0; }

}  // namespace

void SetCurrentLanguage(std::string_view language) { ThreadLanguage() = std::string(language); }

const std::string& CurrentLanguage() { return ThreadLanguage(); }

bool CurrentLanguageIsEnglish() { return db::Lower(ThreadLanguage()) == "en-us"; }

std::string MessageText(std::string_view key, std::string_view language, std::string_view p1,
                        std::string_view p2, std::string_view p3) {
  if (language.empty()) language = CurrentLanguage();
  const Tables& tables = LoadedTables();
  const Table& table = IsEnglish(language) ? tables.en : tables.zh;
  auto it = table.find(std::string(key));
  if (it == table.end()) return std::string(key);
  std::string text = it->second;
  const std::string_view params[] = {p1, p2, p3};
  for (int i = 0; i < 3; ++i) {
    std::string mark = "{" + std::to_string(i + 1) + "}";
    for (size_t at = text.find(mark); at != std::string::npos;
         at = text.find(mark, at + params[i].size())) {
      text.replace(at, mark.size(), params[i]);
    }
  }
  return text;
}

bool HasMessageText(std::string_view key) {
  const Tables& tables = LoadedTables();
  std::string k(key);
  return tables.zh.count(k) && tables.en.count(k);
}

std::string ColumnLabel(std::string_view name) {
  std::string key = "Rembiz.Column.";
  for (char c : name) key += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return HasMessageText(key) ? MessageText(key) : std::string(name);
}

}  // namespace rembiz::host
