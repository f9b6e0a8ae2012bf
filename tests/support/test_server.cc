#include "support/test_server.h"

#include <libpq-fe.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <thread>

namespace rembiz::testing {
namespace {

using Conn = std::unique_ptr<PGconn, void (*)(PGconn*)>;

Conn Admin(const std::string& base) {
  Conn conn(PQconnectdb((base + "postgres").c_str()), PQfinish);
  if (PQstatus(conn.get()) != CONNECTION_OK) {
    throw std::runtime_error("test server " + base + ": " + PQerrorMessage(conn.get()));
  }
  return conn;
}

// Runs `sql`; false with the message in `error` when it fails.
bool Run(PGconn* conn, const std::string& sql, std::string* error = nullptr) {
  PGresult* res = PQexec(conn, sql.c_str());
  ExecStatusType status = PQresultStatus(res);
  bool ok = status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
  if (!ok && error) *error = PQresultErrorMessage(res);
  PQclear(res);
  return ok;
}

std::string Quoted(const std::string& name) { return "\"" + name + "\""; }

}  // namespace

const TestServer* TestServer::Get() {
  static const TestServer* server = []() -> const TestServer* {
    const char* file = std::getenv("REMBIZ_TEST_POSTGRES");
    if (!file || !*file) return nullptr;
    std::string url;
    std::ifstream in(file);
    std::getline(in, url);
    if (url.empty()) {
      throw std::runtime_error(std::string("REMBIZ_TEST_POSTGRES: no server URL in ") + file);
    }
    if (url.back() != '/') url += '/';
    return new TestServer(url);
  }();
  return server;
}

void TestServer::Copy(const std::string& source, const std::string& name) const {
  Conn conn = Admin(base_);
  std::string error;
  // Another process copying the same template at the same moment makes the server refuse for
  // a while ("being accessed by other users"): try again.
  for (int attempt = 0; attempt < 50; ++attempt) {
    if (Run(conn.get(), "CREATE DATABASE " + Quoted(name) + " TEMPLATE " + Quoted(source),
            &error)) {
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  throw std::runtime_error("cannot copy " + source + " to " + name + ": " + error);
}

void TestServer::Drop(const std::string& name) const {
  Conn conn = Admin(base_);
  std::string error;
  if (!Run(conn.get(), "DROP DATABASE IF EXISTS " + Quoted(name) + " WITH (FORCE)", &error)) {
    throw std::runtime_error("cannot drop " + name + ": " + error);
  }
}

void TestServer::SetReachable(const std::string& name, bool reachable) const {
  Conn conn = Admin(base_);
  std::string error;
  if (!Run(
          conn.get(),
          "ALTER DATABASE " + Quoted(name) + " ALLOW_CONNECTIONS " + (reachable ? "true" : "false"),
          &error) ||
      (!reachable &&
       !Run(conn.get(),
            "SELECT pg_terminate_backend(pid, 10000) FROM pg_stat_activity WHERE datname "
            "= '" +
                name + "' AND pid <> pg_backend_pid()",
            &error))) {
    throw std::runtime_error("cannot make " + name + (reachable ? " " : " un") +
                             "reachable: " + error);
  }
}

void TestServer::Once(const std::string& name,
                      const std::function<void(const std::string&)>& make) const {
  Conn conn = Admin(base_);
  Run(conn.get(), "SELECT pg_advisory_lock(4711)");
  std::string error;
  PGresult* res =
      PQexec(conn.get(), ("SELECT 1 FROM pg_database WHERE datname = '" + name + "'").c_str());
  const bool exists = PQresultStatus(res) == PGRES_TUPLES_OK && PQntuples(res) > 0;
  PQclear(res);
  try {
    if (!exists) make(Url(name));
  } catch (...) {
    Drop(name);
    Run(conn.get(), "SELECT pg_advisory_unlock(4711)");
    throw;
  }
  Run(conn.get(), "SELECT pg_advisory_unlock(4711)");
}

}  // namespace rembiz::testing
