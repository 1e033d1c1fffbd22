#include "HubSim.h"

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <sstream>
#include <stdexcept>
#include <thread>

HubSim::HubSim(const std::string& scenarioXml, const std::vector<std::string>& hubsimArgs) {
    workDir = makeTempDir();
    socketPath = workDir + "/hub.sock";
    journalPath = workDir + "/journal.txt";
    const std::string scenarioPath = workDir + "/scenario.xml";
    writeFile(scenarioPath, scenarioXml);
    // Relative files of the example scenario (the PDT image) resolve next to it.
    symlink(EXAMPLES_DIR "/pdt-default.bin", (workDir + "/pdt-default.bin").c_str());

    const std::string log = workDir + "/hubsim.log";
    std::vector<std::string> args = {HUBSIM_BIN, "--scenario", scenarioPath, "--socket", socketPath, "--journal",
                                     journalPath};
    args.insert(args.end(), hubsimArgs.begin(), hubsimArgs.end());
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(&arg[0]);
    argv.push_back(nullptr);
    pid = fork();
    if (pid < 0)
        throw std::runtime_error("fork failed");
    if (pid == 0) {
        freopen(log.c_str(), "w", stdout);
        freopen(log.c_str(), "a", stderr);
        execv(HUBSIM_BIN, argv.data());
        _exit(127);
    }
    for (int i = 0; i < 200; ++i) {
        if (readFile(log).find("listening") != std::string::npos)
            return;
        int status;
        if (waitpid(pid, &status, WNOHANG) == pid) {
            pid = -1;
            throw std::runtime_error("hubsim ended: " + readFile(log));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    throw std::runtime_error("hubsim did not start: " + readFile(log));
}

HubSim::~HubSim() {
    if (pid > 0) {
        kill(pid, SIGTERM);
        int status;
        waitpid(pid, &status, 0);
    }
    const std::string cmd = "rm -rf '" + workDir + "'";
    if (system(cmd.c_str()) != 0) {
    }
}

ProcessResult HubSim::runWithOperator(const std::vector<std::string>& argv, ProcessOptions options,
                                     const std::string& levels, const std::vector<std::string>& operatorArgs) const {
    options.env["HUBSIM_SOCKET"] = socketPath;
    options.env["ASAN_OPTIONS"] = "verify_asan_link_order=0";
    std::vector<std::string> command = {HUBOP_BIN, "--socket", socketPath, "--preload", SHIM_LIB};
    if (!levels.empty())
        command.insert(command.end(), {"--levels", levels});
    command.insert(command.end(), operatorArgs.begin(), operatorArgs.end());
    command.push_back("--");
    command.insert(command.end(), argv.begin(), argv.end());
    return runProcess(command, options);
}

ProcessResult HubSim::run(const std::vector<std::string>& argv, ProcessOptions options) const {
    options.env["HUBSIM_SOCKET"] = socketPath;
    options.env["LD_PRELOAD"] = SHIM_LIB;
    options.env["ASAN_OPTIONS"] = "verify_asan_link_order=0";
    return runProcess(argv, options);
}

std::vector<std::string> HubSim::journal() const {
    std::vector<std::string> lines;
    std::istringstream in(readFile(journalPath));
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

std::vector<std::string> HubSim::sentMessages() const {
    std::vector<std::string> data;
    for (const std::string& line : journal()) {
        std::istringstream words(line);
        std::string id, kind, what, more;
        words >> id >> kind >> what >> more;
        if (!what.empty() && more.empty() && what.find_first_not_of("0123456789abcdef") == std::string::npos)
            data.push_back(what);
    }
    return data;
}

std::string defaultScenario() {
    return readFile(EXAMPLES_DIR "/hub-default.xml");
}

std::string scenarioReplacing(const std::string& from, const std::string& to) {
    std::string xml = defaultScenario();
    const size_t at = xml.find(from);
    if (at == std::string::npos)
        throw std::runtime_error("the default scenario has no " + from);
    return xml.replace(at, from.size(), to);
}

std::string scenarioWith(const std::string& extra) {
    std::string xml = defaultScenario();
    xml.insert(xml.rfind("</HubScenario>"), extra);
    return xml;
}
