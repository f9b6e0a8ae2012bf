// The voucher-generation settings: accounts by expense side and payment side, merge options.
#include <gtest/gtest.h>

#include <array>

#include "ledger/ledger_fixture.h"

namespace rembiz::ledger {
namespace {

class PzSetTest : public LedgerTest {
 protected:
  xml::Document PzSet(const std::string& funcs, host::Session* session = nullptr) {
    return Call("CPzSet", "<req>" + funcs + "</req>", session ? session : &Session());
  }
  static std::string Save(const std::string& name, const std::string& rows) {
    return "<func name='" + name + "'><in>" + rows + "</in></func>";
  }
  std::string IOSetting(const std::string& type, const std::string& item,
                        const std::string& currency) {
    return Scalar(
        "select GUID, cast(ts as money), strSubject, cast(blnModiDire as int) from EC_PzSet_IO "
        "where strOperatType = '" +
        type + "' and isnull(strIOItemCode, '') = '" + item + "' and isnull(strCurrency, '') = '" +
        currency + "'");
  }
};

TEST_F(PzSetTest, ExpenseSideSettingsAreAddedChangedAndDeleted) {
  xml::Document doc =
      PzSet(Save("saveiokm",
                 "<row P='1' strOperatType='201' strIOItemCode='20101' strCurrency='人民币' "
                 "strCode='660101' blnModiDire='1'/><row P='1' strOperatType='302' "
                 "strIOItemCode='' strCurrency='' strCode='2241' blnModiDire='0'/>"));
  ASSERT_TRUE(doc.SelectSingleNode("//out/error").IsNull()) << doc.Xml();
  // The answer is the refreshed list, with names.
  xml::Node added = doc.SelectSingleNode("//out/Rows/row[@strIOItemCode='20101']");
  EXPECT_EQ(added.Attr("strOperatName"), "差旅费报销");
  EXPECT_EQ(added.Attr("strIOItemName"), "住宿费");
  EXPECT_EQ(added.Attr("strCodeName"), "差旅费");
  EXPECT_EQ(added.Attr("blnModiDire"), "True");
  // Empty item and currency are stored as "any".
  EXPECT_EQ(Scalar("select count(*) from EC_PzSet_IO where strOperatType = '302' and "
                   "strIOItemCode is null and strCurrency is null"),
            "1");

  std::string row = IOSetting("201", "20101", "人民币");
  std::string guid = row.substr(0, row.find('|'));
  std::string ts =
      row.substr(row.find('|') + 1, row.find('|', row.find('|') + 1) - row.find('|') - 1);
  doc = PzSet(Save("saveiokm", "<row P='2' GUID='" + guid + "' ts='" + ts +
                                   "' strOperatType='201' strIOItemCode='20101' "
                                   "strCurrency='人民币' strCode='660202' blnModiDire='0'/>"));
  EXPECT_TRUE(doc.SelectSingleNode("//out/error").IsNull()) << doc.Xml();
  EXPECT_NE(IOSetting("201", "20101", "人民币").find("|660202|0"), std::string::npos);

  // The old row version no longer matches: changed by someone else. Nothing of the request
  // stays, not even the add before it.
  std::string before = Dump("EC_PzSet_IO");
  doc = PzSet(Save("saveiokm",
                   "<row P='1' strOperatType='202' strCurrency='美元' "
                   "strCode='660201'/><row P='3' GUID='" +
                       guid + "' ts='" + ts + "'/>"));
  EXPECT_EQ(ErrorText(doc), Text("Q7.Rembiz.0047"));
  EXPECT_EQ(Dump("EC_PzSet_IO"), before);

  // The same type, item and currency twice.
  doc = PzSet(Save("saveiokm",
                   "<row P='1' strOperatType='201' strIOItemCode='20101' "
                   "strCurrency='人民币' strCode='660101'/>"));
  EXPECT_EQ(ErrorText(doc), Text("Q7.Rembiz.0075"));
  // An edit mode that is none.
  doc = PzSet(Save("saveiokm", "<row P='9' strOperatType='201'/>"));
  EXPECT_EQ(ErrorText(doc), Text("Q7.Rembiz.0048"));
  // A row version that is no number matches nothing.
  doc = PzSet(Save("saveiokm", "<row P='3' GUID='" + guid + "' ts='1 or 1=1'/>"));
  EXPECT_EQ(ErrorText(doc), Text("Q7.Rembiz.0047"));
  EXPECT_EQ(Dump("EC_PzSet_IO"), before);

  std::string current = IOSetting("201", "20101", "人民币");
  std::string ts2 = current.substr(current.find('|') + 1);
  ts2 = ts2.substr(0, ts2.find('|'));
  doc = PzSet(Save("saveiokm", "<row P='3' GUID='" + guid + "' ts='" + ts2 + "'/>"));
  EXPECT_TRUE(doc.SelectSingleNode("//out/error").IsNull()) << doc.Xml();
  EXPECT_EQ(IOSetting("201", "20101", "人民币"), "");
}

TEST_F(PzSetTest, PaymentDirectionIsShownInTheUsersLanguageAndStoredInChinese) {
  auto english = SessionFor("demo", "en-US");
  xml::Document doc = PzSet(Save("saveopkm",
                                 "<row P='1' strOperatType='Receipt' "
                                 "strBalanceType='2' strBankID='02' "
                                 "strCurrency='人民币' strCode='100202'/>"),
                            english.get());
  ASSERT_TRUE(doc.SelectSingleNode("//out/error").IsNull()) << doc.Xml();
  EXPECT_EQ(Scalar("select strOperatType from EC_PzSet_OP where strBalanceType = '2' and "
                   "strBankID = '02' and strSubject = '100202' order by ts desc limit 1"),
            "收款");
  xml::Node shown = doc.SelectSingleNode(
      "//out/Rows/row[@strBalanceType='2' and @strBankID='02' and @strOperatType='Receipt']");
  EXPECT_EQ(shown.Attr("strBalanceName"), "支票");
  EXPECT_EQ(shown.Attr("cBAccount"), "11001000000052500000");

  // In Chinese the same list shows the stored words.
  doc = PzSet("<func name='getopkm'/>");
  EXPECT_EQ(doc.SelectNodes("//out/Rows/row[@strOperatType='收款']").size(), 5u);
  EXPECT_EQ(doc.SelectNodes("//out/Rows/row[@strOperatType='付款']").size(), 6u);

  // The same direction, style, bank and currency again.
  doc = PzSet(Save("saveopkm",
                   "<row P='1' strOperatType='收款' strBalanceType='2' "
                   "strBankID='02' strCurrency='人民币' strCode='100201'/>"));
  EXPECT_EQ(ErrorText(doc), Text("Q7.Rembiz.0076"));
}

// A direction is recognised by its word in either language, whatever the session's language;
// a word that is no direction is refused rather than stored as a receipt.
TEST_F(PzSetTest, PaymentDirectionIsRecognisedInBothLanguages) {
  auto english = SessionFor("demo", "en-US");
  xml::Document doc = PzSet(Save("saveopkm",
                                 "<row P='1' strOperatType='付款' strBalanceType='2' "
                                 "strBankID='02' strCurrency='美元' strCode='100202'/>"),
                            english.get());
  ASSERT_TRUE(doc.SelectSingleNode("//out/error").IsNull()) << doc.Xml();
  EXPECT_EQ(Scalar("select strOperatType from EC_PzSet_OP where strCurrency = '美元' and "
                   "strBankID = '02' and strSubject = '100202'"),
            "付款");
  doc = PzSet(Save("saveopkm",
                   "<row P='1' strOperatType='Receipt' strBalanceType='2' strBankID='02' "
                   "strCurrency='美元' strCode='100201'/>"));
  ASSERT_TRUE(doc.SelectSingleNode("//out/error").IsNull()) << doc.Xml();
  EXPECT_EQ(Scalar("select strOperatType from EC_PzSet_OP where strCurrency = '美元' and "
                   "strBankID = '02' and strSubject = '100201'"),
            "收款");

  std::string before = Dump("EC_PzSet_OP");
  for (const char* word : {"Refund", "", "付"}) {
    doc = PzSet(Save("saveopkm", std::string("<row P='1' strOperatType='") + word +
                                     "' strBalanceType='1' strCurrency='美元' strCode='1001'/>"),
                english.get());
    EXPECT_EQ(ErrorText(doc), host::MessageText("Rembiz.Ledger.UnknownDirection", "en-US", word))
        << word;
  }
  EXPECT_EQ(Dump("EC_PzSet_OP"), before);
}

// A setting names codes that exist and an account that takes postings: voucher generation would
// otherwise find it and post to nothing. Every refusal leaves both tables as they were.
TEST_F(PzSetTest, SettingsNameExistingCodesAndAPostingAccount) {
  std::string before = Dump("EC_PzSet_IO") + Dump("EC_PzSet_OP");
  // The request and the refusal: its message key and parameter.
  const std::array<std::string, 3> refused[] = {
      {"<func name='saveiokm'><in><row P='1' strOperatType='399' strCurrency='人民币' "
       "strCode='122101'/></in></func>",
       "Rembiz.Ledger.UnknownOperationType", "399"},
      {"<func name='saveiokm'><in><row P='1' strOperatType='' strCode='122101'/></in></func>",
       "Q7.Rembiz.0011", ""},
      {"<func name='saveiokm'><in><row P='1' strOperatType='201' strIOItemCode='29999' "
       "strCurrency='人民币' strCode='660101'/></in></func>",
       "Q7.Rembiz.0220", ""},
      {"<func name='saveiokm'><in><row P='1' strOperatType='201' strCurrency='日元' "
       "strCode='660101'/></in></func>",
       "Q7.Rembiz.0222", ""},
      // 6601 has accounts below it.
      {"<func name='saveiokm'><in><row P='1' strOperatType='201' strIOItemCode='20101' "
       "strCurrency='人民币' strCode='6601'/></in></func>",
       "Rembiz.Host.LedgerNotPosting", "6601"},
      {"<func name='saveiokm'><in><row P='1' strOperatType='201' strIOItemCode='20101' "
       "strCurrency='人民币' strCode=''/></in></func>",
       "Rembiz.Ledger.AccountRequired", ""},
      {"<func name='saveopkm'><in><row P='1' strOperatType='2' strBalanceType='9' "
       "strCurrency='人民币' strCode='1001'/></in></func>",
       "Q7.Rembiz.0250", ""},
      {"<func name='saveopkm'><in><row P='1' strOperatType='2' strBalanceType='2' "
       "strBankID='99' strCurrency='人民币' strCode='100201'/></in></func>",
       "Q7.Rembiz.0254", ""},
      {"<func name='saveopkm'><in><row P='1' strOperatType='2' strBalanceType='2' "
       "strBankID='01' strCurrency='美元' strCode='1002'/></in></func>",
       "Rembiz.Host.LedgerNotPosting", "1002"},
  };
  for (const auto& [request, key, code] : refused) {
    // The message in the session's language, known once the request ran.
    std::string refusal = ErrorText(PzSet(request));
    EXPECT_EQ(refusal, Text(key, code)) << request;
  }
  EXPECT_EQ(Dump("EC_PzSet_IO") + Dump("EC_PzSet_OP"), before);
}

// The unique indexes take an empty part (stored Null) for a value unlike any other, so a key with
// an empty item, bank or currency would be there twice; the class refuses it as any other twin,
// on an add and on a change that would make one. A change that keeps its own key is no twin.
TEST_F(PzSetTest, AKeyWithEmptyPartsIsThereOnce) {
  std::string before = Dump("EC_PzSet_IO") + Dump("EC_PzSet_OP");
  EXPECT_EQ(ErrorText(PzSet(Save("saveiokm",
                                 "<row P='1' strOperatType='301' strIOItemCode='' "
                                 "strCurrency='人民币' strCode='2241'/>"))),
            Text("Q7.Rembiz.0075"));
  EXPECT_EQ(ErrorText(PzSet(Save("saveopkm",
                                 "<row P='1' strOperatType='付款' strBalanceType='1' "
                                 "strBankID='' strCurrency='人民币' strCode='100201'/>"))),
            Text("Q7.Rembiz.0076"));
  // 302 becoming 301 in RMB, either side's twin.
  std::string row = IOSetting("302", "", "人民币");
  std::string guid = row.substr(0, row.find('|'));
  std::string ts = row.substr(guid.size() + 1, row.find('|', guid.size() + 1) - guid.size() - 1);
  EXPECT_EQ(ErrorText(PzSet(Save("saveiokm", "<row P='2' GUID='" + guid + "' ts='" + ts +
                                                 "' strOperatType='301' strCurrency='人民币' "
                                                 "strCode='122101'/>"))),
            Text("Q7.Rembiz.0075"));
  EXPECT_EQ(Dump("EC_PzSet_IO") + Dump("EC_PzSet_OP"), before);

  xml::Document doc = PzSet(Save("saveiokm", "<row P='2' GUID='" + guid + "' ts='" + ts +
                                                 "' strOperatType='302' strCurrency='人民币' "
                                                 "strCode='2241'/>"));
  ASSERT_TRUE(doc.SelectSingleNode("//out/error").IsNull()) << doc.Xml();
  EXPECT_NE(IOSetting("302", "", "人民币").find("|2241|"), std::string::npos);
}

// The pages name the direction by the digit of the settlement rows, and the list gives it beside
// the word of the session's language.
TEST_F(PzSetTest, PaymentDirectionMayBeGivenByItsDigit) {
  auto english = SessionFor("demo", "en-US");
  xml::Document doc = PzSet(Save("saveopkm",
                                 "<row P='1' strOperatType='1' strBalanceType='1' "
                                 "strCurrency='美元' strCode='1001'/>"
                                 "<row P='1' strOperatType='2' strBalanceType='1' "
                                 "strCurrency='美元' strCode='1001'/>"),
                            english.get());
  ASSERT_TRUE(doc.SelectSingleNode("//out/error").IsNull()) << doc.Xml();
  for (const char* word : {"付款", "收款"}) {
    EXPECT_EQ(Scalar(std::string("select count(*) from EC_PzSet_OP where strCurrency = '美元' and "
                                 "strBalanceType = '1' and strOperatType = '") +
                     word + "'"),
              "1")
        << word;
  }
  for (const char* digit : {"1", "2"}) {
    xml::NodeList shown = doc.SelectNodes(
        std::string("//out/Rows/row[@strBalanceType='1' and @strCurrency='美元' and @intIOType='") +
        digit + "']");
    ASSERT_EQ(shown.size(), 1u) << digit;
    EXPECT_EQ(shown[0].Attr("strOperatType"), digit[0] == '1' ? "Receipt" : "Payment");
  }
}

TEST_F(PzSetTest, MergeOptionsAreListedAndSaved) {
  xml::Document doc = PzSet("<func name='gethb'/>");
  xml::NodeList options = doc.SelectNodes("//out/Rows/row");
  ASSERT_EQ(options.size(), 12u);
  EXPECT_EQ(options[0].Attr("strName"), "iokm_zy");
  EXPECT_EQ(options[1].Attr("strValue"), "true");

  doc = PzSet(Save("savehb",
                   "<row strName='iokm_zy' strValue='true'/>"
                   "<row strName='opkm_km' strValue='false'/>"));
  EXPECT_EQ(doc.SelectSingleNode("//out/Rows/row[@strName='iokm_zy']").Attr("strValue"), "true");
  EXPECT_EQ(Scalar("select cValue from AccInformation where cName = 'opkm_km'"), "false");
  // An option may also be named as the table or a plain name/value pair names it.
  doc = PzSet(
      Save("savehb", "<row cName='opkm_km' cValue='true'/><row name='iokm_zy' value='false'/>"));
  EXPECT_EQ(Scalar("select cValue from AccInformation where cName = 'opkm_km'"), "true");
  EXPECT_EQ(Scalar("select cValue from AccInformation where cName = 'iokm_zy'"), "false");

  // Only the merge options can be set here.
  std::string before = Dump("AccInformation");
  doc = PzSet(Save("savehb",
                   "<row strName='iokm_km' strValue='false'/>"
                   "<row strName='blnBudCtrl' strValue='true'/>"));
  EXPECT_EQ(ErrorText(doc), Text("Q7.Rembiz.0077"));
  EXPECT_EQ(Dump("AccInformation"), before);
}

}  // namespace
}  // namespace rembiz::ledger
