// Reimbursement items and districts: the trees and exports, codes checked against the levels,
// and the guards that keep items and districts in use where they are.
#include <gtest/gtest.h>

#include "basedata/master_fixture.h"

namespace rembiz::basedata {
namespace {

constexpr char kReads[] =
    "<req><func name='treeget'/><func name='outputget'/>"
    "<func name='get'><in><r strcode='%s'/></in></func></req>";

std::string Reads(const std::string& code) {
  std::string request = kReads;
  return request.replace(request.find("%s"), 2, code);
}

TEST_F(MasterTest, TreesAndExportsFollowTheCodes) {
  // 10101 (levels "1222") hangs below 101, which hangs below the root "1".
  xml::Document added =
      Call("CRPItem",
           "<req><func name='new'><in><r strcode='10101' strupcode='101' strname='利息' "
           "strtypecode='101' dblreceiptabove='200'/></in></func></req>");
  ASSERT_EQ(Out(added), "<success/>") << added.Xml();
  // The reads of an item with its receipt amount and of one without (never).
  std::string reads = Reads("20101");
  reads.insert(reads.find("</req>"), "<func name='get'><in><r strcode='10101'/></in></func>");
  testing::ExpectGolden("basedata/golden/items.xml", Call("CRPItem", reads).Xml());
  testing::ExpectGolden("basedata/golden/districts.xml", Call("CDistrict", Reads("0203")).Xml());
  EXPECT_EQ(Scalar("select blnEnd from EC_IOItem where strCode = '101'"), "False");
}

TEST_F(MasterTest, NewCodesMustFitTheLevelsBelowAnExistingParentNotInUse) {
  std::string before = Dump("EC_IOItem");
  auto add = [&](const std::string& code, const std::string& parent) {
    return OutError(Call("CRPItem", "<req><func name='new'><in><r strcode='" + code +
                                        "' strupcode='" + parent +
                                        "' strname='x' strtypecode='202'/></in></func></req>"));
  };
  EXPECT_EQ(add("2041", "2"), Text("Q7.Rembiz.0006"));     // fits no level
  EXPECT_EQ(add("20401", "201"), Text("Q7.Rembiz.0006"));  // its code names parent 204
  EXPECT_EQ(add("20401", "204"), Text("Q7.Rembiz.0006"));  // 204 does not exist
  EXPECT_EQ(add("301", "3"), Text("Q7.Rembiz.0006"));      // no root "3"
  EXPECT_EQ(add("201", "2"), Text("Q7.Rembiz.0007"));
  EXPECT_EQ(add("2010101", "20101"), Text("Q7.Rembiz.0010"));  // 20101 has a standard
  InsertClaim("203");
  EXPECT_EQ(add("20302", "203"), Text("Q7.Rembiz.0008"));
  EXPECT_EQ(OutError(Call("CRPItem",
                          "<req><func name='new'><in><r strcode='204' strname='x' "
                          "strtypecode='null'/></in></func></req>")),
            Text("Q7.Rembiz.0011"));
  EXPECT_EQ(Dump("EC_IOItem"), before);
  EXPECT_EQ(add("20401", "204"), Text("Q7.Rembiz.0006"));
  EXPECT_EQ(add("204", "2"), "");
  EXPECT_EQ(add("20401", ""), "");  // the parent follows from the code

  // A district's code fits the levels ("222") below an existing district.
  before = Dump("EC_Position");
  auto district = [&](const std::string& code, const std::string& grade = "01") {
    return OutError(Call("CDistrict", "<req><func name='new'><in><r strcode='" + code +
                                          "' strname='d" + code + "' strtypecode='" + grade +
                                          "'/></in></func></req>"));
  };
  EXPECT_EQ(district("030"), Text("Q7.Rembiz.0006"));
  EXPECT_EQ(district("0301"), Text("Q7.Rembiz.0006"));
  EXPECT_EQ(district("0101"), Text("Q7.Rembiz.0006"));
  EXPECT_EQ(district("03", "09"), Text("Rembiz.Master.GradeUnknown"));
  EXPECT_EQ(Dump("EC_Position"), before);
  EXPECT_EQ(district("0204", ""), "");
  EXPECT_EQ(Scalar("select strUpCode, isnull(strGradeID, '-') from EC_Position where "
                   "strPositionCode = '0204'"),
            "02|-");
  // A district without a grade is still found.
  EXPECT_NE(Out(Call("CDistrict", Reads("0204"))), "");
}

TEST_F(MasterTest, ItemsAndDistrictsInUseCannotBeDeleted) {
  InsertClaim("203", "0203");
  std::string before = Dump("EC_IOItem") + Dump("EC_Position");
  auto del = [&](const char* cls, const std::string& code) {
    std::string ts =
        Scalar(std::string(cls) == std::string("CRPItem")
                   ? "select ts from EC_IOItem where strCode = '" + code + "'"
                   : "select ts from EC_Position where strPositionCode = '" + code + "'");
    return OutError(Call(cls, "<req><func name='del'><in><r strcode='" + code + "' ts='" + ts +
                                  "'/></in></func></req>"));
  };
  EXPECT_EQ(del("CRPItem", "201"), Text("Q7.Rembiz.0015"));    // has items below it
  EXPECT_EQ(del("CRPItem", "203"), Text("Q7.Rembiz.0016"));    // on a claim row
  EXPECT_EQ(del("CRPItem", "202"), Text("Q7.Rembiz.0017"));    // in the voucher settings
  EXPECT_EQ(del("CRPItem", "20102"), Text("Q7.Rembiz.0018"));  // has a standard
  EXPECT_EQ(del("CDistrict", "0203"), Text("Q7.Rembiz.0082"));
  EXPECT_EQ(del("CDistrict", "01"), Text("Q7.Rembiz.0083"));
  EXPECT_EQ(Dump("EC_IOItem") + Dump("EC_Position"), before);

  // The last item below a parent gone, the parent is a leaf again.
  Call("CRPItem",
       "<req><func name='new'><in><r strcode='10101' strname='x' "
       "strtypecode='101'/></in></func></req>");
  EXPECT_EQ(del("CRPItem", "10101"), "");
  EXPECT_EQ(Scalar("select blnEnd from EC_IOItem where strCode = '101'"), "True");
  EXPECT_EQ(del("CDistrict", "0102"), "");
}

TEST_F(MasterTest, StaleVersionsAndUnknownCodesChangeNothing) {
  std::string before = Dump("EC_IOItem") + Dump("EC_Position");
  std::string item_ts = Ts("EC_IOItem", "strCode = '203'");
  std::string place_ts = Ts("EC_Position", "strPositionCode = '0102'");
  auto call = [&](const std::string& cls, const std::string& op, const std::string& attrs) {
    std::string type = cls == "CRPItem" ? "202" : "02";
    return OutError(Call(cls, "<req><func name='" + op + "'><in><r " + attrs +
                                  " strname='n' strtypecode='" + type + "'/></in></func></req>"));
  };
  EXPECT_EQ(call("CRPItem", "edit", "strcode='203' ts='1'"), Text("Q7.Rembiz.0047"));
  EXPECT_EQ(call("CRPItem", "edit", "strcode='203'"), Text("Q7.Rembiz.0047"));
  EXPECT_EQ(call("CRPItem", "edit", "strcode='209' ts='" + item_ts + "'"), Text("Q7.Rembiz.0013"));
  EXPECT_EQ(call("CRPItem", "edit", "strcode='203' strupcode='1' ts='" + item_ts + "'"),
            Text("Q7.Rembiz.0006"));
  EXPECT_EQ(call("CRPItem", "del", "strcode='203' ts='1 or 1=1'"), Text("Q7.Rembiz.0019"));
  EXPECT_EQ(call("CRPItem", "del", "strcode='209' ts='" + item_ts + "'"), Text("Q7.Rembiz.0019"));
  EXPECT_EQ(call("CDistrict", "edit", "strcode='0102' ts='1'"), Text("Q7.Rembiz.0047"));
  EXPECT_EQ(call("CDistrict", "edit", "strcode='0109' ts='" + place_ts + "'"),
            Text("Q7.Rembiz.0021"));
  EXPECT_EQ(call("CDistrict", "del", "strcode='0102' ts='1'"), Text("Q7.Rembiz.0048"));
  EXPECT_EQ(call("CDistrict", "del", "strcode='0109' ts='" + place_ts + "'"),
            Text("Q7.Rembiz.0048"));
  EXPECT_EQ(Dump("EC_IOItem") + Dump("EC_Position"), before);

  EXPECT_EQ(call("CRPItem", "edit", "strcode='203' ts='" + item_ts + "'").size(), 0u);
  EXPECT_NE(Ts("EC_IOItem", "strCode = '203'"), item_ts);
}

TEST_F(MasterTest, AnItemsReceiptAmountIsSetKeptAndCleared) {
  auto edit = [&](const std::string& above) {
    std::string ts = Ts("EC_IOItem", "strCode = '203'");
    return OutError(Call("CRPItem",
                         "<req><func name='edit'><in><r strcode='203' strname='n' "
                         "strtypecode='202' ts='" +
                             ts + "'" + above + "/></in></func></req>"));
  };
  const std::string amount = "select dblReceiptAbove from EC_IOItem where strCode = '203'";
  EXPECT_EQ(edit(" dblreceiptabove='150.5'"), "");
  EXPECT_EQ(Scalar(amount), "150.5");
  EXPECT_EQ(edit(""), "");  // a record without the option keeps it
  EXPECT_EQ(Scalar(amount), "150.5");
  EXPECT_NE(edit(" dblreceiptabove='1; delete from EC_IOItem'"), "");
  EXPECT_NE(edit(" dblreceiptabove='-1'"), "");
  EXPECT_EQ(Scalar(amount), "150.5");
  EXPECT_EQ(edit(" dblreceiptabove=''"), "");  // empty: never
  EXPECT_EQ(Scalar(amount), "");
}

TEST_F(MasterTest, QuotesAndSqlInCodesAndNamesAreStoredAsTyped) {
  const std::string name = "O&apos;Neil&apos;); delete from EC_IOItem;--";
  const std::string stored = "O'Neil'); delete from EC_IOItem;--";
  xml::Document doc =
      Call("CRPItem", "<req><func name='new'><in><r strcode=\"2'1\" strname=\"" + name +
                          "\" strtypecode='202'/></in></func>"
                          "<func name='get'><in><r strcode=\"2'1\"/></in></func></req>");
  EXPECT_EQ(OutError(doc), "") << doc.Xml();
  EXPECT_EQ(Scalar("select strName from EC_IOItem where strCode = '2''1'"), stored);
  EXPECT_EQ(doc.SelectSingleNode("//func[@name='get']/out/row").Attr("strname"), stored);
  EXPECT_EQ(Scalar("select count(*) from EC_IOItem"), "8");

  doc = Call("CDistrict", "<req><func name='new'><in><r strcode=\"03\" strname=\"" + name +
                              "\"/></in></func></req>");
  EXPECT_EQ(OutError(doc), "") << doc.Xml();
  EXPECT_EQ(Scalar("select strPositionName from EC_Position where strPositionCode = '03'"), stored);
}

}  // namespace
}  // namespace rembiz::basedata
