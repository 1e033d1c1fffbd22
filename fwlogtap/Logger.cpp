#include "Logger.h"

#include "file/AtomicFile.h"

Logger& Logger::Inst() {
    static Logger instance;
    return instance;
}

Logger::~Logger() {
    close();
}

bool Logger::open(const std::string& logPath) {
    close();
    path = logPath;
    file = std::fopen(atomicfile::partName(path).c_str(), "w");
    return file != nullptr;
}

void Logger::close() {
    if (file == nullptr)
        return;
    std::fclose(file);
    file = nullptr;
    if (!atomicfile::commit(atomicfile::partName(path), path)) {
        std::fputs("Failed to write to the log file; lines go to the console only\n", stdout);
        std::fflush(stdout);
    }
}

void Logger::PrintMsg(int /*level*/, const std::string& text) {
    if (!consoleGone) {
        std::fwrite(text.data(), 1, text.size(), stdout);
        if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
            // Whoever read the console has gone (a pipe closed): the log goes on.
            consoleGone = true;
            std::clearerr(stdout);
        }
    }
    if (file != nullptr && !writeFailed) {
        std::fwrite(text.data(), 1, text.size(), file);
        if (std::fflush(file) != 0 || std::ferror(file)) {
            // A full disk must not pass unnoticed; the console keeps every line.
            writeFailed = true;
            std::fputs("Failed to write to the log file; lines go to the console only\n", stdout);
            std::fflush(stdout);
        }
    }
}

void Logger::verbose_print(const char* function, int line) {
    if (debug == 0)
        return;
    char text[400];
    std::snprintf(text, sizeof text, "%s line %d\n", function, line);
    if (debug & 1) {
        std::fputs(text, stdout);
        std::fflush(stdout);
    }
    if ((debug & 2) && file != nullptr) {
        std::fputs(text, file);
        std::fflush(file);
    }
}
