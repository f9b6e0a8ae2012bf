// Golden files of SQL Server-dialect batches and the server's answers, in the manner of
// sqllogictest. Records are separated by blank lines; lines starting with '#' between records
// are comments. A record is a header line, the batch (one or more lines), and for some kinds a
// line "----" followed by the expected lines:
//
//   statement ok                 the batch runs
//   statement count N            the batch runs and reports N records affected
//   statement error TEXT         the batch is refused with a message containing TEXT
//   query [rowsort] [names]      the rows of the batch's last query, one line each, values
//                                separated by '|', NULL for null and (empty) for ''; with
//                                `names` the first line holds the column names; a cell
//                                <guid> or <datetime> matches any GUID or date-time
//   translation BACKEND          the statements BACKEND runs for the batch, one line each
//
// A line "onlyif BACKEND" or "skipif BACKEND" just before a header limits the record to (or
// keeps it from) one backend. The runner is backend-neutral: it runs batches on a connection
// and asks the backend for its translations only for `translation` records.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "db/connection.h"

namespace rembiz::testing {

struct SqlGoldenTarget {
  std::string backend;  // the name `onlyif`, `skipif` and `translation` use: "sqlite"
  db::Connection* cn = nullptr;
  // The backend's translation of a batch, one line per step.
  std::function<std::vector<std::string>(std::string_view)> translate;
};

// Runs every record of `file` against `target`; each record that does not hold is a test
// failure naming its line.
void RunSqlGoldenFile(const std::filesystem::path& file, const SqlGoldenTarget& target);

}  // namespace rembiz::testing
