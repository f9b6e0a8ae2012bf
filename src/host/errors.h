// Raising the system's errors: error 9000 carries the text of a message key.
#pragma once

#include <cstdint>
#include <string_view>

#include "db/error.h"

namespace rembiz {

inline constexpr int32_t kErrBusiness = 9000;

// Throws ComError(number, text of `key` in the current language with the parameters), carrying
// the key and the parameters.
[[noreturn]] void Raise(int32_t number, std::string_view key, std::string_view p1 = "",
                        std::string_view p2 = "", std::string_view p3 = "");

}  // namespace rembiz
