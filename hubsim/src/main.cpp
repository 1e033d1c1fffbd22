// hubsim: plays the hub firmware behind the device shim.
//
//   hubsim --scenario FILE --socket PATH [--journal FILE]
//
// Prints "hubsim listening on PATH" once it accepts connections, and serves
// until SIGTERM or SIGINT.
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

#include "Server.h"

namespace {

std::atomic<bool> stopRequested{false};

void onSignal(int) {
    stopRequested.store(true);
}

int usage() {
    std::fprintf(stderr, "usage: hubsim --scenario FILE --socket PATH [--journal FILE]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::string scenarioPath, socketPath, journalPath;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (i + 1 >= argc)
            return usage();
        if (arg == "--scenario")
            scenarioPath = argv[++i];
        else if (arg == "--socket")
            socketPath = argv[++i];
        else if (arg == "--journal")
            journalPath = argv[++i];
        else
            return usage();
    }
    if (scenarioPath.empty() || socketPath.empty())
        return usage();

    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = onSignal;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    try {
        hubsim::Server server(hubsim::loadScenario(scenarioPath), socketPath, journalPath);
        server.listen();
        std::printf("hubsim listening on %s\n", socketPath.c_str());
        std::fflush(stdout);
        server.run(stopRequested);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "hubsim: %s\n", e.what());
        return 1;
    }
    return 0;
}
