// What every business class is to its callers: one entry, myHandle, taking the session object and
// the request document and answering in the same document.
#pragma once

#include <string>
#include <string_view>

#include "db/connection.h"
#include "host/session.h"
#include "xml/document.h"

namespace rembiz::frame {

class BusinessObject {
 public:
  virtual ~BusinessObject() = default;
  // `ologin` may be null (the answer is then the error document of a missing session).
  virtual void myHandle(host::Session* ologin, xml::Document& oXml) = 0;
  virtual const std::string& ClassName() const = 0;

  // Late-bound call of a public procedure of the operation shape by its name, as one class
  // calls another that it only knows by ProgID. An unknown name throws ComError 438.
  virtual bool InvokePublic(std::string_view procedure, host::Session& session, db::Connection& cn,
                            xml::Node& node, xml::Document& answer);
};

}  // namespace rembiz::frame
