// The host's report engine and the interface its plug-ins implement. A plug-in fills a work
// table in tempdb with the detail rows of its report; the engine sets the plug-in's properties,
// asks it for the table's name, lets it check the user's filter and fill the table, then reads
// the rows back itself and drops the table.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "db/connection.h"
#include "db/recordset.h"
#include "host/session.h"

namespace rembiz::host {

// The user's filter of one report: one condition over the report's detail columns.
class ReportFilter {
 public:
  explicit ReportFilter(std::string sql) : sql_(std::move(sql)) {}
  const std::string& SQLString() const { return sql_; }

 private:
  std::string sql_;
};

class ReportManager {
 public:
  virtual ~ReportManager() = default;
  // The filter the user set for the report of that name; null when there is none.
  virtual const ReportFilter* ReportFilterByName(std::string_view name) const = 0;
};

// What a report plug-in offers the engine. The engine sets the properties before any call, in
// the order they are declared here.
class ReportPlugin {
 public:
  virtual ~ReportPlugin() = default;

  const ReportManager* ObjReportManager = nullptr;
  std::string ReportTitle;
  Session* objLogin = nullptr;
  db::Connection* mconn = nullptr;  // the plug-in opens it with ConnectionString
  std::string ConnectionString;

  // A new work-table name, kept by the plug-in: "tempdb.." + name.
  virtual std::string TempTablename() = 0;
  virtual std::string strSubTitle() = 0;
  // Fills the work table with the detail rows the user's filter and the operator's rights
  // select; true on success.
  virtual bool MoveDataDetail() = 0;
  virtual bool OnValidateFilter() = 0;
  // The detail rows MoveDataDetail would fill, as one query on mconn (opened by the plug-in),
  // when the plug-in can say them so; "" (the default) when it needs its work table. The engine
  // then reads them straight: nothing is written, so a read replica can serve the report, and
  // the rows are read once instead of copied first.
  virtual std::string DetailQuery() { return ""; }
};

// Where a long report is: the stage ("fill", "read") and, while rows are counted, how many.
using ReportProgress = std::function<void(std::string_view stage, int64_t done, int64_t total)>;

class ReportEngine : public ReportManager {
 public:
  explicit ReportEngine(Session& session) : session_(session) {}

  // The filter of the report `title` ("" or blanks: every row).
  void SetFilter(std::string_view title, std::string_view sql);
  const ReportFilter* ReportFilterByName(std::string_view name) const override;

  // Runs the plug-in for the report `title` and returns its detail rows that the filter of
  // `title` selects, ordered by `order` (a column list of the detail rows; "" keeps the table's
  // order). The filter runs as a free query over the rows the plug-in filled. A refused filter
  // or a failed fill throws ComError; the work table is gone afterwards in every case.
  db::Recordset Run(ReportPlugin& plugin, std::string_view title, std::string_view order = "",
                    const ReportProgress& progress = nullptr);
  // The same rows handed to `sink` as they are read, never held whole; the read is read-only
  // (within the free-query bounds when there is a filter, an hour otherwise). The
  // work table lives until the last row is handed over.
  void Run(ReportPlugin& plugin, std::string_view title, std::string_view order, db::RowSink& sink,
           const ReportProgress& progress = nullptr);

 private:
  using Reader = std::function<void(db::Connection&, const std::string&, bool)>;
  // Fills the work table (or takes the plug-in's detail query), then lets `read` read the detail
  // rows: the statement, and whether it holds the user's filter. On the session's read replica
  // first when there is one and the plug-in needs no work table; on the primary when the
  // replica cannot serve it before `rows` (the rows handed on so far, when counted) moved.
  void Fill(ReportPlugin& plugin, std::string_view title, std::string_view order,
            const ReportProgress& progress, const Reader& read, const int64_t* rows = nullptr);
  // The same on one database; false when it is the replica and the replica could not serve.
  bool FillOn(const std::string& connection_string, bool replica, ReportPlugin& plugin,
              std::string_view title, const std::string& ordered, const std::string& filter,
              const ReportProgress& progress, const Reader& read, const int64_t* rows);

  Session& session_;
  std::map<std::string, ReportFilter, std::less<>> filters_;
};

}  // namespace rembiz::host
