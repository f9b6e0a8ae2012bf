#include "voucher/voucher_class.h"

#include <gtest/gtest.h>

#include "host/messages.h"
#include "support/demo_fixture.h"

namespace rembiz::voucher {
namespace {

class VoucherClassTest : public testing::DemoTest {};

// A read of either voucher class that fails answers under its own out with its procedure's
// name; the answers before it stay, and so does the rest of the request.
TEST_F(VoucherClassTest, ReadFailuresAnswerUnderTheirOwnOut) {
  for (const std::string class_name : {"CLoan", "CExpense"}) {
    xml::Document doc =
        Call(class_name,
             "<req><func name='getOperList' goon='1'><in><type>EC01</type></in></func>"
             "<func name='getVouchByGUID' goon='1'><in><GUID>{nothing}</GUID></in></func>"
             "<func name='vchgetloanheaddata' goon='1'><in><row AutoID='1 or 1=1'/></in></func>"
             "<func name='vchgetloanbodydata' goon='1'><in><row AutoID='x'/></in></func>"
             "<func name='GetStand' goon='1'><in/></func>"
             "<func name='getVouchListID'><in><strAutoID>x</strAutoID><Director>2</Director></in>"
             "</func></req>");
    ASSERT_EQ(doc.DocumentElement().Name(), "req") << doc.Xml();
    EXPECT_FALSE(doc.SelectSingleNode("//func[@name='getOperList']/out/rows/option").IsNull());
    auto id = [&](const std::string& func) {
      return doc.SelectSingleNode("//func[@name='" + func + "']/out/error/id").Text();
    };
    const std::string prefix = "Rembiz:" + class_name + ":";
    EXPECT_EQ(id("getVouchByGUID"), prefix + "GetVouchByGUID:9000");
    EXPECT_EQ(doc.SelectSingleNode("//func[@name='getVouchByGUID']/out/error/text").Text(),
              host::MessageText("Q7.Rembiz.0257"));
    EXPECT_TRUE(id("vchgetloanheaddata").starts_with(prefix + "GetVoucherHead:")) << class_name;
    EXPECT_TRUE(id("vchgetloanbodydata").starts_with(prefix + "GetVoucherBody:")) << class_name;
    EXPECT_TRUE(id("getVouchListID").starts_with(prefix + "GetVoucherListID:")) << class_name;
    if (class_name == "CExpense") {
      EXPECT_TRUE(id("GetStand").starts_with(prefix + "GetStand:")) << doc.Xml();
    }
  }
}

}  // namespace
}  // namespace rembiz::voucher
