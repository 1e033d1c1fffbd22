// A simulated device going through the steps of a calibration flow as an
// operator would: holds of a few seconds and turns at a human rate between
// the positions. Each sensor has true errors (offset, scale and misalignment,
// noise, occasional spikes); the result is the data dump a run records.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "CsvParser.h"
#include "Matrix.h"
#include "ProcessTypes.h"

namespace sim {

struct SensorErrors {
    // The correction the sensor needs: true = correction * (raw - offset).
    Matrix correction = Matrix::Identity(3);
    Vector offset = Vector(3);
    double noise = 0.0;
    double spikeRate = 0.0;  // probability of a spike per sample
    double spikeSize = 0.0;
};

struct SimOptions {
    CalibrationFlowType flow = FLOW_FULL;
    bool als = false;  // an ambient light run instead of a motion flow
    bool accelerometer = true;
    bool secondAccelerometer = false;
    bool gyroscope = false;
    bool magnetometer = false;
    std::string hinge = "BOTTOM";
    SensorErrors acc, acc2, gyro, mag;
    double holdSeconds = 3.0;
    double turnSeconds = 2.0;
    double periodMs = 10.0;
    double fieldMilliGauss = 500.0;
    double dipDegrees = 60.0;
    unsigned seed = 1;
    // Samples as the firmware reports them with a correct calibration applied
    // (a test run), instead of raw samples (a calibration run).
    bool testRecording = false;
    // A position held the wrong way up, or -1.
    int wrongStep = -1;
    // Ambient light: reference levels (lux) and the sensor's true gain.
    std::vector<int> lightLevels = {100, 500, 1000};
    double lightGain = 0.5;
};

// The samples of every simulated sensor.
SensorDump simulate(const SimOptions& options);
// Writes the dump files (dump format, one file per sensor).
void writeDump(const SimOptions& options, const std::string& folder, const std::string& prefix);

// Correction matrix from per-axis scale factors and a small misalignment
// (rotation vector, radians).
Matrix correctionOf(const Vector& scale, const Vector& misalignment);

}  // namespace sim
