// sensortrim at an operator's terminal: tmux runs it against hubsim, the
// virtual operator runs it on a pseudo-terminal and handles the device, and
// the pane is read the way the operator sees it while the steps run.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <regex>
#include <sstream>
#include <thread>

#include "HubSim.h"
#include "TruthCheck.h"

namespace {

std::string quoted(const std::string& text) {
    std::string q = "'";
    for (char c : text)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// The default scenario with its device's time running `speed` times wall time.
std::string scenarioAtSpeed(const std::string& speed) {
    std::string xml = defaultScenario();
    const std::string device = "<Device speed=\"8\"";
    xml.replace(xml.find(device), device.size(), "<Device speed=\"" + speed + "\"");
    return xml;
}

// A tmux server of the test's own with one pane of the given size running
// a shell command; the pane stays after the command, which prints
// "[exit STATUS]" as it ends.
class Pane {
public:
    Pane(const std::string& dir, int width, int height, const std::string& command) : socket(dir + "/tmux.sock") {
        const ProcessResult r = tmux({"new-session", "-d", "-x", std::to_string(width), "-y", std::to_string(height),
                                      "sh -c " + quoted(command + "; echo \"[exit $?]\"; sleep 600")});
        started = r.exitStatus == 0;
        startError = r.out + r.err;
    }
    ~Pane() { tmux({"kill-server"}); }
    Pane(const Pane&) = delete;
    Pane& operator=(const Pane&) = delete;

    bool ok() const { return started; }
    const std::string& error() const { return startError; }
    // What the pane shows now; with history, everything since it started.
    std::string capture(bool history = false) const {
        std::vector<std::string> args = {"capture-pane", "-p"};
        if (history)
            args.insert(args.end(), {"-S", "-"});
        return tmux(args).out;
    }
    // Reads the pane every few milliseconds until the command ends: every
    // screen seen, and the command's exit status (-1: it did not end).
    int watch(std::vector<std::string>& screens, int timeoutSeconds = 120) const {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
        const std::regex exitLine("\\[exit (\\d+)\\]");
        while (std::chrono::steady_clock::now() < end) {
            const std::string screen = capture();
            if (screens.empty() || screens.back() != screen)
                screens.push_back(screen);
            std::smatch m;
            if (std::regex_search(screen, m, exitLine))
                return std::stoi(m[1]);
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
        }
        return -1;
    }

private:
    std::string socket;
    bool started = false;
    std::string startError;

    ProcessResult tmux(const std::vector<std::string>& args) const {
        std::vector<std::string> argv = {"/usr/bin/env", "tmux", "-S", socket, "-f", "/dev/null"};
        argv.insert(argv.end(), args.begin(), args.end());
        ProcessOptions options;
        options.env["TMUX"] = "";
        options.timeoutSeconds = 20;
        return runProcess(argv, options);
    }
};

// sensortrim args... under the virtual operator on a pseudo-terminal, as a
// shell command for a pane.
std::string operatorCommand(const HubSim& hub, const std::vector<std::string>& args, const std::string& env = "") {
    // A sanitizer build's tools run with the shim preloaded ahead of their runtime.
    std::string command = "cd " + quoted(hub.dir()) + " && env ASAN_OPTIONS=verify_asan_link_order=0 HUBSIM_SOCKET=" +
                          quoted(hub.socket()) + " " + env +
                          " " HUBOP_BIN " --socket " + quoted(hub.socket()) + " --preload " SHIM_LIB " --pty -- " +
                          SENSORTRIM_BIN;
    for (const std::string& arg : args)
        command += " " + quoted(arg);
    return command;
}

// One status line as drawn: "step 2: the turn | Z 104/360 deg | motion
// [#########!] moving | 58 s left", or "step 1: a steady light | light 50 |
// light [#####.....] steady | 59 s left".
struct Status {
    int step = 0;
    std::string waitingFor;
    std::string axis;
    int degrees = 0;
    std::string meter;
    int secondsLeft = -1;
    std::string text;
};

std::vector<Status> statusLines(const std::vector<std::string>& screens) {
    const std::regex shape(
        "step (\\d+): ([a-zA-Z0-9:' ]+?)(?: \\| ([XYZ]) (-?\\d+)/\\d+ deg)?(?: \\| light \\d+)?"
        "(?: \\| (?:motion|light) \\[([#.!]{10})\\] (?:still|moving|steady|changing))? \\| (\\d+) s left.*");
    std::vector<Status> found;
    for (const std::string& screen : screens)
        for (const std::string& line : linesOf(screen)) {
            std::smatch m;
            if (line.compare(0, 5, "step ") != 0)
                continue;
            Status s;
            s.text = line;
            if (std::regex_match(line, m, shape)) {
                s.step = std::stoi(m[1]);
                s.waitingFor = m[2];
                s.axis = m[3];
                s.degrees = m[4].matched ? std::stoi(m[4]) : 0;
                s.meter = m[5];
                s.secondsLeft = std::stoi(m[6]);
            }
            found.push_back(s);
        }
    return found;
}

// Pieces of a status line outside a line of its own: a wrapped or left-over one.
bool hasStrayStatus(const std::string& line) {
    if (line.compare(0, 5, "step ") == 0)
        return false;
    for (const char* piece : {" s left", " deg |", "motion [", "light [", "] still", "] moving", "] steady", "] changing"})
        if (line.find(piece) != std::string::npos)
            return true;
    return false;
}

TEST(AtTheOperatorsTerminal, TheTurnsRiseTheHoldsAreStillAndOnlyTheRunsLinesStay) {
    // The same calibration piped first: what the console says without a terminal.
    HubSim pipedHub(defaultScenario());
    ProcessOptions options;
    options.workDir = pipedHub.dir();
    options.timeoutSeconds = 90;
    const ProcessResult piped =
        pipedHub.runWithOperator({SENSORTRIM_BIN, "-Calibrate", "AGM", "-UpdateTSY", "-ExportAllFiles", "out"}, options);
    ASSERT_EQ(piped.exitStatus, 0) << piped.out;

    // In the device's own time, as an operator turns it: long enough to watch
    // each turn rise and each hold settle.
    HubSim hub(scenarioAtSpeed("1"));
    Pane pane(hub.dir(), 100, 60, operatorCommand(hub, {"-Calibrate", "AGM", "-UpdateTSY", "-ExportAllFiles", "out"}));
    ASSERT_TRUE(pane.ok()) << "tmux does not start (scripts/install-deps.sh installs it): " << pane.error();
    std::vector<std::string> screens;
    ASSERT_EQ(pane.watch(screens), 0) << pane.capture(true);

    const std::vector<Status> shown = statusLines(screens);
    ASSERT_FALSE(shown.empty()) << "no status line was seen";
    std::map<int, std::vector<Status>> byStep;
    for (const Status& s : shown) {
        ASSERT_NE(s.step, 0) << "not a status line: " << s.text;
        EXPECT_LT(s.text.size(), 100u) << s.text;
        EXPECT_LE(s.secondsLeft, 60) << s.text;
        EXPECT_GE(s.secondsLeft, 40) << s.text;
        byStep[s.step].push_back(s);
    }
    // Each turn, about the axis its instruction names: the degrees rise from
    // the start towards the 360 (as the uncalibrated gyroscope measures them:
    // this device's reads 20 % short about X), while the seconds left count down.
    const std::map<int, std::string> turns = {{2, "Z"}, {4, "Y"}, {6, "X"}};
    for (const auto& [step, axis] : turns) {
        const std::vector<Status>& seen = byStep[step];
        ASSERT_FALSE(seen.empty()) << "step " << step;
        std::vector<int> degrees;
        for (const Status& s : seen) {
            EXPECT_EQ(s.axis, axis) << s.text;
            if (degrees.empty() || degrees.back() != s.degrees)
                degrees.push_back(s.degrees);
        }
        for (size_t i = 1; i < degrees.size(); ++i)
            EXPECT_GE(degrees[i], degrees[i - 1] - 5) << "step " << step;
        EXPECT_GE(degrees.size(), 3u) << "step " << step;
        EXPECT_LE(degrees.front(), 120) << "step " << step;
        EXPECT_GE(degrees.back(), 270) << "step " << step;
        EXPECT_LE(degrees.back(), 420) << "step " << step;
        EXPECT_GE(seen.front().secondsLeft, seen.back().secondsLeft) << "step " << step;
        bool turning = false;
        for (const Status& s : seen)
            turning = turning || (s.waitingFor == "the end of the turn" && !s.meter.empty() && s.meter.back() == '!');
        EXPECT_TRUE(turning) << "step " << step << " never showed the device turning";
    }
    // Every hold, the first and those after each turn and each move: held
    // still, the meter below the step's threshold, before the step passes.
    for (int step = 1; step <= 7; ++step) {
        bool heldStill = false;
        for (const Status& s : byStep[step])
            heldStill = heldStill || (s.waitingFor == "holding still" && s.meter.find('!') == std::string::npos &&
                                      s.text.find("] still") != std::string::npos);
        EXPECT_TRUE(heldStill) << "step " << step << " never showed the device held still";
    }

    // Once the steps have passed, the screen keeps the run's own lines: word
    // for word the piped run's, up to the end of the data collection.
    const std::vector<std::string> history = linesOf(pane.capture(true));
    for (const std::string& line : history)
        EXPECT_FALSE(hasStrayStatus(line) || line.compare(0, 5, "step ") == 0) << line;
    // Colours are the terminal's business: tmux keeps their codes out of the text.
    const std::vector<std::string> expected =
        linesOf(std::regex_replace(piped.out, std::regex("\033\\[[0-9;]*m"), ""));
    const auto collectedPiped = std::find(expected.begin(), expected.end(), "data collection finished");
    const auto collectedPane = std::find(history.begin(), history.end(), "data collection finished");
    ASSERT_NE(collectedPiped, expected.end()) << piped.out;
    ASSERT_NE(collectedPane, history.end());
    // The terminal also rings its bell instead of showing it, and echoes the
    // operator's Enter as an empty line.
    std::vector<std::string> plain;
    for (auto it = expected.begin(); it <= collectedPiped; ++it) {
        std::string line = *it;
        line.erase(std::remove(line.begin(), line.end(), '\a'), line.end());
        plain.push_back(line);
        if (line == "Press Enter when done")
            plain.push_back("");
    }
    EXPECT_EQ(std::vector<std::string>(history.begin(), collectedPane + 1), plain);
}

TEST(AtTheOperatorsTerminal, TheStatusLineOnlyWhereItFits) {
    struct Case {
        const char* name;
        int width;
        std::string env;  // for the tool, before it starts
        std::vector<std::string> args;
        bool offline;  // a recorded run instead of a live one
        bool expectStatus;
        std::string speed = "4";
    };
    const std::vector<std::string> fourSteps = {"-Calibrate", "A", "-FourSteps", "-ExportAllFiles", "out"};
    const Case cases[] = {
        // A narrow terminal: the line is cut to fit, never wrapped.
        {"narrow", 44, "", fourSteps, false, true},
        // A terminal that cannot move its cursor: no status line.
        {"dumb", 100, "TERM=dumb", fourSteps, false, false},
        // Recorded data: nothing to wait for, no status line.
        {"offline", 100, "", fourSteps, true, false},
        // The light calibration waits for a steady light at each level.
        {"light", 100, "", {"-Calibrate", "ALS", "-Auto", "levels.txt", "-UpdateTSY"}, false, true, "2"},
    };
    // The dumps of a four-step accelerometer run, for the offline case.
    HubSim recorder(defaultScenario());
    ProcessOptions options;
    options.workDir = recorder.dir();
    const ProcessResult recorded = recorder.runWithOperator(
        {SENSORTRIM_BIN, "-Calibrate", "A", "-FourSteps", "-ExportAllFiles", "recorded"}, options);
    ASSERT_EQ(recorded.exitStatus, 0) << recorded.out;

    for (const Case& c : cases) {
        HubSim hub(scenarioAtSpeed(c.speed));
        writeFile(hub.dir() + "/levels.txt", "values=100,500,1000\ndelay_time=5\n");
        std::string command;
        if (c.offline)
            command = "cd " + quoted(hub.dir()) + " && " SENSORTRIM_BIN " -CalibrateOffline A -FourSteps "
                      "-ExportAllFiles out -UseRawData " +
                      quoted(recorder.dir() + "/recorded");
        else
            command = operatorCommand(hub, c.args, c.env);
        Pane pane(hub.dir(), c.width, 60, command);
        ASSERT_TRUE(pane.ok()) << pane.error();
        std::vector<std::string> screens;
        EXPECT_EQ(pane.watch(screens), 0) << c.name << pane.capture(true);
        const std::vector<Status> shown = statusLines(screens);
        EXPECT_EQ(!shown.empty(), c.expectStatus) << c.name;
        for (const Status& s : shown) {
            EXPECT_LT(s.text.size(), static_cast<size_t>(c.width)) << c.name << ": " << s.text;
            if (c.width >= 100) {
                EXPECT_NE(s.step, 0) << c.name << ": not a status line: " << s.text;
            }
        }
        for (const std::string& screen : screens)
            for (const std::string& line : linesOf(screen))
                EXPECT_FALSE(hasStrayStatus(line)) << c.name << ": " << line;
    }
}

// A part as noisy as nine tenths of its limit: its holds run on until their
// samples can promise the tolerance, the line says for whose noise and how
// much longer, and the records it writes undo the device's errors.
TEST(AtTheOperatorsTerminal, ANoisyPartsHoldsRunOnAndTheLineSaysWhy) {
    std::string xml = scenarioAtSpeed("4");
    const std::string quiet = "noise=\"0.001\"/>";
    const size_t at = xml.find(quiet, xml.find("<Accelerometer "));
    ASSERT_NE(at, std::string::npos);
    xml.replace(at, quiet.size(), "noise=\"0.0135\"/>");
    HubSim hub(xml);
    Pane pane(hub.dir(), 100, 60, operatorCommand(hub, {"-Calibrate", "AG", "-UpdateTSY", "-ExportAllFiles", "out"}));
    ASSERT_TRUE(pane.ok()) << pane.error();
    std::vector<std::string> screens;
    ASSERT_EQ(pane.watch(screens, 240), 0) << pane.capture(true);
    // Each hold ran on, the line counting down the seconds it still needs.
    std::map<int, std::vector<int>> moreSeconds;
    const std::regex note("hold still: (\\d+) s more for the Accelerometer's noise");
    for (const Status& s : statusLines(screens)) {
        std::smatch m;
        if (std::regex_search(s.text, m, note))
            moreSeconds[s.step].push_back(std::stoi(m[1]));
    }
    for (int step : {1, 3, 5, 7}) {
        const std::vector<int>& seen = moreSeconds[step];
        ASSERT_FALSE(seen.empty()) << "step " << step << " did not hold on for the noise";
        EXPECT_GE(seen.front(), 2) << "step " << step;
        EXPECT_LE(seen.back(), seen.front()) << "step " << step;
    }
    // The last position, held once, needs about twice as long as those
    // held twice, before and after their turn (the first step's hold begins
    // before it is asked for).
    EXPECT_GE(moreSeconds[7].front(), std::max(moreSeconds[3].front(), moreSeconds[5].front()) + 3);
    const records::Record r = records::recordOf(readFile(hub.dir() + "/out/resultCalibration.xml"), 115, 0);
    const truth::Errors device{{0.12, -0.05, 0.03}, {1.03, 0.97, 1.02}, {0.01, 0, -0.01}, 0.0135};
    truth::expectUndone("accelerometer", r, device, 115, truth::Flow::Full, false);
}

}  // namespace
