#include "basedata/tree_answers.h"

#include "xml/escape.h"

namespace rembiz::basedata {

RowTree::RowTree(std::string_view list_xml) {
  doc_.LoadXml(list_xml);
  for (xml::Node row : doc_.SelectNodes("//row")) by_id_.emplace(row.Attr("id"), row);
}

void RowTree::Add(std::string_view parent, std::string_view id, std::string_view name,
                  const Attributes& extra) {
  auto found = by_id_.find(std::string(parent));
  xml::Node under = found != by_id_.end() ? found->second : doc_.DocumentElement();
  xml::Node row = under.AppendElement("row");
  row.SetAttr("id", id);
  row.SetAttr("name", "(" + std::string(id) + ")" + std::string(name));
  for (const auto& [attribute, value] : extra) row.SetAttr(attribute, value);
  by_id_.emplace(std::string(id), row);
}

void TreeOrderedRows::Insert(std::string_view parent, Attributes row) {
  auto position = rows_.begin();
  for (auto it = rows_.begin(); it != rows_.end(); ++it) {
    bool is_parent = false;
    for (const auto& [attribute, value] : *it) {
      if (attribute == code_) is_parent = value == parent;
    }
    if (is_parent) {
      position = it + 1;
      break;
    }
  }
  rows_.insert(position, std::move(row));
}

std::string RowElement(const Attributes& row) {
  std::string out = "<row";
  for (const auto& [attribute, value] : row) {
    out += " " + attribute + "='" + xml::XmlEscape(value) + "'";
  }
  return out + "/>";
}

std::string TreeOrderedRows::Xml() const {
  std::string out = "<rows>";
  for (const Attributes& row : rows_) out += RowElement(row);
  return out + "</rows>";
}

}  // namespace rembiz::basedata
