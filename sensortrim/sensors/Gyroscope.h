#pragma once

#include "InertialSensor.h"

class Gyroscope : public InertialSensor {
public:
    explicit Gyroscope(const _sc_sensor_luid& id);

    // The luid of the uncalibrated gyroscope that delivers the raw samples.
    _sc_sensor_luid getLuidForSampling() override;

};
