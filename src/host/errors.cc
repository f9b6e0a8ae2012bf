#include "host/errors.h"

#include "host/messages.h"

namespace rembiz {

void Raise(int32_t number, std::string_view key, std::string_view p1, std::string_view p2,
           std::string_view p3) {
  std::vector<std::string> params{std::string(p1), std::string(p2), std::string(p3)};
  while (!params.empty() && params.back().empty()) params.pop_back();
  throw ComError(number, host::MessageText(key, "", p1, p2, p3), "Rembiz")
      .WithKey(std::string(key), std::move(params));
}

}  // namespace rembiz
