// The XML layer on any bytes: loading never crashes, a loaded document writes text that loads
// again, and names from data always come out as XML names.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "xml/document.h"
#include "xml/escape.h"

using rembiz::xml::Document;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);

  // Any text as a name: the encoding always gives a name, and leaves names alone.
  std::string name = rembiz::xml::XmlName(text);
  if (!rembiz::xml::IsXmlName(name)) std::abort();
  if (rembiz::xml::IsXmlName(text) && text.find("_x") == std::string_view::npos && name != text) {
    std::abort();
  }
  // Any text as a value inside a document the code builds.
  Document built;
  if (!built.LoadXml("<r a='" + rembiz::xml::XmlEscape(text) + "'/>") &&
      built.ParseError().find("UTF-8") == std::string::npos &&
      built.ParseError().find("does not allow") == std::string::npos) {
    std::abort();  // escaped text may only fail for bytes XML cannot carry at all
  }

  Document doc;
  if (!doc.LoadXml(text)) return 0;
  // What is written loads again; from then on it stays the same (the first round may turn a
  // carriage return of a text into a line feed, as every XML reader does).
  std::string written = doc.Xml();
  Document again;
  if (!again.LoadXml(written)) std::abort();
  std::string rewritten = again.Xml();
  Document third;
  if (!third.LoadXml(rewritten) || third.Xml() != rewritten) std::abort();
  // What the frame does with every request.
  for (rembiz::xml::Node func : doc.SelectNodes("//func")) {
    rembiz::xml::Node out = func.Child("out");
    if (!out) out = func.AppendElement("out");
    out.AppendChild(again.DocumentElement());
  }
  (void)doc.Xml();
  return 0;
}
