#include "host/read_replica.h"

#include <atomic>

namespace rembiz::host {
namespace {

std::atomic<uint64_t> tried{0};
std::atomic<uint64_t> fell_back{0};

}  // namespace

void CountReplicaRead(bool primary_answered) {
  tried.fetch_add(1, std::memory_order_relaxed);
  if (primary_answered) fell_back.fetch_add(1, std::memory_order_relaxed);
}

ReplicaReads ReplicaReadsSoFar() {
  return {tried.load(std::memory_order_relaxed), fell_back.load(std::memory_order_relaxed)};
}

}  // namespace rembiz::host
