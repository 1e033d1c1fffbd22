#pragma once

#include "InertialSensor.h"

class Magnetometer : public InertialSensor {
public:
    explicit Magnetometer(const _sc_sensor_luid& id);

    // The luid of the uncalibrated magnetometer that delivers the raw samples.
    _sc_sensor_luid getLuidForSampling() override;
    bool getCanCalibrate() override { return isPrimary() && Sensor::getCanCalibrate(); }
    bool getCanCalibrate(ProcessType type) override { return type != PROCESS_ALS_CALIBRATION; }

};
