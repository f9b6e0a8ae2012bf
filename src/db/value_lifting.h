// Values taken out of a SQL Server batch before it is translated, and put back afterwards, so
// that one translation serves every batch of the same shape. String literals are always lifted;
// numbers only where they are plainly values (after a comparison, inside a VALUES list), because
// elsewhere the translator reads them (TOP n, a CONVERT style).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "db/sql_translator.h"

namespace rembiz::db {

struct LiftedBatch {
  std::string text;                 // the batch with a placeholder for each value
  std::vector<std::string> values;  // each value as SQLite text ('…' or the number)
};

// nullopt when the batch has no value to lift (or already holds placeholder-like text).
std::optional<LiftedBatch> LiftValues(std::string_view sql);

// The translated statements with the values back in place of their placeholders; nullopt when a
// placeholder did not come through the translation intact.
std::optional<StatementList> PutValuesBack(const StatementList& statements,
                                           const std::vector<std::string>& values);

}  // namespace rembiz::db
