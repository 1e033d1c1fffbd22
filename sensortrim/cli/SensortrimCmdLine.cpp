#include "SensortrimCmdLine.h"

namespace {

const char* const kSynopsis[] = {
    " [-ImportXml <filename>] [-ExportXml <filename>]",
    " -Calibrate <sensors> [-ExportAllFiles <folder>] [-UpdateTSY] [-UseRawData <dump-folder-path> "
    "[-DumpPrefix <dump-file-prefix>]] [-Minimal | -FourSteps [-CheckVsOriginalAxis] | -noGyroRotation] "
    "[-PrimaryOnly] ",
    " -CalibrateOffline <sensors> -ExportAllFiles <folder> -UseRawData <dump-folder-path> "
    "[-DumpPrefix <dump-file-prefix>] [-FourSteps]  [-PrimaryOnly]",
    " -TestCalibration <sensors> [-ExportAllFiles <folder>]  [-Minimal|-FourSteps]  [-PrimaryOnly]",
    " -Calibrate ALS [-ExportAllFiles <folder>] [-Auto <config-file-path>] [-UpdateTSY] "
    "[-UseRawData <dump-folder-path> [-DumpPrefix <dump-file-prefix>]]",
    " -CalibrateOffline ALS -Auto <config-file-path> -UseRawData <dump-folder-path> "
    "[-DumpPrefix <dump-file-prefix>] -ExportAllFiles <folder>",
    " -MagTest [-ExportAllFiles <folder>]",
};

const char* const kExamples[] = {
    " -Calibrate AGM -UpdateTSY -ExportAllFiles results",
    " -Calibrate AGM -UpdateTSY -ExportAllFiles results -UseRawData resultsFolder -DumpPrefix dataDump",
    " -TestCalibration AG -ExportAllFiles results -Minimal -noEnter 2000",
    " -TestCalibration AG -ExportAllFiles results -FourSteps",
    " -TestCalibration M -ExportAllFiles results -MagAccuracyTest",
    " -ExportXml filename.xml",
    " -ImportXml filename.xml",
};

std::string buildUsage(const CmdLineArguments::Format& format, const std::string& program) {
    std::string text = "\nUsage:\n\n";
    const size_t lines = sizeof(kSynopsis) / sizeof(kSynopsis[0]);
    for (size_t i = 0; i < lines; ++i) {
        text += program + kSynopsis[i];
        if (i + 1 < lines)
            text += "\n";
    }
    text += "\n\nDescription:\n\n";
    text += format.DescribeOptions();
    text += "\nExamples:\n\n\t";
    const size_t examples = sizeof(kExamples) / sizeof(kExamples[0]);
    for (size_t i = 0; i < examples; ++i) {
        if (i > 0)
            text += "\n\t";
        text += program + kExamples[i];
    }
    text += "\n";
    return text;
}

void combination(const std::string& first, const std::string& second) {
    throw CmdLineException("Invalid combination of commands. The " + first +
                           " argument cannot be used together with " + second);
}

// The sensors named by the value of the run's command.
struct SensorSelection {
    bool als = false;
    bool a = false;
    bool g = false;
    bool m = false;
    bool motionKeyword = false;
    bool motion = false;
    size_t length = 0;

    explicit SensorSelection(const std::string& value) {
        als = value == "ALS" || value == "als";
        const std::string lowered = toLowerCase(value);
        a = lowered.find('a') != std::string::npos;
        g = lowered.find('g') != std::string::npos;
        m = lowered.find('m') != std::string::npos;
        motionKeyword = value == "motion";
        motion = g || m || (a && !als) || motionKeyword;
        length = value.size();
    }
    size_t distinctLetters() const { return size_t(a) + size_t(g) + size_t(m); }
};

void validateSensorSelection(const CmdLineArguments& args) {
    const bool calibrate = args.ArgExists("Calibrate");
    const bool offline = args.ArgExists("CalibrateOffline");
    const bool test = args.ArgExists("TestCalibration");
    if (!calibrate && !offline && !test)
        return;

    const std::string command = calibrate ? "Calibrate" : offline ? "CalibrateOffline" : "TestCalibration";
    const SensorSelection sel(args.GetArgValue(command));
    const bool minimal = args.ArgExists("Minimal");
    const bool fourSteps = args.ArgExists("FourSteps");
    const bool autoConfig = args.ArgExists("Auto");
    const std::string invalidCalibrate =
        "Invalid value for calibrate command. Valid values are AGM(can be partial) and ALS";

    if (sel.motion && !sel.motionKeyword && sel.length != sel.distinctLetters())
        throw CmdLineException(invalidCalibrate);
    if (test && !calibrate) {
        if (sel.m && (minimal || fourSteps))
            throw CmdLineException("Only A, G can be tested with this flow");
        if (args.ArgExists("MagAccuracyTest") && (sel.a || sel.g))
            throw CmdLineException("Only M can be tested with this flow");
    }
    if (calibrate && fourSteps && sel.m)
        throw CmdLineException("Only A, G can be calibrated with this flow");
    if (!sel.motion && test)
        throw CmdLineException("Invalid value for test command. Valid values are AGM(can be partial)");
    if (args.ArgExists("NoGyroRotation") && (!sel.g || minimal || fourSteps))
        throw CmdLineException(
            "Only if you perform full calibration of gyroscope, you can use the NoGyroRotation command");
    if (sel.als && (minimal || fourSteps))
        throw CmdLineException("These options are only for motion sensors: Minimal, Foursteps");
    if (sel.als && offline && !autoConfig)
        throw CmdLineException("If ALS runs offline light levels file must be supplied");
    if (!sel.motion && !sel.als)
        throw CmdLineException(invalidCalibrate);
    if (autoConfig && !sel.als)
        throw CmdLineException("Invalid automatic calibration argument, automatic calibration parameter "
                               "is applicable only for Ambient Light sensor calibration");
    if (sel.als && args.ArgExists("CheckVsOriginalAxis"))
        throw CmdLineException("Invalid calibration argument, checking vs. original Axis Mapping is not "
                               "relevant for ALS calibration");
    if (sel.als && args.ArgExists("UseRawData") && !autoConfig)
        throw CmdLineException("Invalid calibration argument, automatic calibration parameter is required "
                               "when loading a data dump");
}

}  // namespace

