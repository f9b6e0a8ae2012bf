// The values of a batch against the server's answers: tests/db/golden/values.test, run on a copy
// of the demo database. Its `translation` records show each backend's statements with their
// placeholders and, below each, the values the statement binds.
#include <gtest/gtest.h>

#include "db/sql/translate.h"
#include "support/demo_fixture.h"
#include "support/sql_golden.h"

namespace rembiz::db {
namespace {

std::string Bound(uint32_t index, const std::vector<BoundValue>& values) {
  if (index == kRowCountValue) return "@@ROWCOUNT";
  if (index >= values.size()) return "(no value " + std::to_string(index) + ")";
  const BoundValue& value = values[index];
  switch (value.kind) {
    case BoundValue::Kind::kInteger:
      return "integer " + value.text;
    case BoundValue::Kind::kReal:
      return "real " + value.text;
    case BoundValue::Kind::kText:
      break;
  }
  std::string quoted = "'";
  for (char c : value.text) quoted += c == '\'' ? std::string("''") : std::string(1, c);
  return "text " + quoted + "'";
}

// One line per statement as the engine gets it, then "  <- " and its values in order.
std::vector<std::string> Steps(std::string_view batch, Dialect dialect) {
  std::vector<std::string> lines;
  TranslatedBatch translated = TranslateSqlUncached(batch, dialect);
  for (const BatchStep& step : *translated.steps) {
    switch (step.kind) {
      case BatchStep::Kind::kStatement:
        lines.push_back(step.sql);
        break;
      case BatchStep::Kind::kCondition:
        lines.push_back("IF ROW " + step.sql + " ELSE GOTO " + std::to_string(step.next));
        break;
      case BatchStep::Kind::kJump:
        lines.push_back("GOTO " + std::to_string(step.next));
        break;
    }
    if (step.params.empty()) continue;
    std::string values;
    for (uint32_t index : step.params) {
      values += (values.empty() ? "  <- " : ", ") + Bound(index, translated.values);
    }
    lines.push_back(values);
  }
  return lines;
}

class ValuesGoldenTest : public testing::DemoTest {};

TEST_F(ValuesGoldenTest, ValuesAreBoundAndAnswerAsTheServerDoes) {
  const bool postgres = testing::OnPostgres();
  const Dialect dialect = postgres ? Dialect::kPostgres : Dialect::kSqlite;
  testing::RunSqlGoldenFile(REMBIZ_SOURCE_DIR "/tests/db/golden/values.test",
                            {postgres ? "postgres" : "sqlite", &Cn(),
                             [dialect](std::string_view batch) { return Steps(batch, dialect); }});
}

}  // namespace
}  // namespace rembiz::db
