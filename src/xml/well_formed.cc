#include "xml/well_formed.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

namespace rembiz::xml {
namespace {

// XML 1.0 characters: tab, line feed, carriage return and the planes without surrogates,
// U+FFFE and U+FFFF.
bool IsXmlChar(uint32_t c) {
  return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) ||
         (c >= 0xE000 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0x10FFFF);
}

// Decodes the UTF-8 sequence at `i`; 0 when it is not one (overlong, surrogate, truncated).
size_t DecodeUtf8(std::string_view text, size_t i, uint32_t* code) {
  auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
  unsigned char lead = byte(i);
  size_t length;
  uint32_t min;
  if (lead < 0x80) {
    *code = lead;
    return 1;
  } else if ((lead & 0xE0) == 0xC0) {
    length = 2, min = 0x80, *code = lead & 0x1F;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3, min = 0x800, *code = lead & 0x0F;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4, min = 0x10000, *code = lead & 0x07;
  } else {
    return 0;
  }
  if (i + length > text.size()) return 0;
  for (size_t k = 1; k < length; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
    *code = (*code << 6) | (byte(i + k) & 0x3F);
  }
  if (*code < min || *code > 0x10FFFF || (*code >= 0xD800 && *code <= 0xDFFF)) return 0;
  return length;
}

std::string At(std::string_view what, size_t offset) {
  return std::string(what) + " at byte " + std::to_string(offset);
}

// Checks the characters of [from, to); "" when they are all XML characters in UTF-8.
std::string CharsProblem(std::string_view text, size_t from, size_t to) {
  for (size_t i = from; i < to;) {
    // Printable ASCII, most of any document, needs no decoding.
    if (static_cast<unsigned char>(text[i]) - 0x20u < 0x60u) {
      ++i;
      continue;
    }
    uint32_t code = 0;
    size_t length = DecodeUtf8(text, i, &code);
    if (length == 0) return At("a byte sequence that is not UTF-8", i);
    if (!IsXmlChar(code)) return At("a character XML does not allow", i);
    i += length;
  }
  return "";
}

bool IsDigit(char c, bool hex) {
  return (c >= '0' && c <= '9') || (hex && ((c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')));
}

// The length of the reference at `i` (which holds '&'), or 0 when it is not one this service
// knows: the five predefined entities and character references to XML characters.
size_t ReferenceLength(std::string_view text, size_t i) {
  std::string_view rest = text.substr(i + 1);
  for (std::string_view name : {"amp;", "lt;", "gt;", "apos;", "quot;"}) {
    if (rest.substr(0, name.size()) == name) return name.size() + 1;
  }
  if (rest.empty() || rest[0] != '#') return 0;
  bool hex = rest.size() > 1 && rest[1] == 'x';
  size_t k = hex ? 2 : 1;
  uint32_t code = 0;
  size_t digits = 0;
  while (k < rest.size() && IsDigit(rest[k], hex)) {
    char c = rest[k];
    uint32_t digit = c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10;
    code = code * (hex ? 16 : 10) + digit;
    if (code > 0x10FFFF) return 0;
    ++digits, ++k;
  }
  if (digits == 0 || k >= rest.size() || rest[k] != ';' || !IsXmlChar(code)) return 0;
  return k + 2;
}

}  // namespace

std::string TextProblem(std::string_view text) {
  size_t i = 0;
  size_t plain_from = 0;  // start of the characters not checked yet
  auto skip_to = [&](size_t start, std::string_view close) -> std::string {
    size_t end = text.find(close, start);
    if (end == std::string_view::npos) end = text.size();  // the parser reports it
    std::string problem = CharsProblem(text, start, end);
    i = std::min(text.size(), end + close.size());
    plain_from = i;
    return problem;
  };
  while (i < text.size()) {
    // Only markup starts and references need a closer look; the rest is checked in bulk.
    // A plain loop: find_first_of looks each byte up in the set with a call of its own.
    while (i < text.size() && text[i] != '<' && text[i] != '&') ++i;
    if (i == text.size()) break;
    if (text[i] == '&') {
      size_t length = ReferenceLength(text, i);
      if (length == 0) return At("an undefined entity or a bare '&'", i);
      i += length;
      continue;
    }
    std::string_view rest = text.substr(i);
    std::string problem;
    if (rest.substr(0, 4) == "<!--") {
      problem = CharsProblem(text, plain_from, i);
      if (problem.empty()) problem = skip_to(i + 4, "-->");
    } else if (rest.substr(0, 9) == "<![CDATA[") {
      problem = CharsProblem(text, plain_from, i);
      if (problem.empty()) problem = skip_to(i + 9, "]]>");
    } else if (rest.substr(0, 2) == "<?") {
      problem = CharsProblem(text, plain_from, i);
      if (problem.empty()) problem = skip_to(i + 2, "?>");
    } else if (rest.substr(0, 2) == "<!") {
      return At("a document type declaration (not accepted)", i);
    } else {
      ++i;
    }
    if (!problem.empty()) return problem;
  }
  return CharsProblem(text, plain_from, text.size());
}

bool IsXmlText(std::string_view text) { return CharsProblem(text, 0, text.size()).empty(); }

std::string TreeProblem(const pugi::xml_document& doc) {
  int elements = 0;
  for (pugi::xml_node child : doc.children()) {
    switch (child.type()) {
      case pugi::node_element:
        ++elements;
        break;
      case pugi::node_pcdata:
      case pugi::node_cdata:
        return "text outside the document element";
      case pugi::node_null:
      case pugi::node_document:
      case pugi::node_comment:
      case pugi::node_pi:
      case pugi::node_declaration:
      case pugi::node_doctype:
      default:
        break;
    }
  }
  if (elements != 1) {
    return elements == 0 ? "the text has no document element" : "more than one document element";
  }
  // Depth-first over every element, without recursion (documents may nest deeply).
  std::vector<const char*> names;
  for (pugi::xml_node node = doc.document_element(); node;) {
    if (node.first_attribute() && node.first_attribute().next_attribute()) {
      names.clear();
      for (pugi::xml_attribute attr : node.attributes()) names.push_back(attr.name());
      std::sort(names.begin(), names.end(),
                [](const char* a, const char* b) { return std::strcmp(a, b) < 0; });
      auto same = [](const char* a, const char* b) { return std::strcmp(a, b) == 0; };
      auto twice = std::adjacent_find(names.begin(), names.end(), same);
      if (twice != names.end()) {
        return "the attribute '" + std::string(*twice) + "' given twice on <" +
               std::string(node.name()) + ">";
      }
    }
    pugi::xml_node next = node.first_child();
    while (next && next.type() != pugi::node_element) next = next.next_sibling();
    if (next) {
      node = next;
      continue;
    }
    // Up until an element with a next element sibling.
    for (; node && node != doc; node = node.parent()) {
      pugi::xml_node sibling = node.next_sibling();
      while (sibling && sibling.type() != pugi::node_element) sibling = sibling.next_sibling();
      if (sibling) {
        next = sibling;
        break;
      }
    }
    node = next;
  }
  return "";
}

}  // namespace rembiz::xml
