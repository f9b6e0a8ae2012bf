// The SQL Server dialect layer on any text: tokenizing and translating never crash, the cached
// translation (a shape shared by batches that differ in their values) says what the direct one
// says on every engine, every placeholder has its value, and the gate of request SQL only ever
// refuses.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "db/error.h"
#include "db/request_sql.h"
#include "db/sql/tokenizer.h"
#include "db/sql/translate.h"

namespace db = rembiz::db;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view sql(reinterpret_cast<const char*>(data), size);
  try {
    db::sql::Tokenize(sql);
  } catch (const db::DbError&) {
  }
  // The gate of request SQL refuses with a DbError or lets through; nothing else.
  try {
    db::CheckRequestSql(sql);
  } catch (const db::DbError&) {
  }
  try {
    db::FilteredQuery("select * from T", sql);
  } catch (const db::DbError&) {
  }
  for (db::Dialect dialect : {db::Dialect::kSqlite, db::Dialect::kPostgres}) {
    db::TranslatedBatch direct;
    try {
      direct = db::TranslateSqlUncached(sql, dialect);
    } catch (const db::DbError&) {
      continue;
    }
    try {
      db::TranslatedBatch cached = db::TranslateSql(sql, dialect);
      if (*cached.steps != *direct.steps || cached.values != direct.values) std::abort();
    } catch (const db::DbError&) {
      std::abort();  // the direct translation succeeded
    }
    for (const db::BatchStep& step : *direct.steps) {
      for (uint32_t index : step.params) {
        if (index != db::kRowCountValue && index >= direct.values.size()) std::abort();
      }
    }
    (void)db::ReadableSteps(direct);
  }
  return 0;
}
