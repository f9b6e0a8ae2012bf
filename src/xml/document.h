// The small DOM surface the business classes use: documents loaded from text, nodes with
// attributes, text and children, XPath selection and serialisation. Over pugixml; prefixed
// names such as "rs:data" and "z:row" match literally in XPath.
#pragma once

#include <memory>
#include <pugixml.hpp>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace rembiz::xml {

class Node;
using NodeList = std::vector<Node>;

// A handle to an element (or the document node) of a Document; cheap to copy. A null Node
// answers every read with an empty value and ignores writes.
class Node {
 public:
  Node() = default;
  explicit Node(pugi::xml_node node) : node_(node) {}

  bool IsNull() const { return !node_; }
  explicit operator bool() const { return static_cast<bool>(node_); }
  bool operator==(const Node& other) const { return node_ == other.node_; }

  std::string Name() const { return node_.name(); }
  // All character data below the node, as a DOM "text" property gives it.
  std::string Text() const;
  // Replaces the node's children with one text node.
  void SetText(std::string_view text);

  bool HasAttr(std::string_view name) const;
  // The attribute's value, or "" when it is missing.
  std::string Attr(std::string_view name) const;
  void SetAttr(std::string_view name, std::string_view value);
  void RemoveAttr(std::string_view name);
  std::vector<std::pair<std::string, std::string>> Attributes() const;

  Node SelectSingleNode(std::string_view xpath) const;
  NodeList SelectNodes(std::string_view xpath) const;

  Node FirstChild() const;   // first element child
  Node NextSibling() const;  // next element sibling
  Node Parent() const;
  Node Child(std::string_view name) const;  // first element child of that name
  NodeList Children() const;                // element children
  NodeList Children(std::string_view name) const;

  // Appends a deep copy of `node` (possibly from another document) and returns the copy.
  Node AppendChild(const Node& node);
  Node AppendElement(std::string_view name);
  // Inserts a deep copy of `node` before `ref` (at the end when ref is null).
  Node InsertBefore(const Node& node, const Node& ref);
  void RemoveChild(const Node& child);

  // The node serialised without formatting.
  std::string Xml() const;

  pugi::xml_node Raw() const { return node_; }

 private:
  pugi::xml_node node_;
};

// A document owns its tree. Loading malformed text fails cleanly and leaves it empty.
//
// An answer document may be given the element it will end up under (SetTarget, the frame's
// `out`): a writer that builds the answer from a tree (PlaceCopy) then builds it there at once,
// so that it is not copied again. Such a placed answer reads as its element: XPath from the
// document ("//x", "/x") looks at that element and below it only.
class Document {
 public:
  Document();
  Document(const Document&) = delete;
  Document& operator=(const Document&) = delete;
  Document(Document&&) noexcept;
  Document& operator=(Document&&) noexcept;
  ~Document();

  // Replaces the content with the parsed text; false (and an empty document) when the text is
  // not well-formed XML.
  bool LoadXml(std::string_view text);
  // Parser message of the last failed load.
  const std::string& ParseError() const { return parse_error_; }
  void Clear();

  bool Empty() const;

  // The element a placed answer goes under; none by default.
  void SetTarget(Node parent) { target_ = parent.Raw(); }
  // Replaces the content with a copy of `source`, under the target when there is one (the
  // answer is then placed), else as the document element. Returns the copy.
  Node PlaceCopy(pugi::xml_node source);
  // True when the content lives under the target already.
  bool IsPlaced() const { return static_cast<bool>(placed_); }
  // The serialised document ("" when empty); a declaration is kept when the text had one.
  std::string Xml() const;
  Node DocumentElement() const;
  Node Root() const { return Node(doc_->root()); }
  Node SelectSingleNode(std::string_view xpath) const;
  NodeList SelectNodes(std::string_view xpath) const;

 private:
  // Takes a placed answer out of its target again.
  void Unplace();

  std::unique_ptr<pugi::xml_document> doc_;
  pugi::xml_node target_;
  pugi::xml_node placed_;
  std::string parse_error_;
};

}  // namespace rembiz::xml
