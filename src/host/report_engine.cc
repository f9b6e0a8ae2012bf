#include "host/report_engine.h"

#include <algorithm>
#include <cstdint>
#include <optional>

#include "db/error.h"
#include "db/request_sql.h"
#include "db/text.h"
#include "host/errors.h"
#include "host/messages.h"
#include "host/read_replica.h"

namespace rembiz::host {
namespace {

constexpr std::string_view kTempPrefix = "tempdb..";
// How long the engine's own read of a streamed report (rows and their writing) may take.
constexpr int kOwnReadSeconds = 3600;

// The work table's own name, without "tempdb.."; it must be a plain name.
std::string WorkTableName(const std::string& full) {
  std::string name = full;
  if (db::Lower(name).rfind(kTempPrefix, 0) == 0) name = name.substr(kTempPrefix.size());
  if (name.empty() || !db::IsSqlName(name) || name.find('.') != std::string::npos) {
    throw ComError(db::kErrInvalidRequest,
                   "The report plug-in named no usable work table ('" + full + "').",
                   "ReportEngine");
  }
  return name;
}

// "col, col desc" of plain names only.
void RequireOrder(std::string_view order) {
  size_t start = 0;
  while (start <= order.size()) {
    size_t comma = order.find(',', start);
    std::string part = db::Trim(order.substr(
        start, comma == std::string_view::npos ? std::string_view::npos : comma - start));
    std::string lower = db::Lower(part);
    if (lower.size() > 5 && lower.ends_with(" desc"))
      part = db::Trim(part.substr(0, part.size() - 5));
    if (!db::IsSqlName(part)) {
      throw ComError(db::kErrInvalidRequest, "Invalid report order '" + std::string(order) + "'.",
                     "ReportEngine");
    }
    if (comma == std::string_view::npos) break;
    start = comma + 1;
  }
}

// Drops the work table when the run ends, however it ends.
class WorkTable {
 public:
  WorkTable(db::Connection& cn, std::string name) : cn_(cn), name_(std::move(name)) {}
  ~WorkTable() {
    try {
      if (cn_.IsOpen()) {
        cn_.Execute("if exists(select 1 from tempdb..sysobjects where name=N'" + name_ +
                    "' and xtype=N'U') drop table tempdb.." + name_);
      }
    } catch (...) {
      // A work table that cannot be dropped goes with the process's tempdb.
    }
  }
  WorkTable(const WorkTable&) = delete;
  WorkTable& operator=(const WorkTable&) = delete;

