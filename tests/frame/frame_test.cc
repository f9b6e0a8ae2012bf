#include "frame/frame.h"

#include <gtest/gtest.h>

#include "db/test_seams.h"
#include "frame/registry.h"
#include "host/messages.h"
#include "support/demo_fixture.h"

namespace rembiz::frame {
namespace {

// A class made for these tests: a few operations that write, read and fail in known ways.
class CFrameProbe : public FramedClass {
 public:
  explicit CFrameProbe(const FrameVariant& variant) : variant_(variant) {}

  bool Write(host::Session&, db::Connection& cn, xml::Node& func, xml::Document& answer) {
    if (cn.InTransaction()) ++writes_in_transaction;
    cn.Execute("insert into Probe (v) values (N'" + func.Attr("v") + "')");
    return answer.LoadXml("<written/>");
  }
  bool Read(host::Session&, db::Connection& cn, xml::Node&, xml::Document& answer) {
    saw_transaction = cn.InTransaction();
    return answer.LoadXml("<count n='" +
                          cn.Execute("select count(*) from Probe").Value(0).ToText() + "'/>");
  }
  bool Fail(host::Session&, db::Connection&, xml::Node&, xml::Document&) { return false; }
  // Writes, then fails: what it wrote must not outlive it.
  bool WriteFail(host::Session& session, db::Connection& cn, xml::Node& func,
                 xml::Document& answer) {
    Write(session, cn, func, answer);
    answer.Clear();
    return false;
  }
  bool FailOwn(host::Session&, db::Connection&, xml::Node&, xml::Document&) {
    throw ComError(9000, "own <text>", "Rembiz");
  }

  static inline int writes_in_transaction = 0;
  static inline bool saw_transaction = false;

 protected:
  const FrameVariant& Variant() const override { return variant_; }
  std::span<const OperationEntry> Operations() const override { return kOperations; }

 private:
  static constexpr OperationEntry kOperations[] = {
      Op<&CFrameProbe::Write>("write", kCheckHostLock | kOpensTransaction),
      Op<&CFrameProbe::Read>("read"),
      Op<&CFrameProbe::Fail>("fail"),
      Op<&CFrameProbe::WriteFail>("writefail", kOpensTransaction),
      OwnErrors(Op<&CFrameProbe::FailOwn>("failown"), "FailOwn"),
  };
  const FrameVariant& variant_;
};

constexpr FrameVariant kLazy{"CFrameProbe",       "EC020101",           EntryTask::kBeforeConnect,
                             Transactions::kLazy, ErrorForm::kStandard, true};
constexpr FrameVariant kWhole{
    "CFrameProbe",        "EC0102", EntryTask::kAfterConnect, Transactions::kWholeRequest,
    ErrorForm::kStandard, false};
constexpr FrameVariant kPubMsgLike{"CPubMsg",          "",   EntryTask::kNone, Transactions::kNone,
                                   ErrorForm::kPubMsg, false};

class FrameTest : public testing::DemoTest {
 protected:
  void SetUp() override {
    DemoTest::SetUp();
    Cn().Execute("CREATE TABLE Probe (v varchar(20))");
    CFrameProbe::writes_in_transaction = 0;
  }

  xml::Document Run(const FrameVariant& variant, std::string_view request,
                    host::Session* session = nullptr) {
    xml::Document doc;
    EXPECT_TRUE(doc.LoadXml(request));
    CFrameProbe probe(variant);
    probe.myHandle(session ? session : &Session(), doc);
    return doc;
  }

