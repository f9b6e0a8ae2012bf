#include "db/request_sql.h"

#include <set>
#include <string>

#include "db/error.h"
#include "db/sql/tokenizer.h"

namespace rembiz::db {
namespace {

using sql::Token;
using sql::TokenKind;

// What is refused: a query, or a condition.
enum class Form { kQuery, kCondition };

[[noreturn]] void Refuse(Form form, const std::string& why) {
  if (form == Form::kQuery) {
    throw DbError(kErrStatement, "Only a single read-only query is allowed here (" + why + ").");
  }
  throw DbError(kErrStatement,
                "The filter must be one condition on the report's columns (" + why + ").");
}

// Words that stand before "(" without calling a function: keywords, and the types of CAST and
// CONVERT.
bool IsNotACall(std::string_view lower) {
  static const std::set<std::string, std::less<>> kWords = {
      "all", "and", "any", "apply", "as", "between", "by", "case", "cross", "distinct", "else",
      "end", "except", "exists", "from", "group", "having", "in", "inner", "intersect", "into",
      "is", "join", "like", "not", "null", "on", "or", "order", "outer", "over", "partition",
      "select", "some", "then", "top", "union", "values", "when", "where", "with",
      // types
      "binary", "datetime2", "datetimeoffset", "decimal", "float", "nchar", "numeric", "nvarchar",
      "varbinary", "varchar"};
  return kWords.count(lower) > 0;
}

// Words that never belong in request SQL, wherever they stand.
bool IsStatementWord(std::string_view lower) {
  static const std::set<std::string, std::less<>> kWords = {
      "alter",    "backup",     "bulk",           "checkpoint", "commit",
      "create",   "dbcc",       "deallocate",     "declare",    "delete",
      "deny",     "disable",    "drop",           "enable",     "exec",
      "execute",  "go",         "grant",          "insert",     "kill",
      "merge",    "openrowset", "opendatasource", "openquery",  "reconfigure",
      "restore",  "revoke",     "rollback",       "save",       "set",
      "shutdown", "truncate",   "update",         "use",        "waitfor",
      "writetext"};
  return kWords.count(lower) > 0;
}

// Words that end a condition: what follows them would be a clause or statement of its own.
bool EndsACondition(std::string_view lower) {
  static const std::set<std::string, std::less<>> kWords = {
      "compute", "except", "for",    "from",  "group",  "having", "intersect", "into",
      "limit",   "offset", "option", "order", "select", "union",  "where",     "with"};
  return kWords.count(lower) > 0;
}

// The checks every piece of request SQL passes, on its tokens.
void CheckTokens(const sql::Tokens& tokens, Form form) {
  for (size_t i = 0; i < tokens.size(); ++i) {
    const Token& token = tokens[i];
    switch (token.kind) {
      case TokenKind::kVariable:
        Refuse(form, "a variable is not allowed");
      case TokenKind::kSemicolon:
        Refuse(form, "a second statement is not allowed");
      case TokenKind::kOperator:
        // "::" casts and other engine-specific signs have no place in the server's dialect.
        if (token.text.find_first_of(":$#\\{}") != std::string::npos) {
          Refuse(form, "the sign " + token.text + " is not allowed");
        }
        break;
      case TokenKind::kWord:
      case TokenKind::kQuotedName: {
        const std::string name = Lower(sql::NameOf(token));
        if (token.kind == TokenKind::kWord && IsStatementWord(name)) {
          Refuse(form, name + " is not allowed");
        }
        bool call = i + 1 < tokens.size() && tokens[i + 1].kind == TokenKind::kLParen;
        bool qualified = i > 0 && tokens[i - 1].kind == TokenKind::kDot;
        if (call && (qualified || token.kind == TokenKind::kQuotedName || !IsNotACall(name)) &&
            !IsPlainFunction(name)) {
          Refuse(form, "the function " + name + " is not allowed");
        }
        break;
      }
      case TokenKind::kString:
      case TokenKind::kNumber:
      case TokenKind::kBlob:
      case TokenKind::kLParen:
      case TokenKind::kRParen:
      case TokenKind::kComma:
      case TokenKind::kDot:
      default:
        break;
    }
  }
}

sql::Tokens TokensOf(std::string_view text, Form form) {
  try {
    return sql::Tokenize(text);
  } catch (const DbError&) {
    Refuse(form, "a text, name or comment is not closed");
  }
}

}  // namespace

bool IsPlainFunction(std::string_view name) {
  static const std::set<std::string, std::less<>> kPlain = {
      // the server's, as every engine here answers them
      "ascii", "cast", "ceiling", "charindex", "coalesce", "convert", "dateadd", "datediff",
      "datename", "datepart", "day", "getdate", "getutcdate", "isnull", "isnumeric", "left", "len",
      "month", "newid", "nullif", "replicate", "reverse", "right", "space", "str", "year",
      // scalar
      "abs", "char", "concat", "concat_ws", "format", "glob", "hex", "ifnull", "iif", "instr",
      "length", "like", "likelihood", "likely", "lower", "ltrim", "max", "min", "octet_length",
      "printf", "quote", "random", "randomblob", "replace", "round", "rtrim", "sign", "soundex",
      "substr", "substring", "trim", "typeof", "unhex", "unicode", "unlikely", "upper", "zeroblob",
      // date and time
      "date", "time", "datetime", "julianday", "unixepoch", "strftime", "timediff",
      // aggregate
      "avg", "count", "group_concat", "string_agg", "sum", "total",
      // window
      "row_number", "rank", "dense_rank", "percent_rank", "cume_dist", "ntile", "lag", "lead",
      "first_value", "last_value", "nth_value",
      // math
      "acos", "acosh", "asin", "asinh", "atan", "atan2", "atanh", "ceil", "cos", "cosh", "degrees",
      "exp", "floor", "ln", "log", "log10", "log2", "mod", "pi", "pow", "power", "radians", "sin",
      "sinh", "sqrt", "tan", "tanh", "trunc"};
  return kPlain.count(Lower(name)) > 0;
}

void CheckRequestSql(std::string_view text) {
  CheckTokens(TokensOf(text, Form::kQuery), Form::kQuery);
}

void CheckCondition(std::string_view condition) {
  sql::Tokens tokens = TokensOf(condition, Form::kCondition);
  if (tokens.empty()) Refuse(Form::kCondition, "there is no condition");
  CheckTokens(tokens, Form::kCondition);
  int depth = 0;
  for (const Token& token : tokens) {
    if (token.kind == TokenKind::kLParen) {
      ++depth;
    } else if (token.kind == TokenKind::kRParen) {
      if (--depth < 0) Refuse(Form::kCondition, "a parenthesis closes that was not opened");
    } else if (depth == 0 && token.kind == TokenKind::kWord && EndsACondition(Lower(token.text))) {
      Refuse(Form::kCondition, Lower(token.text) + " does not belong in a condition");
    }
  }
  if (depth != 0) Refuse(Form::kCondition, "a parenthesis is not closed");
}

std::string FilteredQuery(std::string_view query, std::string_view condition) {
  CheckCondition(condition);
  // The line break ends a comment the condition may close with.
  return "select * from (" + std::string(query) + ") r where (" + std::string(condition) + "\n)";
}

}  // namespace rembiz::db
