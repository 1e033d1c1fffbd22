#include <gtest/gtest.h>

#include <cstdlib>
#include <iostream>
#include <sstream>
#include <string>

#include "Console.h"
#include "Exceptions.h"
#include "FileUtil.h"
#include "ScriptedConsole.h"
#include "Sensor.h"
#include "cmdline/CmdLineArguments.h"

namespace {

TEST(Console, LuidTextIsTheBytesInMemoryOrder) {
    struct Case {
        _sc_sensor_luid luid;
        const char* text;
    };
    const Case cases[] = {
        {{0x0201, 0xff0a, 0x0000, 0x00, 0x10}, "01020aff00000010"},
        {{0x0073, 0x1234, 0x0001, 0, 2}, "7300341201000002"},
        {{0, 0, 0, 0, 0}, "0000000000000000"},
        {{0xffff, 0xffff, 0xffff, 0xff, 0xff}, "ffffffffffffffff"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(luidToString(c.luid), c.text);
}

TEST(Console, ColoursAreBoldRedAndGreenOnly) {
    ScriptedConsole screen;
    setColor(red);
    setColor(green);
    setColor(static_cast<textColors>(7));
    resetColor();
    EXPECT_EQ(screen.output, "\033[01;31m\033[01;32m\033[0m");
}

TEST(Console, TextIsFormattedAsOnAStreamAndEndlFlushes) {
    ScriptedConsole screen({"first line", "2"});
    consoleOut() << "a " << 1.5 << ' ' << 42 << "\n";
    EXPECT_EQ(screen.flushes, 0);
    consoleOut() << "b" << std::endl;
    EXPECT_EQ(screen.flushes, 1);
    consoleOut() << "c" << std::flush;
    EXPECT_EQ(screen.flushes, 2);
    printLine("d");
    EXPECT_EQ(screen.output, "a 1.5 42\nb\ncd\n");
    std::string line;
    EXPECT_TRUE(console().readLine(line));
    EXPECT_EQ(line, "first line");
    console().waitForKey();
    EXPECT_FALSE(console().readLine(line));
    EXPECT_EQ(line, "");
}

TEST(Console, FolderExistsOnlyForDirectories) {
    EXPECT_TRUE(folderExists("/"));
    EXPECT_FALSE(folderExists("/proc/self/status"));
    EXPECT_FALSE(folderExists("/no/such/folder/anywhere"));
    EXPECT_FALSE(folderExists(""));
}

TEST(Console, MillisecondFollowsTheWallClock) {
    const long long before = static_cast<long long>(std::time(nullptr)) * 1000;
    const long long now = millisecond();
    EXPECT_GE(now, before);
    EXPECT_LT(now, before + 2000);
}

TEST(Console, ExceptionTextsCarryTheirPrefixes) {
    EXPECT_STREQ(SmhiException("x").what(), "SMHI Error: x");
    EXPECT_STREQ(MathException("y").what(), "Math Error: y");
    EXPECT_STREQ(CalibrationException("z").what(), "z");
    EXPECT_STREQ(SamplingException("w").what(), "w");
    EXPECT_STREQ(CmdLineException("v").what(), "v");
}

}  // namespace

TEST(StatusLine, ShowsWhatTheStepDoesWithinTheWidth) {
    struct Case {
        StepProgress progress;
        size_t width;
        std::string line;
    };
    StepProgress turning;
    turning.step = 2;
    turning.waitingFor = "the turn";
    turning.turnAxis = "Z";
    turning.turnedDegrees = 211.6;
    turning.turnTarget = 360;
    turning.motion = 3.2;
    turning.secondsLeft = 41;
    StepProgress holding;
    holding.step = 1;
    holding.waitingFor = "holding still";
    holding.motion = 0.34;
    holding.secondsLeft = 59;
    holding.silent = {"Gyroscope", "Magnetometer"};
    // The meter rounds to the nearest of its ten marks.
    StepProgress settling = holding;
    settling.motion = 0.58;
    settling.silent.clear();
    StepProgress bare;
    bare.step = 3;
    const Case cases[] = {
        {turning, 200, "step 2: the turn | Z 212/360 deg | motion [#########!] moving | 41 s left"},
        {holding, 200,
         "step 1: holding still | motion [###.......] still | 59 s left | no samples: Gyroscope, Magnetometer"},
        {settling, 200, "step 1: holding still | motion [######....] still | 59 s left"},
        {bare, 200, "step 3: recording"},
        // No wrapped line: cut to the terminal's width.
        {turning, 30, "step 2: the turn | Z 212/360 d"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(formatProgress(c.progress, c.width), c.line);
    // The meter at the threshold itself is full and still; a little past it, moving.
    holding.silent.clear();
    holding.motion = 1.0;
    EXPECT_EQ(formatProgress(holding, 200), "step 1: holding still | motion [##########] still | 59 s left");
    holding.motion = 1.01;
    EXPECT_EQ(formatProgress(holding, 200), "step 1: holding still | motion [#########!] moving | 59 s left");
}

TEST(StatusLine, NoneWhenNotOnATerminal) {
    // The test's standard output is no terminal (ctest pipes it).
    if (statusTerminal())
        GTEST_SKIP() << "standard output is a terminal here";
    testing::internal::CaptureStdout();
    StepProgress progress;
    progress.step = 1;
    Console* previous = setConsole(nullptr);
    console().showProgress(progress);
    console().showStatus("Loading");
    console().clearStatus();
    setConsole(previous);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}
