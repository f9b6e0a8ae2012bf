// How the translator writes statements for SQLite.
#pragma once

#include "db/sql/emitter.h"

namespace rembiz::db::sqlite {

const sql::Emitter& TheEmitter();

}  // namespace rembiz::db::sqlite
