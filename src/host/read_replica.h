// Reads sent to a read replica: opening it, telling when the primary is to answer instead, and
// the counts of both for the service's metrics.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <string>

#include "db/connection.h"

namespace rembiz::host {

struct ReplicaReads {
  uint64_t tried = 0;      // requests and report runs tried on a replica
  uint64_t fell_back = 0;  // of those, answered by the primary
};

// Runs `attempt` on the replica when there is one (`url` not empty); `attempt` answers whether
// the replica served the read. True when it did; false when there is no replica or the primary
// is to answer instead, which is counted.
bool ServedByReplica(const std::string& url, const std::function<bool()>& attempt);

// Opens `cn` on the replica `url`. A replica that is down is given up quickly: false when it
// could not be reached.
bool OpenReplica(db::Connection& cn, const std::string& url);

// Whether `error`, met while reading on the replica through `cn`, means that the replica cannot
// serve the read (down, shut down, a write refused, a read cancelled by replication).
bool ReplicaCouldNotServe(const db::Connection& cn, const std::exception& error);

ReplicaReads ReplicaReadsSoFar();

}  // namespace rembiz::host
