#include "Console.h"

#include <poll.h>
#include <sys/ioctl.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include "Interrupt.h"

namespace {

// Standard output and standard input. On a terminal that can move its
// cursor it draws the status line: "\r", the line cut to the terminal's
// width, "\033[K"; erased the same way. Piped or on a dumb terminal, nothing.
class StandardConsole : public Console {
public:
    void write(const std::string& text) override {
        clearStatus();
        std::cout << text;
    }
    void flush() override { std::cout.flush(); }
    void showProgress(const StepProgress& progress) override {
        if (statusTerminal())
            draw(formatProgress(progress, terminalWidth() - 1));
    }
    bool showsStatus() override { return statusTerminal(); }
    void showStatus(const std::string& text) override {
        if (statusTerminal())
            draw(text.substr(0, terminalWidth() - 1));
    }
    void clearStatus() override {
        if (!drawn.exchange(false))
            return;
        std::cout << "\r\033[K" << std::flush;
    }
    bool readLine(std::string& line) override {
        line.clear();
        waitForInput();
        return static_cast<bool>(std::getline(std::cin, line));
    }
    void waitForKey() override {
        waitForInput();
        std::cin.get();
    }

private:
    // Ctrl-C's thread prints (and so erases the line) while the step's thread may draw it.
    std::atomic<bool> drawn{false};

    // Until the operator has typed something (or standard input ended),
    // looking for a signal that ends the run every tenth of a second.
    static void waitForInput() {
        for (;;) {
            interrupt::check();
            if (std::cin.rdbuf()->in_avail() > 0)
                return;
            struct pollfd input {STDIN_FILENO, POLLIN, 0};
            const int ready = ::poll(&input, 1, 100);
            if (ready > 0 || (ready < 0 && errno != EINTR))
                return;
        }
    }

    void draw(const std::string& line) {
        std::cout << "\r" << line << "\033[K" << std::flush;
        drawn = true;
    }
};

StandardConsole standardConsole;
Console* current = &standardConsole;

}  // namespace

bool statusTerminal() {
    if (!isatty(STDOUT_FILENO))
        return false;
    const char* term = std::getenv("TERM");
    return term != nullptr && *term != '\0' && std::strcmp(term, "dumb") != 0;
}

size_t terminalWidth() {
    struct winsize size {};
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 1)
        return size.ws_col;
    return 80;
}

ConsoleText::~ConsoleText() {
    print(text.str());
    if (flushAfter)
        console().flush();
}

ConsoleText& ConsoleText::operator<<(std::ostream& (*manipulator)(std::ostream&)) {
    using Manipulator = std::ostream& (*)(std::ostream&);
    if (manipulator == static_cast<Manipulator>(std::endl)) {
        text << '\n';
        flushAfter = true;
    } else if (manipulator == static_cast<Manipulator>(std::flush)) {
        flushAfter = true;
    } else {
        manipulator(text);
    }
    return *this;
}

Console& console() {
    return *current;
}

Console* setConsole(Console* replacement) {
    Console* previous = current;
    current = replacement != nullptr ? replacement : &standardConsole;
    return previous;
}

void print(const std::string& text) {
    console().write(text);
}

void printLine(const std::string& text) {
    console().write(text + "\n");
    console().flush();
}

void setColor(textColors color) {
    switch (color) {
    case red:
        print("\033[01;31m");
        break;
    case green:
        print("\033[01;32m");
        break;
    default:
        break;
    }
}

void resetColor() {
    print("\033[0m");
}

long long millisecond() {
    struct timeval now {};
    if (gettimeofday(&now, nullptr) != 0)
        return 0;
    return static_cast<long long>(now.tv_sec) * 1000 + now.tv_usec / 1000;
}
