#include "Magnetometer.h"

Magnetometer::Magnetometer(const _sc_sensor_luid& id) : InertialSensor(id) {
    name = MAGNETOMER;
    samplingUnit = Unit_milliGauss;
    calibrationUnit = Unit_microGauss;
    canCalibrate = true;
    motionLowerBound = 1.0;
    motionStdLimit = 30.0;
    motionRangeLimit = 100.0;
    ownSteps = 4;
}

_sc_sensor_luid Magnetometer::getLuidForSampling() {
    _sc_sensor_luid sampling = luid;
    sampling.sensorType = 578;
    sampling.flags = 0;
    return sampling;
}
