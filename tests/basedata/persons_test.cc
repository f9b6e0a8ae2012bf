// Persons: the department tree and person reads, grades, bank accounts and loan limits.
#include <gtest/gtest.h>

#include "basedata/master_fixture.h"

namespace rembiz::basedata {
namespace {

std::string Person(const std::string& code, const std::string& rest = "") {
  return "<strPersonCode>" + code + "</strPersonCode>" + rest;
}

std::string Func(const std::string& name, const std::string& in) {
  return "<func name='" + name + "'><in>" + in + "</in></func>";
}

// Three limit rows: days, number, amount ("" = off).
std::string Limits(const std::string& ts, const std::string& days, const std::string& number,
                   const std::string& amount, const std::string& type = "提示") {
  auto row = [&](const std::string& value) {
    return value.empty() ? std::string("<row blnCtrl='0'/>")
                         : "<row blnCtrl='1' dblMoney='" + value + "' strCtrlType='" + type + "'/>";
  };
  return "<Rows ts='" + ts + "'>" + row(days) + row(number) + row(amount) + "</Rows>";
}

TEST_F(MasterTest, DepartmentTreeAndPersonReads) {
  // An open loan of 0002, ten days old at the business date.
  InsertLoan();
  Cn().Execute("update EC_LoanVouch set dtLoanDate = dateadd(day, -10, '" + Session().LoginDate() +
               "')");
  xml::Document doc =
      Call("CPerson", "<req><func name='getdepart'/>" +
                          Func("getperlist", "<strDepCode>03</strDepCode>") +
                          Func("getperbas", Person("0004")) + Func("getperacc", Person("0004")) +
                          Func("getperson", Person("0002", "<Show/>")) +
                          Func("getperson", Person("0007")) + "<func name='outputget'/></req>");
  testing::ExpectGolden("basedata/golden/persons.xml", doc.Xml());

  // The clerk sees the departments of its authority only.
  Cn().Execute(
      "insert into qdsystem..UA_HoldAuth (cAcc_Id, iYear, cUser_Id, iIsUser, cAuth_Id) "
      "values ('001', " +
      Session().FiscalYear() + ", 'clerk', 1, 'EC0105')");
  auto clerk = SessionFor("clerk");
  doc = Call("CPerson", "<req><func name='getdepart'/></req>", clerk.get());
  EXPECT_EQ(Out(doc),
            "<list x=\"10\" y=\"50\" w=\"200\" h=\"380\" f=\"14\"><row id=\"0201\" "
            "name=\"(0201)会计科\" leaf=\"1\"/></list>");
  EXPECT_EQ(OutError(Call("CPerson", "<req>" + Func("getperbas", Person("9999")) + "</req>")),
            Text("Q7.Rembiz.0116"));
}

TEST_F(MasterTest, GradesAreCheckedAndAnEmptySettingsRowGoes) {
  std::string before = Dump("EC_PersonCtrl");
  auto grade = [&](const std::string& person, const std::string& grade_id, const std::string& ts) {
    return OutError(
        Call("CPerson", "<req>" +
                            Func("saveperbas", Person(person) + "<strGradeID>" + grade_id +
                                                   "</strGradeID><ts>" + ts + "</ts>") +
                            "</req>"));
  };
  std::string ts = Ts("EC_PersonCtrl", "strPersonCode = '0004'");
  EXPECT_EQ(grade("9999", "01", ""), Text("Q7.Rembiz.0072"));
  EXPECT_EQ(grade("0004", "09", ts), Text("Rembiz.Master.GradeUnknown"));
  EXPECT_EQ(grade("0004", "01", "1"), Text("Q7.Rembiz.0117"));
  EXPECT_EQ(grade("0004", "01", ""), Text("Q7.Rembiz.0117"));  // the row exists already
  EXPECT_EQ(Dump("EC_PersonCtrl"), before);

  EXPECT_EQ(grade("0007", "02", ""), "");
  EXPECT_EQ(Scalar("select strGradeID from EC_PersonCtrl where strPersonCode = '0007'"), "02");
  // Without a grade and without limits the row says nothing and goes.
  EXPECT_EQ(grade("0007", "", Ts("EC_PersonCtrl", "strPersonCode = '0007'")), "");
  EXPECT_EQ(Dump("EC_PersonCtrl"), before);
}

TEST_F(MasterTest, BankAccountsKeepOneDefault) {
  std::string before = Dump("EC_PersonAcc");
  auto save = [&](const std::string& person, const std::string& rows) {
    return OutError(
        Call("CPerson", "<req>" + Func("saveperacc", Person(person) + rows) + "</req>"));
  };
  const std::string guid = "{EC0A0003-0000-4000-8000-000000000003}";
  std::string ts = Ts("EC_PersonAcc", "GUID = '" + guid + "'");
  EXPECT_EQ(save("0005", "<r P='1' strBankAcc='1' strBank='b' blnDefault='1'/>"),
            Text("Q7.Rembiz.0118"));
  EXPECT_EQ(save("0005", "<r P='1' strBankAcc='6222020200003333' strBank='b'/>"),
            Text("Q7.Rembiz.0119"));
  EXPECT_EQ(save("0005", "<r P='1' strBank='b'/>"), Text("Rembiz.Master.BankAccountRequired"));
  EXPECT_EQ(save("0005", "<r P='2' GUID='" + guid + "' ts='1' strBankAcc='2'/>"),
            Text("Q7.Rembiz.0047"));
  EXPECT_EQ(save("0004", "<r P='3' GUID='" + guid + "' ts='" + ts + "'/>"),
            Text("Q7.Rembiz.0047"));  // another person's account
  EXPECT_EQ(save("0005", "<r P='4' GUID='" + guid + "' ts='" + ts + "'/>"), Text("Q7.Rembiz.0048"));
  EXPECT_EQ(save("9999", "<r P='1' strBankAcc='1'/>"), Text("Q7.Rembiz.0072"));
  EXPECT_EQ(Dump("EC_PersonAcc"), before);

  // The default moves to a new account in one request; the account is stored as typed.
  EXPECT_EQ(save("0005", "<r P='2' GUID='" + guid + "' ts='" + ts +
                             "' strBankAcc='6222020200003333' strBank='ICBC' blnDefault='0'/>"
                             "<r P='1' strBankAcc=\"62'; drop table Person;--\" strBank='x' "
                             "blnDefault='1'/>"),
            "");
  EXPECT_EQ(Scalar("select strBankAcc from EC_PersonAcc where strPersonCode = '0005' and "
                   "blnDefault = 1"),
            "62'; drop table Person;--");
}

TEST_F(MasterTest, LoanLimitsAreSavedAsTheLoanSaveEnforcesThem) {
  auto save = [&](const std::string& person, const std::string& limits) {
    return OutError(
        Call("CPerson", "<req>" + Func("saveperson", Person(person) + limits) + "</req>"));
  };
  std::string before = Dump("EC_PersonCtrl");
  EXPECT_EQ(save("0007", Limits("", "", "", "")), "");  // all off: no row is kept
  EXPECT_EQ(save("0007", Limits("", "", "", " ")), Text("Q7.Rembiz.0125"));
  EXPECT_EQ(save("0007", Limits("", "1.5", "", "")), Text("Q7.Rembiz.0123"));
  EXPECT_EQ(save("0007", Limits("", "", "x", "")), Text("Q7.Rembiz.0124"));
  EXPECT_EQ(save("0004", Limits("1", "", "1", "")), Text("Q7.Rembiz.0112"));
  EXPECT_EQ(save("0004", Limits("", "", "1", "")), Text("Q7.Rembiz.0112"));
  EXPECT_EQ(save("9999", Limits("", "", "1", "")), Text("Q7.Rembiz.0072"));
  EXPECT_EQ(Dump("EC_PersonCtrl"), before);

  // At most one open loan, control type "1" (the pages' "Q7.Rembiz.0230"): the loan save
  // enforces it and refuses the second loan.
  EXPECT_EQ(save("0007", Limits("", "", "1", "")), "");
  xml::Document shown = Call("CPerson", "<req>" + Func("getperson", Person("0007")) + "</req>");
  EXPECT_EQ(shown.SelectSingleNode("//Rows/row[2]").Attr("strCtrlType"), Text("Q7.Rembiz.0230"));
  EXPECT_EQ(Scalar("select strNumCtrType from EC_PersonCtrl where strPersonCode = '0007'"), "1");
  Cn().Execute(
      "insert into EC_LoanVouch (strTypeCode, strVouchID, dtLoanDate, strDepartID, "
      "strLoanID, strBill, fltRate, dblMoney, dblOldMoney, strPersonID) values ('301', "
      "'JK1', '2024-03-01', '0301', '0007', '人民币', 1, 10, 10, 'Demo Admin')");
  std::string year = Session().FiscalYear();
  xml::Document loan =
      Call("CLoan",
           "<req><func name='savevouch'><in><xml><head blnBegin='0'><z:row strTypeCode='301' "
           "strVouchID='JK2' dtLoanDate='" +
               year +
               "-03-05' strDepartID='0301' strLoanID='0007' strBill='人民币' fltRate='1' "
               "dblMoney='10' dblOldMoney='10' strPersonID='Demo Admin'/></head><body><row "
               "strBalanceID='1' dblMoney='10'/></body></xml></in></func></req>");
  EXPECT_EQ(loan.SelectSingleNode("/error/text").Text(),
            host::MessageText("Q7.Rembiz.0232", "", "1", "1"));

  // Any other text (here the pages' "Q7.Rembiz.0028") is stored as type "0"; switched off with
  // the grade empty, the row goes.
  std::string ts = Ts("EC_PersonCtrl", "strPersonCode = '0007'");
  EXPECT_EQ(save("0007", Limits(ts, "30", "", "", "严格控制")), "");
  EXPECT_EQ(Scalar("select strDayCtrType, intDay from EC_PersonCtrl where strPersonCode = "
                   "'0007'"),
            "0|30");
  EXPECT_EQ(save("0007", Limits(Ts("EC_PersonCtrl", "strPersonCode = '0007'"), "", "", "")), "");
  EXPECT_EQ(Dump("EC_PersonCtrl"), before);
}

}  // namespace
}  // namespace rembiz::basedata
