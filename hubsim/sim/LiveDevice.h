// The device an operator handles during a live run: its orientation over
// simulated time (placed, turned, held still), the Earth's field and gravity
// it sees, the light on its sensor, and each sensor's true errors.
#pragma once

#include <random>
#include <string>
#include <vector>

#include "DeviceSimulator.h"
#include "Hand.h"
#include "Mat3.h"

namespace sim {

enum class SensorKind { Base, Lid, Rate, Field, Light };

struct DeviceSetup {
    SensorErrors acc, lid, gyro, mag;
    double fieldMilliGauss = 500.0;
    double dipDegrees = 60.0;
    double lightGain = 0.5;
    double lightNoise = 0.2;
    std::string hinge = "BOTTOM";
    unsigned seed = 1;
    StreamEffects stream;
    Station station;
    // Moved by a person's hand, not an even one.
    bool hand = false;
};

class LiveDevice {
public:
    explicit LiveDevice(const DeviceSetup& setup);

    // Device axis names: "+x", "-y", ...; placing turns the device so that the
    // first axis points up and the second north. Each returns when (simulated
    // time, ms) the motion ends; motions queue behind each other.
    double place(const std::string& up, const std::string& north, double startMs, double seconds);
    // A turn about a device axis, counterclockwise for positive degrees.
    double turn(const std::string& axis, double degrees, double startMs, double seconds);
    // The light the light meter reads, reached after a short change.
    double light(double lux, double startMs);
    // A field at the station (a magnet or steel brought near, milligauss in
    // the world's east, north and up) that rises, stays for the time given
    // and falls again; it moves no part of the device. Returns when it is gone.
    double disturb(const V3& field, double startMs, double seconds);
    // Whether a person's hand moves the device from now on.
    void setHand(bool on) { setup.hand = on; }
    // A knock on the table: a jolt of 1.5 g for 20 ms that moves nothing.
    double knock(double startMs);

    // A raw reading of a sensor at a time, with its errors and noise.
    V3 raw(SensorKind kind, double tMs);
    // What a perfect sensor reads.
    V3 truth(SensorKind kind, double tMs) const;

private:
    struct Motion {
        double startMs, seconds;
        M3 from;
        V3 rotation;  // body rotation vector, radians
        Piece piece;  // as the hand made it (a jolt at a re-grip)
        bool tremor = false;  // a hand's tremor after it
        V3 tremorAxis;
        bool byHand = false;  // the sensor off the axis the hand turns it about
    };
    struct Disturbance {
        double startMs, seconds;
        V3 field;
    };
    DeviceSetup setup;
    std::vector<Motion> motions;
    std::vector<Disturbance> disturbances;
    M3 rest = M3::identity();
    double lightFrom = 0, lightTo = 0, lightStart = 0;
    std::mt19937 rng;
    M3 inverse[4];
    std::vector<Part> parts;
    Hand hand;

    double queueStart(double startMs) const;
    void add(double startMs, double seconds, const V3& rotation, const Piece& piece = Piece());
    // The pieces of a motion as the hand makes it, added one after another.
    void addByHand(double startMs, const std::vector<Piece>& pieces);
    // A move to a position: a quick swing by hand, an even one otherwise.
    void addMove(double startMs, double seconds, const V3& rotation);
    // The orientation at a time, its body rate, and the linear acceleration
    // (device frame, g) the hand gives the sensor.
    M3 orientation(double tMs, V3* rateDegPerS, V3* linear = nullptr) const;
    // The disturbances' field at a time, in the world frame.
    V3 disturbance(double tMs) const;
};

// A device axis from its name ("+x", "-z"), or throws.
V3 deviceAxis(const std::string& name);

}  // namespace sim
