#include "AmbientLight.h"

#include <algorithm>
#include <cstdio>

#include "FileUtil.h"
#include "Statistics.h"

#include "Console.h"
#include "Exceptions.h"
#include "XmlUtil.h"

using namespace xmlutil;

namespace {

// Offsets of the ALS record.
constexpr size_t kMultiplier = 2;  // u16
constexpr size_t kDivider = 4;     // u8
constexpr size_t kSteps = 5;       // u8 N, then N x (lux u16, scale u16) from offset 6
constexpr size_t kFirstStep = 6;

CalibrationException xmlError(const std::string& text, const TiXmlNode* node) {
    return CalibrationException(text + ". Line: " + row(node));
}

// An integer attribute "value" of a Lux or Scale element, 0 to 65535.
uint16_t stepValue(const TiXmlElement* e, const char* what) {
    const char* text = e->Attribute("value");
    if (text == nullptr)
        throw xmlError(std::string("XML parsing error. Missing value attribute in ") + what + " node", e);
    const int32_t v = toInt32(text);
    if (v < 0 || v > 65535)
        throw xmlError(std::string("Invalid ") + (std::string(what) == "Lux" ? "lux" : "scale") +
                           " value in XML input file. Value should be between 0 and 65535",
                       e);
    return static_cast<uint16_t>(v);
}

}  // namespace

AmbientLight::AmbientLight(const _sc_sensor_luid& id) : Sensor(id) {
    name = AMBIENT;
    category = 2;
    numFields = 1;
    samplingUnit = Unit_lux;
    calibrationUnit = Unit_lux;
    canCalibrate = true;
    formatId = 1;
    minDataSize = 18;
    maxDataSize = 66;
    divider = 1000;
}

bool AmbientLight::validateDataFormat(std::vector<unsigned char>& record) {
    if (record.empty())
        throw CalibrationException("Invalid Ambient Light Sensor calibration data size");
    if (record[0] & 0x80)
        return true;
    if (record[0] != 1)
        throw CalibrationException("Unsupported format of " + name + " Sensor calibration data");
    if (record.size() < 18)
        throw CalibrationException("Invalid Ambient Light Sensor calibration data size");
    const size_t steps = record[kSteps];
    const size_t stepsEnd = kFirstStep + 4 * steps;
    bool noVendorBlock = false;
    if (record.size() == stepsEnd)
        noVendorBlock = true;
    else if (record.size() < stepsEnd + 2 || record.size() != stepsEnd + 2 + readU16(record, stepsEnd))
        throw CalibrationException("Invalid Ambient Light Sensor calibration data size");
    if (steps <= 2)
        throw CalibrationException("Invalid Ambient Light Sensor calibration data: not enough ALR steps");
    return noVendorBlock;
}

