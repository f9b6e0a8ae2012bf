// Recordset persistence in the XML format pages read back through "//rs:data/z:row": the root
// `xml` with the s/dt/rs/z namespaces, the row schema, then one z:row per record whose attributes
// are the non-null fields. An empty recordset still carries its schema.
#pragma once

#include <string>

#include "db/recordset.h"
#include "xml/document.h"

namespace rembiz::db {

std::string SaveXml(const Recordset& recordset);

// Replaces `answer` with the same XML, built straight into its tree: the schema copied from the
// tree the recordset's shape keeps, the rows written node by node. Same document as
// answer.LoadXml(SaveXml(recordset)), also where that load refuses the text.
void LoadXml(const Recordset& recordset, xml::Document& answer);

// Escapes a value for an attribute in single quotes.
std::string XmlAttrEscape(const std::string& text);

}  // namespace rembiz::db
