// Ageing periods: per system and ageing type an ordered list of periods, each with its upper
// bound in days and a name; the last one may leave its bound open ("older than the previous
// bound"). Kept in Host_AgePeriod. The definition travels as XML:
//   <age systemid='EC' type='1'><row no='1' cdays='30' name='30天以内'/>…<row no='5' cdays=''
//    name='180天以上'/></age>
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "db/connection.h"

namespace rembiz::host {

class Ageing {
 public:
  virtual ~Ageing() = default;

  // The periods of a type as the XML above (an `age` element without rows when none are set).
  // A refusal raises error 9000 with its message.
  virtual std::string getAge(db::Connection& cn, std::string_view system_id,
                             std::string_view type) = 0;
  // Replaces the periods of every type the document defines: an `age` element with `row`
  // children (`cdays`, `name`), its type in `type` ("1" when missing), either the document
  // element itself or its `age` children. Bounds are whole days that grow from row to row; only
  // the last may be empty. All or nothing: a refused document changes no period.
  virtual void SaveAge(db::Connection& cn, std::string_view system_id,
                       std::string_view definition_xml) = 0;
};

std::unique_ptr<Ageing> CreateAgeing();

}  // namespace rembiz::host
