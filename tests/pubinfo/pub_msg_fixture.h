// Requests to CPubMsg on the demo company, and the parts of its answers the tests look at.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "support/demo_fixture.h"
#include "xml/document.h"

namespace rembiz::pubinfo {

class PubMsgTest : public testing::DemoTest {
 protected:
  // Runs the `func` elements (every one with goon='1') as the given operator.
  xml::Document Run(std::string_view funcs, const std::string& user = "demo") {
    std::string request = "<req>" + std::string(funcs) + "</req>";
    if (user == "demo") return Call("CPubMsg", request);
    sessions_.push_back(SessionFor(user));
    return Call("CPubMsg", request, sessions_.back().get());
  }

  // The answer element under the n-th func's `out` (from 0).
  static xml::Node Answer(const xml::Document& doc, int n = 0) {
    return doc.SelectSingleNode("/req/func[" + std::to_string(n + 1) + "]/out/*");
  }
  static std::string ErrorId(const xml::Document& doc, int n = 0) {
    return Answer(doc, n).SelectSingleNode("id").Text();
  }
  static std::string ErrorText(const xml::Document& doc, int n = 0) {
    return Answer(doc, n).SelectSingleNode("text").Text();
  }

 private:
  std::vector<std::unique_ptr<host::LocalSession>> sessions_;
};

}  // namespace rembiz::pubinfo
