// The calibration tool's gateway to what the firmware keeps: each sensor's
// calibration record, the sensor list, the platform info, the sensors'
// sampling settings and the hub reset. Every exchange goes through the one
// transport the run hands in, so tests can put another in its place.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "Exceptions.h"
#include "device/DoxiTransport.h"
#include "device/SensorLuid.h"

using DoxiBase = doxi::DoxiBaseT<SmhiException>;
using DOXIAndroid = doxi::DOXIAndroidT<SmhiException>;

// The transport to the hub's SMHI client through its device node.
std::shared_ptr<DoxiBase> makeDeviceTransport();

class SDT {
public:
    explicit SDT(std::shared_ptr<DoxiBase> transport);

    void resetTsy();
    std::vector<unsigned char> getCalibrationData(const _sc_sensor_luid& luid);
    // Writes a record; an empty one is skipped.
    void setCalibrationData(const _sc_sensor_luid& luid, const std::vector<unsigned char>& record);
    std::vector<_sc_sensor_luid> enumerateSensors();

    // Report interval, reporting on and change sensitivity for one luid.
    void startSmhiSampling(const _sc_sensor_luid& luid, int reportInterval, double changeSensitivity);
    // Reporting off for one luid.
    void stopSmhiSampling(const _sc_sensor_luid& luid);
    void setSamplingConfig(uint16_t propertyId, const _sc_sensor_luid& luid, const std::vector<uint8_t>& data);

    uint8_t getFormFactor();
    uint8_t getConnectionHinge();

private:
    std::shared_ptr<DoxiBase> doxi;

    // One request and its answer on a connection of its own.
    std::vector<uint8_t> exchange(const std::vector<uint8_t>& request, size_t& received);
    uint8_t platformInfoByte(size_t offset);
};
