// hubop: the virtual operator. Runs a tool, shows its console, and does what
// the console asks of the person at the device: places and turns the simulated
// device in hubsim, changes the light, presses Enter, types light levels.
//
//   hubop --socket PATH [--preload LIB] [--levels 100,500,1000] [--mistake KIND@STEP]... [--turn-seconds S] [--pty]
//         [--hand] -- COMMAND [ARGS...]
//
// The tool runs with LIB in LD_PRELOAD (the device shim); with --pty on a
// pseudo-terminal of hubop's size (a terminal's, when hubop runs on one), as
// at an operator's terminal, else on pipes. hubop exits with the tool's
// status (128 + signal when it was killed).
//
// --turn-seconds sets how long a full turn takes (default 4; a quarter turn
// takes half as long): an operator in a hurry turns a full turn in 2.
//
// --hand moves the device as a person's hand does: turns in strokes with
// re-grips (full turns in 3 s unless --turn-seconds says otherwise), quick
// swings to the next position, jolts, a tremor as the hand lets go, and
// placements a degree or so apart (hubsim's "hand on").
//
// --mistake makes the operator err in one step (numbered as the console
// numbers them) the way a person at a station does:
//   short-turn     stops a turn 20 degrees short (340 of 360, 70 of 90)
//   wrong-axis     turns about another axis of the device
//   clockwise      turns the other way round
//   too-fast       turns in half a second (a hand's stroke stays within
//                  the gyroscope's 2000 degrees per second)
//   move-in-hold   tilts the device and back while it should be held still
//   skip           leaves the device where it is
//   upside-down    places the device with the other side up
//   disturb        brings a magnet near the station while the device turns
//   knock          knocks on the table before it does what the step asks (a
//                  jolt while the device still rests where the last step held it)
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "hubsim/ShimProtocol.h"

