// Escaping of text for XML written by hand, and of names that become element or attribute names.
#pragma once

#include <string>
#include <string_view>

namespace rembiz::xml {

// Replaces, in this order, & > < ' and the double quote by their entities. Text that is already
// escaped is escaped again (&amp; becomes &amp;amp;).
std::string XmlEscape(std::string_view text);

// True for a name that can stand as an attribute or element name as it is: an XML name without
// a colon (so never a namespace declaration or a prefixed name), in UTF-8.
bool IsXmlName(std::string_view name);

// The name itself when IsXmlName, otherwise the name with every character that may not stand
// where it is written as _xHHHH_ (its code point in hex), and "_" written as _x005F_ where it
// would start such a sequence, the way recordset persistence encodes column names. Names that
// come from queries and data go through it before they become attributes.
std::string XmlName(std::string_view name);

}  // namespace rembiz::xml
