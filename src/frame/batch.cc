#include "frame/batch.h"

#include "xml/escape.h"

namespace rembiz::frame {

void Batch::Refuse(std::string item, std::string text) {
  refusals_.push_back(Refusal{std::move(item), std::move(text)});
}

std::string Batch::ErrorListXml() const {
  if (refusals_.empty()) return {};
  std::string out = "<Error>";
  for (const Refusal& refusal : refusals_) {
    out += "<err guid='" + xml::XmlEscape(refusal.item) + "' msg='" + xml::XmlEscape(refusal.text) +
           "' />";
  }
  return out + "</Error>";
}

void Batch::RaiseRefusals() const {
  if (refusals_.empty()) return;
  std::string text;
  for (const Refusal& refusal : refusals_) text += (text.empty() ? "" : "\n") + refusal.text;
  throw ComError(kErrBusiness, text, "Rembiz");
}

}  // namespace rembiz::frame
