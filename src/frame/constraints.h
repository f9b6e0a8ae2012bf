// Database constraints read as message keys. A class that owns a table declares beside itself
// which of the table's constraints (unique indexes, foreign and primary keys) the pages read as
// which message, as a small table; these functions are the one reading of such tables.
#pragma once

#include <span>
#include <string_view>

#include "db/error.h"
#include "host/errors.h"

namespace rembiz::frame {

// A message key standing for a database constraint that an error description names.
struct ConstraintKey {
  std::string_view constraint;  // "IX_EC_IOItem"
  std::string_view key;         // "Q7.Rembiz.0012"
};

// The key of the first entry whose constraint `description` names as a whole name (not as the
// start of a longer one); "" when it names none.
std::string_view KeyOfConstraint(std::string_view description,
                                 std::span<const ConstraintKey> constraints);

// Raises the key's message as a business error (9000) when `error` names one of `constraints`;
// returns otherwise, for the caller to rethrow.
void RaiseConstraintKey(const ComError& error, std::span<const ConstraintKey> constraints);

// `error` as the pages read it: with the message of the key when it names one of `constraints`,
// else with its own text; the number and source stay the error's.
ComError ConstraintText(const ComError& error, std::span<const ConstraintKey> constraints);

// Runs a procedure's body; an error naming one of `constraints` raises that key instead.
template <class Body>
auto WithConstraintKeys(std::span<const ConstraintKey> constraints, Body&& body) {
  try {
    return body();
  } catch (const ComError& e) {
    RaiseConstraintKey(e, constraints);
    throw;
  }
}

}  // namespace rembiz::frame
