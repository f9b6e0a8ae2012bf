#include <gtest/gtest.h>

#include "expense/expense_fixture.h"

namespace rembiz::expense {
namespace {

// An approved claim of 1000 for claimant 0002 and two approved loans: A of 1000, B of 200.
class SettlementTest : public ExpenseTest {
 protected:
  void SetUp() override {
    ExpenseTest::SetUp();
    loan_a_ = InsertApprovedLoan("JK0001", 1000);
    loan_b_ = InsertApprovedLoan("JK0002", 200);
    ASSERT_TRUE(Save(Head()).SelectSingleNode("/error").IsNull());
    claim_ = Column("GUID", "BX0001");
    Approve(claim_);
  }

  std::string In(const std::string& claim, const std::string& extra = "") {
    return "<in GUID='" + claim + "' ts='" + Ts(claim) +
           "' strLoanID='0002' strBill='人民币' fltRate='1'" + extra + ">";
  }
  // A write-off row of a loan row (its current version) with the link the claim holds on it.
  std::string Row(const std::string& loan_row, const std::string& kind, const std::string& value,
                  const std::string& claim = "") {
    std::string link = claim.empty() ? ""
                                     : Scalar(
                                           "select GUID from EC_ExpenLoanInfo where "
                                           "LoanSubguid = '" +
                                           loan_row + "' and Expenguid = '" + claim + "'");
    std::string link_ts = link.empty() ? "" : Ts(link, "EC_ExpenLoanInfo");
    return "<row GUID='" + loan_row + "' ts='" + Ts(loan_row, "EC_LoanVouch_Sub") + "' GUID1='" +
           link + "' ts1='" + link_ts + "' blnUsed='" + kind + "' dblRetValue='" + value + "'/>";
  }
  xml::Document SaveLoans(const std::string& claim, const std::string& rows,
                          const std::string& extra = "") {
    return Call("CExpense",
                "<req><func name='SaveLoanInfo'>" + In(claim, extra) + rows + "</in></func></req>");
  }
  // Returned amount and settled flag of a loan row and of its voucher.
  std::string Loan(const std::string& loan_row) {
    std::string row = Scalar(
        "select s.dblReturn, cast(s.blnSettle as int), v.dblReturn, cast(v.blnSettle as int) "
        "from EC_LoanVouch_Sub s join EC_LoanVouch v on v.GUID = s.MGuid where s.GUID = '" +
        loan_row + "'");
    // "row returned/settled voucher returned/settled"
    for (const char* separator : {"/", " ", "/"}) row.replace(row.find('|'), 1, separator);
    return row;
  }
  // Approves (or cancels the approval of) a claim through the batch approval.
  xml::Document Audit(const std::string& claim, bool approve) {
    return Call("CAudit", std::string("<req><func name='CheckAudit'><in flag='") +
                              (approve ? "true" : "false") + "'><v guid='" + claim + "' ts='" +
                              Ts(claim) + "' strType='EC02' strVouchID='x'/></in></func></req>");
  }
  // Inserts, changes or deletes payment lines of a claim (its current version).
  xml::Document SavePayments(const std::string& claim, const std::string& rows) {
    return Call("CExpense", "<req><func name='SaveExpenInfo'><in GUID='" + claim + "' ts='" +
                                Ts(claim) + "'><rows>" + rows + "</rows></in></func></req>");
  }
  // A new payment line (direction 2) or receipt (direction 1) of `money`.
  static std::string Payment(const std::string& money, bool receipt = false) {
    return "<row P='1' intIOType='" + Text(receipt ? "Q7.Rembiz.0185" : "Q7.Rembiz.0186") +
           "' strBalanceID='1' dblMoney='" + money + "'/>";
  }
  // A saved claim of one office row of `money`, approved unless told otherwise.
  std::string ClaimOf(const std::string& number, const std::string& money, bool approve = true) {
    xml::Document doc =
        Save(Head({{"strVouchID", number}}), "<row strIOItem='203' dblMoney='" + money + "'/>");
    EXPECT_TRUE(NoError(doc)) << doc.Xml();
    std::string guid = Column("GUID", number);
    if (approve) Approve(guid);
    return guid;
  }
  // The state a head read answers: code and name.
  std::string StateOf(const std::string& guid, const std::string& table = "EC_ExpenVouch") {
    const bool loan = table == "EC_LoanVouch";
    xml::Document doc =
        Call("CPubMsg", std::string("<req><func name='") +
                            (loan ? "vchgetloanheaddata" : "vchgetexpenheaddata") +
                            "'><in><row AutoID='" +
                            Scalar("select AutoID from " + table + " where GUID = '" + guid + "'") +
                            "'/></in></func></req>");
    xml::Node row = doc.SelectSingleNode("//z:row");
    return row.Attr("strState") + " " + row.Attr("strStateName");
  }
  static std::string Named(const std::string& code, const std::string& key,
                           const std::string& p1 = "", const std::string& p2 = "") {
    return code + " " + Text(key, p1, p2);
  }
  std::string Claim(const std::string& columns) {
    return Scalar("select " + columns + " from EC_ExpenVouch where GUID = '" + claim_ + "'");
  }

