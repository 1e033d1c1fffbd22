// The emulated firmware's SMHI client: answers each request from the scenario
// and keeps what the tools write (calibration records, PDT).
#pragma once

#include <cstdint>
#include <vector>

#include "Scenario.h"

namespace hubsim {

struct Reply {
    std::vector<uint8_t> bytes;
    bool send = true;              // false: no answer at all
    bool closeConnection = false;  // drop the connection instead of answering
    int delayMs = 0;
};

class SmhiFirmware {
public:
    explicit SmhiFirmware(Scenario& scenario) : s(scenario) {}

    Reply handle(const std::vector<uint8_t>& request);

private:
    Scenario& s;
    bool selfTestStarted = false;
    int selfTestPollsLeft = 0;
    _sc_sensor_luid selfTestLuid;

    std::vector<uint8_t> answer(const std::vector<uint8_t>& request, int& property);
    std::vector<uint8_t> getProperty(const std::vector<uint8_t>& request, uint32_t property);
    std::vector<uint8_t> setProperty(const std::vector<uint8_t>& request);
    std::vector<uint8_t> selfTest(const std::vector<uint8_t>& request);
    SimSensor* findSensor(const _sc_sensor_luid& luid);
    void applyFaults(uint8_t command, int property, Reply& reply);
};

// A response header: the request's command with the response flag, and a status.
std::vector<uint8_t> responseHeader(uint8_t command, uint8_t status);

}  // namespace hubsim
