// Value, XML and SQL text conversions shared by every business class: literal writers for SQL,
// record writers for answers, and the SQL text normaliser every statement passes.
#pragma once

#include <string>
#include <string_view>

#include "db/recordset.h"
#include "db/text.h"
#include "db/variant.h"
#include "xml/document.h"
#include "xml/escape.h"

namespace rembiz::frame {

using db::Variant;

// Null → ""; otherwise the value's text.
std::string NullToStr(const Variant& value);

// Null or "" → "null"; otherwise the text between single quotes, single quotes doubled so a
// value can never end the literal early.
std::string SqlValue(const Variant& value);

// The text with single quotes doubled, for callers that write the quotes themselves.
using db::SqlEscape;

// True when the value is a number or a text that is one (blanks around it allowed).
bool IsNumeric(const Variant& value);

// Numeric → the number as a double; otherwise 0.
double NumValue(const Variant& value);

// Numeric → the number's text; otherwise "null". Never pastes anything but a number.
std::string SqlNumber(const Variant& value);

// Null or "" → false; otherwise the value as a Boolean.
bool ToBool(const Variant& value);

// Null or "" → "null"; otherwise "1" or "0".
std::string SqlBool(const Variant& value);

// Year + sep + month + sep + day without leading zeros; "" when the value is no date.
std::string DateText(const Variant& value, std::string_view separator);

// The attribute of the node (a document stands for its element), or of the node's first match
// of `path`; "" when either is missing.
std::string NodeAttr(const xml::Node& node, std::string_view name, std::string_view path = "");
std::string NodeAttr(const xml::Document& doc, std::string_view name, std::string_view path = "");

using xml::XmlEscape;
using xml::XmlName;

// Every literal 'x' becomes N'x'; with the current language en-US aliases are bracketed.
std::string NormalizeSql(std::string_view sql);
std::string BracketAliases(std::string_view sql);
bool NoParens(std::string_view text);

// One "<row …/>" line per record (CR LF after each); "" for a closed or empty recordset.
std::string RowXml(db::Recordset& recordset);
// One "<head strName='strValue' …/>" element from a name/value recordset.
std::string HeadXml(db::Recordset& recordset);

}  // namespace rembiz::frame
