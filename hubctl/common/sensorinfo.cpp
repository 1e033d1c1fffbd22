#include "sensorinfo.h"

#include <cstdio>
#include <string>
#include <vector>

namespace {

struct SensorTypeName {
    unsigned id;
    const char* name;
};

const SensorTypeName kSensorTypes[] = {
    {0x09, "KEB internul dummy algorithm"},
    {0x11, "Biometric Presence"},
    {0x12, "Biometric Proximity"},
    {0x13, "Biometric touch"},
    {0x21, "Electrical Capacitance"},
    {0x22, "Electrical Current"},
    {0x23, "Electrical Power"},
    {0x24, "Electrical Inductance"},
    {0x25, "Electrical Resistance"},
    {0x26, "Electrical Voltage"},
    {0x27, "Electrical Potentionmeter"},
    {0x28, "Electrical Frequency"},
    {0x29, "Electrical Period"},
    {0x31, "Environmental Atmospheric Pressure"},
    {0x32, "Environmental humidity"},
    {0x33, "Environmental Temperature"},
    {0x34, "Environmental Wind Direction"},
    {0x35, "Environmental Wind Speed"},
    {0x41, "Light Ambientlight"},
    {0x42, "Ligth Consumer Infrared"},
    {0x51, "Location Broadcast"},
    {0x52, "Location Dead Reckoning"},
    {0x53, "Location GPS"},
    {0x54, "Location Lookup"},
    {0x55, "Location"},
    {0x57, "Location Triamgulation"},
    {0x61, "Mechanical Boolean Switch"},
    {0x62, "Mechanical Boolean Switch Array"},
    {0x63, "Mechanical Multivalue"},
    {0x64, "Mechanical Force"},
    {0x65, "Mechanical Pressure"},
    {0x66, "Mechanical Strain"},
    {0x67, "Mechanical Scale Weigth"},
    {0x68, "Mechanical Vibrator"},
    {0x69, "Mechanical Hall Effect Switch"},
    {0x71, "Motion Accelerometer 1D"},
    {0x72, "Motion Accelerometer 2D"},
    {0x73, "Motion Accelerometer 3D"},
    {0x74, "Motion Gyrometer 1D"},
    {0x75, "Motion Gyrometer 2D"},
    {0x76, "Motion Gyrometer 3D"},
    {0x77, "Motion Detector"},
    {0x78, "Motion Speedometer"},
    {0x79, "Motion Accelerometer"},
    {0x7A, "Motion Gyrometer"},
    {0x7B, "Motion Gravity Vector"},
    {0x7C, "Motion Linear Accelerometer"},
    {0x81, "Orientation Compass 1D"},
    {0x82, "Orientation Compass 2D"},
    {0x83, "Orientation compass 3D"},
    {0x84, "Orientation Inclinometer 1D"},
    {0x85, "Orientation Inclinometer 2D"},
    {0x86, "Orientation Inclinometer 3D"},
    {0x87, "Orientation Distance 1D"},
    {0x88, "Orientation Distance 2D"},
    {0x89, "Orientation Distance 3D"},
    {0x8A, "Orientation- Device Orientation"},
    {0x8B, "Orientation Compass"},
    {0x8C, "Orientation Inclinometer"},
    {0x8D, "Orientation Distance"},
    {0x8E, "Orientation Relative Orientation"},
    {0x8F, "Orientation Simple Orientation"},
    {0x91, "Scanner Barcode"},
    {0x92, "Scanner RFID"},
    {0x93, "Scanner NFC"},
    {0xA1, "Time Alarm"},
    {0xA2, "Time RTC"},
    {0xB1, "Personal Activity Detection"},
    {0xB2, "Personal Activity Device Position"},
    {0xB3, "Personal Activity Floor Tracker"},
    {0xB4, "Personal Activity Pedometer"},
    {0xB5, "Personal Activity Step Detection"},
    {0xC1, "Orientation Geomagnetic Orientation"},
    {0xC2, "Orientation Magnetometer"},
    {0xE1, "Custom"},
    {0xE2, "Generic"},
    {0xE3, "Generic Enumerator"},
    {0xE4, "Health Monitor"},
    {0x110, "Corvex EC Interface"},
    {0x203, "Corvex Orientation Rotation Matrix"},
    {0x204, "Corvex Orientation Device Movement"},
    {0x206, "Corvex Orientation Calibrated Accelerometer 3D"},
    {0x207, "Corvex Orientation Calibrated Gyrometer 3D"},
    {0x208, "Corvex Orientation Calibrated Magnetometer 3D"},
    {0x209, "Corvex Orientation"},
    {0x20A, "Corvex Orientation EKF"},
    {0x20B, "Corvex Orientation Hinge"},
    {0x20C, "Corvex Orientation Device Context"},
    {0x20D, "Corvex Orientation Inclination 1D"},
    {0x20E, "Corvex Orientation Angle Regulator"},
    {0x20F, "Corvex Motion Magnetometer 3D"},
    {0x210, "Corvex Gesture Tap"},
    {0x211, "Corvex Gesture Lift"},
    {0x212, "Corvex Gesture Panzoom"},
    {0x213, "Corvex Gesture Flick"},
    {0x214, "Corvex Gesture Tilt Detector"},
    {0x215, "Corvex Gesture Pick Up"},
    {0x216, "Corvex Gesture User Defined"},
    {0x217, "Corvex Gesture Ear Touch"},
    {0x218, "Corvex Gesture Lift and Lock"},
    {0x219, "Corvex Gesture Lift to Vertical"},
    {0x220, "Corvex Biometric Heart Rate"},
    {0x221, "Corvex Biometric ECG"},
    {0x222, "Corvex Biometric SPO2"},
    {0x223, "Corvex Biometric Blood Pressure"},
    {0x224, "Corvex Biometric PPG"},
    {0x225, "Corvex Biometric Body Temperature"},
    {0x230, "Corvex Activity Step Counter"},
    {0x231, "Corvex Activity PDR"},
    {0x232, "Corvex Physical Activity"},
    {0x233, "Corvex Shake"},
    {0x234, "Corvex Activity Step Detector"},
    {0x235, "Corvex Activity Activity Context"},
    {0x236, "Corvex Significant Motion"},
    {0x237, "Corvex Instant Activity"},
    {0x238, "Corvex Energy Expenditure"},
    {0x240, "Corvex Uncalibrated Accelerometer 3D"},
    {0x241, "Corvex Uncalibrated Gyrometer 3D"},
    {0x242, "Corvex Uncalibrated Magnetometer 3D"},
    {0x24F, "Corvex calibrated Accelerometer 3D"},
    {0x250, "Ligth Ultraviolet"},
    {0x251, "Ligth RGB"},
    {0x252, "Ligth Gesture"},
    {0x253, "Ligth IR"},
    {0x261, "Corvex Hall Presence"},
    {0x262, "Corvex WWAN Control"},
    {0x263, "Corvex Lid Closed Detection"},
    {0x264, "Corvex Tablet Mode"},
    {0x265, "Corvex Keyboard Detection"},
    {0x266, "Corvex SAR Detection"},
    {0x267, "Corvex Kickstand Closed Detection"},
    {0x270, "Corvex Altitude"},
    {0x271, "Corvex Audio Context Detection"},
    {0x274, "Corvex Heat Indes"},
    {0x275, "Environmental Surface Temperature"},
    {0x300, "Corvex Platform Lid Mode"},
    {0x3F0, "Corvex Free Fall"},
};

}  // namespace

