// Reading an operation's parameters for SQL: `in` values, attributes as literals, and numbers
// that are checked before they go into a statement unquoted.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "db/connection.h"
#include "xml/document.h"

namespace rembiz::frame {

// The trimmed text of the `in/<name>` element of an operation.
std::string InText(const xml::Node& func, std::string_view name);
// The first child of `in`, whose attributes carry many operations' parameters.
xml::Node FirstIn(const xml::Node& func);

// An attribute that is there and not empty.
bool Present(const xml::Node& node, std::string_view name);
// An attribute as a SQL literal: quoted, or null when missing or empty. Date-times sent by the
// pages lose their empty time of day ("2004-03-05T00:00:00" becomes '2004-03-05').
std::string ValueOf(const xml::Node& node, std::string_view name);

// A number of a record (an attribute) for SQL: "Null" when missing or empty, its SQL text when it
// is a number; anything else is an invalid request naming the attribute, never pasted.
std::string NumberOf(const xml::Node& node, std::string_view name);
// The same for a number the record must carry: missing or empty raises `missing_key`.
std::string RequiredNumber(const xml::Node& node, std::string_view name,
                           std::string_view missing_key);

// An integer that goes into SQL unquoted (AutoID, counts); anything else is an invalid request.
std::string RequireInteger(const std::string& text, std::string_view what);
// A number of the request: "" when empty, its SQL text when numeric, else an invalid request.
std::string OptionalNumber(const std::string& text, std::string_view what);
// A row version of the request, or nullopt when it is no number (it then matches no row).
std::optional<std::string> RowVersion(const std::string& text);
[[noreturn]] void InvalidNumber(std::string_view what, std::string_view text);

// True when the query finds a row.
bool Exists(db::Connection& cn, const std::string& sql);

// Checks of a voucher head (loan or claim) against the master data, in the order the saves make
// them: the cost-item class and item ("Q7.Rembiz.0219", "Q7.Rembiz.0220"), then the currency and
// its rate ("Q7.Rembiz.0221" to "Q7.Rembiz.0225"); whether the currency is known comes from the
// save's look-up of the head's master data.
void CheckCostItem(db::Connection& cn, const xml::Node& head);
void CheckCurrencyAndRate(const xml::Node& head, bool currency_known);

}  // namespace rembiz::frame
