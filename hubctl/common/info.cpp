#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "codes.h"
#include "commands.h"
#include "display.h"
#include "sensorinfo.h"
#include "smhi.h"
#include "device/DoxiCStyle.h"
#include "device/Guid.h"
#include "device/Smhi.h"

namespace {

// One sensor's information record.
struct _sensor_information {
    char sensorType[50];
    char vendor[50];
    char subType[50];
    _sc_sensor_luid luid;
    char busType[50];
    uint8_t busNumber;
    uint8_t busAddress;
    int calibrated;
};

const char* const kStates[16] = {
    "After reset\n",     "Waiting for patch\n", "BUP in progress\n", "Load request sent\n",
    "Wait for host\n",   "Start kernel DMA\n",  "Jump to kernel\n",  "FW is Running",
    "sensors app loaded", "sensors tables loaded", nullptr,          nullptr,
    nullptr,             nullptr,               nullptr,             "sensors apps running",
};

// A query of one sensor; a transport failure is retried once on a new connection.
int queryWithRetry(const std::vector<uint8_t>& request, std::vector<uint8_t>& response) {
    int code = SMHIRequest(request, response);
    if (code >= HUB_GENERAL_ERROR)
        code = SMHIRequest(request, response);
    return code;
}

int INFO_CollectSensors(std::vector<_sensor_information>& sensors) {
    DEBUG_TRACE();
    std::vector<_sc_sensor_luid> luids;
    int code = SMHIGetSensorList(luids);
    if (code >= HUB_GENERAL_ERROR)
        code = SMHIGetSensorList(luids);
    if (code != HUB_SUCCESS)
        return code;
    for (const _sc_sensor_luid& luid : luids) {
        _sensor_information info {};
        info.luid = luid;
        snprintf(info.sensorType, sizeof info.sensorType, "%s", getSensorType(luid.sensorType).c_str());
        snprintf(info.vendor, sizeof info.vendor, "%s", getVendorName(luid.vendorId).c_str());
        snprintf(info.subType, sizeof info.subType, "%s", getSubTypeName(luid.vendorId, luid.subType).c_str());
        snprintf(info.busType, sizeof info.busType, "%s", "no BUS entry");

        std::vector<uint8_t> response;
        code = queryWithRetry(smhi::buildGetProperty(luid, SMHI_PROP_BUS_INFO), response);
        if (code >= HUB_GENERAL_ERROR)
            return code;
        smhi::BusInfo bus;
        if (code == 0 && smhi::parseBusInfo(doxi::ByteView(response), bus) && bus.present) {
            static const char* const names[] = {"I2C", "UART", "SPI"};
            if (bus.type < 3)
                snprintf(info.busType, sizeof info.busType, "%s", names[bus.type]);
            info.busNumber = bus.number;
            info.busAddress = bus.address;
        }
        code = queryWithRetry(smhi::buildGetProperty(luid, SMHI_PROP_CALIBRATION), response);
        if (code >= HUB_GENERAL_ERROR)
            return code;
        info.calibrated = code == 0;
        sensors.push_back(info);
    }
    return HUB_SUCCESS;
}

// Reads the status register through the driver; 0xFFFFFFFF when it cannot be read.
uint32_t INFO_ReadStatusRegister() {
    int fd = open(doxi::kSmhiNode, O_RDWR);
    if (fd < 1) {
        if (fd >= 0)
            close(fd);
        fd = open(doxi::kGenericNode, O_RDWR);
    }
    if (fd < 1) {
        if (fd >= 0)
            close(fd);
        return 0xFFFFFFFFu;
    }
    char buffer[doxi::kStatusRegisterBufferSize];
    memset(buffer, 0, sizeof buffer);
    const int result = ioctl(fd, doxi::IOCTL_DOXI_STATUS_REGISTER, buffer);
    close(fd);
    if (result < 0)
        return 0xFFFFFFFFu;
    buffer[sizeof buffer - 1] = '\0';
    return result != 0 ? static_cast<uint32_t>(strtoul(buffer, nullptr, 16)) : 0;
}

int INFO_Status() {
    const uint32_t reg = INFO_ReadStatusRegister();
    if (reg == 0xFFFFFFFFu) {
        PrintMsg(MSG_ERROR, "Fail to read Corvex(R) Tessary FW Status register\n");
        return HUB_GENERAL_ERROR;
    }
    const unsigned state = (reg >> 12) & 0xF;
    char text[256];
    const char* stateText = kStates[state] ? kStates[state] : GetCodeText(HUB_GENERAL_ERROR, text, sizeof text);
    PrintMsg(MSG_NORMAL, "FW Status: 0x%02X - %s\n", state, stateText);
    return HUB_SUCCESS;
}

int INFO_General() {
    char text[CMD_TEXT_SIZE];
    int result = HUB_SUCCESS;
    PrintMsg(MSG_NORMAL, "FW Information : \n");

    // The firmware responds when a version request gets an answer at all,
    // whatever its status or length; what the answer says is the version
    // line's to judge, in an exchange of its own.
    const int state = SMHIProbe();
    if (state == HUB_SUCCESS) {
        PrintMsg(MSG_NORMAL, "FW State: responding\n");
    } else {
        PrintMsg(MSG_NORMAL, "FW State: not responding, %s\n", GetCodeText(state, text, sizeof text));
        result = state;
    }
    const int status = INFO_Status();
    if (result == HUB_SUCCESS)
        result = status;
    if (state == HUB_SUCCESS) {
        uint16_t version[4] = {0, 0, 0, 0};
        const int code = SMHIGetVersion(version);
        if (code == HUB_SUCCESS)
            PrintMsg(MSG_NORMAL, "FW Version: %hu.%hu.%hu.%hu\n", version[0], version[1], version[2], version[3]);
        else
            PrintMsg(MSG_NORMAL, "FW Version: %s\n", GetCodeText(code, text, sizeof text));
        if (result == HUB_SUCCESS)
            result = code;
    }

    PrintMsg(MSG_NORMAL, "\nPDT Information : \n");
    std::vector<uint8_t> response;
    int code = SMHIRequest(smhi::buildGetProperty(_sc_sensor_luid(), SMHI_PROP_SENSOR_CONFIG), response);
    std::vector<uint8_t> image;
    if (code == HUB_SUCCESS && (!smhi::parsePdt(doxi::ByteView(response), image) || image.size() < 2))
        code = HUB_UNEXPECTED_RESPONSE;
    if (code == HUB_SUCCESS) {
        PrintMsg(MSG_NORMAL, "PDT version: %u\nVendor defined data version: %u\n", image[0], image[1]);
    } else {
        PrintMsg(MSG_NORMAL, "%s\n", GetCodeText(code, text, sizeof text));
        if (result == HUB_SUCCESS)
            result = code;
    }

    PrintMsg(MSG_NORMAL, "\nSensors Information : ");
    std::vector<_sensor_information> sensors;
    code = INFO_CollectSensors(sensors);
    if (code != HUB_SUCCESS) {
        PrintMsg(MSG_NORMAL, "\n%s\n", GetCodeText(code, text, sizeof text));
        return result == HUB_SUCCESS ? code : result;
    }
    if (sensors.empty())
        PrintMsg(MSG_NORMAL, "\nNo sensors on the device\n");
    for (const _sensor_information& s : sensors) {
        text[0] = '\0';
        AppendText(text, sizeof text, "\nSensor LUID: %s", smhi::luidToUpperText(s.luid).c_str());
        AppendText(text, sizeof text, "\nSensor Name: %s\nVendor: %s", s.sensorType, s.vendor);
        if (s.subType[0])
            AppendText(text, sizeof text, "\nSensor Model: %s", s.subType);
        AppendText(text, sizeof text, "\nBus Type: %s", s.busType);
        if (strcmp(s.busType, "I2C") == 0)
            AppendText(text, sizeof text, "\nBus Number: %x\nBus Address: %x", s.busNumber, s.busAddress);
        AppendText(text, sizeof text, "\nCalibration Status: %s\n", s.calibrated ? "set" : "not set");
        PrintMsg(MSG_NORMAL, "%s", text);
    }
    return result;
}

int INFO_Bom() {
    char text[CMD_TEXT_SIZE] = "BOM Information: \n";
    std::vector<_sensor_information> sensors;
    const int code = INFO_CollectSensors(sensors);
    if (code != HUB_SUCCESS) {
        char codeText[512];
        AppendText(text, sizeof text, "%s\n", GetCodeText(code, codeText, sizeof codeText));
        PrintMsg(MSG_NORMAL, "%s", text);
        return code;
    }
    // One line per physical sensor; the lines are collected without a size
    // limit, so a long list is printed whole.
    std::string all = text;
    bool any = false;
    for (const _sensor_information& s : sensors) {
        if (!(s.luid.flags & 0x02))
            continue;
        any = true;
        char line[512] = "";
        AppendText(line, sizeof line, "Sensor LUID: \t%s\tSensor Name: \t%s", smhi::luidToUpperText(s.luid).c_str(),
                   s.sensorType);
        for (int tabs = 4 - static_cast<int>(strlen(s.sensorType) / 8); tabs > 0; --tabs)
            AppendText(line, sizeof line, "\t");
        AppendText(line, sizeof line, "\tSensor Model: \t%s\n", getSensorModel(s.luid, true, false).c_str());
        all += line;
    }
    if (!any)
        all += "\tno physical sensors on device\n";
    PrintMsg(MSG_NORMAL, "%s", all.c_str());
    return HUB_SUCCESS;
}

}  // namespace

int INFO_Run(const CmdRecord* record) {
    DEBUG_TRACE();
    if (record->selectedId == ID_BOM)
        return INFO_Bom();
    return INFO_General();
}