  std::string Probe() { return Dump("Probe"); }
};

TEST_F(FrameTest, AFailureStopsTheRequestAndRollsBackUnlessGoonIsSet) {
  xml::Document doc = Run(kLazy,
                          "<req><func name='write' v='a'/><func name='fail'/>"
                          "<func name='write' v='b'/></req>");
  std::string fallback = doc.SelectSingleNode("//func[2]/out/err/id").Text();
  EXPECT_EQ(fallback, "morel:vendor:fail");
  EXPECT_EQ(doc.SelectSingleNode("//func[2]/out/err/msg").Text(),
            host::MessageText("Q7.Rembiz.0002"));
  EXPECT_TRUE(doc.SelectSingleNode("//func[3]/out/*").IsNull());
  EXPECT_EQ(Probe(), "");

  doc = Run(kWhole,
            "<req><func name='write' v='a'/><func name='fail' goon='1'/>"
            "<func name='write' v='b'/></req>");
  EXPECT_FALSE(doc.SelectSingleNode("//func[3]/out/written").IsNull());
  EXPECT_EQ(Probe(), "a|\nb|\n");
}

TEST_F(FrameTest, AFailedOperationLeavesNothingBehindEvenWithGoon) {
  for (const FrameVariant* variant : {&kLazy, &kWhole}) {
    Cn().Execute("delete from Probe");
    xml::Document doc = Run(*variant,
                            "<req><func name='write' v='a'/><func name='writefail' v='b' "
                            "goon='1'/><func name='write' v='c'/></req>");
    EXPECT_EQ(doc.SelectSingleNode("//func[2]/out/err/id").Text(), "morel:vendor:writefail");
    EXPECT_EQ(Probe(), "a|\nc|\n") << variant->class_name;
  }
  // The first operation of a lazy request is the one that fails.
  Cn().Execute("delete from Probe");
  Run(kLazy, "<req><func name='writefail' v='b' goon='1'/><func name='write' v='c'/></req>");
  EXPECT_EQ(Probe(), "c|\n");
}

TEST_F(FrameTest, NamesMatchExactlyAndAnswersGoUnderTheExistingOut) {
  xml::Document doc = Run(kLazy,
                          "<req><func name='Write' v='x'/><func name='read'><out keep='1'/></func>"
                          "<func name='failown' goon='1'/></req>");
  EXPECT_EQ(Probe(), "");
  EXPECT_FALSE(doc.SelectSingleNode("//func[1]/out").IsNull());
  EXPECT_TRUE(doc.SelectSingleNode("//func[1]/out/*").IsNull());
  EXPECT_EQ(doc.SelectNodes("//func[2]/out").size(), 1u);
  EXPECT_EQ(doc.SelectSingleNode("//func[2]/out[@keep='1']/count").Attr("n"), "0");
  EXPECT_EQ(doc.SelectSingleNode("//func[3]/out/error/id").Text(),
            "Rembiz:CFrameProbe:FailOwn:9000");
  EXPECT_EQ(doc.SelectSingleNode("//func[3]/out/error/text").Text(), "own <text>");
}

TEST_F(FrameTest, LazyTransactionOpensOnlyForWritesAndIsShared) {
  // Another connection holds the write lock: a read-only request must not need it.
  db::Connection other;
  other.Open(Session().ConnectionString());
  other.BeginTrans();
  xml::Document doc = Run(kLazy, "<req><func name='read'/></req>");
  EXPECT_EQ(doc.SelectSingleNode("//count").Attr("n"), "0");
  EXPECT_FALSE(CFrameProbe::saw_transaction);
  other.RollbackTrans();

  doc = Run(kLazy, "<req><func name='write' v='a'/><func name='write' v='b'/></req>");
  EXPECT_EQ(CFrameProbe::writes_in_transaction, 2);
  EXPECT_EQ(Probe(), "a|\nb|\n");
}

TEST_F(FrameTest, DatabaseTimeoutBecomesTheBusyErrorDocument) {
  db::InjectFault(1, db::DbError(db::kErrTimeout, "Timeout expired"));
  xml::Document doc = Run(kLazy, "<req><func name='write' v='a'/></req>");
  db::ClearFault();
  EXPECT_EQ(doc.DocumentElement().Name(), "error");
  EXPECT_EQ(doc.SelectSingleNode("/error/id").Text(), "Rembiz:CFrameProbe:myHandle:-2147217871");
  EXPECT_EQ(doc.SelectSingleNode("/error/text").Text(), host::MessageText("Q7.Rembiz.0159"));
  EXPECT_EQ(Probe(), "");

  // Other classes keep the database's own text, but for a database out of reach, whose text
  // names servers and files.
  db::InjectFault(1, db::DbError(db::kErrTimeout, "Timeout expired"));
  doc = Run(kWhole, "<req><func name='write' v='a'/></req>");
  db::ClearFault();
  EXPECT_EQ(doc.SelectSingleNode("/error/text").Text(), "Timeout expired");
  db::InjectFault(1, db::DbError(db::kErrConnection,
                                 "connection to server at \"db.internal\" failed: refused"));
  doc = Run(kWhole, "<req><func name='write' v='a'/></req>");
  db::ClearFault();
  EXPECT_EQ(doc.SelectSingleNode("/error/text").Text(),
            host::MessageText("Rembiz.Host.DatabaseUnreachable"));
}

TEST_F(FrameTest, RefusedEntryTaskAndWriteLockWriteNothing) {
  auto clerk = SessionFor("clerk");
  xml::Document doc = Run(kWhole, "<req><func name='write' v='a'/></req>", clerk.get());
  EXPECT_EQ(doc.SelectSingleNode("/error/id").Text(), "Rembiz:MSG:ApplyTask:9000");
  EXPECT_EQ(Probe(), "");

  Cn().Execute("delete from qdsystem..UA_LockState");
  Cn().Execute(
      "insert into qdsystem..UA_LockState (cAcc_Id, iYear, cSub_Id, iCode, bFlag) values ('001', " +
      Session().FiscalYear() + ", 'EC', 204, 1)");
  doc = Run(kLazy, "<req><func name='read'/><func name='write' v='a'/></req>");
  EXPECT_EQ(doc.SelectSingleNode("/error/text").Text(), host::MessageText("Q7.Rembiz.0039"));
  EXPECT_EQ(Probe(), "");
}

TEST_F(FrameTest, MissingSessionAndPublicServiceErrorForms) {
  xml::Document doc;
  ASSERT_TRUE(doc.LoadXml("<req><func name='read'/></req>"));
  CFrameProbe probe(kLazy);
  probe.myHandle(nullptr, doc);
  EXPECT_EQ(doc.SelectSingleNode("/error/text").Text(), host::MessageText("Q7.Rembiz.0001"));

  doc = Run(kPubMsgLike, "<req><func name='fail'/></req>");
  EXPECT_EQ(doc.SelectSingleNode("//out/error/id").Text(), "Rembiz:CPubMsg:pubHandle:fail");
}

TEST(RegistryTest, EveryClassIsRegisteredAndUnknownOnesAreRefused) {
  for (const char* name :
       {"COperation", "CStand", "CPzSet", "CDistrict", "CPubMsg", "CNetPay", "CBudCtrl", "CChoice",
        "CQuery", "CLoan", "CAudit", "CExpense", "CMakePZ", "CPerson", "CRPItem", "CReport",
        "CReportJKTJ", "CReportSZTJ"}) {
    EXPECT_TRUE(IsRegistered(std::string("Rembiz.") + name)) << name;
  }
  EXPECT_THROW(CreateObject("Rembiz.CNoSuch"), ComError);
}

}  // namespace
}  // namespace rembiz::frame
