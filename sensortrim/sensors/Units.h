// Units of sensor samples and calibration records, with their names in files.
#pragma once

#include <cstdint>
#include <string>

enum UnitsEnum : int32_t {
    Unit_unknown = 0,
    Unit_meter__sec2 = 1,
    Unit_g0 = 2,
    Unit_mg0 = 3,
    Unit_microg0 = 4,
    Unit_meter__sec = 5,
    Unit_radian = 10,
    Unit_degree = 11,
    Unit_rad__sec = 12,
    Unit_deg__sec = 13,
    Unit_mdeg__sec = 14,
    Unit_deg_sec_5 = 15,
    Unit_tesla = 16,
    Unit_microTesla = 17,
    Unit_milliGauss = 18,
    Unit_microGauss = 19,
    Unit_lux = 20,
};

namespace Conversions {

// The unit's name; throws MathException "Unsupported unit" for values without one.
std::string toString(UnitsEnum unit);
// The unit of an exact, case-sensitive name; throws MathException "Unsupported unit".
UnitsEnum fromString(const std::string& name);
// Converts between two units of one group (acceleration, angle, magnetic field);
// 0 for any other pair.
double Convert(double value, UnitsEnum from, UnitsEnum to);

}  // namespace Conversions
