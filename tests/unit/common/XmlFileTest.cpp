#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "RunProcess.h"
#include "xml/XmlFile.h"

namespace {

TEST(XmlFile, NestingIsCountedAsTinyXmlReadsTags) {
    struct Case {
        const char* text;
        int depth;
        int row;
    };
    const Case cases[] = {
        {"", 0, 0},
        {"<a/>", 1 - 1, 0},
        {"<a></a>", 1, 1},
        {"<a><b><c/></b></a>", 2, 1},
        {"<a>\n<b>\n<c>x</c></b><d/></a>", 3, 3},
        // Markup that is no element does not nest.
        {"<?xml version=\"1.0\"?><!-- <x><y><z> --><a><![CDATA[<p><q>]]></a>", 1, 1},
        {"<!DOCTYPE a><a></a>", 1, 1},
        // A '>' or '<' inside a quoted value belongs to the value.
        {"<a x=\">\" y = '<b>'><c></c></a>", 2, 1},
        // A quote that does not follow '=' opens no value: the tags after it count.
        {"<a x=b\"c><b><c><d>", 4, 1},
        // Stray end tags never make the count negative.
        {"</a></a><b><c>", 2, 1},
    };
    for (const Case& c : cases) {
        int row = -1;
        EXPECT_EQ(xmlfile::nestingDepth(c.text, 100, row), c.depth) << c.text;
        EXPECT_EQ(row, c.row) << c.text;
    }
    std::string deep;
    for (int i = 0; i < 1000; ++i)
        deep += "<a>";
    int row = 0;
    EXPECT_EQ(xmlfile::nestingDepth(deep, 10, row), 11);
}

TEST(XmlFile, TextEndingInsideAUtf8CharacterIsReadWithinItsBuffer) {
    // A lead byte announcing more bytes than the text has left: the parser
    // must stop at the end (the sanitizer builds check it reads nothing past).
    for (const std::string& text : {std::string("<r><a\xf0"), std::string("<r a=\"\xe0"), std::string("<\xef"),
                                    std::string("<r>\xf4")}) {
        TiXmlDocument doc;
        const xmlfile::Result r = xmlfile::parse(text, doc);
        EXPECT_EQ(static_cast<int>(r.status), static_cast<int>(xmlfile::Status::ParseError)) << text;
    }
}

TEST(XmlFile, HostileFilesAreRefusedBeforeParsing) {
    const std::string dir = makeTempDir();
    std::string deep = "<r>\n";
    for (int i = 0; i < 100000; ++i)
        deep += "<a>";
    writeFile(dir + "/deep.xml", deep);
    writeFile(dir + "/fine.xml", "<r>\r\n<a x=\"1\"/>\r\n</r>\r\n");
    writeFile(dir + "/bad.xml", "<r>\n<a>\n</r>\n");
    struct Case {
        std::string path;
        xmlfile::Status status;
        int row;
    };
    const Case cases[] = {
        {dir + "/deep.xml", xmlfile::Status::TooDeep, 2},
        {dir + "/fine.xml", xmlfile::Status::Ok, 0},
        {dir + "/bad.xml", xmlfile::Status::ParseError, 3},
        {dir, xmlfile::Status::CannotOpen, 0},
        {dir + "/missing.xml", xmlfile::Status::CannotOpen, 0},
    };
    for (const Case& c : cases) {
        TiXmlDocument doc;
        const xmlfile::Result r = xmlfile::load(c.path, doc);
        EXPECT_EQ(static_cast<int>(r.status), static_cast<int>(c.status)) << c.path;
        EXPECT_EQ(r.row, c.row) << c.path << " " << r.description;
    }
    // Line ends are made "\n" as TinyXML's own loader does.
    TiXmlDocument doc;
    ASSERT_TRUE(xmlfile::load(dir + "/fine.xml", doc).ok());
    EXPECT_EQ(doc.RootElement()->FirstChildElement("a")->Row(), 2);
    std::system(("rm -rf '" + dir + "'").c_str());
}

}  // namespace
