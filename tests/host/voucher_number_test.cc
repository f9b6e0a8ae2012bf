// The numbering as the voucher save calls it: typed, without a request document.
#include <gtest/gtest.h>

#include <map>

#include "host/doc_number.h"
#include "host/messages.h"
#include "support/demo_fixture.h"

namespace rembiz::host {
namespace {

class VoucherNumberTest : public testing::DemoTest {
 protected:
  std::string Number(std::string_view bill_type, const std::string& date, bool take) {
    const std::map<std::string, std::string, std::less<>> head = {{"dtLoanDate", date}};
    return VoucherNumber(
        Cn(), bill_type,
        [&](std::string_view field) {
          auto value = head.find(field);
          return value == head.end() ? std::string() : value->second;
        },
        take);
  }
  std::string Failure(std::string_view bill_type) {
    try {
      Number(bill_type, "2004-03-05", true);
    } catch (const ComError& e) {
      return e.Description();
    }
    return "no failure";
  }
};

TEST_F(VoucherNumberTest, PreviewsAndTakesTheNumbersOfTheFormat) {
  EXPECT_EQ(Number("EC01", "2004-03-05T00:00:00", false), "JK2004030001");
  EXPECT_EQ(Number("EC01", "2004-03-05T00:00:00", true), "JK2004030001");
  EXPECT_EQ(Number("EC01", "2004-03-20", true), "JK2004030002");
  EXPECT_EQ(Number("EC01", "2004-03-05", false), "JK2004030003");
  EXPECT_FALSE(NumbersTypedByHand(Cn(), "EC01"));
}

TEST_F(VoucherNumberTest, HandTypedNumbersAndUnknownBillTypesGiveNone) {
  Cn().Execute("update Host_BillFormat set bManual=1 where cBillType='EC02'");
  EXPECT_TRUE(NumbersTypedByHand(Cn(), "EC02"));
  EXPECT_EQ(Failure("EC02"), MessageText("Q7.Rembiz.0107"));
  EXPECT_EQ(Failure("EC99"), MessageText("Q7.Rembiz.0099"));
  EXPECT_THROW(NumbersTypedByHand(Cn(), "EC99"), ComError);
}

}  // namespace
}  // namespace rembiz::host
