#include "Console.h"

#include <sys/time.h>

#include <iostream>

namespace {

// Standard output and standard input.
class StandardConsole : public Console {
public:
    void write(const std::string& text) override { std::cout << text; }
    void flush() override { std::cout.flush(); }
    bool readLine(std::string& line) override {
        line.clear();
        return static_cast<bool>(std::getline(std::cin, line));
    }
    void waitForKey() override { std::cin.get(); }
};

StandardConsole standardConsole;
Console* current = &standardConsole;

}  // namespace

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
