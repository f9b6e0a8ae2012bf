// Head values no voucher column can hold, shared by the loan and claim save tests: each with
// the message the save answers (in the current language).
#pragma once

#include <map>
#include <string>
#include <vector>

#include "host/messages.h"

namespace rembiz::testing {

struct RefusedHead {
  std::map<std::string, std::string> head;  // attributes changed on a valid head
  std::string text;
};

inline std::vector<RefusedHead> RefusedHeads() {
  auto text = [](const char* key, const std::string& p1, const std::string& p2 = "") {
    return host::MessageText(key, "", p1, p2);
  };
  return {
      // Fields are named by their labels.
      {{{"strUsed", std::string(1000000, 'x')}}, text("Rembiz.Value.TooLong", "用途", "200")},
      {{{"strVouchID", std::string(5000, '9')}}, text("Rembiz.Value.TooLong", "单据号", "30")},
      {{{"dblOldMoney", "1e20"}}, text("Rembiz.Value.OutOfRange", "本币金额")},
      // Bytes that are not UTF-8 never reach a save: the request is no XML document (the XML
      // tests); the columns refuse them all the same (the connection tests).
      {{{"dblMoney", "12abc"}}, "请求无效：金额“12abc”不是数字。"},
  };
}

}  // namespace rembiz::testing
