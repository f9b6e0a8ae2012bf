#include "xml/document.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "xml/escape.h"

namespace rembiz::xml {
namespace {

TEST(DocumentTest, MalformedTextLeavesTheDocumentEmpty) {
  Document doc;
  ASSERT_TRUE(doc.LoadXml("<req><func name='a'/></req>"));
  EXPECT_FALSE(doc.LoadXml("<req><func name='a'></req>"));
  EXPECT_TRUE(doc.Empty());
  EXPECT_EQ(doc.Xml(), "");
  EXPECT_FALSE(doc.ParseError().empty());
  EXPECT_TRUE(doc.DocumentElement().IsNull());
  EXPECT_FALSE(doc.LoadXml(""));
  EXPECT_FALSE(doc.LoadXml(std::string("\0\x01\x02", 3)));
  // A null node answers reads with empty values and ignores writes.
  Node none;
  EXPECT_EQ(none.Attr("x"), "");
  EXPECT_TRUE(none.SelectNodes("//a").empty());
  none.SetAttr("x", "1");
}

TEST(DocumentTest, SelectsAppendsAndSerialises) {
  Document doc;
  ASSERT_TRUE(doc.LoadXml("<req><func name='a'><in x='1'/></func><g><func name='b'/></g></req>"));
  NodeList funcs = doc.SelectNodes("//func");
  ASSERT_EQ(funcs.size(), 2u);
  EXPECT_EQ(funcs[1].Attr("name"), "b");
  EXPECT_EQ(funcs[0].SelectSingleNode("in").Attr("x"), "1");

  Document answer;
  ASSERT_TRUE(answer.LoadXml("<?xml version='1.0' encoding='utf-8'?><ok n='&amp;'>t<b>u</b></ok>"));
  Node out = funcs[0].AppendElement("out");
  out.AppendChild(answer.DocumentElement());
  EXPECT_EQ(doc.SelectSingleNode("//out/ok").Text(), "tu");
  EXPECT_EQ(doc.SelectSingleNode("//out/ok").Attr("n"), "&");
  EXPECT_NE(answer.Xml().find("<?xml"), std::string::npos);
  EXPECT_EQ(out.Xml(), "<out><ok n=\"&amp;\">t<b>u</b></ok></out>");
}

TEST(DocumentTest, PrefixedNamesMatchLiterally) {
  Document doc;
  ASSERT_TRUE(
      doc.LoadXml("<xml xmlns:rs='urn:schemas-microsoft-com:rowset' xmlns:z='#RowsetSchema'>"
                  "<rs:data><z:row a='1'/><z:row a='2'/></rs:data></xml>"));
  NodeList rows = doc.SelectNodes("//rs:data/z:row");
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[1].Attr("a"), "2");
}

}  // namespace
}  // namespace rembiz::xml

