#include "SDT.h"

#include "device/Smhi.h"

std::shared_ptr<DoxiBase> makeDeviceTransport() {
    return std::make_shared<DOXIAndroid>(doxi::INTERFACE_GUID, doxi::SMHI_GUID);
}

SDT::SDT(std::shared_ptr<DoxiBase> transport) : doxi(std::move(transport)) {}

std::vector<uint8_t> SDT::exchange(const std::vector<uint8_t>& request, size_t& received) {
    doxi::ClosingConnection<SmhiException> connection(*doxi);
    return doxi->Transact(request, received);
}

void SDT::resetTsy() {
    size_t received = 0;
    if (exchange(smhi::buildReset(), received)[3] != 0)
        throw SmhiException("Reset TSY command failed");
}

std::vector<unsigned char> SDT::getCalibrationData(const _sc_sensor_luid& luid) {
    size_t received = 0;
    const std::vector<uint8_t> r = exchange(smhi::buildGetProperty(luid, SMHI_PROP_CALIBRATION, true), received);
    std::vector<uint8_t> record;
    if (r[3] != 0)
        throw SmhiException("Get calibration data command failed");
    // A record that runs past what was received is refused as well.
    if (!smhi::parseCalibrationRecord(doxi::ByteView(r.data(), received), record))
        throw SmhiAnswerException("Get calibration data command failed\nIts answer of " + std::to_string(received) +
                                  " bytes holds no whole record");
    return record;
}

void SDT::setCalibrationData(const _sc_sensor_luid& luid, const std::vector<unsigned char>& record) {
    if (record.empty())
        return;
    // The property block carries 16-bit lengths.
    if (record.size() > 0xFFFF - 4)
        throw CalibrationException("Invalid calibration data size");
    size_t received = 0;
    const uint8_t status = exchange(smhi::buildSetCalibration(luid, record), received)[3];
    if (status == 5)
        throw SmhiException("Set calibration data command failed due to invalid parameter");
    if (status != 0)
        throw SmhiException("Set calibration data command failed");
}

std::vector<_sc_sensor_luid> SDT::enumerateSensors() {
    size_t received = 0;
    const std::vector<uint8_t> r =
        exchange(smhi::buildGetProperty(_sc_sensor_luid(), SMHI_PROP_SENSOR_LIST, true), received);
    std::vector<_sc_sensor_luid> luids;
    if (r[3] != 0 || !smhi::parseSensorList(doxi::ByteView(r.data(), received), luids))
        throw SmhiException("Enumerate sensors command failed");
    return luids;
}

void SDT::setSamplingConfig(uint16_t propertyId, const _sc_sensor_luid& luid, const std::vector<uint8_t>& data) {
    size_t received = 0;
    if (exchange(smhi::buildSetSensorProperty(luid, propertyId, data), received)[3] != 0)
        throw SmhiException("Set sampling configuration data command failed");
}

void SDT::startSmhiSampling(const _sc_sensor_luid& luid, int reportInterval, double changeSensitivity) {
    size_t received = 0;
    for (const std::vector<uint8_t>& request :
         {smhi::buildReportInterval(luid, reportInterval), smhi::buildReportingState(luid, 2),
          smhi::buildChangeSensitivity(luid, changeSensitivity)}) {
        if (exchange(request, received)[3] != 0)
            throw SmhiException("Set sampling configuration data command failed");
    }
}

void SDT::stopSmhiSampling(const _sc_sensor_luid& luid) {
    size_t received = 0;
    if (exchange(smhi::buildReportingState(luid, 1), received)[3] != 0)
        throw SmhiException("Set sampling configuration data command failed");
}

uint8_t SDT::platformInfoByte(size_t offset) {
    size_t received = 0;
    const std::vector<uint8_t> r =
        exchange(smhi::buildGetProperty(_sc_sensor_luid(), SMHI_PROP_PLATFORM_INFO, true), received);
    smhi::PlatformInfo info;
    if (r[3] != 0 || !smhi::parsePlatformInfo(doxi::ByteView(r.data(), received), info))
        throw SmhiException("Set PDT command  failed, status: " + std::to_string(r[3]));
    return offset == 1 ? info.formFactor : info.hinge;
}

uint8_t SDT::getFormFactor() {
    return platformInfoByte(1);
}

uint8_t SDT::getConnectionHinge() {
    return platformInfoByte(5);
}
