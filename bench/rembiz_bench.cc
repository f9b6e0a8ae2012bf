// `make bench`: the figures of the business layer on a generated data set. Every benchmark runs
// a real request through a class's myHandle (or the HTTP service); the table at the end sets each
// figure beside its target and the same figures go to a JSON file.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <httplib.h>
#include <malloc.h>
#include <spdlog/spdlog.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "app/http_service.h"
#include "bench/alloc_count.h"
#include "bench/bench_data.h"
#include "bench/floor.h"
#include "bench/pg_floor.h"
#include "bench/replay.h"
#include "db/connection.h"
#include "db/recordset.h"
#include "db/sqlite/sqlite_functions.h"
#include "db/store.h"
#include "db/test_seams.h"
#include "frame/registry.h"
#include "host/messages.h"
#include "host/receipt_reading.h"
#include "host/receipt_samples.h"
#include "host/report_engine.h"
#include "support/serve_process.h"
#include "xml/document.h"

namespace rembiz::bench {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

struct Options {
  bool quick = false;
  std::vector<int64_t> sizes;
  fs::path data_root;
  fs::path out = "build/bench-results.json";
  bool keep = false;
  double min_time = 0;  // seconds per benchmark; 0: 0.2 quick, 1.0 otherwise
  // A PostgreSQL server ("postgresql://user@host:port/", no database): its figures beside
  // SQLite's. `make bench` starts one (scripts/test-postgres).
  std::string postgres;
  int64_t report_rows = 0;  // loan rows of the report export; 0: 1M, quick 100k
};

// What the benchmarks report, by figure name; a missing figure stays null in the JSON.
std::map<std::string, double>& Figures() {
  static std::map<std::string, double> figures;
  return figures;
}
std::map<std::string, std::string>& Failures() {
  static std::map<std::string, std::string> failures;
  return failures;
}

struct Env {
  std::unique_ptr<host::DataDir> base;  // the smallest data set: saves and reads
  std::unique_ptr<host::LocalSession> session;
  std::unique_ptr<host::LocalSession> second_session;  // account 002 of the same data set
  std::string year;
  std::map<int64_t, std::unique_ptr<host::DataDir>> by_size;
  std::map<int64_t, std::unique_ptr<host::LocalSession>> sessions;
  // The same sized data sets on PostgreSQL, one database each, when a server is given.
  std::map<int64_t, std::unique_ptr<host::DataDir>> pg_by_size;
  std::map<int64_t, std::unique_ptr<host::LocalSession>> pg_sessions;
  std::unique_ptr<host::DataDir> ledger;  // approved claims for ledger voucher generation
  std::unique_ptr<host::LocalSession> ledger_session;
  std::unique_ptr<host::DataDir> pg_base;  // the saves and reads on PostgreSQL
  std::unique_ptr<host::LocalSession> pg_session;
  fs::path logs;  // the logs of the service processes
};
Env& TheEnv() {
  static Env env;
  return env;
}

// The session on the data set of `size` vouchers, on PostgreSQL or SQLite.
host::LocalSession& SizedSession(int64_t size, bool pg) {
  return pg ? *TheEnv().pg_sessions.at(size) : *TheEnv().sessions.at(size);
}

xml::Document Call(const std::string& class_name, const std::string& request,
                   host::Session& session) {
  xml::Document doc;
  if (!doc.LoadXml(request)) throw std::runtime_error("bad request XML: " + request);
  frame::CreateObject("Rembiz." + class_name)->myHandle(&session, doc);
  return doc;
}

bool IsError(const xml::Document& doc) { return !doc.SelectSingleNode("/error").IsNull(); }

std::string Describe(const xml::Document& doc) {
  std::string text = doc.Xml();
  return text.size() > 400 ? text.substr(0, 400) + "..." : text;
}

// REMBIZ_BENCH_STATEMENTS=1: the statements one request sends, as the engine runs them, to read
// beside a query plan.
void ShowStatements(const std::string& class_name, const std::string& request,
                    host::Session& session) {
  if (!std::getenv("REMBIZ_BENCH_STATEMENTS")) return;
  db::StatementRecorder recorder;
  Call(class_name, request, session);
  for (const std::string& sql : recorder.Statements())
    std::fprintf(stderr, "    %s\n", sql.c_str());
}

std::string NextNumber(const char* prefix) {
  static std::atomic<int64_t> counter{0};
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%s%09lld", prefix, static_cast<long long>(++counter));
  return buffer;
}

// ---------------------------------------------------------------------------------------------
// Request benchmarks

void FrameOverhead(benchmark::State& state) {
  Env& env = TheEnv();
  const std::string request = "<req><func name='nosuchoperation'/></req>";
  xml::Document check = Call("CLoan", request, *env.session);
  if (IsError(check)) {
    state.SkipWithError(("request refused: " + Describe(check)).c_str());
    for (auto _ : state) {
    }
    return;
  }
  int64_t before = db::ThreadStatementCount();
  for (auto _ : state) {
    xml::Document doc = Call("CLoan", request, *env.session);
    benchmark::DoNotOptimize(doc);
  }
  state.counters["statements"] = static_cast<double>(db::ThreadStatementCount() - before) /
                                 static_cast<double>(std::max<int64_t>(state.iterations(), 1));
}

// A save benchmark: new voucher per iteration, statements per save as a counter.
void Saves(benchmark::State& state, host::LocalSession& session, const std::string& class_name,
           std::function<std::string(const std::string&)> request, const char* prefix) {
  xml::Document first = Call(class_name, request(NextNumber(prefix)), session);
  if (IsError(first)) {
    state.SkipWithError(("save refused: " + Describe(first)).c_str());
    for (auto _ : state) {
    }
    return;
  }
  int64_t statements = 0;
  int64_t allocations = 0;
  for (auto _ : state) {
    const std::string text = request(NextNumber(prefix));
    int64_t before = db::ThreadStatementCount();
    int64_t allocated = ThreadAllocations();
    {
      xml::Document doc = Call(class_name, text, session);
      benchmark::DoNotOptimize(doc);
    }
    allocations += ThreadAllocations() - allocated;
    statements += db::ThreadStatementCount() - before;
  }
  const double iterations = static_cast<double>(std::max<int64_t>(state.iterations(), 1));
  state.counters["statements"] = static_cast<double>(statements) / iterations;
  state.counters["allocs"] = static_cast<double>(allocations) / iterations;
}

// The same save replayed: record one, take it back, then run its statements through the C API
// and undo each run outside the measured time.
void Replays(benchmark::State& state, const std::string& class_name,
             std::function<std::string(const std::string&)> request, const std::string& head,
             const std::string& rows) {
  Env& env = TheEnv();
  const std::string number = NextNumber("RP");
  std::vector<std::string> recorded;
  {
    db::StatementRecorder recorder;
    xml::Document doc = Call(class_name, request(number), *env.session);
    if (IsError(doc)) {
      state.SkipWithError(("save refused: " + Describe(doc)).c_str());
      for (auto _ : state) {
      }
      return;
    }
    recorded = recorder.Statements();
  }
  // REMBIZ_BENCH_STATEMENTS=1 shows what the save sent, to read beside a profile.
  if (std::getenv("REMBIZ_BENCH_STATEMENTS")) {
    for (const std::string& sql : recorded) std::fprintf(stderr, "    %s\n", sql.c_str());
  }
  db::Connection cn;
  cn.Open(env.session->ConnectionString());
  const std::string guid =
      cn.Execute("select GUID from " + head + " where strVouchID = '" + number + "'").Text("GUID");
  const std::string undo = "DELETE FROM " + rows + " WHERE MGuid = '" + guid + "'; DELETE FROM " +
                           head + " WHERE GUID = '" + guid + "';";
  // The replay talks to the database file itself, beside the connection pool.
  cn.Close();
  sqlite3* db = nullptr;
  std::string file = env.base->Store().Describe(host::DataDir::AccountDatabase("001", env.year));
  if (sqlite3_open(file.c_str(), &db) != SQLITE_OK) {
    sqlite3_close(db);
    state.SkipWithError("the replay cannot open the account database");
    for (auto _ : state) {
    }
    return;
  }
  std::unique_ptr<sqlite3, int (*)(sqlite3*)> owner(db, sqlite3_close);
  db::sqlite::RegisterSqlServerFunctions(db);
  sqlite3_busy_timeout(db, 5000);
  // As the data layer opens the files (WAL, commits without a sync of their own).
  sqlite3_exec(db,
               ("PRAGMA synchronous=NORMAL; ATTACH DATABASE '" +
                env.base->Store().Describe(std::string(db::kSystemDatabase)) +
                "' AS qdsystem; PRAGMA qdsystem.synchronous=NORMAL; ATTACH DATABASE ':memory:' AS "
                "tempdb;")
                   .c_str(),
               nullptr, nullptr, nullptr);
  sqlite3_exec(db, undo.c_str(), nullptr, nullptr, nullptr);
  Replay replay(db, recorded);
  for (auto _ : state) {
    Clock::time_point start = Clock::now();
    replay.Run();
    state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
    if (sqlite3_exec(db, undo.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) {
      state.SkipWithError(sqlite3_errmsg(db));
      break;
    }
  }
  state.counters["statements"] = static_cast<double>(replay.Size());
}

std::string ClaimReadRequest(const std::string& guid) {
  return "<req><func name='getVouchByGUID'><in><GUID>" + guid +
         "</GUID></in></func><func name='vchgetloanheaddata'><in><row/></in></func>"
         "<func name='vchgetloanbodydata'><in><row/></in></func></req>";
}

void ClaimRead(benchmark::State& state, host::LocalSession& session) {
  Env& env = TheEnv();
  const std::string number = NextNumber("RD");
  xml::Document saved = Call("CExpense", ClaimSaveRequest(env.year, number), session);
  db::Connection cn;
  cn.Open(session.ConnectionString());
  const std::string guid =
      IsError(saved)
          ? ""
          : cn.Execute("select GUID from EC_ExpenVouch where strVouchID = '" + number + "'")
                .Text("GUID");
  const std::string request = ClaimReadRequest(guid);
  xml::Document check = Call("CExpense", request, session);
  if (guid.empty() || IsError(check) || check.SelectNodes("//rs:data/z:row").size() != 6) {
    state.SkipWithError(("claim read failed: " + Describe(IsError(saved) ? saved : check)).c_str());
    for (auto _ : state) {
    }
    return;
  }
  if (std::getenv("REMBIZ_BENCH_STATEMENTS")) {
    db::StatementRecorder recorder;
    Call("CExpense", request, session);
    for (const std::string& sql : recorder.Statements())
      std::fprintf(stderr, "    %s\n", sql.c_str());
  }
  int64_t allocations = 0;
  int64_t statements = 0;
  for (auto _ : state) {
    int64_t allocated = ThreadAllocations();
    int64_t before = db::ThreadStatementCount();
    {
      xml::Document doc = Call("CExpense", request, session);
      benchmark::DoNotOptimize(doc);
    }
    statements += db::ThreadStatementCount() - before;
    allocations += ThreadAllocations() - allocated;
  }
  const double iterations = static_cast<double>(std::max<int64_t>(state.iterations(), 1));
  state.counters["allocs"] = static_cast<double>(allocations) / iterations;
  state.counters["statements"] = static_cast<double>(statements) / iterations;
}

// ---------------------------------------------------------------------------------------------
// The hand-written floors (floor.h) on the saves' data set: the claim save undone outside the
// measured time, the claim read checked once against the full stack's answer.

std::unique_ptr<sqlite3, int (*)(sqlite3*)> OpenFloorDatabase() {
  Env& env = TheEnv();
  return OpenAccountFile(
      env.base->Store().Describe(host::DataDir::AccountDatabase("001", env.year)),
      env.base->Store().Describe(std::string(db::kSystemDatabase)));
}

// A floor benchmark that could not start.
void FloorRefused(benchmark::State& state, const std::exception& e) {
  state.SkipWithError(e.what());
  for (auto _ : state) {
  }
}

void ClaimSaveFloorRuns(benchmark::State& state) {
  Env& env = TheEnv();
  std::unique_ptr<sqlite3, int (*)(sqlite3*)> db(nullptr, sqlite3_close);
  std::unique_ptr<ClaimSaveFloor> floor;
  try {
    db = OpenFloorDatabase();
    floor = std::make_unique<ClaimSaveFloor>(db.get());
  } catch (const std::exception& e) {
    return FloorRefused(state, e);
  }
  for (auto _ : state) {
    try {
      const FloorClaim claim{env.year, NextNumber("FL")};
      Clock::time_point start = Clock::now();
      floor->Run(claim);
      state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
    } catch (const std::exception& e) {
      state.SkipWithError(e.what());
      break;
    }
    const std::string undo = "DELETE FROM EC_ExpenVouch_Sub WHERE MGuid = '" + floor->LastGuid() +
                             "'; DELETE FROM EC_ExpenVouch WHERE GUID = '" + floor->LastGuid() +
                             "';";
    sqlite3_exec(db.get(), undo.c_str(), nullptr, nullptr, nullptr);
  }
}

void ClaimReadFloorRuns(benchmark::State& state) {
  Env& env = TheEnv();
  const std::string number = NextNumber("RF");
  xml::Document saved = Call("CExpense", ClaimSaveRequest(env.year, number), *env.session);
  db::Connection cn;
  cn.Open(env.session->ConnectionString());
  const std::string guid =
      cn.Execute("select GUID from EC_ExpenVouch where strVouchID = '" + number + "'").Text("GUID");
  cn.Close();
  const std::string expected = Call("CExpense", ClaimReadRequest(guid), *env.session).Xml();
  std::unique_ptr<sqlite3, int (*)(sqlite3*)> db(nullptr, sqlite3_close);
  std::unique_ptr<ClaimReadFloor> floor;
  try {
    db = OpenFloorDatabase();
    const std::string language = env.session->LanguageId();
    floor = std::make_unique<ClaimReadFloor>(db.get(), language,
                                             host::MessageText("Q7.Rembiz.0446", language));
    std::string first = floor->Learn(expected) ? floor->Run(guid) : "";
    if (first != expected) {
      size_t at = 0;
      while (at < first.size() && at < expected.size() && first[at] == expected[at]) ++at;
      throw std::runtime_error("the floor answers otherwise at byte " + std::to_string(at) + ": " +
                               first.substr(at, 80) + " / " + expected.substr(at, 80));
    }
  } catch (const std::exception& e) {
    return FloorRefused(state, e);
  }
  for (auto _ : state) {
    std::string answer = floor->Run(guid);
    benchmark::DoNotOptimize(answer);
  }
}

// The same floors on PostgreSQL (pg_floor.h), on the PostgreSQL saves' data set; the claim save
// is undone on a connection of its own.
void PgClaimSaveFloorRuns(benchmark::State& state) {
  Env& env = TheEnv();
  PgHandle conn(nullptr, nullptr);
  PgHandle undo(nullptr, nullptr);
  std::unique_ptr<PgClaimSaveFloor> floor;
  try {
    conn = OpenAccountSchema(env.pg_session->ConnectionString());
    undo = OpenAccountSchema(env.pg_session->ConnectionString());
    floor = std::make_unique<PgClaimSaveFloor>(conn.get());
  } catch (const std::exception& e) {
    return FloorRefused(state, e);
  }
  for (auto _ : state) {
    try {
      const FloorClaim claim{env.year, NextNumber("PF")};
      Clock::time_point start = Clock::now();
      floor->Run(claim);
      state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
      PgExecute(undo.get(), "DELETE FROM ec_expenvouch_sub WHERE mguid = '" + floor->LastGuid() +
                                "'; DELETE FROM ec_expenvouch WHERE guid = '" + floor->LastGuid() +
                                "';");
    } catch (const std::exception& e) {
      state.SkipWithError(e.what());
      break;
    }
  }
}

void PgClaimReadFloorRuns(benchmark::State& state) {
  Env& env = TheEnv();
  const std::string number = NextNumber("PR");
  Call("CExpense", ClaimSaveRequest(env.year, number), *env.pg_session);
  db::Connection cn;
  cn.Open(env.pg_session->ConnectionString());
  const std::string guid =
      cn.Execute("select GUID from EC_ExpenVouch where strVouchID = '" + number + "'").Text("GUID");
  cn.Close();
  const std::string expected = Call("CExpense", ClaimReadRequest(guid), *env.pg_session).Xml();
  PgHandle conn(nullptr, nullptr);
  std::unique_ptr<PgClaimReadFloor> floor;
  try {
    conn = OpenAccountSchema(env.pg_session->ConnectionString());
    const std::string language = env.pg_session->LanguageId();
    floor = std::make_unique<PgClaimReadFloor>(conn.get(), language,
                                               host::MessageText("Q7.Rembiz.0446", language));
    std::string first = floor->Learn(expected) ? floor->Run(guid) : "";
    if (first != expected) {
      size_t at = 0;
      while (at < first.size() && at < expected.size() && first[at] == expected[at]) ++at;
      throw std::runtime_error("the floor answers otherwise at byte " + std::to_string(at) + ": " +
                               first.substr(at, 80) + " / " + expected.substr(at, 80));
    }
  } catch (const std::exception& e) {
    return FloorRefused(state, e);
  }
  for (auto _ : state) {
    std::string answer = floor->Run(guid);
    benchmark::DoNotOptimize(answer);
  }
}

// Claim saves through two `rembiz serve` processes on one data location, as behind a load
// balancer: eight clients, each alternating between the processes, for `seconds`. The one
// iteration's time is the time per save, so the figure is saves per second of both together.
void ProcessSaves(benchmark::State& state, const host::DataDir& data, double seconds) {
  Env& env = TheEnv();
  const std::string location = data.Describe();
  const std::string args = (data.Store().IsServer() ? "--db '" : "--data '") + location + "'";
  const std::string tag = data.Store().IsServer() ? "pg" : "sqlite";
  testing::ServeProcess a(REMBIZ_BIN, args, env.logs / (tag + "-a.log"), 2);
  testing::ServeProcess b(REMBIZ_BIN, args, env.logs / (tag + "-b.log"), 2);
  const std::string token = a.Port() && b.Port() ? a.Login("demo") : "";
  if (token.empty()) {
    state.SkipWithError("the service processes did not start");
    for (auto _ : state) {
    }
    return;
  }
  constexpr int kClients = 8;
  for (auto _ : state) {
    std::atomic<int64_t> saved = 0;
    std::atomic<bool> failed = false;
    const Clock::time_point start = Clock::now();
    const Clock::time_point end =
        start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    std::vector<std::thread> clients;
    for (int c = 0; c < kClients; ++c) {
      clients.emplace_back([&, c] {
        for (int i = 0; Clock::now() < end && !failed; ++i) {
          const testing::ServeProcess& to = (c + i) % 2 == 0 ? a : b;
          if (testing::Answered(
                  to.Post("/api/CExpense", ClaimSaveRequest(env.year, NextNumber("MP")), token))) {
            ++saved;
          } else {
            failed = true;
          }
        }
      });
    }
    for (std::thread& client : clients) client.join();
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    if (failed || saved == 0) {
      state.SkipWithError("a save through the service processes failed");
      break;
    }
    state.SetIterationTime(elapsed / static_cast<double>(saved));
    state.counters["saves"] = static_cast<double>(saved);
  }
}

// ---------------------------------------------------------------------------------------------
// Writers of different accounts: claim saves in-process for `seconds`, by one thread on account
// 001 or by two threads, one per account. The one iteration's time is the time per save of all
// threads together, so two_accounts_ratio is how much the second account adds.

void AccountSaves(benchmark::State& state, int threads, double seconds) {
  Env& env = TheEnv();
  host::LocalSession* sessions[] = {env.session.get(), env.second_session.get()};
  for (host::LocalSession* session : sessions) {
    xml::Document first = Call("CExpense", ClaimSaveRequest(env.year, NextNumber("TA")), *session);
    if (IsError(first)) {
      state.SkipWithError(("save refused: " + Describe(first)).c_str());
      for (auto _ : state) {
      }
      return;
    }
  }
  for (auto _ : state) {
    std::atomic<int64_t> saved = 0;
    std::atomic<bool> failed = false;
    const Clock::time_point start = Clock::now();
    const Clock::time_point end =
        start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    std::vector<std::thread> writers;
    for (int t = 0; t < threads; ++t) {
      writers.emplace_back([&, t] {
        while (Clock::now() < end && !failed) {
          xml::Document doc =
              Call("CExpense", ClaimSaveRequest(env.year, NextNumber("TA")), *sessions[t % 2]);
          if (IsError(doc)) failed = true;
          ++saved;
        }
      });
    }
    for (std::thread& writer : writers) writer.join();
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    if (failed || saved == 0) {
      state.SkipWithError("a save of the account writers failed");
      break;
    }
    state.SetIterationTime(elapsed / static_cast<double>(saved));
    state.counters["saves"] = static_cast<double>(saved);
  }
}

// `rembiz serve` on a free loopback port in this process, stopped when it goes out of scope.
struct InProcessService {
  explicit InProcessService(const std::string& data_dir) : service(Options(data_dir)) {
    port = service.Bind();
    runner = std::thread([this] { service.Run(); });
  }
  ~InProcessService() {
    service.Stop();
    runner.join();
  }
  static app::ServeOptions Options(const std::string& data_dir) {
    spdlog::set_level(spdlog::level::warn);
    app::ServeOptions options;
    options.data_dir = data_dir;
    options.port = 0;
    options.record_sessions = false;
    return options;
  }
  app::HttpService service;
  int port = 0;
  std::thread runner;
};

// Claim saves over HTTP: eight clients on kept-alive connections, half of them on account 001
// and half on 002, for `seconds`; every save's time is taken, for the percentiles of the wait a
// user sees. The one iteration's time is the time per save.
constexpr int kHttpSaveClients = 8;

void HttpSaves(benchmark::State& state, double seconds) {
  Env& env = TheEnv();
  InProcessService service(env.base->Describe());
  const int port = service.port;

  std::string tokens[2];
  for (int a = 0; a < 2; ++a) {
    httplib::Client login("127.0.0.1", port);
    httplib::Result r =
        login.Post("/api/login", httplib::Params{{"user", "demo"},
                                                 {"password", "demo"},
                                                 {"account", a == 0 ? "001" : "002"}});
    std::smatch m;
    std::string body = r ? r->body : "";
    if (!r || r->status != 200 ||
        !std::regex_search(body, m, std::regex("token=\"([0-9a-f]+)\""))) {
      state.SkipWithError(("login failed: " + body).c_str());
      for (auto _ : state) {
      }
      return;
    }
    tokens[a] = m[1];
  }
  for (auto _ : state) {
    std::vector<std::vector<double>> waits(kHttpSaveClients);
    std::atomic<bool> failed = false;
    const Clock::time_point start = Clock::now();
    const Clock::time_point end =
        start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    std::vector<std::thread> clients;
    for (int c = 0; c < kHttpSaveClients; ++c) {
      clients.emplace_back([&, c] {
        httplib::Client client("127.0.0.1", port);
        client.set_keep_alive(true);
        client.set_tcp_nodelay(true);
        client.set_read_timeout(30, 0);
        const httplib::Headers headers{{"Authorization", "Bearer " + tokens[c % 2]}};
        while (Clock::now() < end && !failed) {
          const std::string request = ClaimSaveRequest(env.year, NextNumber("HS"));
          const Clock::time_point sent = Clock::now();
          httplib::Result result =
              client.Post("/api/CExpense", headers, request, "application/xml");
          waits[c].push_back(
              std::chrono::duration<double, std::milli>(Clock::now() - sent).count());
          if (!result || result->status != 200 ||
              result->body.find("<error") != std::string::npos) {
            failed = true;
          }
        }
      });
    }
    for (std::thread& client : clients) client.join();
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    std::vector<double> all;
    for (const auto& w : waits) all.insert(all.end(), w.begin(), w.end());
    if (failed || all.empty()) {
      state.SkipWithError("a save over HTTP failed");
      break;
    }
    std::sort(all.begin(), all.end());
    state.SetIterationTime(elapsed / static_cast<double>(all.size()));
    state.counters["saves"] = static_cast<double>(all.size());
    state.counters["p50_ms"] = all[all.size() / 2];
    state.counters["p99_ms"] = all[std::min(all.size() - 1, all.size() * 99 / 100)];
    state.counters["max_ms"] = all.back();
  }
}

// Times `request` on `class_name`, once its first answer is one that `accepted` takes; the
// statements per call go to the counters. False, the benchmark skipped, when it is not.
bool TimeCalls(benchmark::State& state, host::LocalSession& session, const std::string& class_name,
               const std::string& request, const char* what,
               const std::function<bool(const xml::Document&)>& accepted) {
  xml::Document check = Call(class_name, request, session);
  if (IsError(check) || !accepted(check)) {
    state.SkipWithError((std::string(what) + " failed: " + Describe(check)).c_str());
    for (auto _ : state) {
    }
    return false;
  }
  ShowStatements(class_name, request, session);
  int64_t statements = 0;
  for (auto _ : state) {
    int64_t before = db::ThreadStatementCount();
    xml::Document doc = Call(class_name, request, session);
    statements += db::ThreadStatementCount() - before;
    benchmark::DoNotOptimize(doc);
  }
  state.counters["statements"] = static_cast<double>(statements) /
                                 static_cast<double>(std::max<int64_t>(state.iterations(), 1));
  return true;
}

// A list request over a data set of `size` generated vouchers, of which it must answer at least
// `least` rows; rows answered and statements per call as counters (a per-row statement shows as
// statements growing with the size).
void OverSize(benchmark::State& state, host::LocalSession& session, int64_t least,
              const std::string& class_name, const std::string& request,
              const std::string& row_path) {
  size_t rows = 0;
  const bool timed =
      TimeCalls(state, session, class_name, request, "list", [&](const xml::Document& check) {
        rows = check.SelectNodes(row_path).size();
        return rows >= static_cast<size_t>(least);
      });
  if (timed) state.counters["rows"] = static_cast<double>(rows);
}

// One page of CQuery's loan list over a data set of `size` generated vouchers: the first page
// and one deep in the list (the last), 20 rows each. Paging counts the keys and bounds the page
// by them, so the time of a page should barely grow with the list.
void ListPage(benchmark::State& state, host::LocalSession& session, bool last) {
  const std::string request = "<req><func name='listloandata'><in><page><current>" +
                              std::string(last ? "999999999" : "0") +
                              "</current><rows>20</rows></page><cond/></in></func></req>";
  TimeCalls(state, session, "CQuery", request, "list page", [](const xml::Document& check) {
    return check.SelectNodes("//data/row").size() == 20;
  });
}

// An analysis of CReport over a data set: the loan ageing by department (periods of 30, 60, 90
// and 180 days and older, taken at the year's end) or the summary of loans by department and
// operation type. Both read every loan they count; the answer is one page of groups.
std::string AnalysisRequest(bool ageing, const std::string& year) {
  const std::string page = "<page><current>0</current><rows>1000</rows></page><cond/>";
  if (!ageing) {
    return "<req><func name='typecollectdata'><in>" + page +
           "<type><row name='strtype' value='0'/><row name='stritem' value='部门'/>"
           "<row name='strshow' value='0'/></type></in></func></req>";
  }
  return "<req><func name='loanagedata'><in>" + page +
         "<type><row name='stritem' value='部门'/><row name='dtdate' value='" + year +
         "-12-31'/></type><age><age><row cdays='30' name='30'/><row cdays='60' name='60'/>"
         "<row cdays='90' name='90'/><row cdays='180' name='180'/><row cdays='' name='older'/>"
         "</age></age></in></func></req>";
}

void Analysis(benchmark::State& state, host::LocalSession& session, bool ageing) {
  const std::string request = AnalysisRequest(ageing, TheEnv().year);
  TimeCalls(state, session, "CReport", request, "analysis",
            [](const xml::Document& check) { return !check.SelectNodes("//data/row").empty(); });
}

// Counts the rows the report engine hands over and keeps the last, as a writer would take them.
class RowCounter : public db::RowSink {
 public:
  void Fields(const std::vector<db::FieldInfo>&) override {}
  void Row(const std::vector<db::Variant>& row) override {
    ++rows;
    benchmark::DoNotOptimize(row);
  }
  int64_t rows = 0;
};

// The loan report of `rembiz report loans` through the report engine: every detail row in the
// command's order, or, with a filter, the rows of one voucher (the filter picks voucher
// `filter_voucher`). Rows per call as a counter.
void ReportRows(benchmark::State& state, host::LocalSession& session,
                const std::string& filter_voucher) {
  auto run = [&] {
    auto plugin = frame::CreateObjectAs<host::ReportPlugin>("Rembiz.CReportJKTJ");
    host::ReportEngine engine(session);
    if (!filter_voucher.empty()) engine.SetFilter("loans", "strvouchid='" + filter_voucher + "'");
    RowCounter counter;
    engine.Run(*plugin, "loans", "dtloandate,strvouchid", counter);
    return counter.rows;
  };
  int64_t rows = 0;
  try {
    rows = run();
    if (rows == 0) throw std::runtime_error("the report has no rows");
  } catch (const std::exception& e) {
    state.SkipWithError((std::string("report failed: ") + e.what()).c_str());
    for (auto _ : state) {
    }
    return;
  }
  for (auto _ : state) benchmark::DoNotOptimize(run());
  state.counters["rows"] = static_cast<double>(rows);
}

// ---------------------------------------------------------------------------------------------
// Ledger voucher generation: one "makepz" over the first N generated claims, merged into one
// voucher (con="1"). The draft stages, normalises, merges and stamps the lines and changes no
// source, so it repeats as it is; the save also has the ledger save the voucher and links every
// claim, and is undone outside the measured time. Statements are counted per claim.

std::string LedgerSources(db::Connection& cn, int64_t claims) {
  db::Recordset rs = cn.Execute(
      "select GUID, strVouchID, cast(ts as money) as ts from EC_ExpenVouch where strVouchID "
      "like 'LG%' order by strVouchID limit " +
      std::to_string(claims));
  std::string rows;
  for (; !rs.Eof(); rs.MoveNext()) {
    rows += "<row strtypecode='201' guid='" + rs.Text("GUID") + "' ts='" + rs.Text("ts") +
            "' strvouchid='" + rs.Text("strVouchID") + "'/>";
  }
  return rows;
}

std::string MakePZRequest(const std::string& sources, bool save, const std::string& year) {
  return "<req><func name='makepz'><in con='1'><pztype>记</pztype><pzdate>" + year +
         "-03-28</pzdate><blnTemp>" + (save ? "0" : "1") + "</blnTemp><rows>" + sources +
         "</rows></in>" + (save ? "<daily>" + sources + "</daily>" : "") + "</func></req>";
}

void LedgerGeneration(benchmark::State& state, int64_t claims, bool save) {
  Env& env = TheEnv();
  host::LocalSession& session = *env.ledger_session;
  db::Connection cn;
  cn.Open(session.ConnectionString());
  auto undo = [&] {
    cn.Execute("delete from GL_accvouch");
    cn.Execute(
        "update EC_ExpenVouch set PZGUID = null, strMakerID = null where strVouchID like "
        "'LG%'");
  };
  auto made = [](const xml::Document& doc, bool saved) {
    if (IsError(doc) || !doc.SelectSingleNode("//out/error").IsNull()) return false;
    return !saved || !doc.SelectSingleNode("//out/Return").Attr("strpzcode").empty();
  };
  std::string request = MakePZRequest(LedgerSources(cn, claims), save, env.year);
  xml::Document check = Call("CMakePZ", request, session);
  if (save) undo();
  if (!made(check, save)) {
    state.SkipWithError(("makepz failed: " + Describe(check)).c_str());
    for (auto _ : state) {
    }
    return;
  }
  int64_t statements = 0;
  for (auto _ : state) {
    if (save) request = MakePZRequest(LedgerSources(cn, claims), true, env.year);
    int64_t before = db::ThreadStatementCount();
    Clock::time_point start = Clock::now();
    xml::Document doc = Call("CMakePZ", request, session);
    state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
    statements += db::ThreadStatementCount() - before;
    if (save) {
      bool ok = made(doc, true);
      undo();
      if (!ok) {
        state.SkipWithError(("makepz failed: " + Describe(doc)).c_str());
        break;
      }
    }
  }
  state.counters["statements_per_claim"] =
      static_cast<double>(statements) /
      static_cast<double>(std::max<int64_t>(state.iterations(), 1) * claims);
}

// ---------------------------------------------------------------------------------------------
// HTTP: four client threads on loopback, each a bounded number of read requests per iteration,
// on a connection per request or on one kept-alive connection per client.

constexpr int kHttpClients = 4;
constexpr int kHttpRequestsPerClient = 50;

void HttpReads(benchmark::State& state, bool keep_alive) {
  Env& env = TheEnv();
  InProcessService service(env.base->Describe());
  const int port = service.port;

  httplib::Client login("127.0.0.1", port);
  httplib::Result r =
      login.Post("/api/login", httplib::Params{{"user", "demo"}, {"password", "demo"}});
  std::smatch m;
  std::string body = r ? r->body : "";
  if (!r || r->status != 200 || !std::regex_search(body, m, std::regex("token=\"([0-9a-f]+)\""))) {
    state.SkipWithError(("login failed: " + body).c_str());
    for (auto _ : state) {
    }
    return;
  }
  const std::string token = m[1];
  db::Connection cn;
  cn.Open(env.session->ConnectionString());
  const std::string guid =
      cn.Execute("select GUID from EC_LoanVouch where strVouchID = 'GEN00000001'").Text("GUID");
  const std::string request = ClaimReadRequest(guid);
  const httplib::Headers headers{{"Authorization", "Bearer " + token}};
  std::atomic<int64_t> failed{0};

  for (auto _ : state) {
    std::vector<std::thread> clients;
    for (int c = 0; c < kHttpClients; ++c) {
      clients.emplace_back([&] {
        httplib::Client client("127.0.0.1", port);
        client.set_keep_alive(keep_alive);
        // As browsers and HTTP libraries do: a small request is not held back for an ACK.
        client.set_tcp_nodelay(true);
        client.set_read_timeout(30, 0);
        for (int i = 0; i < kHttpRequestsPerClient; ++i) {
          httplib::Result result = client.Post("/api/CLoan", headers, request, "application/xml");
          if (!result || result->status != 200 || result->body.find("<error") != std::string::npos)
            ++failed;
        }
      });
    }
    for (std::thread& client : clients) client.join();
  }
  if (failed > 0) state.SkipWithError((std::to_string(failed) + " HTTP reads failed").c_str());
  state.counters["requests"] = kHttpClients * kHttpRequestsPerClient;
}

// ---------------------------------------------------------------------------------------------
// Receipts

// Reading one receipt: the generated image of the receipt tests (four lines of English, 300 dpi
// PNG) through libvips and tesseract, the engine already loaded as in a running service.
void ReceiptRead(benchmark::State& state) {
  const std::string png = testing::Encoded(
      testing::TextPage("RECEIPT\nDate: 2026-12-07\nInvoice No: 12345678\nTotal: 123.45"), ".png");
  host::PrepareReceiptReading();
  for (auto _ : state) {
    host::ReceiptReading reading = host::ReadReceipt(png, "image/png", std::chrono::seconds(60));
    if (reading.amount != "123.45" || reading.date != "2026-12-07") {
      state.SkipWithError(("receipt read as: " + reading.text).c_str());
      break;
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Figures

struct Measured {
  double ns = 0;  // real time per iteration
  std::map<std::string, double> counters;
};

class Collector : public benchmark::BenchmarkReporter {
 public:
  bool ReportContext(const Context&) override { return true; }
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      const std::string name = run.run_name.function_name;
      if (run.error_occurred) {
        Failures()[name] = run.error_message;
        std::fprintf(stderr, "  %-24s FAILED: %s\n", name.c_str(), run.error_message.c_str());
        continue;
      }
      Measured m;
      m.ns = run.GetAdjustedRealTime();
      for (const auto& [key, counter] : run.counters) m.counters[key] = counter.value;
      results[name] = m;
      std::fprintf(stderr, "  %-24s %12.1f us/iteration (%lld iterations)\n", name.c_str(),
                   m.ns / 1000.0, static_cast<long long>(run.iterations));
    }
  }
  std::map<std::string, Measured> results;
};

// The benchmarks run at every data set size, by the first word of their names.
constexpr const char* kSizedKinds[] = {"navigate", "selectget", "listpage", "listlast",
                                       "loanage",  "summary",   "report",   "report_one"};

// Those that read every voucher: linear at best.
constexpr const char* kLinearKinds[] = {"navigate", "selectget", "loanage", "summary", "report"};

struct Row {
  std::string figure;
  std::string unit;
  std::string target;  // "" without a target
  std::function<bool(double)> meets;
};

std::string SizeLabel(int64_t size) {
  if (size % 1'000'000 == 0) return std::to_string(size / 1'000'000) + "M";
  return size % 1000 == 0 ? std::to_string(size / 1000) + "k" : std::to_string(size);
}

// Claims in the ledger generation benchmarks.
std::vector<int64_t> LedgerSizes(bool quick) {
  return quick ? std::vector<int64_t>{100, 1000} : std::vector<int64_t>{100, 1000, 4000};
}

void DeriveFigures(const Collector& collector, const std::vector<int64_t>& sizes,
                   const std::vector<int64_t>& ledger_sizes) {
  auto& figures = Figures();
  auto find = [&](const std::string& name) -> const Measured* {
    auto it = collector.results.find(name);
    return it == collector.results.end() ? nullptr : &it->second;
  };
  auto per_second = [&](const std::string& name, const std::string& figure, double per = 1) {
    if (const Measured* m = find(name)) figures[figure] = per * 1e9 / m->ns;
  };
  per_second("frame/unknown_func", "frame_rps");
  if (const Measured* m = find("frame/unknown_func")) {
    figures["frame_statements"] = m->counters.at("statements");
  }
  per_second("loan/save", "loan_save_ps");
  per_second("claim/save", "claim_save_ps");
  per_second("claim/read", "claim_read_ps");
  // Against the hand-written floors, and the heap allocations of one operation.
  if (const Measured* save = find("claim/save")) {
    figures["claim_save_allocs"] = save->counters.at("allocs");
    if (const Measured* floor = find("claim/save_floor")) {
      figures["claim_save_floor_ratio"] = save->ns / floor->ns;
      figures["claim_save_floor_us"] = floor->ns / 1000.0;
    }
  }
  if (const Measured* read = find("claim/read")) {
    figures["claim_read_allocs"] = read->counters.at("allocs");
    figures["claim_read_statements"] = read->counters.at("statements");
    if (const Measured* floor = find("claim/read_floor")) {
      figures["claim_read_floor_ratio"] = read->ns / floor->ns;
      figures["claim_read_floor_us"] = floor->ns / 1000.0;
    }
  }
  per_second("processes/claim_save", "two_processes_saves_ps");
  per_second("pg/claim/save", "pg_claim_save_ps");
  per_second("pg/claim/read", "pg_claim_read_ps");
  for (const char* kind : {"save", "read"}) {
    const Measured* full = find(std::string("pg/claim/") + kind);
    const Measured* floor = find(std::string("pg/claim/") + kind + "_floor");
    if (floor) figures[std::string("pg_claim_") + kind + "_floor_us"] = floor->ns / 1000.0;
    if (full && floor)
      figures[std::string("pg_claim_") + kind + "_floor_ratio"] = full->ns / floor->ns;
  }
  per_second("pg/processes/claim_save", "pg_two_processes_saves_ps");
  per_second("http/read", "http_rps", kHttpClients * kHttpRequestsPerClient);
  per_second("http/read_keepalive", "http_keepalive_rps", kHttpClients * kHttpRequestsPerClient);
  if (const Measured* m = find("receipt/read")) figures["receipt_read_ms"] = m->ns / 1e6;
  per_second("accounts/one", "one_account_saves_ps");
  per_second("accounts/two", "two_accounts_saves_ps");
  if (const Measured* one = find("accounts/one")) {
    if (const Measured* two = find("accounts/two"))
      figures["two_accounts_ratio"] = one->ns / two->ns;
  }
  if (const Measured* m = find("http/claim_save")) {
    figures["http_save_ps"] = 1e9 / m->ns;
    figures["http_save_p50_ms"] = m->counters.at("p50_ms");
    figures["http_save_p99_ms"] = m->counters.at("p99_ms");
    figures["http_save_max_ms"] = m->counters.at("max_ms");
  }
  for (const char* kind : {"loan", "claim"}) {
    const Measured* save = find(std::string(kind) + "/save");
    const Measured* replay = find(std::string(kind) + "/replay");
    if (save) figures[std::string(kind) + "_save_statements"] = save->counters.at("statements");
    if (save && replay) figures[std::string(kind) + "_save_replay_ratio"] = save->ns / replay->ns;
    if (replay) figures[std::string(kind) + "_replay_us"] = replay->ns / 1000.0;
  }
  for (const char* engine : {"", "pg"}) {
    const std::string run = *engine ? std::string(engine) + "/" : "";
    const std::string figure = *engine ? std::string(engine) + "_" : "";
    for (int64_t size : sizes) {
      const std::string label = SizeLabel(size);
      for (const char* kind : kSizedKinds) {
        const Measured* m = find(run + kind + "/" + std::to_string(size));
        if (!m) continue;
        figures[figure + kind + "_ms_" + label] = m->ns / 1e6;
        auto statements = m->counters.find("statements");
        if (statements != m->counters.end()) {
          figures[figure + kind + "_statements_" + label] = statements->second;
        }
      }
    }
    if (sizes.size() < 2) continue;
    // A page, and the report of one voucher, cost about the same over any number of vouchers:
    // the time over the largest data set against the smallest.
    auto ms = [&](const char* kind, int64_t size) {
      auto it = figures.find(figure + kind + "_ms_" + SizeLabel(size));
      return it == figures.end() ? 0.0 : it->second;
    };
    for (const char* kind : {"listpage", "listlast", "report_one"}) {
      if (ms(kind, sizes.front()) > 0 && ms(kind, sizes.back()) > 0)
        figures[figure + kind + "_ratio"] = ms(kind, sizes.back()) / ms(kind, sizes.front());
    }
    // What reads every voucher grows with them, and no faster: the time per voucher over the
    // largest data set against the next smaller one.
    const int64_t large = sizes.back(), smaller = sizes[sizes.size() - 2];
    for (const char* kind : kLinearKinds) {
      if (ms(kind, smaller) > 0 && ms(kind, large) > 0) {
        figures[figure + kind + "_growth"] = (ms(kind, large) / static_cast<double>(large)) /
                                             (ms(kind, smaller) / static_cast<double>(smaller));
      }
    }
  }
  for (int64_t size : ledger_sizes) {
    for (const char* kind : {"draft", "save"}) {
      if (const Measured* m = find(std::string("ledger/") + kind + "/" + std::to_string(size))) {
        const std::string label = SizeLabel(size);
        figures[std::string("makepz_") + kind + "_ms_" + label] = m->ns / 1e6;
        figures[std::string("makepz_") + kind + "_statements_per_claim_" + label] =
            m->counters.at("statements_per_claim");
      }
    }
  }
}

std::string Number(double value) {
  char buffer[64];
  if (std::fabs(value) >= 100) {
    std::snprintf(buffer, sizeof buffer, "%.0f", value);
  } else {
    std::snprintf(buffer, sizeof buffer, "%.3g", value);
  }
  return buffer;
}

void PrintTable(const std::vector<int64_t>& sizes, const std::vector<int64_t>& ledger_sizes) {
  auto at_least = [](double t) { return [t](double v) { return v >= t; }; };
  auto at_most = [](double t) { return [t](double v) { return v <= t; }; };
  std::vector<Row> rows = {
      {"frame_rps", "req/s", ">= 20000", at_least(20000)},
      {"frame_statements", "stmts", "", nullptr},
      {"loan_save_ps", "saves/s", ">= 4500", at_least(4500)},
      {"loan_save_statements", "stmts", "", nullptr},
      {"claim_save_ps", "saves/s", ">= 2500", at_least(2500)},
      {"claim_save_statements", "stmts", "", nullptr},
      {"claim_read_ps", "reads/s", ">= 12000", at_least(12000)},
      {"claim_read_statements", "stmts", "", nullptr},
      {"claim_save_floor_us", "us", "", nullptr},
      {"claim_save_floor_ratio", "x", "<= 1.5", at_most(1.5)},
      {"claim_read_floor_us", "us", "", nullptr},
      {"claim_read_floor_ratio", "x", "<= 2.0", at_most(2.0)},
      {"claim_save_allocs", "allocs", "<= 1000", at_most(1000)},
      {"claim_read_allocs", "allocs", "<= 550", at_most(550)},
      {"two_processes_saves_ps", "saves/s", "", nullptr},
      {"pg_claim_save_ps", "saves/s", ">= 1000", at_least(1000)},
      {"pg_claim_read_ps", "reads/s", ">= 5000", at_least(5000)},
      {"pg_claim_save_floor_us", "us", "", nullptr},
      {"pg_claim_save_floor_ratio", "x", "<= 1.5", at_most(1.5)},
      {"pg_claim_read_floor_us", "us", "", nullptr},
      {"pg_claim_read_floor_ratio", "x", "<= 2.0", at_most(2.0)},
      {"pg_two_processes_saves_ps", "saves/s", ">= 2000", at_least(2000)},
  };
  // The sized figures of each engine: generation, every operation's time and statements, and
  // how they grow.
  for (const std::string engine : {"", "pg_"}) {
    for (int64_t size : sizes) {
      rows.push_back({engine + "generate_s_" + SizeLabel(size), "s", "", nullptr});
    }
    for (const std::string kind : kSizedKinds) {
      for (int64_t size : sizes) {
        const std::string label = SizeLabel(size);
        rows.push_back({engine + kind + "_ms_" + label, "ms/call", "", nullptr});
        // The statements of a call stay the same at any size (the report's are the engine's).
        if (kind != "report" && kind != "report_one") {
          rows.push_back({engine + kind + "_statements_" + label, "stmts",
                          kind == "selectget" ? "" : "no per-row", nullptr});
        }
      }
      if (kind == "listpage" || kind == "listlast" || kind == "report_one") {
        rows.push_back({engine + kind + "_ratio", "x", "<= 10", at_most(10)});
      } else {
        rows.push_back({engine + kind + "_growth", "x", "<= 2", at_most(2)});
      }
    }
  }
  rows.push_back({"http_rps", "req/s", "", nullptr});
  rows.push_back({"http_keepalive_rps", "req/s", "", nullptr});
  rows.push_back({"one_account_saves_ps", "saves/s", "", nullptr});
  rows.push_back({"two_accounts_saves_ps", "saves/s", "", nullptr});
  rows.push_back({"two_accounts_ratio", "x", ">= 1.6", at_least(1.6)});
  rows.push_back({"http_save_ps", "saves/s", "", nullptr});
  rows.push_back({"http_save_p50_ms", "ms", "", nullptr});
  rows.push_back({"http_save_p99_ms", "ms", "< 10", [](double v) { return v < 10; }});
  rows.push_back({"http_save_max_ms", "ms", "< 50", [](double v) { return v < 50; }});
  rows.push_back({"receipt_read_ms", "ms", "<= 1000", at_most(1000)});
  rows.push_back({"report_export_csv_rows", "rows", "", nullptr});
  rows.push_back({"report_export_csv_peak_mb", "MiB", "", nullptr});
  rows.push_back({"report_export_xlsx_peak_mb", "MiB", "", nullptr});
  rows.push_back({"report_export_peak_mb", "MiB", "< 64", [](double v) { return v < 64; }});
  rows.push_back({"loan_replay_us", "us", "", nullptr});
  rows.push_back({"loan_save_replay_ratio", "x", "<= 1.6", at_most(1.6)});
  rows.push_back({"claim_replay_us", "us", "", nullptr});
  rows.push_back({"claim_save_replay_ratio", "x", "<= 1.5", at_most(1.5)});
  for (const char* kind : {"draft", "save"}) {
    for (int64_t size : ledger_sizes) {
      rows.push_back(
          {std::string("makepz_") + kind + "_ms_" + SizeLabel(size), "ms/call", "", nullptr});
      rows.push_back({std::string("makepz_") + kind + "_statements_per_claim_" + SizeLabel(size),
                      "stmts", "flat", nullptr});
    }
  }

  std::printf("\n%-26s %12s  %-8s %-11s %s\n", "figure", "measured", "unit", "target", "");
  std::printf("%s\n", std::string(66, '-').c_str());
  for (const Row& row : rows) {
    auto it = Figures().find(row.figure);
    std::string value = it == Figures().end() ? "missing" : Number(it->second);
    std::string verdict;
    // A missed ceiling ("<", "<=") is above it, a missed floor (">=") below it.
    if (it != Figures().end() && row.meets && !row.meets(it->second)) {
      verdict = row.target.starts_with("<") ? "ABOVE" : "BELOW";
    } else if (it != Figures().end() && row.meets) {
      verdict = "ok";
    }
    std::printf("%-26s %12s  %-8s %-11s %s\n", row.figure.c_str(), value.c_str(), row.unit.c_str(),
                row.target.c_str(), verdict.c_str());
  }
  // Linear means the time per voucher stays flat as the data set grows.
  if (ledger_sizes.size() > 1) {
    for (const char* kind : {"draft", "save"}) {
      std::printf("%-26s", (std::string("makepz_") + kind + " us/claim").c_str());
      for (int64_t size : ledger_sizes) {
        auto it = Figures().find(std::string("makepz_") + kind + "_ms_" + SizeLabel(size));
        std::printf("  %s: %s", SizeLabel(size).c_str(),
                    it == Figures().end() ? "-" : Number(it->second * 1000.0 / size).c_str());
      }
      std::printf("\n");
    }
  }
  if (sizes.size() > 1) {
    for (const std::string engine : {"", "pg_"}) {
      for (const char* kind : kLinearKinds) {
        if (Figures().find(engine + kind + "_ms_" + SizeLabel(sizes.back())) == Figures().end())
          continue;
        std::printf("%-26s", (engine + kind + " us/voucher").c_str());
        for (int64_t size : sizes) {
          auto it = Figures().find(engine + kind + "_ms_" + SizeLabel(size));
          std::printf("  %s: %s", SizeLabel(size).c_str(),
                      it == Figures().end() ? "-" : Number(it->second * 1000.0 / size).c_str());
        }
        std::printf("\n");
      }
    }
  }
}

void WriteJson(const fs::path& path) {
  std::vector<std::string> names = {"frame_rps",
                                    "loan_save_ps",
                                    "claim_save_ps",
                                    "loan_save_statements",
                                    "claim_save_statements",
                                    "claim_read_ps"};
  for (const char* kind : kSizedKinds) {
    for (const char* label : {"1k", "100k", "1M"})
      names.push_back(std::string(kind) + "_ms_" + label);
  }
  names.insert(names.end(), {"http_rps", "loan_save_replay_ratio", "claim_save_replay_ratio",
                             "claim_save_floor_ratio", "claim_read_floor_ratio",
                             "claim_read_allocs", "claim_save_allocs"});
  for (const auto& [name, value] : Figures()) {
    if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
  }
  if (path.has_parent_path()) fs::create_directories(path.parent_path());
  std::ofstream out(path);
  out << "{\n";
  for (size_t i = 0; i < names.size(); ++i) {
    auto it = Figures().find(names[i]);
    char value[64] = "null";
    if (it != Figures().end()) std::snprintf(value, sizeof value, "%.6g", it->second);
    out << "  \"" << names[i] << "\": " << value << (i + 1 < names.size() ? ",\n" : "\n");
  }
  out << "}\n";
}

// Runs `rembiz report` for the export benchmark from a process forked when this one was still
// small: a child's peak resident size counts the pages it shared with its parent when forked
// (Linux keeps that peak across exec), so a child of this process, grown by the data sets and
// the receipt reader's engine, would report this process's size instead of its own.
class Launcher {
 public:
  // Forks the launcher; called first thing in main.
  static void Start() {
    int ask[2], tell[2];
    if (pipe(ask) != 0 || pipe(tell) != 0) return;
    pid_t pid = fork();
    if (pid == 0) {
      close(ask[1]);
      close(tell[0]);
      Serve(ask[0], tell[1]);
      _exit(0);
    }
    close(ask[0]);
    close(tell[1]);
    if (pid > 0) {
      ask_ = ask[1];
      tell_ = tell[0];
    }
  }

  // Runs REMBIZ_BIN with `args` (stdout to /dev/null, stderr to `log`): its exit status (-1 when
  // it did not exit) and its peak resident size in KiB.
  static std::optional<std::pair<int, long>> Run(const std::vector<std::string>& args,
                                                 const std::string& log) {
    if (ask_ < 0) return std::nullopt;
    std::string line = log;
    for (const std::string& arg : args) line += '\t' + arg;
    line += '\n';
    if (write(ask_, line.data(), line.size()) != static_cast<ssize_t>(line.size())) {
      return std::nullopt;
    }
    std::string answer;
    char c = 0;
    while (read(tell_, &c, 1) == 1 && c != '\n') answer += c;
    int status = -1;
    long kib = 0;
    if (std::sscanf(answer.c_str(), "%d %ld", &status, &kib) != 2) return std::nullopt;
    return std::make_pair(status, kib);
  }

 private:
  static void Serve(int ask, int tell) {
    std::string line;
    char c = 0;
    while (read(ask, &c, 1) == 1) {
      if (c != '\n') {
        line += c;
        continue;
      }
      std::vector<std::string> parts;
      for (size_t start = 0;;) {
        size_t tab = line.find('\t', start);
        parts.push_back(line.substr(start, tab - start));
        if (tab == std::string::npos) break;
        start = tab + 1;
      }
      line.clear();
      int status = -1;
      struct rusage usage {};
      pid_t pid = fork();
      if (pid == 0) {
        int devnull = open("/dev/null", O_WRONLY);
        int err = open(parts[0].c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (devnull >= 0) dup2(devnull, STDOUT_FILENO);
        if (err >= 0) dup2(err, STDERR_FILENO);
        std::vector<char*> argv{const_cast<char*>(REMBIZ_BIN)};
        for (size_t i = 1; i < parts.size(); ++i) argv.push_back(parts[i].data());
        argv.push_back(nullptr);
        execv(REMBIZ_BIN, argv.data());
        _exit(127);
      }
      int raw = 0;
      if (pid > 0 && wait4(pid, &raw, 0, &usage) == pid && WIFEXITED(raw)) {
        status = WEXITSTATUS(raw);
      }
      std::string answer = std::to_string(status) + " " + std::to_string(usage.ru_maxrss) + "\n";
      if (write(tell, answer.data(), answer.size()) < 0) return;
    }
  }

  static inline int ask_ = -1;
  static inline int tell_ = -1;
};

// `rembiz report loans --format FORMAT --out FILE` through the launcher: its peak resident size
// in MiB (the command's own maximum, as wait4 reports it) and the rows it wrote; nullopt (with
// `error`) when it failed.
std::optional<double> ReportPeakMb(const fs::path& data, const std::string& format,
                                   const fs::path& out, int64_t* rows, std::string* error) {
  const fs::path log = out.string() + ".log";
  std::optional<std::pair<int, long>> ran = Launcher::Run(
      {"report", "loans", "--data", data.string(), "--format", format, "--out", out.string()},
      log.string());
  if (!ran || ran->first != 0) {
    std::ifstream in(log);
    std::getline(in, *error);
    if (error->empty()) *error = "rembiz report failed";
    return std::nullopt;
  }
  // "rembiz report: N rows written to FILE"
  std::ifstream in(log);
  std::string line, last;
  while (std::getline(in, line)) {
    if (line.find(" rows written to ") != std::string::npos) last = line;
  }
  *rows = std::atoll(last.substr(last.find(':') + 1).c_str());
  return static_cast<double>(ran->second) / 1024.0;
}

// The report of `rows` loan rows exported once as CSV and once as a workbook: the peak memory
// of each export, which must not grow with the rows.
void ReportExport(benchmark::State& state, const fs::path& root, int64_t rows) {
  const fs::path data = root / "report";
  for (auto _ : state) {
    fs::create_directories(data);
    MakeDemoData(data.string(), rows);
    double seconds = 0, peak = 0;
    for (const std::string format : {"csv", "xlsx"}) {
      int64_t written = 0;
      std::string error;
      Clock::time_point start = Clock::now();
      std::optional<double> mb =
          ReportPeakMb(data, format, root / ("report." + format), &written, &error);
      seconds += std::chrono::duration<double>(Clock::now() - start).count();
      if (!mb) {
        Failures()["report_export_peak_mb"] = format + ": " + error;
        state.SkipWithError(error.c_str());
        return;
      }
      Figures()["report_export_" + format + "_peak_mb"] = *mb;
      Figures()["report_export_" + format + "_rows"] = static_cast<double>(written);
      peak = std::max(peak, *mb);
    }
    Figures()["report_export_peak_mb"] = peak;
    state.SetIterationTime(seconds);
  }
}

// ---------------------------------------------------------------------------------------------

Options ParseOptions(int* argc, char** argv) {
  Options options;
  options.quick = std::getenv("BENCH_QUICK") && std::strcmp(std::getenv("BENCH_QUICK"), "") != 0 &&
                  std::strcmp(std::getenv("BENCH_QUICK"), "0") != 0;
  std::string sizes;
  int kept = 1;
  for (int i = 1; i < *argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--quick") {
      options.quick = true;
    } else if (arg.rfind("--sizes=", 0) == 0) {
      sizes = arg.substr(8);
    } else if (arg.rfind("--data=", 0) == 0) {
      options.data_root = arg.substr(7);
    } else if (arg.rfind("--out=", 0) == 0) {
      options.out = arg.substr(6);
    } else if (arg.rfind("--min-time=", 0) == 0) {
      options.min_time = std::stod(arg.substr(11));
    } else if (arg.rfind("--report-rows=", 0) == 0) {
      options.report_rows = std::stoll(arg.substr(14));
    } else if (arg == "--keep") {
      options.keep = true;
    } else if (arg.rfind("--postgres=", 0) == 0) {
      options.postgres = arg.substr(11);
    } else {
      argv[kept++] = argv[i];  // left for Google Benchmark (--benchmark_filter=...)
    }
  }
  *argc = kept;
  // A million vouchers only when asked for (--sizes=1000,100000,1000000).
  if (sizes.empty()) sizes = options.quick ? "1000,10000" : "1000,100000";
  for (size_t start = 0; start < sizes.size();) {
    size_t comma = sizes.find(',', start);
    if (comma == std::string::npos) comma = sizes.size();
    options.sizes.push_back(std::stoll(sizes.substr(start, comma - start)));
    start = comma + 1;
  }
  if (options.postgres.empty() && std::getenv("REMBIZ_BENCH_POSTGRES")) {
    options.postgres = std::getenv("REMBIZ_BENCH_POSTGRES");
  }
  if (!options.postgres.empty() && options.postgres.back() != '/') options.postgres += '/';
  if (options.report_rows <= 0) options.report_rows = options.quick ? 100'000 : 1'000'000;
  if (options.data_root.empty()) {
    options.data_root = fs::temp_directory_path() / ("rembiz-bench-" + std::to_string(getpid()));
  }
  return options;
}

int Main(int argc, char** argv) {
  Launcher::Start();
  Options options = ParseOptions(&argc, argv);
  benchmark::Initialize(&argc, argv);
  Env& env = TheEnv();
  env.year = host::CurrentYearText();

  std::fprintf(stderr, "Generating data sets in %s ...\n", options.data_root.c_str());
  Clock::time_point started = Clock::now();
  // Each sized data set made is timed: generating a million vouchers is among what is
  // measured. With --keep, a data set kept from an earlier run is taken again (upgraded when the
  // schema moved on) and not timed.
  auto sized = [&](const std::string& location, int64_t size, const std::string& figure) {
    Clock::time_point start = Clock::now();
    if (options.keep && Reusable(location, size)) {
      std::fprintf(stderr, "  %s: kept (%.1f s)\n", location.c_str(),
                   std::chrono::duration<double>(Clock::now() - start).count());
      return std::make_unique<host::DataDir>(location);
    }
    auto dir = std::make_unique<host::DataDir>(MakeDemoData(location, size));
    Figures()[figure] = std::chrono::duration<double>(Clock::now() - start).count();
    std::fprintf(stderr, "  %s: %.1f s\n", figure.c_str(), Figures()[figure]);
    return dir;
  };
  for (int64_t size : options.sizes) {
    const fs::path folder = options.data_root / ("vouchers-" + std::to_string(size));
    fs::create_directories(folder);
    env.by_size[size] = sized(folder.string(), size, "generate_s_" + SizeLabel(size));
    env.sessions[size] = OpenSession(*env.by_size[size]);
    if (options.postgres.empty()) continue;
    env.pg_by_size[size] = sized(options.postgres + "rembiz_bench_" + std::to_string(size), size,
                                 "pg_generate_s_" + SizeLabel(size));
    env.pg_sessions[size] = OpenSession(*env.pg_by_size[size]);
  }
  // Saves and reads run on a data set of its own, the size of the smallest, made again every
  // time (a kept one holds the last run's saves and its second account).
  fs::remove_all(options.data_root / "saves");
  env.base = std::make_unique<host::DataDir>(
      MakeDataDirectory(options.data_root / "saves", options.sizes.front()));
  env.session = OpenSession(*env.base);
  {
    host::InitOptions second;
    second.demo = true;
    second.account = "002";
    host::InitDataDirectory(*env.base, second);
    host::SessionRequest request;
    request.user = "demo";
    request.account = "002";
    env.second_session = host::LocalSession::Open(*env.base, request);
  }
  const std::vector<int64_t> ledger_sizes = LedgerSizes(options.quick);
  env.ledger = std::make_unique<host::DataDir>(
      MakeLedgerDataDirectory(options.data_root / "ledger", ledger_sizes.back()));
  env.ledger_session = OpenSession(*env.ledger);
  if (!options.postgres.empty()) {
    env.pg_base = std::make_unique<host::DataDir>(
        MakeDemoData(options.postgres + "rembiz_bench_saves", options.sizes.front()));
    env.pg_session = OpenSession(*env.pg_base);
  }
  env.logs = options.data_root / "logs";
  fs::create_directories(env.logs);
  std::fprintf(stderr, "  done in %.1f s\n",
               std::chrono::duration<double>(Clock::now() - started).count());

  const double min_time = options.min_time > 0 ? options.min_time : options.quick ? 0.2 : 1.0;
  auto loan = [&](const std::string& n) { return LoanSaveRequest(env.year, n); };
  auto claim = [&](const std::string& n) { return ClaimSaveRequest(env.year, n); };
  auto unit = benchmark::kNanosecond;
  benchmark::RegisterBenchmark("frame/unknown_func", FrameOverhead)->MinTime(min_time)->Unit(unit);
  benchmark::RegisterBenchmark(
      "loan/save", [=, &env](benchmark::State& s) { Saves(s, *env.session, "CLoan", loan, "BL"); })
      ->MinTime(min_time)
      ->Unit(unit);
  benchmark::RegisterBenchmark(
      "loan/replay",
      [=](benchmark::State& s) { Replays(s, "CLoan", loan, "EC_LoanVouch", "EC_LoanVouch_Sub"); })
      ->MinTime(min_time)
      ->UseManualTime()
      ->Unit(unit);
  benchmark::RegisterBenchmark(
      "claim/save",
      [=, &env](benchmark::State& s) { Saves(s, *env.session, "CExpense", claim, "BX"); })
      ->MinTime(min_time)
      ->Unit(unit);
  benchmark::RegisterBenchmark("claim/replay",
                               [=](benchmark::State& s) {
                                 Replays(s, "CExpense", claim, "EC_ExpenVouch",
                                         "EC_ExpenVouch_Sub");
                               })
      ->MinTime(min_time)
      ->UseManualTime()
      ->Unit(unit);
  benchmark::RegisterBenchmark("claim/read",
                               [&env](benchmark::State& s) { ClaimRead(s, *env.session); })
      ->MinTime(min_time)
      ->Unit(unit);
  benchmark::RegisterBenchmark("claim/save_floor", ClaimSaveFloorRuns)
      ->MinTime(min_time)
      ->UseManualTime()
      ->Unit(unit);
  benchmark::RegisterBenchmark("claim/read_floor", ClaimReadFloorRuns)
      ->MinTime(min_time)
      ->Unit(unit);
  // Several service processes: a few seconds of saves, once.
  const double load_seconds = options.quick ? 2 : 5;
  benchmark::RegisterBenchmark(
      "processes/claim_save",
      [&env, load_seconds](benchmark::State& s) { ProcessSaves(s, *env.base, load_seconds); })
      ->Iterations(1)
      ->UseManualTime()
      ->Unit(unit);
  if (env.pg_base) {
    benchmark::RegisterBenchmark(
        "pg/claim/save",
        [=, &env](benchmark::State& s) { Saves(s, *env.pg_session, "CExpense", claim, "PX"); })
        ->MinTime(min_time)
        ->Unit(unit);
    benchmark::RegisterBenchmark("pg/claim/read",
                                 [&env](benchmark::State& s) { ClaimRead(s, *env.pg_session); })
        ->MinTime(min_time)
        ->Unit(unit);
    benchmark::RegisterBenchmark("pg/claim/save_floor", PgClaimSaveFloorRuns)
        ->MinTime(min_time)
        ->UseManualTime()
        ->Unit(unit);
    benchmark::RegisterBenchmark("pg/claim/read_floor", PgClaimReadFloorRuns)
        ->MinTime(min_time)
        ->Unit(unit);
    benchmark::RegisterBenchmark(
        "pg/processes/claim_save",
        [&env, load_seconds](benchmark::State& s) { ProcessSaves(s, *env.pg_base, load_seconds); })
        ->Iterations(1)
        ->UseManualTime()
        ->Unit(unit);
  }
  // The sized benchmarks on each engine, PostgreSQL's named "pg/...". Navigation lists the
  // drafts, every other generated voucher. The free query of every column of every voucher
  // stops at 10k: over 100k its answer passes the free queries' bound (16 MiB) and is refused.
  for (bool pg : {false, true}) {
    if (pg && options.postgres.empty()) break;
    const std::string engine = pg ? "pg/" : "";
    for (int64_t size : options.sizes) {
      const std::string n = "/" + std::to_string(size);
      auto add = [&](const std::string& name, std::function<void(benchmark::State&)> run) {
        // On wall time: on PostgreSQL the work is the server's, and a minimum of this process's
        // CPU time would repeat a call of seconds a hundred times.
        benchmark::RegisterBenchmark((engine + name + n).c_str(), run)
            ->MinTime(min_time)
            ->UseRealTime()
            ->Unit(unit);
      };
      add("navigate", [size, pg](benchmark::State& s) {
        OverSize(s, SizedSession(size, pg), size / 2, "CLoan",
                 "<req><func name='getVouchListID'><in/></func></req>", "//Rows/row");
      });
      if (size <= 10'000) {
        add("selectget", [size, pg](benchmark::State& s) {
          OverSize(s, SizedSession(size, pg), size, "CPubMsg",
                   "<req><func name='selectget'><in><sql>select * from EC_LoanVouch</sql></in>"
                   "</func></req>",
                   "//rows/row");
        });
      }
      for (bool last : {false, true}) {
        add(last ? "listlast" : "listpage",
            [size, pg, last](benchmark::State& s) { ListPage(s, SizedSession(size, pg), last); });
      }
      for (bool ageing : {true, false}) {
        add(ageing ? "loanage" : "summary", [size, pg, ageing](benchmark::State& s) {
          Analysis(s, SizedSession(size, pg), ageing);
        });
      }
      add("report", [size, pg](benchmark::State& s) { ReportRows(s, SizedSession(size, pg), ""); });
      add("report_one", [size, pg](benchmark::State& s) {
        ReportRows(s, SizedSession(size, pg), "GEN00000042");
      });
    }
  }
  for (int64_t size : ledger_sizes) {
    for (bool save : {false, true}) {
      benchmark::RegisterBenchmark(
          (std::string("ledger/") + (save ? "save/" : "draft/") + std::to_string(size)).c_str(),
          [size, save](benchmark::State& s) { LedgerGeneration(s, size, save); })
          ->MinTime(min_time)
          ->UseManualTime()
          ->Unit(unit);
    }
  }
  for (int threads : {1, 2}) {
    benchmark::RegisterBenchmark(
        threads == 1 ? "accounts/one" : "accounts/two",
        [threads, load_seconds](benchmark::State& s) { AccountSaves(s, threads, load_seconds); })
        ->Iterations(1)
        ->UseManualTime()
        ->Unit(unit);
  }
  benchmark::RegisterBenchmark("http/claim_save",
                               [load_seconds](benchmark::State& s) { HttpSaves(s, load_seconds); })
      ->Iterations(1)
      ->UseManualTime()
      ->Unit(unit);
  // About a second per reading: a fixed number of them instead of a minimum time.
  benchmark::RegisterBenchmark("receipt/read", ReceiptRead)
      ->Iterations(options.quick ? 3 : 10)
      ->UseRealTime()
      ->Unit(unit);
  benchmark::RegisterBenchmark("http/read", [](benchmark::State& s) { HttpReads(s, false); })
      ->MinTime(min_time)
      ->UseRealTime()
      ->Unit(unit);
  benchmark::RegisterBenchmark("http/read_keepalive",
                               [](benchmark::State& s) { HttpReads(s, true); })
      ->MinTime(min_time)
      ->UseRealTime()
      ->Unit(unit);

  // Once, on a data set of its own made when it runs (a million rows take a while).
  benchmark::RegisterBenchmark(
      "report/export_peak",
      [&options](benchmark::State& s) { ReportExport(s, options.data_root, options.report_rows); })
      ->Iterations(1)
      ->UseManualTime()
      ->Unit(unit);

  Collector collector;
  benchmark::RunSpecifiedBenchmarks(&collector);
  benchmark::Shutdown();

  DeriveFigures(collector, options.sizes, ledger_sizes);
  PrintTable(options.sizes, ledger_sizes);
  for (const auto& [name, message] : Failures()) {
    std::printf("missing %s: %s\n", name.c_str(), message.c_str());
  }
  WriteJson(options.out);
  std::printf("\nFigures written to %s\n", options.out.c_str());

  env.sessions.clear();
  env.pg_sessions.clear();
  env.session.reset();
  env.second_session.reset();
  env.ledger_session.reset();
  env.pg_session.reset();
  db::ClearConnectionPool();
  if (!options.keep) {
    std::error_code ignored;
    fs::remove_all(options.data_root, ignored);
  }
  return 0;
}

}  // namespace
}  // namespace rembiz::bench

int main(int argc, char** argv) { return rembiz::bench::Main(argc, argv); }
