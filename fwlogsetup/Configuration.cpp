#include "Configuration.h"

#include <tinyxml.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "device/Bytes.h"
#include "trace/Numbers.h"
#include "trace/TraceErrors.h"
#include "xml/XmlFile.h"

namespace {

[[noreturn]] void invalidFile() {
    throw ConfigException(tracetools::kInvalidConfigFile);
}

// The whole text as a number of the base, at most max; the file is invalid otherwise.
unsigned long parseValue(const char* text, int base, unsigned long max) {
    unsigned long value = 0;
    if (!tracetools::parseUnsigned(text, base, max, value))
        invalidFile();
    return value;
}

const char* elementText(const TiXmlElement* root, const char* name) {
    const TiXmlElement* e = root->FirstChildElement(name);
    if (e == nullptr)
        invalidFile();
    const char* text = e->GetText();
    if (text == nullptr)
        invalidFile();
    return text;
}

}  // namespace

const char* getConfigErrorMessage(int code) {
    switch (code) {
    case 0: return "Success";
    case 1: return "Invalied Command";
    case 2: return "Illegal configuration request";
    case 3: return "Error during buffer mode configuration";
    case 4: return "Error when saving the configuration to flash";
    default: break;
    }
    // This tool's own codes; the transport's exceptions carry their own texts.
    if ((code >= 8192 && code <= 8202) || code == 8208)
        return tracetools::getSWErrorMessage(code);
    return "Unknown Error";
}

std::vector<uint8_t> trace_config_t::encode() const {
    std::vector<uint8_t> out = {traceInterfacesMask, i2cBus,        i2cAddress,     hostDebugEnabled,
                                traceModeMask,       bufferSize,    lowestPriority, reserved};
    for (uint16_t entry : compFilterMask)
        doxi::putU16(out, entry);
    return out;
}

bool trace_config_t::decode(const uint8_t* data, size_t size) {
    const doxi::ByteView view(data, size);
    if (!view.has(0, kSize))
        return false;
    uint8_t* fields[8] = {&traceInterfacesMask, &i2cBus,     &i2cAddress,     &hostDebugEnabled,
                          &traceModeMask,       &bufferSize, &lowestPriority, &reserved};
    for (size_t i = 0; i < 8; ++i)
        view.u8(i, *fields[i]);
    for (size_t i = 0; i < 16; ++i)
        view.u16(8 + 2 * i, compFilterMask[i]);
    return true;
}

bool trace_log_header_t::decode(const uint8_t* data, size_t size) {
    const doxi::ByteView view(data, size);
    if (!view.has(0, kSize))
        return false;
    std::memcpy(flag, data, sizeof flag);
    view.u8(16, headerVersion);
    view.u8(17, headerLength);
    view.u8(18, configFormatVersion);
    view.u8(19, messageFormatVersion);
    for (size_t i = 0; i < 4; ++i)
        view.u16(20 + 2 * i, firmwareVersion[i]);
    return true;
}

