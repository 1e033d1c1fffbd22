// Starts hubsim for one test on a socket of its own, and runs tools against it
// through the device shim.
#pragma once

#include <string>
#include <vector>

#include "RunProcess.h"

class HubSim {
public:
    // scenarioXml: the scenario document itself; hubsimArgs: more of hubsim's
    // options ("--hostile", "7"). Throws when hubsim does not start.
    explicit HubSim(const std::string& scenarioXml, const std::vector<std::string>& hubsimArgs = {});
    ~HubSim();
    HubSim(const HubSim&) = delete;
    HubSim& operator=(const HubSim&) = delete;

    // Runs a program with the shim preloaded and HUBSIM_SOCKET set.
    ProcessResult run(const std::vector<std::string>& argv, ProcessOptions options = {}) const;
    // Runs a program under the virtual operator, which handles the simulated
    // device as the program's console asks (levels: what it types in a manual
    // light calibration, "a,b,c").
    // operatorArgs: more of hubop's options ("--mistake", "short-turn@2";
    // "--turn-seconds", "2").
    ProcessResult runWithOperator(const std::vector<std::string>& argv, ProcessOptions options = {},
                                  const std::string& levels = "",
                                  const std::vector<std::string>& operatorArgs = {}) const;
    // The journal lines hubsim wrote so far.
    std::vector<std::string> journal() const;
    // The journal's data lines (hex of what the tools sent), in order.
    std::vector<std::string> sentMessages() const;
    const std::string& dir() const { return workDir; }
    const std::string& socket() const { return socketPath; }

private:
    std::string workDir;
    std::string socketPath;
    std::string journalPath;
    int pid = -1;
};

// The default example scenario shipped in examples/.
std::string defaultScenario();
// The default scenario with elements added before its end.
std::string scenarioWith(const std::string& extra);
// The default scenario with the first text from in it replaced by to.
std::string scenarioReplacing(const std::string& from, const std::string& to);
