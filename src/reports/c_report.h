// CReport: the report pages of the web module. The loan reminder list, the ageing periods (kept
// by the host's ageing service), the ageing analysis of outstanding loans and the summary of
// vouchers by type. The two analyses group by a dimension the user picks, fill a work table in
// tempdb, page over its groups and answer with a column layout (`format`) beside the data.
//
// The summary's request: `in/type/row[@name='strtype']` "0" loans, "1" claims, "2" the operation
// types listed as `in/type/row[@name='code']` (attribute `value`); `strshow` "1" shows amounts
// by currency (foreign and local), anything else local amounts only.
#pragma once

#include <span>

#include "frame/frame.h"

namespace rembiz::reports {

class CReport : public frame::FramedClass {
 public:
  bool LoanAlertData(host::Session& session, db::Connection& cn, xml::Node& func,
                     xml::Document& answer);
  bool AgeGet(host::Session& session, db::Connection& cn, xml::Node& func, xml::Document& answer);
  bool AgeSet(host::Session& session, db::Connection& cn, xml::Node& func, xml::Document& answer);
  bool LoanAgeData(host::Session& session, db::Connection& cn, xml::Node& func,
                   xml::Document& answer);
  bool typeCollectData(host::Session& session, db::Connection& cn, xml::Node& func,
                       xml::Document& answer);

 protected:
  const frame::FrameVariant& Variant() const override;
  std::span<const frame::OperationEntry> Operations() const override;
};

}  // namespace rembiz::reports
