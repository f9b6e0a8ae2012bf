#include "bench/floor_common.h"

#include <charconv>

namespace rembiz::bench {

void AppendEscaped(std::string& out, std::string_view text) {
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\r':
        out += "&#13;";
        break;
      case '\n':
        out += "&#10;";
        break;
      case '\t':
        out += "&#9;";
        break;
      default:
        out += c;
    }
  }
}

void AppendNumber(std::string& out, double value) {
  char buffer[32];
  if (value == 0) {
    out += '0';
    return;
  }
  auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
  out.append(buffer, end);
}

bool ReadSchemas::Learn(const std::string& expected) {
  size_t head_at = expected.find("<xml ");
  size_t head_data = expected.find("<rs:data>", head_at);
  size_t body_at = expected.find("<xml ", head_data);
  size_t body_data = expected.find("<rs:data>", body_at);
  if (body_data == std::string::npos) return false;
  head = expected.substr(head_at, head_data + 9 - head_at);
  body = expected.substr(body_at, body_data + 9 - body_at);
  return true;
}

void AppendReadOpening(std::string& out, const std::string& guid, const std::string& auto_id,
                       const ReadSchemas& schemas) {
  out += "<req><func name=\"getVouchByGUID\"><in><GUID>";
  out += guid;
  out += "</GUID></in><out><Rows><row AutoID=\"";
  out += auto_id;
  out += "\"/></Rows></out></func><func name=\"vchgetloanheaddata\"><in><row/></in><out>";
  out += schemas.head;
}

void AppendReadMiddle(std::string& out, const ReadSchemas& schemas) {
  out += "</rs:data></xml></out></func><func name=\"vchgetloanbodydata\"><in><row/></in><out>";
  out += schemas.body;
}

void AppendReadClosing(std::string& out) { out += "</rs:data></xml></out></func></req>"; }

}  // namespace rembiz::bench
