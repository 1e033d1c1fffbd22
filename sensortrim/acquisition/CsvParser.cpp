#include "CsvParser.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string_view>

#include "DumpNumbers.h"
#include "DumpRows.h"
#include "Exceptions.h"
#include "LargePages.h"
#include "FileUtil.h"
#include "Sensor.h"
#include "cmdline/CmdLineArguments.h"
#include "file/AtomicFile.h"
#include "device/Smhi.h"

namespace {

bool startsWith(const std::string& text, const char* prefix) {
    return text.rfind(prefix, 0) == 0;
}

// getline without the carriage return of a file written elsewhere.
bool readLine(std::istream& in, std::string& line) {
    if (!std::getline(in, line))
        return false;
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return true;
}

// A luid of the same kind of sensor as the one the dump file is for: the same
// sensor class, the same role (primary or secondary), and for the motion
// sensors the static calibration record that a calibration writes.
bool luidFitsSensor(const _sc_sensor_luid& luid, const Sensor& sensor) {
    const std::shared_ptr<Sensor> probe = Sensor::allocateSensor(luid);
    if (probe->getBaseName().empty() || probe->getBaseName() != sensor.getBaseName())
        return false;
    if (sensor.getSensorType() == 1 && (luid.flags & 0x02) == 0)
        return false;
    return (luid.instance == 0) == (sensor.getLuid().instance == 0);
}

}  // namespace

std::string CsvParser::getSuffixedPath(const std::string& basePath, const std::string& sensorName) {
    std::string path = basePath;
    const size_t dot = path.rfind('.');
    if (dot != std::string::npos && path.compare(dot + 1, std::string::npos, "csv") == 0)
        path.insert(dot, sensorName);
    else
        path += sensorName;
    if (!validateExtension(path, "csv"))
        path += ".csv";
    return path;
}

bool CsvParser::dumpExists(const std::string& folder, const std::string& prefix, const std::string& sensorName) {
    const std::string base = prefix.empty() ? folder : folder + getSlash() + prefix;
    std::ifstream in(getSuffixedPath(base, sensorName));
    return in.good();
}

void CsvParser::splitLine(const std::string& line, char separator) {
    // The field strings are reused from line to line, so a long dump does not
    // allocate new strings for every row.
    size_t count = 0;
    if (!line.empty()) {
        size_t from = 0;
        while (true) {
            const size_t at = line.find(separator, from);
            const size_t length = at == std::string::npos ? line.size() - from : at - from;
            if (count == columns.size())
                columns.emplace_back();
            columns[count++].assign(line, from, length);
            if (at == std::string::npos)
                break;
            from = at + 1;
        }
    }
    columns.resize(count);
}

void CsvParser::parseHeader(const std::vector<std::string>& header, const std::shared_ptr<Sensor>& sensor) {
    if (header.size() < 4 || toLowerCase(header[0]) != "time[ms]")
        throw CalibrationException("Invalid header timestamp");
    const std::string name = sensor->getName();
    const char* axes[3] = {"_X", "_Y", "_Z"};
    for (int i = 0; i < 3; ++i)
        if (header[static_cast<size_t>(i) + 1].find(name + axes[i]) == std::string::npos)
            throw CalibrationException("Invalid header");
    std::string units[3];
    for (int i = 0; i < 3; ++i) {
        const std::string& column = header[static_cast<size_t>(i) + 1];
        const size_t open = column.find('['), close = column.find(']');
        if (open == std::string::npos || close == std::string::npos)
            throw CalibrationException("Invalid header format");
        units[i] = close > open ? column.substr(open + 1, close - open - 1) : std::string();
        if (units[i].empty())
            throw CalibrationException("Invalid header format, unit is not specified");
    }
    if (units[0] != units[1] || units[1] != units[2])
        throw CalibrationException("Invalid header format. All columns should have the same unit");
    fileUnit = Conversions::fromString(units[0]);
    sensorUnit = sensor->getSamplingUnit();
    convertUnits = fileUnit != sensorUnit;
}

