// Steps shared by the classes that maintain master data (standards, persons, items, districts,
// operation types, options): writes that must touch exactly one row of a given version, guards
// against changing data that vouchers use, and the constraint names of database errors turned
// into message keys.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "db/connection.h"
#include "db/error.h"
#include "host/errors.h"
#include "xml/document.h"

namespace rembiz::frame {

// A message key standing for a database constraint that an error description names.
struct ConstraintKey {
  std::string_view constraint;  // "IX_EC_IOItem"
  std::string_view key;         // "Q7.Rembiz.0012"
};

// The key of the first constraint that `description` names; "" when it names none.
std::string_view KeyOfConstraint(std::string_view description,
                                 std::span<const ConstraintKey> constraints);

// Runs a procedure's body; an error naming one of `constraints` raises that key's message as a
// business error (9000).
template <class Body>
bool WithConstraintKeys(std::span<const ConstraintKey> constraints, Body&& body) {
  try {
    return body();
  } catch (const ComError& e) {
    std::string_view key = KeyOfConstraint(e.Description(), constraints);
    if (key.empty()) throw;
    Raise(kErrBusiness, key);
  }
}

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
