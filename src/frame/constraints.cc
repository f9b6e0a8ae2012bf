#include "frame/constraints.h"

#include <string>

#include "host/messages.h"

namespace rembiz::frame {

std::string_view KeyOfConstraint(std::string_view description,
                                 std::span<const ConstraintKey> constraints) {
  for (const ConstraintKey& entry : constraints) {
    // A name followed by a letter, digit or "_" is a longer name ("IX_EC_EISet_Stand" is not
    // "IX_EC_EISet_Stand_x"), so the match must end at a boundary.
    for (size_t pos = description.find(entry.constraint); pos != std::string_view::npos;
         pos = description.find(entry.constraint, pos + 1)) {
      size_t end = pos + entry.constraint.size();
      char next = end < description.size() ? description[end] : ' ';
      bool word = (next >= 'A' && next <= 'Z') || (next >= 'a' && next <= 'z') ||
                  (next >= '0' && next <= '9') || next == '_';
      if (!word) return entry.key;
    }
  }
  return {};
}

void RaiseConstraintKey(const ComError& error, std::span<const ConstraintKey> constraints) {
  std::string_view key = KeyOfConstraint(error.Description(), constraints);
  if (!key.empty()) Raise(kErrBusiness, key);
}

ComError ConstraintText(const ComError& error, std::span<const ConstraintKey> constraints) {
  std::string_view key = KeyOfConstraint(error.Description(), constraints);
  if (key.empty()) return ComError(error.Number(), error.Description(), error.Source());
  return ComError(error.Number(), host::MessageText(key), error.Source())
      .WithKey(std::string(key), {});
}

}  // namespace rembiz::frame
