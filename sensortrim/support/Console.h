// The operator's console: everything the calibration tool prints and every
// key or line the operator types goes through one Console, so library code
// never touches std::cout or std::cin itself. The process has one (standard
// output and input); tests put their own in its place.
#pragma once

#include <ostream>
#include <sstream>
#include <string>

#include "Progress.h"

enum textColors { red = 0, green = 1 };

class Console {
public:
    virtual ~Console() = default;

    virtual void write(const std::string& text) = 0;
    virtual void flush() = 0;
    // One line typed by the operator, without its line end; false at the end
    // of input (the line is then empty).
    virtual bool readLine(std::string& line) = 0;
    // Waits for the operator's key press (Enter); the end of input counts as one.
    virtual void waitForKey() = 0;
    // The status line of a live step, or of a long wait, drawn in place under
    // what was printed last; only a console on a terminal that can move its
    // cursor draws it, and nothing else is written meanwhile. clearStatus
    // erases it (before the next line is printed).
    virtual void showProgress(const StepProgress& /*progress*/) {}
    // Whether showProgress draws anything: a caller need not gather the
    // progress otherwise.
    virtual bool showsStatus() { return false; }
    virtual void showStatus(const std::string& /*text*/) {}
    virtual void clearStatus() {}
};

// The console in use.
Console& console();
// Puts another console in place (null: the standard one again); returns the
// one that was in use. The caller keeps ownership.
Console* setConsole(Console* replacement);

// Text for the console, written with << as to an ostream (same formatting)
// and printed when the statement ends. std::endl ends the line and flushes,
// std::flush flushes, as they do on std::cout:
//     consoleOut() << "Saving data dump to file " << path << std::endl;
class ConsoleText {
public:
    ConsoleText() = default;
    ConsoleText(const ConsoleText&) = delete;
    ConsoleText& operator=(const ConsoleText&) = delete;
    ~ConsoleText();

    template <class T>
    ConsoleText& operator<<(const T& value) {
        text << value;
        return *this;
    }
    ConsoleText& operator<<(std::ostream& (*manipulator)(std::ostream&));

private:
    std::ostringstream text;
    bool flushAfter = false;
};

inline ConsoleText consoleOut() {
    return ConsoleText();
}

// Writes text.
void print(const std::string& text);
// Writes text and a line end, then flushes (what std::endl does).
void printLine(const std::string& text);

// Bold red for failure verdicts, bold green for success; nothing for other values.
void setColor(textColors color);
void resetColor();

// Whether standard output is a terminal that can move its cursor (not piped,
// TERM set and not "dumb"): the status line is drawn only there.
bool statusTerminal();
// Standard output's width in columns (80 when it cannot be told).
size_t terminalWidth();

// Wall-clock milliseconds since the Unix epoch; 0 when the clock cannot be read.
long long millisecond();
