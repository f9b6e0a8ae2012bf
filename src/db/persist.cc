#include "db/persist.h"

#include <algorithm>
#include <pugixml.hpp>
#include <vector>

#include "xml/escape.h"
#include "xml/well_formed.h"

namespace rembiz::db {
namespace {

void AppendDataType(std::string& out, const FieldInfo& field) {
  const std::string nullable = field.nullable ? "true" : "false";
  auto size = std::to_string(field.defined_size);
  switch (field.type) {
    case kAdVarChar:
    case kAdVarWChar:
    case kAdChar:
    case kAdWChar:
      out += "<s:datatype dt:type='string' rs:dbtype='" +
             std::string(field.type == kAdVarChar || field.type == kAdChar ? "str" : "") +
             "' dt:maxLength='" + size + "'" +
             (field.type == kAdChar || field.type == kAdWChar ? " rs:fixedlength='true'" : "") +
             " rs:maybenull='" + nullable + "'/>";
      break;
    case kAdLongVarChar:
    case kAdLongVarWChar:
      out += "<s:datatype dt:type='string' dt:maxLength='" + size +
             "' rs:long='true' rs:maybenull='" + nullable + "'/>";
      break;
    case kAdInteger:
      out +=
          "<s:datatype dt:type='int' dt:maxLength='4' rs:precision='10' "
          "rs:fixedlength='true' rs:maybenull='" +
          nullable + "'/>";
      break;
    case kAdSmallInt:
      out +=
          "<s:datatype dt:type='i2' dt:maxLength='2' rs:precision='5' rs:fixedlength='true' "
          "rs:maybenull='" +
          nullable + "'/>";
      break;
    case kAdTinyInt:
      out +=
          "<s:datatype dt:type='ui1' dt:maxLength='1' rs:precision='3' "
          "rs:fixedlength='true' rs:maybenull='" +
          nullable + "'/>";
      break;
    case kAdBigInt:
      out +=
          "<s:datatype dt:type='i8' dt:maxLength='8' rs:precision='19' "
          "rs:fixedlength='true' rs:maybenull='" +
          nullable + "'/>";
      break;
    case kAdBoolean:
      out +=
          "<s:datatype dt:type='boolean' dt:maxLength='2' rs:fixedlength='true' "
          "rs:maybenull='" +
          nullable + "'/>";
      break;
    case kAdCurrency:
      out +=
          "<s:datatype dt:type='i8' rs:dbtype='currency' dt:maxLength='8' rs:precision='19' "
          "rs:fixedlength='true' rs:maybenull='" +
          nullable + "'/>";
      break;
    case kAdDouble:
    case kAdSingle:
      out +=
          "<s:datatype dt:type='float' dt:maxLength='8' rs:precision='15' "
          "rs:fixedlength='true' rs:maybenull='" +
          nullable + "'/>";
      break;
    case kAdNumeric:
      out += "<s:datatype dt:type='number' rs:dbtype='numeric' dt:maxLength='19' rs:scale='" +
             std::to_string(field.scale) + "' rs:precision='" + std::to_string(field.precision) +
             "' rs:fixedlength='true' rs:maybenull='" + nullable + "'/>";
      break;
    case kAdDbTimeStamp:
      out +=
          "<s:datatype dt:type='dateTime' rs:dbtype='timestamp' dt:maxLength='16' "
          "rs:scale='3' rs:precision='23' rs:fixedlength='true' rs:maybenull='" +
          nullable + "'/>";
      break;
    case kAdGuid:
      out += "<s:datatype dt:type='uuid' dt:maxLength='16' rs:fixedlength='true' rs:maybenull='" +
             nullable + "'/>";
      break;
    default:
      out += "<s:datatype dt:type='bin.hex' dt:maxLength='" + size + "' rs:maybenull='" + nullable +
             "'/>";
      break;
  }
}

// Appends a value's persisted text: dates with "T" between day and time.
void AppendPersisted(std::string& out, const Variant& value, std::string& scratch) {
  std::string_view text = value.TextView(scratch);
  if (value.kind() != Variant::Kind::kDate) {
    out.append(text);
    return;
  }
  out.append(text.substr(0, 10));
  out.append(text.size() > 10 ? "T" : "T00:00:00");
  if (text.size() > 11) out.append(text.substr(11));
}

// Escapes for an attribute in single quotes; line breaks and tabs survive only as references.
void AppendAttrEscaped(std::string& out, std::string_view text) {
  size_t plain = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const char* entity = nullptr;
    switch (text[i]) {
      case '&':
        entity = "&amp;";
        break;
      case '>':
        entity = "&gt;";
        break;
      case '<':
        entity = "&lt;";
        break;
      case '\'':
        entity = "&apos;";
        break;
      case '"':
        entity = "&quot;";
        break;
      case '\r':
        entity = "&#xd;";
        break;
      case '\n':
        entity = "&#xa;";
        break;
      case '\t':
        entity = "&#x9;";
        break;
      default:
        continue;
    }
    out.append(text.substr(plain, i - plain));
    out.append(entity);
    plain = i + 1;
  }
  out.append(text.substr(plain));
}

const RecordShape& NoFields() {
  static const RecordShape shape{std::vector<FieldInfo>()};
  return shape;
}

}  // namespace

