#include "XmlParser.h"

#include <gtest/gtest.h>

#include <string>

namespace tessura {
namespace {

TEST(XmlParser, ReadsElementsAttributesTextAndLines) {
    const std::string text =
        "<?xml version=\"1.0\"?>\n"
        "<!-- a comment with <tags> & such -->\n"
        "<!ENTITY product \"Tessura\">\n"
        "<Translation>\n"
        "  <Language>English</Language>\n"
        "  <item name=\"nav/play\" extra=\"a<b>&amp;\">Play</item>\n"
        "  <item name=\"x\">&lt;&gt;&amp;&quot;&apos;&#65;&#x42;&#xE9; &product; &unknown; & alone</item>\n"
        "  <item name=\"cdata\"><![CDATA[<html> & </html>]]></item>\n"
        "  <empty flag=\"1\"/>\n"
        "  <item name='single'>no</item>\n"
        "</Translation>\n"
        "<Translation><Language>Second</Language></Translation>\n";
    XmlParser parser;
    XmlElement doc;
    // Single quotes are not attribute quotes here: that line is an error.
    EXPECT_FALSE(parser.Parse(text, "en.lng", doc));
    EXPECT_EQ(parser.ErrorText(), "tag does not have valid syntax on line 10 of file en.lng");

    std::string fixed = text;
    fixed.replace(fixed.find("name='single'"), 13, "name=\"single\"");
    ASSERT_TRUE(parser.Parse(fixed, "en.lng", doc)) << parser.ErrorText();
    ASSERT_EQ(doc.children.size(), 2u);
    const XmlElement& t = doc.children[0];
    EXPECT_EQ(t.name, "Translation");
    EXPECT_EQ(t.line, 4);
    ASSERT_NE(t.child("language"), nullptr);
    EXPECT_EQ(t.child("Language")->text, "English");
    EXPECT_EQ(t.child("Language")->textLine, 5);
    const XmlElement& play = t.children[1];
    EXPECT_EQ(*play.attribute("name"), "nav/play");
    EXPECT_EQ(*play.attribute("EXTRA"), "a<b>&amp;");  // attribute values as written
    EXPECT_EQ(play.line, 6);
    EXPECT_EQ(t.children[2].text, "<>&\"'AB\xC3\xA9 Tessura &unknown; & alone");
    EXPECT_EQ(t.children[3].text, "<html> & </html>");
    EXPECT_EQ(t.children[4].name, "empty");
    EXPECT_TRUE(t.children[4].children.empty());
    EXPECT_EQ(doc.children[1].child("Language")->text, "Second");
}

struct ErrorCase {
    const char* text;
    int code;
    const char* message;
};

const ErrorCase kErrors[] = {
    {"<a>\n<b>\ntext", XmlParser::kErrEndsInOpenTag,
     "XML code ends with an open tag, tag started on line 2 of file f.lng"},
    {"<a></a>\n</b>", XmlParser::kErrUnequalCount,
     "open/close tags do not have equal count, tag on line 2 of file f.lng still open"},
    {"<a>\n</a x=\"1\">", XmlParser::kErrCloseTagParameters,
     "close tags can't have parameters, tag closed on line 2 of file f.lng"},
    {"<a>\n<b>\n</c>", XmlParser::kErrCloseTagName,
     "close tag has different name to open tag, tag opened on line 2 of file f.lng"},
    {"<a =\"1\">", XmlParser::kErrAttributeNoName, "attribute in tag has no name on line 1 of file f.lng"},
    {"\n\n<a b=1>", XmlParser::kErrTagSyntax, "tag does not have valid syntax on line 3 of file f.lng"},
    {"<a", XmlParser::kErrTagSyntax, "tag does not have valid syntax on line 1 of file f.lng"},
    {"< a>", XmlParser::kErrTagSyntax, "tag does not have valid syntax on line 1 of file f.lng"},
    {"<?xml version", XmlParser::kErrTagSyntax, "tag does not have valid syntax on line 1 of file f.lng"},
    {"<a b=\"1\"c=\"2\">", XmlParser::kErrTagSyntax, "tag does not have valid syntax on line 1 of file f.lng"},
    {"<!ENTITY x 'v'>", XmlParser::kErrEntitySyntax,
     "entity tag does not have valid syntax on line 1 of file f.lng"},
    {"<!ENTITY \"v\">", XmlParser::kErrEntitySyntax,
     "entity tag does not have valid syntax on line 1 of file f.lng"},
    {"\r\n<!DOCTYPE x>", XmlParser::kErrSpecialTag, "special tag is unrecognised on line 2 of file f.lng"},
    {"<a></a/>", XmlParser::kErrCloseTagType,
     "close tag type doesn't match open tag type on line 1 of file f.lng"},
    {"<a><!-- never closed", XmlParser::kErrTagSyntax,
     "tag does not have valid syntax on line 1 of file f.lng"},
};

TEST(XmlParser, ReportsEachFaultWithItsLineAndFile) {
    const auto errors = ErrorService::create();
    for (const ErrorCase& c : kErrors) {
        SCOPED_TRACE(c.text);
        XmlParser parser(errors);
        XmlElement doc;
        EXPECT_FALSE(parser.Parse(c.text, "f.lng", doc));
        EXPECT_EQ(parser.ErrorCode(), c.code);
        EXPECT_EQ(parser.ErrorText(), c.message);
    }
    // The texts are the error service's under the parser's module name.
    EXPECT_TRUE(errors->hasModule(XmlParser::kModuleName));
    EXPECT_EQ(errors->text(XmlParser::kErrSpecialTag), "special tag is unrecognised on line %d of file %s");
}

TEST(XmlParser, BoundsNestingAndEntityExpansion) {
    std::string deep;
    for (int i = 0; i < 100000; ++i) deep += "<a>";
    XmlParser parser;
    XmlElement doc;
    EXPECT_FALSE(parser.Parse(deep, "deep.lng", doc));
    EXPECT_EQ(parser.ErrorCode(), XmlParser::kErrNestingTooDeep);

    std::string fine;
    for (int i = 0; i < XmlParser::kMaxDepth; ++i) fine += "<a>";
    for (int i = 0; i < XmlParser::kMaxDepth; ++i) fine += "</a>";
    EXPECT_TRUE(parser.Parse(fine, "fine.lng", doc)) << parser.ErrorText();

    // Declared entities are not expanded again, so a chain of references stays as it is.
    const std::string chain = "<!ENTITY a \"&b;&b;\"><!ENTITY b \"&a;&a;\"><x>&a;</x>";
    ASSERT_TRUE(parser.Parse(chain, "chain.lng", doc));
    EXPECT_EQ(doc.children[0].text, "&b;&b;");

    // Many references to a large value run into the expansion bound.
    std::string bomb = "<!ENTITY big \"" + std::string(XmlParser::kMaxEntityValue, 'x') + "\"><x>";
    for (std::size_t i = 0; i <= XmlParser::kMaxExpansion / XmlParser::kMaxEntityValue; ++i) bomb += "&big;";
    bomb += "</x>";
    EXPECT_FALSE(parser.Parse(bomb, "bomb.lng", doc));
    EXPECT_EQ(parser.ErrorCode(), XmlParser::kErrEntityExpansion);

    const std::string tooLong = "<!ENTITY big \"" + std::string(XmlParser::kMaxEntityValue + 1, 'x') + "\">";
    EXPECT_FALSE(parser.Parse(tooLong, "long.lng", doc));
    EXPECT_EQ(parser.ErrorCode(), XmlParser::kErrEntityExpansion);
}

}  // namespace
}  // namespace tessura
