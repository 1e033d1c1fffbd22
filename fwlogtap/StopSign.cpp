#include "StopSign.h"

#include <unistd.h>

#include <csignal>
#include <cstring>
#include <initializer_list>

StopSign& StopSign::Inst() {
    static StopSign instance;
    return instance;
}

namespace {

void onInterrupt(int) {
    // Only async-signal-safe calls here: a plain write and an atomic store.
    static const char text[] = "Stopping, disconnect may take some time, please wait...\n";
    const ssize_t ignored = ::write(STDOUT_FILENO, text, sizeof text - 1);
    (void)ignored;
    StopSign::Inst().set();
}

}  // namespace

void installStopHandler() {
    // The instance exists before the handler can touch it.
    StopSign::Inst();
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    // A terminating sequencer (SIGTERM) and a closed terminal (SIGHUP) stop
    // the collection as Ctrl-C does, the log file closed whole.
    for (int signum : {SIGINT, SIGTERM, SIGHUP})
        sigaction(signum, &action, nullptr);
    // A console that goes away (the end of a pipe) ends no collection: the
    // write fails, and the log file goes on.
    std::signal(SIGPIPE, SIG_IGN);
}