void validateSensortrimRules(const CmdLineArguments& args) {
    auto has = [&args](const char* name) { return args.ArgExists(name); };

    if (has("Calibrate") && !has("ExportAllFiles") && !has("UpdateTSY"))
        throw CmdLineException("Missing export or update command");
    if (has("CalibrateOffline")) {
        if (!has("UseRawData"))
            throw CmdLineException("Missing sensors data source");
        if (!has("ExportAllFiles"))
            throw CmdLineException("Missing export command");
    }
    if (has("TestCalibration") && !has("FourSteps") && !has("Minimal") && !has("MagAccuracyTest"))
        throw CmdLineException("Need to type -FourSteps or -Minimal");
    if (has("Minimal") && has("FourSteps"))
        throw CmdLineException("Two contradicting movement sequences asked for");
    if (has("CheckVsOriginalAxis") && !has("FourSteps"))
        throw CmdLineException("CheckVsOriginalAxis: this option is supported only for FourSteps calibration");
    if (has("Minimal") && has("UseRawData") && !has("TestCalibration"))
        combination("UseRawData", "Minimal");
    if (has("ExportXml") && has("ImportXml"))
        combination("ExportXml", "ImportXml");
    if (has("NoEnter") && has("TestCalibration") && !has("Minimal"))
        throw CmdLineException("Currently -NoEnter option is supported only for Face Up testing");
    if (has("NoEnter")) {
        const std::string wait = args.GetArgValue("NoEnter");
        if (!is_number(wait))
            throw CmdLineException("Currently -NoEnter should come with non empty integer argument "
                                   "representing milliseconds to wait");
        // Positive means some digit is not zero; this holds for numbers of any length.
        if (wait.find_first_not_of('0') == std::string::npos)
            throw CmdLineException("Currently -NoEnter should come with positive integer argument "
                                   "representing milliseconds to wait");
    }
    if ((has("Calibrate") || has("CalibrateOffline")) && has("TestCalibration"))
        throw CmdLineException("Two contradicting processes asked for");
    validateSensorSelection(args);
    if (has("DumpPrefix") && !has("UseRawData"))
        throw CmdLineException("Invalid calibration argument, data dump prefix can come only when loading "
                               "a data dump");
    args.ValidateArgExtension("ExportXml", "xml");
    args.ValidateArgExtension("ImportXml", "xml");
}

CmdLineArguments createSensortrimArguments() {
    CmdLineArguments::Format format;
    format.AddArg("ImportXml", true, false, true, "Import calibration data from XML file", 0x02,
                  "<xml-file-path>", true);
    format.AddArg("ExportXml", true, false, true, "Save FW current calibration data to XML file", 0x02,
                  "<xml-file-path>", true);
    format.AddArg("CalibrateOffline", true, false, true,
                  "Run the calibration offline, with no machine dependency", 0x04, "", true);
    format.AddArg("Calibrate", true, false, true, "Activate calibration flow on selected sensors", 0x08,
                  "<sensors>", true);
    format.AddArg("TestCalibration", true, false, true, "Test the calibration of all sensors", 0x10, "", true);
    format.AddArg("MagTest", false, false, true, "Test the environment magnetic noise level", 0x40, "", true);
    format.AddArg("ExportAllFiles", true, false, false, "Export output file to selected folder", 0xFD,
                  "<folder-path>", true);
    format.AddArg("UseRawData", true, false, false,
                  "Read the sensors data from dump files instead of sampling sensors", 0x1C,
                  "<dump-folder-path>", true);
    format.AddArg("DumpPrefix", true, false, false, "Dump-files prefix (default is dataDump)", 0x1C,
                  "<dump-file-prefix>", true);
    format.AddArg("UpdateTSY", false, false, false, "Flush the calculated calibration data to the TSY", 0x08,
                  "", true);
    format.AddArg("Auto", true, false, false, "Automatic ALS calibration process, based on configuration file",
                  0x0C, "<config-file-path>", true);
    format.AddArg("Minimal", false, false, false,
                  "Performs the fastest and minimal calibration on the selected sensors. For motion sensors "
                  "this will trigger a 1 position face up calibration",
                  0x18, "", true);
    format.AddArg("FourSteps", false, false, false,
                  "Performs the shortened 4 steps calibration on the selected sensors", 0x1C, "", true);
    format.AddArg("MagAccuracyTest", false, false, false, "Performs 4 steps test on Magnetometer accuracy",
                  0x10, "", true);
    format.AddArg("CheckVsOriginalAxis", false, false, false,
                  "Fail 4 steps Calibration if Axis Mapping of Accelerometer differs from original one", 0x08,
                  "", true);
    format.AddArg("PrimaryOnly", false, false, false, "Calibrate primary sensors only", 0x1C, "", true);
    format.AddArg("NoEnter", true, false, false, "Wait x milliseconds instead of user pressing Enter", 0x18,
                  "", true);
    format.AddArg("NoGyroRotation", false, false, false,
                  "Does not calculate the exact Gyroscope rotation, use this option if you don't have fixture",
                  0x08, "", true);
    format.setUsageBuilder(buildUsage);
    return CmdLineArguments(format, validateSensortrimRules);
}