namespace {

int hub = -1;
int toolInput = -1;
volatile pid_t tool = 0;

// Ctrl-C at the operator's terminal, a sequencer's SIGTERM and a closed
// terminal's SIGHUP are meant for the tool: it gets the same signal, and the
// operator goes on reading it until it has ended.
void forwardSignal(int signum) {
    if (tool > 0)
        ::kill(tool, signum);
}

// Seconds of a full turn; a quarter turn takes half as long.
double fullTurnSeconds = 4.0;

// Wall milliseconds until the device is done with the last action.
std::chrono::steady_clock::time_point busyUntil = std::chrono::steady_clock::now();

int usage() {
    std::fprintf(stderr, "usage: hubop --socket PATH [--preload LIB] [--levels a,b,c] [--mistake KIND@STEP]... "
                         "[--turn-seconds S] [--pty] [--hand] -- COMMAND [ARGS...]\n");
    return 2;
}

const char* const kMistakes[] = {"short-turn", "wrong-axis", "clockwise", "too-fast",
                                 "move-in-hold", "skip", "upside-down", "disturb", "knock"};

// The words of an action ("turn +z 360 4").
std::vector<std::string> words(const std::string& text) {
    std::istringstream in(text);
    std::vector<std::string> out;
    for (std::string w; in >> w;)
        out.push_back(w);
    return out;
}

std::string joined(const std::vector<std::string>& w) {
    std::string out;
    for (const std::string& x : w)
        out += (out.empty() ? "" : " ") + x;
    return out;
}

// The other side of an axis ("+z" and "-z").
std::string opposite(const std::string& axis) {
    return (axis[0] == '+' ? "-" : "+") + axis.substr(1);
}

// The actions with which the mistake replaces an action the console asked for.
std::vector<std::string> mistaken(const std::string& mistake, const std::string& action) {
    std::vector<std::string> w = words(action);
    const bool turn = w.size() == 4 && w[0] == "turn";
    const bool place = w.size() == 4 && w[0] == "place";
    if (mistake == "skip")
        return {};
    if (turn && mistake == "short-turn") {
        const double degrees = std::atof(w[2].c_str());
        w[2] = std::to_string(static_cast<int>(degrees > 0 ? degrees - 20 : degrees + 20));
    } else if (turn && mistake == "wrong-axis") {
        static const std::map<char, char> next = {{'x', 'y'}, {'y', 'z'}, {'z', 'x'}};
        w[1][1] = next.at(w[1][1]);
    } else if (turn && mistake == "clockwise") {
        w[2] = w[2][0] == '-' ? w[2].substr(1) : "-" + w[2];
    } else if (turn && mistake == "too-fast") {
        // Reads the instruction, then flicks the device round.
        w[3] = "0.5";
        return {"turn " + w[1] + " 0 1", joined(w)};
    } else if (mistake == "move-in-hold") {
        // Half a second still, a tilt of 20 degrees and back, then still.
        return {action, "turn +x 0 0.5", "turn +x 20 0.6", "turn +x -20 0.6"};
    } else if (place && mistake == "upside-down") {
        w[1] = opposite(w[1]);
    } else if (mistake == "knock") {
        // A knock a moment after the step began (the device still rests
        // where the last step held it), the device left there for a second
        // and a half, then what the step asks.
        return {"turn +x 0 1.3", "knock", "turn +x 0 1.5", action};
    } else if (turn && mistake == "disturb") {
        // A magnet brought within a few centimetres while the device turns.
        return {"disturb 250 -150 100 " + w[3], action};
    }
    return {joined(w)};
}

// Sends an action to hubsim; the device is busy until it is done.
void act(const std::string& action) {
    std::string msg(HUBSIM_MAGIC, HUBSIM_MAGIC_SIZE);
    msg.push_back(static_cast<char>(HUBSIM_CTRL_OPERATOR));
    msg += action;
    char reply[512];
    if (::send(hub, msg.data(), msg.size(), MSG_NOSIGNAL) < 0) {
        std::fprintf(stderr, "hubop: hubsim is gone\n");
        return;
    }
    const ssize_t n = ::recv(hub, reply, sizeof reply - 1, 0);
    if (n < HUBSIM_REPLY_HEADER_SIZE) {
        std::fprintf(stderr, "hubop: no answer from hubsim to '%s'\n", action.c_str());
        return;
    }
    reply[n] = '\0';
    int32_t result = 0;
    std::memcpy(&result, reply + HUBSIM_MAGIC_SIZE + 1, 4);
    const char* text = reply + HUBSIM_REPLY_HEADER_SIZE;
    if (result != 0) {
        std::fprintf(stderr, "hubop: hubsim refused '%s': %s\n", action.c_str(), text);
        return;
    }
    const auto done = std::chrono::steady_clock::now() + std::chrono::milliseconds(std::atol(text));
    if (done > busyUntil)
        busyUntil = done;
}

void waitUntilStill(int settleMs) {
    std::this_thread::sleep_until(busyUntil + std::chrono::milliseconds(settleMs));
}

void type(const std::string& text) {
    const std::string line = text + "\n";
    if (::write(toolInput, line.data(), line.size()) < 0)
        std::fprintf(stderr, "hubop: the tool takes no input\n");
}

// The placement an instruction names: the device axis that points up and the
// one that points north.
bool placement(const std::string& text, std::string& action) {
    static const std::map<std::string, std::string> places = {
        {"Z axis directed UP, Y axis directed to North", "+z +y"},
        {"Z axis directed UP, Y axis directed to West", "+z +x"},
        {"Z axis directed UP, Y axis directed to South", "+z -y"},
        {"Z axis directed UP, Y axis directed to East", "+z -x"},
        {"Y axis directed UP, Z axis directed to South", "+y -z"},
        {"X axis directed UP, Z axis directed to South", "+x -z"},
        {"Y axis directed DOWN, Z axis directed to South", "-y -z"},
        {"Z axis directed UP", "+z +y"},
    };
    const auto it = places.find(text);
    if (it == places.end())
        return false;
    action = "place " + it->second + " 2";
    return true;
}

bool rotation(const std::string& text, std::string& action) {
    static const std::map<std::string, std::string> turns = {
        {"360 degrees counterclockwise around Z axis", "+z 360 4"},
        {"360 degrees counterclockwise around Y axis", "+y 360 4"},
        {"360 degrees counterclockwise around X axis", "+x 360 4"},
        {"90 degrees counterclockwise around Y axis", "+y 90 2"},
        {"90 degrees counterclockwise around Z axis", "+z 90 2"},
        {"90 degrees clockwise around X axis", "+x -90 2"},
        {"360 degrees around X axis", "+x 360 4"},
        {"360 degrees around Y axis", "+y 360 4"},
        {"360 degrees around Z axis", "+z 360 4"},
    };
    const auto it = turns.find(text);
    if (it == turns.end())
        return false;
    // The table's times are those of a full turn in 4 seconds.
    std::istringstream in(it->second);
    std::string axis;
    double degrees = 0, seconds = 0;
    in >> axis >> degrees >> seconds;
    std::ostringstream out;
    out << "turn " << axis << " " << degrees << " " << seconds * fullTurnSeconds / 4.0;
    action = out.str();
    return true;
}

bool startsWith(const std::string& s, const std::string& prefix) {
    return s.compare(0, prefix.size(), prefix) == 0;
}

class Operator {
public:
    Operator(std::vector<int> lightLevels, std::map<int, std::string> stepMistakes)
        : levels(std::move(lightLevels)), mistakes(std::move(stepMistakes)) {}

