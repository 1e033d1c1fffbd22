// The trace configuration file and the printed configuration and log header.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "Configuration.h"
#include "RunProcess.h"

namespace {

class TraceConfigFile : public ::testing::Test {
protected:
    void SetUp() override { dir = makeTempDir(); }
    void TearDown() override { std::system(("rm -rf '" + dir + "'").c_str()); }

    // A file with the eight elements, one of them replaced.
    std::string file(const std::string& element, const std::string& value) {
        const char* names[] = {"TraceInterfacesMask", "I2CBUS",        "I2CAddress",     "HostDebugEnabled",
                               "TraceModeMask",       "BufferSize",    "LowestPriority", "CompFilterMask"};
        const char* values[] = {"1", "2", "0x19", "1", "3", "16", "6", "0001"};
        std::string xml = "<myConfiguration>\n";
        for (int i = 0; i < 8; ++i) {
            if (element == names[i] && value == "<absent>")
                continue;
            xml += std::string("  <") + names[i] + ">" + (element == names[i] ? value : values[i]) + "</" + names[i] +
                   ">\n";
        }
        return xml + "</myConfiguration>\n";
    }

    std::string dir;
};

TEST_F(TraceConfigFile, ValuesBasesAndMasks) {
    struct Case {
        std::string element, value;
        bool valid;
        size_t field;  // byte of the record to check (0-7), 8+ for a mask entry
        unsigned expected;
    };
    const Case cases[] = {
        {"", "", true, 2, 0x19},
        {"I2CAddress", "19", true, 2, 0x19},         // hexadecimal, with or without 0x
        {"I2CAddress", "ff", true, 2, 0x7f},         // seven bits kept
        {"I2CBUS", "7", true, 1, 3},                 // two bits
        {"HostDebugEnabled", "3", true, 3, 1},       // one bit
        {"LowestPriority", "15", true, 6, 7},        // three bits
        {"TraceInterfacesMask", "255", true, 0, 255},
        {"BufferSize", "12a", false, 0, 0},          // trailing characters
        {"BufferSize", "256", false, 0, 0},          // past its byte
        {"BufferSize", "-1", false, 0, 0},
        {"BufferSize", "", false, 0, 0},
        {"TraceModeMask", "0x3", false, 0, 0},       // decimal only
        {"I2CAddress", "0xzz", false, 0, 0},
        {"LowestPriority", "<absent>", false, 0, 0},
        // The mask: 16 groups of four hex digits, a short text padded with zeros.
        {"CompFilterMask", "0001", true, 8, 1},
        {"CompFilterMask", "0001", true, 9, 0},
        {"CompFilterMask", "0000000400000000000000000000000000000000000000000000000000000000", true, 9, 4},
        {"CompFilterMask", "00000000000000000000000000000000000000000000000000000000000000FF", true, 23, 0xff},
        // At the edge of the padding: 63 characters leave the last group three
        // digits, read as they are; 62 are padded first.
        {"CompFilterMask", std::string(60, '0') + "abc", true, 23, 0xabc},
        {"CompFilterMask", std::string(60, '0') + "ab", true, 23, 0xab00},
        {"CompFilterMask", std::string(60, '0') + "abcd", true, 23, 0xabcd},
        {"CompFilterMask", "000g", false, 0, 0},
        {"CompFilterMask", std::string(65, '0'), false, 0, 0},
        {"CompFilterMask", std::string(100000, 'f'), false, 0, 0},
    };
    for (const Case& c : cases) {
        writeFile(dir + "/c.xml", file(c.element, c.value));
        try {
            const trace_config_t config = Configuration::parseConfiguration(dir + "/c.xml");
            EXPECT_TRUE(c.valid) << c.element << "=" << c.value;
            const std::vector<uint8_t> record = config.encode();
            ASSERT_EQ(record.size(), 40u);
            EXPECT_EQ(record[7], 0);  // reserved
            const unsigned value = c.field < 8 ? record[c.field]
                                               : static_cast<unsigned>(record[8 + 2 * (c.field - 8)] |
                                                                       record[9 + 2 * (c.field - 8)] << 8);
            EXPECT_EQ(value, c.expected) << c.element << "=" << c.value;
        } catch (const ConfigException& e) {
            EXPECT_FALSE(c.valid) << c.element << "=" << c.value;
            EXPECT_EQ(e.getCode(), 8199);
            EXPECT_STREQ(e.what(), "Invalid config file");
        }
    }
}

TEST_F(TraceConfigFile, FilesThatAreNoConfiguration) {
    std::string deep = "<myConfiguration>";
    for (int i = 0; i < 50000; ++i)
        deep += "<a>";
    const std::pair<std::string, std::string> cases[] = {
        {"notxml.xml", "not XML at all"},
        {"root.xml", "<configuration><BufferSize>1</BufferSize></configuration>"},
        {"empty.xml", ""},
        {"deep.xml", deep},
    };
    for (const auto& c : cases) {
        writeFile(dir + "/" + c.first, c.second);
        EXPECT_THROW(Configuration::parseConfiguration(dir + "/" + c.first), ConfigException) << c.first;
    }
    EXPECT_THROW(Configuration::parseConfiguration(dir + "/missing.xml"), ConfigException);
    EXPECT_THROW(Configuration::parseConfiguration(dir), ConfigException);
}

TEST(TraceConfigTexts, StatusesAndTheErrorTable) {
    const std::pair<int, const char*> cases[] = {
        {0, "Success"},
        {1, "Invalied Command"},
        {2, "Illegal configuration request"},
        {3, "Error during buffer mode configuration"},
        {4, "Error when saving the configuration to flash"},
        {5, "Unknown Error"},
        {8192, "DOXI general Error"},
        {8199, "Invalid config file"},
        {8202, "Unsupported Command line Argument(s)"},
        {8203, "Unknown Error"},
        {8208, "Process does not have required priviliges. Please run as Administrator"},
    };
    for (const auto& c : cases)
        EXPECT_STREQ(getConfigErrorMessage(c.first), c.second) << c.first;
}

TEST(TraceConfigTexts, LogHeaderWithItsVersionWarnings) {
    uint8_t header[32] = {'T', 'S', 'Y', 0};
    header[16] = 1;
    header[17] = 24;
    header[18] = 2;
    header[19] = 1;
    const uint16_t version[4] = {3, 1, 0, 3426};
    for (int i = 0; i < 4; ++i) {
        header[20 + 2 * i] = static_cast<uint8_t>(version[i]);
        header[21 + 2 * i] = static_cast<uint8_t>(version[i] >> 8);
    }
    EXPECT_EQ(PrintTraceHeader(header, sizeof header),
              "Trace Log Header flag:        TSY\n"
              "Trace Log Header version:     1\n"
              "Trace Log Header length:      24\n"
              "       tools support version: 32, please align the version, otherwise parsing errors may occur.\n"
              "Trace Message Format version: 1\n"
              "Trace Config Format version:  2\n"
              "       tools support version: 1, please align the version, otherwise parsing errors may occur.\n"
              "FW version                    3.1.0.3426\n");
    // A flag that fills its 16 bytes without a NUL is shown without running on.
    for (int i = 0; i < 16; ++i)
        header[i] = 'F';
    EXPECT_EQ(PrintTraceHeader(header, sizeof header).substr(0, 47),
              "Trace Log Header flag:        FFFFFFFFFFFFFFFF\n");
    header[16] = 0;
    EXPECT_EQ(PrintTraceHeader(header, sizeof header), "Invalid trace log header!");
    header[16] = 1;
    header[0] = 0;
    EXPECT_EQ(PrintTraceHeader(header, sizeof header), "Invalid trace log header!");
    EXPECT_EQ(PrintTraceHeader(header, 20), "Invalid trace log header!");
}

}  // namespace
