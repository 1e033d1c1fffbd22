#pragma once

#include "InertialSensor.h"

class Accelerometer : public InertialSensor {
public:
    explicit Accelerometer(const _sc_sensor_luid& id);

    void SetNeedCheckAxisMappingVsOrig(bool need) override { needCheckAxisMapping = need; }

protected:
    double motionlessLowerBound = 0.0005;
    double motionlessStdLimit = 0.015;
    double motionlessRangeLimit = 0.08;
    double gravity = 1.0;
    double movementThreshold = 1.0;
    bool needCheckAxisMapping = false;
};
