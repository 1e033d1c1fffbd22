// What the sensor manager needs from the live sampler: a recorder of the
// firmware's sensor reports that feeds SensorManager::handleData.
#pragma once

class SensorManager;

class LiveSampler {
public:
    virtual ~LiveSampler() = default;
    // 1 on success, 0 on failure.
    virtual int init(SensorManager* manager) = 0;
    virtual int start() = 0;
    virtual int stop() = 0;
};
