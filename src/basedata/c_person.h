// CPerson: what the module keeps about the ERP's employees: each person's grade (dimension 1 of
// the expense standards), bank accounts (for payments) and loan limits (age of the oldest open
// loan, number of open loans, open amount). Departments and persons themselves are the ERP's
// and are only read. One transaction for the whole request.
#pragma once

#include <span>

#include "frame/frame.h"

namespace rembiz::basedata {

class CPerson : public frame::FramedClass {
 public:
  // Reads: "getdepart", "getperlist", "getperbas", "getperacc", "getperson".
  bool GetDepart(host::Session& session, db::Connection& cn, xml::Node& func,
                 xml::Document& answer);
  bool GetPerList(host::Session& session, db::Connection& cn, xml::Node& func,
                  xml::Document& answer);
  bool GetPerBas(host::Session& session, db::Connection& cn, xml::Node& func,
                 xml::Document& answer);
  bool GetPerAcc(host::Session& session, db::Connection& cn, xml::Node& func,
                 xml::Document& answer);
  bool GetPerson(host::Session& session, db::Connection& cn, xml::Node& func,
                 xml::Document& answer);
  // Saves: "saveperbas" (grade), "saveperacc" (bank accounts), "saveperson" (loan limits).
  bool SavePerBas(host::Session& session, db::Connection& cn, xml::Node& func,
                  xml::Document& answer);
  bool SavePerAcc(host::Session& session, db::Connection& cn, xml::Node& func,
                  xml::Document& answer);
  bool SavePerson(host::Session& session, db::Connection& cn, xml::Node& func,
                  xml::Document& answer);
  // "outputget": every person the operator may see, with grade, default account and limits.
  bool OutputGet(host::Session& session, db::Connection& cn, xml::Node& func,
                 xml::Document& answer);

 protected:
  const frame::FrameVariant& Variant() const override;
  std::span<const frame::OperationEntry> Operations() const override;
};

}  // namespace rembiz::basedata