void AmbientLight::parse(TiXmlHandle node, int importedFormat, int version) {
    TiXmlElement* data = node.ToElement();
    if (data == nullptr)
        throw CalibrationException("Invalid calibration data");
    if (importedFormat != 1)
        throw xmlError("Format ID of ALS calibration structure is not supported. Only supported format is 1", data);

    std::vector<unsigned char> record = {static_cast<unsigned char>(importedFormat), static_cast<unsigned char>(version)};

    const TiXmlElement* mult = data->FirstChildElement("Multiplier");
    if (mult == nullptr)
        throw xmlError("XML parsing error. Missing Ambient Light multiplier node", data);
    if (mult->GetText() == nullptr)
        throw xmlError("XML parsing error. Missing Ambient Light multiplier value", mult);
    const int32_t multiplierValue = toInt32(mult->GetText());
    if (multiplierValue < 0 || multiplierValue > 65535)
        throw xmlError("Invalid multiplier value in XML input file. Value should be between 0 and 65535", mult);
    int32_t dividerValue = 1;
    if (const char* d = mult->Attribute("Divider")) {
        dividerValue = toInt32(d);
        if (dividerValue == 0) {
            consoleOut() << "Warning: Ambient Light divider value is set to 0. Changing it to 1. Line: " << row(mult)
                      << std::endl;
            dividerValue = 1;
        } else if (dividerValue < 1 || dividerValue > 255) {
            throw xmlError("Invalid divider value in XML input file. Value should be between 1 and 255", mult);
        }
    }
    doxi::putU16(record, static_cast<uint16_t>(multiplierValue));
    doxi::putU8(record, static_cast<uint8_t>(dividerValue));

    const TiXmlElement* steps = data->FirstChildElement("Steps");
    const char* countText = steps ? steps->Attribute("NumOfSteps") : nullptr;
    if (countText == nullptr)
        throw xmlError("XML parsing error. Missing field NumOfSteps", steps ? steps : data);
    long long count = 0;
    // One step is the form of a calibration's record for a sensor without
    // one on the firmware: its multiplier alone.
    if (!parseInteger(countText, count) || (count != 1 && count < kMinSteps) || count > kMaxSteps)
        throw xmlError("XML parsing error. Invalid value for NumOfSteps", steps);
    record.push_back(static_cast<unsigned char>(count));
    long long seen = 0;
    for (const TiXmlElement* step = steps->FirstChildElement(); step; step = step->NextSiblingElement()) {
        if (std::string(step->Value()) != "Step")
            throw xmlError(std::string("XML parsing error. Unexpected element ") + step->Value(), step);
        const TiXmlElement* lux = step->FirstChildElement();
        if (lux == nullptr || std::string(lux->Value()) != "Lux")
            throw xmlError(std::string("XML parsing error. Unexpected element ") + (lux ? lux->Value() : "Step"),
                           lux ? lux : step);
        const TiXmlElement* scale = lux->NextSiblingElement();
        if (scale == nullptr || std::string(scale->Value()) != "Scale")
            throw xmlError(std::string("XML parsing error. Unexpected element ") + (scale ? scale->Value() : "Step"),
                           scale ? scale : step);
        if (++seen > count)
            throw xmlError("XML parsing error. Invalid value for NumOfSteps", steps);
        const uint16_t luxValue = stepValue(lux, "Lux");
        const uint16_t scaleValue = stepValue(scale, "Scale");
        doxi::putU16(record, luxValue);
        doxi::putU16(record, scaleValue);
    }
    if (seen != count)
        throw xmlError("XML parsing error. Invalid value for NumOfSteps", steps);

    if (const TiXmlElement* vendor = data->FirstChildElement("VendorData"))
        readVendorData(vendor, record, true);
    if (count == 1) {
        importedMultiplier = static_cast<uint16_t>(multiplierValue);
        importedDivider = static_cast<uint8_t>(dividerValue);
        multiplierOnly = true;
        if (originalPresent)
            setOriginalScaling(originalScaling);
        return;
    }
    setScaling(record);
}

void AmbientLight::setOriginalScaling(std::vector<unsigned char> record) {
    Sensor::setOriginalScaling(std::move(record));
    if (multiplierOnly) {
        setScaling(withScale(importedMultiplier, importedDivider));
        multiplierOnly = false;
    }
}

std::vector<unsigned char> AmbientLight::withScale(uint16_t value, uint8_t valueDivider) const {
    std::vector<unsigned char> record;
    if (originalPresent && originalScaling.size() > kDivider) {
        record = originalScaling;
    } else {
        record.assign(66, 0);
        record[0] = 1;
        record[kSteps] = 1;
    }
    writeU16(record, kMultiplier, value);
    record[kDivider] = valueDivider;
    return record;
}

