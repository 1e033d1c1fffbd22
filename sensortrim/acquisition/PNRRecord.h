// The recorder of a live run: asks the firmware to record, reads its
// sensor-data messages on a worker thread and hands each sample to the sensor
// manager; stops recording on request and confirms the stop with the firmware.
#pragma once

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "LiveSampler.h"
#include "SDT.h"
#include "SyncObject.h"
#include "device/SensorLuid.h"

class SensorManager;

// Stop states of the recording.
enum PNRStopState : uint32_t {
    PNR_NO_STOP = 0,
    PNR_STOP_ASKED = 1,
    PNR_STOP_SENT = 2,
    PNR_DATA_AFTER_STOP = 3,
    PNR_STOP_CONFIRMED = 4,
    PNR_STOP_FAILED = 5,
    PNR_STOP_UNCONFIRMED = 6,  // no confirmation in time: the recording is ended all the same
};

class PNRRecordPrivate {
public:
    explicit PNRRecordPrivate(std::shared_ptr<DoxiBase> transport);
    ~PNRRecordPrivate();

    int init(SensorManager* manager);
    int addSensor(const _sc_sensor_luid& luid);
    int start();
    int stop();
    int getLastError() const { return lastError; }

    // Hands the samples of one sensor-data message to the sensor manager.
    void parsePayload(const std::vector<uint8_t>& message, size_t length);

private:
    std::atomic<bool> recording{false};
    std::atomic<bool> running{false};
    SensorManager* sensorManager = nullptr;
    std::unique_ptr<std::thread> worker;
    SyncObjectLinux signal;
    std::shared_ptr<DoxiBase> doxi;
    std::atomic<int> lastError{0};
    std::vector<_sc_sensor_luid> sensors;
    std::atomic<uint32_t> stopState{PNR_NO_STOP};

    void startWorker();
    void workerLoop();
    void notifyFailure(int error);
    // Stops a recording this process did not start (left over from an earlier run).
    int stopIdle();
};

class PNRRecord : public LiveSampler {
public:
    explicit PNRRecord(std::shared_ptr<DoxiBase> transport) : d(new PNRRecordPrivate(std::move(transport))) {}

    int init(SensorManager* manager) override { return d->init(manager); }
    int addSensor(const _sc_sensor_luid& luid) { return d->addSensor(luid); }
    int start() override { return d->start(); }
    int stop() override { return d->stop(); }
    PNRRecordPrivate& implementation() { return *d; }

private:
    std::unique_ptr<PNRRecordPrivate> d;
};
