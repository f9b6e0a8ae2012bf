#include "app/report_command.h"

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <mutex>
#include <thread>

#include "app/report_export.h"
#include "app/table_printer.h"
#include "db/connection.h"
#include "frame/registry.h"
#include "host/database_setup.h"
#include "host/local_session.h"
#include "host/messages.h"

namespace rembiz::app {
namespace {

constexpr ReportKind kKinds[] = {
    {"loans", "Rembiz.CReportJKTJ", "Rembiz.Report.LoanTitle", "dtloandate,strvouchid"},
    {"claims", "Rembiz.CReportSZTJ", "Rembiz.Report.ClaimTitle", "dtloandate,strvouchid"},
};

constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

using Clock = std::chrono::steady_clock;

// A progress line on standard error for reports that take a while: quiet for the first half
// second, then one line rewritten in place, cleared at the end.
class ProgressLine {
 public:
  explicit ProgressLine(bool show) : show_(show) {
    if (show_) ticker_ = std::thread([this] { Tick(); });
  }
  ~ProgressLine() { Finish(); }
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;

  void Stage(std::string text) {
    std::lock_guard lock(mutex_);
    stage_ = std::move(text);
  }
  void Finish() {
    if (!show_) return;
    {
      std::lock_guard lock(mutex_);
      done_ = true;
    }
    wake_.notify_all();
    if (ticker_.joinable()) ticker_.join();
    if (printed_) std::fputs("\r\033[K", stderr);
    show_ = false;
  }

 private:
  void Tick() {
    std::unique_lock lock(mutex_);
    while (!wake_.wait_for(lock, std::chrono::milliseconds(200), [this] { return done_; })) {
      double seconds = std::chrono::duration<double>(Clock::now() - start_).count();
      if (seconds < 0.5) continue;
      std::fprintf(stderr, "\r\033[Krembiz report: %s (%.1f s)", stage_.c_str(), seconds);
      std::fflush(stderr);
      printed_ = true;
    }
  }

  bool show_;
  bool done_ = false;
  bool printed_ = false;
  Clock::time_point start_ = Clock::now();
  std::string stage_ = "starting";
  std::mutex mutex_;
  std::condition_variable wake_;
  std::thread ticker_;
};

// Passes rows on to a writer and shows every thousandth on the progress line.
class ProgressSink : public db::RowSink {
 public:
  ProgressSink(db::RowSink& next, ProgressLine& progress) : next_(next), progress_(progress) {}
  void Fields(const std::vector<db::FieldInfo>& fields) override { next_.Fields(fields); }
  void Row(const std::vector<db::Variant>& row) override {
    next_.Row(row);
    if (++done_ % 1000 == 0) progress_.Stage(std::to_string(done_) + " rows written");
  }

 private:
  db::RowSink& next_;
  ProgressLine& progress_;
  int64_t done_ = 0;
};

}  // namespace

const ReportKind* FindReportKind(std::string_view name) {
  for (const ReportKind& kind : kKinds) {
    if (kind.name == name) return &kind;
  }
  return nullptr;
}

db::Recordset RunReport(host::Session& session, const ReportKind& kind, std::string_view filter,
                        const host::ReportProgress& progress) {
  host::SetCurrentLanguage(session.LanguageId());
  auto plugin = frame::CreateObjectAs<host::ReportPlugin>(kind.prog_id);
  host::ReportEngine engine(session);
  engine.SetFilter(kind.name, filter);
  return engine.Run(*plugin, kind.name, kind.order, progress);
}

void StreamReport(host::Session& session, const ReportKind& kind, std::string_view filter,
                  db::RowSink& sink, const host::ReportProgress& progress) {
  host::SetCurrentLanguage(session.LanguageId());
  auto plugin = frame::CreateObjectAs<host::ReportPlugin>(kind.prog_id);
  host::ReportEngine engine(session);
  engine.SetFilter(kind.name, filter);
  engine.Run(*plugin, kind.name, kind.order, sink, progress);
}

void WriteReportAnswer(host::Session& session, const ReportKind& kind, std::string_view filter,
                       std::string_view format, std::ostream& out, std::string* content_type) {
  if (format == "json") {
    *content_type = "application/json; charset=utf-8";
    JsonWriter writer([&](std::string_view piece) { out.write(piece.data(), piece.size()); },
                      kind.name);
    StreamReport(session, kind, filter, writer);
    writer.Finish();
    return;
  }
  *content_type = "text/csv; charset=utf-8";
  CsvWriter writer(out);
  StreamReport(session, kind, filter, writer);
}

int RunReportCommand(const ReportCommand& command) {
  const ReportKind* kind = FindReportKind(command.kind);
  if (!kind) {
    std::cerr << "rembiz report: the report is 'loans' or 'claims', not '" << command.kind << "'\n";
    return kExitUsage;
  }
  if (command.format != "table" && command.format != "csv" && command.format != "xlsx") {
    std::cerr << "rembiz report: --format is table, csv or xlsx\n";
    return kExitUsage;
  }
  if (command.format == "xlsx" && command.out.empty()) {
    std::cerr << "rembiz report: --format xlsx needs --out FILE\n";
    return kExitUsage;
  }

  host::DataDir dir(command.data);
  std::string user = command.user;
  if (user.empty()) {
    // Only the demo company has an operator to fall back on; a real company names one.
    db::Connection cn;
    cn.Open(dir.SystemConnectionString());
    if (cn.Execute("select 1 from UA_User where cUser_Id = 'demo'").Eof()) {
      std::cerr << "rembiz report: " << host::MessageText("Rembiz.Report.NoUser", command.language)
                << "\n";
      return kExitUsage;
    }
    user = "demo";
  }
  host::SessionRequest request;
  request.account = command.account;
  request.year = command.year;
  request.user = user;
  request.language = command.language;
  auto session = host::LocalSession::Open(dir, request);

  ProgressLine progress(command.progress || isatty(STDERR_FILENO));
  auto stage = [&](std::string_view step, int64_t, int64_t) {
    progress.Stage(step == "fill" ? "collecting the detail rows" : "reading the detail rows");
  };
  int64_t written = 0;
  if (command.format == "xlsx") {
    // Rows go into the workbook as they are read.
    XlsxWriter writer(command.out, host::MessageText(kind->title_key));
    ProgressSink counted(writer, progress);
    StreamReport(*session, *kind, command.filter, counted, stage);
    writer.Close();
    written = writer.RowsWritten();
  } else {
    std::ofstream file;
    if (!command.out.empty()) {
      file.open(command.out, std::ios::binary);
      if (!file) {
        progress.Finish();
        std::cerr << "rembiz report: cannot write '" << command.out << "'\n";
        return kExitFailed;
      }
    }
    std::ostream& out = command.out.empty() ? std::cout : file;
    if (command.format == "csv") {
      // Rows go out as they are read.
      CsvWriter writer(out);
      ProgressSink counted(writer, progress);
      StreamReport(*session, *kind, command.filter, counted, stage);
      written = writer.RowsWritten();
    } else {
      // A table's columns are as wide as their widest value: it needs every row first.
      db::Recordset rows = RunReport(*session, *kind, command.filter, stage);
      PrintTable(rows, out);
      written = rows.RecordCount();
    }
  }
  progress.Finish();
  if (!command.out.empty()) {
    std::cerr << "rembiz report: " << written << " rows written to " << command.out << "\n";
  }
  return 0;
}

}  // namespace rembiz::app
