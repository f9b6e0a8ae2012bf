// The statistics of the report plug-ins for people and programs: `rembiz report loans|claims`
// on the command line and GET /api/report/<kind> of the HTTP service. Both run the host's
// report engine with the plug-in of the kind and the user's filter, under the operator's rights.
#pragma once

#include <ostream>
#include <string>
#include <string_view>

#include "db/recordset.h"
#include "host/report_engine.h"
#include "host/session.h"

namespace rembiz::app {

struct ReportKind {
  std::string_view name;       // "loans", "claims"
  std::string_view prog_id;    // the plug-in
  std::string_view title_key;  // message key of the report's title
  std::string_view order;      // the detail rows' order
};

// The kind of that name, or null.
const ReportKind* FindReportKind(std::string_view name);

// The report's detail rows; a refused filter or a failure throws ComError.
db::Recordset RunReport(host::Session& session, const ReportKind& kind, std::string_view filter,
                        const host::ReportProgress& progress = nullptr);

// The same rows handed to `sink` as they are read (the read is read-only; see
// host::ReportEngine::Run).
void StreamReport(host::Session& session, const ReportKind& kind, std::string_view filter,
                  db::RowSink& sink, const host::ReportProgress& progress = nullptr);

// The report as an HTTP answer body, written to `out` as the rows are read: `format` "csv"
// (the default) or "json". Sets the content type; throws ComError on failure.
void WriteReportAnswer(host::Session& session, const ReportKind& kind, std::string_view filter,
                       std::string_view format, std::ostream& out, std::string* content_type);

struct ReportCommand {
  std::string kind;
  std::string data = "rembiz-data";
  std::string account = "001";
  std::string year;
  // The operator; empty: "demo" where the demo company's users exist, else refused.
  std::string user;
  std::string language = "zh-CN";
  std::string filter;
  std::string format = "table";  // table, csv, xlsx
  std::string out;               // "" = standard output (not for xlsx)
  bool progress = false;         // show progress also when standard error is no terminal
};

// `rembiz report`; returns the exit code (0, 1 failed, 2 usage).
int RunReportCommand(const ReportCommand& command);

}  // namespace rembiz::app
