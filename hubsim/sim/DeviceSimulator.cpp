#include "DeviceSimulator.h"

#include <cmath>
#include <random>

#include "Sensor.h"

namespace sim {

namespace {

const double kPi = 3.14159265358979323846;

// Device pose: rows of the world-to-device rotation, built from the device
// axes that point up and north.
Matrix pose(const Vector& upDevice, const Vector& northDevice) {
    const Vector east = northDevice.vector3CrossProduct(upDevice);
    Matrix r(3, 3);
    r.setColumn(east, 0);
    r.setColumn(northDevice, 1);
    r.setColumn(upDevice, 2);
    return r;
}

Vector axis(double x, double y, double z) {
    return Vector(std::vector<double>{x, y, z});
}

struct Segment {
    bool moving;
    Matrix from;        // world-to-device at the start
    Vector rotation;    // body rotation vector over the segment (radians)
    double seconds;
};

// Poses of the still positions of each flow.
std::vector<Matrix> positionsOf(CalibrationFlowType flow) {
    switch (flow) {
    case FLOW_MINIMAL:
        return {pose(axis(0, 0, 1), axis(0, 1, 0))};
    case FLOW_FOUR_STEPS:
        return {pose(axis(0, 0, 1), axis(0, 1, 0)), pose(axis(-1, 0, 0), axis(0, 1, 0)),
                pose(axis(0, 1, 0), axis(0, 0, -1)), pose(axis(0, 0, 1), axis(-1, 0, 0))};
    case FLOW_MAG_FOUR_STEPS:
        return {pose(axis(0, 0, 1), axis(0, 1, 0)), pose(axis(0, 0, 1), axis(1, 0, 0)),
                pose(axis(0, 0, 1), axis(0, -1, 0)), pose(axis(0, 0, 1), axis(-1, 0, 0))};
    default:
        return {pose(axis(0, 0, 1), axis(0, 1, 0)), pose(axis(0, 1, 0), axis(0, 0, -1)),
                pose(axis(1, 0, 0), axis(0, 0, -1)), pose(axis(0, -1, 0), axis(0, 0, -1))};
    }
}

// Body rotation taking pose a to pose b (both world-to-device).
Vector rotationBetween(const Matrix& a, const Matrix& b) {
    // device-to-world Q = R^T; Q_b = Q_a * Exp(w)  =>  Exp(w) = Q_a^T Q_b = a * b^T
    return (a * b.transpose()).rotationMatrixToRotationAxis();
}

std::vector<Segment> timeline(const SimOptions& o) {
    std::vector<Matrix> positions = positionsOf(o.flow);
    if (o.wrongStep >= 0 && o.wrongStep < static_cast<int>(positions.size())) {
        // Held wrongly: the step's pose tilted 60 degrees about a level axis.
        Matrix& wrong = positions[static_cast<size_t>(o.wrongStep)];
        const Vector up = wrong * axis(0, 0, 1);
        const Vector other = std::fabs(up[0]) > 0.9 ? axis(0, 0, 1) : axis(1, 0, 0);
        wrong = Matrix::rotationMatrixFromAxis(up.vector3CrossProduct(other).normalize() * (kPi / 3)) * wrong;
    }
    std::vector<Segment> segments;
    const Vector none(3);
    for (size_t p = 0; p < positions.size(); ++p) {
        segments.push_back({false, positions[p], none, o.holdSeconds});
        if (o.flow == FLOW_FULL && p + 1 < positions.size()) {
            // A full turn in place about the axis that points up, then a hold.
            const Vector up = positions[p] * axis(0, 0, 1);
            segments.push_back({true, positions[p], up * (2 * kPi), 2 * o.turnSeconds});
            segments.push_back({false, positions[p], none, o.holdSeconds});
        }
        if (p + 1 < positions.size())
            segments.push_back({true, positions[p], rotationBetween(positions[p], positions[p + 1]), o.turnSeconds});
    }
    return segments;
}

// Lid frame from the base frame, by hinge position.
Matrix lidOf(const std::string& hinge) {
    if (hinge == "TOP")
        return Matrix(3, 3, {-1, 0, 0, 0, 1, 0, 0, 0, -1});
    if (hinge == "LEFT")
        return Matrix(3, 3, {0, -1, 0, -1, 0, 0, 0, 0, -1});
    if (hinge == "RIGHT")
        return Matrix(3, 3, {0, 1, 0, 1, 0, 0, 0, 0, -1});
    return Matrix(3, 3, {1, 0, 0, 0, -1, 0, 0, 0, -1});
}

class Reading {
public:
    Reading(const SensorErrors& e, bool calibrated, std::mt19937& random)
        : errors(e), test(calibrated), rng(random), inverse(e.correction.invert()) {}

