// The one entry of translation (TranslateSql): one scan of the batch's text finds its tokens
// and takes its values out (string literals, and numbers where they are plainly values); what is
// left is the batch's shape, the key of the translation cache. Only a batch whose shape is new
// goes through the front end (front_end.h) and the dialect's emitter.
#include "db/sql/translate.h"

#include <array>
#include <functional>
#include <mutex>
#include <unordered_map>

#include "db/error.h"
#include "db/no_destructor.h"
#include "db/sql/front_end.h"
#include "db/text.h"

namespace rembiz::db {
namespace {

using sql::Lexeme;
using sql::TokenKind;

constexpr size_t kMaxValues = 4096;

bool EqualsWord(std::string_view sql, const Lexeme& l, std::string_view lower) {
  return l.kind == TokenKind::kWord &&
         sql::EqualsIgnoreCase(sql.substr(l.begin, l.end - l.begin), lower);
}

bool IsComparisonLexeme(std::string_view sql, const Lexeme& l) {
  if (l.kind != TokenKind::kOperator) return false;
  std::string_view op = sql.substr(l.begin, l.end - l.begin);
  return op == "=" || op == "==" || op == "<>" || op == "!=" || op == "<" || op == ">" ||
         op == "<=" || op == ">=" || op == "!<" || op == "!>";
}

// Whether the lexeme ends an operand: a string after it names a column ("expr 'alias'").
bool EndsOperand(std::string_view sql, const Lexeme& l) {
  switch (l.kind) {
    case TokenKind::kQuotedName:
    case TokenKind::kNumber:
    case TokenKind::kString:
    case TokenKind::kBlob:
    case TokenKind::kRParen:
      return true;
    case TokenKind::kWord: {
      sql::Token word =
          sql::MakeToken(TokenKind::kWord, std::string(sql.substr(l.begin, l.end - l.begin)));
      return !sql::IsKeyword(word) || sql::IsWord(word, "end");
    }
    case TokenKind::kVariable:
    case TokenKind::kOperator:
    case TokenKind::kLParen:
    case TokenKind::kComma:
    case TokenKind::kDot:
    case TokenKind::kSemicolon:
    default:
      return false;
  }
}

// The text of a string literal lexeme: without its N prefix and quotes, doubled quotes undone.
std::string LiteralText(std::string_view sql, const Lexeme& l) {
  size_t b = l.begin;
  if (sql[b] == 'N' || sql[b] == 'n') ++b;
  std::string out;
  out.reserve(l.end - b);
  for (size_t i = b + 1; i + 1 < l.end; ++i) {
    out += sql[i];
    if (sql[i] == '\'') ++i;
  }
  return out;
}

struct Lifted {
  std::string key;                 // the dialect and the shape
  std::vector<BoundValue> values;  // the values taken out
  std::vector<int32_t> param;      // per lexeme: its value's index, or -1
};

// Takes the values out of a scanned batch. String literals are values unless they name a column
// ("AS 'x'", "expr 'x'"); numbers only after a comparison and inside a VALUES list, because
// elsewhere the translator reads them (TOP n, a CONVERT style, a type's length).
Lifted Lift(std::string_view sql, const std::vector<Lexeme>& lexemes, Dialect dialect) {
  Lifted out;
  out.param.assign(lexemes.size(), -1);
  out.key.reserve(sql.size() + 2);
  out.values.reserve(std::min(lexemes.size() / 2, kMaxValues));
  out.key += dialect == Dialect::kSqlite ? 's' : 'p';
  // A text that holds the marker character itself keeps all its values in its shape.
  const bool liftable = sql.find('\x01') == std::string_view::npos;
  out.key += liftable ? '\x02' : '\x03';
  int depth = 0;
  int values_depth = -1;  // depth of the VALUES list's own parenthesis, -1 outside one
  bool after_values = false;
  size_t copied = 0;
  for (size_t i = 0; i < lexemes.size(); ++i) {
    const Lexeme& l = lexemes[i];
    const Lexeme* prev = i > 0 ? &lexemes[i - 1] : nullptr;
    bool lift = false;
    BoundValue value;
    if (liftable && out.values.size() < kMaxValues) {
      if (l.kind == TokenKind::kString) {
        lift = !(prev && (EqualsWord(sql, *prev, "as") || EndsOperand(sql, *prev)));
        if (lift) value = BoundValue{BoundValue::Kind::kText, LiteralText(sql, l)};
      } else if (l.kind == TokenKind::kNumber && prev) {
        std::string_view text = sql.substr(l.begin, l.end - l.begin);
        bool hex = text.size() > 1 && (text[1] == 'x' || text[1] == 'X');
        bool listed = values_depth >= 0 && depth == values_depth + 1 &&
                      (prev->kind == TokenKind::kLParen || prev->kind == TokenKind::kComma);
        lift = !hex && (IsComparisonLexeme(sql, *prev) || listed);
        if (lift) {
          bool real = text.find_first_of(".eE") != std::string_view::npos || text.size() > 18;
          value = BoundValue{real ? BoundValue::Kind::kReal : BoundValue::Kind::kInteger,
                             std::string(text)};
        }
      }
    }
    if (lift) {
      out.key.append(sql.substr(copied, l.begin - copied));
      out.key += '\x01';
      out.key += value.kind == BoundValue::Kind::kText ? 's' : 'n';
      copied = l.end;
      out.param[i] = static_cast<int32_t>(out.values.size());
      out.values.push_back(std::move(value));
    }
    switch (l.kind) {
      case TokenKind::kLParen:
        if (after_values && values_depth < 0) values_depth = depth;
        ++depth;
        break;
      case TokenKind::kRParen:
        --depth;
        // A VALUES list of several rows goes on after "),".
        if (depth == values_depth &&
            !(i + 2 < lexemes.size() && lexemes[i + 1].kind == TokenKind::kComma &&
              lexemes[i + 2].kind == TokenKind::kLParen)) {
          values_depth = -1;
        }
        break;
      case TokenKind::kWord:
      case TokenKind::kQuotedName:
      case TokenKind::kString:
      case TokenKind::kNumber:
      case TokenKind::kBlob:
      case TokenKind::kVariable:
      case TokenKind::kOperator:
      case TokenKind::kComma:
      case TokenKind::kDot:
      case TokenKind::kSemicolon:
      default:
        break;
    }
    after_values = EqualsWord(sql, l, "values");
  }
  out.key.append(sql.substr(copied));
  return out;
}

// The cache: sharded so that concurrent requests rarely meet on one mutex; each shard is
// emptied when it grows past its bound (statement shapes repeat, so it refills quickly).
class TranslationCache {
 public:
  std::shared_ptr<const StatementList> Find(const std::string& key) {
    Shard& shard = ShardOf(key);
    std::lock_guard lock(shard.mutex);
    auto it = shard.entries.find(key);
    return it == shard.entries.end() ? nullptr : it->second;
  }

