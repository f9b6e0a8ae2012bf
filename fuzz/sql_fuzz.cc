// The SQL Server dialect layer on any text: tokenizing, translating and parameterizing never
// crash, and the cached translation (values lifted out and put back) says what the direct one
// says.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "db/error.h"
#include "db/literal_params.h"
#include "db/sql_tokenizer.h"
#include "db/sql_translator.h"

namespace db = rembiz::db;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view sql(reinterpret_cast<const char*>(data), size);
  try {
    db::sql::Tokenize(sql);
  } catch (const db::DbError&) {
  }
  db::StatementList direct;
  try {
    direct = db::TranslateSqlUncached(sql);
  } catch (const db::DbError&) {
    return 0;
  }
  try {
    if (*db::TranslateSql(sql) != direct) std::abort();
  } catch (const db::DbError&) {
    std::abort();  // the direct translation succeeded
  }
  // Parameterizing never crashes; the driver checks the placeholders against SQLite's count.
  for (const db::BatchStep& step : direct) db::ParameterizeLiterals(step.sql);
  return 0;
}