void CsvParser::parseSensorDataLine(const std::vector<std::string>& fields) {
    currentData.values.clear();
    const std::string& time = fields.at(0);
    if (!isOnlyDouble(time))
        throw CalibrationException("CSV parsing error. Invalid timestamp value " + time);
    if (std::strtod(time.c_str(), nullptr) < 0)
        throw CalibrationException("CSV parsing error. Negative timestamp is invalid. " + time);
    currentData.timestamp = dumpnumbers::generalTimestamp(time.c_str(), time.c_str() + time.size());
    for (size_t i = 1; i < fields.size(); ++i) {
        // Not a number, or one that is not finite: no sample has such a value.
        if (!isOnlyDouble(fields[i]) || !std::isfinite(std::atof(fields[i].c_str())))
            throw CalibrationException("CSV parsing error. Invalid value " + fields[i]);
        double value = std::atof(fields[i].c_str());
        if (convertUnits)
            value = Conversions::Convert(value, fileUnit, sensorUnit);
        currentData.values.push_back(value);
    }
}

std::ifstream CsvParser::openSensorFile(const std::string& path) {
    if (!fileExists(path))
        throw CalibrationException("Sensor data file " + path + " does not exist");
    std::ifstream in(path, std::ios::binary);
    if (!in.good() || isDirExist(path))
        throw CalibrationException("Cannot read input file " + path);
    return in;
}

size_t CsvParser::countLines(std::istream& in) {
    std::vector<char> block(1 << 20);
    size_t lines = 0;
    while (in) {
        in.read(block.data(), static_cast<std::streamsize>(block.size()));
        lines += dumpnumbers::countLineEnds(block.data(), static_cast<size_t>(in.gcount()));
    }
    in.clear();
    in.seekg(0);
    return lines + 1;
}

std::vector<SensorData> CsvParser::readSensorFile(const std::string& path, const std::shared_ptr<Sensor>& sensor,
                                                  bool readLuid) {
    std::ifstream in = openSensorFile(path);
    // Sized once: growing by doubling would hold up to twice the samples.
    std::vector<SensorData> samples;
    samples.reserve(countLines(in));
    adviseLargePages(samples.data(), samples.capacity() * sizeof(SensorData));
    readSamples(in, path, sensor, readLuid, [&samples](const SensorData& sample) { samples.push_back(sample); });
    return samples;
}

std::vector<SensorData> CsvParser::readSensorStream(std::istream& in, const std::string& path,
                                                    const std::shared_ptr<Sensor>& sensor, bool readLuid) {
    std::vector<SensorData> samples;
    readSamples(in, path, sensor, readLuid, [&samples](const SensorData& sample) { samples.push_back(sample); });
    return samples;
}