trace_config_t Configuration::parseConfiguration(const std::string& path) {
    TiXmlDocument doc;
    if (!xmlfile::load(path, doc).ok())
        invalidFile();
    const TiXmlElement* root = doc.RootElement();
    if (root == nullptr || std::strcmp(root->Value(), "myConfiguration") != 0)
        invalidFile();
    trace_config_t config;
    config.traceInterfacesMask = static_cast<uint8_t>(parseValue(elementText(root, "TraceInterfacesMask"), 10, 255));
    config.i2cBus = static_cast<uint8_t>(parseValue(elementText(root, "I2CBUS"), 16, 255));
    config.i2cAddress = static_cast<uint8_t>(parseValue(elementText(root, "I2CAddress"), 16, 255));
    config.hostDebugEnabled = static_cast<uint8_t>(parseValue(elementText(root, "HostDebugEnabled"), 10, 255));
    config.traceModeMask = static_cast<uint8_t>(parseValue(elementText(root, "TraceModeMask"), 10, 255));
    config.bufferSize = static_cast<uint8_t>(parseValue(elementText(root, "BufferSize"), 10, 255));
    config.lowestPriority = static_cast<uint8_t>(parseValue(elementText(root, "LowestPriority"), 10, 255));

    std::string mask = elementText(root, "CompFilterMask");
    // Sixteen groups of four hex digits; a shorter text is padded with zeros,
    // a longer one is no mask.
    if (mask.size() > 64)
        invalidFile();
    for (size_t i = 0; i < 16; ++i) {
        if (mask.size() < 4 * i + 3)
            mask += "0000";
        // The last group of a 63-character text has three digits.
        const std::string group = mask.substr(4 * i, 4);
        if (group.empty() || group.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
            invalidFile();
        config.compFilterMask[i] = static_cast<uint16_t>(std::strtoul(group.c_str(), nullptr, 16));
    }

    config.i2cBus &= 0x03;
    config.i2cAddress &= 0x7F;
    config.hostDebugEnabled &= 0x01;
    config.lowestPriority &= 0x07;
    config.reserved = 0;
    return config;
}

std::string PrintTraceConfig(const trace_config_t& c) {
    char line[128];
    std::string text = "\nTrace Configuration:\n====================\n";
    std::snprintf(line, sizeof line, "Trace Interfaces Mask: 0x%x\n", c.traceInterfacesMask);
    text += line;
    std::snprintf(line, sizeof line, "Trace Mode Mask: 0x%x\n", c.traceModeMask);
    text += line;
    std::snprintf(line, sizeof line, "Buffer Size: %d\n", c.bufferSize);
    text += line;
    std::snprintf(line, sizeof line, "I2C BUS: 0x%x, I2C Address: 0x%x\n", c.i2cBus & 0x03, c.i2cAddress & 0x7F);
    text += line;
    std::snprintf(line, sizeof line, "Host Debug: %s\n", (c.hostDebugEnabled & 1) ? "enabled" : "disabled");
    text += line;
    std::snprintf(line, sizeof line, "Lowest Priority: %d\n", c.lowestPriority & 0x07);
    text += line;
    text += "Comp Filter Mask:\n";
    for (uint16_t entry : c.compFilterMask) {
        std::snprintf(line, sizeof line, "\t\t0x%x\n", entry);
        text += line;
    }
    return text;
}

std::string PrintTraceHeader(const uint8_t* data, size_t size) {
    trace_log_header_t h;
    if (!h.decode(data, size) || data[0] == 0 || data[16] == 0)
        return "Invalid trace log header!";
    char flag[sizeof h.flag + 1] = {};
    std::memcpy(flag, h.flag, sizeof h.flag);  // a flag without its NUL stops at 16 characters
    char line[160];
    std::string text;
    std::snprintf(line, sizeof line, "Trace Log Header flag:        %s\n", flag);
    text += line;
    const struct {
        const char* label;
        int value;
        int supported;
    } versions[] = {
        {"Trace Log Header version:     ", h.headerVersion, 1},
        {"Trace Log Header length:      ", h.headerLength, 32},
        {"Trace Message Format version: ", h.messageFormatVersion, 1},
        {"Trace Config Format version:  ", h.configFormatVersion, 1},
    };
    for (const auto& v : versions) {
        std::snprintf(line, sizeof line, "%s%d\n", v.label, v.value);
        text += line;
        if (v.value != v.supported) {
            std::snprintf(line, sizeof line,
                          "       tools support version: %d, please align the version, otherwise parsing errors may "
                          "occur.\n",
                          v.supported);
            text += line;
        }
    }
    std::snprintf(line, sizeof line, "FW version                    %d.%d.%d.%d\n", h.firmwareVersion[0],
                  h.firmwareVersion[1], h.firmwareVersion[2], h.firmwareVersion[3]);
    text += line;
    return text;
}
