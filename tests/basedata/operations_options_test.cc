// Operation types and the module's options.
#include <gtest/gtest.h>

#include "basedata/master_fixture.h"

namespace rembiz::basedata {
namespace {

std::string Edit(const std::string& lines) {
  return "<req><func name='edit'><in>" + lines + "</in></func></req>";
}

TEST_F(MasterTest, OperationTypesTakeTheNextCodeOfTheirFamily) {
  xml::Document doc =
      Call("COperation", Edit("<r P='1' intType='支出' strName='会议费报销' strShowID='31' "
                              "strPrintID='32'/>"
                              "<r P='1' intType='收入' strName=\"O'Brien; drop table x\" "
                              "strShowID='21' strPrintID='22' strLink='http://x'/>"
                              "<r P='1' intType='3' strName='备用金' strShowID='11' "
                              "strPrintID='12'/>"));
  EXPECT_EQ(OutError(doc), "") << doc.Xml();
  EXPECT_EQ(Scalar("select group_concat(strCode || ':' || intType || ':' || strName, '|') from "
                   "(select * from EC_OperationType where strCode in ('203', '102', '303') "
                   "order by strCode)"),
            "102:1:O'Brien; drop table x|203:2:会议费报销|303:3:备用金");

  // The page lists them in its language, with the names of their templates.
  doc = Call("COperation", "<req><func name='get'/></req>");
  xml::Node row = doc.SelectSingleNode("//Rows/row[@strCode='203']");
  EXPECT_EQ(row.Attr("strShowName"), "支出报销单");
  EXPECT_EQ(row.Attr("intType"), "2");
  EXPECT_FALSE(row.Attr("ts").empty());
}

TEST_F(MasterTest, OperationTypesInUseOrStaleAreRefusedAndTheRequestRolledBack) {
  InsertLoan();  // type 301
  Cn().Execute(
      "insert into EC_OperationType (intType, strCode, strName, strShowModel, "
      "strPrintModel) values (3, '309', 'Loan only', '11', '12')");
  Cn().Execute("update EC_LoanVouch set strTypeCode = '309'");
  std::string before = Dump("EC_OperationType");
  auto edit = [&](const std::string& line) {
    // A good insert first: the refusal of the second line takes it back too.
    return Call("COperation", Edit("<r P='1' intType='2' strName='new' strShowID='31' "
                                   "strPrintID='32'/>" +
                                   line));
  };
  auto ts = [&](const std::string& code) {
    return Ts("EC_OperationType", "strCode = '" + code + "'");
  };
  auto del = [&](const std::string& code, const std::string& type) {
    return OutError(
        edit("<r P='3' intType='" + type + "' strCode='" + code + "' ts='" + ts(code) + "'/>"));
  };
  EXPECT_EQ(del("201", "2"), Text("Q7.Rembiz.0051"));  // reimbursement items use it
  EXPECT_EQ(del("309", "3"), Text("Q7.Rembiz.0052"));  // a loan voucher uses it
  EXPECT_EQ(del("301", "3"), Text("Q7.Rembiz.0054"));  // the voucher settings use it
  EXPECT_EQ(del("202", "2x"), Text("Q7.Rembiz.0045"));
  EXPECT_EQ(OutError(edit("<r P='3' intType='2' strCode='202' ts='1'/>")), Text("Q7.Rembiz.0047"));
  EXPECT_EQ(OutError(edit("<r P='2' intType='3' strCode='202' strName='x' strShowID='11' "
                          "strPrintID='12' ts='" +
                          ts("202") + "'/>")),
            Text("Q7.Rembiz.0045"));  // a code keeps its family
  EXPECT_EQ(OutError(edit("<r P='2' intType='2' strCode='299' strName='x' strShowID='31' "
                          "strPrintID='32' ts='" +
                          ts("202") + "'/>")),
            Text("Q7.Rembiz.0047"));
  EXPECT_EQ(OutError(edit("<r P='1' intType='2' strName='日常费用报销' strShowID='31' "
                          "strPrintID='32'/>")),
            Text("Q7.Rembiz.0050"));
  EXPECT_EQ(OutError(edit("<r P='1' intType='2' strName='x' strShowID='11' strPrintID='32'/>")),
            Text("Rembiz.Master.TemplateUnknown"));
  EXPECT_EQ(OutError(edit("<r P='5' intType='2' strCode='202'/>")), Text("Q7.Rembiz.0048"));
  EXPECT_EQ(OutErrorId(edit("<r P='5' intType='2'/>")), "Rembiz:CChoice:recordEdit:9000");
  EXPECT_EQ(Dump("EC_OperationType"), before);

  xml::Document doc = Call("COperation", Edit("<r P='2' intType='2' strCode='202' strName='日常' "
                                              "strShowID='31' strPrintID='32' ts='" +
                                              ts("202") + "'/>"));
  EXPECT_EQ(OutError(doc), "") << doc.Xml();
  EXPECT_EQ(Scalar("select strName from EC_OperationType where strCode = '202'"), "日常");
}

TEST_F(MasterTest, OptionsAreCheckedAgainstTheVouchersAndCodesThatDependOnThem) {
  std::string before = Dump("accinformation");
  auto edit = [&](const std::string& attrs) {
    return OutError(Call("CChoice", "<req><func name='edit'><in " + attrs + "/></func></req>"));
  };
  EXPECT_EQ(edit("intExpireDays='abc'"), Text("Q7.Rembiz.0188"));
  EXPECT_EQ(edit("intExpireDays='60' intAlertDays='-1'"), Text("Q7.Rembiz.0189"));
  EXPECT_EQ(edit("blnAutoAlert='yes'"),
            host::MessageText("Rembiz.Master.OptionNotFlag", "", "blnAutoAlert"));
  EXPECT_EQ(edit("blnNoSuch='1'"),
            host::MessageText("Rembiz.Master.OptionUnknown", "", "blnNoSuch"));
  EXPECT_EQ(edit("strIOLevel='123456'"), Text("Q7.Rembiz.0191"));
  EXPECT_EQ(edit("strIOLevel='12a2'"), Text("Rembiz.Master.LevelDigits"));
  EXPECT_EQ(edit("strIOLevel='12'"), Text("Q7.Rembiz.0192"));    // 20101 is longer
  EXPECT_EQ(edit("strIOLevel='1322'"), Text("Q7.Rembiz.0193"));  // 101 fits no level
  EXPECT_EQ(edit("strIOLevel='1112'"), Text("Q7.Rembiz.0194"));  // 101 would need "10"
  EXPECT_EQ(edit("strZeroLevel='2'"), Text("Q7.Rembiz.0197"));
  EXPECT_EQ(edit("strZeroLevel='4'"), Text("Q7.Rembiz.0198"));
  EXPECT_EQ(edit("strZeroLevel='112'"), Text("Q7.Rembiz.0199"));

  // Submission to approval while a claim waits for approval; the same value passes.
  InsertClaim("203");
  EXPECT_EQ(edit("blnSubmAudit='true'"), Text("Q7.Rembiz.0190"));
  EXPECT_EQ(edit("blnSubmAudit='False'"), "");
  EXPECT_EQ(edit("blnBudCtrl='true'"), Text("Q7.Rembiz.0330"));
  InsertLoan(1);
  EXPECT_EQ(edit("blnBudCtrl='true'"), Text("Q7.Rembiz.0187"));
  Cn().Execute("update EC_LoanVouch set strBudItemID = '01'");
  EXPECT_EQ(edit("blnInputBud='true'"), Text("Q7.Rembiz.0200"));
  EXPECT_EQ(Dump("accinformation"), before);

  EXPECT_EQ(edit("intExpireDays='60' strIOLevel='12222' strZeroLevel='2222' blnModiStand='1'"), "");
  xml::Document doc = Call("CChoice", "<req><func name='get'/></req>");
  xml::Node head = doc.SelectSingleNode("//out/head");
  EXPECT_EQ(head.Attr("intExpireDays"), "60");
  EXPECT_EQ(head.Attr("strIOLevel"), "12222");
  EXPECT_EQ(head.Attr("blnModiStand"), "true");
  EXPECT_EQ(head.Attr("blnSubmAudit"), "false");
}

TEST_F(MasterTest, ItemLevelsKeepTheirRootCharacter) {
  for (const char* table :
       {"EC_ExpenseDepart", "EC_EISet_Stand", "EC_Expense", "EC_PzSet_IO", "EC_IOItem"}) {
    Cn().Execute(std::string("delete from ") + table);
  }
  auto edit = [&](const std::string& levels) {
    return OutError(
        Call("CChoice", "<req><func name='edit'><in strIOLevel='" + levels + "'/></func></req>"));
  };
  EXPECT_EQ(edit("2222"), Text("Q7.Rembiz.0195"));
  EXPECT_EQ(edit("1333"), "");
}

}  // namespace
}  // namespace rembiz::basedata
