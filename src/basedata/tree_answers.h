// The two answer shapes the master-data trees share: the tree a page draws ("treeget",
// "getdepart": `row` elements nested under their parent's row inside a `list`) and the export
// ("outputget": flat `row` elements in tree order, each right after its parent).
#pragma once

#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "xml/document.h"

namespace rembiz::basedata {

using Attributes = std::vector<std::pair<std::string, std::string>>;

// A `list` document whose rows are appended under the row of their parent's id.
class RowTree {
 public:
  // `list_xml` is the list with its fixed rows (the roots), whose `id`s parents may name.
  explicit RowTree(std::string_view list_xml);

  // Appends <row id=… name='(id)name' …/> under the row whose id is `parent`, or under the list
  // when no row has that id. The id is the row's own id for later rows.
  void Add(std::string_view parent, std::string_view id, std::string_view name,
           const Attributes& extra = {});
  std::string Xml() const { return doc_.DocumentElement().Xml(); }

 private:
  xml::Document doc_;
  std::unordered_map<std::string, xml::Node> by_id_;
};

// Rows of an export in tree order: each row is placed right after the row of its parent (the
// row whose `code_attribute` equals `parent`), or first when there is none. Adding the records
// by code length and, within one length, by code descending gives every parent its children in
// ascending code order.
class TreeOrderedRows {
 public:
  explicit TreeOrderedRows(std::string code_attribute) : code_(std::move(code_attribute)) {}
  void Append(Attributes row) { rows_.push_back(std::move(row)); }  // fixed rows, in order
  void Insert(std::string_view parent, Attributes row);
  // "<rows>" + one "<row a='…' …/>" per row (values escaped) + "</rows>".
  std::string Xml() const;

 private:
  std::string code_;
  std::vector<Attributes> rows_;
};

// One "<row a='…' …/>" element with escaped values.
std::string RowElement(const Attributes& row);

}  // namespace rembiz::basedata