    void line(const std::string& text) {
        std::string action;
        if (startsWith(text, "Step ") && text.find(" out of ") != std::string::npos)
            step = std::atoi(text.c_str() + 5);
        else if (startsWith(text, "Place the device screen's ") && placement(text.substr(26), action))
            pending = action;
        else if (startsWith(text, "Slowly, rotate the device ") && rotation(text.substr(26), action))
            pending = action;
        else if (startsWith(text, "Slowly rotate the device ") && rotation(text.substr(25), action))
            pending = action;
        else if (startsWith(text, "Slowly move the device in a rectangle"))
            pending = "wait";
        else if (text == "Hold system in current position")
            perform();
        else if (text == "Device should be placed in tablet mode, screen facing up")
            motionStart = true;
        else if (text == "Press Enter when done") {
            perform();
            // A motion flow starts sampling at Enter and waits for stillness
            // itself: the device need only have come to rest. The magnetic
            // test's steps end at Enter, after a settled hold.
            waitUntilStill(motionStart ? 200 : 1500);
            motionStart = false;
            type("");
        } else if (text == "Press Enter to signal start and finish") {
            type("");
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            perform();
            waitUntilStill(1500);
            type("");
        } else if (startsWith(text, "Enter the number of steps to calibrate")) {
            type(std::to_string(levels.size()));
        } else if (startsWith(text, "Please change the light level to the next level")) {
            const int level = next < levels.size() ? levels[next++] : 0;
            act("light " + std::to_string(level));
            waitUntilStill(500);
            type(std::to_string(level));
        } else if (startsWith(text, "Please change the light level to ")) {
            act("light " + std::to_string(std::atoi(text.c_str() + 33)));
        }
    }

private:
    std::string pending;
    std::vector<int> levels;
    size_t next = 0;
    std::map<int, std::string> mistakes;
    int step = 0;
    bool motionStart = false;

    void perform() {
        if (pending.empty())
            return;
        if (pending == "wait") {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
        } else {
            const auto mistake = mistakes.find(step);
            const std::vector<std::string> actions =
                mistake == mistakes.end() ? std::vector<std::string>{pending} : mistaken(mistake->second, pending);
            for (const std::string& action : actions)
                act(action);
        }
        pending.clear();
    }
};

}  // namespace

