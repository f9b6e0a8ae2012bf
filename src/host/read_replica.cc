#include "host/read_replica.h"

#include <atomic>

#include "db/error.h"

namespace rembiz::host {
namespace {

std::atomic<uint64_t> tried{0};
std::atomic<uint64_t> fell_back{0};

}  // namespace

bool ServedByReplica(const std::string& url, const std::function<bool()>& attempt) {
  if (url.empty()) return false;
  const bool served = attempt();
  tried.fetch_add(1, std::memory_order_relaxed);
  if (!served) fell_back.fetch_add(1, std::memory_order_relaxed);
  return served;
}

bool OpenReplica(db::Connection& cn, const std::string& url) {
  cn.SetConnectionTimeout(3);
  try {
    cn.Open(url);
  } catch (const std::exception& e) {
    if (db::IsDatabaseUnreachable(e)) return false;
    throw;
  }
  return true;
}

bool ReplicaCouldNotServe(const db::Connection& cn, const std::exception& error) {
  return cn.ServerCouldNotServe() || db::IsDatabaseUnreachable(error);
}

ReplicaReads ReplicaReadsSoFar() {
  return {tried.load(std::memory_order_relaxed), fell_back.load(std::memory_order_relaxed)};
}

}  // namespace rembiz::host
