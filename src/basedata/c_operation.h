// COperation: the operation types, the business kinds of loan vouchers and claims with their
// display and print templates. "get" lists them, "edit" inserts, changes and deletes them in
// one transaction for the whole request.
#pragma once

#include <span>

#include "frame/frame.h"

namespace rembiz::basedata {

class COperation : public frame::FramedClass {
 public:
  bool RecordGet(host::Session& session, db::Connection& cn, xml::Node& func,
                 xml::Document& answer);
  bool RecordEdit(host::Session& session, db::Connection& cn, xml::Node& func,
                  xml::Document& answer);

 protected:
  const frame::FrameVariant& Variant() const override;
  std::span<const frame::OperationEntry> Operations() const override;
};

}  // namespace rembiz::basedata
