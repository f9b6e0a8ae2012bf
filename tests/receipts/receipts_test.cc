// Receipts kept with claims and loans: the bytes come back as they went in, who may add, see
// and remove them, the limits, duplicates by file and by person/item/amount/date, and the
// receipts an item requires at submission.
#include "voucher/receipts.h"

#include <gtest/gtest.h>

#include <string>

#include "db/error.h"
#include "db/text.h"
#include "expense/expense_fixture.h"
#include "host/errors.h"

namespace rembiz::receipts {
namespace {

using expense::ExpenseTest;

// Bytes no text column could hold: zeros, high bytes, a lone quote.
std::string Binary(size_t size, char seed) {
  std::string out(size, '\0');
  for (size_t i = 0; i < size; ++i) out[i] = static_cast<char>((i * 131 + seed) % 256);
  if (size > 3) out[3] = '\'';
  return out;
}

class ReceiptsTest : public ExpenseTest {
 protected:
  // A claim saved through its class; its GUID.
  std::string SaveClaim(const std::string& number, const std::string& rows = Rows(),
                        const std::string& department = "0201") {
    xml::Document doc = Save(Head({{"strVouchID", number}, {"strDepartID", department}}), rows);
    EXPECT_TRUE(OutError(doc, "savevouch").empty()) << doc.Xml();
    return Column("GUID", number);
  }
  voucher::Receipt Add(const std::string& voucher, int row, const std::string& bytes,
                       host::Session* session = nullptr) {
    voucher::ReceiptUpload upload;
    upload.voucher_guid = voucher;
    upload.row = row;
    upload.file_name = "../../etc/票据\n.png";
    upload.mime = "image/png";
    upload.bytes = bytes;
    upload.thumbnail = "thumb:" + bytes.substr(0, 8);
    upload.thumbnail_mime = "image/png";
    // As the upload route does: the receipt and its bytes in one transaction.
    Cn().BeginTrans();
    try {
      voucher::Receipt added = voucher::AddReceipt(session ? *session : Session(), Cn(), upload);
      Cn().CommitTrans();
      return added;
    } catch (...) {
      Cn().RollbackTrans();
      throw;
    }
  }
  // The refusal's text of `work`, "" when it is not refused.
  template <class F>
  std::string Refusal(F work) {
    try {
      work();
    } catch (const ComError& e) {
      return e.Description();
    }
    return "";
  }
  std::string Count() {
    return Scalar("select count(*) from EC_Receipt") + "/" +
           Scalar("select count(*) from EC_ReceiptFile");
  }
};

TEST_F(ReceiptsTest, BytesComeBackAsTheyWentInAndGoWithTheirReceiptOrVoucher) {
  const std::string claim = SaveClaim("BX0001");
  // Larger than the pieces the engines move at a time.
  const std::string bytes = Binary(2'500'000, 7);
  voucher::Receipt added = Add(claim, 2, bytes);
  EXPECT_EQ(added.row, 2);
  EXPECT_EQ(added.size, 2'500'000);
  EXPECT_EQ(added.sha256.size(), 64u);
  EXPECT_EQ(added.file_name, "票据.png");  // the path and the control character dropped
  EXPECT_EQ(added.uploader, "demo");
  EXPECT_TRUE(added.has_thumbnail);

  voucher::ReceiptBytes back = voucher::ReadReceipt(Session(), Cn(), added.guid, false);
  EXPECT_TRUE(back.bytes == bytes);
  EXPECT_EQ(back.mime, "image/png");
  EXPECT_EQ(voucher::ReadReceipt(Session(), Cn(), added.guid, true).bytes,
            "thumb:" + bytes.substr(0, 8));
  ASSERT_EQ(voucher::ListReceipts(Session(), Cn(), claim).size(), 1u);

  voucher::DeleteReceipt(Session(), Cn(), added.guid);
  EXPECT_TRUE(voucher::ListReceipts(Session(), Cn(), claim).empty());
  EXPECT_EQ(Count(), "0/0");

  // A voucher deleted takes its receipts along.
  Add(claim, 1, bytes);
  xml::Document doc = Call("CExpense", "<req><func name='delvouch'><in><strAutoID>" +
                                           Column("AutoID", "BX0001") + "</strAutoID><ts>" +
                                           Ts(claim) + "</ts><type>EC03</type></in></func></req>");
  ASSERT_TRUE(OutError(doc, "delvouch").empty()) << doc.Xml();
  EXPECT_EQ(Count(), "0/0");
}

TEST_F(ReceiptsTest, OnlyTheMakerChangesADraftAndOthersSeeOnlyWhatTheyMaySee) {
  const std::string claim = SaveClaim("BX0001");
  const std::string receipt = Add(claim, 1, Binary(100, 1)).guid;

  // The clerk, limited to department 0201, sees the demo administrator's draft there and its
  // receipts, but only its maker changes them; a claim of 0301 is out of the clerk's reach.
  auto clerk = SessionFor("clerk");
  const std::string not_maker = Text("Rembiz.Voucher.NotMaker");
  EXPECT_EQ(voucher::ListReceipts(*clerk, Cn(), claim).size(), 1u);
  EXPECT_EQ(voucher::ReadReceipt(*clerk, Cn(), receipt, false).bytes.size(), 100u);
  EXPECT_EQ(Refusal([&] { Add(claim, 1, Binary(10, 2), clerk.get()); }), not_maker);
  EXPECT_EQ(Refusal([&] { voucher::DeleteReceipt(*clerk, Cn(), receipt); }), not_maker);
  const std::string elsewhere = SaveClaim("BX0009", Rows(), "0301");
  const std::string hidden = Add(elsewhere, 1, Binary(10, 2)).guid;
  EXPECT_EQ(Refusal([&] { voucher::ListReceipts(*clerk, Cn(), elsewhere); }),
            Text("Rembiz.Receipt.NoVoucher"));
  EXPECT_EQ(Refusal([&] { voucher::ReadReceipt(*clerk, Cn(), hidden, true); }),
            Text("Rembiz.Receipt.NotFound"));
  EXPECT_EQ(Refusal([&] { voucher::DeleteReceipt(*clerk, Cn(), hidden); }),
            Text("Rembiz.Receipt.NotFound"));

  // Rows the voucher does not have; a loan's receipts are the voucher's.
  EXPECT_EQ(Refusal([&] { Add(claim, 3, Binary(10, 2)); }), Text("Rembiz.Receipt.NoRow", "(3)"));
  InsertLoan("JK0001", "0002", Date("02-01"));
  const std::string loan = Scalar("select GUID from EC_LoanVouch where strVouchID = 'JK0001'");
  EXPECT_EQ(Refusal([&] { Add(loan, 1, Binary(10, 2)); }), Text("Rembiz.Receipt.NoRow", "(1)"));
  EXPECT_EQ(Refusal([&] { Add(loan, 0, Binary(10, 2)); }), "");

  // Submitted: what the approvers saw stays; the approver sees it.
  Approve(claim);
  const std::string frozen = Text("Rembiz.Receipt.Frozen", "BX0001");
  EXPECT_EQ(Refusal([&] { Add(claim, 1, Binary(10, 3)); }), frozen);
  EXPECT_EQ(Refusal([&] { voucher::DeleteReceipt(Session(), Cn(), receipt); }), frozen);
  auto approver = SessionFor("approver");
  EXPECT_EQ(voucher::ListReceipts(*approver, Cn(), claim).size(), 1u);
  EXPECT_EQ(voucher::ReadReceipt(*approver, Cn(), receipt, false).bytes.size(), 100u);
  EXPECT_EQ(Scalar("select count(*) from EC_Receipt where cVouchGUID = '" + claim + "'"), "1");
}

TEST_F(ReceiptsTest, LimitsComeFromTheOptionsAndARefusalKeepsNothing) {
  const std::string claim = SaveClaim("BX0001");
  Cn().Execute("update accinformation set cValue = '2' where cName = 'intReceiptMaxFiles'");
  Cn().Execute("update accinformation set cValue = '1' where cName = 'intReceiptMaxMB'");
  EXPECT_EQ(Refusal([&] { Add(claim, 1, ""); }), Text("Rembiz.Receipt.Empty"));
  EXPECT_EQ(Refusal([&] { Add(claim, 1, Binary(1024 * 1024 + 1, 4)); }),
            Text("Rembiz.Receipt.TooLarge", "1"));
  EXPECT_EQ(Count(), "0/0");
  Add(claim, 1, Binary(1024 * 1024, 5));
  Add(claim, 2, Binary(10, 6));
  EXPECT_EQ(Refusal([&] { Add(claim, 0, Binary(10, 7)); }), Text("Rembiz.Receipt.TooMany", "2"));
  EXPECT_EQ(Count(), "2/2");
}

TEST_F(ReceiptsTest, DuplicatesAreFlaggedByFileAndByPersonItemAmountAndDate) {
  const std::string rows = "<row strIOItem='203' dblMoney='100' dtBDate='" + Date("03-01") +
                           "'/><row strIOItem='203' dblMoney='55' dtBDate='" + Date("03-02") +
                           "'/>";
  const std::string first = SaveClaim("BX0001", rows);
  // The same office expense of the same day again, on the second row of another claim.
  const std::string second =
      SaveClaim("BX0002",
                "<row strIOItem='203' dblMoney='7' dtBDate='" + Date("03-09") +
                    "'/><row strIOItem='203' dblMoney='100' dtBDate='" + Date("03-01") + "'/>",
                "0301");
  const std::string same = Binary(5000, 9);
  Add(first, 1, same);
  Add(second, 2, same);
  Add(second, 1, Binary(5000, 10));

  std::vector<voucher::Receipt> listed = voucher::ListReceipts(Session(), Cn(), first);
  ASSERT_EQ(listed.size(), 1u);
  ASSERT_EQ(listed[0].duplicates.size(), 1u);
  EXPECT_EQ(listed[0].duplicates[0].kind, "file");
  EXPECT_EQ(listed[0].duplicates[0].voucher_id, "BX0002");
  EXPECT_EQ(listed[0].duplicates[0].row, 2);

  std::vector<voucher::RowDuplicate> by_row = voucher::ClaimRowDuplicates(Cn(), first);
  ASSERT_EQ(by_row.size(), 1u);
  EXPECT_EQ(by_row[0].row, 1);
  EXPECT_EQ(by_row[0].other.voucher_id, "BX0002");
  EXPECT_EQ(by_row[0].other.row, 2);

  // The report, as its class answers it.
  xml::Document doc = Call("CReceipt", "<req><func name='duplicates'><in/></func></req>");
  std::string pairs;
  for (const xml::Node& pair : doc.SelectNodes("//pair")) {
    pairs += pair.Attr("kind") + " " + pair.Attr("voucher") + "(" + pair.Attr("row") + ") " +
             pair.Attr("other") + "(" + pair.Attr("otherRow") + ");";
  }
  EXPECT_EQ(pairs, "file BX0001(1) BX0002(2);row BX0001(1) BX0002(2);") << doc.Xml();
  // Each side names its kind and AutoID: the pages link to the vouchers.
  for (const xml::Node& pair : doc.SelectNodes("//pair")) {
    EXPECT_EQ(pair.Attr("voucherKind") + pair.Attr("otherKind"), "claimclaim");
    EXPECT_EQ(pair.Attr("voucherAutoID"),
              Cn().Execute("select AutoID from EC_ExpenVouch where GUID = " + db::SqlText(first))
                  .Text("AutoID"));
    EXPECT_EQ(pair.Attr("otherAutoID"),
              Cn().Execute("select AutoID from EC_ExpenVouch where GUID = " + db::SqlText(second))
                  .Text("AutoID"));
  }
  // Only pairs the operator sees both sides of: the clerk does not reach department 0301.
  auto clerk = SessionFor("clerk");
  EXPECT_TRUE(voucher::PossibleDuplicates(*clerk, Cn()).empty());
}

TEST_F(ReceiptsTest, AnItemAsksForAReceiptAboveAnAmountAtSubmission) {
  Cn().Execute("update EC_IOItem set dblReceiptAbove = 50 where strCode = '203'");
  const std::string claim = SaveClaim("BX0001");  // row 2: office expense of 100
  auto submit = [&] {
    return Call("CExpense", "<req><func name='submitaudit'><in><GUID>" + claim + "</GUID><ts>" +
                                Ts(claim) + "</ts></in></func></req>");
  };
  xml::Document doc = submit();
  EXPECT_EQ(ErrorText(doc), Text("Rembiz.Receipt.Required", "(2)", "50")) << doc.Xml();
  EXPECT_EQ(Column("blnAudi", "BX0001"), "False");
  // A receipt on another row does not count; on its own row it does.
  Add(claim, 1, Binary(10, 1));
  EXPECT_EQ(ErrorText(submit()), Text("Rembiz.Receipt.Required", "(2)", "50"));
  Add(claim, 2, Binary(10, 2));
  doc = submit();
  EXPECT_TRUE(doc.SelectSingleNode("/error").IsNull()) << doc.Xml();
  EXPECT_EQ(Column("blnAudi", "BX0001"), "True");
}

}  // namespace
}  // namespace rembiz::receipts
