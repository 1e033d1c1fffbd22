#include "LiveDevice.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace sim {

namespace {

const double kPi = 3.14159265358979323846;
const double kDegPerRad = 180.0 / kPi;
const double kLightChangeMs = 300.0;

// What a part's nonlinearity refers to when its full scale is not given:
// 2 g, 2000 deg/s, 10 G.
double nominalScale(int kind) {
    return kind < 2 ? 2.0 : kind == 2 ? 2000.0 : 10000.0;
}

}  // namespace

V3 deviceAxis(const std::string& name) {
    if (name.size() != 2 || (name[0] != '+' && name[0] != '-'))
        throw std::runtime_error("not an axis: " + name);
    const double s = name[0] == '+' ? 1.0 : -1.0;
    switch (name[1]) {
    case 'x': return {s, 0, 0};
    case 'y': return {0, s, 0};
    case 'z': return {0, 0, s};
    default: throw std::runtime_error("not an axis: " + name);
    }
}

LiveDevice::LiveDevice(const DeviceSetup& s) : setup(s), rng(s.seed), hand(s.seed * 7919u + 7) {
    const SensorErrors* all[4] = {&setup.acc, &setup.lid, &setup.gyro, &setup.mag};
    for (int i = 0; i < 4; ++i) {
        inverse[i] = all[i]->correction.inverse();
        parts.emplace_back(*all[i], nominalScale(i));
    }
}

double LiveDevice::queueStart(double startMs) const {
    return motions.empty() ? startMs : std::max(startMs, motions.back().startMs + motions.back().seconds * 1000);
}

void LiveDevice::add(double startMs, double seconds, const V3& rotation, const Piece& piece) {
    const double from = queueStart(startMs);
    const M3 start = motions.empty() ? rest : orientation(from, nullptr);
    Motion m{from, seconds, start, rotation, piece, false, V3{}, false};
    m.piece.rotation = rotation;
    m.piece.seconds = seconds;
    motions.push_back(m);
}

void LiveDevice::addByHand(double startMs, const std::vector<Piece>& pieces) {
    for (const Piece& p : pieces) {
        add(startMs, p.seconds, p.rotation, p);
        motions.back().byHand = true;
    }
    // The hand lets go: a tremor dies away.
    if (!motions.empty()) {
        motions.back().tremor = true;
        motions.back().tremorAxis = hand.tremorAxis();
    }
}

double LiveDevice::place(const std::string& up, const std::string& north, double startMs, double seconds) {
    const V3 u = deviceAxis(up), n = deviceAxis(north);
    if (std::fabs(dot(u, n)) > 0.5)
        throw std::runtime_error("up and north must differ: " + up + " " + north);
    const V3 e = cross(n, u);
    // Device-to-world: its rows are the device's east, north and up; by hand
    // the device lands a degree or so about the vertical off.
    M3 target = M3::rows(e.x, e.y, e.z, n.x, n.y, n.z, u.x, u.y, u.z);
    if (setup.hand)
        target = rotation(V3{0, 0, hand.placement()}) * target;
    const double from = queueStart(startMs);
    const M3 current = motions.empty() ? rest : orientation(from, nullptr);
    const M3 step = current.transposed() * target;
    // Half a turn has no unique axis: go there in two moves.
    const double c = (step.m[0][0] + step.m[1][1] + step.m[2][2] - 1) / 2;
    if (c < -0.99) {
        const V3 axis = std::fabs(step.m[0][0] - 1) < 1e-6 ? V3{1, 0, 0} : std::fabs(step.m[1][1] - 1) < 1e-6 ? V3{0, 1, 0} : V3{0, 0, 1};
        addMove(from, seconds / 2, axis * (kPi / 2));
        const M3 middle = orientation(queueStart(from), nullptr);
        addMove(from, seconds / 2, rotationVector(middle.transposed() * target));
    } else {
        addMove(from, seconds, rotationVector(step));
    }
    return queueStart(from);
}

void LiveDevice::addMove(double startMs, double seconds, const V3& rotation) {
    if (setup.hand)
        addByHand(startMs, hand.move(rotation, seconds));
    else
        add(startMs, seconds, rotation);
}