const VendorInfo vendorIDArray[] = {
    {0, "Corvex", 0, {}},
    {1, "ST Micro", 10, {"LSM303DLHC", "LSM303D", "LIS3DE", "L3GD20", "L3GD20H", "LPS331AP", "LPS25H", "STM8T143", "LSM9DS1", "LIS3MDL"}},
    {2, "Capella", 5, {"CM3218", "CM32181", "CM32181E", "CM3512", "CM32181EA3OP"}},
    {3, "Avago Tech", 0, {}},
    {4, "Intersil", 2, {"ISL29035", "ISL29023"}},
    {5, "Honeywell", 0, {}},
    {6, "Invensense", 3, {"MPU6500", "MPU9250", "MPU6515"}},
    {7, "Microchip", 0, {}},
    {8, "AKM", 6, {"AK8963C", "AK9720", "AK8963N", "AK9750", "AK09911C", "AK09912C"}},
    {9, "Bosch", 6, {"BMP280", "BMC150", "BMG160", "BMA255", "BMM150", "BME280"}},
    {10, "Maxim", 1, {"MAX86100"}},
    {11, "Broadcom", 0, {}},
    {12, "ADI", 0, {}},
    {13, "Kionix", 2, {"KXCJ9_1008", "KXCJ9_1018"}},
    {14, "Semtech", 1, {"SX9500"}},
    {15, "Liteon", 1, {"AL3010"}},
    {16, "Microsoft", 0, {}},
    {17, "Google", 0, {}},
    {18, "Apple", 0, {}},
    {19, "Rohm", 1, {"BU52061NVX"}},
    {20, "AMS", 1, {"TMG3992"}},
    {21, "Azoteq", 1, {"IQS253"}},
    {22, "Dyna", 1, {"AL3010"}},
};
const int kVendorCount = static_cast<int>(sizeof vendorIDArray / sizeof vendorIDArray[0]);

std::string getSensorType(unsigned sensorType) {
    if (sensorType >= 0x401 && sensorType <= 0x4FF)
        return "Corvex CHUB";
    for (const SensorTypeName& t : kSensorTypes)
        if (t.id == sensorType)
            return t.name;
    return "";
}

std::string getVendorName(unsigned vendorId) {
    for (const VendorInfo& v : vendorIDArray)
        if (static_cast<unsigned>(v.id) == vendorId)
            return v.name;
    return "";
}

std::string getSubTypeName(unsigned vendorId, unsigned subType) {
    if (vendorId < static_cast<unsigned>(kVendorCount)) {
        const VendorInfo& v = vendorIDArray[vendorId];
        if (subType < static_cast<unsigned>(v.subTypeCount))
            return v.subTypes[subType];
    }
    return std::to_string(subType);
}

std::string getSensorModel(const _sc_sensor_luid& luid, bool withVendor, bool withType) {
    std::string text;
    if (withVendor)
        text += getVendorName(luid.vendorId);
    if (withType) {
        text += ", ";
        text += getSensorType(luid.sensorType);
    }
    const std::string subType = getSubTypeName(luid.vendorId, luid.subType);
    if (!subType.empty()) {
        if (!text.empty())
            text += ", ";
        text += subType;
    }
    return text;
}
