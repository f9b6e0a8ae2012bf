// The objects every PostgreSQL database of a store needs (schema rembiz, the text collation,
// the row-version counter, SQL Server's functions), as one script that may run again; and what
// the role that runs SQL arriving with a request needs, as another.
#pragma once

#include <string>

namespace rembiz::db::postgres {

std::string SupportScript();
std::string ReaderSupportScript();

}  // namespace rembiz::db::postgres
