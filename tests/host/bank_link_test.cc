// The online-banking link: bills are taken over all or nothing, a payment id is never handed out
// twice, and only a confirmed payment carries a ledger voucher.
#include "host/bank_link.h"

#include <gtest/gtest.h>

#include <string>

#include "host/messages.h"
#include "support/demo_fixture.h"

namespace rembiz::host {
namespace {

constexpr const char* kLine1 = "B1000001-0000-4000-8000-000000000001";
constexpr const char* kLine2 = "B1000002-0000-4000-8000-000000000002";
constexpr const char* kLoan = "B1000009-0000-4000-8000-000000000009";

class BankLinkTest : public testing::DemoTest {
 protected:
  // One bill record per line, as the payment lists hand them over.
  db::Recordset Bills(const std::string& line, const std::string& amount,
                      const std::string& second = "", const std::string& second_amount = "20") {
    auto bill = [](const std::string& id, const std::string& money) {
      return "select '" + id + "' as iID, N'N-" + id.substr(0, 8) +
             "' as cNoteNo, '2026-03-05 10:00' as dVouchDate, " + money +
             " as iAmount_f, '0200001109000123456' as cNatBankAccount, '6222' as cBankAccount, "
             "'1.5' as iExchRate, N'差旅' as cDigest";
    };
    std::string sql = bill(line, amount);
    if (!second.empty()) sql += " union all " + bill(second, second_amount);
    return Cn().Execute(sql);
  }
  // Imports the lines and returns their payment ids joined by ",".
  std::string Import(const std::string& line, const std::string& second = "") {
    db::Recordset bills = Bills(line, "120.5", second);
    xml::Document result;
    std::string error;
    EXPECT_TRUE(link_->ImportBill(bills, Session(), 4, result, error)) << error;
    std::string ids;
    for (xml::Node row : result.DocumentElement().SelectNodes("in/*")) {
      ids += (ids.empty() ? "" : ",") + row.Attr("payid");
    }
    return ids;
  }

  void SetUp() override {
    DemoTest::SetUp();
    link_ = CreateBankLink(Cn());
  }

  std::unique_ptr<BankLink> link_;
};

TEST_F(BankLinkTest, TakesOverBillsAllOrNothingWithIdsNeverReused) {
  std::string error;
  xml::Document result;
  // A batch with one incomplete bill takes over none of them.
  for (const char* amount : {"0", "-1", "null"}) {
    db::Recordset bills = Bills(kLine1, "10", kLine2, amount);
    EXPECT_FALSE(link_->ImportBill(bills, Session(), 4, result, error)) << amount;
    EXPECT_EQ(error, MessageText("Rembiz.Host.BankBillIncomplete", "", "N-B1000002"));
  }
  db::Recordset empty = Cn().Execute("select cPayID from Host_BankBill");
  EXPECT_FALSE(link_->ImportBill(empty, Session(), 4, result, error));
  EXPECT_EQ(error, MessageText("Rembiz.Host.BankBillEmpty"));
  EXPECT_EQ(Scalar("select count(*) from Host_BankBill"), "0");

  std::string ids = Import(kLine1, kLine2);
  std::string date = Session().LoginDate().substr(0, 4) + Session().LoginDate().substr(5, 2) +
                     Session().LoginDate().substr(8, 2);
  EXPECT_EQ(ids, "NB" + date + "000001,NB" + date + "000002");
  EXPECT_EQ(Scalar("select dVouchDate, iAmount_f, iExchRate, cImporter_Id, iBillKind from "
                   "Host_BankBill where iID = '" +
                   std::string(kLine1) + "' and cPayID = 'NB" + date + "000001'"),
            "2026-03-05|120.5|1.5|demo|4");

  // A line with a live bill is refused, the whole batch with it.
  db::Recordset again = Bills(kLine2, "5", kLine1);
  EXPECT_FALSE(link_->ImportBill(again, Session(), 4, result, error));
  EXPECT_EQ(error, MessageText("Rembiz.Host.BankBillExists", "", kLine2));
  EXPECT_EQ(Scalar("select count(*) from Host_BankBill"), "2");

  // Withdrawn, the line may go to the bank again, under a new id.
  std::string first = ids.substr(0, ids.find(','));
  EXPECT_FALSE(link_->DeleteBill("EC", 5, kLine1, first, error));  // another kind of bill
  EXPECT_EQ(error, MessageText("Rembiz.Host.BankBillNotFound", "", first));
  EXPECT_FALSE(link_->DeleteBill("EC", 4, kLine2, first, error));  // another line's id
  ASSERT_TRUE(link_->DeleteBill("EC", 4, kLine1, first, error)) << error;
  EXPECT_FALSE(link_->DeleteBill("EC", 4, kLine1, first, error));
  EXPECT_EQ(Import(kLine1), "NB" + date + "000003");
  EXPECT_FALSE(link_->Confirm(first, error));  // a withdrawn bill cannot be paid
}

TEST_F(BankLinkTest, OnlyAConfirmedPaymentCarriesALedgerVoucher) {
  Cn().Execute(std::string("insert into EC_LoanVouch (GUID, strTypeCode, strVouchID, dtLoanDate) "
                           "values ('") +
               kLoan + "', '301', 'JK-1', '2026-03-05')");
  Cn().Execute(std::string("insert into EC_LoanVouch_Sub (GUID, MGuid, strPayID) values ('") +
               kLine1 + "', '" + kLoan + "', 'NB-old')");
  std::string id = Import(kLine1);
  Cn().Execute("update EC_LoanVouch_Sub set strPayID = '" + id + "'");
  std::string error;

  EXPECT_TRUE(link_->WritePZID("EC", kLine1, "", "PZ-1", error));  // no payment id: nothing
  EXPECT_FALSE(link_->WritePZID("EC", kLine1, id, "PZ-1", error));
  EXPECT_EQ(error, MessageText("Rembiz.Host.BankBillNotConfirmed", "", id));
  EXPECT_FALSE(link_->Confirm("NB-unknown", error));
  ASSERT_TRUE(link_->Confirm(id, error)) << error;
  EXPECT_TRUE(link_->Confirm(id, error));  // the bank may report twice
  EXPECT_EQ(Scalar("select blnNetOK from EC_LoanVouch_Sub"), "True");

  EXPECT_FALSE(link_->DeleteBill("EC", 4, kLine1, id, error));
  EXPECT_EQ(error, MessageText("Rembiz.Host.BankBillConfirmed", "", id));
  EXPECT_FALSE(link_->WritePZID("AP", kLine1, id, "PZ-1", error));  // another system's bill
  ASSERT_TRUE(link_->WritePZID("EC", kLine1, id, "PZ-1", error)) << error;
  EXPECT_EQ(Scalar("select cPZID, bDeleted from Host_BankBill"), "PZ-1|False");
  // Cancelling another voucher leaves this one's record.
  EXPECT_TRUE(link_->DeletePZID(kLine1, id, "PZ-2", error));
  EXPECT_EQ(Scalar("select cPZID from Host_BankBill"), "PZ-1");
  EXPECT_TRUE(link_->DeletePZID(kLine1, id, "PZ-1", error));
  EXPECT_EQ(Scalar("select cPZID from Host_BankBill"), "");
}

}  // namespace
}  // namespace rembiz::host
