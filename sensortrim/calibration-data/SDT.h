// The calibration tool's gateway to the calibration data the firmware keeps per
// sensor, to the sensor list and platform info, and to the calibration XML file.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "Exceptions.h"
#include "device/DoxiTransport.h"
#include "device/SensorLuid.h"

class Sensor;
class TiXmlElement;

using DoxiBase = doxi::DoxiBaseT<SmhiException>;
using DOXIAndroid = doxi::DOXIAndroidT<SmhiException>;

class SDT {
public:
    SDT();
    explicit SDT(std::shared_ptr<DoxiBase> transport);

    void resetTsy();
    std::vector<unsigned char> getCalibrationData(const _sc_sensor_luid& luid);
    void setCalibrationData(const std::shared_ptr<Sensor>& sensor);
    std::vector<_sc_sensor_luid> enumerateSensors();

    void startSmhiSampling(const std::shared_ptr<Sensor>& sensor, int reportInterval, double changeSensitivity);
    void startSmhiSampling(const std::vector<std::shared_ptr<Sensor>>& sensors, int reportInterval,
                           double changeSensitivity);
    void stopSmhiSampling(const std::shared_ptr<Sensor>& sensor);
    void stopSmhiSampling(const std::vector<std::shared_ptr<Sensor>>& sensors);
    void setSamplingConfig(uint16_t propertyId, const _sc_sensor_luid& luid, const std::vector<uint8_t>& data);

    uint8_t getFormFactor();
    uint8_t getConnectionHinge();

    // Writes the calibration XML file; with firmwareRecords the firmware
    // records are written instead of the new ones.
    void serialize(const std::string& path, const std::vector<std::shared_ptr<Sensor>>& sensors,
                   bool firmwareRecords);
    // Reads a calibration XML file: one sensor per "Sensor" element, in file order.
    std::vector<std::shared_ptr<Sensor>> deSerialize(const std::string& path);
    std::shared_ptr<Sensor> deSerialize(TiXmlElement* element);

private:
    std::shared_ptr<DoxiBase> doxi;

    // One request and its answer on a connection of its own.
    std::vector<uint8_t> exchange(const std::vector<uint8_t>& request, size_t& received);
    uint8_t platformInfoByte(size_t offset);
};