void AmbientLight::linkDataNode(TiXmlElement* node, const std::vector<unsigned char>& record, unsigned long size) {
    if (record.empty() || size != record.size() || record[0] != 1)
        throw CalibrationException("Unsupported format of calibration data");
    if (record.size() < kFirstStep || record.size() < kFirstStep + 4 * static_cast<size_t>(record[kSteps]))
        throw CalibrationException("Invalid Ambient Light Sensor calibration data size");
    const size_t steps = record[kSteps];

    node->LinkEndChild(new TiXmlComment(
        "The following represents the scale the sensor data will be multiplied by. The scale is a floating number "
        "is represented by multiplier/divider. The final result is Lux value read from sensor * "
        "(multiplier/divider)"));
    TiXmlElement* mult = textElement("Multiplier", std::to_string(readU16(record, kMultiplier)));
    mult->SetAttribute("Divider", record[kDivider]);
    node->LinkEndChild(mult);

    TiXmlElement* stepsElement = new TiXmlElement("Steps");
    stepsElement->SetAttribute("NumOfSteps", static_cast<int>(steps));
    for (size_t i = 0; i < steps; ++i) {
        TiXmlElement* step = new TiXmlElement("Step");
        TiXmlElement* lux = new TiXmlElement("Lux");
        lux->SetAttribute("value", readU16(record, kFirstStep + 4 * i));
        TiXmlElement* scale = new TiXmlElement("Scale");
        scale->SetAttribute("value", readU16(record, kFirstStep + 4 * i + 2));
        step->LinkEndChild(lux);
        step->LinkEndChild(scale);
        stepsElement->LinkEndChild(step);
    }
    node->LinkEndChild(stepsElement);

    const size_t stepsEnd = kFirstStep + 4 * steps;
    // The vendor block is the firmware record's: a calibration's own record
    // for a sensor without one has none.
    if (originalPresent && record.size() > stepsEnd) {
        const size_t length = record.size() >= stepsEnd + 2 ? readU16(record, stepsEnd) : 0;
        if (record.size() < stepsEnd + 2 + length)
            throw CalibrationException("Invalid Ambient Light Sensor calibration data size");
        TiXmlElement* vendor = textElement("VendorData", length ? toHex(&record[stepsEnd + 2], length) : "");
        vendor->SetAttribute("DataLength", static_cast<int>(length));
        node->LinkEndChild(vendor);
    }
}

bool AmbientLight::dataRecieved(SensorData& data) {
    if (lastTimestamp > 0)
        intervals.push_back(data.timestamp - lastTimestamp);
    lastTimestamp = data.timestamp;
    if (manager && manager->isManualProcess()) {
        std::lock_guard<std::mutex> lock(inputMutex);
        if (inputReceived) {
            inputReceived = false;
            skippingData = false;
        }
        if (skippingData)
            return false;
    }
    if (data.values.empty())
        return false;
    medianWindow.push_back(data.values[0]);
    if (medianWindow.size() > 3)
        medianWindow.erase(medianWindow.begin());
    if (medianWindow.size() < 3)
        return false;
    std::vector<double> sorted = medianWindow;
    std::sort(sorted.begin(), sorted.end());
    data.values[0] = sorted[1];
    bufferedData.push_back(data);
    return true;
}

void AmbientLight::setStageInput(std::string input) {
    std::lock_guard<std::mutex> lock(inputMutex);
    lightLevels.push_back(convertInt(input));
    inputReceived = true;
}

void AmbientLight::addLightLevel(int lux) {
    std::lock_guard<std::mutex> lock(inputMutex);
    lightLevels.push_back(lux);
}

void AmbientLight::setIsSkippingData(bool skipping) {
    std::lock_guard<std::mutex> lock(inputMutex);
    skippingData = skipping;
}

bool AmbientLight::CheckStability(int start, int count) {
    return Statistics::calcStd(bufferedData, 0, start, count) <= 1.0;
}

double AmbientLight::CalculateSamplingFrequency() {
    if (intervals.empty()) {
        meanInterval = 0.0;
        return 50.0;
    }
    const double n = static_cast<double>(intervals.size());
    meanInterval = (intervals.back() + (n - 1) * meanInterval) / n;
    // Samples without time between them give no rate.
    return meanInterval > 0 ? 1000.0 / meanInterval : 0.0;
}

void AmbientLight::CalcSamplesRange(int& minimum, int& maximum) {
    const double f = CalculateSamplingFrequency();
    minimum = f > 0 ? static_cast<int>(2 * f) : 100;
    maximum = f > 0 ? static_cast<int>(5 * f) : 250;
}

