#include "payment/cheque_registration.h"

#include <gtest/gtest.h>

#include "host/messages.h"
#include "support/demo_fixture.h"

namespace rembiz::payment {
namespace {

using host::MessageText;

// Settlement style "2" is the demo's cheque style; "1" (cash) needs no cheque.
class ChequeTest : public testing::DemoTest {
 protected:
  // Registers a cheque of account 100201; returns "" or the refusal's text.
  std::string Register(const std::string& number, double amount, bool update_flag = false,
                       const std::string& settle = "2") {
    message_.clear();
    try {
      RegisterCheque(Session(), Cn(), update_flag, "100201", number, settle, amount, "2024-03-05",
                     "trip", "会计科", "李华", "李华", message_);
    } catch (const ComError& e) {
      return e.Description();
    }
    return "";
  }
  std::string State(const std::string& number) {
    return Scalar("select iState, mc from Host_Cheque where cn_id = '" + number + "'");
  }
  std::string message_;
};

TEST_F(ChequeTest, AChequeNumberIsRegisteredOnceAndRefusedForAnotherPayment) {
  EXPECT_EQ(Register("ZP001", 500), "");
  EXPECT_EQ(message_, "");
  EXPECT_EQ(State("ZP001"), "1|500");
  EXPECT_EQ(Scalar("select cremark, cperson, bill_date, cUser_Id "
                   "from Host_Cheque"),
            "trip|李华|2024-03-05|demo");

  // The same payment again is only reported; another payment with the number is refused.
  EXPECT_EQ(Register("ZP001", 500), "");
  EXPECT_EQ(message_, MessageText("Q7.Rembiz.0041"));
  std::string before = Dump("Host_Cheque");
  EXPECT_EQ(Register("ZP001", 800), MessageText("Rembiz.Host.ChequeUsed", "", "ZP001", "100201"));
  EXPECT_EQ(Dump("Host_Cheque"), before);

  // Void cheques are refused; cash needs no cheque.
  Cn().Execute("update Host_Cheque set iState = 2");
  EXPECT_EQ(Register("ZP001", 500), MessageText("Rembiz.Host.ChequeVoid", "", "ZP001"));
  EXPECT_EQ(Register("ZP002", 500, false, "1"), "");
  EXPECT_EQ(Scalar("select count(*) from Host_Cheque"), "1");
}

TEST_F(ChequeTest, IncompleteDataIsRefusedBeforeTheRegisterIsAsked) {
  EXPECT_EQ(Register("", 500), MessageText("Q7.Rembiz.0040"));
  EXPECT_EQ(Register("ZP003", 500, false, ""), MessageText("Q7.Rembiz.0040"));
  EXPECT_EQ(Register("ZP003", 0), MessageText("Rembiz.Host.ChequeIncomplete", "", "ZP003"));
  EXPECT_EQ(Scalar("select count(*) from Host_Cheque"), "0");
}

TEST_F(ChequeTest, TheUpdateFlagOnlyEntersTheNumberInTheRegister) {
  EXPECT_EQ(Register("ZP004", 300, true), "");
  EXPECT_EQ(State("ZP004"), "0|");
  EXPECT_EQ(Register("ZP004", 300, true), "");
  EXPECT_EQ(message_, MessageText("Q7.Rembiz.0042"));
  EXPECT_EQ(State("ZP004"), "0|");
  // Without the flag the blank number takes the payment.
  EXPECT_EQ(Register("ZP004", 300), "");
  EXPECT_EQ(State("ZP004"), "1|300");
}

}  // namespace
}  // namespace rembiz::payment
