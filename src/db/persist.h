// Recordset persistence in the XML format pages read back through "//rs:data/z:row": the root
// `xml` with the s/dt/rs/z namespaces, the row schema, then one z:row per record whose attributes
// are the non-null fields. An empty recordset still carries its schema.
#pragma once

#include <string>

#include "db/recordset.h"

namespace rembiz::db {

std::string SaveXml(const Recordset& recordset);

// Escapes a value for an attribute in single quotes.
std::string XmlAttrEscape(const std::string& text);

}  // namespace rembiz::db
