// The firmware's sensor reports during a recording: which sensors report and
// how often (the sampling properties), the simulated device they measure, the
// static calibration the firmware applies to each reading, and the operator's
// hands on the device.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "LiveDevice.h"
#include "Scenario.h"

namespace hubsim {

class Streaming {
public:
    explicit Streaming(Scenario& scenario);

    // Simulated milliseconds since hubsim started.
    double now() const;
    // A sampling property (report interval, reporting state) set by a tool.
    void setSamplingProperty(const _sc_sensor_luid& luid, uint16_t property, const std::vector<uint8_t>& data);
    // The sensor-data messages of every report due in [from, now), from moving
    // on; startedAt is when the recording started.
    std::vector<std::vector<uint8_t>> reports(double& from, double startedAt);
    // An operator's action on the device ("place +y -z 2", "turn +z 360 4",
    // "light 500"); returns the wall milliseconds until it is done, or -1 with
    // a reason in error.
    long operate(const std::string& command, std::string& error);

private:
    struct Stream {
        _sc_sensor_luid luid;  // the luid the tool enabled
        double intervalMs = 10;
        bool on = false;
    };
    Scenario& s;
    sim::LiveDevice device;
    // When the samples are taken, what their time stamps say, which are lost.
    sim::Delivery delivery;
    std::map<std::string, Stream> streams;
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();

    // The calibrated sensor a sampling luid's reports are routed to.
    const SimSensor* routeOf(const _sc_sensor_luid& luid) const;
    // The reading the firmware reports for a sensor at a time, already scaled.
    bool reading(const SimSensor& sensor, double tMs, std::vector<int32_t>& out);
};

}  // namespace hubsim