namespace rembiz::xml {
namespace {

// What pugixml lets through on its own is refused: the document stays empty and says why.
TEST(DocumentTest, RefusesTextThatIsNotWellFormed) {
  const std::pair<const char*, const char*> kRefused[] = {
      {"<req/><req/>", "more than one document element"},
      {"<req>&foo;</req>", "undefined entity"},
      {"<req a='&unknown;'/>", "undefined entity"},
      {"<req>a & b</req>", "bare '&'"},
      {"<req>&#0;</req>", "undefined entity"},
      {"<req>&#xD800;</req>", "undefined entity"},
      {"<!DOCTYPE req [<!ENTITY e 'x'>]><req>&e;</req>", "document type declaration"},
      {"<req a='1' b='2' a='3'/>", "'a' given twice"},
      {"<req>\x01</req>", "character XML does not allow"},
      {"<req>\xC3</req>", "not UTF-8"},
      {"<req>\xC0\xAF</req>", "not UTF-8"},
      {"<req><!-- \x02 --></req>", "character XML does not allow"},
  };
  for (const auto& [text, why] : kRefused) {
    Document doc;
    EXPECT_FALSE(doc.LoadXml(text)) << text;
    EXPECT_TRUE(doc.Empty()) << text;
    EXPECT_NE(doc.ParseError().find(why), std::string::npos) << text << ": " << doc.ParseError();
  }
  // References that are defined, and markup that carries no references, still load.
  Document doc;
  ASSERT_TRUE(
      doc.LoadXml("<?xml version='1.0'?><req a='&lt;&amp;&#x41;&#66;'><![CDATA[& <x>]]><!-- & -->"
                  "<?pi & ?>中文 &quot;&apos;&gt;</req>"))
      << doc.ParseError();
  EXPECT_EQ(doc.DocumentElement().Attr("a"), "<&AB");
  EXPECT_EQ(doc.DocumentElement().Text(), "& <x>中文 \"'>");
}

TEST(DocumentTest, ChildrenByNameOutliveTheirName) {
  Document doc;
  ASSERT_TRUE(doc.LoadXml("<r><a i='1'/><b/><a i='2'/></r>"));
  NodeList a = doc.DocumentElement().Children(std::string("a"));
  ASSERT_EQ(a.size(), 2u);
  EXPECT_EQ(a[1].Attr("i"), "2");
}

// An answer placed under its target is already in the request; it reads as its own element
// (XPath from the document never sees the rest of the request), and loading or clearing it
// takes it out of the request again.
TEST(DocumentTest, PlacedAnswerLivesUnderItsTarget) {
  Document request;
  ASSERT_TRUE(request.LoadXml("<req><func><in><row a='in'/></in><out/></func></req>"));
  Node out = request.SelectSingleNode("//out");
  Document source;
  ASSERT_TRUE(source.LoadXml("<xml><data><row a='1'/><row a='2'/></data></xml>"));

  Document answer;
  answer.SetTarget(out);
  EXPECT_TRUE(answer.Empty());
  answer.PlaceCopy(source.DocumentElement().Raw());
  EXPECT_TRUE(answer.IsPlaced());
  EXPECT_EQ(request.Xml(),
            "<req><func><in><row a=\"in\"/></in><out><xml><data><row a=\"1\"/><row "
            "a=\"2\"/></data></xml></out></func></req>");
  EXPECT_EQ(answer.SelectNodes("//row").size(), 2u);
  EXPECT_EQ(answer.SelectSingleNode("//row").Attr("a"), "1");
  EXPECT_EQ(answer.SelectSingleNode("/xml/data").Name(), "data");
  EXPECT_TRUE(answer.SelectSingleNode("//in").IsNull());
  EXPECT_EQ(answer.SelectNodes("//row[@a='2'] | /xml").size(), 2u);
  EXPECT_EQ(answer.Xml(), "<xml><data><row a=\"1\"/><row a=\"2\"/></data></xml>");

  ASSERT_TRUE(answer.LoadXml("<err/>"));
  EXPECT_FALSE(answer.IsPlaced());
  EXPECT_EQ(out.Xml(), "<out/>");
  EXPECT_EQ(answer.DocumentElement().Name(), "err");

  answer.PlaceCopy(source.DocumentElement().Raw());
  answer.Clear();
  EXPECT_TRUE(answer.Empty());
  EXPECT_EQ(out.Xml(), "<out/>");

  // Without a target the copy is the document's own element.
  Document alone;
  alone.PlaceCopy(source.DocumentElement().Raw());
  EXPECT_FALSE(alone.IsPlaced());
  EXPECT_EQ(alone.Xml(), source.Xml());
}

TEST(EscapeTest, NamesThatAreNoXmlNamesAreEncoded) {
  EXPECT_TRUE(IsXmlName("strVouchID"));
  EXPECT_TRUE(IsXmlName("金额"));
  EXPECT_TRUE(IsXmlName("_a-1.b"));
  for (const char* bad : {"", "1a", "a b", "a=\"1\"", "a:b", "xmlns", "count(*)", "\xC3"}) {
    EXPECT_FALSE(IsXmlName(bad)) << bad;
  }
  EXPECT_EQ(XmlName("strVouchID"), "strVouchID");
  EXPECT_EQ(XmlName("金额"), "金额");
  EXPECT_EQ(XmlName("a=\"1\" forged"), "a_x003D__x0022_1_x0022__x0020_forged");
  EXPECT_EQ(XmlName("1a"), "_x0031_a");
  EXPECT_EQ(XmlName("count(*)"), "count_x0028__x002A__x0029_");
  EXPECT_EQ(XmlName("xmlns"), "_x0078_mlns");
  EXPECT_EQ(XmlName(""), "_");
  // Text that reads like an encoded character is itself encoded, so names never collide.
  EXPECT_EQ(XmlName("a_x0020_"), "a_x005F_x0020_");
  EXPECT_EQ(XmlName("a\xC3"), "a_xFFFD_");  // a byte that starts no character (found by fuzzing)
  for (const char* name : {"a b", "a=\"1\" forged", "1a", "a:b", "", "a_x0020_",
                           "a\xC3"
                           "b"}) {
    EXPECT_TRUE(IsXmlName(XmlName(name))) << name;
  }
}

}  // namespace
}  // namespace rembiz::xml
