// Prints a recordset as a plain text table for people at a terminal.
#pragma once

#include <ostream>

#include "db/recordset.h"

namespace rembiz::app {

void PrintTable(const db::Recordset& recordset, std::ostream& out);

}  // namespace rembiz::app
