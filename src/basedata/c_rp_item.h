// CRPItem: the reimbursement items, a coded tree below the roots "1" (income) and "2"
// (expenditure) whose levels follow the option "strIOLevel". Items used by claims, standards
// or voucher settings keep their place: no children are added below them and they cannot be
// deleted. One transaction for the whole request.
#pragma once

#include "basedata/coded_tree_class.h"

namespace rembiz::basedata {

class CRPItem : public CodedTreeClass {
 public:
  bool TreeGet(host::Session&, db::Connection& cn, xml::Node& func, xml::Document& answer) override;
  bool RecordNew(host::Session& session, db::Connection& cn, xml::Node& func,
                 xml::Document& answer) override;
  bool RecordEdit(host::Session& session, db::Connection& cn, xml::Node& func,
                  xml::Document& answer) override;
  bool RecordDel(host::Session& session, db::Connection& cn, xml::Node& func,
                 xml::Document& answer) override;
  bool RecordGet(host::Session& session, db::Connection& cn, xml::Node& func,
                 xml::Document& answer) override;
  bool OutputGet(host::Session& session, db::Connection& cn, xml::Node& func,
                 xml::Document& answer) override;

 protected:
  const frame::FrameVariant& Variant() const override;
};

}  // namespace rembiz::basedata
