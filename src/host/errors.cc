#include "host/errors.h"

#include "host/messages.h"

namespace rembiz {

void Raise(int32_t number, std::string_view key, std::string_view p1, std::string_view p2,
           std::string_view p3) {
  throw ComError(number, host::MessageText(key, "", p1, p2, p3), "Rembiz");
}

}  // namespace rembiz
