// How the translator writes statements for PostgreSQL.
#pragma once

#include "db/sql/emitter.h"

namespace rembiz::db::postgres {

const sql::Emitter& TheEmitter();

}  // namespace rembiz::db::postgres
