// The one exception hierarchy of the system: every failure that ends in an error document is a
// ComError carrying an HRESULT-style number, a description and the source that raised it. A
// business error (Raise) carries its message key and parameters too; the frame's boundary is the
// one place that turns an error into an error document.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace rembiz {

class ComError : public std::runtime_error {
 public:
  ComError(int32_t number, std::string description, std::string source = {})
      : std::runtime_error(description),
        number_(number),
        description_(std::move(description)),
        source_(std::move(source)) {}

  int32_t Number() const { return number_; }
  const std::string& Description() const { return description_; }
  const std::string& Source() const { return source_; }

  // The message key and parameters of a business error; empty for other errors.
  const std::string& Key() const { return key_; }
  const std::vector<std::string>& Params() const { return params_; }
  ComError& WithKey(std::string key, std::vector<std::string> params) {
    key_ = std::move(key);
    params_ = std::move(params);
    return *this;
  }

  // The procedure whose error document answers the error, when it is not the operation's own
  // (one procedure that goes on into another); set on the way up, read by the frame.
  const std::string& Procedure() const { return procedure_; }
  void SetProcedure(std::string procedure) { procedure_ = std::move(procedure); }

 private:
  int32_t number_;
  std::string description_;
  std::string source_;
  std::string key_;
  std::vector<std::string> params_;
  std::string procedure_;
};

namespace db {

// HRESULTs the data layer reports, as the classes expect them from the database provider.
inline constexpr int32_t kErrConstraint = static_cast<int32_t>(0x80040E2F);
inline constexpr int32_t kErrTimeout = static_cast<int32_t>(0x80040E31);
inline constexpr int32_t kErrStatement = static_cast<int32_t>(0x80040E14);
inline constexpr int32_t kErrConnection = static_cast<int32_t>(0x80004005);
// A value the column it is written to cannot hold (too long, out of range, not text or not a
// number); the description names the table and the column (see type_guards.h).
inline constexpr int32_t kErrDataValue = static_cast<int32_t>(0x80040E57);
// A request whose values cannot be used (a non-number where a number belongs, a bad name).
inline constexpr int32_t kErrInvalidRequest = static_cast<int32_t>(0x80070057);

// A failure of the data layer. `native` keeps the engine's own code (SQLite's extended result
// code, PostgreSQL's SQLSTATE) for logs and tests; the classes look only at the number and the
// description, which follow the server's.
class DbError : public ComError {
 public:
  DbError(int32_t number, std::string description, std::string native = {})
      : ComError(number, std::move(description), "Rembiz.Data"), native_(std::move(native)) {}

  const std::string& NativeCode() const { return native_; }

 private:
  std::string native_;
};

// Whether a failure is the database out of reach (a connection lost or refused), not a fault of
// the request: worth trying again shortly, and no text of the driver's for the caller.
inline bool IsDatabaseUnreachable(const std::exception& e) {
  const auto* error = dynamic_cast<const DbError*>(&e);
  return error && error->Number() == kErrConnection;
}

}  // namespace db
}  // namespace rembiz
