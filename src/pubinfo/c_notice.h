// CNotice: the operator's own notices in the pages — how many are unread, the latest ones worded
// in the operator's language with the page that opens each voucher, and marking them read (one
// or all). Nobody reads or marks another user's notices; the voucher a link opens checks its own
// rights when it is opened.
#pragma once

#include <span>

#include "frame/frame.h"

namespace rembiz::pubinfo {

class CNotice : public frame::FramedClass {
 public:
  bool Count(host::Session& session, db::Connection& cn, xml::Node& func, xml::Document& answer);
  bool List(host::Session& session, db::Connection& cn, xml::Node& func, xml::Document& answer);
  bool MarkRead(host::Session& session, db::Connection& cn, xml::Node& func, xml::Document& answer);

 protected:
  const frame::FrameVariant& Variant() const override;
  std::span<const frame::OperationEntry> Operations() const override;
};

}  // namespace rembiz::pubinfo
