// How the translator writes statements for PostgreSQL.
#pragma once

#include "db/sql/front_end.h"

namespace rembiz::db::postgres {

const sql::Emitter& TheEmitter();

}  // namespace rembiz::db::postgres
