// One sample of a sensor: a time stamp (milliseconds) and one value per axis or field.
#pragma once

#include <vector>

struct SensorData {
    double timestamp = 0.0;
    std::vector<double> values;

    SensorData() = default;
    SensorData(double time, std::vector<double> fieldValues)
        : timestamp(time), values(std::move(fieldValues)) {}
};