void CsvParser::readSamples(std::istream& in, const std::string& path, const std::shared_ptr<Sensor>& sensor,
                            bool readLuid, const std::function<void(const SensorData&)>& onSample) {
    dumprows::LineReader reader(in);
    std::string line;
    // The number of the line read last, for the messages.
    size_t lineNumber = 1;
    if (!reader.next(line))
        throw CalibrationException("Input file " + path + " is empty");

    while (startsWith(line, "#") && reader.next(line))
        ++lineNumber;
    if (startsWith(line, "LUID=")) {
        if (readLuid) {
            const std::string hex = replace(line, "LUID=", "");
            unsigned char bytes[kLuidSize] = {};
            for (size_t i = 0; i < kLuidSize && 2 * i + 1 < hex.size(); ++i) {
                unsigned char byte = 0;
                if (std::sscanf(hex.c_str() + 2 * i, "%2hhx", &byte) != 1)
                    break;
                bytes[i] = byte;
            }
            const _sc_sensor_luid luid = smhi::decodeLuid(bytes);
            // A dump of another sensor would give its samples, and then its
            // record, to the wrong sensor.
            if (!luidFitsSensor(luid, *sensor))
                throw CalibrationException("Invalid LUID " + luidToString(luid) + " at input file " + path +
                                           ", it does not name the " + sensor->getName() + " sensor");
            sensor->setLuid(luid);
        }
        if (!reader.next(line))
            line.clear();
        ++lineNumber;
    }
    while ((startsWith(line, "#") || line.empty()) && reader.next(line))
        ++lineNumber;
    if (startsWith(line, "HINGE=")) {
        if (sensor->getName() == "Accelerometer_2")
            sensor->setHingeConfig(replace(line, "HINGE=", ""));
        if (!reader.next(line))
            line.clear();
        ++lineNumber;
    }

    const size_t expected = static_cast<size_t>(sensor->getNumFields()) + 1;
    splitLine(line, ',');
    if (columns.size() != expected)
        throw CalibrationException("Unexpected number of columns at input file " + path);
    convertUnits = false;
    if (sensor->getSensorType() == 1)
        parseHeader(columns, sensor);

    bool any = false;
    double lastTime = 0;
    const bool light = sensor->getSensorType() == 2;
    bool apart = false;
    dumprows::RowUnits units;
    units.convert = convertUnits;
    units.from = fileUnit;
    units.to = sensorUnit;
    // Each row in the order of the file: a plain row as it was converted,
    // any other by the general reading, with its checks and messages.
    auto take = [&](const dumprows::Row& each) {
        ++lineNumber;
        if (each.plain) {
            currentData = each.sample;
        } else {
            const std::string_view row = each.text;
            if (!row.empty() && row[0] == '#')
                return;
            line.assign(row);
            splitLine(line, ',');
            if (columns.empty())
                return;
            if (columns.size() != expected && columns.size() != 1)
                throw CalibrationException("Unexpected number of values at input file " + path);
            try {
                parseSensorDataLine(columns);
            } catch (const CalibrationException& e) {
                throw CalibrationException(std::string(e.what()) + " at line " + std::to_string(lineNumber) +
                                           " of input file " + path);
            }
        }
        if (any && lastTime > currentData.timestamp)
            throw CalibrationException("Invalid order of data at input file " + path);
        // The light calibration tells its sampling rate by the time between
        // the samples from the first one after time 0: none at all there
        // leaves it without a rate.
        if (light && any && lastTime > 0 && !apart) {
            if (currentData.timestamp == lastTime)
                throw CalibrationException("CSV parsing error. Equal time stamps among the first samples (" +
                                           std::to_string(static_cast<long long>(currentData.timestamp)) +
                                           " ms): the light calibration takes its sampling rate from the time "
                                           "between them at line " +
                                           std::to_string(lineNumber) + " of input file " + path);
            apart = true;
        }
        any = true;
        lastTime = currentData.timestamp;
        onSample(currentData);
    };
    dumprows::RowChunks chunks(reader, expected, units);
    const std::vector<dumprows::Row>* rows = nullptr;
    while (chunks.next(rows))
        for (const dumprows::Row& each : *rows)
            take(each);
}

SensorDump CsvParser::readFromFile(const std::string& basePath, const std::vector<std::shared_ptr<Sensor>>& sensors,
                                   bool readLuid) {
    SensorDump dump;
    for (const std::shared_ptr<Sensor>& sensor : sensors)
        dump[sensor] = readSensorFile(getSuffixedPath(basePath, sensor->getName()), sensor, readLuid);
    return dump;
}

std::string CsvParser::writeHeader(const std::shared_ptr<Sensor>& sensor) const {
    const std::string name = sensor->getName();
    const std::string unit = "[" + Conversions::toString(sensor->getSamplingUnit()) + "]";
    std::string header = "time[ms]";
    if (sensor->getSensorType() == 1) {
        for (const char* axis : {"X", "Y", "Z"})
            header += "," + name + "_" + axis + unit;
    } else {
        for (int field = 0; field < sensor->getNumFields(); ++field)
            header += "," + name + "_" + std::to_string(field) + unit;
    }
    return header;
}

