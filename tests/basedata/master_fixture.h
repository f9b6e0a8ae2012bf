// Requests and stored vouchers for the master-data tests, on the demo company (items "1222",
// districts "222", grades 01-03, standards on items 20101, 20102, 20103 and 202).
#pragma once

#include <string>

#include "host/messages.h"
#include "support/demo_fixture.h"
#include "support/golden.h"

namespace rembiz::basedata {

class MasterTest : public testing::DemoTest {
 protected:
  // The text of the first operation's own error document ("" when it has none).
  static std::string OutError(const xml::Document& doc) {
    return doc.SelectSingleNode("//out/error/text").Text();
  }
  static std::string OutErrorId(const xml::Document& doc) {
    return doc.SelectSingleNode("//out/error/id").Text();
  }
  static std::string Text(const std::string& key, const std::string& p1 = "") {
    return host::MessageText(key, "", p1);
  }
  // The answer of the first operation.
  static std::string Out(const xml::Document& doc) {
    xml::Node answer = doc.SelectSingleNode("//out").FirstChild();
    return answer ? answer.Xml() : "";
  }

  std::string Ts(const std::string& table, const std::string& where) {
    return Scalar("select ts from " + table + " where " + where);
  }

  // A claim of 0002 in 0201 with one row of `item` at `place` (type 201, not approved).
  void InsertClaim(const std::string& item, const std::string& place = "",
                   const std::string& number = "ZC0001") {
    Cn().Execute(
        "insert into EC_ExpenVouch (strTypeCode, strVouchID, dtLoanDate, strDepartID, strLoanID, "
        "strBill, fltRate, dblMoney, dblOldMoney, strUsed, strPersonID) values ('201', '" +
        number + "', '2024-03-05', '0201', '0002', '人民币', 1, 100, 100, 'trip', 'Demo Admin')");
    Cn().Execute(
        "insert into EC_ExpenVouch_Sub (MGuid, strIOItem, strEZero, dblMoney) select GUID, '" +
        item + "', " + (place.empty() ? "null" : "'" + place + "'") +
        ", 100 from EC_ExpenVouch where strVouchID = '" + number + "'");
  }

  // A loan of 0002 of type 301; `begin` 1 makes it an opening loan (approved on entry).
  void InsertLoan(int audited = 0, int begin = 0, const std::string& number = "JK0001") {
    Cn().Execute(
        "insert into EC_LoanVouch (strTypeCode, strVouchID, dtLoanDate, strDepartID, strLoanID, "
        "strBill, fltRate, dblMoney, dblOldMoney, strUsed, strPersonID, blnAudi, blnBegin) values "
        "('301', '" +
        number + "', '2024-03-05', '0201', '0002', '人民币', 1, 100, 100, 'trip', 'Demo Admin', " +
        std::to_string(audited) + ", " + std::to_string(begin) + ")");
  }
};

}  // namespace rembiz::basedata
