// The calibration tool's command-line rules and usage text.
#include <gtest/gtest.h>

#include <sstream>

#include "SensortrimCmdLine.h"

namespace {

std::vector<std::string> split(const std::string& line) {
    std::vector<std::string> words{"sensortrim"};
    std::istringstream in(line);
    for (std::string w; in >> w;)
        words.push_back(w);
    return words;
}

std::string parseError(const std::string& line) {
    const std::vector<std::string> words = split(line);
    std::vector<const char*> argv;
    for (const std::string& w : words)
        argv.push_back(w.c_str());
    argv.push_back(nullptr);
    CmdLineArguments args = createSensortrimArguments();
    try {
        args.Parse(static_cast<int>(words.size()), argv.data(), true);
    } catch (const CmdLineException& e) {
        return e.what();
    }
    return "";
}

struct RuleCase {
    const char* line;
    const char* message;  // empty: accepted
};

std::ostream& operator<<(std::ostream& os, const RuleCase& c) {
    return os << '"' << c.line << '"';
}

class ProgramRules : public ::testing::TestWithParam<RuleCase> {};

TEST_P(ProgramRules, GiveTheExpectedVerdict) {
    EXPECT_EQ(parseError(GetParam().line), GetParam().message);
}

const char kCombination[] = "Invalid combination of commands. The ";
const char kInvalidCalibrate[] = "Invalid value for calibrate command. Valid values are AGM(can be partial) and ALS";
const char kNoGyro[] = "Only if you perform full calibration of gyroscope, you can use the NoGyroRotation command";

INSTANTIATE_TEST_SUITE_P(
    Sensortrim, ProgramRules,
    ::testing::Values(
        // Generic scan on the real table.
        RuleCase{"", "No command was specified"},
        RuleCase{"-Calibrate -UpdateTSY", "Could not find value for 'Calibrate'"},
        RuleCase{"-Calibrate AGM -TestCalibration AG -FourSteps",
                 "Invalid combination of commands. The Calibrate argument cannot be used together with "
                 "TestCalibration"},
        RuleCase{"-MagTest -UpdateTSY",
                 "Invalid combination of commands. The MagTest argument cannot be used together with UpdateTSY"},
        RuleCase{"-ExportXml a.xml -ExportAllFiles out",
                 "Invalid combination of commands. The ExportXml argument cannot be used together with "
                 "ExportAllFiles"},
        RuleCase{"-MagTest -ExportAllFiles out", ""},
        RuleCase{"-noEnter 2000 -NoEnter 2000", "The 'NoEnter' argument was already specified"},
        // 6-8
        RuleCase{"-Calibrate AGM", "Missing export or update command"},
        RuleCase{"-Calibrate AGM -UpdateTSY", ""},
        RuleCase{"-Calibrate AGM -ExportAllFiles out", ""},
        RuleCase{"-CalibrateOffline A -ExportAllFiles out", "Missing sensors data source"},
        RuleCase{"-CalibrateOffline A -UseRawData dumps", "Missing export command"},
        RuleCase{"-CalibrateOffline A -UseRawData dumps -ExportAllFiles out", ""},
        RuleCase{"-TestCalibration AG", "Need to type -FourSteps or -Minimal"},
        RuleCase{"-TestCalibration AG -FourSteps", ""},
        RuleCase{"-TestCalibration M -MagAccuracyTest", ""},
        // 9-15
        RuleCase{"-TestCalibration AG -Minimal -FourSteps", "Two contradicting movement sequences asked for"},
        RuleCase{"-Calibrate A -UpdateTSY -CheckVsOriginalAxis",
                 "CheckVsOriginalAxis: this option is supported only for FourSteps calibration"},
        RuleCase{"-Calibrate A -UpdateTSY -FourSteps -CheckVsOriginalAxis", ""},
        RuleCase{"-Calibrate AG -UpdateTSY -Minimal -UseRawData d",
                 "Invalid combination of commands. The UseRawData argument cannot be used together with Minimal"},
        RuleCase{"-TestCalibration AG -Minimal -UseRawData d", ""},
        RuleCase{"-ImportXml a.xml -ExportXml b.xml",
                 "Invalid combination of commands. The ExportXml argument cannot be used together with ImportXml"},
        RuleCase{"-TestCalibration AG -FourSteps -NoEnter 100",
                 "Currently -NoEnter option is supported only for Face Up testing"},
        RuleCase{"-TestCalibration AG -Minimal -noEnter 2000", ""},
        RuleCase{"-Calibrate AG -UpdateTSY -NoEnter 0",
                 "Currently -NoEnter should come with positive integer argument representing milliseconds to wait"},
        RuleCase{"-Calibrate AG -UpdateTSY -NoEnter 000",
                 "Currently -NoEnter should come with positive integer argument representing milliseconds to wait"},
        RuleCase{"-Calibrate AG -UpdateTSY -NoEnter +5",
                 "Currently -NoEnter should come with non empty integer argument representing milliseconds to wait"},
        RuleCase{"-Calibrate AG -UpdateTSY -NoEnter 5ms",
                 "Currently -NoEnter should come with non empty integer argument representing milliseconds to wait"},
        RuleCase{"-Calibrate AG -UpdateTSY -NoEnter 99999999999999999999999", ""},
        // 16: sensor selection
        RuleCase{"-Calibrate AAG -UpdateTSY", kInvalidCalibrate},
        RuleCase{"-Calibrate gMa -UpdateTSY", ""},
        RuleCase{"-Calibrate motion -UpdateTSY", ""},
        RuleCase{"-Calibrate Als -UpdateTSY", kInvalidCalibrate},
        RuleCase{"-Calibrate ALS -UpdateTSY", ""},
        RuleCase{"-Calibrate als -UpdateTSY", ""},
        RuleCase{"-Calibrate AX -UpdateTSY", kInvalidCalibrate},
        RuleCase{"-Calibrate XYZ -UpdateTSY", kInvalidCalibrate},
        RuleCase{"-CalibrateOffline Q -UseRawData d -ExportAllFiles o", kInvalidCalibrate},
        RuleCase{"-TestCalibration AGX -FourSteps", kInvalidCalibrate},
        RuleCase{"-TestCalibration M -Minimal", "Only A, G can be tested with this flow"},
        RuleCase{"-TestCalibration AM -FourSteps", "Only A, G can be tested with this flow"},
        RuleCase{"-TestCalibration AG -MagAccuracyTest", "Only M can be tested with this flow"},
        RuleCase{"-Calibrate AGM -UpdateTSY -FourSteps", "Only A, G can be calibrated with this flow"},
        RuleCase{"-TestCalibration ALS -Minimal", "Invalid value for test command. Valid values are AGM(can be partial)"},
        RuleCase{"-Calibrate A -UpdateTSY -NoGyroRotation", kNoGyro},
        RuleCase{"-Calibrate G -UpdateTSY -FourSteps -NoGyroRotation", kNoGyro},
        RuleCase{"-Calibrate AG -UpdateTSY -NoGyroRotation", ""},
        RuleCase{"-Calibrate ALS -UpdateTSY -Minimal", "These options are only for motion sensors: Minimal, Foursteps"},
        RuleCase{"-CalibrateOffline ALS -UseRawData d -ExportAllFiles o",
                 "If ALS runs offline light levels file must be supplied"},
        RuleCase{"-CalibrateOffline ALS -UseRawData d -ExportAllFiles o -Auto levels.txt", ""},
        RuleCase{"-Calibrate AG -UpdateTSY -Auto levels.txt",
                 "Invalid automatic calibration argument, automatic calibration parameter is applicable only for "
                 "Ambient Light sensor calibration"},
        RuleCase{"-Calibrate ALS -UpdateTSY -UseRawData d",
                 "Invalid calibration argument, automatic calibration parameter is required when loading a data dump"},
        RuleCase{"-Calibrate ALS -UpdateTSY -Auto c.txt -UseRawData d", ""},
        // 17-18
        RuleCase{"-Calibrate AG -UpdateTSY -DumpPrefix run1",
                 "Invalid calibration argument, data dump prefix can come only when loading a data dump"},
        RuleCase{"-Calibrate AG -UpdateTSY -UseRawData d -DumpPrefix run1", ""},
        RuleCase{"-ExportXml out.XML", ""},
        RuleCase{"-ExportXml out.txt", "Invalid extension for file out.txt. Valid extension is only .xml"},
        RuleCase{"-ImportXml calibration", "Invalid extension for file calibration. Valid extension is only .xml"},
        RuleCase{"-importxml in.xml", ""}));

// The full usage text, with the description blanks written out from the table.
std::string expectedUsage(const std::string& p) {
    auto row = [](const std::string& head, size_t blanks, const std::string& text) {
        return " -" + head + std::string(blanks, ' ') + ":  " + text + "\n";
    };
    return "\nUsage:\n\n" +
           p + " [-ImportXml <filename>] [-ExportXml <filename>]\n" +
           p + " -Calibrate <sensors> [-ExportAllFiles <folder>] [-UpdateTSY] [-UseRawData <dump-folder-path> "
               "[-DumpPrefix <dump-file-prefix>]] [-Minimal | -FourSteps [-CheckVsOriginalAxis] | -noGyroRotation] "
               "[-PrimaryOnly] \n" +
           p + " -CalibrateOffline <sensors> -ExportAllFiles <folder> -UseRawData <dump-folder-path> "
               "[-DumpPrefix <dump-file-prefix>] [-FourSteps]  [-PrimaryOnly]\n" +
           p + " -TestCalibration <sensors> [-ExportAllFiles <folder>]  [-Minimal|-FourSteps]  [-PrimaryOnly]\n" +
           p + " -Calibrate ALS [-ExportAllFiles <folder>] [-Auto <config-file-path>] [-UpdateTSY] "
               "[-UseRawData <dump-folder-path> [-DumpPrefix <dump-file-prefix>]]\n" +
           p + " -CalibrateOffline ALS -Auto <config-file-path> -UseRawData <dump-folder-path> "
               "[-DumpPrefix <dump-file-prefix>] -ExportAllFiles <folder>\n" +
           p + " -MagTest [-ExportAllFiles <folder>]" +
           "\n\nDescription:\n\n" +
           row("ImportXml <xml-file-path>", 1, "Import calibration data from XML file") +
           row("ExportXml <xml-file-path>", 1, "Save FW current calibration data to XML file") +
           row("CalibrateOffline ", 9, "Run the calibration offline, with no machine dependency") +
           row("Calibrate <sensors>", 7, "Activate calibration flow on selected sensors") +
           row("TestCalibration ", 10, "Test the calibration of all sensors") +
           row("MagTest ", 18, "Test the environment magnetic noise level") +
           row("ExportAllFiles <folder-path>", 0, "Export output file to selected folder") +
           row("UseRawData <dump-folder-path>", 0, "Read the sensors data from dump files instead of sampling sensors") +
           row("DumpPrefix <dump-file-prefix>", 0, "Dump-files prefix (default is dataDump)") +
           row("UpdateTSY ", 16, "Flush the calculated calibration data to the TSY") +
           row("Auto <config-file-path>", 3, "Automatic ALS calibration process, based on configuration file") +
           row("Minimal ", 18,
               "Performs the fastest and minimal calibration on the selected sensors. For motion sensors this "
               "will trigger a 1 position face up calibration") +
           row("FourSteps ", 16, "Performs the shortened 4 steps calibration on the selected sensors") +
           row("MagAccuracyTest ", 10, "Performs 4 steps test on Magnetometer accuracy") +
           row("CheckVsOriginalAxis ", 6,
               "Fail 4 steps Calibration if Axis Mapping of Accelerometer differs from original one") +
           row("PrimaryOnly ", 14, "Calibrate primary sensors only") +
           row("NoEnter ", 18, "Wait x milliseconds instead of user pressing Enter") +
           row("NoGyroRotation ", 11,
               "Does not calculate the exact Gyroscope rotation, use this option if you don't have fixture") +
           "\nExamples:\n\n\t" +
           p + " -Calibrate AGM -UpdateTSY -ExportAllFiles results\n\t" +
           p + " -Calibrate AGM -UpdateTSY -ExportAllFiles results -UseRawData resultsFolder -DumpPrefix dataDump\n\t" +
           p + " -TestCalibration AG -ExportAllFiles results -Minimal -noEnter 2000\n\t" +
           p + " -TestCalibration AG -ExportAllFiles results -FourSteps\n\t" +
           p + " -TestCalibration M -ExportAllFiles results -MagAccuracyTest\n\t" +
           p + " -ExportXml filename.xml\n\t" +
           p + " -ImportXml filename.xml\n";
}

TEST(SensortrimUsage, MatchesTheDefinedTextByteForByte) {
    const CmdLineArguments args = createSensortrimArguments();
    EXPECT_EQ(args.getFormat().CreateUsage("C:\\bin\\sensortrim.exe", "ignored"), expectedUsage("sensortrim.exe"));
    EXPECT_EQ(args.getFormat().CreateUsage("./sensortrim", ""), expectedUsage("./sensortrim"));
}

TEST(SensortrimRules, AcceptedLineKeepsValuesForTheRun) {
    const std::vector<std::string> words =
        split("-calibrate gMa -updatetsy -exportallfiles out -usErawdata dumps -dumpprefix run1");
    std::vector<const char*> argv;
    for (const std::string& w : words)
        argv.push_back(w.c_str());
    CmdLineArguments args = createSensortrimArguments();
    args.Parse(static_cast<int>(argv.size()), argv.data(), true);
    EXPECT_EQ(args.GetArgValue("Calibrate"), "gMa");
    EXPECT_EQ(args.GetArgValue("ExportAllFiles"), "out");
    EXPECT_EQ(args.GetArgValue("UseRawData"), "dumps");
    EXPECT_EQ(args.GetArgValue("DumpPrefix"), "run1");
    EXPECT_TRUE(args.ArgExists("UpdateTSY"));
    const CmdLineArguments copy = args;
    EXPECT_EQ(copy.GetArgValue("Calibrate"), "gMa");
}

}  // namespace
