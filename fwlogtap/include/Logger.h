// Where the collector's lines go: standard output and the log file, each
// flushed line by line so nothing decoded is lost when the run is stopped.
#pragma once

#include <cstdio>
#include <string>

class Logger {
public:
    static Logger& Inst();
    ~Logger();

    // Opens (truncating) the log file; false when it cannot be opened. It is
    // written beside its name and takes the name when it closes, whole.
    bool open(const std::string& path);
    // Closes the log file and puts it under its name.
    void close();
    // Bit 0: verbose lines to the console; bit 1: to the log file.
    void setDebug(int flags) { debug = flags; }
    int getDebug() const { return debug; }

    // Writes the text to standard output, then to the log file. The level
    // (the message's priority) does not filter. Once standard output cannot be
    // written (its reader has gone), only the log file gets the lines.
    void PrintMsg(int level, const std::string& text);
    // A verbose line ("<function> line <n>"), when the debug flags ask for it.
    void verbose_print(const char* function, int line);

private:
    FILE* file = nullptr;
    std::string path;
    int debug = 0;
    bool writeFailed = false;
    bool consoleGone = false;
};

#define VERBOSE_TRACE() Logger::Inst().verbose_print(__func__, __LINE__)
