// Small text helpers shared by every layer, and the one way a text value is written into SQL.
#pragma once

#include <string>
#include <string_view>

namespace rembiz::db {

// ASCII lower case (names, keywords, codes).
std::string Lower(std::string_view text);
// Without blanks, tabs and line breaks at either end.
std::string Trim(std::string_view text);

// The text with every single quote doubled, so it can stand inside a literal.
std::string SqlEscape(std::string_view text);
// The text as a literal N'…', quotes doubled: a value can never end its literal early.
std::string SqlText(std::string_view text);
// A statement for an error message, cut to a readable length.
std::string TruncatedSql(std::string_view sql);
// True for a plain SQL name ([A-Za-z_][A-Za-z0-9_.]*), the only names built from request data.
bool IsSqlName(std::string_view name);

}  // namespace rembiz::db
