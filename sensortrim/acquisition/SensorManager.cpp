#include "SensorManager.h"

void SensorManager::AddError(ErrorType type, const std::string& sensorName) {
    if (errors.count("General"))
        return;
    if (type == ErrorType::Calibration) {
        errors.emplace(sensorName, ErrorType::Calibration);
        return;
    }
    if (type != ErrorType::AxisMapping)
        return;
    for (const auto& entry : errors) {
        if (entry.first != sensorName && entry.second == ErrorType::AxisMapping) {
            errors.clear();
            errors["General"] = ErrorType::General;
            return;
        }
    }
    errors[sensorName] = ErrorType::AxisMapping;
}

void SensorManager::GetFinalErrorStr(std::string& out) const {
    static const char* const suffixes[] = {": Check Calibration", ": Check Axis Mapping",
                                           ": Check Movement or Axis Mapping"};
    out.clear();
    for (const auto& entry : errors) {
        const int type = static_cast<int>(entry.second);
        out += std::to_string(type + 1) + "\t" + entry.first + suffixes[type] + "\n";
    }
}
