// Reads arbitrary bytes as a hubsim scenario.
#include <cstddef>
#include <cstdint>
#include <string>

#include "Scenario.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    try {
        hubsim::parseScenario(std::string(reinterpret_cast<const char*>(data), size), "/nonexistent");
    } catch (const hubsim::ScenarioError&) {
    }
    return 0;
}
