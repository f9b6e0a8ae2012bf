// CDistrict: the districts (places of expenses), a coded tree whose levels follow the option
// "strZeroLevel"; each carries a place grade that the standards read. A district that claims
// name as start or end place, or that has districts below it, cannot be deleted. One
// transaction for the whole request.
#pragma once

#include "basedata/coded_tree_class.h"

namespace rembiz::basedata {

class CDistrict : public CodedTreeClass {
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