 private:
  db::Connection& cn_;
  std::string name_;
};

}  // namespace

void ReportEngine::SetFilter(std::string_view title, std::string_view sql) {
  filters_.insert_or_assign(std::string(title), ReportFilter(std::string(sql)));
}

const ReportFilter* ReportEngine::ReportFilterByName(std::string_view name) const {
  auto it = filters_.find(name);
  return it == filters_.end() ? nullptr : &it->second;
}

void ReportEngine::Fill(ReportPlugin& plugin, std::string_view title, std::string_view order,
                        const ReportProgress& progress, const Reader& read, const int64_t* rows) {
  if (!order.empty()) RequireOrder(order);
  // The user's filter is SQL from outside: checked before any work, and applied only where the
  // engine reads the detail rows back, outside the rows the plug-in's rights selected and within
  // the bounds of free queries. It can narrow the report, never widen it.
  std::string filter;
  if (const ReportFilter* f = ReportFilterByName(title)) filter = db::Trim(f->SQLString());
  if (!filter.empty()) db::CheckCondition(filter);
  const std::string ordered = order.empty() ? "" : " order by " + std::string(order);
  const std::string replica = session_.ReadConnectionString();
  if (ServedByReplica(replica, [&] {
        return FillOn(replica, true, plugin, title, ordered, filter, progress, read, rows);
      })) {
    return;
  }
  FillOn(session_.ConnectionString(), false, plugin, title, ordered, filter, progress, read, rows);
}

bool ReportEngine::FillOn(const std::string& connection_string, bool replica, ReportPlugin& plugin,
                          std::string_view title, const std::string& ordered,
                          const std::string& filter, const ReportProgress& progress,
                          const Reader& read, const int64_t* rows) {
  db::Connection cn;
  plugin.ObjReportManager = this;
  plugin.ReportTitle = std::string(title);
  plugin.objLogin = &session_;
  plugin.mconn = &cn;
  plugin.ConnectionString = connection_string;
  const int64_t before = rows ? *rows : 0;
  try {
    if (replica && !OpenReplica(cn, connection_string)) return false;
    if (!plugin.OnValidateFilter()) Raise(kErrBusiness, "Rembiz.Report.BadFilter", title);
    std::string detail;
    std::optional<WorkTable> work_table;
    if (progress) progress("fill", 0, 0);
    std::string straight = plugin.DetailQuery();
    if (!straight.empty()) {
      detail = "select * from (" + straight + ")detail";
    } else {
      if (replica) return false;  // a work table is written: the primary's work
      std::string name = WorkTableName(plugin.TempTablename());
      work_table.emplace(cn, name);
      if (!plugin.MoveDataDetail()) Raise(kErrBusiness, "Rembiz.Report.Failed", title);
      detail = "select * from tempdb.." + name;
    }
    if (!cn.IsOpen()) cn.Open(connection_string);
    if (progress) progress("read", 0, 0);
    if (filter.empty()) {
      read(cn, detail + ordered, false);
    } else {
      read(cn, db::FilteredQuery(detail, filter) + ordered, true);
    }
  } catch (const std::exception& e) {
    // Rows already handed on cannot be taken back: then the failure is the caller's.
    if (replica && ReplicaCouldNotServe(cn, e) && (rows ? *rows : 0) == before) {
      return false;
    }
    throw;
  }
  return true;
}

db::Recordset ReportEngine::Run(ReportPlugin& plugin, std::string_view title,
                                std::string_view order, const ReportProgress& progress) {
  db::Recordset rows;
  Fill(plugin, title, order, progress,
       [&](db::Connection& cn, const std::string& sql, bool filtered) {
         if (!filtered) {
           rows = cn.Execute(sql);
           return;
         }
         // Free-query bounds of time, value length and of queries at once; the rows are the
         // report's.
         db::ReadOnlyLimits limits = db::GetReadOnlyLimits();
         limits.max_rows = SIZE_MAX;
         limits.max_bytes = SIZE_MAX;
         rows = cn.ExecuteReadOnly(sql, limits);
       });
  if (progress) progress("read", rows.RecordCount(), rows.RecordCount());
  return rows;
}

namespace {

// Counts what it hands on, the header and the rows, so that a read is only tried again elsewhere
// before anything reached the caller.
class HandOnSink : public db::RowSink {
 public:
  explicit HandOnSink(db::RowSink& sink) : sink_(sink) {}
  void Fields(const std::vector<db::FieldInfo>& fields) override {
    ++count_;
    sink_.Fields(fields);
  }
  void Row(const std::vector<db::Variant>& row) override {
    ++count_;
    sink_.Row(row);
  }
  const int64_t* HandedOn() const { return &count_; }

 private:
  db::RowSink& sink_;
  int64_t count_ = 0;
};

}  // namespace

void ReportEngine::Run(ReportPlugin& plugin, std::string_view title, std::string_view order,
                       db::RowSink& out, const ReportProgress& progress) {
  HandOnSink sink(out);
  Fill(
      plugin, title, order, progress,
      [&](db::Connection& cn, const std::string& sql, bool filtered) {
        // The engine's own statement is read on the read-only path as well, which is the one
        // that hands rows over as they come. Its time includes writing every row, so it is
        // bounded by kOwnReadSeconds, not by the free-query budget a filter keeps.
        db::ReadOnlyLimits limits = db::GetReadOnlyLimits();
        if (!filtered) limits.seconds = std::max(limits.seconds, kOwnReadSeconds);
        limits.max_rows = SIZE_MAX;
        limits.max_bytes = SIZE_MAX;
        cn.ExecuteReadOnly(sql, limits, sink);
      },
      sink.HandedOn());
}

}  // namespace rembiz::host
