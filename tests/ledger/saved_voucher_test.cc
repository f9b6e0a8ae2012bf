// A generated voucher saved by the ledger, read back by its code, cancelled and generated
// again; what the ledger, the locks and the sources refuse, and that a refusal changes nothing.
#include <gtest/gtest.h>

#include "db/test_seams.h"
#include "host/bank_link.h"
#include "ledger/c_make_pz.h"
#include "ledger/ledger_fixture.h"

namespace rembiz::ledger {
namespace {

using testing::ExpectGoldenText;

constexpr const char* kLoan = "{2E000001-0000-4000-8000-000000000001}";
constexpr const char* kLoanRow = "{2E000002-0000-4000-8000-000000000002}";
constexpr const char* kClaim = "{2E000010-0000-4000-8000-000000000010}";
constexpr const char* kClaimLine = "{2E000011-0000-4000-8000-000000000011}";

class SavedVoucherTest : public LedgerTest {
 protected:
  // A travel advance of 800 for 0002, written off by a claim of 1000 (hotel 900, supplies 100);
  // the rest, 200, went out by online transfer and the bank confirmed it.
  void SetUp() override {
    LedgerTest::SetUp();
    InsertLoan(kLoan, "JK-S1", "301", "人民币", 1, "0002", "0201", "出差北京");
    InsertLoanRow(kLoanRow, kLoan, "1", 800);
    InsertClaim(kClaim, "ZC-S1", "201", "人民币", 1, 1000, 1000, "0002", "0201", "出差北京");
    InsertClaimRow(kClaim, "20101", 900, 900, 2);
    InsertClaimRow(kClaim, "203", 100, 100);
    InsertWriteOff(kClaim, kLoanRow, 800);
    InsertSettlement(kClaimLine, kClaim, 2, "302", 200, "01");
    Cn().Execute("update EC_BalanceInfo set strPayID = 'NB-S1', blnNetOK = 1 where GUID = '" +
                 std::string(kClaimLine) + "'");
    Cn().Execute(
        "insert into Host_BankBill (cPayID, iID, iAmount_f, bConfirmed) values ('NB-S1', '" +
        std::string(kClaimLine) + "', 200, 1)");
  }

  std::string Sources() { return Source("301", kLoan) + Source("201", kClaim); }

  // Generates and saves the voucher of both sources; its code, or "" when refused.
  std::string Save(xml::Document* answer = nullptr) {
    xml::Document doc = MakePZ(Sources(), " con='1'", true);
    std::string code = doc.SelectSingleNode("//func[@name='makepz']/out/Return").Attr("strpzcode");
    if (answer) *answer = std::move(doc);
    return code;
  }

  xml::Document Cancel(const std::string& code, const std::string& pzguid,
                       const std::string& iflag = "") {
    return Call("CMakePZ", "<req><func name='cancelpz'><in><rows><row pzguid='" + pzguid +
                               "' iflag='" + iflag + "' strpzcode='" + code +
                               "' isignseq='1'/></rows></in></func></req>");
  }

