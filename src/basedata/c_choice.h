// CChoice: the module's options, account options "1xx" of system "EC" (budget control, loan
// overdue and alert days, submission to approval, code levels of items and districts, …).
// "get" answers them as one `head` element; "edit" changes those its request names, each
// change checked against the vouchers and codes that depend on it, in its own transaction.
#pragma once

#include <span>

#include "frame/frame.h"

namespace rembiz::basedata {

class CChoice : public frame::FramedClass {
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
