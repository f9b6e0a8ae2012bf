// Steps shared by the classes that maintain master data (standards, persons, items, districts,
// operation types, options): writes that must touch exactly one row of a given version, guards
// against changing data that vouchers use. Their constraint tables are read by
// frame/constraints.h.
#pragma once

#include <string>
#include <string_view>

#include "db/connection.h"
#include "xml/document.h"

namespace rembiz::frame {

// Runs the statement; raises `key` unless it affected exactly one row (a row changed or deleted
// meanwhile, an unknown key, a stale row version).
void ExecuteOne(db::Connection& cn, const std::string& sql, std::string_view key);

// Raises `key` when the query finds a row: master data in use stays as it is.
void RefuseIfFound(db::Connection& cn, const std::string& sql, std::string_view key);

// The row version a request sends back, as SQL number text. A missing or non-numeric version
// can only be stale: it raises `key`.
std::string RequireVersion(std::string_view ts, std::string_view key);

// The attribute as typed; raises `key` when it is missing or blank.
std::string RequireText(const xml::Node& node, std::string_view name, std::string_view key);

}  // namespace rembiz::frame