  std::string Link() { return Column("EC_ExpenVouch", "PZGUID", kClaim); }
};

// The advance went out in cash, recorded by the cashier: the bank holds no bill for it, and the
// voucher is saved all the same.
TEST_F(SavedVoucherTest, ALoanPaidOutInCashIsBooked) {
  xml::Document paid =
      Call("CNetPay", "<req><func name='cashpay'><in><row strtypecode='301' guid='" +
                          std::string(kLoanRow) + "'/></in></func></req>");
  ASSERT_EQ(paid.SelectSingleNode("//out").Xml(), "<out/>") << paid.Xml();
  ASSERT_NE(Save(), "");
  EXPECT_NE(Column("EC_LoanVouch", "PZGUID", kLoan), "");
}

TEST_F(SavedVoucherTest, SaveReadBackCancelAndGenerateAgain) {
  Cn().Execute(
      "insert into EC_Webhook (cUrl, cEvents, cSecret) values ('http://127.0.0.1:9/', 'booked', "
      "'k')");
  xml::Document answer;
  std::string code = Save(&answer);
  ASSERT_EQ(code, "记-3-1") << answer.Xml();
  std::string link = Link();
  EXPECT_EQ(link.size(), 29u);
  EXPECT_EQ(answer.SelectSingleNode("//Return").Attr("pzguid"), link);

  // Both sources carry the voucher and its maker; the bank knows the voucher of its payment.
  EXPECT_EQ(Column("EC_LoanVouch", "PZGUID", kLoan), link);
  EXPECT_EQ(Column("EC_LoanVouch", "strMakerID", kLoan), "Demo Admin");
  EXPECT_EQ(Column("EC_ExpenVouch", "strMakerID", kClaim), "Demo Admin");
  EXPECT_EQ(Scalar("select cPZID from Host_BankBill where cPayID = 'NB-S1'"), link);
  // Each source booked is an event for the hooks that want it.
  EXPECT_EQ(Scalar("select count(*) from EC_Outbox where cEvent = 'booked'"), "2");

  // The ledger holds one balanced voucher, its lines numbered, linked to the outside voucher.
  ExpectGoldenText(
      "ledger/golden/saved_voucher.txt",
      Dump("(select iyear - " + Year() +
           " as year_offset, iperiod, csign, isignseq, ino_id, inid, "
           "right(convert(varchar(10), dbill_date, 120), 5) as bill_day, cbill, "
           "cdigest, ccode, md, mc, cdept_id, cperson_id, citem_class, csettle, "
           "coutsysname, coutsign, case when coutid = '" +
           std::string(kLoan) + "' then 1 else 0 end as from_loan, case when coutno_id = '" + link +
           "' then 1 else 0 end as linked, iflag from GL_accvouch) v"));

  // Read back by its code (this class compares the names of its first three operations
  // lower-cased).
  xml::Document read = Call("CMakePZ", "<req><func name='GetPZData'><in><strpzcode>" + code +
                                           "</strpzcode></in></func></req>");
  ExpectGoldenText(
      "ledger/golden/saved_readback.txt",
      LineTable(read, {"ino_id", "csign", "ctext", "ccode", "ccodename", "md", "mc", "cdept_id",
                       "cdept_name", "cperson_id", "cperson_name", "citem_class", "citemclassname",
                       "csettle", "cssname", "cbill", "cdigest"}));

  // Cancelled: the voucher is void, the sources and the bank's record are free again, and the
  // lock is given back.
  xml::Document cancelled = Cancel(code, link);
  EXPECT_EQ(cancelled.SelectSingleNode("//out/Return").IsNull(), false) << cancelled.Xml();
  EXPECT_EQ(Scalar("select count(*) from GL_accvouch where iflag = 1"),
            Scalar("select count(*) from GL_accvouch"));
  EXPECT_EQ(Column("EC_LoanVouch", "PZGUID, strMakerID", kLoan), "|");
  EXPECT_EQ(Column("EC_ExpenVouch", "PZGUID, strMakerID", kClaim), "|");
  EXPECT_EQ(Scalar("select isnull(cPZID, '') from Host_BankBill where cPayID = 'NB-S1'"), "");
  EXPECT_EQ(Scalar("select count(*) from gl_mvocontrol"), "0");

  // A void voucher is not cancelled twice, whether the page says so or not.
  EXPECT_EQ(ErrorText(Cancel(code, link, Text("Q7.Rembiz.Web.0744"))),
            Text("Q7.Rembiz.0299") + " " + Text("Q7.Rembiz.0300"));
  EXPECT_EQ(ErrorText(Cancel(code, link)), Text("Q7.Rembiz.0299") + " " + Text("Q7.Rembiz.0300"));

  // Generated again: the next number of the sign and period, a new link.
  EXPECT_EQ(Save(), "记-3-2");
  EXPECT_NE(Link(), link);
  EXPECT_EQ(Scalar("select count(*) from GL_accvouch where ino_id = 2 and iflag is null"), "5");
}

TEST_F(SavedVoucherTest, ChequesOfTheClaimAreRegisteredAfterTheSave) {
  Cn().Execute(
      "update EC_BalanceInfo set strBalanceID = '2', strBillID = 'ZP300', strPayID = "
      "null, blnNetOK = 0 where GUID = '" +
      std::string(kClaimLine) + "'");
  ASSERT_EQ(Save(), "记-3-1");
  EXPECT_EQ(
      Scalar("select cCode, cn_id, csettle, mc, "
             "right(convert(varchar(10), bill_date, 120), 5), cperson, iState from Host_Cheque"),
      "100201|ZP300|2|200|03-25|李华|1");

  // Generated again after a cancellation: the cheque is already registered for this payment,
  // which the answer says; the voucher is saved all the same.
  xml::Document cancelled = Cancel("记-3-1", Link());
  ASSERT_FALSE(cancelled.SelectSingleNode("//out/Return").IsNull()) << cancelled.Xml();
  xml::Document again;
  EXPECT_EQ(Save(&again), "");
  EXPECT_EQ(again.SelectSingleNode("//out/message/text").Text(), Text("Q7.Rembiz.0041"))
      << again.Xml();
  EXPECT_EQ(Scalar("select count(*) from GL_accvouch where ino_id = 2"), "5");
  EXPECT_EQ(Scalar("select count(*) from Host_Cheque"), "1");
}

// A database failure at any statement of a save or a cancellation leaves the ledger, the
// sources, the bank and the locks as they were.
TEST_F(SavedVoucherTest, AFailureAtAnyStatementWritesNothing) {
  // First the save, then the cancellation of the voucher it saved.
  for (const bool cancel : {false, true}) {
    std::string code = "记-3-1";
    std::string link = Link();
    std::string before = DumpAll();
    std::string sources = Sources();
    bool done = false;
    for (int64_t nth = 1; nth < 400 && !done; ++nth) {
      db::InjectFault(nth, db::DbError(db::kErrStatement, "disk on fire"));
      xml::Document doc = cancel ? Cancel(code, link) : MakePZ(sources, " con='1'", true);
      db::ClearFault();
      // A failure after the commit (registering cheques) only becomes a message.
      done = !doc.SelectSingleNode("//out/Return").IsNull() ||
             !doc.SelectSingleNode("//out/message").IsNull();
      if (!done) {
        ASSERT_EQ(DumpAll(), before) << "statement " << nth << "\n" << doc.Xml();
      }
    }
    EXPECT_TRUE(done);
    EXPECT_EQ(Scalar("select count(*) from GL_accvouch where iflag is null"), cancel ? "0" : "5");
  }
}

TEST_F(SavedVoucherTest, WithoutMergingOnlyTheFirstDailySourceIsLinked) {
  xml::Document doc = MakePZ(Sources(), "", true);
  ASSERT_FALSE(doc.SelectSingleNode("//out/Return").IsNull()) << doc.Xml();
  EXPECT_EQ(Column("EC_LoanVouch", "PZGUID", kLoan).size(), 29u);
  EXPECT_EQ(Column("EC_ExpenVouch", "isnull(PZGUID, '')", kClaim), "");
}

TEST_F(SavedVoucherTest, TheOutsideVoucherLockIsHeldOnceUntilReleased) {
  CMakePZ pz;
  std::string system = "EC";
  std::string error;
  EXPECT_TRUE(pz.LockPZ(Session(), Cn(), system, "记", "LINK-1", error));
  EXPECT_EQ(Scalar("select cauth, cuser from gl_mvocontrol"), "作废凭证|Demo Admin");
  EXPECT_THROW(pz.LockPZ(Session(), Cn(), system, "记", "LINK-1", error), ComError);
  EXPECT_EQ(error, Text("Q7.Rembiz.0025"));
  EXPECT_TRUE(pz.LockPZ(Session(), Cn(), system, "付", "LINK-1", error));  // another voucher
  EXPECT_TRUE(pz.UnLockPZ(Cn(), system, "记", "LINK-1"));
  EXPECT_TRUE(pz.LockPZ(Session(), Cn(), system, "记", "LINK-1", error));
  EXPECT_EQ(Scalar("select count(*) from gl_mvocontrol"), "2");
}

TEST_F(SavedVoucherTest, ARecordedVoucherCannotBeGeneratedTwice) {
  ASSERT_EQ(Save(), "记-3-1");
  xml::Document doc = MakePZ(Sources(), " con='1'", true);
  EXPECT_EQ(ErrorText(doc), Text("Q7.Rembiz.0334", "JK-S1"));
}

TEST_F(SavedVoucherTest, TheLedgerRefusesAndNothingIsWritten) {
  std::string before = DumpAll();
  auto refused = [&](const std::string& text) {
    xml::Document doc = MakePZ(Sources(), " con='1'", true);
    EXPECT_EQ(doc.SelectSingleNode("//out/error/id").Text(), "Rembiz:CMakePZ:ConvertPZ:9000")
        << doc.Xml();
    EXPECT_EQ(ErrorText(doc), text);
    EXPECT_EQ(DumpAll(), before);
  };
  // A closed period.
  Cn().Execute("update gl_mend set bflag = 1 where iperiod <= 3");
  refused(Text("Rembiz.Host.LedgerClosed", "3"));
  Cn().Execute("update gl_mend set bflag = 0");

  // An item without an account setting stays without account; the ledger will not take it.
  Cn().Execute("delete from EC_PzSet_IO where strOperatType = '201'");
  refused(Text("Rembiz.Host.LedgerNoAccount", "3"));
}

TEST_F(SavedVoucherTest, AStaleSourceIsNotLinkedAndTheVoucherIsNotKept) {
  std::string sources = Sources();
  Cn().Execute("update EC_ExpenVouch set strUsed = strUsed where GUID = '" + std::string(kClaim) +
               "'");  // someone changed the claim after the page read it
  std::string before = DumpAll();
  xml::Document doc =
      Call("CMakePZ", "<req><func name='makepz'><in con='1'><pztype>记</pztype><pzdate>" +
                          Day("03-25") + "</pzdate><blnTemp>0</blnTemp><rows>" + sources +
                          "</rows></in><daily>" + sources + "</daily></func></req>");
  EXPECT_EQ(ErrorText(doc), Text("Q7.Rembiz.0167"));
  EXPECT_EQ(DumpAll(), before);
}

TEST_F(SavedVoucherTest, AnUnconfirmedClaimSaysTheCashierMustConfirmIt) {
  // The claim as the page read it, but nobody confirmed its settlement.
  Cn().Execute("update EC_ExpenVouch set strVerifier = null where GUID = '" + std::string(kClaim) +
               "'");
  std::string sources = Sources();
  std::string before = DumpAll();
  xml::Document doc =
      Call("CMakePZ", "<req><func name='makepz'><in con='1'><pztype>记</pztype><pzdate>" +
                          Day("03-25") + "</pzdate><blnTemp>0</blnTemp><rows>" + sources +
                          "</rows></in><daily>" + sources + "</daily></func></req>");
  EXPECT_EQ(ErrorText(doc), Text("Rembiz.Ledger.NotConfirmed",
                                 Scalar("select strVouchID from EC_ExpenVouch where GUID = '" +
                                        std::string(kClaim) + "'")));
  EXPECT_EQ(DumpAll(), before);
}

TEST_F(SavedVoucherTest, CancellationRefusalsLeaveTheVoucherAsItWas) {
  std::string code = Save();
  ASSERT_EQ(code, "记-3-1");
  std::string link = Link();
  auto refused = [&](const std::string& key) {
    std::string before = DumpAll();
    xml::Document doc = Cancel(code, link);
    EXPECT_EQ(doc.SelectSingleNode("//out/error/id").Text(), "Rembiz:CMakePZ:CancelPZ:9000")
        << doc.Xml();
    EXPECT_EQ(ErrorText(doc), Text("Q7.Rembiz.0299") + " " + Text(key));
    EXPECT_EQ(DumpAll(), before);
  };
  // Marked in the ledger.
  Cn().Execute("insert into GL_LTDATA1 (iperiod, isignseq, ino_id) values (3, 1, 1)");
  refused("Q7.Rembiz.0303");
  Cn().Execute("delete from GL_LTDATA1");
  // Over budget in the ledger.
  Cn().Execute("update GL_accvouch set iBG_overflag = 2 where inid = 1");
  refused("Q7.Rembiz.0304");
  Cn().Execute("update GL_accvouch set iBG_overflag = null");
  // Signed by the cashier.
  Cn().Execute("update GL_accvouch set ccashier = 'Cash Ier'");
  refused("Q7.Rembiz.0305");
  Cn().Execute("update GL_accvouch set ccashier = null");
  // A ledger function at work on the account.
  Cn().Execute(
      "insert into qdsystem.UA_Task (cAcc_Id, iYear, cSub_Id, cAuth_Id, cUser_Id) values "
      "('001', " +
      Year() + ", 'GL', 'GL0203', 'approver')");
  refused("Q7.Rembiz.0307");
  Cn().Execute("delete from qdsystem.UA_Task where cAuth_Id = 'GL0203'");
  // A tax number.
  Cn().Execute("update GL_accvouch set ssxznum = 'T-1'");
  refused("Q7.Rembiz.0311");
  Cn().Execute("update GL_accvouch set ssxznum = null");
  // Another operator holds the ledger's lock on the voucher; it stays theirs.
  Cn().Execute(
      "insert into gl_mvocontrol (coutsysname, coutsign, coutno_id, cauth, cuser) "
      "values ('EC', '记', '" +
      link + "', '作废凭证', 'Anna Approver')");
  refused("Q7.Rembiz.0025");
  EXPECT_EQ(Scalar("select cuser from gl_mvocontrol"), "Anna Approver");
  Cn().Execute("delete from gl_mvocontrol");

  // With everything cleared the cancellation goes through.
  xml::Document doc = Cancel(code, link);
  EXPECT_FALSE(doc.SelectSingleNode("//out/Return").IsNull()) << doc.Xml();
}

TEST_F(SavedVoucherTest, EditedLinesAreCheckedAndReplaceTheStagedOnes) {
  std::string lines;
  auto save_temp = [&](const std::string& date, const std::string& edited) {
    return Call("CMakePZ", "<req><func name='makepz'><in con='1'><pztype>记</pztype><pzdate>" +
                               Day("03-25") + "</pzdate><blnTemp>1</blnTemp><rows>" + Sources() +
                               "</rows></in></func><func name='SaveTempPZData'><in dbill_date='" +
                               date + "'><Rows>" + edited + "</Rows></in></func>" +
                               StagedLinesFunc() + "</req>");
  };
  xml::Document staged = MakePZ(Sources(), " con='1'", false, StagedLinesFunc());
  // The page moves 100 of the travel expenses to office supplies and sends all lines back.
  std::string edited, extra;
  for (xml::Node row : staged.SelectNodes("//func[@name='getpzdata']/out/Rows/row")) {
    lines += row.Xml();
    if (row.Attr("ccode") == "660202") {
      row.SetAttr("md", "900");
      edited += row.Xml();
      row.SetAttr("md", "100");
      row.SetAttr("ccode", "660201");
      extra = row.Xml();
    } else {
      edited += row.Xml();
    }
  }
  ASSERT_FALSE(extra.empty()) << staged.Xml();
  xml::Document doc = save_temp(Day("03-26"), edited + extra);
  EXPECT_TRUE(doc.SelectSingleNode("/error").IsNull()) << doc.Xml();
  std::string table = LineTable(doc, {"ccode", "md", "mc", "dbill_date"});
  EXPECT_NE(table.find("660201|100|0|" + Day("03-26")), std::string::npos) << table;
  EXPECT_NE(table.find("total|md=1800.00|mc=1800.00"), std::string::npos) << table;

  // Without a date of its own the edit takes the voucher date the request gave "makepz".
  doc = Call("CMakePZ", "<req><func name='makepz'><in con='1'><pztype>记</pztype><pzdate>" +
                            Day("03-25") + "</pzdate><blnTemp>1</blnTemp><rows>" + Sources() +
                            "</rows></in></func><func name='SaveTempPZData'><Rows>" + edited +
                            "</Rows></func>" + StagedLinesFunc() + "</req>");
  table = LineTable(doc, {"ccode", "md", "mc", "dbill_date"});
  EXPECT_NE(table.find("660202|900|0|" + Day("03-25")), std::string::npos) << table;

  // A number keeps its value however many digits it has before the point.
  std::string huge_rate = extra;
  huge_rate.replace(huge_rate.find("nfrat=\"1\""), 9, "nfrat=\"1e300\"");
  doc = save_temp(Day("03-26"), edited + huge_rate);
  EXPECT_EQ(doc.SelectSingleNode("//func[@name='getpzdata']//row[@ccode='660201']").Attr("nfrat"),
            "1e+300");

  // Checks, each refusing the whole edit.
  std::string before = DumpAll();
  auto refused = [&](const std::string& date, const std::string& rows, const std::string& key) {
    xml::Document answer = save_temp(date, rows);
    EXPECT_EQ(answer.SelectSingleNode("/error/text").Text(), Text(key)) << answer.Xml();
    EXPECT_EQ(DumpAll(), before);
  };
  refused("not a date", lines, "Q7.Rembiz.0314");
  Cn().Execute("update AccInformation set cValue = '" + Year() +
               "-03-01' where cName = 'dECPeriodDate'");
  refused(Day("02-10"), lines, "Q7.Rembiz.0317");  // before the module's start
  Cn().Execute("update AccInformation set cValue = '" + Year() +
               "-01-01' where cName = 'dECPeriodDate'");
  refused(std::to_string(std::stoi(Year()) + 1) + "-01-05", lines, "Q7.Rembiz.0319");
  Cn().Execute("update gl_mend set bflag = 1 where iperiod <= 3");
  refused(Day("03-26"), lines, "Q7.Rembiz.0318");
  Cn().Execute("update gl_mend set bflag = 0");
  std::string summary_account = extra;
  summary_account.replace(summary_account.find("ccode=\"660201\""), 14, "ccode=\"6602\"");
  refused(Day("03-26"), lines + summary_account, "Q7.Rembiz.0321");
}

}  // namespace
}  // namespace rembiz::ledger
