// The angular-rate sensor: turns of known size integrated from its samples
// give its sensitivity, and measured turns test an existing calibration.
#pragma once

#include <map>

#include "InertialSensor.h"

class Gyroscope : public InertialSensor {
public:
    explicit Gyroscope(const _sc_sensor_luid& id);

    void calibrate() override;
    bool testCalibration() override;
    bool dataRecieved(SensorData& data) override { return DataReceivedCommon(data); }
    // The luid of the uncalibrated gyroscope that delivers the raw samples.
    _sc_sensor_luid getLuidForSampling() override;
    std::string mirrorCause(int axis) const override;
    Tolerance tolerance() const override;
    // The scale that makes the turns read the expected angles.
    static Matrix scaleFrom(const Matrix& turns, const Matrix& expected, double angle);
    bool checkMotion(double threshold) override;
    void findOffset() override;
    void FindSegmentation() override;
    Vector getCalibratedVector(int step) override;

    using InertialSensor::setLimits;
    // The calibration limits of the run's flow.
    void setLimits();
    // The turns each flow expects, one row per motion step, in degrees.
    void calcExpected();
    // Integrates the motion steps of a test recording.
    void ComputeDynamicAndStaticData();
    // Sensitivity from the measured turns; the scale matrix is its inverse.
    void findGyroScale(double angle);
    bool TestIntegration();
    // Fails when the holds' zero rates (by hold) differ by more than twice
    // the offset the calibration promises.
    // Each level is known to its standard error (by hold: the samples it
    // came from, and the noise within the holds): a difference must pass the
    // limit by more than the errors allow.
    void checkZeroRateAcross(const std::map<size_t, Vector>& holdLevels, const std::map<size_t, size_t>& holdSizes,
                             const Vector& noise);
    // The turn over buffered samples [from, to) less the rest rate, in degrees.
    Vector integrate(size_t from, size_t to, const Vector& rest) const;
    // The times a run of reports was sampled at. The part samples by its own
    // clock, evenly; the hub stamps each report as it handles it, a fraction
    // of a millisecond late or early. Numbered by the ticks of that clock
    // (a lost report leaves its tick out), the stamps lie about a straight
    // line, which gives each report its tick's time. Stamps that stray from
    // every even clock (by an eighth of its period, root mean square, or two
    // on one tick) are taken as they are.
    // `ticks`, where given, gets each report's tick from the first (left
    // empty where the stamps are taken as they are).
    static std::vector<double> tickTimes(const std::vector<double>& stamps, std::vector<double>* ticks = nullptr);

    const std::vector<Matrix>& getStepRotations() const { return stepRotations; }

protected:
    std::vector<Matrix> stepRotations;
    Matrix integratedAngles = Matrix(6, 3);
    Matrix measurements = Matrix(3, 3);
    // The standard error of each turn's integral and of the zero rate, per axis.
    Matrix turnErrors = Matrix(3, 3);
    Vector offsetError = Vector(3);
    Vector gyroOffset = Vector(3);
    Vector motionIntegral = Vector(3);
    double expectedAngle = 0.0;
    bool signDependent = false;
    const double quarterTurn = 90.0;
    const double fullTurn = 360.0;
    const double motionAngleThreshold = 200.0;
    // The zero rate every flow promises to find (deg/s).
    static constexpr double kOffsetResolution = 0.1;
};
