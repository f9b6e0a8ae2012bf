// Message texts of the "Q7.Rembiz.NNNN" keys in zh-CN and en-US, loaded once per process, and
// the current language, which every request sets for its own thread.
#pragma once

#include <string>
#include <string_view>

namespace rembiz::host {

void SetCurrentLanguage(std::string_view language);
const std::string& CurrentLanguage();
// True when the current language is en-US (compared case-insensitively), where statements bracket
// their aliases and names are shown in English.
bool CurrentLanguageIsEnglish();

// The key's text in `language` (empty = the current language; unknown languages fall back to
// zh-CN) with {1}..{3} replaced by the parameters. An unknown key resolves to itself.
std::string MessageText(std::string_view key, std::string_view language = "",
                        std::string_view p1 = "", std::string_view p2 = "",
                        std::string_view p3 = "");

// True when the key has a text in both languages.
bool HasMessageText(std::string_view key);

// The label people know a column by, in the current language (the "Rembiz.Column.<name>" text,
// the name lower-cased); a column without a label keeps its name. Messages and exports name
// fields by it.
std::string ColumnLabel(std::string_view name);

}  // namespace rembiz::host
