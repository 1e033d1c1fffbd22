#include "Units.h"

#include "Exceptions.h"

namespace {

struct UnitName {
    UnitsEnum unit;
    const char* name;
};

const UnitName kNames[] = {
    {Unit_unknown, "unknown"},     {Unit_meter__sec2, "meter__sec2"}, {Unit_g0, "g0"},
    {Unit_mg0, "mg0"},             {Unit_microg0, "microg0"},         {Unit_meter__sec, "meter__sec"},
    {Unit_radian, "radian"},       {Unit_degree, "degree"},           {Unit_rad__sec, "rad__sec"},
    {Unit_deg__sec, "deg__sec"},   {Unit_mdeg__sec, "mdeg__sec"},     {Unit_deg_sec_5, "deg_sec_5"},
    {Unit_tesla, "tesla"},         {Unit_microTesla, "microTesla"},   {Unit_milliGauss, "milliGauss"},
    {Unit_microGauss, "microGauss"}, {Unit_lux, "lux"},
};

const double kPi = 3.141592653589793;
const double kStandardGravity = 9.80665;

enum Group { NoGroup, Acceleration, Angle, Magnetic };

Group groupOf(UnitsEnum unit) {
    switch (unit) {
    case Unit_meter__sec2:
    case Unit_g0:
    case Unit_mg0:
    case Unit_microg0:
        return Acceleration;
    case Unit_radian:
    case Unit_degree:
    case Unit_rad__sec:
    case Unit_deg__sec:
    case Unit_mdeg__sec:
    case Unit_deg_sec_5:
        return Angle;
    case Unit_microTesla:
    case Unit_milliGauss:
    case Unit_microGauss:
        return Magnetic;
    default:
        return NoGroup;
    }
}

// value in unit -> value in the group's base unit
double toBase(double value, UnitsEnum unit) {
    switch (unit) {
    case Unit_g0: return value * kStandardGravity;
    case Unit_mg0: return value * kStandardGravity / 1000;
    case Unit_microg0: return value * kStandardGravity / 1e6;
    case Unit_degree:
    case Unit_deg__sec: return value * kPi / 180;
    case Unit_mdeg__sec: return value * kPi / 180 / 1000;
    case Unit_deg_sec_5: return value * kPi / 180 / 100000;
    case Unit_microGauss: return value / 1000;
    case Unit_microTesla: return value * 10;
    default: return value;
    }
}

double fromBase(double value, UnitsEnum unit) {
    switch (unit) {
    case Unit_g0: return value / kStandardGravity;
    case Unit_mg0: return value * 1000 / kStandardGravity;
    case Unit_microg0: return value * 1e6 / kStandardGravity;
    case Unit_degree:
    case Unit_deg__sec: return value * 180 / kPi;
    case Unit_mdeg__sec: return value * 180 / kPi * 1000;
    case Unit_deg_sec_5: return value * 180 / kPi * 100000;
    case Unit_microGauss: return value * 1000;
    case Unit_microTesla: return value * 0.1;
    default: return value;
    }
}

}  // namespace

namespace Conversions {

std::string toString(UnitsEnum unit) {
    for (const UnitName& n : kNames)
        if (n.unit == unit)
            return n.name;
    throw MathException("Unsupported unit");
}

UnitsEnum fromString(const std::string& name) {
    for (const UnitName& n : kNames)
        if (name == n.name)
            return n.unit;
    throw MathException("Unsupported unit");
}

double Convert(double value, UnitsEnum from, UnitsEnum to) {
    const Group group = groupOf(from);
    if (group == NoGroup || group != groupOf(to))
        return 0.0;
    return fromBase(toBase(value, from), to);
}

}  // namespace Conversions
