// Turns the firmware's compact trace messages into readable lines with the
// component file (names of the firmware's components) and the catalogue
// (printf-style format strings by identifier) shipped with the firmware.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "trace/TracePacket.h"

// One format string of the catalogue.
struct _catalogEntry {
    uint32_t id = 0;
    std::string format;
};

// A sub component's name, shown in every line it traces.
struct _subComponent {
    std::string name;
};

// A major component as read from the component file.
struct _component {
    std::string name;
    unsigned value = 0;
};

class CatalogDecoder {
public:
    // Loads the component file, then the catalogue. Throws CollectorException
    // 8198 ("Failed to read file") when either cannot be used.
    void Init(const std::string& catalogPath, const std::string& componentPath);

    // Renders one message into text; false (text then holding the reason)
    // when it cannot be decoded. Never reads outside the message's bytes.
    bool Decode(const tracepkt::TraceMessage& message, std::string& text) const;

    // The hex-dump form of a type 2 payload: 16 bytes a line, as hex and as
    // characters.
    static void BufToHexString(const uint8_t* data, size_t length, std::string& text);

    // The sub component's name, "UNKNOWN_COMPONENT" when the file gave none.
    const std::string& componentName(uint8_t component) const;
    const std::vector<_catalogEntry>& getCatalog() const { return catalog; }

    // Expands a format string over an argument block; false when an argument
    // was missing (the text then marks where).
    static bool expand(const char* format, size_t formatLength, const uint8_t* arguments, size_t argumentsLength,
                       std::string& out);

private:
    _subComponent components[16][16];
    std::vector<_component> majors;
    std::vector<_catalogEntry> catalog;
    // Index of the first entry of each id (the catalogue is searched from its start).
    std::unordered_map<uint32_t, size_t> firstEntry;

    void loadComponents(const std::string& path);
    void loadCatalog(const std::string& path);
};

// Names of the eight priorities, indexed by the message's 3-bit priority.
extern const char* const kPriorityNames[8];
