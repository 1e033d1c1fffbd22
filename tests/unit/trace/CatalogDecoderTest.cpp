// The trace decoder: conversions, message types, components, hex dumps and
// the catalogue files.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "CatalogDecoder.h"
#include "RunProcess.h"
#include "trace/TraceErrors.h"
#include "trace/TracePacket.h"

namespace {

std::vector<uint8_t> u32(std::initializer_list<uint32_t> values) {
    std::vector<uint8_t> out;
    for (uint32_t v : values)
        for (int i = 0; i < 4; ++i)
            out.push_back(static_cast<uint8_t>(v >> (8 * i)));
    return out;
}

std::vector<uint8_t> str(const std::string& s) {
    std::vector<uint8_t> out(s.begin(), s.end());
    out.push_back(0);
    return out;
}

std::vector<uint8_t> cat(std::vector<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> out;
    for (const auto& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

TEST(TraceExpansion, ConversionsOfPrintf) {
    struct Case {
        std::string format;
        std::vector<uint8_t> arguments;
        std::string text;
        bool complete;
    };
    const Case cases[] = {
        {"plain text\n", {}, "plain text\n", true},
        {"%d %i", u32({0xFFFFFFFF, 7}), "-1 7", true},
        {"%u", u32({0xFFFFFFFF}), "4294967295", true},
        {"%x %X %08x %#o", u32({0xBEEF, 0xBEEF, 0x1F, 8}), "beef BEEF 0000001f 010", true},
        // Zero-extended to 64 bits: l and ll print the 32-bit value unsigned.
        {"%lx %llu %ld", u32({0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF}), "ffffffff 4294967295 4294967295", true},
        {"%zu %zx", u32({42, 255}), "42 ff", true},
        {"[%5d|%-5d]", u32({12, 34}), "[   12|34   ]", true},
        {"%hd %hhu", u32({0x12345, 0x1FF}), "9029 255", true},
        {"%c%c", u32({'o', 'k'}), "ok", true},
        {"%p", u32({0x1000}), "0x1000", true},
        {"100%% done, %d%%", u32({5}), "100% done, 5%", true},
        {"%5% gone", {}, " gone", true},
        // n consumes its argument and prints nothing.
        {"%n%d", u32({1, 2}), "2", true},
        {"%s and %s", cat({str("one"), str("two")}), "one and two", true},
        {"[%6s|%-6s|%.2s]", cat({str("ab"), str("cd"), str("xyz")}), "[    ab|cd    |xy]", true},
        {"%s", str("value %d"), "corrupted string", true},
        {"%s", str("50%% off"), "50%% off", true},
        {"%s %d", cat({str(""), u32({3})}), " 3", true},
        // Conversions that would read other arguments are shown, not formatted.
        {"%*d %d", u32({4, 5}), "%*d 5", true},
        {"%1$d", u32({4}), "%1$d", true},
        {"%1000d", u32({4}), "%1000d", true},
        {std::string("%\0\0d", 4), u32({4}), std::string("%\0\0d", 4), true},
        {std::string("%z\0 ", 4), u32({4}), std::string("%z\0 ", 4), true},
        {"tail %5", {}, "tail %5", true},
        // More conversions than arguments, a string without its end.
        {"%d %d", u32({1}), "1 <missing argument>", false},
        {"%d", {1, 2, 3}, "<missing argument>", false},
        {"%s!", {'a', 'b'}, "<string argument without its end>!", false},
        {"%s %s", str("a"), "a <missing argument>", false},
    };
    for (const Case& c : cases) {
        std::string out;
        const bool complete = CatalogDecoder::expand(c.format.data(), c.format.size(), c.arguments.data(),
                                                     c.arguments.size(), out);
        EXPECT_EQ(out, c.text) << c.format;
        EXPECT_EQ(complete, c.complete) << c.format;
    }
    // Every formatted piece stops at 243 characters.
    std::string out;
    const std::vector<uint8_t> one = u32({1});
    CatalogDecoder::expand("%300d|", 6, one.data(), one.size(), out);
    EXPECT_EQ(out, std::string(243, ' ') + "|");
    out.clear();
    const std::vector<uint8_t> longText = str(std::string(500, 'x'));
    CatalogDecoder::expand("%s", 2, longText.data(), longText.size(), out);
    EXPECT_EQ(out, std::string(243, 'x'));
}

TEST(TraceExpansion, HexDumpLayout) {
    std::vector<uint8_t> bytes;
    for (int i = 0; i < 20; ++i)
        bytes.push_back(static_cast<uint8_t>(0x1e + i));
    std::string text;
    CatalogDecoder::BufToHexString(bytes.data(), bytes.size(), text);
    EXPECT_EQ(text,
              "1e 1f 20 21 22 23 24 25 26 27 28 29 2a 2b 2c 2d ...!\"#$%&'()*+,-\n"
              "2e 2f 30 31 " + std::string(36, ' ') + "./01" + std::string(12, ' ') + "\n");
    text.clear();
    CatalogDecoder::BufToHexString(bytes.data(), 16, text);
    EXPECT_EQ(text, "1e 1f 20 21 22 23 24 25 26 27 28 29 2a 2b 2c 2d ...!\"#$%&'()*+,-\n");
    text.clear();
    CatalogDecoder::BufToHexString(bytes.data(), 0, text);
    EXPECT_EQ(text, "");
}

class TraceDecoder : public ::testing::Test {
protected:
    void SetUp() override {
        dir = makeTempDir();
        writeFile(dir + "/comp.xml",
                  "<components>\n"
                  "  <!-- a comment is no child element -->\n"
                  "  <major_component string=\"MAIN\" value=\"1\">\n"
                  "    <sub_component string=\"TWO\" value=\"2\"/>\n"
                  "    <sub_component string=\"BEYOND\" value=\"1f\"/>\n"
                  "  </major_component>\n"
                  "  <major_component string=\"TOP\" value=\"0xF\">\n"
                  "    <sub_component string=\"LAST\" value=\"F\"/>\n"
                  "  </major_component>\n"
                  "  <major_component string=\"OUT\" value=\"10\">\n"
                  "    <sub_component string=\"NEVER\" value=\"0\"/>\n"
                  "  </major_component>\n"
                  "</components>\n");
        writeFile(dir + "/cat.xml",
                  "<catalog>\n"
                  "  <catalog_entry id=\"a\" string=\"value %d&#10;\"/>\n"
                  "  <catalog_entry id=\"A\" string=\"second of the same id\"/>\n"
                  "  <catalog_entry id=\"0xffffffff\" string=\"last id %s\"/>\n"
                  "</catalog>\n");
        decoder.Init(dir + "/cat.xml", dir + "/comp.xml");
    }
    void TearDown() override { std::system(("rm -rf '" + dir + "'").c_str()); }

    // Decodes a message built from its fields.
    bool decode(uint8_t type, uint8_t priority, uint8_t component, const std::vector<uint8_t>& payload,
                std::string& text, size_t cut = 0) {
        const std::vector<uint8_t> bytes = tracepkt::encodeMessage(123456789012ull, type, priority, component, payload);
        tracepkt::TraceMessage message;
        tracepkt::readMessage(bytes.data(), bytes.size() - cut, message);
        return decoder.Decode(message, text);
    }

    std::string dir;
    CatalogDecoder decoder;
};

TEST_F(TraceDecoder, MessagesBecomeLines) {
    struct Case {
        uint8_t type, priority, component;
        std::vector<uint8_t> payload;
        std::string text;
        bool ok;
    };
    const Case cases[] = {
        {1, 6, 0x12, cat({u32({0xa, 7})}), "[INFO:123456789012:TWO] value 7\n", true},
        {1, 0, 0xFF, cat({u32({0xffffffff}), str("x")}), "[EMERGENCY:123456789012:LAST] last id x", true},
        {0, 7, 0x00, cat({str("inline %u"), u32({9})}), "[DEBUG:123456789012:UNKNOWN_COMPONENT] inline 9", true},
        {2, 3, 0x12, {0x41, 0x00}, "[ERROR:123456789012:TWO] 41 00 " + std::string(42, ' ') + "A." +
                                       std::string(14, ' ') + "\n", true},
        // Values above 15 in the component file have no slot.
        {1, 4, 0x1F, u32({0xa, 1}), "[WARNING:123456789012:UNKNOWN_COMPONENT] value 1\n", true},
        {1, 6, 0x12, u32({0x63}), "Invalid catalog ID: 0x63\n", false},
        {1, 6, 0x12, {1, 2}, "Catalogued message without its catalog ID\n", false},
        {3, 6, 0x12, {}, "Unsupported trace message type: 3\n", false},
        {15, 6, 0x12, {}, "Unsupported trace message type: 15\n", false},
        {0, 6, 0x12, {'a', 'b'}, "Inline format string without its terminating NUL\n", false},
        {1, 5, 0x12, u32({0xa}), "[NOTICE:123456789012:TWO] value <missing argument>\n", false},
    };
    for (const Case& c : cases) {
        std::string text;
        EXPECT_EQ(decode(c.type, c.priority, c.component, c.payload, text), c.ok) << c.text;
        EXPECT_EQ(text, c.text);
    }
    // A payload that runs past the bytes read is not read beyond them.
    std::string text;
    EXPECT_FALSE(decode(1, 6, 0x12, u32({0xa, 7}), text, 3));
    EXPECT_EQ(text, "Message truncated: 5 of 8 payload bytes were read\n");
    // The first entry of an id is the one used.
    ASSERT_EQ(decoder.getCatalog().size(), 3u);
    EXPECT_EQ(decoder.getCatalog()[1].format, "second of the same id");
}

TEST_F(TraceDecoder, UnusableFilesFailTheLoad) {
    std::string deep = "<catalog>";
    for (int i = 0; i < 50000; ++i)
        deep += "<a>";
    const std::vector<std::pair<std::string, std::string>> components = {
        {"missing.xml", ""},
        {"notxml.xml", "this is not XML"},
        {"root.xml", "<catalog/>"},
        {"child.xml", "<components><major string=\"A\" value=\"1\"/></components>"},
        {"sub.xml", "<components><major_component string=\"A\" value=\"1\"><x/></major_component></components>"},
        {"value.xml", "<components><major_component string=\"A\" value=\"1g\"/></components>"},
        {"name.xml", "<components><major_component value=\"1\"/></components>"},
        {"deep.xml", deep},
    };
    for (const auto& c : components) {
        if (!c.second.empty())
            writeFile(dir + "/" + c.first, c.second);
        CatalogDecoder fresh;
        try {
            fresh.Init(dir + "/cat.xml", dir + "/" + c.first);
            ADD_FAILURE() << c.first;
        } catch (const tracetools::CollectorException& e) {
            EXPECT_EQ(e.getCode(), 8198) << c.first;
            EXPECT_STREQ(e.what(), "Failed to read file");
        }
    }
    const std::vector<std::pair<std::string, std::string>> catalogs = {
        {"c-root.xml", "<components/>"},
        {"c-child.xml", "<catalog><entry id=\"1\" string=\"x\"/></catalog>"},
        {"c-id.xml", "<catalog><catalog_entry id=\"100000000\" string=\"x\"/></catalog>"},
        {"c-string.xml", "<catalog><catalog_entry id=\"1\"/></catalog>"},
        {"deep.xml", deep},
    };
    for (const auto& c : catalogs) {
        writeFile(dir + "/" + c.first, c.second);
        CatalogDecoder fresh;
        EXPECT_THROW(fresh.Init(dir + "/" + c.first, dir + "/comp.xml"), tracetools::CollectorException) << c.first;
    }
}

TEST(TracePacket, HeaderAndMessageFields) {
    tracepkt::trace_doxi_header_t h;
    const uint8_t bytes[] = {0x81, 0x34, 0x12, 0x07};
    ASSERT_TRUE(tracepkt::decodeHeader(bytes, 4, h));
    EXPECT_EQ(h.command, 1);
    EXPECT_TRUE(h.is_response);
    EXPECT_EQ(h.length, 0x1234);
    EXPECT_EQ(h.status, 7);
    EXPECT_FALSE(tracepkt::decodeHeader(bytes, 3, h));
    EXPECT_EQ(tracepkt::encodeHeader(h), std::vector<uint8_t>(bytes, bytes + 4));
    EXPECT_EQ(tracepkt::request(0), (std::vector<uint8_t>{0, 0, 0, 0}));

    const std::vector<uint8_t> m = tracepkt::encodeMessage(0x0102030405060708ull, 2, 5, 0x3c, {9, 8, 7});
    EXPECT_EQ(m, (std::vector<uint8_t>{8, 7, 6, 5, 4, 3, 2, 1, 0x52, 0x3c, 3, 0, 9, 8, 7}));
    tracepkt::TraceMessage message;
    EXPECT_EQ(tracepkt::readMessage(m.data(), m.size(), message), tracepkt::MessageRead::Ok);
    EXPECT_EQ(message.timestamp, 0x0102030405060708ull);
    EXPECT_EQ(message.type, 2);
    EXPECT_EQ(message.priority, 5);
    EXPECT_EQ(message.component, 0x3c);
    EXPECT_EQ(message.bufferLength, 3);
    EXPECT_EQ(tracepkt::readMessage(m.data(), 14, message), tracepkt::MessageRead::TruncatedPayload);
    EXPECT_EQ(message.available, 2u);
    EXPECT_EQ(tracepkt::readMessage(m.data(), 11, message), tracepkt::MessageRead::TruncatedHeader);
}

}  // namespace