double LiveDevice::turn(const std::string& axis, double degrees, double startMs, double seconds) {
    const V3 rotationVector = deviceAxis(axis) * (degrees / kDegPerRad);
    if (setup.hand)
        addByHand(startMs, hand.turn(rotationVector, seconds));
    else
        add(startMs, seconds, rotationVector);
    return queueStart(startMs);
}

double LiveDevice::knock(double startMs) {
    Piece piece{V3{}, Hand::kJoltMs / 1000, true, Hand::kKnock};
    add(startMs, piece.seconds, V3{}, piece);
    return queueStart(startMs);
}

double LiveDevice::light(double lux, double startMs) {
    lightFrom = lightTo;
    lightTo = lux;
    lightStart = startMs;
    return startMs + kLightChangeMs;
}

double LiveDevice::disturb(const V3& field, double startMs, double seconds) {
    disturbances.push_back({startMs, seconds, field});
    return startMs + seconds * 1000;
}

V3 LiveDevice::disturbance(double tMs) const {
    V3 total;
    for (const Disturbance& d : disturbances) {
        const double duration = d.seconds * 1000;
        if (tMs < d.startMs || tMs > d.startMs + duration || duration <= 0)
            continue;
        // Brought near and taken away again: a smooth rise and fall.
        const double u = (tMs - d.startMs) / duration;
        total = total + d.field * (0.5 - 0.5 * std::cos(2 * kPi * u));
    }
    return total;
}

M3 LiveDevice::orientation(double tMs, V3* rate, V3* linear) const {
    if (rate)
        *rate = V3{};
    if (linear)
        *linear = V3{};
    M3 current = rest;
    const Motion* last = nullptr;
    for (const Motion& m : motions) {
        if (tMs < m.startMs)
            break;
        last = &m;
        const double duration = m.seconds * 1000;
        const double u = duration > 0 ? std::min(1.0, (tMs - m.startMs) / duration) : 1.0;
        current = m.from * rotation(m.rotation * turnedShare(u));
        if (rate)
            *rate = u < 1.0 ? m.rotation * (rateShare(u, m.seconds) * kDegPerRad) : V3{};
        if (linear)
            *linear = (u < 1.0 && m.byHand ? Hand::armAcceleration(m.piece, u) : V3{}) +
                      (m.piece.regrip ? Hand::jolt(m.piece.jolt, tMs - m.startMs) : V3{});
    }
    // The hand's tremor as it lets go.
    if (last && last->tremor) {
        const double after = tMs - (last->startMs + last->seconds * 1000);
        current = current * rotation(Hand::tremorAngle(last->tremorAxis, after));
        if (rate)
            *rate = *rate + Hand::tremorRate(last->tremorAxis, after);
    }
    return current;
}

V3 LiveDevice::truth(SensorKind kind, double tMs) const {
    V3 rate, linear;
    const M3 toDevice = orientation(tMs, &rate, &linear).transposed();
    const V3 gravity = toDevice * V3{0, 0, 1};
    switch (kind) {
    case SensorKind::Base: return gravity + linear;
    case SensorKind::Lid: return lidFrame(setup.hinge) * (gravity + linear);
    case SensorKind::Rate: return rate;
    case SensorKind::Field:
        return toDevice * (stationField(setup.station, setup.fieldMilliGauss, setup.dipDegrees, tMs) + disturbance(tMs));
    case SensorKind::Light: {
        const double u = std::min(1.0, std::max(0.0, (tMs - lightStart) / kLightChangeMs));
        return {(lightFrom + (lightTo - lightFrom) * u) * setup.lightGain, 0, 0};
    }
    }
    return {};
}

V3 LiveDevice::raw(SensorKind kind, double tMs) {
    const V3 t = truth(kind, tMs);
    if (kind == SensorKind::Light) {
        std::normal_distribution<double> noise(0.0, setup.lightNoise > 0 ? setup.lightNoise : 1.0);
        return {t.x + (setup.lightNoise > 0 ? noise(rng) : 0.0), 0, 0};
    }
    const int i = static_cast<int>(kind);
    const V3 gravity = truth(SensorKind::Base, tMs);
    return parts[static_cast<size_t>(i)].read(tMs, inverse[i] * t, gravity, rng);
}

}  // namespace sim
