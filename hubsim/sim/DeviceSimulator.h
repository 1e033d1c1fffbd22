// A simulated device going through the steps of a calibration flow as an
// operator would: holds of a few seconds, turns and moves at a human rate
// between the positions. The device's orientation is the integral of its body
// rates, so the gyroscope, the accelerometers and the magnetometer always
// agree. Each sensor has true errors (offset, scale and misalignment, noise,
// occasional spikes); the result is the data dump a run records.
//
// The simulator is the oracle the calibration tool is checked against: it has
// its own arithmetic and its own dump writer and links nothing of the tool.
#pragma once

#include <string>
#include <vector>

#include "Mat3.h"
#include "Part.h"

namespace sim {

enum class Flow { Full, Minimal, FourSteps, MagFourSteps };

struct SimOptions {
    Flow flow = Flow::Full;
    bool als = false;  // an ambient light run instead of a motion flow
    bool accelerometer = true;
    bool secondAccelerometer = false;
    bool gyroscope = false;
    bool magnetometer = false;
    std::string hinge = "BOTTOM";
    SensorErrors acc, acc2, gyro, mag;
    double holdSeconds = 3.0;
    double turnSeconds = 2.0;
    // The full flow's turns; an operator may stop short. The magnetometer's
    // four-steps test turns a quarter of it.
    double turnDegrees = 360.0;
    double periodMs = 10.0;
    double fieldMilliGauss = 500.0;
    double dipDegrees = 60.0;
    // The local field turns from one position to the next, as near a steel
    // desk: the dip angle changes over the positions by this many degrees
    // (first to last), the field strength stays.
    double dipSpreadDegrees = 0.0;
    unsigned seed = 1;
    // Samples as the firmware reports them with a correct calibration applied
    // (a test run), instead of raw samples (a calibration run); the sensor
    // errors then are what remains wrong after that calibration.
    bool testRecording = false;
    // A position held wrongly (tilted 60 degrees), or -1.
    int wrongStep = -1;
    // Ambient light: reference levels (lux) and the sensor's true gain.
    std::vector<int> lightLevels = {100, 500, 1000};
    double lightGain = 0.5;
    double lightNoise = 0.2;  // lux
    // What the stream of reports and the station add.
    StreamEffects stream;
    Station station;
    // Moved by a person's hand (see Hand.h), not an even one.
    bool hand = false;
    // A knock on the table 2.6 s into the first hold of this position (or a
    // quarter of a second before its end; 0 the first position, -1 none), as
    // the device rests there and the step it held has ended.
    int knock = -1;
};

struct Sample {
    double t;
    double v[3];
};

// One sensor's recording, with what its dump file says about it.
struct Stream {
    std::string name;  // also the dump file's suffix
    std::string luid;  // 16 hex digits
    std::string hinge;  // written for the lid accelerometer only
    std::string unit;
    int fields = 3;
    std::vector<Sample> samples;
};

// The recordings of every simulated sensor.
std::vector<Stream> simulate(const SimOptions& options);
// Writes the dump files (one per sensor, "<folder>/<prefix><name>.csv").
void writeDump(const SimOptions& options, const std::string& folder, const std::string& prefix);
void writeStreams(const std::vector<Stream>& streams, const std::string& folder, const std::string& prefix);

// The lid's frame from the base's, by hinge position ("BOTTOM", "TOP", "LEFT", "RIGHT").
M3 lidFrame(const std::string& hinge);

// Correction from per-axis scale factors and a small misalignment (rotation
// vector, radians): scale * rotation.
M3 correctionOf(const V3& scale, const V3& misalignment);

}  // namespace sim
