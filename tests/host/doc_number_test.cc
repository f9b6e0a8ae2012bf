#include "host/doc_number.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <thread>
#include <vector>

#include "db/transaction.h"
#include "host/errors.h"
#include "support/demo_fixture.h"
#include "xml/document.h"

namespace rembiz::host {
namespace {

// The demo's loan format: "JK", the voucher month as yyyyMM (the serial runs per month) and a
// four-digit serial.
class DocNumberTest : public testing::DemoTest {
 protected:
  std::unique_ptr<DocNumber> Numbers(const std::string& bill_type, db::Connection& cn) {
    auto numbers = CreateDocNumber();
    EXPECT_TRUE(numbers->InitBill(cn, bill_type)) << bill_type;
    return numbers;
  }
  // The format with the seeds of its prefix parts set in order, as a page fills them in.
  static std::string Seeded(const std::string& format, const std::vector<std::string>& seeds) {
    xml::Document doc;
    EXPECT_TRUE(doc.LoadXml(format));
    size_t i = 0;
    for (xml::Node part : doc.DocumentElement().Children("前缀")) {
      if (i < seeds.size()) part.SetAttr("种子", seeds[i++]);
    }
    return doc.Xml();
  }
  std::string Take(DocNumber& numbers, const std::vector<std::string>& seeds) {
    return numbers.GetNumber(Seeded(numbers.GetBillFormat(), seeds), true);
  }
  std::string Peek(DocNumber& numbers, const std::vector<std::string>& seeds) {
    return numbers.GetNumber(Seeded(numbers.GetBillFormat(), seeds), false);
  }
  // A format of our own: `parts` are (source field, format, length, constant, serial basis).
  void MakeFormat(const std::string& type, int width, int start, bool manual, bool retry,
                  const std::vector<std::string>& parts) {
    Cn().Execute(
        "insert into Host_BillFormat (cBillType, cBillName, iSerialLength, iSerialStart, "
        "bManual, bRetry) values ('" +
        type + "', N'测试单', " + std::to_string(width) + ", " + std::to_string(start) + ", " +
        (manual ? "1" : "0") + ", " + (retry ? "1" : "0") + ")");
    int order = 0;
    for (const std::string& values : parts) {
      Cn().Execute(
          "insert into Host_BillPrefix (cBillType, iOrder, cObjectName, cSourceField, cFormat, "
          "iLength, cConstant, bSerialBasis) values ('" +
          type + "', " + std::to_string(++order) + ", N'部分', " + values + ")");
    }
  }
};

TEST_F(DocNumberTest, TheFormatTravelsAsXmlAndNumbersRunPerMonth) {
  auto numbers = Numbers("EC01", Cn());
  EXPECT_EQ(numbers->GetBillFormat(),
            "<单据编号 单据类型='EC01' 单据名称='借款单' 流水号长度='4' 流水号起始值='1' "
            "允许手工修改='false' 重号自动重取='true'>"
            "<前缀 序号='1' 对象名称='常量' 源表字段名='' 格式='' 长度='2' 常量值='JK' "
            "流水依据='false' 种子=''/>"
            "<前缀 序号='2' 对象名称='单据日期' 源表字段名='dtLoanDate' 格式='yyyyMM' 长度='6' "
            "常量值='' 流水依据='true' 种子=''/></单据编号>");

  // A preview does not use the number up; a take does, and the next preview moves on.
  EXPECT_EQ(Peek(*numbers, {"", "2004-03-05"}), "JK2004030001");
  EXPECT_EQ(Peek(*numbers, {"", "2004-03-05"}), "JK2004030001");
  EXPECT_EQ(Take(*numbers, {"", "2004-03-05"}), "JK2004030001");
  EXPECT_EQ(Take(*numbers, {"", "2004-03-31T10:00:00"}), "JK2004030002");
  EXPECT_EQ(Peek(*numbers, {"", "2004-03-01"}), "JK2004030003");
  // Another month starts its own serial; the constant part is no seed of it.
  EXPECT_EQ(Take(*numbers, {"XX", "2004-04-01"}), "JK2004040001");
  EXPECT_EQ(Lines("select cSeed, iLastNo from Host_BillSerial where cBillType = 'EC01' order by "
                  "cSeed"),
            "200403|2\n200404|1");

  // A voucher without a date is numbered as of today; a date that is none is refused.
  std::string month = Scalar("select convert(varchar(7), getdate(), 120)");
  month.erase(4, 1);
  EXPECT_EQ(Peek(*numbers, {"", ""}), "JK" + month + "0001");
  EXPECT_THROW(Peek(*numbers, {"", "2004-02-30"}), ComError);
  EXPECT_THROW(Peek(*numbers, {"", "next week"}), ComError);
  EXPECT_THROW(numbers->GetNumber("<单据编号", true), ComError);
  EXPECT_THROW(numbers->GetNumber("<other/>", true), ComError);

  EXPECT_FALSE(CreateDocNumber()->InitBill(Cn(), "EC99"));
  EXPECT_THROW(CreateDocNumber()->GetBillFormat(), ComError);
  EXPECT_FALSE(CreateDocNumber()->InitBill(Cn(), "EC01' or '1'='1"));
}

TEST_F(DocNumberTest, PartsAreCutToTheirLengthAndTheSerialKeepsItsWidthAndStart) {
  // A constant cut to two characters (not bytes), a department code cut to three that is no
  // seed, the date as yy-MM that is one, and a six-digit serial from 100.
  MakeFormat("T1", 6, 100, false, false,
             {"null, null, 2, N'借款单据', 0", "'strDepartID', null, 3, null, 0",
              "'dtLoanDate', 'yy-MM', null, null, 1"});
  auto numbers = Numbers("T1", Cn());
  EXPECT_EQ(Take(*numbers, {"", "020101", "2004-03-05"}),
            "借款020"
            "04-03"
            "000100");
  EXPECT_EQ(Take(*numbers, {"", "9", "2004-03-06"}),
            "借款9"
            "04-03"
            "000101");
  EXPECT_EQ(Take(*numbers, {"", "9", "2005-03-06"}),
            "借款9"
            "05-03"
            "000100");

  // A serial wider than its width is written whole; a start raised later is honoured.
  Cn().Execute(
      "update Host_BillSerial set iLastNo = 999999 where cBillType = 'T1' and cSeed = "
      "'04-03'");
  EXPECT_EQ(Take(*numbers, {"", "", "2004-03-05"}),
            "借款"
            "04-03"
            "1000000");
  Cn().Execute("update Host_BillFormat set iSerialStart = 5000000 where cBillType = 'T1'");
  numbers = Numbers("T1", Cn());
  EXPECT_EQ(Peek(*numbers, {"", "", "2004-03-05"}),
            "借款"
            "04-03"
            "5000000");
  EXPECT_EQ(Take(*numbers, {"", "", "2004-03-05"}),
            "借款"
            "04-03"
            "5000000");
  EXPECT_EQ(Take(*numbers, {"", "", "2004-03-05"}),
            "借款"
            "04-03"
            "5000001");

  // Seeds are data: a quote in one is stored as written.
  MakeFormat("T2", 2, 1, false, false, {"'strUsed', null, 10, null, 1"});
  numbers = Numbers("T2", Cn());
  EXPECT_EQ(Take(*numbers, {"a'b"}), "a'b01");
  EXPECT_EQ(Take(*numbers, {"a'b"}), "a'b02");
  EXPECT_EQ(Scalar("select iLastNo from Host_BillSerial where cSeed = 'a''b'"), "2");
}

TEST_F(DocNumberTest, HandTypedNumbersAndNumbersInUse) {
  // Numbers typed by hand: none is handed out, whether the format or the caller says so.
  MakeFormat("T3", 3, 1, true, true, {"null, null, 1, N'M', 0"});
  auto manual = Numbers("T3", Cn());
  EXPECT_NE(manual->GetBillFormat().find("允许手工修改='true'"), std::string::npos);
  EXPECT_EQ(Take(*manual, {}), "");
  auto loans = Numbers("EC01", Cn());
  std::string format = Seeded(loans->GetBillFormat(), {"", "2004-05-05"});
  xml::Document typed;
  ASSERT_TRUE(typed.LoadXml(format));
  typed.DocumentElement().SetAttr("允许手工修改", "true");
  EXPECT_EQ(loans->GetNumber(typed.Xml(), true), "");
  EXPECT_EQ(Scalar("select count(*) from Host_BillSerial where cSeed in ('', '200405')"), "0");

  // Numbers already on a voucher are skipped, by a preview and by a take.
  for (const char* used : {"JK2004050001", "JK2004050002", "JK2004050004"}) {
    Cn().Execute(
        "insert into EC_LoanVouch (strTypeCode, strVouchID, dtLoanDate, strPersonID) values "
        "('301', '" +
        std::string(used) + "', '2004-05-05', 'Demo Admin')");
  }
  EXPECT_EQ(loans->GetNumber(format, false), "JK2004050003");
  EXPECT_EQ(loans->GetNumber(format, true), "JK2004050003");
  EXPECT_EQ(loans->GetNumber(format, true), "JK2004050005");
  // Without retrying the next serial is handed out even when a voucher has it.
  Cn().Execute("update Host_BillFormat set bRetry = 0 where cBillType = 'EC01'");
  loans = Numbers("EC01", Cn());
  Cn().Execute("update Host_BillSerial set iLastNo = 0 where cSeed = '200405'");
  EXPECT_EQ(loans->GetNumber(format, true), "JK2004050001");
}

TEST_F(DocNumberTest, ATakeInsideTheCallersTransactionGoesWithIt) {
  auto numbers = Numbers("EC01", Cn());
  {
    db::Transaction transaction(Cn());
    EXPECT_EQ(Take(*numbers, {"", "2004-06-01"}), "JK2004060001");
    EXPECT_EQ(Take(*numbers, {"", "2004-06-01"}), "JK2004060002");
  }  // rolled back
  EXPECT_EQ(Scalar("select count(*) from Host_BillSerial where cSeed = '200406'"), "0");
  {
    db::Transaction transaction(Cn());
    EXPECT_EQ(Take(*numbers, {"", "2004-06-01"}), "JK2004060001");
    transaction.Commit();
  }
  EXPECT_EQ(Take(*numbers, {"", "2004-06-01"}), "JK2004060002");
}

// Takers on connections of their own, all starting the same new seed at once, never get one
// number twice and leave no serial unused.
TEST_F(DocNumberTest, ConcurrentTakersNeverShareANumber) {
  constexpr int kTakers = 4;
  constexpr int kEach = 12;
  const std::string connection = Session().ConnectionString();
  std::vector<std::vector<std::string>> taken(kTakers);
  std::vector<std::string> failures(kTakers);
  std::vector<std::thread> threads;
  for (int t = 0; t < kTakers; ++t) {
    threads.emplace_back([&, t] {
      try {
        db::Connection cn;
        cn.Open(connection);
        auto numbers = CreateDocNumber();
        numbers->InitBill(cn, "EC01");
        const std::string format = Seeded(numbers->GetBillFormat(), {"", "2004-07-07"});
        for (int i = 0; i < kEach; ++i) taken[t].push_back(numbers->GetNumber(format, true));
      } catch (const ComError& e) {
        failures[t] = e.Description();
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  std::set<std::string> all;
  for (int t = 0; t < kTakers; ++t) {
    EXPECT_EQ(failures[t], "");
    // Each taker's numbers grow.
    EXPECT_TRUE(std::is_sorted(taken[t].begin(), taken[t].end()));
    all.insert(taken[t].begin(), taken[t].end());
  }
  EXPECT_EQ(all.size(), static_cast<size_t>(kTakers * kEach));
  EXPECT_EQ(*all.begin(), "JK2004070001");
  EXPECT_EQ(*all.rbegin(), "JK2004070048");
  EXPECT_EQ(Scalar("select iLastNo from Host_BillSerial where cSeed = '200407'"), "48");
}

}  // namespace
}  // namespace rembiz::host
