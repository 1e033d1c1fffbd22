// The hub utility's argument tables, code texts and sensor names.
#include <gtest/gtest.h>

#include "args.h"
#include "codes.h"
#include "sensorinfo.h"

namespace {

int parse(std::vector<const char*> words, CmdRecord* record) {
    return CmdLine_Parse(static_cast<int>(words.size()), words.data(), record);
}

TEST(HubctlArgs, AddArgRefusals) {
    ClearArgs();
    EXPECT_EQ(AddArg("Name", 1, 0, 0, ARG_ARGUMENT, "d", "", 0), 1);
    EXPECT_EQ(AddArg(" ", 2, 0, 0, ARG_ARGUMENT, "d", "", 0), 0);
    EXPECT_EQ(AddArg("Value", 3, 1, 0, ARG_ARGUMENT, "d", " ", 0), 0);
    EXPECT_EQ(AddArg("Negative", -1, 0, 0, ARG_ARGUMENT, "d", "", 0), 0);
    EXPECT_EQ(AddArg("NAME", 4, 0, 0, ARG_ARGUMENT, "d", "", 0), 0);
    EXPECT_EQ(AddArg("Other", 1, 0, 0, ARG_ARGUMENT, "d", "", 0), 0);
    EXPECT_EQ(AddArg("Other", 5, 1, 0, ARG_ARGUMENT, "d", "<v>", 0), 1);
    EXPECT_EQ(m_formatArguments->id, 5);  // prepended
    ClearArgs();
}

TEST(HubctlArgs, HelpNameMatching) {
    struct Case {
        const char* given;
        int matches;
    };
    const Case cases[] = {{"h", 1}, {"H", 1}, {"?", 1}, {"help", 1}, {"h|?", 1}, {"hub", 0}, {"Hxy", 0}, {"x", 0}, {"", 0}};
    for (const Case& c : cases)
        EXPECT_EQ(MatchArgName("h|?", c.given), c.matches) << c.given;
    EXPECT_TRUE(MatchArgName("INFO", "info"));
    EXPECT_FALSE(MatchArgName("INFO", "inf"));
}

TEST(HubctlArgs, ParseRules) {
    static CmdRecord record;
    struct Case {
        int table;
        std::vector<const char*> words;
        int code;
        int selected;
    };
    const Case cases[] = {
        {ID_BIST, {"-Test", "3"}, 0, ID_TEST},
        {ID_BIST, {"-test", "3", "-luid", "0073000100010002", "-Verbose", "-Page"}, 0, ID_TEST},
        {ID_BIST, {"-Verbose", "-Test", "3"}, HUB_INVALID_ARGUMENTS, 0},
        {ID_BIST, {"-Test", "3", "-All"}, HUB_INVALID_ARGUMENTS, 0},
        {ID_BIST, {"-Test"}, HUB_INVALID_ARGUMENTS, 0},
        {ID_BIST, {"-Test", "-3"}, HUB_INVALID_ARGUMENTS, 0},
        {ID_BIST, {"Test", "3"}, HUB_INVALID_ARGUMENTS, 0},
        {ID_BIST, {"-Page", "-page"}, HUB_INVALID_ARGUMENTS, 0},
        {ID_BIST, {"-LUID", "0073000100010002"}, 0, ID_NONE},
        {ID_BIST, {"-h", "-LUID", "0073000100010002"}, HUB_INVALID_ARGUMENTS, 0},
        {ID_INFO, {"-BOM", "-Bogus"}, HUB_INVALID_ARGUMENTS, 0},
        {ID_I2C, {"-Calibrate", "1", "-UpdatePDT"}, 0, ID_CALIBRATE},
        {ID_PDT, {"-SetPDT", "a.bin", "-GetPDT", "b.bin"}, HUB_INVALID_ARGUMENTS, 0},
    };
    for (const Case& c : cases) {
        BuildCommandTable(c.table);
        const int code = parse(c.words, &record);
        EXPECT_EQ(code, c.code) << c.words[0];
        if (code == 0) {
            EXPECT_EQ(record.selectedId, c.selected) << c.words[0];
        }
    }
    BuildCommandTable(ID_BIST);
    ASSERT_EQ(parse({"-Test", "2", "-LUID", "a,b", "-Page", "-Verbose"}, &record), 0);
    ASSERT_EQ(record.optionCount, 3);
    EXPECT_EQ(record.options[0].id, ID_PAGE);
    EXPECT_EQ(record.options[1].id, ID_VERBOSE);
    EXPECT_EQ(record.options[2].id, ID_LUID);
    EXPECT_STREQ(GetOption(&record, ID_LUID), "a,b");
    EXPECT_STREQ(record.selectedValue, "2");
    ClearArgs();
}

TEST(HubctlArgs, UsageAlignsOnTheWidestEntry) {
    BuildCommandTable(ID_PDT);
    char text[CMD_TEXT_SIZE];
    CreateUsage("hubctl", "PDT", nullptr, text, sizeof text);
    EXPECT_STREQ(text,
                 "Usage: hubctl -PDT [-arguments] [-options]\n"
                 "Arguments include:\n"
                 "\t -EXP                    :  Valid command line example\n"
                 "\t -h|?                    :  Help information\n"
                 "\t -SetPDT <bin-file-name> :  Writes PDT in <bin-file-path> to TSY FW\n"
                 "\t -GetPDT <bin-file-name> :  Retrieves current PDT from the system and writes it to <bin-file-path>\n"
                 "Options include:\n"
                 "\t -Verbose                :  Will provide detailed information about tool operations\n"
                 "\t -Page                   :  Will pause after output exceeds the screen size\n");
    ClearArgs();
}

TEST(HubctlCodes, Texts) {
    char text[512];
    EXPECT_STREQ(GetCodeText(0, text, sizeof text), "Success");
    EXPECT_STREQ(GetCodeText(8216, text, sizeof text), "err_code:8216, Invalid command-line argument/s");
    EXPECT_STREQ(GetCodeText(3, text, sizeof text), "err_code:3, Please wait, Working in progress");
    EXPECT_STREQ(GetCodeText(5, text, sizeof text), "err_code:5");
    EXPECT_STREQ(GetCodeText(9000, text, sizeof text), "err_code:9000");
    static char list[CMD_TEXT_SIZE];
    GetCodeList(list, sizeof list);
    const std::string codes = list;
    EXPECT_EQ(codes.rfind("\nAvailable codes:\n\n0 : Success\n1 : Command is currently not supported\n", 0), 0u);
    EXPECT_NE(codes.find("8227 : Could not execute BIST: no sensors configured on the device. Please check the PDT "
                         "configuration\n"),
              std::string::npos);
}

TEST(HubctlSensorNames, TypesVendorsAndModels) {
    EXPECT_EQ(getSensorType(0x73), "Motion Accelerometer 3D");
    EXPECT_EQ(getSensorType(0x3F0), "Corvex Free Fall");
    EXPECT_EQ(getSensorType(0x401), "Corvex CHUB");
    EXPECT_EQ(getSensorType(0x4FF), "Corvex CHUB");
    EXPECT_EQ(getSensorType(0x500), "");
    EXPECT_EQ(getSensorType(0x56), "");
    EXPECT_EQ(getVendorName(22), "Dyna");
    EXPECT_EQ(getVendorName(23), "");
    EXPECT_EQ(getSubTypeName(1, 9), "LIS3MDL");
    EXPECT_EQ(getSubTypeName(1, 12), "12");
    EXPECT_EQ(getSubTypeName(0, 0), "0");
    EXPECT_EQ(getSubTypeName(40, 3), "3");
    const _sc_sensor_luid acc{0x73, 1, 1, 0, 2};
    EXPECT_EQ(getSensorModel(acc, true, true), "ST Micro, Motion Accelerometer 3D, LSM303D");
    EXPECT_EQ(getSensorModel(acc, true, false), "ST Micro, LSM303D");
    EXPECT_EQ(getSensorModel(acc, false, false), "LSM303D");
    EXPECT_EQ(getSensorModel(_sc_sensor_luid{0x999, 1, 12, 0, 0}, true, true), "ST Micro, , 12");
}

}  // namespace