std::string XmlAttrEscape(const std::string& text) {
  std::string out;
  AppendAttrEscaped(out, text);
  return out;
}

void RecordShape::MakeXml() const {
  std::string& out = schema_xml_;
  out =
      "<xml xmlns:s='uuid:BDC6E3F0-6DA3-11d1-A2A3-00AA00C14882' "
      "xmlns:dt='uuid:C2F41010-65B3-11d1-A29F-00AA00C14882' "
      "xmlns:rs='urn:schemas-microsoft-com:rowset' xmlns:z='#RowsetSchema'>"
      "<s:Schema id='RowsetSchema'><s:ElementType name='row' content='eltOnly' "
      "rs:updatable='true'>";
  for (size_t i = 0; i < fields_.size(); ++i) {
    // A column name that is no XML name is written encoded; rs:name keeps it as it is.
    std::string name = xml::XmlName(fields_[i].name);
    out += "<s:AttributeType name='" + name + "'" +
           (name == fields_[i].name ? "" : " rs:name='" + XmlAttrEscape(fields_[i].name) + "'") +
           " rs:number='" + std::to_string(i + 1) + "' rs:nullable='" +
           (fields_[i].nullable ? "true" : "false") + "' rs:write='true'>";
    AppendDataType(out, fields_[i]);
    out += "</s:AttributeType>";
    xml_names_.push_back(std::move(name));
  }
  out += "<s:extends type='rs:rowbase'/></s:ElementType></s:Schema><rs:data>";
  // Two columns of one name would give every row an attribute twice: only the text shows that.
  std::vector<std::string> names = xml_names_;
  std::sort(names.begin(), names.end());
  if (std::adjacent_find(names.begin(), names.end()) != names.end()) return;
  xml::Document document;
  if (document.LoadXml(out + "</rs:data></xml>")) {
    schema_document_ = std::make_unique<pugi::xml_document>();
    schema_document_->append_copy(document.DocumentElement().Raw());
  }
}

RecordShape::~RecordShape() = default;

const pugi::xml_document* RecordShape::SchemaDocument() const {
  std::call_once(xml_once_, [this] { MakeXml(); });
  return schema_document_.get();
}

std::string SaveXml(const Recordset& recordset) {
  const RecordShape& shape = recordset.Shape() ? *recordset.Shape() : NoFields();
  const std::vector<std::string>& names = shape.XmlNames();
  std::string out = shape.SchemaXml();
  std::string scratch;
  for (const auto& row : recordset.Rows()) {
    out += "<z:row";
    for (size_t i = 0; i < names.size() && i < row.size(); ++i) {
      if (row[i].IsNull()) continue;
      out += ' ';
      out += names[i];
      out += "='";
      // Dates need no escaping; every other value is written as its text.
      if (row[i].kind() == Variant::Kind::kDate) {
        AppendPersisted(out, row[i], scratch);
      } else {
        AppendAttrEscaped(out, row[i].TextView(scratch));
      }
      out += '\'';
    }
    out += "/>";
  }
  out += "</rs:data></xml>";
  return out;
}

void LoadXml(const Recordset& recordset, xml::Document& answer) {
  const RecordShape& shape = recordset.Shape() ? *recordset.Shape() : NoFields();
  const pugi::xml_document* schema = shape.SchemaDocument();
  std::string scratch;
  bool plain = schema != nullptr;
  for (const auto& row : recordset.Rows()) {
    for (const Variant& value : row) {
      if (!plain) break;
      if (value.kind() == Variant::Kind::kText) plain = xml::IsXmlText(value.TextView(scratch));
    }
  }
  // Text the parser would refuse goes the way of the text, to be refused the same way.
  if (!plain) {
    answer.LoadXml(SaveXml(recordset));
    return;
  }
  pugi::xml_node root = answer.PlaceCopy(schema->document_element()).Raw();
  pugi::xml_node data = root.child("rs:data");
  const std::vector<std::string>& names = shape.XmlNames();
  std::string date;
  for (const auto& row : recordset.Rows()) {
    pugi::xml_node element = data.append_child("z:row");
    for (size_t i = 0; i < names.size() && i < row.size(); ++i) {
      if (row[i].IsNull()) continue;
      pugi::xml_attribute attr = element.append_attribute(names[i].c_str());
      std::string_view text;
      if (row[i].kind() == Variant::Kind::kDate) {
        date.clear();
        AppendPersisted(date, row[i], scratch);
        text = date;
      } else {
        text = row[i].TextView(scratch);
      }
      attr.set_value(text.data(), text.size());
    }
  }
}

}  // namespace rembiz::db
