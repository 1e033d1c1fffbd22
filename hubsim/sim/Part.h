// What a real part and a real station do to the readings besides the
// calibration errors: a sensor's full scale, resolution, nonlinearity, a bias
// that drifts, wanders and follows gravity; a stream whose samples come at
// irregular moments, carry jittered time stamps and are sometimes lost; a
// station whose field carries mains ripple and drifts. Each effect is off
// (zero) by default and given in the sensor's own units. The live device and
// the dump simulator read through the same model.
#pragma once

#include <random>
#include <utility>
#include <vector>

#include "Mat3.h"

namespace sim {

struct SensorErrors {
    // The correction the sensor needs: true = correction * (raw - offset).
    M3 correction = M3::identity();
    V3 offset;
    double noise = 0.0;
    double spikeRate = 0.0;  // probability of a spike per sample
    double spikeSize = 0.0;

    // The part itself.
    double fullScale = 0.0;        // readings clamp at plus and minus this
    double lsb = 0.0;              // readings are whole multiples of this
    double cubic = 0.0;            // at full scale the reading is off by this share of it (odd, cubic)
    V3 drift;                      // the bias moves by this much a minute (the part warming up)
    double randomWalk = 0.0;       // the bias's random walk, per square root of a second
    double biasInstability = 0.0;  // a wandering bias (first-order Gauss-Markov): its standard deviation
    double biasSeconds = 100.0;    // and its correlation time
    M3 gSensitivity;               // the bias per g of gravity along each device axis (rows: sensor axes)
};

// One sensor's readings over a run: keeps the state of its wandering bias.
class Part {
public:
    // nominalScale: the full scale the nonlinearity refers to when none is set.
    Part(const SensorErrors& errors, double nominalScale);

    // The reading at a time (ms) of a sensor that senses `sensed` (the truth
    // through its calibration errors, before the offset), with gravity in the
    // device at `gravity` (g). Draws its noise from rng.
    V3 read(double tMs, const V3& sensed, const V3& gravity, std::mt19937& rng);

private:
    SensorErrors e;
    double reference;
    V3 walk, wander;
    double lastMs = 0;
    bool started = false;
};

// The stream of reports: when samples are taken, what their time stamps say,
// which are lost.
struct StreamEffects {
    double jitterMs = 0.0;         // standard deviation of a time stamp's error
    double intervalSpread = 0.0;   // a sample is taken up to this share of the period early or late
    double dropShare = 0.0;        // share of single reports lost
    double burstMs = 0.0;          // a lost burst lasts this long...
    int burstAtTurn = 0;           // ...starting in this turn of the run (1 the first; 0 none)...
    double burstDelayMs = 0.0;     // ...this long after the turn starts
    double burstsPerMinute = 0.0;  // and bursts of that length at random, this many a minute
};

class Delivery {
public:
    Delivery(const StreamEffects& effects, unsigned seed);

    // How far from its place on the grid of the period a sample is taken.
    double lateness(double periodMs);
    // The time stamp of a sample taken at tMs: jittered, never before the
    // previous one.
    double stamp(double tMs);
    // A turn of the device starts at tMs: the burst planned for it, if any.
    void turnStarts(double tMs);
    // Whether the reports due at tMs are all lost (a burst).
    bool inBurst(double tMs);
    // Whether one sensor's report is lost on its own.
    bool dropped();

private:
    StreamEffects e;
    std::mt19937 rng;
    int turns = 0;
    std::vector<std::pair<double, double>> bursts;  // from, to (ms)
    double lastMs = -1, lastStamp = -1e300;
};

// The station: the Earth's field as it is there.
struct Station {
    double rippleMilliGauss = 0.0;  // amplitude of the mains field...
    double rippleHz = 60.0;         // ...and its frequency
    double fieldDrift = 0.0;        // the field's strength changes by this many mG a minute
    double dipDrift = 0.0;          // its dip by this many degrees a minute
    // Where the station's north points, in degrees east of magnetic north:
    // a device placed "Y axis directed to North" at the station points there.
    double headingDegrees = 0.0;
};

// The local field in the world (east, north, up; mG) at a time, for a field
// of that strength and dip (degrees) without the station's effects.
V3 stationField(const Station& station, double fieldMilliGauss, double dipDegrees, double tMs);

}  // namespace sim
