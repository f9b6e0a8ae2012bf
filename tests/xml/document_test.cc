#include "xml/document.h"

#include <gtest/gtest.h>

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