  void Put(std::string key, std::shared_ptr<const StatementList> steps) {
    Shard& shard = ShardOf(key);
    std::lock_guard lock(shard.mutex);
    if (shard.entries.size() >= kEntriesPerShard) shard.entries.clear();
    shard.entries.emplace(std::move(key), std::move(steps));
  }

 private:
  static constexpr size_t kShards = 16;
  static constexpr size_t kEntriesPerShard = 1024;
  struct Shard {
    std::mutex mutex;
    std::unordered_map<std::string, std::shared_ptr<const StatementList>> entries;
  };
  Shard& ShardOf(const std::string& key) {
    return shards_[std::hash<std::string>{}(key) % kShards];
  }
  std::array<Shard, kShards> shards_;
};

TranslationCache& Cache() {
  static NoDestructor<TranslationCache> cache;  // used by connections that outlive statics
  return *cache;
}

std::shared_ptr<const StatementList> ReadSteps(std::string_view sql,
                                               const std::vector<Lexeme>& lexemes,
                                               const Lifted& lifted, Dialect dialect,
                                               bool* value_dependent) {
  sql::Tokens tokens;
  tokens.reserve(lexemes.size());
  for (size_t i = 0; i < lexemes.size(); ++i) {
    tokens.push_back(sql::MakeToken(sql, lexemes[i]));
    tokens.back().param = lifted.param[i];
  }
  return std::make_shared<const StatementList>(
      sql::ReadBatch(sql::StripNamePrefixes(tokens), sql::EmitterFor(dialect), value_dependent));
}

}  // namespace

TranslatedBatch TranslateSql(std::string_view sql, Dialect dialect) {
  thread_local std::vector<Lexeme> lexemes;
  sql::Scan(sql, lexemes);
  Lifted lifted = Lift(sql, lexemes, dialect);
  if (std::shared_ptr<const StatementList> steps = Cache().Find(lifted.key)) {
    return TranslatedBatch{std::move(steps), std::move(lifted.values)};
  }
  bool value_dependent = false;
  std::shared_ptr<const StatementList> steps =
      ReadSteps(sql, lexemes, lifted, dialect, &value_dependent);
  // A translation that wrote values into its text (a definition) serves only its own text.
  if (!value_dependent) Cache().Put(std::move(lifted.key), steps);
  return TranslatedBatch{std::move(steps), std::move(lifted.values)};
}

TranslatedBatch TranslateSqlUncached(std::string_view sql, Dialect dialect) {
  std::vector<Lexeme> lexemes;
  sql::Scan(sql, lexemes);
  Lifted lifted = Lift(sql, lexemes, dialect);
  return TranslatedBatch{ReadSteps(sql, lexemes, lifted, dialect, nullptr),
                         std::move(lifted.values)};
}

std::string ReadableStatement(const BatchStep& step, const std::vector<BoundValue>& values) {
  const std::string& sql = step.sql;
  if (step.params.empty()) return sql;
  std::vector<Lexeme> lexemes;
  sql::Scan(sql, lexemes);
  std::string text;
  size_t copied = 0;
  for (size_t i = 0; i + 1 < lexemes.size(); ++i) {
    const Lexeme& mark = lexemes[i];
    const Lexeme& number = lexemes[i + 1];
    bool placeholder = mark.kind == TokenKind::kOperator && mark.end - mark.begin == 1 &&
                       (sql[mark.begin] == '?' || sql[mark.begin] == '$') &&
                       number.kind == TokenKind::kNumber && number.begin == mark.end;
    if (!placeholder) continue;
    size_t k = std::stoul(sql.substr(number.begin, number.end - number.begin));
    if (k == 0 || k > step.params.size()) continue;
    uint32_t index = step.params[k - 1];
    std::string literal = "@@ROWCOUNT";
    if (index < values.size()) {
      const BoundValue& value = values[index];
      literal =
          value.kind == BoundValue::Kind::kText ? "'" + SqlEscape(value.text) + "'" : value.text;
    }
    text.append(sql, copied, mark.begin - copied);
    text += literal;
    copied = number.end;
    ++i;
  }
  text.append(sql, copied);
  return text;
}

std::vector<std::string> ReadableSteps(const TranslatedBatch& batch) {
  std::vector<std::string> out;
  for (const BatchStep& step : *batch.steps) out.push_back(ReadableStatement(step, batch.values));
  return out;
}

}  // namespace rembiz::db
