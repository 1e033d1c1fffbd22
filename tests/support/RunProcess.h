// Runs a program the way a user would and captures what it printed.
#pragma once

#include <map>
#include <string>
#include <vector>

struct ProcessResult {
    int exitStatus = -1;  // exit status, or -1 when killed by a signal
    int signal = 0;       // the signal that ended it, if any
    std::string out;
    std::string err;
};

struct ProcessOptions {
    std::map<std::string, std::string> env;  // added to (or replacing) the inherited environment
    std::string workDir;                     // empty: the current directory
    std::string input;                       // written to its standard input
    int timeoutSeconds = 120;                // killed after this long
    // When set, standard input stays open until the program has printed this
    // text; then the program gets SIGINT, as from Ctrl-C at its terminal.
    std::string interruptWhenPrinted;
    // When not negative, the program gets SIGINT this many milliseconds after it started.
    int interruptAfterMs = -1;
    // The signal of either (SIGTERM of a test sequencer, SIGHUP of a closed terminal).
    int interruptSignal = 2;
};

ProcessResult runProcess(const std::vector<std::string>& argv, const ProcessOptions& options = {});

// A fresh empty directory under the system temporary folder.
std::string makeTempDir();
std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& content);
