// The dialect layer against the server's answers: tests/db/golden/dialect.test, run on a copy of
// the demo database through the connection (value lifting, translation, bound literals).
#include <gtest/gtest.h>

#include "db/sql/translate.h"
#include "support/demo_fixture.h"
#include "support/sql_golden.h"

namespace rembiz::db {
namespace {

std::vector<std::string> SqliteSteps(std::string_view batch) {
  std::vector<std::string> lines;
  TranslatedBatch translated = TranslateSqlUncached(batch);
  for (const BatchStep& step : *translated.steps) {
    std::string sql = ReadableStatement(step, translated.values);
    switch (step.kind) {
      case BatchStep::Kind::kStatement:
        lines.push_back(sql);
        break;
      case BatchStep::Kind::kCondition:
        lines.push_back("IF ROW " + sql + " ELSE GOTO " + std::to_string(step.next));
        break;
      case BatchStep::Kind::kJump:
        lines.push_back("GOTO " + std::to_string(step.next));
        break;
    }
  }
  return lines;
}

class DialectGoldenTest : public testing::DemoTest {};

TEST_F(DialectGoldenTest, AnswersAsTheServerDoes) {
  testing::RunSqlGoldenFile(REMBIZ_SOURCE_DIR "/tests/db/golden/dialect.test",
                            {testing::OnPostgres() ? "postgres" : "sqlite", &Cn(), SqliteSteps});
}

}  // namespace
}  // namespace rembiz::db
