// Generation of ledger voucher lines per source family, checked against hand-computed lines in
// golden files (tests/ledger/golden): sides, accounts, auxiliary columns, foreign and local
// amounts, summaries and the balance.
#include <gtest/gtest.h>

#include "ledger/ledger_fixture.h"

namespace rembiz::ledger {
namespace {

using testing::ExpectGoldenText;

constexpr const char* kLoan = "{1E000001-0000-4000-8000-000000000001}";
constexpr const char* kLoanCash = "{1E000002-0000-4000-8000-000000000002}";
constexpr const char* kLoanCheque = "{1E000003-0000-4000-8000-000000000003}";
constexpr const char* kClaim = "{1E000010-0000-4000-8000-000000000010}";
constexpr const char* kClaimLine = "{1E000011-0000-4000-8000-000000000011}";
constexpr const char* kIncome = "{1E000020-0000-4000-8000-000000000020}";
constexpr const char* kIncomeLine = "{1E000021-0000-4000-8000-000000000021}";
constexpr const char* kOffice = "{1E000030-0000-4000-8000-000000000030}";
constexpr const char* kOfficeLine = "{1E000031-0000-4000-8000-000000000031}";
constexpr const char* kAdvance = "{1E000040-0000-4000-8000-000000000040}";
constexpr const char* kAdvanceRow = "{1E000041-0000-4000-8000-000000000041}";

class MakePZTest : public LedgerTest {
 protected:
  // A loan of 800 for 0004 (华北销售): 500 in cash, 300 by cheque ZP100 on bank 01.
  void Loan() {
    InsertLoan(kLoan, "JK-L1", "301", "人民币", 1, "0004", "0301", "天津出差借款");
    InsertLoanRow(kLoanCash, kLoan, "1", 500);
    InsertLoanRow(kLoanCheque, kLoan, "2", 300, "ZP100", "01");
  }

  // A travel claim in dollars at 7.1234 for project 001: a hotel of 100 (712.35 at the page's
  // rounding, one cent above the rate), a refund of 20 on transport, 80 paid by wire.
  void DollarClaim() {
    InsertClaim(kClaim, "ZC-E1", "201", "美元", 7.1234, 80, 569.88, "0004", "0301", "广州展会差旅",
                "00", "001");
    InsertClaimRow(kClaim, "20101", 100, 712.35, 2);
    InsertClaimRow(kClaim, "20102", -20, -142.47, 1);
    InsertSettlement(kClaimLine, kClaim, 2, "301", 80, "01");
  }

  // Other income of 300 from 0005 (华南销售), received in cash.
  void Income(bool with_settlement = true, const std::string& currency = "人民币") {
    InsertClaim(kIncome, "SR-I1", "101", currency, 1, 300, 300, "0005", "0302", "出租展位收入");
    InsertClaimRow(kIncome, "101", 300, 300);
    if (with_settlement) InsertSettlement(kIncomeLine, kIncome, 1, "1", 300);
  }

  // An office claim of 500 by 0002 (会计科): entertainment 300, office supplies 150 and 50, a
  // petty-cash advance of 400 written off, 100 paid in cash.
  void OfficeClaim() {
    InsertLoan(kAdvance, "JK-A1", "302", "人民币", 1, "0002", "0201", "备用金");
    InsertLoanRow(kAdvanceRow, kAdvance, "1", 400);
    InsertClaim(kOffice, "ZC-O1", "202", "人民币", 1, 500, 500, "0002", "0201", "办公及招待");
    InsertClaimRow(kOffice, "202", 300, 300);
    InsertClaimRow(kOffice, "203", 150, 150);
    InsertClaimRow(kOffice, "203", 50, 50);
    InsertSettlement(kOfficeLine, kOffice, 2, "1", 100);
    InsertWriteOff(kOffice, kAdvanceRow, 400);
  }