double AmbientLight::CalculateSegmentAverage(int start, int count) {
    return Statistics::calcAvg(bufferedData, 0, start, count);
}

namespace {

std::string fixed(double v) {
    char text[64];
    std::snprintf(text, sizeof text, "%f", v);
    return text;
}

}  // namespace

void AmbientLight::calibrate() {
    std::vector<int32_t> levels;
    {
        std::lock_guard<std::mutex> lock(inputMutex);
        levels = lightLevels;
    }
    const std::vector<int> index = manager ? manager->getSegmentIndexes() : std::vector<int>();
    const std::string splitting = name + " Calibration Error: Failed splitting data to segments";
    if (levels.empty())
        throw CalibrationException(splitting);
    double sum = 0;
    for (size_t i = 0; i < levels.size(); ++i) {
        if (2 * i + 1 >= index.size())
            throw CalibrationException(splitting);
        const int first = index[2 * i], last = index[2 * i + 1];
        if (first < 0 || last < first || static_cast<size_t>(last) >= bufferedData.size())
            throw CalibrationException(splitting);
        const double average = CalculateSegmentAverage(first, last - first + 1);
        const std::string level = std::to_string(levels[i]);
        const std::string description = "Calculated multiplier for light level " + level;
        // A sensor that reads nothing, or less than nothing, cannot be scaled to the light meter.
        if (!(average > 0)) {
            addToLog("Multiplier", "", description, "MeasuredAverage", fixed(average), "ExpectedAverage", level);
            throw CalibrationException("Invalid light level of " + (average == 0 ? std::string("0") : fixed(average)) +
                                       " was measured");
        }
        const double m = levels[i] / average;
        consoleOut() << "Stage " << i + 1 << " multiplier is " << fixed(m) << "\n";
        addToLog("Multiplier", fixed(m), description, "MeasuredAverage", fixed(average), "ExpectedAverage", level);
        if (m > 200.0)
            throw CalibrationException("Invalid multiplier " + fixed(m) + " was calculated");
        sum += m;
    }
    const double mean = sum / static_cast<double>(levels.size());
    alsDivider = mean < 65536 / 100 ? 100 : 1;
    multiplier = static_cast<double>(static_cast<long long>(mean * alsDivider));
    const double scale = multiplier / alsDivider;
    addToLog(scale, "AverageMultiplier",
             "Calculated average multiplier. This is the scale the sensor data will be multiplied by. The scale is a "
             "floating number is represented by multiplier/divider");
    addToLog(multiplier, "ResultMultiplier", "Calculated result multiplier");
    addToLog(alsDivider, "ResultDivider", "Calculated result divider");
    if (scale > 200.0)
        throw CalibrationException("Invalid multiplier " + fixed(scale) + " was calculated");

    scaling = withScale(static_cast<uint16_t>(multiplier), static_cast<uint8_t>(alsDivider));
    checkCreateLog();
    logRoot->SetAttribute("Success", "true");
}

void AmbientLight::calcReverseSdt() {
    if (!originalPresent || originalScaling.empty())
        throw CalibrationException("No calibration entry exists for AmbientLight. Original entry must exist");
    if (originalScaling[0] & 0x80)
        throw CalibrationException("Custom calibration data format. Cannot reverse SDT static calibration");
    if (originalScaling.size() <= kDivider)
        return;
    const uint16_t m = readU16(originalScaling, kMultiplier);
    if (m == 0)
        return;
    const unsigned d = originalScaling[kDivider] == 0 ? 1u : originalScaling[kDivider];
    reverseFactor = static_cast<double>(d) / m;
}

void AmbientLight::reverseStaticCalibration(SensorData& data) {
    if (reverseFactor == 1.0)
        return;
    for (double& v : data.values)
        v *= reverseFactor;
}

std::string AmbientLight::getResult() {
    return "Multiplier: " + fixed(multiplier) + "\nDivider: " + fixed(alsDivider) +
           "\nMultiplier/Divider: " + fixed(alsDivider != 0 ? multiplier / alsDivider : 0.0) + "\n";
}