std::string CsvParser::writeSensorDataLine(const SensorData& sample) const {
    char number[400];
    std::snprintf(number, sizeof number, "%f", sample.timestamp);
    std::string line = number;
    for (double v : sample.values) {
        std::snprintf(number, sizeof number, "%f", v);
        line += ",";
        line += number;
    }
    return line;
}

void CsvParser::writeToFile(const std::string& basePath, const SensorDump& dump) {
    for (const auto& entry : dump) {
        const std::shared_ptr<Sensor>& sensor = entry.first;
        const std::string path = getSuffixedPath(basePath, sensor->getName());
        const size_t slash = path.rfind('/');
        if (slash != std::string::npos && slash > 0 && !makePath(path.substr(0, slash)))
            throw CalibrationException("Failed to create path " + path);
        // Written beside its name and renamed into place: whole or not at all.
        const std::string part = atomicfile::partName(path);
        std::ofstream out(part, std::ios::trunc);
        out << "LUID=" << sensor->getLuidString() << "\n";
        if (sensor->getName() == "Accelerometer_2")
            out << "HINGE=" << sensor->getHingeConfig() << "\n";
        out << writeHeader(sensor) << "\n";
        for (const SensorData& sample : entry.second)
            out << writeSensorDataLine(sample) << "\n";
        out.close();
        // A dump that could not be written whole must not pass as saved.
        if (!out) {
            std::remove(part.c_str());
            throw CalibrationException("Failed to write to file " + path);
        }
        if (!atomicfile::commit(part, path))
            throw CalibrationException("Failed to write to file " + path);
    }
}

void CsvParser::parseAlsConfigLine(const std::string& line, AlsConfiguration& configuration) {
    splitLine(line, '=');
    if (columns.size() != 2)
        return;
    std::string key = columns[0];
    trim(key);
    std::string value = columns[1];
    if (key == "delay_time") {
        const int delay = convertInt(trim(value));
        if (delay < 3)
            throw CalibrationException("Invalid delay time. Minimum delay time is 3 seconds.");
        if (delay > 50)
            throw CalibrationException("Invalid delay time. Maximum delay time is 50 seconds.");
        configuration.delayTime = delay;
        return;
    }
    if (key != "values")
        throw CalibrationException("Invalid value in the configuration file. The format should be \"values=list of "
                                   "comma separated values\" or \"delay_time=value\"");
    splitLine(value, ',');
    std::vector<int> levels;
    for (std::string item : columns) {
        const int level = convertInt(trim(item));
        if (level < 1)
            throw CalibrationException("Invalid light value in configuration file " + std::to_string(level) +
                                       ". value should be bigger than 1");
        levels.push_back(level);
    }
    if (levels.empty())
        throw CalibrationException("Invalid number of values in configuration file. Minimum number of values is 1");
    if (levels.size() >= 2) {
        const bool ascending = levels[0] < levels[1];
        for (size_t i = 1; i < levels.size(); ++i) {
            if ((levels[i - 1] < levels[i]) != ascending)
                throw CalibrationException(
                    "Invalid values in configuration file. Values should be in ascending or descending order");
            if (std::abs(levels[i] - levels[i - 1]) < 300)
                throw CalibrationException(
                    "Invalid delta between values in configuration file. Minimum delta should be 300");
        }
    }
    configuration.values = levels;
}

void CsvParser::readConfigFile(const std::string& path, AlsConfiguration& configuration) {
    std::ifstream in(path);
    if (!in.good() || isDirExist(path))
        throw CalibrationException("Cannot read input file " + path);
    std::string line;
    while (readLine(in, line))
        parseAlsConfigLine(line, configuration);
    if (configuration.values.empty())
        throw CalibrationException("Invalid configuration file " + path);
}
