#include "db/persist.h"

#include <vector>

#include "xml/escape.h"

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

std::string PersistedValue(const Variant& value) {
  if (value.kind() == Variant::Kind::kDate) {
    std::string text = value.ToText();
    if (text.size() == 10) text += " 00:00:00";
    text[10] = 'T';
    return text;
  }
  return value.ToText();
}

}  // namespace

std::string XmlAttrEscape(const std::string& text) {
  std::string escaped = xml::XmlEscape(text);
  if (escaped.find_first_of("\r\n\t") == std::string::npos) return escaped;
  // Line breaks and tabs survive an attribute only as character references.
  std::string out;
  for (char c : escaped) {
    if (c == '\r') {
      out += "&#xd;";
    } else if (c == '\n') {
      out += "&#xa;";
    } else if (c == '\t') {
      out += "&#x9;";
    } else {
      out += c;
    }
  }
  return out;
}

std::string SaveXml(const Recordset& recordset) {
  std::string out =
      "<xml xmlns:s='uuid:BDC6E3F0-6DA3-11d1-A2A3-00AA00C14882' "
      "xmlns:dt='uuid:C2F41010-65B3-11d1-A29F-00AA00C14882' "
      "xmlns:rs='urn:schemas-microsoft-com:rowset' xmlns:z='#RowsetSchema'>"
      "<s:Schema id='RowsetSchema'><s:ElementType name='row' content='eltOnly' "
      "rs:updatable='true'>";
  const auto& fields = recordset.Fields();
  for (size_t i = 0; i < fields.size(); ++i) {
    // A column name that is no XML name is written encoded; rs:name keeps it as it is.
    std::string name = xml::XmlName(fields[i].name);
    out += "<s:AttributeType name='" + name + "'" +
           (name == fields[i].name ? "" : " rs:name='" + XmlAttrEscape(fields[i].name) + "'") +
           " rs:number='" + std::to_string(i + 1) + "' rs:nullable='" +
           (fields[i].nullable ? "true" : "false") + "' rs:write='true'>";
    AppendDataType(out, fields[i]);
    out += "</s:AttributeType>";
  }
  out += "<s:extends type='rs:rowbase'/></s:ElementType></s:Schema><rs:data>";
  std::vector<std::string> names;
  for (const FieldInfo& field : fields) names.push_back(xml::XmlName(field.name));
  for (const auto& row : recordset.Rows()) {
    out += "<z:row";
    for (size_t i = 0; i < fields.size() && i < row.size(); ++i) {
      if (row[i].IsNull()) continue;
      out += " " + names[i] + "='" + XmlAttrEscape(PersistedValue(row[i])) + "'";
    }
    out += "/>";
  }
  out += "</rs:data></xml>";
  return out;
}

}  // namespace rembiz::db
