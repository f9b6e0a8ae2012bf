// CQuery: the paged lists of the web module. Loan vouchers, expense claims, generated ledger
// vouchers, payment lines for online payment and vouchers waiting for ledger vouchers all page
// the same way (reports/paging.h) and differ in their sources, fixed conditions, columns and key.
#pragma once

#include <span>

#include "frame/frame.h"

namespace rembiz::reports {

class CQuery : public frame::FramedClass {
 public:
  bool ListLoanData(host::Session& session, db::Connection& cn, xml::Node& func,
                    xml::Document& answer);
  bool ListRepayData(host::Session& session, db::Connection& cn, xml::Node& func,
                     xml::Document& answer);
  bool ListPZData(host::Session& session, db::Connection& cn, xml::Node& func,
                  xml::Document& answer);
  bool ListNetpayData(host::Session& session, db::Connection& cn, xml::Node& func,
                      xml::Document& answer);
  bool ListCashPayData(host::Session& session, db::Connection& cn, xml::Node& func,
                       xml::Document& answer);
  bool ListMakePZData(host::Session& session, db::Connection& cn, xml::Node& func,
                      xml::Document& answer);

 protected:
  const frame::FrameVariant& Variant() const override;
  std::span<const frame::OperationEntry> Operations() const override;
};

}  // namespace rembiz::reports
