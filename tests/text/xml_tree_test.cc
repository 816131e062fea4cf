#include "runtime/xml/xml_tree.h"

#include <gtest/gtest.h>

#include <string>

namespace kel {
namespace {

TEST(XmlTree, EmptyTextAndSingleElement) {
  TzovXMLTree t;
  t.LoadFromText("");
  EXPECT_EQ(t.ChildCount(), 0u);
  EXPECT_NE(t.Name, "root");
  t.LoadFromText("<a>x</a>");
  EXPECT_EQ(t.Name, "root");
  ASSERT_EQ(t.ChildCount(), 1u);
  EXPECT_EQ(t.Child(0)->Name, "a");
  EXPECT_EQ(t.Child(0)->Text, "x");
  EXPECT_EQ(t.Child(0)->Parent(), &t);
  t.LoadFromText("<b/>");  // a reload replaces the tree
  ASSERT_EQ(t.ChildCount(), 1u);
  EXPECT_EQ(t.Child(0)->Name, "b/");
}

TEST(XmlTree, LookupsCompareNamesIgnoringCaseAttributesExactly) {
  TzovXMLTree t;
  t.LoadFromText("<Root><x><Item k='1' K='2'>deep</Item></x><item>second</item></Root>");
  const TzovXMLNode* r = t.FindChild("ROOT");
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->FindChild("ITEM")->Text, "second");
  EXPECT_EQ(r->FindNode("item")->Text, "deep");  // depth first, document order
  EXPECT_EQ(t.FindNode("root"), r);
  EXPECT_EQ(r->FindNode("root"), nullptr);  // the element itself is not compared
  const TzovXMLNode* item = r->FindNode("item");
  EXPECT_EQ(item->GetAttribute("k"), "1");
  EXPECT_EQ(item->GetAttribute("K"), "2");
  EXPECT_EQ(item->GetAttribute("missing", "def"), "def");
}

TEST(XmlTree, EntitiesAreReplacedInOnePass) {
  TzovXMLTree t;
  t.LoadFromText("<a v=\"&quot;&amp;lt;\">&amp;lt; &lt;&gt;&apos;&quot;&bogus;</a>");
  EXPECT_EQ(t.Child(0)->Text, "&lt; <>'\"&bogus;");
  EXPECT_EQ(t.Child(0)->GetAttribute("v"), "\"&lt;");
}

TEST(XmlTree, TextRulesCdataAndComments) {
  TzovXMLTree t;
  t.LoadFromText("<a>one<b/>two</a>");
  EXPECT_EQ(t.Child(0)->Text, "two");

  t.LoadFromText("<a><![cdata[<x> & y\\n z]]></a>");
  EXPECT_EQ(t.Child(0)->Text, "<x> & y\r\nz");
  EXPECT_TRUE(t.Child(0)->CData);

  t.LoadFromText("<a>x<!-- note\\t here --></a>");
  EXPECT_EQ(t.Child(0)->Text, " note\there ");
  EXPECT_FALSE(t.Child(0)->CData);

  t.LoadFromText("<a>  line\r\none\n\ttwo  </a>");
  EXPECT_EQ(t.Child(0)->Text, "line one  two");

  t.LoadFromText("<a>x<![CDATA[unterminated <b>");  // missing end marker: to the end
  EXPECT_EQ(t.Child(0)->Text, "unterminated <b>");
  EXPECT_EQ(t.Child(0)->ChildCount(), 0u);
}

TEST(XmlTree, TagForms) {
  TzovXMLTree t;
  t.LoadFromText("<a/><a /><c b=\"1\" q='x\"y' d=\"&amp;\"/>");
  ASSERT_EQ(t.ChildCount(), 3u);
  EXPECT_EQ(t.Child(0)->Name, "a/");
  EXPECT_EQ(t.Child(1)->Name, "a");
  const TzovXMLNode* c = t.Child(2);
  ASSERT_EQ(c->Attributes().size(), 3u);
  EXPECT_EQ(c->GetAttribute("q"), "x\"y");
  EXPECT_EQ(c->GetAttribute("d"), "&");

  t.LoadFromText("<a b='>' c=\"<\">t</a>");  // ">" inside quotes does not end the tag
  ASSERT_EQ(t.ChildCount(), 1u);
  EXPECT_EQ(t.Child(0)->GetAttribute("b"), ">");
  EXPECT_EQ(t.Child(0)->Text, "t");

  t.LoadFromText("<a x=1 y=\"2\">");  // attribute parsing stops at a value without quotes
  EXPECT_EQ(t.Child(0)->GetAttribute("x"), "2");  // the first quote after "=" opens the value
  EXPECT_EQ(t.Child(0)->GetAttribute("y"), "");
}

TEST(XmlTree, MalformedInputGivesPartialTree) {
  TzovXMLTree t;
  t.LoadFromText("</x></y><a>1</a></a></a><b/>");  // surplus close tags are ignored
  ASSERT_EQ(t.ChildCount(), 2u);
  EXPECT_EQ(t.Child(1)->Name, "b/");

  t.LoadFromText("<a>b<\"unterminated");  // a "<" without ">" is dropped
  ASSERT_EQ(t.ChildCount(), 1u);
  EXPECT_EQ(t.Child(0)->Text, "\"unterminated");

  t.LoadFromText("<r><x>");  // unclosed elements end with the text
  EXPECT_NE(t.FindNode("x"), nullptr);
  EXPECT_EQ(t.OpenTagCount(), 2u);
}

TEST(XmlTree, LimitsKeepTreeBalanced) {
  TzovXMLTree t;
  t.SetLimits(1, 100);
  t.LoadFromText("<a><b>x<c/></b>y</a><d/>");
  EXPECT_TRUE(t.Truncated());
  ASSERT_EQ(t.ChildCount(), 1u);
  EXPECT_EQ(t.Child(0)->Text, "y");  // text inside the dropped element went nowhere
  EXPECT_EQ(t.Child(0)->ChildCount(), 0u);

  t.SetLimits(10, 1);
  t.LoadFromText("<a p='1' q='2'/>");
  EXPECT_EQ(t.Child(0)->Attributes().size(), 1u);
  EXPECT_TRUE(t.Truncated());
}

TEST(XmlTree, DeepNestingNeedsNoRecursion) {
  std::string s;
  for (int i = 0; i < 300000; ++i) s += "<a>";
  s += "<leaf>v</leaf>";
  TzovXMLTree t;
  t.LoadFromText(s);
  EXPECT_EQ(t.NodeCount(), 300001u);
  const TzovXMLNode* leaf = t.FindNode("leaf");
  ASSERT_NE(leaf, nullptr);
  EXPECT_EQ(leaf->Text, "v");
  EXPECT_EQ(t.FindNode("none"), nullptr);
  t.LoadFromText("");  // frees the deep tree
  EXPECT_EQ(t.ChildCount(), 0u);
}

TEST(XmlReaders, TypedValues) {
  TzovXMLTree t;
  t.LoadFromText(
      "<Req caption='Boiler'><Enabled>1</Enabled><Poll>0</Poll><On check='2'/><Off check='0'/>"
      "<Odd check='7'/><Timeout>$1F</Timeout><Bad>12x</Bad><Sub><Deep>42</Deep></Sub></Req><Other><Deep>5</Deep></Other>");
  const TzovXMLNode* req = t.FindChild("req");
  EXPECT_TRUE(XmlReadBool(req, "enabled", false, false));
  EXPECT_FALSE(XmlReadBool(req, "poll", true, false));
  EXPECT_TRUE(XmlReadBool(req, "on", false, false));
  EXPECT_FALSE(XmlReadBool(req, "off", true, false));
  EXPECT_TRUE(XmlReadBool(req, "odd", true, false));   // unusable state: the default
  EXPECT_FALSE(XmlReadBool(req, "none", false, false));
  EXPECT_EQ(XmlReadInteger(req, "Timeout", 1500, false), 31);
  EXPECT_EQ(XmlReadInteger(req, "Bad", 1500, false), 1500);
  EXPECT_EQ(XmlReadInteger(req, "Deep", 0, false), 0);
  EXPECT_EQ(XmlReadInteger(req, "Deep", 0, true), 42);
  EXPECT_EQ(XmlReadText(req, "req", "", false), "");  // own name: the start element itself
  EXPECT_EQ(XmlReadText(req->FindChild("sub"), "deep", "d", false), "42");
  EXPECT_EQ(XmlReadText(req, "deep", "d", false, t.FindChild("other")), "5");
  EXPECT_EQ(XmlReadText(req, "nowhere", "d", true, t.FindChild("other")), "d");
  EXPECT_EQ(XmlReadInteger(req->FindChild("Enabled"), "deep", 0, true, t.FindChild("other")), 5);
  EXPECT_EQ(XmlReadCaption(req, "Request", 1), "Boiler");
  EXPECT_EQ(XmlReadCaption(t.FindChild("other"), "Request", 3), "Request #3");
}

}  // namespace
}  // namespace kel
