// The PostgreSQL server of a test run (scripts/test-postgres): whole databases made from a
// template, copied and dropped. Only the tests do this; the product never makes databases but
// its own.
#pragma once

#include <functional>
#include <string>

namespace rembiz::testing {

class TestServer {
 public:
  // The server of REMBIZ_TEST_POSTGRES; nullptr when the tests run on SQLite.
  static const TestServer* Get();

  // "postgresql://user@host:port/" + database
  std::string Url(const std::string& database) const { return base_ + database; }
  // Makes `name` a copy of `source`.
  void Copy(const std::string& source, const std::string& name) const;
  void Drop(const std::string& name) const;
  // Lets nobody connect to `name` and ends the connections open to it, waiting until they are
  // gone (false), or lets them in again (true): the database out of reach for a while.
  void SetReachable(const std::string& name, bool reachable) const;
  // Makes `name` with `make(url)` unless it exists; one process at a time, so that the test
  // binaries running side by side build a template once.
  void Once(const std::string& name, const std::function<void(const std::string&)>& make) const;

 private:
  explicit TestServer(std::string base) : base_(std::move(base)) {}
  std::string base_;
};

}  // namespace rembiz::testing
