#include "Streaming.h"

#include <cmath>
#include <limits>
#include <sstream>

#include "device/Bytes.h"
#include "device/Smhi.h"

namespace hubsim {

namespace {

// Simulated milliseconds between an instruction and the operator's first move.
const double kReactionMs = 400.0;
// Most records in one sensor-data message.
const size_t kMaxMessage = 3900;

double dividerOf(uint16_t type) {
    return type == 115 ? 1e6 : type == 65 ? 1e3 : 1e5;
}

// What a static record's offsets count in, per sampling unit of the sensor.
double offsetUnitOf(uint16_t type) {
    return type == 115 ? 1e-6 : type == 118 ? 1e-5 : 1e-3;
}

int32_t saturate(double v) {
    if (!(v == v))
        return 0;
    const double r = std::round(v);
    if (r >= 2147483647.0)
        return std::numeric_limits<int32_t>::max();
    if (r <= -2147483648.0)
        return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(r);
}

// y = M * Am * (r - o) from a static record (format 0); other records leave r.
sim::V3 applyStatic(const std::vector<uint8_t>& record, uint16_t type, const sim::V3& r) {
    const doxi::ByteView b(record);
    if (record.size() < 38 || record[0] != 0)
        return r;
    sim::V3 o;
    for (int i = 0; i < 3; ++i) {
        int32_t v = 0;
        b.i32(2 + 4 * static_cast<size_t>(i), v);
        o[i] = v * offsetUnitOf(type);
    }
    uint16_t factor = 0;
    b.u16(32, factor);
    sim::M3 m;
    for (int k = 0; k < 9; ++k) {
        uint16_t raw = 0;
        b.u16(14 + 2 * static_cast<size_t>(k), raw);
        m.m[k / 3][k % 3] = static_cast<int16_t>(raw) / (factor != 0 ? static_cast<double>(factor) : 1.0);
    }
    uint32_t word = 0;
    b.u32(34, word);
    sim::M3 mapping;
    for (int k = 0; k < 9; ++k) {
        const unsigned field = (word >> (2 * k)) & 3u;
        mapping.m[k / 3][k % 3] = field == 1 ? 1 : field == 3 ? -1 : field == 2 ? -2 : 0;
    }
    return m * (mapping * (r - o));
}

}  // namespace

Streaming::Streaming(Scenario& scenario)
    : s(scenario), device(scenario.device), delivery(scenario.device.stream, scenario.device.seed) {}

double Streaming::now() const {
    const double wallMs =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    return wallMs * s.speed;
}

void Streaming::setSamplingProperty(const _sc_sensor_luid& luid, uint16_t property, const std::vector<uint8_t>& data) {
    Stream& stream = streams[luidHexKey(luid)];
    stream.luid = luid;
    const doxi::ByteView b(data);
    if (property == SMHI_SENSOR_PROP_REPORT_INTERVAL) {
        uint32_t interval = 0;
        if (b.u32(0, interval) && interval > 0 && interval <= 10000)
            stream.intervalMs = interval;
    } else if (property == SMHI_SENSOR_PROP_REPORTING_STATE && !data.empty()) {
        stream.on = data[0] == 2;
    }
}

const SimSensor* Streaming::routeOf(const _sc_sensor_luid& luid) const {
    // An uncalibrated companion's reports go out under the calibrated sensor's luid.
    if (luid.sensorType == 577 || luid.sensorType == 578) {
        for (const SimSensor& sensor : s.sensors) {
            const _sc_sensor_luid& l = sensor.luid;
            const bool kind = luid.sensorType == 577 ? l.sensorType == 118 : (l.sensorType == 527 || l.sensorType == 125);
            if (kind && l.vendorId == luid.vendorId && l.subType == luid.subType && l.instance == luid.instance &&
                (l.flags & 0x02))
                return &sensor;
        }
        return nullptr;
    }
    for (const SimSensor& sensor : s.sensors)
        if (sensor.luid == luid)
            return &sensor;
    return nullptr;
}

bool Streaming::reading(const SimSensor& sensor, double tMs, std::vector<int32_t>& out) {
    const uint16_t type = sensor.luid.sensorType;
    const double divider = dividerOf(type);
    out.clear();
    if (type == 65) {
        double lux = device.raw(sim::SensorKind::Light, tMs).x;
        const std::vector<uint8_t>& r = sensor.calibration;
        if (sensor.hasCalibration && r.size() >= 5 && r[0] == 1) {
            const unsigned multiplier = r[2] | (r[3] << 8);
            if (multiplier != 0)
                lux = lux * multiplier / (r[4] != 0 ? r[4] : 1);
        }
        out.push_back(saturate(lux * divider));
        return true;
    }
    sim::SensorKind kind;
    if (type == 115)
        kind = sensor.luid.instance == 0 ? sim::SensorKind::Base : sim::SensorKind::Lid;
    else if (type == 118)
        kind = sim::SensorKind::Rate;
    else if (type == 527 || type == 125)
        kind = sim::SensorKind::Field;
    else
        return false;
    sim::V3 v = device.raw(kind, tMs);
    if (sensor.hasCalibration)
        v = applyStatic(sensor.calibration, type, v);
    for (int i = 0; i < 3; ++i)
        out.push_back(saturate(v[i] * divider));
    return true;
}

std::vector<std::vector<uint8_t>> Streaming::reports(double& from, double startedAt) {
    const Scenario::StreamFaults& faults = s.streamFaults;
    std::vector<std::vector<uint8_t>> messages;
    double period = 0;
    for (const auto& kv : streams)
        if (kv.second.on && (period == 0 || kv.second.intervalMs < period))
            period = kv.second.intervalMs;
    const double until = now();
    if (period == 0) {
        from = until;
        return messages;
    }
    std::vector<smhi::SampleRecord> records;
    size_t bytes = 8;
    auto flush = [&] {
        if (records.empty())
            return;
        std::vector<uint8_t> message = smhi::buildSensorData(records);
        if (faults.zeroLengthRecord) {
            // A record of length 0, then bytes that must not be read as records.
            message.insert(message.end(), {0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF});
            const uint32_t length = static_cast<uint32_t>(message.size() - 8);
            for (int i = 0; i < 4; ++i)
                message[4 + static_cast<size_t>(i)] = static_cast<uint8_t>(length >> (8 * i));
        }
        messages.push_back(std::move(message));
        records.clear();
        bytes = 8;
    };
    for (; from < until; from += period) {
        // Taken a little early or late with irregular intervals; a lost burst
        // takes every report of the moment, a dropped one a single report.
        const double at = from + delivery.lateness(period);
        const bool lost = delivery.inBurst(at);
        const double stamp = delivery.stamp(at);
        for (const auto& kv : streams) {
            if (!kv.second.on)
                continue;
            const SimSensor* target = routeOf(kv.second.luid);
            smhi::SampleRecord record;
            if (!target || !reading(*target, at, record.readings))
                continue;
            if (lost || delivery.dropped())
                continue;
            if (!faults.silentLuid.empty() && luidHexKey(target->luid) == faults.silentLuid &&
                from - startedAt >= faults.silentAfterMs)
                continue;
            record.luid = target->luid;
            record.timestamp = static_cast<uint64_t>(stamp * 1000.0);
            const size_t size = 17 + 4 * record.readings.size();
            if (bytes + size > kMaxMessage)
                flush();
            bytes += size;
            records.push_back(record);
        }
        if (faults.unknownSensor && !records.empty()) {
            smhi::SampleRecord stranger;
            stranger.luid = _sc_sensor_luid{0x7FFF, 1, 1, 0, 2};
            stranger.timestamp = static_cast<uint64_t>(from * 1000.0);
            stranger.readings = {1, 2, 3};
            records.push_back(stranger);
            bytes += 29;
        }
    }
    flush();
    return messages;
}

long Streaming::operate(const std::string& command, std::string& error) {
    std::istringstream in(command);
    std::string verb;
    in >> verb;
    const double t = now();
    double done = t;
    try {
        if (verb == "place") {
            std::string up, north;
            double seconds = 0;
            if (!(in >> up >> north >> seconds) || seconds <= 0)
                throw std::runtime_error("usage: place UP NORTH SECONDS");
            done = device.place(up, north, t + kReactionMs, seconds);
        } else if (verb == "turn") {
            std::string axis;
            double degrees = 0, seconds = 0;
            if (!(in >> axis >> degrees >> seconds) || seconds <= 0)
                throw std::runtime_error("usage: turn AXIS DEGREES SECONDS");
            done = device.turn(axis, degrees, t + kReactionMs, seconds);
            delivery.turnStarts(done - seconds * 1000);
        } else if (verb == "disturb") {
            sim::V3 field;
            double seconds = 0;
            if (!(in >> field.x >> field.y >> field.z >> seconds) || seconds <= 0)
                throw std::runtime_error("usage: disturb EAST NORTH UP SECONDS");
            done = device.disturb(field, t + kReactionMs, seconds);
        } else if (verb == "knock") {
            done = device.knock(t + kReactionMs);
        } else if (verb == "hand") {
            std::string state;
            if (!(in >> state) || (state != "on" && state != "off"))
                throw std::runtime_error("usage: hand on|off");
            device.setHand(state == "on");
        } else if (verb == "light") {
            double lux = 0;
            if (!(in >> lux) || lux < 0)
                throw std::runtime_error("usage: light LUX");
            done = device.light(lux, t + kReactionMs);
        } else {
            throw std::runtime_error("unknown action: " + verb);
        }
    } catch (const std::exception& e) {
        error = e.what();
        return -1;
    }
    return static_cast<long>((done - t) / s.speed) + 1;
}

}  // namespace hubsim
