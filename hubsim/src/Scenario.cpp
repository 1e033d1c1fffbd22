#include "Scenario.h"

#include <tinyxml.h>

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "device/Bytes.h"
#include "device/Smhi.h"
#include "xml/XmlFile.h"

namespace hubsim {

namespace {

long number(const TiXmlElement* e, const char* name, long fallback, long min, long max) {
    const char* text = e->Attribute(name);
    if (text == nullptr)
        return fallback;
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text, &end, 0);
    if (end == text || *end != '\0' || errno != 0 || value < min || value > max)
        throw ScenarioError(std::string("bad value for ") + e->Value() + "@" + name + ": '" + text + "'");
    return value;
}

_sc_sensor_luid parseLuid(const TiXmlElement* e) {
    _sc_sensor_luid luid;
    if (const char* hex = e->Attribute("luid")) {
        const std::vector<uint8_t> bytes = parseHexBytes(hex);
        if (bytes.size() != kLuidSize)
            throw ScenarioError(std::string("a luid has 8 bytes: '") + hex + "'");
        return smhi::decodeLuid(bytes.data());
    }
    luid.sensorType = static_cast<uint16_t>(number(e, "type", 0, 0, 0xFFFF));
    luid.vendorId = static_cast<uint16_t>(number(e, "vendor", 0, 0, 0xFFFF));
    luid.subType = static_cast<uint16_t>(number(e, "subType", 0, 0, 0xFFFF));
    luid.instance = static_cast<uint8_t>(number(e, "instance", 0, 0, 0xFF));
    luid.flags = static_cast<uint8_t>(number(e, "flags", 0, 0, 0xFF));
    return luid;
}

std::string textOf(const TiXmlElement* e) {
    return e->GetText() ? e->GetText() : "";
}

void parseSensors(const TiXmlElement* root, Scenario& s) {
    const TiXmlElement* sensors = root->FirstChildElement("Sensors");
    if (!sensors)
        return;
    for (const TiXmlElement* g = sensors->FirstChildElement("Group"); g; g = g->NextSiblingElement("Group")) {
        SimGroup group;
        group.header = parseHexBytes(g->Attribute("header") ? g->Attribute("header") : "");
        group.header.resize(11, 0);
        for (const TiXmlElement* e = g->FirstChildElement("Sensor"); e; e = e->NextSiblingElement("Sensor")) {
            SimSensor sensor;
            sensor.luid = parseLuid(e);
            if (const TiXmlElement* bus = e->FirstChildElement("Bus")) {
                sensor.hasBus = true;
                sensor.busType = static_cast<uint8_t>(number(bus, "type", 0, 0, 255));
                sensor.busNumber = static_cast<uint8_t>(number(bus, "number", 0, 0, 255));
                sensor.busAddress = static_cast<uint8_t>(number(bus, "address", 0, 0, 255));
            }
            if (const TiXmlElement* cal = e->FirstChildElement("Calibration")) {
                sensor.hasCalibration = true;
                sensor.calibration = parseHexBytes(textOf(cal));
            }
            group.sensors.push_back(s.sensors.size());
            s.sensors.push_back(sensor);
        }
        if (group.sensors.size() > 255)
            throw ScenarioError("a group holds at most 255 sensors");
        s.groups.push_back(group);
    }
}

double real(const TiXmlElement* e, const char* name, double fallback, double min, double max) {
    const char* text = e->Attribute(name);
    if (text == nullptr)
        return fallback;
    char* end = nullptr;
    const double value = std::strtod(text, &end);
    if (end == text || *end != '\0' || !(value >= min && value <= max))
        throw ScenarioError(std::string("bad value for ") + e->Value() + "@" + name + ": '" + text + "'");
    return value;
}

sim::V3 triple(const TiXmlElement* e, const char* name, sim::V3 fallback) {
    const char* text = e->Attribute(name);
    if (text == nullptr)
        return fallback;
    sim::V3 v;
    std::stringstream in(text);
    std::string item;
    for (int i = 0; i < 3; ++i) {
        char* end = nullptr;
        if (!std::getline(in, item, ',') || item.empty())
            throw ScenarioError(std::string("three values expected for ") + e->Value() + "@" + name);
        v[i] = std::strtod(item.c_str(), &end);
        if (*end != '\0' || !std::isfinite(v[i]))
            throw ScenarioError(std::string("bad value for ") + e->Value() + "@" + name + ": '" + text + "'");
    }
    if (std::getline(in, item, ','))
        throw ScenarioError(std::string("three values expected for ") + e->Value() + "@" + name);
    return v;
}

// Three values, or nine (a matrix, row by row).
sim::M3 matrix(const TiXmlElement* e, const char* name) {
    sim::M3 m;
    const char* text = e->Attribute(name);
    if (text == nullptr)
        return m;
    std::vector<double> values;
    std::stringstream in(text);
    for (std::string item; std::getline(in, item, ',');) {
        char* end = nullptr;
        const double v = std::strtod(item.c_str(), &end);
        if (item.empty() || *end != '\0' || !std::isfinite(v))
            throw ScenarioError(std::string("bad value for ") + e->Value() + "@" + name + ": '" + text + "'");
        values.push_back(v);
    }
    if (values.size() == 3)
        return sim::M3::diagonal({values[0], values[1], values[2]});
    if (values.size() != 9)
        throw ScenarioError(std::string("three or nine values expected for ") + e->Value() + "@" + name);
    for (int k = 0; k < 9; ++k)
        m.m[k / 3][k % 3] = values[static_cast<size_t>(k)];
    return m;
}

void parseErrors(const TiXmlElement* device, const char* name, sim::SensorErrors& errors) {
    const TiXmlElement* e = device->FirstChildElement(name);
    if (!e)
        return;
    errors.offset = triple(e, "offset", errors.offset);
    const sim::V3 scale = triple(e, "scale", sim::V3{1, 1, 1});
    const sim::V3 misalign = triple(e, "misalign", sim::V3{});
    for (int i = 0; i < 3; ++i)
        if (!(scale[i] > 0.1 && scale[i] < 10))
            throw ScenarioError(std::string("a scale lies between 0.1 and 10: ") + name);
    errors.correction = sim::correctionOf(scale, misalign);
    errors.noise = real(e, "noise", errors.noise, 0, 1e6);
    // The part's limits and imperfections, in the sensor's units.
    errors.fullScale = real(e, "fullScale", real(e, "range", errors.fullScale, 0, 1e6), 0, 1e6);
    errors.lsb = real(e, "lsb", errors.lsb, 0, 1e6);
    errors.cubic = real(e, "cubic", errors.cubic, -1, 1);
    errors.drift = triple(e, "drift", errors.drift);
    errors.randomWalk = real(e, "randomWalk", errors.randomWalk, 0, 1e6);
    errors.biasInstability = real(e, "biasInstability", errors.biasInstability, 0, 1e6);
    errors.biasSeconds = real(e, "biasSeconds", errors.biasSeconds, 0.001, 1e9);
    errors.gSensitivity = matrix(e, "gSensitivity");
}

void parseDevice(const TiXmlElement* root, Scenario& s) {
    s.device.acc.noise = 0.001;
    s.device.lid.noise = 0.001;
    s.device.gyro.noise = 0.05;
    s.device.mag.noise = 1.0;
    // Faster turns read as this (deg/s).
    s.device.gyro.fullScale = 2000.0;
    const TiXmlElement* d = root->FirstChildElement("Device");
    if (!d)
        return;
    s.speed = real(d, "speed", 1.0, 0.1, 100.0);
    s.device.fieldMilliGauss = real(d, "field", 500.0, 0, 100000);
    s.device.dipDegrees = real(d, "dip", 60.0, -90, 90);
    s.device.lightGain = real(d, "lightGain", 0.5, 0, 1000);
    s.device.lightNoise = real(d, "lightNoise", 0.2, 0, 1000);
    s.device.seed = static_cast<unsigned>(number(d, "seed", 1, 0, 0x7FFFFFFF));
    // The lid sits as the platform info says, unless the device says otherwise.
    static const char* const hinges[] = {"BOTTOM", "TOP", "LEFT", "RIGHT"};
    if (s.platformInfo.size() > 5 && s.platformInfo[5] < 4)
        s.device.hinge = hinges[s.platformInfo[5]];
    if (const char* hinge = d->Attribute("hinge"))
        s.device.hinge = hinge;
    s.streamFaults.dropAfterMs = real(d, "dropAfterMs", -1, -1, 1e9);
    s.streamFaults.unknownSensor = d->Attribute("unknownSensor") && std::string(d->Attribute("unknownSensor")) == "true";
    s.streamFaults.zeroLengthRecord =
        d->Attribute("zeroLengthRecord") && std::string(d->Attribute("zeroLengthRecord")) == "true";
    if (const char* silent = d->Attribute("silentLuid")) {
        const std::vector<uint8_t> bytes = parseHexBytes(silent);
        if (bytes.size() != kLuidSize)
            throw ScenarioError(std::string("a luid has 8 bytes: '") + silent + "'");
        s.streamFaults.silentLuid = luidHexKey(smhi::decodeLuid(bytes.data()));
    }
    s.streamFaults.silentAfterMs = real(d, "silentAfterMs", 0, 0, 1e9);
    s.streamFaults.ignoreStop = d->Attribute("ignoreStop") && std::string(d->Attribute("ignoreStop")) == "true";
    // The stream of reports and the station.
    sim::StreamEffects& stream = s.device.stream;
    stream.jitterMs = real(d, "jitterMs", 0, 0, 1e4);
    stream.intervalSpread = real(d, "intervalSpread", 0, 0, 1);
    stream.dropShare = real(d, "dropShare", 0, 0, 1);
    stream.burstMs = real(d, "burstMs", 0, 0, 1e7);
    stream.burstAtTurn = static_cast<int>(number(d, "burstAtTurn", 0, 0, 1000));
    stream.burstDelayMs = real(d, "burstDelayMs", 0, 0, 1e7);
    stream.burstsPerMinute = real(d, "burstsPerMinute", 0, 0, 1e4);
    sim::Station& station = s.device.station;
    station.rippleMilliGauss = real(d, "ripple", 0, 0, 1e5);
    station.rippleHz = real(d, "rippleHz", 60, 0, 1e5);
    station.fieldDrift = real(d, "fieldDrift", 0, -1e5, 1e5);
    station.dipDrift = real(d, "dipDrift", 0, -90, 90);
    station.headingDegrees = real(d, "heading", 0, -360, 360);
    s.device.hand = d->Attribute("hand") && std::string(d->Attribute("hand")) == "true";
    parseErrors(d, "Accelerometer", s.device.acc);
    parseErrors(d, "LidAccelerometer", s.device.lid);
    parseErrors(d, "Gyroscope", s.device.gyro);
    parseErrors(d, "Magnetometer", s.device.mag);
}

std::vector<uint8_t> readBinary(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw ScenarioError("cannot read " + path);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

std::vector<uint8_t> parseHexBytes(const std::string& text) {
    std::vector<uint8_t> bytes;
    int high = -1;
    for (char c : text) {
        if (std::isspace(static_cast<unsigned char>(c)))
            continue;
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            throw ScenarioError("not a hex digit: '" + std::string(1, c) + "'");
        const int v = std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : std::tolower(c) - 'a' + 10;
        if (high < 0) {
            high = v;
        } else {
            bytes.push_back(static_cast<uint8_t>(high << 4 | v));
            high = -1;
        }
    }
    if (high >= 0)
        throw ScenarioError("odd number of hex digits");
    return bytes;
}

Scenario parseScenario(const std::string& xml, const std::string& baseDir) {
    TiXmlDocument doc;
    const xmlfile::Result parsed = xmlfile::parse(xml, doc);
    if (!parsed.ok())
        throw ScenarioError("XML error: " + parsed.description + " at line " + std::to_string(parsed.row));
    const TiXmlElement* root = doc.RootElement();
    if (!root || std::string(root->Value()) != "HubScenario")
        throw ScenarioError("the root element must be HubScenario");

    Scenario s;
    if (const TiXmlElement* fw = root->FirstChildElement("Firmware")) {
        if (const char* v = fw->Attribute("version")) {
            unsigned parts[4];
            char tail;
            if (std::sscanf(v, "%u.%u.%u.%u%c", &parts[0], &parts[1], &parts[2], &parts[3], &tail) != 4)
                throw ScenarioError(std::string("bad firmware version '") + v + "'");
            for (int i = 0; i < 4; ++i)
                s.version[i] = static_cast<uint16_t>(parts[i]);
        }
        s.statusRegister = static_cast<uint32_t>(number(fw, "statusRegister", s.statusRegister, 0, 0xFFFFFFFFL));
        if (const char* r = fw->Attribute("statusRegisterReadable"))
            s.statusRegisterReadable = std::string(r) != "false";
        s.maxMessageLength = static_cast<uint32_t>(number(fw, "maxMessageLength", s.maxMessageLength, 0, 0xFFFFFFFFL));
    }
    if (const TiXmlElement* nodes = root->FirstChildElement("Nodes")) {
        s.nodes.clear();
        std::istringstream words(textOf(nodes));
        for (std::string node; words >> node;)
            s.nodes.insert(node);
    }
    parseSensors(root, s);
    if (const TiXmlElement* info = root->FirstChildElement("PlatformInfo")) {
        if (const char* bytes = info->Attribute("bytes"))
            s.platformInfo = parseHexBytes(bytes);
        s.platformInfo.resize(std::max<size_t>(s.platformInfo.size(), 6), 0);
        s.platformInfo[1] = static_cast<uint8_t>(number(info, "formFactor", s.platformInfo[1], 0, 255));
        s.platformInfo[5] = static_cast<uint8_t>(number(info, "hinge", s.platformInfo[5], 0, 255));
    }
    if (const TiXmlElement* pdt = root->FirstChildElement("Pdt")) {
        if (const char* file = pdt->Attribute("file"))
            s.pdt = readBinary(file[0] == '/' ? file : baseDir + "/" + file);
        else
            s.pdt = parseHexBytes(textOf(pdt));
    }
    if (const TiXmlElement* st = root->FirstChildElement("SelfTest")) {
        s.selfTestRunningPolls = static_cast<int>(number(st, "runningPolls", s.selfTestRunningPolls, 0, 1000000));
        s.selfTestRunningStatus = static_cast<uint8_t>(number(st, "runningStatus", s.selfTestRunningStatus, 0, 255));
        s.selfTestOverall = static_cast<int>(number(st, "overall", -1, -1, 255));
        for (const TiXmlElement* r = st->FirstChildElement("Result"); r; r = r->NextSiblingElement("Result"))
            s.selfTestResults.push_back({parseLuid(r), static_cast<uint8_t>(number(r, "code", 0, 0, 255))});
    }
    if (const TiXmlElement* i2c = root->FirstChildElement("I2c")) {
        for (const TiXmlElement* b = i2c->FirstChildElement("Bus"); b; b = b->NextSiblingElement("Bus")) {
            I2cCounts c;
            c.standardHigh = static_cast<uint16_t>(number(b, "standardHigh", 0, 0, 0xFFFF));
            c.standardLow = static_cast<uint16_t>(number(b, "standardLow", 0, 0, 0xFFFF));
            c.fastHigh = static_cast<uint16_t>(number(b, "fastHigh", 0, 0, 0xFFFF));
            c.fastLow = static_cast<uint16_t>(number(b, "fastLow", 0, 0, 0xFFFF));
            s.i2c[static_cast<int>(number(b, "id", 0, 0, 255))] = c;
        }
    }
    if (const TiXmlElement* trace = root->FirstChildElement("Trace")) {
        for (const TiXmlElement* p = trace->FirstChildElement("Packet"); p; p = p->NextSiblingElement("Packet")) {
            const char* hex = p->Attribute("hex");
            if (hex == nullptr)
                throw ScenarioError("a trace Packet needs its bytes in hex=\"...\"");
            s.tracePackets.push_back(parseHexBytes(hex));
        }
        s.traceRepeat = number(trace, "repeat", 1, 0, 100000000);
        if (const char* a = trace->Attribute("afterFlush"))
            s.traceAfterFlush = std::string(a) == "true";
        if (const char* f = trace->Attribute("flushResponse")) {
            if (std::string(f) != "normal" && std::string(f) != "abnormal")
                throw ScenarioError(std::string("unknown flushResponse '") + f + "'");
            s.traceFlushAbnormal = std::string(f) == "abnormal";
        }
    }
    if (const TiXmlElement* config = root->FirstChildElement("TraceConfig")) {
        if (const char* hex = config->Attribute("hex")) {
            s.traceConfig = parseHexBytes(hex);
            if (s.traceConfig.size() != 40)
                throw ScenarioError("a TraceConfig record has 40 bytes");
        }
        if (const TiXmlElement* header = config->FirstChildElement("LogHeader")) {
            const char* hex = header->Attribute("hex");
            s.traceLogHeader = parseHexBytes(hex ? hex : "");
            if (s.traceLogHeader.size() != 32)
                throw ScenarioError("a trace LogHeader has 32 bytes");
        }
        for (const TiXmlElement* a = config->FirstChildElement("Answer"); a; a = a->NextSiblingElement("Answer")) {
            Scenario::TraceConfigAnswer answer;
            answer.command = static_cast<int>(number(a, "command", -1, -1, 127));
            answer.status = static_cast<int>(number(a, "status", -1, -1, 255));
            answer.length = static_cast<int>(number(a, "length", -1, -1, 65536));
            if (const char* response = a->Attribute("response")) {
                if (std::string(response) != "none")
                    throw ScenarioError(std::string("unknown answer response '") + response + "'");
                answer.swallow = true;
            }
            s.traceConfigAnswers.push_back(answer);
        }
    }
    parseDevice(root, s);
    if (const TiXmlElement* faults = root->FirstChildElement("Faults")) {
        for (const TiXmlElement* f = faults->FirstChildElement("Fault"); f; f = f->NextSiblingElement("Fault")) {
            if (const char* c = f->Attribute("connect")) {
                s.refuseConnect = std::string(c) == "refuse";
                continue;
            }
            Fault fault;
            fault.command = static_cast<int>(number(f, "command", -1, -1, 127));
            fault.property = static_cast<int>(number(f, "property", -1, -1, 0x7FFFFFFF));
            fault.status = static_cast<int>(number(f, "status", -1, -1, 255));
            fault.response = f->Attribute("response") ? f->Attribute("response") : "";
            if (!fault.response.empty() && fault.response != "none" && fault.response != "short" &&
                fault.response != "long" && fault.response != "close")
                throw ScenarioError("unknown fault response '" + fault.response + "'");
            fault.length = static_cast<int>(number(f, "length", -1, -1, 65536));
            fault.delayMs = static_cast<int>(number(f, "delayMs", 0, 0, 600000));
            fault.times = static_cast<int>(number(f, "times", -1, -1, 1000000));
            fault.skip = static_cast<int>(number(f, "skip", 0, 0, 1000000));
            s.faults.push_back(fault);
        }
    }
    return s;
}

std::vector<uint8_t> Scenario::defaultTraceConfig() {
    // Trace to DOXI, buffered and cyclic, 16 KB, up to INFO, every component.
    std::vector<uint8_t> config = {0x01, 0x00, 0x00, 0x00, 0x03, 16, 6, 0};
    config.resize(40, 0xFF);
    return config;
}

std::vector<uint8_t> Scenario::defaultTraceLogHeader() {
    std::vector<uint8_t> header(32, 0);
    const char flag[] = "TSY-TRACE";
    std::copy(flag, flag + sizeof flag - 1, header.begin());
    header[16] = 1;   // header version
    header[17] = 32;  // header length
    header[18] = 1;   // trace config format version
    header[19] = 1;   // trace message format version
    header.resize(20);
    for (uint16_t part : {3, 1, 0, 3426})  // firmware version
        doxi::putU16(header, part);
    header.resize(32, 0);
    return header;
}

Scenario loadScenario(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw ScenarioError("cannot read scenario " + path);
    std::ostringstream content;
    content << in.rdbuf();
    const size_t slash = path.rfind('/');
    try {
        return parseScenario(content.str(), slash == std::string::npos ? "." : path.substr(0, slash));
    } catch (const ScenarioError& e) {
        throw ScenarioError(path + ": " + e.what());
    }
}

}  // namespace hubsim
