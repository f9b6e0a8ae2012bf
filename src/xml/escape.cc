#include "xml/escape.h"

#include <cstdint>
#include <cstdio>

namespace rembiz::xml {
namespace {

// The code point at `i` and its length in bytes; a byte that starts no UTF-8 sequence counts as
// U+FFFD of length 1 (and is written encoded).
uint32_t CodePoint(std::string_view text, size_t i, size_t* length) {
  auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
  unsigned char lead = byte(i);
  size_t n = lead < 0x80 ? 1 : (lead & 0xE0) == 0xC0 ? 2 : (lead & 0xF0) == 0xE0 ? 3 : 4;
  if (lead >= 0x80 && ((lead & 0xC0) == 0x80 || lead >= 0xF8)) n = 0;
  uint32_t code = n == 1 ? lead : n == 2 ? lead & 0x1F : n == 3 ? lead & 0x0F : lead & 0x07;
  if (n == 0 || i + n > text.size()) {
    *length = 1;
    return 0xFFFD;
  }
  for (size_t k = 1; k < n; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) {
      *length = 1;
      return 0xFFFD;
    }
    code = (code << 6) | (byte(i + k) & 0x3F);
  }
  *length = n;
  return code;
}

// XML 1.0 (fifth edition) name characters, without the colon.
bool IsNameStart(uint32_t c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || (c >= 0xC0 && c <= 0xD6) ||
         (c >= 0xD8 && c <= 0xF6) || (c >= 0xF8 && c <= 0x2FF) || (c >= 0x370 && c <= 0x37D) ||
         (c >= 0x37F && c <= 0x1FFF) || (c >= 0x200C && c <= 0x200D) ||
         (c >= 0x2070 && c <= 0x218F) || (c >= 0x2C00 && c <= 0x2FEF) ||
         (c >= 0x3001 && c <= 0xD7FF) || (c >= 0xF900 && c <= 0xFDCF) ||
         (c >= 0xFDF0 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0xEFFFF);
}

bool IsNameChar(uint32_t c) {
  return IsNameStart(c) || c == '-' || c == '.' || (c >= '0' && c <= '9') || c == 0xB7 ||
         (c >= 0x300 && c <= 0x36F) || (c >= 0x203F && c <= 0x2040);
}

// "_x" followed by four hex digits and "_": text that would read as an encoded character.
bool LooksEncoded(std::string_view name, size_t i) {
  if (name.size() < i + 7 || name[i + 1] != 'x' || name[i + 6] != '_') return false;
  for (size_t k = i + 2; k < i + 6; ++k) {
    char c = name[k];
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'))) {
      return false;
    }
  }
  return true;
}

}  // namespace

std::string XmlEscape(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 8);
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '\'':
        out += "&apos;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

bool IsXmlName(std::string_view name) {
  if (name.empty() || name == "xmlns") return false;
  for (size_t i = 0, length = 0; i < name.size(); i += length) {
    uint32_t c = CodePoint(name, i, &length);
    if (c == 0xFFFD && length == 1 && static_cast<unsigned char>(name[i]) >= 0x80) return false;
    if (!(i == 0 ? IsNameStart(c) : IsNameChar(c))) return false;
  }
  return true;
}

std::string XmlName(std::string_view name) {
  if (IsXmlName(name) && name.find("_x") == std::string_view::npos) return std::string(name);
  if (name.empty()) return "_";
  std::string out;
  for (size_t i = 0, length = 0; i < name.size(); i += length) {
    uint32_t c = CodePoint(name, i, &length);
    bool broken = c == 0xFFFD && length == 1 && static_cast<unsigned char>(name[i]) >= 0x80;
    bool keep = !broken && (i == 0 ? IsNameStart(c) : IsNameChar(c));
    if (c == '_' && LooksEncoded(name, i)) keep = false;
    if (keep) {
      out.append(name.substr(i, length));
    } else {
      char code[16];
      std::snprintf(code, sizeof code, c > 0xFFFF ? "_x%08X_" : "_x%04X_", c);
      out += code;
    }
  }
  // "xmlns" alone would declare a namespace.
  return out == "xmlns" ? "_x0078_mlns" : out;
}

}  // namespace rembiz::xml