  std::string loan_a_, loan_b_, claim_;
};

TEST_F(SettlementTest, ApprovedWriteOffMovesLoansAndASecondSaveDoesNotCountTwice) {
  // The claimant's open loans in the claim's currency are offered.
  xml::Document doc =
      Call("CExpense", "<req><func name='GetLoanInfo'>" + In(claim_) + "</in></func></req>");
  ASSERT_EQ(doc.SelectNodes("//Rows/row").size(), 2u) << doc.Xml();
  EXPECT_EQ(doc.SelectSingleNode("//row[@GUID='" + loan_a_ + "']").Attr("dblRetLeave"), "1000");

  // A partly, B settled.
  doc = SaveLoans(claim_, Row(loan_a_, "-1", "300") + Row(loan_b_, "0", "200"));
  ASSERT_TRUE(NoError(doc)) << doc.Xml();
  EXPECT_EQ(Loan(loan_a_), "300/0 300/0");
  EXPECT_EQ(Loan(loan_b_), "200/1 200/1");
  EXPECT_EQ(Claim("cast(blnSettle as int), strVerifier"), "0|" + Session().UserName());
  EXPECT_EQ(doc.SelectNodes("//func[@name='SaveLoanInfo']/out/Rows/row").size(), 2u);

  // The claim's links, read back without a claimant.
  doc = Call("CExpense", "<req><func name='GetLoanInfo'><in GUID='" + claim_ +
                             "' strBill='人民币' fltRate='1'/></func></req>");
  xml::Node a = doc.SelectSingleNode("//row[@GUID='" + loan_a_ + "']");
  EXPECT_EQ(a.Attr("dblRetValue"), "300");
  EXPECT_EQ(a.Attr("dblLeave"), "1000");
  EXPECT_EQ(a.Attr("dblRetLeave"), "700");
  EXPECT_FALSE(a.Attr("GUID1").empty());

  // The same write-offs again: undone first, then applied once.
  doc = SaveLoans(claim_, Row(loan_a_, "-1", "300", claim_) + Row(loan_b_, "0", "200", claim_));
  ASSERT_TRUE(NoError(doc)) << doc.Xml();
  EXPECT_EQ(Loan(loan_a_), "300/0 300/0");
  EXPECT_EQ(Loan(loan_b_), "200/1 200/1");
  EXPECT_EQ(Scalar("select count(*) from EC_ExpenLoanInfo"), "2");

  // More than the loan row holds is refused and changes nothing.
  std::string before = State();
  doc = SaveLoans(claim_, Row(loan_a_, "-1", "1200.5", claim_));
  EXPECT_EQ(OutError(doc, "SaveLoanInfo"), Text("Q7.Rembiz.0379"));
  EXPECT_EQ(State(), before);

  // A stale claim version is refused.
  doc = Call("CExpense", "<req><func name='SaveLoanInfo'><in GUID='" + claim_ + "' ts='1'>" +
                             Row(loan_a_, "-1", "10") + "</in></func></req>");
  EXPECT_EQ(OutError(doc, "SaveLoanInfo"), Text("Q7.Rembiz.0286"));
  EXPECT_EQ(State(), before);

  // Another claim may not settle B while this one does.
  ASSERT_TRUE(Save(Head({{"strVouchID", "BX0002"}})).SelectSingleNode("/error").IsNull());
  std::string other = Column("GUID", "BX0002");
  Approve(other);
  before = State();
  doc = SaveLoans(other, Row(loan_b_, "0", "200"));
  EXPECT_EQ(OutError(doc, "SaveLoanInfo"), Text("Q7.Rembiz.0287"));
  EXPECT_EQ(State(), before);

  // Removing every write-off gives the loans back.
  doc = SaveLoans(claim_, "", " del='1'");
  ASSERT_TRUE(NoError(doc)) << doc.Xml();
  EXPECT_EQ(Loan(loan_a_), "0/0 0/0");
  EXPECT_EQ(Loan(loan_b_), "0/0 0/0");
  EXPECT_EQ(Scalar("select count(*) from EC_ExpenLoanInfo"), "0");
  EXPECT_EQ(Claim("cast(blnSettle as int), isnull(strVerifier, '-')"), "0|-");
}

// A write-off recorded on a draft claim moves the loan once the claim is approved, back when the
// approval is cancelled, and never twice however often the claim's write-offs are saved again.
TEST_F(SettlementTest, WriteOffLifecycleFromDraftToRemoval) {
  Cn().Execute("update EC_ExpenVouch set strAuditorID = null, blnAudi = 0");
  ASSERT_TRUE(SaveLoans(claim_, Row(loan_a_, "-1", "300")).SelectSingleNode("/error").IsNull());
  EXPECT_EQ(Loan(loan_a_), "0/0 0/0");

  xml::Document doc = Audit(claim_, true);
  ASSERT_TRUE(doc.SelectSingleNode("//Error").IsNull()) << doc.Xml();
  EXPECT_EQ(Loan(loan_a_), "300/0 300/0");
  doc = Audit(claim_, false);
  ASSERT_TRUE(doc.SelectSingleNode("//Error").IsNull()) << doc.Xml();
  EXPECT_EQ(Loan(loan_a_), "0/0 0/0");
  ASSERT_TRUE(Audit(claim_, true).SelectSingleNode("//Error").IsNull());
  EXPECT_EQ(Loan(loan_a_), "300/0 300/0");

  // Saved again after approval: still applied once.
  doc = SaveLoans(claim_, Row(loan_a_, "-1", "300", claim_));
  ASSERT_TRUE(NoError(doc)) << doc.Xml();
  EXPECT_EQ(Loan(loan_a_), "300/0 300/0");
  // Now settling the whole row.
  doc = SaveLoans(claim_, Row(loan_a_, "0", "1000", claim_));
  ASSERT_TRUE(NoError(doc)) << doc.Xml();
  EXPECT_EQ(Loan(loan_a_), "1000/1 1000/1");
  // The link removed: the loan is open again, not below zero.
  doc = SaveLoans(claim_, "", " del='1'");
  ASSERT_TRUE(NoError(doc)) << doc.Xml();
  EXPECT_EQ(Loan(loan_a_), "0/0 0/0");
  EXPECT_EQ(Scalar("select count(*) from EC_ExpenLoanInfo"), "0");
}

// Two claims write off one loan row: a settling write-off adds to another claim's partial one
// instead of overwriting it, and removing either gives back only its own amount.
TEST_F(SettlementTest, SettlingWriteOffAddsToAnotherClaimsPartial) {
  ASSERT_TRUE(SaveLoans(claim_, Row(loan_a_, "-1", "300")).SelectSingleNode("/error").IsNull());
  ASSERT_TRUE(Save(Head({{"strVouchID", "BX0002"}})).SelectSingleNode("/error").IsNull());
  std::string other = Column("GUID", "BX0002");
  Approve(other);
  xml::Document doc = SaveLoans(other, Row(loan_a_, "0", "700"));
  ASSERT_TRUE(NoError(doc)) << doc.Xml();
  EXPECT_EQ(Loan(loan_a_), "1000/1 1000/1");
  doc = SaveLoans(other, "", " del='1'");
  ASSERT_TRUE(NoError(doc)) << doc.Xml();
  EXPECT_EQ(Loan(loan_a_), "300/0 300/0");

  // A draft that would write off more than the row still holds cannot be approved.
  Cn().Execute("update EC_ExpenVouch set strAuditorID = null, blnAudi = 0 where GUID = '" + other +
               "'");
  ASSERT_TRUE(SaveLoans(other, Row(loan_a_, "-1", "800")).SelectSingleNode("/error").IsNull());
  std::string before = State();
  doc = Audit(other, true);
  EXPECT_NE(doc.SelectSingleNode("//Error/err").Attr("msg").find(Text("Q7.Rembiz.0379")),
            std::string::npos)
      << doc.Xml();
  EXPECT_EQ(State(), before);
}

TEST_F(SettlementTest, ApprovedWriteOffNeedsItsOwnTaskAndReadsInEnglish) {
  // The clerk enters claims but may not settle approved ones: the refusal is the answer.
  std::string before = State();
  auto clerk = SessionFor("clerk");
  xml::Document doc = Call("CExpense",
                           "<req><func name='SaveLoanInfo'>" + In(claim_) +
                               Row(loan_a_, "-1", "300") + "</in></func></req>",
                           clerk.get());
  EXPECT_TRUE(doc.SelectSingleNode("/error").IsNull()) << doc.Xml();
  EXPECT_EQ(doc.SelectSingleNode("//func[@name='SaveLoanInfo']/out/error/id").Text(),
            "Rembiz:MSG:ApplyTask:9000")
      << doc.Xml();
  EXPECT_EQ(State(), before);

  // English sessions read the same rows (aliases are bracketed there).
  auto english = SessionFor("demo", "en-US");
  doc = Call("CExpense",
             "<req><func name='GetLoanInfo'>" + In(claim_) +
                 "</in></func><func name='getVouchListID'><in><Director>0</Director></in></func>"
                 "<func name='GetExpenInfo'><in GUID='" +
                 claim_ + "'/></func></req>",
             english.get());
  ASSERT_TRUE(NoError(doc)) << doc.Xml();
  EXPECT_EQ(doc.SelectNodes("//func[@name='GetLoanInfo']/out/Rows/row").size(), 2u);

  // The public information service reaches the claim reads.
  doc = Call("CPubMsg", "<req><func name='vchgetexpenheaddata'><in><row AutoID='" +
                            Column("AutoID", "BX0001") + "'/></in></func></req>");
  EXPECT_EQ(doc.SelectSingleNode("//z:row").Attr("GUID"), claim_) << doc.Xml();
}

// The settlement operations answer their failures under their own `out`, named by procedure;
// earlier answers of the request stay, and nothing of the failed save remains.
TEST_F(SettlementTest, FailuresAnswerUnderTheirOwnOut) {
  std::string before = State();
  xml::Document doc =
      Call("CExpense",
           "<req><func name='getOperList' goon='1'><in><type>EC03</type></in></func>"
           "<func name='GetLoanInfo' goon='1'><in/></func>"
           "<func name='GetExpenInfo' goon='1'><in/></func>"
           "<func name='SaveExpenInfo' goon='1'><in GUID='" +
               claim_ + "' ts='" + Ts(claim_) + "'><rows><row P='1' intIOType='" +
               Text("Q7.Rembiz.0186") + "' strBalanceID='1' dblMoney='50'/><row P='9' intIOType='" +
               Text("Q7.Rembiz.0186") +
               "'/></rows></in></func>"
               "<func name='SaveLoanInfo'><in GUID='" +
               claim_ + "' ts='1'/></func></req>");
  EXPECT_TRUE(doc.SelectSingleNode("/error").IsNull()) << doc.Xml();
  EXPECT_EQ(doc.SelectNodes("//func[@name='getOperList']/out/rows/option").size(), 2u);
  auto id = [&](const std::string& func) {
    return doc.SelectSingleNode("//func[@name='" + func + "']/out/error/id").Text();
  };
  EXPECT_EQ(id("GetLoanInfo"), "Rembiz:CExpense:GetLoanInfo:9000");
  EXPECT_EQ(OutError(doc, "GetLoanInfo"), Text("Q7.Rembiz.0284"));
  EXPECT_EQ(id("GetExpenInfo"), "Rembiz:CExpense:GetExpenInfo:9000");
  EXPECT_EQ(OutError(doc, "GetExpenInfo"), Text("Q7.Rembiz.0289"));
  EXPECT_EQ(id("SaveExpenInfo"), "Rembiz:CExpense:SaveExpenInfo:9000");
  EXPECT_EQ(OutError(doc, "SaveExpenInfo"), Text("Q7.Rembiz.0292"));
  EXPECT_EQ(id("SaveLoanInfo"), "Rembiz:CExpense:SaveLoanInfo:9000");
  EXPECT_EQ(OutError(doc, "SaveLoanInfo"), Text("Q7.Rembiz.0286"));
  EXPECT_EQ(State(), before);
}

TEST_F(SettlementTest, UnapprovedClaimRecordsLinksWithoutTouchingLoans) {
  Cn().Execute("update EC_ExpenVouch set strAuditorID = null, blnAudi = 0");
  xml::Document doc = SaveLoans(claim_, Row(loan_a_, "-1", "300"));
  ASSERT_TRUE(NoError(doc)) << doc.Xml();
  EXPECT_EQ(Loan(loan_a_), "0/0 0/0");
  EXPECT_EQ(Scalar("select dblJE from EC_ExpenLoanInfo"), "300");
  // An unapproved claim keeps no verifier.
  EXPECT_EQ(Claim("isnull(strVerifier, '-')"), "-");
}

// A draft (a rejected claim taken back, say) is corrected with its write-offs: they apply to no
// loan until an approval, so they stay with it while they still fit it. A change of claimant or
// currency, an amount below them, or a payment line keeps the claim as it is.
TEST_F(SettlementTest, DraftKeepsItsWriteOffsWhenCorrected) {
  Cn().Execute("update EC_ExpenVouch set strAuditorID = null, blnAudi = 0");
  ASSERT_TRUE(NoError(SaveLoans(claim_, Row(loan_a_, "-1", "300"))));
  const std::string before = State();
  auto save = [&](const Attrs& changes, const std::string& rows) {
    Attrs head = changes;
    head["GUID"] = claim_;
    head["ts"] = Ts(claim_);
    return Save(Head(head), rows);
  };
  EXPECT_EQ(OutError(save({{"strLoanID", "0003"}}, Rows()), "savevouch"), Text("Q7.Rembiz.0332"));
  EXPECT_EQ(OutError(save({{"fltRate", "2"}}, Rows()), "savevouch"), Text("Q7.Rembiz.0332"));
  EXPECT_EQ(OutError(save({}, "<row strIOItem='203' dblMoney='200'/>"), "savevouch"),
            Text("Q7.Rembiz.0445", "100.00", "人民币"));
  EXPECT_EQ(State(), before);

  xml::Document doc = save({{"strUsed", "更正"}}, "<row strIOItem='203' dblMoney='300'/>");
  ASSERT_TRUE(NoError(doc)) << doc.Xml();
  EXPECT_EQ(Claim("strUsed") + " " + Claim("dblMoney"), "更正 300");
  EXPECT_EQ(Scalar("select dblJE from EC_ExpenLoanInfo"), "300");
  EXPECT_EQ(Loan(loan_a_), "0/0 0/0");

  ASSERT_TRUE(NoError(SavePayments(claim_, Payment("0.01", true))));
  EXPECT_EQ(OutError(save({}, "<row strIOItem='203' dblMoney='300'/>"), "savevouch"),
            Text("Q7.Rembiz.0332"));
}

// An approver reads the claim's write-offs through the public reads, without the right to enter
// or settle claims: the claim's own links only, even when the request names the claimant.
TEST_F(SettlementTest, TheApproverReadsTheClaimsWriteOffsOnly) {
  ASSERT_TRUE(NoError(SaveLoans(claim_, Row(loan_a_, "-1", "300"))));
  auto approver = SessionFor("approver");
  const std::string in =
      "<in GUID='" + claim_ + "' strLoanID='0002' strBill='人民币' fltRate='1'/>";
  xml::Document doc =
      Call("CExpense", "<req><func name='GetLoanInfo'>" + in + "</func></req>", approver.get());
  EXPECT_TRUE(doc.SelectNodes("//Rows/row").empty()) << doc.Xml();
  doc = Call("CPubMsg", "<req><func name='vchgetexpenloandata'>" + in + "</func></req>",
             approver.get());
  xml::NodeList rows = doc.SelectNodes("//Rows/row");
  ASSERT_EQ(rows.size(), 1u) << doc.Xml();
  EXPECT_EQ(rows[0].Attr("GUID"), loan_a_);
  EXPECT_EQ(rows[0].Attr("dblRetValue"), "300");
}

TEST_F(SettlementTest, WriteOffAndPaymentLinesInOneRequestSettleTheClaim) {
  // The write-off changes the claim's version; the payment save still gets the current one.
  xml::Document doc =
      Call("CExpense", "<req><func name='SaveLoanInfo'>" + In(claim_) + Row(loan_a_, "-1", "500") +
                           "</in></func><func name='SaveExpenInfo'><in GUID='" + claim_ + "' ts='" +
                           Ts(claim_) + "'><rows><row P='1' intIOType='" + Text("Q7.Rembiz.0186") +
                           "' strBalanceID='1' dblMoney='500'/></rows></in></func></req>");
  ASSERT_TRUE(NoError(doc)) << doc.Xml();
  EXPECT_EQ(Scalar("select intIOType, dblMoney from EC_BalanceInfo"), "2|500");

  // Write-off 500 and payment 500 cover the claim of 1000.
  doc = SaveLoans(claim_, Row(loan_a_, "-1", "500", claim_));
  ASSERT_TRUE(NoError(doc)) << doc.Xml();
  EXPECT_EQ(Loan(loan_a_), "500/0 500/0");
  EXPECT_EQ(Claim("cast(blnSettle as int), strVerifier"), "1|" + Session().UserName());
}

TEST_F(SettlementTest, PaymentLinesInsertChangeDeleteAndSettle) {
  ASSERT_TRUE(Save(Head({{"strVouchID", "BX0003"}}), "<row strIOItem='203' dblMoney='500'/>")
                  .SelectSingleNode("/error")
                  .IsNull());
  std::string claim = Column("GUID", "BX0003");
  auto lines = [&](const std::string& rows) {
    return Call("CExpense", "<req><func name='SaveExpenInfo'><in GUID='" + claim + "' ts='" +
                                Ts(claim) + "'><rows>" + rows + "</rows></in></func></req>");
  };
  const std::string pay = Text("Q7.Rembiz.0186");
  const std::string receive = Text("Q7.Rembiz.0185");

  xml::Document doc = lines("<row P='1' intIOType='" + pay +
                            "' strBalanceID='2' strBillID='ZP9' strPayBankID='01' "
                            "dblMoney='500' strBankName='b' strBankAcc='acc'/>");
  ASSERT_TRUE(NoError(doc)) << doc.Xml();
  EXPECT_EQ(Scalar("select blnSettle from EC_ExpenVouch where GUID = '" + claim + "'"), "True");

  // Read back with display texts.
  doc = Call("CExpense", "<req><func name='GetExpenInfo'><in GUID='" + claim + "'/></func></req>");
  xml::Node line = doc.SelectSingleNode("//Rows/row");
  ASSERT_FALSE(line.IsNull()) << doc.Xml();
  EXPECT_EQ(line.Attr("intIOType"), pay);
  EXPECT_EQ(line.Attr("strBalance"), "支票");
  EXPECT_EQ(line.Attr("strBankAcc"), "acc");
  std::string guid = line.Attr("GUID");
  std::string ts = line.Attr("ts");

  // A receipt of 100 and a payment of 600 settle it too.
  doc = lines("<row P='2' GUID='" + guid + "' ts='" + ts + "' intIOType='" + pay +
              "' strBalanceID='1' dblMoney='600'/><row P='1' intIOType='" + receive +
              "' strBalanceID='1' dblMoney='100'/>");
  ASSERT_TRUE(NoError(doc)) << doc.Xml();
  EXPECT_EQ(Lines("select intIOType, dblMoney, isnull(strBillID, '-') from EC_BalanceInfo "
                  "order by AutoID",
                  ","),
            "2|600|-,1|100|-");
  EXPECT_EQ(Scalar("select blnSettle from EC_ExpenVouch where GUID = '" + claim + "'"), "True");

  // The old version of the changed line, and a line paid online, are refused.
  std::string before = State();
  doc = lines("<row P='3' GUID='" + guid + "' ts='" + ts + "' intIOType='" + pay + "'/>");
  EXPECT_EQ(OutError(doc, "SaveExpenInfo"), Text("Q7.Rembiz.0112"));
  EXPECT_EQ(State(), before);
  Cn().Execute("update EC_BalanceInfo set strPayID = 'NP1' where GUID = '" + guid + "'");
  before = State();
  doc = lines("<row P='3' GUID='" + guid + "' ts='" + Ts(guid, "EC_BalanceInfo") + "' intIOType='" +
              pay + "'/>");
  EXPECT_EQ(OutError(doc, "SaveExpenInfo"), Text("Q7.Rembiz.0380"));
  EXPECT_EQ(State(), before);

  // Lines already exist: the claim can no longer be deleted.
  doc = Call("CExpense", "<req><func name='delvouch'><in><strAutoID>" + Column("AutoID", "BX0003") +
                             "</strAutoID><ts>" + Ts(claim) +
                             "</ts><type>EC03</type></in></func></req>");
  EXPECT_EQ(OutError(doc, "delvouch"), Text("Q7.Rembiz.0272"));
  EXPECT_EQ(State(), before);
}

// Write-offs and payment lines carry amounts above zero; a write-off of nothing is none. A
// refusal names the line, counted from 1, and writes nothing.
TEST_F(SettlementTest, WriteOffsAndPaymentLinesAreAboveZero) {
  std::string before = State();
  xml::Document doc = SaveLoans(claim_, Row(loan_a_, "-1", "300") + Row(loan_b_, "0", "-200"));
  EXPECT_EQ(OutError(doc, "SaveLoanInfo"), Text("Q7.Rembiz.0443", "2"));
  doc = SavePayments(claim_, Payment("100") + Payment("-50"));
  EXPECT_EQ(OutError(doc, "SaveExpenInfo"), Text("Q7.Rembiz.0444", "2"));
  doc = SavePayments(claim_, Payment("0", true));
  EXPECT_EQ(OutError(doc, "SaveExpenInfo"), Text("Q7.Rembiz.0444", "1"));
  doc = SavePayments(claim_,
                     "<row P='1' intIOType='" + Text("Q7.Rembiz.0186") + "' strBalanceID='1'/>");
  EXPECT_EQ(OutError(doc, "SaveExpenInfo"), Text("Q7.Rembiz.0444", "1"));
  EXPECT_EQ(State(), before);

  // A line changed to a negative amount.
  ASSERT_TRUE(NoError(SavePayments(claim_, Payment("100"))));
  std::string line = Scalar("select GUID from EC_BalanceInfo");
  before = State();
  doc = SavePayments(claim_, "<row P='2' GUID='" + line + "' ts='" + Ts(line, "EC_BalanceInfo") +
                                 "' intIOType='" + Text("Q7.Rembiz.0186") +
                                 "' strBalanceID='1' dblMoney='-100'/>");
  EXPECT_EQ(OutError(doc, "SaveExpenInfo"), Text("Q7.Rembiz.0444", "1"));
  EXPECT_EQ(State(), before);
}

// Write-offs and payment lines together never settle more than the claim: the save that would
// is refused with the excess in the claim's money, whichever save comes last, and nothing of it
// is kept. A receipt from the claimant makes room.
TEST_F(SettlementTest, SettlementBeyondTheClaimIsRefused) {
  std::string claim = ClaimOf("BX0009", "1150");
  ASSERT_TRUE(NoError(SaveLoans(claim, Row(loan_a_, "0", "1000"))));
  std::string before = State();
  xml::Document doc = SavePayments(claim, Payment("200"));
  EXPECT_EQ(OutError(doc, "SaveExpenInfo"), Text("Q7.Rembiz.0445", "50.00", "人民币"));
  EXPECT_EQ(State(), before);

  // Payment first, then the write-off: refused too, as is the pair in one request.
  ASSERT_TRUE(NoError(SaveLoans(claim, "", " del='1'")));
  ASSERT_TRUE(NoError(SavePayments(claim, Payment("200"))));
  before = State();
  doc = SaveLoans(claim, Row(loan_a_, "0", "1000"));
  EXPECT_EQ(OutError(doc, "SaveLoanInfo"), Text("Q7.Rembiz.0445", "50.00", "人民币"));
  EXPECT_EQ(Loan(loan_a_), "0/0 0/0");
  doc = Call("CExpense", "<req><func name='SaveExpenInfo'><in GUID='" + claim + "' ts='" +
                             Ts(claim) + "'><rows>" + Payment("0.5") +
                             "</rows></in></func><func name='SaveLoanInfo'>" + In(claim) +
                             Row(loan_a_, "0", "1000") + "</in></func></req>");
  EXPECT_EQ(OutError(doc, "SaveLoanInfo"), Text("Q7.Rembiz.0445", "50.50", "人民币"));
  EXPECT_EQ(State(), before);

  // The claimant pays back 50: write-off 1000 and payment 200 less 50 settle 1150 exactly.
  doc = Call("CExpense", "<req><func name='SaveExpenInfo'><in GUID='" + claim + "' ts='" +
                             Ts(claim) + "'><rows>" + Payment("50", true) +
                             "</rows></in></func><func name='SaveLoanInfo'>" + In(claim) +
                             Row(loan_a_, "0", "1000") + "</in></func></req>");
  ASSERT_TRUE(NoError(doc)) << doc.Xml();
  EXPECT_EQ(Scalar("select cast(blnSettle as int), strVerifier from EC_ExpenVouch where GUID = '" +
                   claim + "'"),
            "1|" + Session().UserName());
  EXPECT_EQ(Loan(loan_a_), "1000/1 1000/1");
}

// The head read answers the voucher's state, worked out at the server: a claim moves through
// its approval, and only then do its write-offs and payment lines count; a payment line taken
// away takes "paid" back with it. A loan follows what claims repaid of it.
TEST_F(SettlementTest, HeadAnswersTheStateOfTheVoucher) {
  // A draft fully written off stays a draft, and its approval decides from there on.
  std::string claim = ClaimOf("BX0009", "1000", false);
  ASSERT_TRUE(NoError(SaveLoans(claim, Row(loan_a_, "0", "1000"))));
  EXPECT_EQ(StateOf(claim), Named("draft", "Q7.Rembiz.0446"));
  xml::Document doc = Call("CExpense", "<req><func name='submitaudit'><in><GUID>" + claim +
                                           "</GUID><ts>" + Ts(claim) + "</ts></in></func></req>");
  ASSERT_TRUE(NoError(doc)) << doc.Xml();
  EXPECT_EQ(StateOf(claim), Named("submitted", "Q7.Rembiz.0447"));
  auto act = [&](const std::string& user, const std::string& action) {
    auto session = SessionFor(user);
    xml::Document out = Call("CAudit",
                             "<req><func name='AuditVouch'><in><EASTdata><task EAAID='" + action +
                                 "' remark='r'/></EASTdata><strGUID><Rows flag='1'><row strGUID='" +
                                 claim + "' ts='" + Ts(claim) +
                                 "' strType='EC02' strVouchID='BX0009'/></Rows></strGUID></in>"
                                 "</func></req>",
                             session.get());
    ASSERT_TRUE(out.SelectSingleNode("/error").IsNull()) << out.Xml();
  };
  act("demo", "1");
  EXPECT_EQ(StateOf(claim), Named("step", "Q7.Rembiz.0448", "2", "2"));
  act("approver", "2");
  EXPECT_EQ(StateOf(claim), Named("rejected", "Q7.Rembiz.0449"));
  EXPECT_EQ(Loan(loan_a_), "0/0 0/0");

  // Withdrawn, submitted again and approved at both steps: the write-off settles it.
  doc = Call("CAudit", "<req><func name='DelAudit'><in><GUID>" + claim + "</GUID><ts>" + Ts(claim) +
                           "</ts><type>EC03</type></in></func></req>");
  ASSERT_TRUE(NoError(doc)) << doc.Xml();
  EXPECT_EQ(StateOf(claim), Named("draft", "Q7.Rembiz.0446"));
  doc = Call("CExpense", "<req><func name='submitaudit'><in><GUID>" + claim + "</GUID><ts>" +
                             Ts(claim) + "</ts></in></func></req>");
  ASSERT_TRUE(NoError(doc)) << doc.Xml();
  EXPECT_EQ(StateOf(claim), Named("submitted", "Q7.Rembiz.0447"));
  act("demo", "1");
  act("approver", "1");
  EXPECT_EQ(StateOf(claim), Named("settled", "Q7.Rembiz.0453"));
  EXPECT_EQ(StateOf(Scalar("select MGuid from EC_LoanVouch_Sub where GUID = '" + loan_a_ + "'"),
                    "EC_LoanVouch"),
            Named("settled", "Q7.Rembiz.0453"));

  // An approved claim of 1150: written off in part, paid in full, and back when the only
  // payment line goes.
  claim = ClaimOf("BX0010", "1150");
  EXPECT_EQ(StateOf(claim), Named("approved", "Q7.Rembiz.0450"));
  ASSERT_TRUE(NoError(SaveLoans(claim, Row(loan_b_, "-1", "150"))));
  EXPECT_EQ(StateOf(claim), Named("partpaid", "Q7.Rembiz.0451"));
  std::string loan_b = Scalar("select MGuid from EC_LoanVouch_Sub where GUID = '" + loan_b_ + "'");
  EXPECT_EQ(StateOf(loan_b, "EC_LoanVouch"), Named("partpaid", "Q7.Rembiz.0454"));
  ASSERT_TRUE(NoError(SavePayments(claim, Payment("1000"))));
  EXPECT_EQ(StateOf(claim), Named("paid", "Q7.Rembiz.0452"));
  auto settled = [&] {
    return Scalar("select cast(blnSettle as int) from EC_ExpenVouch where GUID = '" + claim + "'");
  };
  EXPECT_EQ(settled(), "1");
  std::string line = Scalar("select GUID from EC_BalanceInfo where ExpenGUID = '" + claim + "'");
  doc = SavePayments(claim, "<row P='3' GUID='" + line + "' ts='" + Ts(line, "EC_BalanceInfo") +
                                "' intIOType='" + Text("Q7.Rembiz.0186") + "'/>");
  ASSERT_TRUE(NoError(doc)) << doc.Xml();
  EXPECT_EQ(StateOf(claim), Named("partpaid", "Q7.Rembiz.0451"));
  EXPECT_EQ(settled(), "0");

  // An English session reads the names in English.
  auto english = SessionFor("demo", "en-US");
  doc = Call("CPubMsg",
             "<req><func name='vchgetexpenheaddata'><in><row AutoID='" +
                 Scalar("select AutoID from EC_ExpenVouch where GUID = '" + claim + "'") +
                 "'/></in></func></req>",
             english.get());
  EXPECT_EQ(doc.SelectSingleNode("//z:row").Attr("strStateName"), "Partly paid");
}

}  // namespace
}  // namespace rembiz::expense
