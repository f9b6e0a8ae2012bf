// CQuery's lists on the catalog of report_fixture.h: columns and keys of the five lists (golden
// file), the paging rules, the user's filter, voucher kinds, data permissions, the approval
// filter and each list's failure message.
#include <algorithm>
#include <memory>

#include "host/approval_flow.h"
#include "reports/report_fixture.h"

namespace rembiz::reports {
namespace {

using ListTest = ReportTest;

std::vector<std::string> Numbers(const xml::Document& doc) {
  return ReportTest::Column(doc, "strvouchid");
}
using Strings = std::vector<std::string>;

TEST_F(ListTest, EachListAnswersItsColumnsAndKeys) {
  AddCatalog();
  xml::Document doc = Call("CQuery",
                           "<req><func name='listloandata'><in/></func>"
                           "<func name='listrepaydata'><in/></func>"
                           "<func name='listpzdata'><in/></func>"
                           "<func name='listnetpaydata'><in/></func>"
                           "<func name='listmakepzdata'><in/></func></req>");
  ASSERT_TRUE(doc.SelectSingleNode("/error").IsNull()) << doc.Xml();
  testing::ExpectGoldenText("reports/golden/lists.xml", Golden(doc.DocumentElement()));
}

TEST_F(ListTest, PagesAreClampedAndCoverEveryKeyOnce) {
  for (int i = 1; i <= 25; ++i) {
    Voucher v =
        MakeVoucher("", "JK" + std::to_string(1000 + i), "301", "03-01", "0201", "0002", 100.0 + i);
    Add(v);
  }
  // Page 5 of 3 pages answers the last page.
  xml::Document doc = Call("CQuery", ListRequest("listloandata", "", 5, 10));
  EXPECT_EQ(doc.SelectSingleNode("//out//page/count").Text(), "3");
  EXPECT_EQ(doc.SelectSingleNode("//out//page/current").Text(), "2");
  EXPECT_EQ(doc.SelectSingleNode("//out//page/rows").Text(), "10");
  EXPECT_EQ(Numbers(doc), (Strings{"JK1021", "JK1022", "JK1023", "JK1024", "JK1025"}));
  doc = Call("CQuery", ListRequest("listloandata", "", -4, 10));
  EXPECT_EQ(doc.SelectSingleNode("//out//page/current").Text(), "0");
  EXPECT_EQ(Numbers(doc).size(), 10u);

  Strings all;
  for (int page = 0; page < 4; ++page) {
    for (const std::string& id :
         Column(Call("CQuery", ListRequest("listloandata", "", page, 7)), "autoid")) {
      all.push_back(id);
    }
  }
  Strings expected;
  for (int i = 1; i <= 25; ++i) expected.push_back(std::to_string(i));
  EXPECT_EQ(all, expected);

  // Page numbers go into SQL: anything but a whole number is refused.
  for (const char* page : {"<current>1;delete</current>", "<current>1.5</current>",
                           "<rows>0</rows>", "<rows>x</rows>"}) {
    doc = Call("CQuery", std::string("<req><func name='listloandata'><in><page>") + page +
                             "</page></in></func></req>");
    EXPECT_NE(ErrorText(doc).find("请求无效："), std::string::npos) << page << doc.Xml();
  }
  EXPECT_EQ(Scalar("select count(*) from EC_LoanVouch"), "25");
}

TEST_F(ListTest, AnEmptyListFailsWithNoData) {
  xml::Document doc = Call("CQuery", ListRequest("listloandata"));
  EXPECT_EQ(doc.SelectSingleNode("/error/id").Text(), "Rembiz:CQuery:myHandle");
  EXPECT_EQ(ErrorText(doc), Message("Q7.Rembiz.0087"));
  AddCatalog();
  doc = Call("CQuery", ListRequest("listloandata", Cond("ec_loanvouch.strloanid", "0007")));
  EXPECT_EQ(ErrorText(doc), Message("Q7.Rembiz.0087"));
}

TEST_F(ListTest, TheUserFilterAndTheVoucherKindSelect) {
  AddCatalog();
  EXPECT_EQ(Numbers(Call("CQuery",
                         ListRequest("listloandata", Cond("ec_loanvouch.strdepartid", "0202")))),
            Strings{"JK0002"});
  // Amounts from 200 to 500: numbers, not texts.
  std::string range = Cond("ec_loanvouch.dblmoney", "200", "2", "1") +
                      Cond("ec_loanvouch.dblmoney", "500", "2", "2");
  EXPECT_EQ(Numbers(Call("CQuery", ListRequest("listloandata", range))),
            (Strings{"JK0003", "JK0004*", "JK0005"}));
  // A voucher number with a quote is a value, never SQL.
  EXPECT_EQ(ErrorText(Call("CQuery",
                           ListRequest("listloandata", Cond("ec_loanvouch.strvouchid",
                                                            "x&apos; or &apos;1&apos;=&apos;1")))),
            Message("Q7.Rembiz.0087"));

  auto kind = [](const std::string& value) { return Cond("", value, "9", "0", "strtypecode"); };
  EXPECT_EQ(Numbers(Call("CQuery", ListRequest("listpzdata", kind("3")))), Strings{"JK0001"});
  EXPECT_EQ(Numbers(Call("CQuery", ListRequest("listpzdata", kind("2")))), Strings{"ZC0001"});
  EXPECT_EQ(Numbers(Call("CQuery", ListRequest("listnetpaydata", kind("3")))), Strings{"JK0002"});
  EXPECT_EQ(Numbers(Call("CQuery", ListRequest("listnetpaydata", kind("1")))),
            (Strings{"ZC0001", "ZC0002"}));
  // Approved, not carried over, and no line sent without the bank's confirmation.
  xml::Document made = Call("CQuery", ListRequest("listmakepzdata"));
  EXPECT_EQ(Numbers(made), (Strings{"JK0001", "ZC0001", "JK0003"}));
  EXPECT_EQ(Column(made, "strpzid"), (Strings{"记-1-5", "记-2-3", ""}));
  // The ones still without their ledger voucher.
  EXPECT_EQ(Numbers(Call("CQuery",
                         ListRequest("listmakepzdata", "", 0, 20, "<search state='waiting'/>"))),
            Strings{"JK0003"});
  // The search word on the lists of both families.
  EXPECT_EQ(
      Numbers(Call("CQuery", ListRequest("listmakepzdata", "", 0, 20, "<search text='JK0'/>"))),
      (Strings{"JK0001", "JK0003"}));
  EXPECT_EQ(
      Numbers(Call("CQuery", ListRequest("listnetpaydata", "", 0, 20, "<search text='zc0002'/>"))),
      Strings{"ZC0002"});
  EXPECT_NE(
      ErrorText(Call("CQuery", ListRequest("listmakepzdata", "", 0, 20, "<search state='draft'/>")))
          .find("请求无效："),
      std::string::npos);
  EXPECT_EQ(Numbers(Call("CQuery", ListRequest("listmakepzdata",
                                               kind("3") + Cond("ec_vch.strloanid", "0004")))),
            Strings{"JK0003"});
}

// The search word is found in the number, the purpose or the person's name, taken literally
// (quotes and LIKE's wildcards match only themselves); the state narrows by approval.
TEST_F(ListTest, TheSearchWordAndTheStateNarrowTheVoucherLists) {
  Voucher draft = MakeVoucher("", "JK5001", "301", "03-01", "0201", "0002", 100);
  Voucher waiting = MakeVoucher("", "JK5002", "301", "03-02", "0201", "0004", 200);
  waiting.submitted = 1;
  Voucher approved = MakeVoucher("", "JK6003", "301", "03-03", "0201", "0004", 300);
  approved.submitted = 1;
  approved.auditor = "Anna Approver";
  for (const Voucher& v : {draft, waiting, approved}) Add(v);
  Cn().Execute("update EC_LoanVouch set strUsed='taxi 50% off_peak' where strVouchID='JK6003'");
  auto search = [this](const std::string& text, const std::string& state = "") {
    return Call("CQuery", ListRequest("listloandata", "", 0, 20,
                                      "<search text=\"" + text + "\" state='" + state + "'/>"));
  };
  EXPECT_EQ(Numbers(search("JK500")), (Strings{"JK5001", "JK5002"}));
  EXPECT_EQ(Numbers(search("赵强")), (Strings{"JK5002", "JK6003"}));
  EXPECT_EQ(Numbers(search("50% off_")), (Strings{"JK6003"}));
  EXPECT_EQ(Numbers(search("", "draft")), (Strings{"JK5001"}));
  EXPECT_EQ(Numbers(search("", "waiting")), (Strings{"JK5002"}));
  EXPECT_EQ(Numbers(search("赵", "approved")), (Strings{"JK6003"}));
  // A wildcard or a quote finds only vouchers that contain it.
  for (const char* text : {"%5", "5_01", "x' or '1'='1", "!"}) {
    EXPECT_EQ(ErrorText(search(text)), Message("Q7.Rembiz.0087")) << text;
  }
  EXPECT_NE(ErrorText(search("", "1=1")).find("请求无效："), std::string::npos);
  // The pages' date range: from the first day, to the end of the last one.
  EXPECT_EQ(
      Numbers(Call("CQuery", ListRequest("listloandata",
                                         Cond("ec_loanvouch.dtloandate", Date("03-02"), "0", "1") +
                                             Cond("ec_loanvouch.dtloandate",
                                                  Date("03-02") + " 23:59:59", "0", "2")))),
      Strings{"JK5002"});
  EXPECT_EQ(Scalar("select count(*) from EC_LoanVouch"), "3");
}

TEST_F(ListTest, AnOperatorSeesOnlyWhatItsRightsAllow) {
  AddCatalog();
  // The clerk may see department 0201 only, and holds the loan and claim lists only.
  auto clerk = SessionFor("clerk", "en-US");
  EXPECT_EQ(Numbers(Call("CQuery", ListRequest("listloandata"), clerk.get())),
            (Strings{"JK0001", "JK0004*", "JK0005"}));
  EXPECT_EQ(Numbers(Call("CQuery", ListRequest("listrepaydata"), clerk.get())), Strings{"ZC0001"});
  EXPECT_EQ(Numbers(Call("CQuery", ListRequest("listnetpaydata"), clerk.get())), Strings{"ZC0001"});
  xml::Document refused = Call("CQuery", ListRequest("listpzdata"), clerk.get());
  EXPECT_NE(refused.SelectSingleNode("//func/out/error").Text().find("EC0303"), std::string::npos)
      << refused.Xml();
  // A filter on another department finds nothing the clerk may see.
  EXPECT_EQ(ErrorText(Call("CQuery",
                           ListRequest("listloandata", Cond("ec_loanvouch.strdepartid", "0202")),
                           clerk.get())),
            host::MessageText("Q7.Rembiz.0087", "en-US"));

  // No department at all: every list is empty.
  Cn().Execute("update Host_ScopeRule set iScope = 1 where cUser_Id = 'clerk'");
  clerk = SessionFor("clerk");
  EXPECT_EQ(ErrorText(Call("CQuery", ListRequest("listloandata"), clerk.get())),
            Message("Q7.Rembiz.0087"));
}

TEST_F(ListTest, AFailureReadsAsTheListsOwnMessage) {
  AddCatalog();
  const std::pair<const char*, const char*> lists[] = {{"listloandata", "Q7.Rembiz.0324"},
                                                       {"listrepaydata", "Q7.Rembiz.0325"},
                                                       {"listpzdata", "Q7.Rembiz.0326"},
                                                       {"listnetpaydata", "Q7.Rembiz.0327"},
                                                       {"listmakepzdata", "Q7.Rembiz.0328"}};
  for (const auto& [list, key] : lists) {
    xml::Document doc = Call("CQuery", ListRequest(list, Cond("nosuchcolumn", "1")));
    EXPECT_EQ(ErrorText(doc), Message(key)) << list;
    // A field name that is no plain name never reaches SQL.
    doc = Call("CQuery", ListRequest(list, Cond("x=1 or y", "1")));
    EXPECT_NE(ErrorText(doc).find("Invalid request"), std::string::npos) << list << doc.Xml();
  }
}

// The approval filter: waiting for the auditor (0), passed by the auditor (1), submitted and
// waiting for the auditor whatever the voucher's own state (any other value).
TEST_F(ListTest, TheApprovalFilterFollowsTheFlow) {
  std::vector<Voucher> loans;
  for (const char* number : {"JKA", "JKB", "JKC", "JKD"}) {
    Voucher v = MakeVoucher(std::string("{00000000-0000-4000-8000-00000000000") + number[2] + "}",
                            number, "301", "03-01", "0201", "0002", 100);
    v.submitted = number[2] != 'D';
    Add(v);
    loans.push_back(v);
  }
  auto start = [&](const Voucher& v, host::Session& starter) {
    std::unique_ptr<host::ApprovalFlow> flow = host::CreateApprovalFlow();
    flow->Init(starter, Cn());
    ASSERT_NO_THROW(flow->StartInstance(Cn(), "45", v.guid, v.number,
                                        "<EAdata><eccontrain 金额='100'/></EAdata>"));
  };
  for (int i = 0; i < 3; ++i) start(loans[i], Session());
  // B: passed by the approver, who is then recorded as its auditor.
  auto approver = SessionFor("approver");
  std::unique_ptr<host::ApprovalFlow> flow = host::CreateApprovalFlow();
  flow->Init(*approver, Cn());
  ASSERT_NO_THROW(flow->DoTask("45", loans[1].guid, "<EASTdata><task EAAID='1'/></EASTdata>"));
  Cn().Execute("update EC_LoanVouch set strAuditorID = 'Anna Approver' where strVouchID = 'JKB'");
  // C: still waiting in the flow, though its auditor column is already set.
  Cn().Execute("update EC_LoanVouch set strAuditorID = 'Someone' where strVouchID = 'JKC'");

  auto list = [&](const std::string& auditor, const std::string& condition) {
    xml::Document doc = Call("CQuery", ListRequest("listloandata", "", 0, 20,
                                                   "<auditcond auditcondition='" + condition +
                                                       "' Auditor='" + auditor + "'/>"));
    return doc.SelectSingleNode("/error").IsNull() ? Numbers(doc) : Strings{ErrorText(doc)};
  };
  EXPECT_EQ(list("Anna Approver", "0"), Strings{"JKA"});
  EXPECT_EQ(list("approver", "0"), Strings{"JKA"});  // by id as well as by name
  EXPECT_EQ(list("Anna Approver", "1"), Strings{"JKB"});
  EXPECT_EQ(list("Anna Approver", "2"), (Strings{"JKA", "JKC"}));
  EXPECT_EQ(list("", "-1"), (Strings{"JKA", "JKB", "JKC", "JKD"}));
  // Demo Admin approves no loans.
  EXPECT_EQ(list("Demo Admin", "0"), Strings{Message("Q7.Rembiz.0087")});
  EXPECT_EQ(list("Anna Approver", "x"), Strings{list("Anna Approver", "x")[0]});
  EXPECT_NE(list("Anna Approver", "x")[0].find("请求无效："), std::string::npos);

  // Claims go through two steps: Demo Admin first, then the approver.
  Voucher claim = MakeVoucher("{00000000-0000-4000-8000-0000000000C9}", "ZC9", "201", "03-02",
                              "0201", "0002", 300);
  claim.submitted = 1;
  Add(claim);
  {
    std::unique_ptr<host::ApprovalFlow> claims = host::CreateApprovalFlow();
    claims->Init(Session(), Cn());
    ASSERT_NO_THROW(claims->StartInstance(Cn(), "47", claim.guid, claim.number,
                                          "<EAdata><eccontrain 金额='300'/></EAdata>"));
  }
  auto claims = [&](const std::string& auditor, const std::string& condition) {
    xml::Document doc = Call("CQuery", ListRequest("listrepaydata", "", 0, 20,
                                                   "<auditcond auditcondition='" + condition +
                                                       "' Auditor='" + auditor + "'/>"));
    return doc.SelectSingleNode("/error").IsNull() ? Numbers(doc) : Strings{};
  };
  EXPECT_EQ(claims("Demo Admin", "0"), Strings{"ZC9"});
  EXPECT_EQ(claims("Anna Approver", "0"), Strings{});
  std::unique_ptr<host::ApprovalFlow> step = host::CreateApprovalFlow();
  step->Init(Session(), Cn());
  ASSERT_NO_THROW(step->DoTask("47", claim.guid, "<EASTdata><task EAAID='1'/></EASTdata>"));
  EXPECT_EQ(claims("Demo Admin", "0"), Strings{});
  EXPECT_EQ(claims("Demo Admin", "1"), Strings{"ZC9"});
  EXPECT_EQ(claims("Anna Approver", "0"), Strings{"ZC9"});
}

}  // namespace
}  // namespace rembiz::reports
