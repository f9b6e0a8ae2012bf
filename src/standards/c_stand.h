// CStand: maintenance of the expense standards the claim save checks: the standards (name,
// reimbursement item, control type), the departments each applies to, the dimensions it grades
// by, the value lists of the dimensions (person grades, place grades, means of transport, and
// each standard's receipt brackets) and the standard's value rows. One transaction for the
// whole request, so a standard saved with its departments and values is stored whole or not.
#pragma once

#include <span>

#include "frame/frame.h"

namespace rembiz::standards {

class CStand : public frame::FramedClass {
 public:
  bool GetStand(host::Session& session, db::Connection& cn, xml::Node& func, xml::Document& answer);
  bool SaveStand(host::Session& session, db::Connection& cn, xml::Node& func,
                 xml::Document& answer);
  bool GetDepart(host::Session& session, db::Connection& cn, xml::Node& func,
                 xml::Document& answer);
  bool SaveDepart(host::Session& session, db::Connection& cn, xml::Node& func,
                  xml::Document& answer);
  bool GetEffect(host::Session& session, db::Connection& cn, xml::Node& func,
                 xml::Document& answer);
  bool SaveEffect(host::Session& session, db::Connection& cn, xml::Node& func,
                  xml::Document& answer);
  bool GetEffectValue(host::Session& session, db::Connection& cn, xml::Node& func,
                      xml::Document& answer);
  bool SaveEffectValue(host::Session& session, db::Connection& cn, xml::Node& func,
                       xml::Document& answer);
  bool GetSet(host::Session& session, db::Connection& cn, xml::Node& func, xml::Document& answer);
  bool SaveSet(host::Session& session, db::Connection& cn, xml::Node& func, xml::Document& answer);

 protected:
  const frame::FrameVariant& Variant() const override;
  std::span<const frame::OperationEntry> Operations() const override;
  // The same operations for other classes (the administration's imports of value rows).
  std::span<const frame::OperationEntry> PublicProcedures() const override;
};

}  // namespace rembiz::standards
