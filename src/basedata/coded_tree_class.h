// Base of the two classes that maintain a coded tree (reimbursement items, districts): the
// same six operations, "treeget", "new", "edit", "del", "get" and "outputget", each request
// in one transaction. A record travels as the attributes of the first child of `in`. Each
// answers its failures with its own error document.
#pragma once

#include <span>

#include "frame/frame.h"

namespace rembiz::basedata {

class CodedTreeClass : public frame::FramedClass {
 public:
  virtual bool TreeGet(host::Session& session, db::Connection& cn, xml::Node& func,
                       xml::Document& answer) = 0;
  virtual bool RecordNew(host::Session& session, db::Connection& cn, xml::Node& func,
                         xml::Document& answer) = 0;
  virtual bool RecordEdit(host::Session& session, db::Connection& cn, xml::Node& func,
                          xml::Document& answer) = 0;
  virtual bool RecordDel(host::Session& session, db::Connection& cn, xml::Node& func,
                         xml::Document& answer) = 0;
  virtual bool RecordGet(host::Session& session, db::Connection& cn, xml::Node& func,
                         xml::Document& answer) = 0;
  virtual bool OutputGet(host::Session& session, db::Connection& cn, xml::Node& func,
                         xml::Document& answer) = 0;

 protected:
  std::span<const frame::OperationEntry> Operations() const override;
  // The same operations for other classes (the administration's imports), on their
  // connection and in their transaction.
  std::span<const frame::OperationEntry> PublicProcedures() const override;
};

}  // namespace rembiz::basedata
