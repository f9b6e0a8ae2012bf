// The one gate of SQL that arrives with a request (free queries, reference conditions, report
// filters). Before any engine sees such text, the translator's front end reads it: it may call
// only plain functions, name no variables and use no engine-specific syntax, and a filter must
// be one condition. The engine then runs it read-only within the free-query bounds
// (Connection::ExecuteReadOnly). Refusals name the problem, never the SQL.
#pragma once

#include <string>
#include <string_view>

namespace rembiz::db {

// Whether request SQL may call the function `name` (compared case-insensitively): the server's
// own functions that every engine here answers, and the plain scalar, date, aggregate, window
// and math functions. Nothing that reaches outside the query, waits, takes locks, changes a
// setting or tells about the process.
bool IsPlainFunction(std::string_view name);

// Checks the text of one request query; DbError(kErrStatement) names what is refused.
void CheckRequestSql(std::string_view sql);

// Checks that `condition` is one condition: balanced parentheses, nothing after it (no second
// clause, statement or comment that swallows the rest), plain functions only.
void CheckCondition(std::string_view condition);

// `query` narrowed by `condition` (checked first): the condition stands outside the query, so
// it can only take rows away from what the query answers.
std::string FilteredQuery(std::string_view query, std::string_view condition);

}  // namespace rembiz::db
