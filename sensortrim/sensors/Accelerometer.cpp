#include "Accelerometer.h"

Accelerometer::Accelerometer(const _sc_sensor_luid& id) : InertialSensor(id) {
    canCalibrate = true;
    name = ACCELEROMETER;
    samplingUnit = Unit_g0;
    calibrationUnit = Unit_microg0;
    divider = 1000000;
    ownSteps = 4;
}
