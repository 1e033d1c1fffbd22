// hubsim: plays the hub firmware behind the device shim.
//
//   hubsim --scenario FILE --socket PATH [--journal FILE] [--hostile SEED | --hostile-reports SEED]
//
// Prints "hubsim listening on PATH" once it accepts connections, and serves
// until SIGTERM, SIGINT or SIGHUP. With --hostile every answer of the firmware may
// misbehave, at random from the seed (the journal says how); with
// --hostile-reports the answers to commands are left alone and now and then a
// sensor report of a recording misbehaves.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "Server.h"

namespace {

std::atomic<bool> stopRequested{false};

void onSignal(int) {
    stopRequested.store(true);
}

int usage() {
    std::fprintf(stderr, "usage: hubsim --scenario FILE --socket PATH [--journal FILE] [--hostile SEED | "
                         "--hostile-reports SEED]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::string scenarioPath, socketPath, journalPath;
    bool hostile = false, reportsOnly = false;
    unsigned long long seed = 0;
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
        else if (arg == "--hostile" || arg == "--hostile-reports") {
            if (hostile)
                return usage();
            char* end = nullptr;
            seed = std::strtoull(argv[++i], &end, 10);
            if (*argv[i] == '\0' || *end != '\0')
                return usage();
            hostile = true;
            reportsOnly = arg == "--hostile-reports";
        }
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
    sigaction(SIGHUP, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    try {
        hubsim::Server server(hubsim::loadScenario(scenarioPath), socketPath, journalPath);
        if (hostile)
            server.beHostile(seed, reportsOnly);
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
