#include "xml/document.h"

#include <sstream>
#include <stdexcept>
#include <string>
#include <unordered_map>

#include "xml/well_formed.h"

namespace rembiz::xml {
namespace {

constexpr unsigned kParseOptions = pugi::parse_default | pugi::parse_declaration;
constexpr unsigned kFormat = pugi::format_raw | pugi::format_no_declaration;

// Compiled XPath queries are kept per thread: the same few paths are asked on every request.
const pugi::xpath_query& CompiledQuery(std::string_view xpath) {
  thread_local std::unordered_map<std::string, std::unique_ptr<pugi::xpath_query>> cache;
  std::string key(xpath);
  auto it = cache.find(key);
  if (it == cache.end()) {
    if (cache.size() > 512) cache.clear();
    auto query = std::make_unique<pugi::xpath_query>(key.c_str());
    if (!query->result()) {
      throw std::invalid_argument("invalid XPath '" + key + "': " + query->result().description());
    }
    it = cache.emplace(std::move(key), std::move(query)).first;
  }
  return *it->second;
}

void CollectText(pugi::xml_node node, std::string& out) {
  for (pugi::xml_node child : node.children()) {
    if (child.type() == pugi::node_pcdata || child.type() == pugi::node_cdata) {
      out += child.value();
    } else if (child.type() == pugi::node_element) {
      CollectText(child, out);
    }
  }
}

}  // namespace

std::string Node::Text() const {
  std::string out;
  if (node_.type() == pugi::node_pcdata || node_.type() == pugi::node_cdata) return node_.value();
  CollectText(node_, out);
  return out;
}

void Node::SetText(std::string_view text) {
  if (!node_) return;
  while (node_.first_child()) node_.remove_child(node_.first_child());
  node_.append_child(pugi::node_pcdata).set_value(std::string(text).c_str());
}

bool Node::HasAttr(std::string_view name) const {
  return static_cast<bool>(node_.attribute(std::string(name).c_str()));
}

std::string Node::Attr(std::string_view name) const {
  return node_.attribute(std::string(name).c_str()).value();
}

void Node::SetAttr(std::string_view name, std::string_view value) {
  if (!node_) return;
  std::string key(name);
  pugi::xml_attribute attr = node_.attribute(key.c_str());
  if (!attr) attr = node_.append_attribute(key.c_str());
  attr.set_value(std::string(value).c_str());
}

void Node::RemoveAttr(std::string_view name) { node_.remove_attribute(std::string(name).c_str()); }

std::vector<std::pair<std::string, std::string>> Node::Attributes() const {
  std::vector<std::pair<std::string, std::string>> out;
  for (pugi::xml_attribute attr : node_.attributes()) out.emplace_back(attr.name(), attr.value());
  return out;
}

Node Node::SelectSingleNode(std::string_view xpath) const {
  if (!node_) return Node();
  return Node(node_.select_node(CompiledQuery(xpath)).node());
}

NodeList Node::SelectNodes(std::string_view xpath) const {
  NodeList out;
  if (!node_) return out;
  for (const pugi::xpath_node& hit : node_.select_nodes(CompiledQuery(xpath))) {
    if (hit.node()) out.emplace_back(hit.node());
  }
  return out;
}

Node Node::FirstChild() const {
  for (pugi::xml_node child : node_.children()) {
    if (child.type() == pugi::node_element) return Node(child);
  }
  return Node();
}

Node Node::NextSibling() const {
  for (pugi::xml_node next = node_.next_sibling(); next; next = next.next_sibling()) {
    if (next.type() == pugi::node_element) return Node(next);
  }
  return Node();
}

Node Node::Parent() const { return Node(node_.parent()); }

Node Node::Child(std::string_view name) const {
  return Node(node_.child(std::string(name).c_str()));
}

NodeList Node::Children() const {
  NodeList out;
  for (pugi::xml_node child : node_.children()) {
    if (child.type() == pugi::node_element) out.emplace_back(child);
  }
  return out;
}

NodeList Node::Children(std::string_view name) const {
  NodeList out;
  // The range keeps a pointer to the name: the text must outlive the loop.
  const std::string key(name);
  for (pugi::xml_node child : node_.children(key.c_str())) out.emplace_back(child);
  return out;
}

Node Node::AppendChild(const Node& node) {
  if (!node_ || !node.node_) return Node();
  if (node.node_.type() == pugi::node_document) {
    Node copy;
    for (pugi::xml_node child : node.node_.children()) {
      if (child.type() == pugi::node_element) copy = Node(node_.append_copy(child));
    }
    return copy;
  }
  return Node(node_.append_copy(node.node_));
}

Node Node::AppendElement(std::string_view name) {
  if (!node_) return Node();
  return Node(node_.append_child(std::string(name).c_str()));
}

Node Node::InsertBefore(const Node& node, const Node& ref) {
  if (!node_ || !node.node_) return Node();
  if (!ref.node_) return AppendChild(node);
  return Node(node_.insert_copy_before(node.node_, ref.node_));
}

void Node::RemoveChild(const Node& child) { node_.remove_child(child.node_); }

std::string Node::Xml() const {
  if (!node_) return "";
  std::ostringstream out;
  node_.print(out, "", kFormat);
  return out.str();
}

Document::Document() : doc_(std::make_unique<pugi::xml_document>()) {}
Document::Document(Document&&) noexcept = default;
Document& Document::operator=(Document&&) noexcept = default;
Document::~Document() = default;

bool Document::LoadXml(std::string_view text) {
  Unplace();
  std::string problem = TextProblem(text);
  if (problem.empty()) {
    pugi::xml_parse_result result =
        doc_->load_buffer(text.data(), text.size(), kParseOptions, pugi::encoding_utf8);
    problem = result
                  ? TreeProblem(*doc_)
                  : std::string(result.description()) + " at byte " + std::to_string(result.offset);
  }
  if (!problem.empty()) {
    parse_error_ = std::move(problem);
    doc_->reset();
    return false;
  }
  parse_error_.clear();
  return true;
}

void Document::Clear() {
  Unplace();
  doc_->reset();
}

bool Document::Empty() const { return !placed_ && !doc_->first_child(); }

void Document::Unplace() {
  if (placed_) placed_.parent().remove_child(placed_);
  placed_ = pugi::xml_node();
}

Node Document::PlaceCopy(pugi::xml_node source) {
  Clear();
  if (target_) {
    placed_ = target_.append_copy(source);
    return Node(placed_);
  }
  return Node(doc_->append_copy(source));
}

namespace {

// A query from the document as a query from a placed answer's element: "//x" looks at the
// element and below, "/x" and "x" at the element itself.
std::string FromElement(std::string_view xpath) {
  std::string out;
  size_t start = 0;
  while (start <= xpath.size()) {
    size_t bar = xpath.find('|', start);
    std::string_view part =
        xpath.substr(start, bar == std::string_view::npos ? std::string_view::npos : bar - start);
    size_t lead = part.find_first_not_of(' ');
    part = lead == std::string_view::npos ? std::string_view() : part.substr(lead);
    if (!out.empty()) out += " | ";
    if (part.starts_with("//")) {
      out += "descendant-or-self::";
      out += part.substr(2);
    } else {
      out += "self::";
      out += part.starts_with("/") ? part.substr(1) : part;
    }
    if (bar == std::string_view::npos) break;
    start = bar + 1;
  }
  return out;
}

}  // namespace

Node Document::SelectSingleNode(std::string_view xpath) const {
  if (placed_) return Node(placed_).SelectSingleNode(FromElement(xpath));
  return Root().SelectSingleNode(xpath);
}

NodeList Document::SelectNodes(std::string_view xpath) const {
  if (placed_) return Node(placed_).SelectNodes(FromElement(xpath));
  return Root().SelectNodes(xpath);
}

std::string Document::Xml() const {
  if (placed_) return Node(placed_).Xml();
  if (Empty()) return "";
  std::ostringstream out;
  doc_->save(out, "", kFormat, pugi::encoding_utf8);
  return out.str();
}

Node Document::DocumentElement() const {
  return placed_ ? Node(placed_) : Node(doc_->document_element());
}

}  // namespace rembiz::xml
