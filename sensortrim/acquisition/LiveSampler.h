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
    // 1 when the firmware confirmed the stop, 0 on failure, kStopUnconfirmed
    // when it did not confirm it in time (the recording is over all the same).
    virtual int stop() = 0;
    static constexpr int kStopUnconfirmed = 2;
    // How long a stop waits for the firmware's confirmation, whatever it sends.
    static constexpr int kStopAnswerMs = 3000;
};