int main(int argc, char** argv) {
    std::string socketPath, preload;
    std::vector<int> levels = {100, 500, 1000};
    std::map<int, std::string> mistakes;
    bool terminal = false, hand = false, turnSecondsGiven = false;
    int i = 1;
    for (; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--")
            break;
        if (arg == "--pty") {
            terminal = true;
            continue;
        }
        if (arg == "--hand") {
            hand = true;
            continue;
        }
        if (i + 1 >= argc)
            return usage();
        if (arg == "--socket")
            socketPath = argv[++i];
        else if (arg == "--preload")
            preload = argv[++i];
        else if (arg == "--turn-seconds") {
            turnSecondsGiven = true;
            fullTurnSeconds = std::atof(argv[++i]);
            if (!(fullTurnSeconds > 0 && fullTurnSeconds < 1000)) {
                std::fprintf(stderr, "hubop: --turn-seconds takes the seconds of a full turn: '%s'\n", argv[i]);
                return 2;
            }
        }
        else if (arg == "--levels") {
            levels.clear();
            std::stringstream in(argv[++i]);
            for (std::string item; std::getline(in, item, ',');)
                levels.push_back(std::atoi(item.c_str()));
        } else if (arg == "--mistake") {
            const std::string what = argv[++i];
            const size_t at = what.find('@');
            const int step = at == std::string::npos ? 0 : std::atoi(what.c_str() + at + 1);
            bool known = false;
            for (const char* kind : kMistakes)
                known = known || what.compare(0, at, kind) == 0;
            if (!known || step < 1) {
                std::fprintf(stderr, "hubop: a mistake is KIND@STEP, KIND one of short-turn, wrong-axis, clockwise, "
                                     "too-fast, move-in-hold, skip, upside-down, disturb, knock: '%s'\n",
                             what.c_str());
                return 2;
            }
            mistakes[step] = what.substr(0, at);
        } else
            return usage();
    }
    if (socketPath.empty() || i + 1 >= argc)
        return usage();

    hub = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    struct sockaddr_un address;
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    if (socketPath.size() >= sizeof address.sun_path)
        return usage();
    std::strcpy(address.sun_path, socketPath.c_str());
    if (hub < 0 || ::connect(hub, reinterpret_cast<struct sockaddr*>(&address), sizeof address) != 0) {
        std::fprintf(stderr, "hubop: cannot reach hubsim at %s\n", socketPath.c_str());
        return 1;
    }
    if (hand) {
        act("hand on");
        if (!turnSecondsGiven)
            fullTurnSeconds = 3.0;
    }

    int in[2], out[2];
    pid_t child = -1;
    if (terminal) {
        // The terminal's size, or a common one.
        struct winsize size {};
        if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0 || size.ws_col == 0) {
            size.ws_col = 100;
            size.ws_row = 40;
        }
        int master = -1;
        child = ::forkpty(&master, nullptr, nullptr, &size);
        if (child < 0)
            return 1;
        if (child == 0) {
            if (!preload.empty())
                ::setenv("LD_PRELOAD", preload.c_str(), 1);
            ::execvp(argv[i + 1], argv + i + 1);
            std::fprintf(stderr, "hubop: cannot run %s: %s\n", argv[i + 1], std::strerror(errno));
            _exit(127);
        }
        // One descriptor carries both ways.
        in[1] = master;
        out[0] = ::dup(master);
    } else {
        if (::pipe(in) != 0 || ::pipe(out) != 0)
            return 1;
        child = ::fork();
    }
    if (child < 0)
        return 1;
    if (child == 0) {
        // The tool gets Ctrl-C from the operator only, and once.
        ::setpgid(0, 0);
        ::dup2(in[0], 0);
        ::dup2(out[1], 1);
        ::close(in[0]);
        ::close(in[1]);
        ::close(out[0]);
        ::close(out[1]);
        if (!preload.empty())
            ::setenv("LD_PRELOAD", preload.c_str(), 1);
        ::execvp(argv[i + 1], argv + i + 1);
        std::fprintf(stderr, "hubop: cannot run %s: %s\n", argv[i + 1], std::strerror(errno));
        _exit(127);
    }
    if (!terminal) {
        ::close(in[0]);
        ::close(out[1]);
    }
    toolInput = in[1];
    tool = child;
    struct sigaction forward;
    std::memset(&forward, 0, sizeof forward);
    forward.sa_handler = forwardSignal;
    forward.sa_flags = SA_RESTART;
    for (int signum : {SIGINT, SIGTERM, SIGHUP})
        sigaction(signum, &forward, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    Operator person(levels, mistakes);
    std::string current;
    bool carriageReturn = false;  // the last byte was a lone '\r', so far
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(out[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        // A pseudo-terminal whose tool has ended reads EIO.
        if (n <= 0)
            break;
        std::fwrite(buffer, 1, static_cast<size_t>(n), stdout);
        std::fflush(stdout);
        for (ssize_t k = 0; k < n; ++k) {
            const char c = buffer[k];
            if (c == '\r') {
                carriageReturn = true;
                continue;
            }
            if (carriageReturn && c != '\n') {
                // A carriage return not ending a line starts it again, as on a
                // terminal (the tool's status line is redrawn so).
                current.clear();
            }
            carriageReturn = false;
            if (c != '\n') {
                current += c;
                continue;
            }
            // Colours, erasures and the bell are not part of what the operator reads.
            std::string text;
            for (size_t j = 0; j < current.size(); ++j) {
                if (current[j] == '\033') {
                    // ESC [ parameters, then one final byte.
                    if (j + 1 < current.size() && current[j + 1] == '[') {
                        j += 2;
                        while (j < current.size() && !(current[j] >= 0x40 && current[j] <= 0x7e))
                            ++j;
                    }
                    continue;
                }
                if (current[j] != '\a')
                    text += current[j];
            }
            person.line(text);
            current.clear();
        }
    }
    ::close(toolInput);
    int status = 0;
    ::waitpid(child, &status, 0);
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return WEXITSTATUS(status);
}
