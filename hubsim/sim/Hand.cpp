#include "Hand.h"

#include <algorithm>
#include <cmath>

namespace sim {

namespace {

const double kPi = 3.14159265358979323846;
const double kDegPerRad = 180.0 / kPi;
const double kStandardGravity = 9.80665;
// The tremor after a motion: its size, pace and how fast it dies away.
const double kTremorRad = 0.05 / kDegPerRad;
const double kTremorHz = 9.0;
const double kTremorSeconds = 0.15;

}  // namespace

double turnedShare(double u) {
    return u - std::sin(2 * kPi * u) / (2 * kPi);
}

double rateShare(double u, double seconds) {
    return seconds > 0 ? (1 - std::cos(2 * kPi * u)) / seconds : 0.0;
}

double Hand::uniform(double low, double high) {
    return std::uniform_real_distribution<double>(low, high)(rng);
}

std::vector<Piece> Hand::turn(const V3& rotation, double seconds) {
    const double angle = length(rotation);
    if (angle <= 0 || seconds <= 0)
        return {{rotation, seconds}};
    const V3 axis = rotation * (1 / angle);
    // Where the turn ends is a fraction of a degree off where it began.
    const double total = angle + std::normal_distribution<double>(0, 0.2 / kDegPerRad)(rng);
    // A turn given less than kFlickSeconds is flicked round in one stroke;
    // otherwise the hand turns in three or four.
    const int drawn = std::uniform_int_distribution<int>(3, 4)(rng);
    const int strokes = seconds < kFlickSeconds ? 1 : drawn;
    std::vector<double> shares(static_cast<size_t>(strokes));
    double sum = 0;
    for (double& s : shares)
        sum += (s = uniform(0.7, 1.3));
    std::vector<double> active, pauses;
    double busy = 0, paused = 0;
    for (int i = 0; i < strokes; ++i) {
        // A stroke's peak rate, which its 1 - cos profile reaches at twice its mean.
        const double peak = uniform(350, 550) / kDegPerRad;
        active.push_back(2 * total * shares[static_cast<size_t>(i)] / sum / peak);
        busy += active.back();
        if (i + 1 < strokes) {
            pauses.push_back(uniform(0.1, 0.3));
            paused += pauses.back();
        }
    }
    // Within the time the turn was given: a hand in a hurry re-grips within
    // half of it at most and strokes faster in the rest; given long, the
    // turn ends still.
    if (paused > 0.5 * seconds) {
        for (double& p : pauses)
            p *= 0.5 * seconds / paused;
        paused = 0.5 * seconds;
    }
    const double room = seconds - paused;
    const double faster = busy > room ? room / busy : 1.0;
    std::vector<Piece> pieces;
    double used = 0;
    for (int i = 0; i < strokes; ++i) {
        const double t = active[static_cast<size_t>(i)] * faster;
        pieces.push_back({axis * (total * shares[static_cast<size_t>(i)] / sum), t});
        used += t;
        if (i + 1 < strokes) {
            // The re-grip: a pause, and the jolt of the hand taking hold again.
            V3 direction{std::normal_distribution<double>()(rng), std::normal_distribution<double>()(rng),
                         std::normal_distribution<double>()(rng)};
            const double size = length(direction);
            direction = size > 0 ? direction * (uniform(0.5, 1.0) / size) : V3{0.7, 0, 0};
            pieces.push_back({V3{}, pauses[static_cast<size_t>(i)], true, direction});
            used += pauses[static_cast<size_t>(i)];
        }
    }
    if (seconds > used + 1e-9)
        pieces.push_back({V3{}, seconds - used});
    return pieces;
}

std::vector<Piece> Hand::move(const V3& rotation, double seconds) {
    const double angle = length(rotation);
    if (angle <= 0 || seconds <= 0)
        return {{rotation, seconds}};
    // A swing of a third of a second at the least: a placement a degree off
    // is nudged, not flicked.
    const double swing = std::min(seconds, std::max(0.3, 2 * angle / (uniform(500, 800) / kDegPerRad)));
    const double before = (seconds - swing) * 0.3;
    return {{V3{}, before}, {rotation, swing}, {V3{}, seconds - swing - before}};
}

double Hand::placement() {
    const double heading = std::normal_distribution<double>(0, 0.7 / kDegPerRad)(rng);
    return std::max(-2 / kDegPerRad, std::min(2 / kDegPerRad, heading));
}

V3 Hand::tremorAxis() {
    V3 axis{std::normal_distribution<double>()(rng), std::normal_distribution<double>()(rng),
            std::normal_distribution<double>()(rng)};
    const double size = length(axis);
    return size > 0 ? axis * (1 / size) : V3{1, 0, 0};
}

V3 Hand::armAcceleration(const Piece& piece, double u) {
    if (piece.seconds <= 0 || length(piece.rotation) <= 0)
        return {};
    // The sensor's place from the axis the hand turns the device about.
    const V3 arm = V3{0.6, 0.8, 0.3} * (kArm / std::sqrt(0.6 * 0.6 + 0.8 * 0.8 + 0.3 * 0.3));
    const V3 w = piece.rotation * rateShare(u, piece.seconds);
    const V3 a = piece.rotation * (2 * kPi * std::sin(2 * kPi * u) / (piece.seconds * piece.seconds));
    return (cross(a, arm) + cross(w, cross(w, arm))) * (1 / kStandardGravity);
}

V3 Hand::jolt(const V3& peak, double ms) {
    if (ms < 0 || ms > kJoltMs)
        return {};
    return peak * std::sin(kPi * ms / kJoltMs);
}

V3 Hand::tremorAngle(const V3& axis, double ms) {
    if (ms < 0 || ms > 1000)
        return {};
    const double t = ms / 1000;
    return axis * (kTremorRad * std::sin(2 * kPi * kTremorHz * t) * std::exp(-t / kTremorSeconds));
}

V3 Hand::tremorRate(const V3& axis, double ms) {
    if (ms < 0 || ms > 1000)
        return {};
    const double t = ms / 1000, w = 2 * kPi * kTremorHz;
    const double rate =
        kTremorRad * std::exp(-t / kTremorSeconds) * (w * std::cos(w * t) - std::sin(w * t) / kTremorSeconds);
    return axis * (rate * kDegPerRad);
}

}  // namespace sim
