// What the emulated hub is: firmware, device nodes, sensors with their bus and
// calibration records, platform info, PDT, self-test outcomes, I2C counts and
// injected faults. Loaded from an XML scenario file.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "LiveDevice.h"
#include "device/SensorLuid.h"

namespace hubsim {

class ScenarioError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct SimSensor {
    _sc_sensor_luid luid;
    bool hasBus = false;
    uint8_t busType = 0, busNumber = 0, busAddress = 0;
    bool hasCalibration = false;
    std::vector<uint8_t> calibration;
};

struct SimGroup {
    std::vector<uint8_t> header;  // first 11 bytes of the group header
    std::vector<size_t> sensors;  // indexes into Scenario::sensors
};

struct SelfTestResult {
    _sc_sensor_luid luid;
    uint8_t code = 0;
};

struct Fault {
    int command = -1;          // SMHI command id the fault applies to (-1: any)
    int property = -1;         // property id for commands 4 and 5 (-1: any)
    int status = -1;           // status to answer with (-1: unchanged)
    std::string response;      // "", "none", "short", "long", "close"
    int length = -1;           // bytes of a short or long response
    int delayMs = 0;           // answer after this delay
    int times = -1;            // applies this many times (-1: always)
    int skip = 0;              // after letting this many matching requests pass
};

struct I2cCounts {
    uint16_t standardHigh = 0, standardLow = 0, fastHigh = 0, fastLow = 0;
};

struct Scenario {
    uint16_t version[4] = {3, 1, 0, 3426};
    bool statusRegisterReadable = true;
    uint32_t statusRegister = 0x0000F000;  // sensors apps running
    uint32_t maxMessageLength = 4096;
    std::set<std::string> nodes = {"/dev/keb-smhi", "/dev/keb-trace", "/dev/keb-tracec", "/dev/keb"};
    bool refuseConnect = false;

    std::vector<SimSensor> sensors;
    std::vector<SimGroup> groups;
    std::vector<uint8_t> platformInfo = std::vector<uint8_t>(8, 0);
    std::vector<uint8_t> pdt;

    int selfTestRunningPolls = 2;
    uint8_t selfTestRunningStatus = 3;
    int selfTestOverall = -1;  // -1: from the worst result
    std::vector<SelfTestResult> selfTestResults;

    std::map<int, I2cCounts> i2c;
    std::vector<Fault> faults;

    // The physical device behind the sensors, for live sampling: its sensors'
    // true errors, the field and light around it, and how much faster than
    // wall time its simulated time runs.
    sim::DeviceSetup device;
    double speed = 1.0;
    // Faults of the live reports (simulated milliseconds since the recording started).
    struct StreamFaults {
        double dropAfterMs = -1;       // the recording connection is closed then
        bool unknownSensor = false;    // reports also carry a sensor the tool does not know
        bool zeroLengthRecord = false; // each payload ends with a record of length 0 and junk
        std::string silentLuid;        // this sensor stops reporting...
        double silentAfterMs = 0;      // ...after this long
        bool ignoreStop = false;       // a stop of the recording is never answered; the reports go on
    } streamFaults;

    // The trace client: the packets it delivers on every connection, one per
    // read, in order; repeated traceRepeat times (a rate test). With
    // traceAfterFlush they follow the answer to a flush request, else they are
    // sent as soon as the client connects.
    std::vector<std::vector<uint8_t>> tracePackets;
    long traceRepeat = 1;
    bool traceAfterFlush = false;
    // The answer to a flush request: a bare header, or (abnormal) one with
    // four more bytes.
    bool traceFlushAbnormal = false;

    // The trace-configuration client: the configuration record it starts
    // with (40 bytes, as kept in flash), its trace log header (32 bytes), and
    // answers forced per command (status, or a response cut to a length).
    std::vector<uint8_t> traceConfig = defaultTraceConfig();
    std::vector<uint8_t> traceLogHeader = defaultTraceLogHeader();
    struct TraceConfigAnswer {
        int command = -1;
        int status = -1;  // -1: the normal status
        int length = -1;  // -1: the whole response
        bool swallow = false;  // no answer at all
    };
    std::vector<TraceConfigAnswer> traceConfigAnswers;

    static std::vector<uint8_t> defaultTraceConfig();
    static std::vector<uint8_t> defaultTraceLogHeader();
};

// Throws ScenarioError with the file name and a reason.
Scenario loadScenario(const std::string& path);
Scenario parseScenario(const std::string& xml, const std::string& baseDir);

// Hex bytes, blanks allowed between them.
std::vector<uint8_t> parseHexBytes(const std::string& text);

}  // namespace hubsim
