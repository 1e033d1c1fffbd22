// The accelerometer: where gravity points in each step of a flow, and the
// four-position, three-position and face-up solvers.
#pragma once

#include "InertialSensor.h"

class Accelerometer : public InertialSensor {
public:
    explicit Accelerometer(const _sc_sensor_luid& id);

    void calibrate() override;
    bool testCalibration() override;
    bool dataRecieved(SensorData& data) override { return DataReceivedCommon(data); }
    void initSDTCalibrationData(SDT& sdt) override;
    void SetNeedCheckAxisMappingVsOrig(bool need) override { needCheckAxisMapping = need; }
    bool checkMovement() override;
    std::string mirrorCause(int axis) const override;
    Tolerance tolerance() const override;

    using InertialSensor::setLimits;
    // The calibration limits of the run's flow.
    void setLimits();
    // Fills the expected gravity of every step.
    void calcExpected();
    Matrix MatFromSeg();
    Vector VecFromExpected();
    void GetScaleOffset(const Vector& x);
    void SetMapping3();
    void SetOffset();
    void SetScale();
    void CheckAxisMappingVsOrig();
    std::vector<std::vector<double>> getBuferedDataRange(unsigned long start, unsigned long count);

protected:
    double gravity = 1.0;
    double movementThreshold = 1.0;
    bool needCheckAxisMapping = false;
};