    std::vector<double> operator()(const Vector& truth) {
        std::normal_distribution<double> gauss(0.0, errors.noise > 0 ? errors.noise : 1e-300);
        std::uniform_real_distribution<double> uniform(0.0, 1.0);
        Vector v = test ? truth : inverse * truth + errors.offset;
        for (int i = 0; i < 3; ++i)
            v[i] += errors.noise > 0 ? gauss(rng) : 0.0;
        if (errors.spikeRate > 0 && uniform(rng) < errors.spikeRate)
            v[static_cast<int>(uniform(rng) * 3) % 3] += errors.spikeSize;
        return v.elements();
    }

private:
    SensorErrors errors;
    bool test;
    std::mt19937& rng;
    Matrix inverse;
};

SensorDump simulateLight(const SimOptions& o, std::mt19937& rng) {
    SensorDump dump;
    auto light = Sensor::allocateSensor(_sc_sensor_luid{65, 2, 1, 0, 0});
    std::normal_distribution<double> noise(0.0, 0.2);
    std::vector<SensorData>& samples = dump[light];
    double t = 0;
    for (int level : o.lightLevels) {
        for (double s = 0; s < o.holdSeconds * 1000; s += o.periodMs, t += o.periodMs)
            samples.emplace_back(t, std::vector<double>{level * o.lightGain + noise(rng)});
    }
    return dump;
}

}  // namespace

Matrix correctionOf(const Vector& scale, const Vector& misalignment) {
    Matrix s(3, 3);
    for (int i = 0; i < 3; ++i)
        s[i][i] = scale[i];
    return s * Matrix::rotationMatrixFromAxis(misalignment);
}

SensorDump simulate(const SimOptions& o) {
    std::mt19937 rng(o.seed);
    if (o.als)
        return simulateLight(o, rng);

    struct Output {
        std::shared_ptr<Sensor> sensor;
        Reading reading;
        int kind;  // 0 accelerometer, 1 lid accelerometer, 2 gyroscope, 3 magnetometer
    };
    std::vector<Output> outputs;
    if (o.accelerometer)
        outputs.push_back({Sensor::allocateSensor(_sc_sensor_luid{115, 1, 1, 0, 2}), Reading(o.acc, o.testRecording, rng), 0});
    if (o.secondAccelerometer) {
        auto lid = Sensor::allocateSensor(_sc_sensor_luid{115, 1, 1, 1, 2});
        lid->setHingeConfig(o.hinge);
        outputs.push_back({lid, Reading(o.acc2, o.testRecording, rng), 1});
    }
    if (o.gyroscope)
        outputs.push_back({Sensor::allocateSensor(_sc_sensor_luid{118, 9, 2, 0, 2}), Reading(o.gyro, o.testRecording, rng), 2});
    if (o.magnetometer)
        outputs.push_back({Sensor::allocateSensor(_sc_sensor_luid{527, 8, 4, 0, 2}), Reading(o.mag, o.testRecording, rng), 3});

    const double dip = o.dipDegrees * kPi / 180;
    const Vector field = axis(0, o.fieldMilliGauss * std::cos(dip), -o.fieldMilliGauss * std::sin(dip));
    const Matrix lid = lidOf(o.hinge);
    SensorDump dump;
    double t = 0;
    for (const Segment& segment : timeline(o)) {
        const int samples = static_cast<int>(segment.seconds * 1000 / o.periodMs);
        for (int i = 0; i < samples; ++i, t += o.periodMs) {
            const double fraction = segment.moving ? static_cast<double>(i) / samples : 0.0;
            // Body rotation so far: Q(t) = Q_from * Exp(w * fraction); world-to-device is its transpose.
            const Matrix r = Matrix::rotationMatrixFromAxis(segment.rotation * fraction).transpose() * segment.from;
            const Vector gravity = r * axis(0, 0, 1);
            const Vector rate = segment.moving ? segment.rotation * (180 / kPi / segment.seconds) : Vector(3);
            for (Output& out : outputs) {
                Vector truth = out.kind == 0 ? gravity : out.kind == 1 ? lid * gravity : out.kind == 2 ? rate : r * field;
                dump[out.sensor].emplace_back(t, out.reading(truth));
            }
        }
    }
    return dump;
}

void writeDump(const SimOptions& options, const std::string& folder, const std::string& prefix) {
    CsvParser().writeToFile(folder + "/" + prefix, simulate(options));
}

}  // namespace sim
