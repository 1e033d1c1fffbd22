// Operator mistakes in live calibrations: the virtual operator gets one step
// wrong, as a person at a station does. Each mistake fails the run with a
// reason that names the step and the mistake (or the limit it broke), and
// nothing is written to the hub; a mistake that spoils nothing (moving while
// the tool waits for stillness) calibrates the device correctly.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "HubSim.h"
#include "Jolts.h"

namespace {

struct Mistake {
    std::string name;
    std::string mistake;  // hubop's KIND@STEP
    std::vector<std::string> args;
    // Pieces of the reason, in order; empty: the calibration succeeds.
    std::vector<std::string> reason;
    // Made by a person's hand (hubop --hand): strokes, re-grips, jolts.
    bool hand = false;
};

// The default scenario, its simulated time 20 times faster than wall time.
std::string fastScenario() {
    std::string xml = defaultScenario();
    const std::string speed = "speed=\"8\"";
    return xml.replace(xml.find(speed), speed.size(), "speed=\"20\"");
}

ProcessResult run(const HubSim& hub, std::vector<std::string> args, const std::vector<std::string>& mistakes = {},
                  bool hand = false) {
    ProcessOptions options;
    options.workDir = hub.dir();
    options.timeoutSeconds = 120;
    args.insert(args.begin(), SENSORTRIM_BIN);
    std::vector<std::string> operatorArgs;
    for (const std::string& mistake : mistakes)
        operatorArgs.insert(operatorArgs.end(), {"--mistake", mistake});
    if (hand)
        operatorArgs.push_back("--hand");
    return hub.runWithOperator(args, options, "", operatorArgs);
}

void PrintTo(const Mistake& mistake, std::ostream* out) {
    *out << mistake.mistake;
}

class OperatorMistake : public ::testing::TestWithParam<Mistake> {};

TEST_P(OperatorMistake, FailsNamingTheStepOrCalibratesRight) {
    const Mistake& m = GetParam();
    HubSim hub(fastScenario());
    std::vector<std::string> args = {"-Calibrate"};
    args.insert(args.end(), m.args.begin(), m.args.end());
    args.push_back("-UpdateTSY");
    // A knock is first seen in the data: its jolt of about 1.5 g.
    const bool knock = m.mistake.rfind("knock", 0) == 0;
    if (knock)
        args.insert(args.end(), {"-ExportAllFiles", "out"});
    const ProcessResult r = run(hub, args, {m.mistake}, m.hand);
    if (knock) {
        const std::string acc = readFile(hub.dir() + "/out/dataDumpAccelerometer.csv");
        EXPECT_GT(jolts::largest(acc), 0.9);
        EXPECT_LT(jolts::largest(acc), 2.0);
    }
    if (m.reason.empty()) {
        ASSERT_EQ(r.exitStatus, 0) << r.out;
        // The records fit the device: the tests of what it calibrated pass on the same hub.
        std::string inertial;
        for (char s : std::string("AG"))
            if (m.args[0].find(s) != std::string::npos)
                inertial += s;
        std::vector<std::vector<std::string>> tests;
        if (!inertial.empty())
            tests.push_back({"-TestCalibration", inertial, "-FourSteps"});
        if (m.args[0].find('M') != std::string::npos)
            tests.push_back({"-TestCalibration", "M", "-MagAccuracyTest"});
        for (const std::vector<std::string>& test : tests) {
            const ProcessResult t = run(hub, test, {}, m.hand);
            EXPECT_EQ(t.exitStatus, 0) << test[1] << "\n" << t.out;
        }
        return;
    }
    EXPECT_EQ(r.exitStatus, 255) << r.out;
    EXPECT_EQ(r.out.find("Calibration process completed successfully"), std::string::npos) << r.out;
    const size_t error = r.out.find("\033[01;31mCALIBRATION FAILED\n\033[0mError:\n");
    ASSERT_NE(error, std::string::npos) << r.out;
    size_t at = error;
    for (const std::string& piece : m.reason) {
        at = r.out.find(piece, at);
        ASSERT_NE(at, std::string::npos) << piece << "\n" << r.out;
    }
    for (const std::string& sent : hub.sentMessages())
        EXPECT_NE(sent.compare(0, 2, "05"), 0) << "a record was written";
}

const std::string kShort = "The device did not come back to where it started after the turn about ";
const std::string kMirrored = "Mirrored axis mapping created: ";

const Mistake kMistakes[] = {
    {"ShortTurn", "short-turn@2", {"AGM"}, {kShort + "Z in step 2 (", " degrees off): turn exactly 360 degrees\n"}},
    // The magnetometer watches the turns of a gyroscope calibration.
    {"ShortTurnGyroscopeAlone", "short-turn@4", {"G"}, {kShort + "Y in step 4 (", " degrees off): turn exactly 360"}},
    {"TurnAboutTheWrongAxis", "wrong-axis@4", {"AGM"},
     {"The device was not turned about its Y axis in step 4 (gravity moved ",
      " degrees in the device): keep the Y axis pointing up and turn about it\n"}},
    {"ClockwiseTurn", "clockwise@2", {"AGM"},
     {"Calibration failed for sensor Gyroscope. Reason: " + kMirrored +
      "the turn about Z in step 2 went the wrong way round.\n"}},
    // The magnetometer alone: where the field has a dip, its vertical part
    // tells which way round the turn went, and the calibration stands.
    {"ClockwiseTurnMagnetometerAlone", "clockwise@4", {"M"}, {}},
    {"ClockwiseQuarterTurn", "clockwise@3", {"AG", "-FourSteps"},
     {"Calibration failed for sensor Gyroscope. Reason: " + kMirrored +
      "the turn about Z in step 3 went the wrong way round.\n"}},
    {"TurnTooFast", "too-fast@6", {"AGM"},
     {"The turn about X in step 6 was too fast (", " degrees per second): turn slowly, over at least two seconds\n"}},
    {"MoveDuringAHold", "move-in-hold@3", {"AGM"}, {}},
    {"UpsideDown", "upside-down@1", {"AGM"},
     {"Calibration failed for sensor Accelerometer. Reason: " + kMirrored +
      "the device was placed the other side up in step 1.\n"}},
    {"UpsideDownFaceUp", "upside-down@1", {"AG", "-Minimal"},
     {"Calibration failed for sensor Accelerometer. Reason: Calculated offset is too high. Check that axis mapping "
      "is correct."}},
    {"MagnetAtTheStation", "disturb@4", {"AGM"},
     {"Calibration failed for sensor Magnetometer. Reason: The field changed by ",
      " % while the device turned in step 4: keep magnets and steel away from the station.\n"}},
    // By hand: a knock on the table while the device rests where the last
    // step held it is no move, in the four-position and four-steps flows; a
    // turn 20 degrees short made in strokes is still caught.
    {"KnockFourPositionsByHand", "knock@3", {"A"}, {}, true},
    {"KnockFourStepsByHand", "knock@2", {"A", "-FourSteps"}, {}, true},
    {"ShortTurnInStrokes", "short-turn@2", {"AGM"}, {kShort + "Z in step 2 (", " degrees off): turn exactly 360 degrees\n"},
     true},
    // A hand in a hurry: its re-grips and strokes fit the half second.
    {"TurnTooFastInStrokes", "too-fast@4", {"AGM"},
     {"The turn about Y in step 4 was too fast (", " degrees per second): turn slowly, over at least two seconds\n"},
     true},
    // The tool waits for the move that never comes, and says so.
    {"SkippedPosition", "skip@3", {"A", "-FourSteps"},
     {"DATA COLLECTION FAILED\n Timeout, failed to get stable samples or to detect motion of the required sensors "
      "(step 3; the device was not moved to the position of step 3 (Y axis directed UP): it rests where step 2 "
      "held it)\n"}},
};

std::string mistakeName(const ::testing::TestParamInfo<Mistake>& info) {
    return info.param.name;
}

INSTANTIATE_TEST_SUITE_P(Live, OperatorMistake, ::testing::ValuesIn(kMistakes), mistakeName);

}  // namespace
