#include "Part.h"

#include <algorithm>
#include <cmath>

namespace sim {

namespace {

const double kPi = 3.14159265358979323846;

}  // namespace

Part::Part(const SensorErrors& errors, double nominalScale)
    : e(errors), reference(errors.fullScale > 0 ? errors.fullScale : nominalScale) {}

V3 Part::read(double tMs, const V3& sensed, const V3& gravity, std::mt19937& rng) {
    // The draws of the noise and the spikes come first and in this order, so
    // a part without the other effects reads as it always did.
    V3 v = sensed;
    if (e.cubic != 0 && reference > 0)
        for (int k = 0; k < 3; ++k)
            v[k] += e.cubic * reference * std::pow(v[k] / reference, 3);
    v = v + e.offset;
    std::normal_distribution<double> gauss(0.0, e.noise > 0 ? e.noise : 1.0);
    std::uniform_real_distribution<double> uniform(0.0, 1.0);
    if (e.noise > 0)
        for (int k = 0; k < 3; ++k)
            v[k] += gauss(rng);
    if (e.spikeRate > 0 && uniform(rng) < e.spikeRate)
        v[static_cast<int>(uniform(rng) * 3) % 3] += e.spikeSize;

    const double dt = started ? std::max(0.0, tMs - lastMs) / 1000.0 : 0.0;
    started = true;
    lastMs = tMs;
    std::normal_distribution<double> unit(0.0, 1.0);
    if (e.randomWalk > 0 && dt > 0)
        for (int k = 0; k < 3; ++k)
            walk[k] += e.randomWalk * std::sqrt(dt) * unit(rng);
    if (e.biasInstability > 0 && e.biasSeconds > 0 && dt > 0) {
        const double keep = std::exp(-dt / e.biasSeconds);
        for (int k = 0; k < 3; ++k)
            wander[k] = wander[k] * keep + e.biasInstability * std::sqrt(1 - keep * keep) * unit(rng);
    }
    v = v + walk + wander + e.drift * (tMs / 60000.0) + e.gSensitivity * gravity;

    for (int k = 0; k < 3; ++k) {
        if (e.fullScale > 0)
            v[k] = std::max(-e.fullScale, std::min(e.fullScale, v[k]));
        if (e.lsb > 0)
            v[k] = std::round(v[k] / e.lsb) * e.lsb;
    }
    return v;
}

Delivery::Delivery(const StreamEffects& effects, unsigned seed) : e(effects), rng(seed * 7919u + 17u) {}

double Delivery::lateness(double periodMs) {
    if (e.intervalSpread <= 0)
        return 0.0;
    std::uniform_real_distribution<double> spread(-e.intervalSpread, e.intervalSpread);
    return spread(rng) * periodMs / 2;
}

double Delivery::stamp(double tMs) {
    double t = tMs;
    if (e.jitterMs > 0) {
        std::normal_distribution<double> jitter(0.0, e.jitterMs);
        t += jitter(rng);
        t = std::max(t, lastStamp + 0.001);
    }
    // A first sample taken early is still stamped at the recording's start.
    t = std::max(t, 0.0);
    lastStamp = t;
    return t;
}

void Delivery::turnStarts(double tMs) {
    if (++turns == e.burstAtTurn && e.burstMs > 0)
        bursts.emplace_back(tMs + e.burstDelayMs, tMs + e.burstDelayMs + e.burstMs);
}

bool Delivery::inBurst(double tMs) {
    if (e.burstsPerMinute > 0 && e.burstMs > 0 && lastMs >= 0 && tMs > lastMs) {
        std::uniform_real_distribution<double> uniform(0.0, 1.0);
        if (uniform(rng) < e.burstsPerMinute * (tMs - lastMs) / 60000.0)
            bursts.emplace_back(tMs, tMs + e.burstMs);
    }
    lastMs = tMs;
    for (const auto& b : bursts)
        if (tMs >= b.first && tMs < b.second)
            return true;
    return false;
}

bool Delivery::dropped() {
    if (e.dropShare <= 0)
        return false;
    std::uniform_real_distribution<double> uniform(0.0, 1.0);
    return uniform(rng) < e.dropShare;
}

V3 stationField(const Station& s, double fieldMilliGauss, double dipDegrees, double tMs) {
    const double minutes = tMs / 60000.0;
    const double dip = (dipDegrees + s.dipDrift * minutes) / (180.0 / kPi);
    // Magnetic north lies as far west of the station's north as that points east of it.
    const double heading = s.headingDegrees / (180.0 / kPi);
    V3 field = V3{-std::sin(heading) * std::cos(dip), std::cos(heading) * std::cos(dip), -std::sin(dip)} *
               (fieldMilliGauss + s.fieldDrift * minutes);
    if (s.rippleMilliGauss > 0) {
        // Mains wiring under the bench: a field of its own direction.
        const V3 direction = V3{1, 1, 1} * (1 / std::sqrt(3.0));
        field = field + direction * (s.rippleMilliGauss * std::sin(2 * kPi * s.rippleHz * tMs / 1000));
    }
    return field;
}

}  // namespace sim
