// A console for tests: keeps what the code printed and answers its reads
// from a script. Installed for the lifetime of the object.
#pragma once

#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "Console.h"

class ScriptedConsole : public Console {
public:
    explicit ScriptedConsole(std::deque<std::string> lines = {}) : input(std::move(lines)) {
        previous = setConsole(this);
    }
    ~ScriptedConsole() override { setConsole(previous); }
    ScriptedConsole(const ScriptedConsole&) = delete;
    ScriptedConsole& operator=(const ScriptedConsole&) = delete;

    void write(const std::string& text) override { output += text; }
    void flush() override { ++flushes; }
    bool readLine(std::string& line) override {
        line.clear();
        if (input.empty())
            return false;
        line = input.front();
        input.pop_front();
        return true;
    }
    void waitForKey() override {
        ++keys;
        if (!input.empty())
            input.pop_front();
    }

    void showProgress(const StepProgress& progress) override {
        std::lock_guard<std::mutex> lock(progressMutex);
        progressLines.push_back(progress);
    }
    bool showsStatus() override { return true; }
    std::vector<StepProgress> progressShown() {
        std::lock_guard<std::mutex> lock(progressMutex);
        return progressLines;
    }

    std::string output;
    int flushes = 0;
    int keys = 0;
    std::deque<std::string> input;

private:
    std::mutex progressMutex;
    std::vector<StepProgress> progressLines;
    Console* previous = nullptr;
};
