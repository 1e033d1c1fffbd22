#include "Gyroscope.h"

Gyroscope::Gyroscope(const _sc_sensor_luid& id) : InertialSensor(id) {
    name = GYROSCOPE;
    samplingUnit = Unit_deg__sec;
    calibrationUnit = Unit_deg_sec_5;
    canCalibrate = true;
    motionLowerBound = 0.1;
    motionStdLimit = 5.0;
    motionRangeLimit = 15.0;
    ownSteps = 3;
    if (luid.flags & 0x01) {
        minDataSize = 71;
        maxDataSize = 71;
        formatId = 2;
    }
}

_sc_sensor_luid Gyroscope::getLuidForSampling() {
    _sc_sensor_luid sampling = luid;
    sampling.sensorType = 577;
    sampling.flags = 0;
    return sampling;
}
