// The well-formedness rules a document must meet beyond what the parser checks by itself: pugixml
// accepts several top-level elements, keeps unknown entity references as text, repeats attributes
// and lets control characters and broken UTF-8 through. Documents that come from outside (HTTP
// bodies, files, the fuzzers) and those the classes build are held to the same rules.
#pragma once

#include <pugixml.hpp>
#include <string>
#include <string_view>

namespace rembiz::xml {

// What is wrong with the raw text ("" when nothing): bytes that are not UTF-8, characters XML
// does not allow, entity references other than the five predefined ones and character
// references, and document type declarations (their entities are never expanded here).
std::string TextProblem(std::string_view text);

// True when a value is made of XML characters in UTF-8 only, so that it may stand in a document
// as text or attribute value once escaped.
bool IsXmlText(std::string_view text);

// What is wrong with the parsed tree ("" when nothing): not exactly one document element, text
// outside it, or an attribute given twice on one element.
std::string TreeProblem(const pugi::xml_document& doc);

}  // namespace rembiz::xml
