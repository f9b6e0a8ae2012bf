// CAdmin: the administration of what the module takes from its host — users, roles, function
// rights and data permissions, departments, persons, settlement styles, banks, currencies and
// rates, periods, approval flows, the chart of accounts and voucher signs. The command line
// (`rembiz admin`), the administrator's pages and the tests all go through it. Only an
// administrator of the account year may call it; one transaction for the whole request.
#pragma once

#include "frame/frame.h"

namespace rembiz::admin {

class CAdmin : public frame::FramedClass {
 public:
  // The kinds there are: <kinds><kind name=… columns=…/></kinds>.
  bool Kinds(host::Session& session, db::Connection& cn, xml::Node& func, xml::Document& answer);
  // <in kind=…/>: the records of a kind.
  bool List(host::Session& session, db::Connection& cn, xml::Node& func, xml::Document& answer);
  // <in kind=…><row P=1|2|3 …/>…</in>: adds (1), changes (2) and deletes (3) records.
  bool Save(host::Session& session, db::Connection& cn, xml::Node& func, xml::Document& answer);
  // <in kind=… dry=1><row line=… …/>…</in>: adds every row or none. Each refused row is
  // listed with its line and reason; a dry run (or any refusal) keeps nothing.
  bool Import(host::Session& session, db::Connection& cn, xml::Node& func, xml::Document& answer);

 protected:
  const frame::FrameVariant& Variant() const override;
  std::span<const frame::OperationEntry> Operations() const override;
};

}  // namespace rembiz::admin
