// A person's hand moving the device, as a real recording shows one (a 6-axis
// part turned by hand): a turn of 360 degrees in 3 or 4 strokes of up to 550
// deg/s with re-grips between them (pauses of 0.1 to 0.3 s, each with a jolt
// of up to about 1 g for 20 ms), a move to the next position as a swing of up
// to 800 deg/s within about a second, the sensor some centimetres off the axis
// the hand turns it about, a tremor that dies away after each motion, and each
// placement a degree or so about the vertical off the last. The live device
// and the dump simulator both move by it, so a live run and a dump see the
// same hand.
#pragma once

#include <random>
#include <vector>

#include "Mat3.h"

namespace sim {

// One piece of a motion: a rotation (body rotation vector, radians) over a
// time, its rate rising and falling as 1 - cos; no rotation is a pause. A
// re-grip starts with a jolt.
struct Piece {
    V3 rotation;
    double seconds;
    bool regrip = false;
    V3 jolt{};  // its peak linear acceleration, device frame, g
};

class Hand {
public:
    explicit Hand(unsigned seed = 1) : rng(seed) {}

    // A turn the operator was told to make, as the hand makes it in the same
    // time: in a hurry its re-grips take at most half of it and its strokes
    // are faster; a flick is one stroke.
    std::vector<Piece> turn(const V3& rotation, double seconds);
    // A move to the next position: a quick swing within the time, still around it.
    std::vector<Piece> move(const V3& rotation, double seconds);
    // How far about the vertical a placement lands off the intended one (radians).
    double placement();

    // The linear acceleration (device frame, g) a piece gives the sensor, kArm
    // off the axis it turns about, at the share u of its time: the centripetal
    // and the tangential parts.
    static V3 armAcceleration(const Piece& piece, double u);
    // The jolt of a re-grip, a half sine of kJoltMs, at ms after its start.
    static V3 jolt(const V3& peak, double ms);
    // The tremor after a motion ends, ms after it: a small rotation (radians,
    // body) and its rate (deg/s); axis is the tremor's, drawn per motion.
    static V3 tremorAngle(const V3& axis, double ms);
    static V3 tremorRate(const V3& axis, double ms);
    V3 tremorAxis();

    static constexpr double kJoltMs = 20.0;
    // A turn given less than this (s) is flicked round in one stroke.
    static constexpr double kFlickSeconds = 0.6;
    // A knock on the table: its jolt's peak (device frame, g), about 1.5 g.
    static constexpr V3 kKnock{0.9, 0.7, 0.9};
    // Where the sensor sits from the axis the hand turns the device about (m).
    static constexpr double kArm = 0.04;

private:
    std::mt19937 rng;
    double uniform(double low, double high);
};

// The share of a 1 - cos piece's rotation done at the share u of its time,
// and the rate at u as a share of the rotation per second.
double turnedShare(double u);
double rateShare(double u, double seconds);

}  // namespace sim
