// The generic scan of the argument engine, on a small table of its own.
#include <gtest/gtest.h>

#include "cmdline/CmdLineArguments.h"

namespace {

CmdLineArguments makeEngine(bool withMandatory = false) {
    CmdLineArguments::Format format;
    format.AddArg("SetPDT", true, false, true, "Set", 0x04, "<bin-file-path>", true);
    format.AddArg("GetPDT", true, false, true, "Get", 0x00, "<bin-file-path>", true);
    format.AddArg("Test", true, false, false, "Run BIST", 0x04, "<level>", true);
    format.AddArg("Quiet", false, withMandatory, false, "No output", 0x04, "", true);
    return CmdLineArguments(format, nullptr);
}

std::string parseError(CmdLineArguments engine, std::vector<std::string> words) {
    std::vector<const char*> argv;
    for (const std::string& w : words)
        argv.push_back(w.c_str());
    argv.push_back(nullptr);
    try {
        engine.Parse(static_cast<int>(words.size()), argv.data(), true);
    } catch (const CmdLineException& e) {
        return e.what();
    }
    return "";
}

struct ScanCase {
    std::vector<std::string> words;
    std::string message;  // empty: accepted
};

class GenericScan : public ::testing::TestWithParam<ScanCase> {};

TEST_P(GenericScan, ReportsTheFirstRuleBroken) {
    EXPECT_EQ(parseError(makeEngine(), GetParam().words), GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(
    Engine, GenericScan,
    ::testing::Values(
        ScanCase{{"tool"}, "No command was specified"},
        ScanCase{{"tool", "SetPDT"}, "Invalid argument: 'SetPDT'"},
        ScanCase{{"tool", ""}, "Invalid argument: ''"},
        ScanCase{{"tool", "-"}, "Invalid argument: ''"},
        ScanCase{{"tool", "-Bogus"}, "Invalid argument: 'Bogus'"},
        ScanCase{{"tool", "-setpdt", "a.bin"}, ""},
        ScanCase{{"tool", "-SetPDT", "a.bin", "-SETPDT", "b.bin"}, "The 'SETPDT' argument was already specified"},
        ScanCase{{"tool", "-SetPDT"}, "Could not find value for 'SetPDT'"},
        ScanCase{{"tool", "-setPDT", "-Test", "1"}, "Could not find value for 'setPDT'"},
        ScanCase{{"tool", "-SetPDT", "a.bin", "-Test", "-1"}, "Could not find value for 'Test'"},
        ScanCase{{"tool", "-SetPDT", "a.bin", "-Test", "2", "-Quiet"}, ""},
        ScanCase{{"tool", "-Test", "2"}, "No command was specified"},
        ScanCase{{"tool", "-GetPDT", "a.bin", "-Test", "2"},
                 "Invalid combination of commands. The GetPDT argument cannot be used together with Test"},
        ScanCase{{"tool", "-test", "2", "-getpdt", "a.bin"},
                 "Invalid combination of commands. The GetPDT argument cannot be used together with Test"},
        ScanCase{{"tool", "-SetPDT", "a.bin", "-GetPDT", "b.bin"},
                 "Invalid combination of commands. The SetPDT argument cannot be used together with GetPDT"},
        ScanCase{{"tool", "-SetPDT", "a.bin", "x"}, "Invalid argument: 'x'"},
        ScanCase{{"tool", "-SetPDT", ""}, ""},
        ScanCase{{"tool", "-\xff\xfe"}, "Invalid argument: '\xff\xfe'"}));

TEST(Engine, MandatoryRowsAreCheckedAfterTheScan) {
    EXPECT_EQ(parseError(makeEngine(true), {"tool", "-SetPDT", "a.bin"}),
              "The mandatory argument: 'Quiet' is not specified");
    EXPECT_EQ(parseError(makeEngine(true), {"tool", "-SetPDT", "a.bin", "-quiet"}), "");
}

TEST(Engine, RejectsMissingOrNegativeArgumentVector) {
    CmdLineArguments engine = makeEngine();
    EXPECT_THROW(
        {
            try {
                engine.Parse(1, nullptr, true);
            } catch (const CmdLineException& e) {
                EXPECT_STREQ(e.what(), "No Command line arguments");
                throw;
            }
        },
        CmdLineException);
    const char* argv[] = {"tool", nullptr};
    EXPECT_THROW(
        {
            try {
                engine.Parse(-1, argv, true);
            } catch (const CmdLineException& e) {
                EXPECT_STREQ(e.what(), "Negative number of arguments");
                throw;
            }
        },
        CmdLineException);
    EXPECT_EQ(parseError(makeEngine(), {}), "No command was specified");
}

TEST(Engine, QueriesByCanonicalName) {
    CmdLineArguments engine = makeEngine();
    const char* argv[] = {"path\\to\\tool", "-setpdt", "image.bin", "-QUIET", nullptr};
    engine.Parse(4, argv, true);
    EXPECT_TRUE(engine.ArgExists("SetPDT"));
    EXPECT_TRUE(engine.ArgExists("quiet"));
    EXPECT_FALSE(engine.ArgExists("Test"));
    EXPECT_EQ(engine.GetArgValue("SetPDT"), "image.bin");
    EXPECT_EQ(engine.GetArgValue("setpdt"), "") << "value lookup is by exact canonical name";
    EXPECT_EQ(engine.GetArgValue("Quiet"), "");
    EXPECT_EQ(engine.getProgramPath(), "path\\to\\tool");
    ASSERT_EQ(engine.getArgs().size(), 2u);
    EXPECT_EQ(engine.getArgs()[0].name, "SetPDT");
    EXPECT_EQ(engine.getArgs()[1].name, "Quiet");
}

TEST(Engine, ValidatesExtensionOfPresentArgumentsOnly) {
    CmdLineArguments engine = makeEngine();
    const char* argv[] = {"tool", "-SetPDT", "image.txt", nullptr};
    engine.Parse(3, argv, true);
    EXPECT_NO_THROW(engine.ValidateArgExtension("GetPDT", "bin"));
    try {
        engine.ValidateArgExtension("SetPDT", "bin");
        FAIL() << "expected an extension error";
    } catch (const CmdLineException& e) {
        EXPECT_STREQ(e.what(), "Invalid extension for file image.txt. Valid extension is only .bin");
    }
}

TEST(Engine, ComparesNamesIgnoringCaseAndLength) {
    EXPECT_TRUE(CompareStringCaseSensitive("NoEnter", "noenter"));
    EXPECT_TRUE(CompareStringCaseSensitive("", ""));
    EXPECT_FALSE(CompareStringCaseSensitive("NoEnter", "NoEnte"));
    EXPECT_FALSE(CompareStringCaseSensitive("abc", "abd"));
    EXPECT_TRUE(CompareStringCaseSensitive("\xc3\xa9", "\xc3\xa9"));
}

TEST(Engine, RecognisesPlainDecimalNumbers) {
    for (const char* yes : {"0", "5", "2000", "000123", "99999999999999999999999"})
        EXPECT_TRUE(is_number(yes)) << yes;
    for (const char* no : {"", "+5", "-5", "5ms", " 5", "5 ", "1.5", "0x10"})
        EXPECT_FALSE(is_number(no)) << no;
}

TEST(Engine, ExtensionIsTheTextAfterTheLastDot) {
    struct Case {
        const char* path;
        const char* ext;
        bool expected;
    };
    const Case cases[] = {
        {"results.XML", "xml", true}, {"results", "xml", false}, {"a.b.xml", "xml", true},
        {"a.xmlx", "xml", false},     {"xml", "xml", true},      {"dir.d/file", "xml", false},
        {".xml", "xml", true},        {"a.", "xml", false},      {"a.xml.", "xml", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(validateExtension(c.path, c.ext), c.expected) << c.path;
}

TEST(Engine, ProgramNameDropsEverythingUpToTheLastBackslash) {
    EXPECT_EQ(programName("C:\\tools\\sensortrim.exe"), "sensortrim.exe");
    EXPECT_EQ(programName("./build/sensortrim"), "./build/sensortrim");
    EXPECT_EQ(programName("trailing\\"), "");
    EXPECT_EQ(programName(""), "");
}

TEST(Engine, DescriptionAlignsColonsOnTheWidestCommand) {
    const std::string text = makeEngine().getFormat().DescribeOptions();
    // Widest command row: SetPDT + <bin-file-path> = 21 characters.
    EXPECT_EQ(text,
              " -SetPDT <bin-file-path> :  Set\n"
              " -GetPDT <bin-file-path> :  Get\n"
              " -Test <level>" + std::string(11, ' ') + ":  Run BIST\n"
              " -Quiet " + std::string(17, ' ') + ":  No output\n");
}

}  // namespace
