// Reads sent to a read replica, and those of them the primary answered instead because the
// replica was down or could not serve them, for the service's metrics.
#pragma once

#include <cstdint>

namespace rembiz::host {

struct ReplicaReads {
  uint64_t tried = 0;      // requests and report runs tried on a replica
  uint64_t fell_back = 0;  // of those, answered by the primary
};

void CountReplicaRead(bool fell_back);
ReplicaReads ReplicaReadsSoFar();

}  // namespace rembiz::host
