// Names of sensor types, vendors and sub types.
#pragma once

#include <string>

#include "device/SensorLuid.h"

struct VendorInfo {
    int id;
    const char* name;
    int subTypeCount;
    const char* subTypes[10];
};

extern const VendorInfo vendorIDArray[];
extern const int kVendorCount;

// Empty for an unknown type.
std::string getSensorType(unsigned sensorType);
// Empty for an unknown vendor.
std::string getVendorName(unsigned vendorId);
// The sub type's name, or the sub type in decimal when it has none.
std::string getSubTypeName(unsigned vendorId, unsigned subType);
// Vendor name (withVendor), ", " and type name (withType), then ", " and the
// sub-type name when it is not empty.
std::string getSensorModel(const _sc_sensor_luid& luid, bool withVendor, bool withType);
