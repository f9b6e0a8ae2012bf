// Steps shared by the classes that maintain master data (standards, persons, items, districts,
// operation types, options): procedures that answer their own error documents, writes that must
// touch exactly one row of a given version, guards against changing data that vouchers use, and
// the constraint names of database errors turned into message keys.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "db/connection.h"
#include "db/error.h"
#include "frame/frame.h"
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

// Runs a procedure's body. Any failure becomes the procedure's own error document
// ("Rembiz:<class>:<procedure>:<number>") under the operation's `out`, and the result false,
// so the frame stops and rolls the request back. A database error naming one of `constraints`
// reads that key's text (error 9000).
template <class Body>
bool OwnErrorDocument(std::string_view class_name, std::string_view procedure,
                      xml::Document& answer, std::span<const ConstraintKey> constraints,
                      Body&& body);

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

// Shared error-document writer of OwnErrorDocument.
bool LoadOwnError(std::string_view class_name, std::string_view procedure, xml::Document& answer,
                  std::span<const ConstraintKey> constraints, const ComError& error);

template <class Body>
bool OwnErrorDocument(std::string_view class_name, std::string_view procedure,
                      xml::Document& answer, std::span<const ConstraintKey> constraints,
                      Body&& body) {
  try {
    return body();
  } catch (const ComError& e) {
    return LoadOwnError(class_name, procedure, answer, constraints, e);
  } catch (const std::exception& e) {
    return LoadOwnError(class_name, procedure, answer, constraints,
                        ComError(static_cast<int32_t>(0x8000FFFF), e.what(), "Rembiz"));
  }
}

}  // namespace rembiz::frame
