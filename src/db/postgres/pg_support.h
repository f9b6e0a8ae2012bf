// The objects every PostgreSQL database of a store needs (schema rembiz, the text collation,
// the row-version counter, SQL Server's functions), as one script that may run again.
#pragma once

#include <string>

namespace rembiz::db::postgres {

std::string SupportScript();

}  // namespace rembiz::db::postgres
