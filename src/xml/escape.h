// Escaping of text for XML written by hand.
#pragma once

#include <string>
#include <string_view>

namespace rembiz::xml {

// Replaces, in this order, & > < ' and the double quote by their entities. Text that is already
// escaped is escaped again (&amp; becomes &amp;amp;).
std::string XmlEscape(std::string_view text);

}  // namespace rembiz::xml
