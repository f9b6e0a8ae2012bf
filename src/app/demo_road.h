// `rembiz demo`: the road of a claim on a fresh demo database, through the same myHandle calls a
// page would make, printed step by step.
#pragma once

#include <ostream>
#include <string>

namespace rembiz::app {

// Creates the demo databases in `dir` (replacing them when `force`) and walks the road. Returns
// 0 when every step succeeded, 1 at the first step that failed.
int RunDemoRoad(const std::string& dir, bool force, std::ostream& out);

}  // namespace rembiz::app
