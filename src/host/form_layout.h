// Voucher templates and print data: the fields of a template (head 'T' before body 'B', each in
// its order, captions in the current language), the fixed texts printed with a template, and the
// company logo.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "db/connection.h"

namespace rembiz::host {

class FormLayout {
 public:
  virtual ~FormLayout() = default;
  // Fields of template `template_id` of the card; empty when the card has no such template.
  virtual db::Recordset GetTemplateData2(db::Connection& cn, std::string_view card_number,
                                         int64_t template_id) = 0;
  // iOrder, cName, cValue of the template's fixed texts, in order.
  virtual db::Recordset GetFixedData(db::Connection& cn, int64_t template_id) = 0;
  // The logo image as base64 text; "" when the company has none.
  virtual std::string GetCompanyLogoImageData(db::Connection& cn) = 0;
};

std::unique_ptr<FormLayout> CreateFormLayout();

}  // namespace rembiz::host