  std::string Staged(const std::string& sources, const std::string& in_attributes = "") {
    xml::Document doc = MakePZ(sources, in_attributes, false, StagedLinesFunc());
    EXPECT_TRUE(doc.SelectSingleNode("//out/error").IsNull()) << doc.Xml();
    EXPECT_TRUE(doc.SelectSingleNode("/error").IsNull()) << doc.Xml();
    return LineTable(doc, StagedColumns());
  }
};

TEST_F(MakePZTest, LoanRowsBecomeALoanLineAndAPaymentLineEach) {
  Loan();
  ExpectGoldenText("ledger/golden/loan.txt", Staged(Source("301", kLoan)));
}

TEST_F(MakePZTest, DollarClaimTurnsNegativeRowsAndBalancesTheLastCent) {
  DollarClaim();
  ExpectGoldenText("ledger/golden/expense_dollars.txt", Staged(Source("201", kClaim)));
}

TEST_F(MakePZTest, RowsWithoutLocalAmountsAreConvertedAtTheClaimsRate) {
  InsertClaim(kClaim, "ZC-E2", "201", "美元", 7.1, 150, 1065, "0004", "0301", "展会");
  InsertClaimRow(kClaim, "20101", 100, 0, 1, false);
  InsertClaimRow(kClaim, "20102", 50, 0, 1, false);
  InsertSettlement(kClaimLine, kClaim, 2, "301", 150, "01");
  std::string table = Staged(Source("201", kClaim));
  EXPECT_NE(table.find("\n1|660202|差旅费|710|100|0|0|"), std::string::npos) << table;
  EXPECT_NE(table.find("\n2|660202|差旅费|355|50|0|0|"), std::string::npos) << table;
  EXPECT_NE(table.find("total|md=1065.00|mc=1065.00"), std::string::npos) << table;
}

TEST_F(MakePZTest, IncomeClaimCreditsItsItemsAndDebitsWhatWasReceived) {
  Income();
  ExpectGoldenText("ledger/golden/income.txt", Staged(Source("101", kIncome)));
}

TEST_F(MakePZTest, ExpenseClaimWithWriteOffMergedAndUnmerged) {
  OfficeClaim();
  // One line per source line.
  ExpectGoldenText("ledger/golden/office_unmerged.txt", Staged(Source("202", kOffice)));
  // con="1" with the demo's options (same account on each side merges).
  ExpectGoldenText("ledger/golden/office_merged.txt", Staged(Source("202", kOffice), " con='1'"));
  // Every option off: lines merge by side alone, into the first line of each side.
  Cn().Execute("update AccInformation set cValue = 'false' where cSysID = 'EC' and cID like '2%'");
  ExpectGoldenText("ledger/golden/office_merged_by_side.txt",
                   Staged(Source("202", kOffice), " con='1'"));
}

TEST_F(MakePZTest, SeveralSourcesShareOneVoucherAndAStagedDraftChangesNothing) {
  Loan();
  OfficeClaim();
  std::string before = DumpAll();
  xml::Document doc =
      MakePZ(Source("301", kLoan) + Source("202", kOffice), "", false, StagedLinesFunc());
  xml::NodeList rows = doc.SelectNodes("//func[@name='getpzdata']/out/Rows/row");
  ASSERT_EQ(rows.size(), 9u) << doc.Xml();
  // One link id and one date for all lines; the maker is the operator.
  for (const xml::Node& row : rows) {
    EXPECT_EQ(row.Attr("coutno_id"), rows[0].Attr("coutno_id"));
    EXPECT_EQ(row.Attr("coutno_id").size(), 29u);
    EXPECT_EQ(row.Attr("dbill_date"), Day("03-25"));
    EXPECT_EQ(row.Attr("cbill"), "Demo Admin");
    EXPECT_EQ(row.Attr("csign"), "记");
    EXPECT_EQ(row.Attr("coutsysname"), "EC");
  }
  EXPECT_EQ(rows[0].Attr("coutid"), kLoan);
  EXPECT_EQ(rows[4].Attr("coutid"), kOffice);
  EXPECT_EQ(rows[4].Attr("VouchGUID"), kOffice);
  // A draft is no voucher: sources, ledger and bank are as they were, and so is the work table.
  EXPECT_EQ(DumpAll(), before);
  EXPECT_EQ(Scalar("select count(*) from tempdb.sqlite_master where name like 'qdtmp%'"), "0");
}

TEST_F(MakePZTest, RefusalsLeaveEverythingAsItWas) {
  Loan();
  DollarClaim();
  Income(false);
  std::string before = DumpAll();
  auto refused = [&](const std::string& sources, const std::string& text) {
    xml::Document doc = MakePZ(sources, "", false, StagedLinesFunc());
    EXPECT_EQ(doc.SelectSingleNode("//func[@name='makepz']/out/error/id").Text(),
              "Rembiz:CMakePZ:MakePZ:9000")
        << doc.Xml();
    EXPECT_EQ(ErrorText(doc), text);
    // Processing stopped at the refusal: no lines were shown.
    EXPECT_TRUE(doc.SelectSingleNode("//func[@name='getpzdata']/out/Rows").IsNull());
    EXPECT_EQ(DumpAll(), before);
  };
  // An income claim needs something received.
  refused(Source("301", kLoan) + Source("101", kIncome), Text("Q7.Rembiz.0297"));
  // Unknown family.
  refused("<row strtypecode='901' guid='" + std::string(kLoan) + "'/>", Text("Q7.Rembiz.0298"));

  // A payment handed to the bank and not confirmed blocks the voucher, loan or claim.
  Cn().Execute("update EC_LoanVouch_Sub set strPayID = 'NB1' where GUID = '" +
               std::string(kLoanCheque) + "'");
  Cn().Execute("update EC_BalanceInfo set strPayID = 'NB2' where GUID = '" +
               std::string(kClaimLine) + "'");
  before = DumpAll();
  refused(Source("301", kLoan), Text("Q7.Rembiz.0294"));
  refused(Source("201", kClaim), Text("Q7.Rembiz.0295"));
  Cn().Execute("update EC_LoanVouch_Sub set blnNetOK = 1 where GUID = '" +
               std::string(kLoanCheque) + "'");
  Cn().Execute("update EC_BalanceInfo set blnNetOK = 1 where GUID = '" + std::string(kClaimLine) +
               "'");

  // Not approved, or already made.
  Cn().Execute("update EC_ExpenVouch set strAuditorID = null where GUID = '" + std::string(kClaim) +
               "'");
  before = DumpAll();
  refused(Source("301", kLoan) + Source("201", kClaim), Text("Q7.Rembiz.0334", "ZC-E1"));
  Cn().Execute("update EC_LoanVouch set strMakerID = 'Demo Admin' where GUID = '" +
               std::string(kLoan) + "'");
  before = DumpAll();
  refused(Source("301", kLoan), Text("Q7.Rembiz.0334", "JK-L1"));
}

TEST_F(MakePZTest, AnIncomeItemWithoutAccountSettingIsRefused) {
  Income(true, "美元");
  std::string before = DumpAll();
  xml::Document doc = MakePZ(Source("101", kIncome));
  EXPECT_EQ(ErrorText(doc), Text("Rembiz.Ledger.NoItemAccount", "SR-I1", "101", "美元"));
  EXPECT_EQ(DumpAll(), before);
}

// The page states blnTemp once, with "makepz": a "getpzdata" without parameters of its own reads
// them from the request.
TEST_F(MakePZTest, GetpzdataWithoutParametersReadsThoseOfTheRequest) {
  Loan();
  std::string expected = Staged(Source("301", kLoan));
  xml::Document doc = MakePZ(Source("301", kLoan), "", false, "<func name='getpzdata'/>");
  EXPECT_EQ(LineTable(doc, StagedColumns()), expected);
}

TEST_F(MakePZTest, GetpzdataWithoutAStagedVoucherIsRefused) {
  xml::Document doc = Call("CMakePZ", "<req>" + StagedLinesFunc() + "</req>");
  EXPECT_EQ(doc.SelectSingleNode("/error/text").Text(), Text("Q7.Rembiz.0312")) << doc.Xml();
}

}  // namespace
}  // namespace rembiz::ledger
