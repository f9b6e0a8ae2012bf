// The cheque register: a number is checked against the register of its bank account, entered
// blank, void or with its payment, and a registered payment is never overwritten.
#include "host/cheque_book.h"

#include <gtest/gtest.h>

#include <string>

#include "host/errors.h"
#include "host/ledger.h"
#include "host/messages.h"
#include "support/demo_fixture.h"

namespace rembiz::host {
namespace {

// Demo settlement styles: "2" is the cheque style, "1" cash.
class ChequeBookTest : public testing::DemoTest {
 protected:
  void SetUp() override {
    DemoTest::SetUp();
    database_.openDatabase(Cn());
    common_.InitPubs2(database_, "EC");
  }
  std::unique_ptr<ChequeBook> Book() {
    auto book = CreateChequeBook();
    book->zzLogin(&Session());
    book->zzSys(&common_);
    return book;
  }
  static std::string Cheque(const std::string& number, const std::string& amount,
                            const std::string& bank = "1002", const std::string& settle = "2") {
    return "<book cCode='" + bank + "' cn_id='" + number + "' csettle='" + settle + "' mc='" +
           amount + "' bill_date='2026-03-05' cremark='r' cdept='0201' cperson='p' cget='g'/>";
  }
  std::string Row(const std::string& number) {
    return Scalar("select cCode, iState, mc, bill_date, cUser_Id from Host_Cheque where cn_id = '" +
                  number + "'");
  }

  LedgerDb database_;
  LedgerCommon common_;
};

TEST_F(ChequeBookTest, ChecksAndRegistersAPaymentOncePerBankAccount) {
  auto book = Book();
  EXPECT_FALSE(book->ZPControl(Cheque("Z001", "100", "1002", "1")));  // cash needs no cheque

  for (const char* amount : {"0", "-5", "abc", ""}) {
    ASSERT_TRUE(book->ZPControl(Cheque("Z001", amount))) << amount;
    EXPECT_EQ(book->zpcheck(), ChequeBook::kRefused) << amount;
    EXPECT_EQ(book->zpmsg(), MessageText("Rembiz.Host.ChequeIncomplete", "", "Z001"));
  }

  ASSERT_TRUE(book->ZPControl(Cheque("Z001", "100.5")));
  EXPECT_EQ(book->zpcheck(), ChequeBook::kNotInBook);
  book->StartZPDJ(false, true);
  EXPECT_EQ(book->zpmsg(), "");
  EXPECT_EQ(Row("Z001"), "1002|1|100.5|2026-03-05|demo");

  // The same payment again (a second save of the line) is no second use of the number.
  ASSERT_TRUE(book->ZPControl(Cheque("Z001", "100.50")));
  EXPECT_EQ(book->zpcheck(), ChequeBook::kSamePayment);
  ASSERT_TRUE(book->ZPControl(Cheque("Z001", "100.6")));
  EXPECT_EQ(book->zpcheck(), ChequeBook::kRefused);
  EXPECT_EQ(book->zpmsg(), MessageText("Rembiz.Host.ChequeUsed", "", "Z001", "1002"));
  // Entering it again changes nothing.
  book->StartZPDJ(false, true);
  EXPECT_EQ(book->zpmsg(), MessageText("Rembiz.Host.ChequeUsed", "", "Z001", "1002"));
  EXPECT_EQ(Row("Z001"), "1002|1|100.5|2026-03-05|demo");

  // Numbers are unique per bank account: another account's book knows no Z001. Quotes stay text.
  ASSERT_TRUE(book->ZPControl(Cheque("Z001", "7", "1003")));
  EXPECT_EQ(book->zpcheck(), ChequeBook::kNotInBook);
  ASSERT_TRUE(book->ZPControl(Cheque("Z001&apos; or &apos;1&apos;=&apos;1", "100.5")));
  EXPECT_EQ(book->zpcheck(), ChequeBook::kNotInBook);
}

TEST_F(ChequeBookTest, BlankNumbersTakeOnePaymentAndVoidOnesNone) {
  auto book = Book();
  ASSERT_TRUE(book->ZPControl(Cheque("B1", "50")));
  book->StartZPDJ(false, false);
  EXPECT_EQ(Row("B1"), "1002|0|||demo");
  ASSERT_TRUE(book->ZPControl(Cheque("B1", "80")));
  EXPECT_EQ(book->zpcheck(), ChequeBook::kBlankInBook);
  book->UpdateZPDJ();
  EXPECT_EQ(book->zpmsg(), "");
  EXPECT_EQ(Row("B1"), "1002|1|80|2026-03-05|demo");

  // A second payment on the number (another book that checked it while it was blank) is
  // refused, and the first one stays.
  auto late = Book();
  ASSERT_TRUE(late->ZPControl(Cheque("B1", "90")));
  EXPECT_EQ(late->zpcheck(), ChequeBook::kRefused);
  late->UpdateZPDJ();
  EXPECT_EQ(late->zpmsg(), MessageText("Rembiz.Host.ChequeUsed", "", "B1", "1002"));
  EXPECT_EQ(Row("B1"), "1002|1|80|2026-03-05|demo");

  // A void number, even entered "with payment", carries none and refuses every payment.
  ASSERT_TRUE(book->ZPControl(Cheque("V1", "10")));
  book->StartZPDJ(true, true);
  EXPECT_EQ(Row("V1"), "1002|2|||demo");
  ASSERT_TRUE(book->ZPControl(Cheque("V1", "10")));
  EXPECT_EQ(book->zpcheck(), ChequeBook::kRefused);
  EXPECT_EQ(book->zpmsg(), MessageText("Rembiz.Host.ChequeVoid", "", "V1"));
  book->UpdateZPDJ();
  EXPECT_EQ(Row("V1"), "1002|2|||demo");
  EXPECT_EQ(Scalar("select count(*) from Host_Cheque"), "2");

  // Without the ledger's services the book cannot work, and says so.
  auto closed = CreateChequeBook();
  EXPECT_THROW(closed->ZPControl(Cheque("C1", "1")), ComError);
}

}  // namespace
}  // namespace rembiz::host
