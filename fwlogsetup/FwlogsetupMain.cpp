#include "FwlogsetupMain.h"

#include <strings.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "ConfigClient.h"
#include "Configuration.h"
#include "device/DoxiTrace.h"
#include "device/Guid.h"
#include "trace/TraceErrors.h"
#include "version/Version.h"

namespace {

void usage() {
    std::printf(
        "TSY Trace Config Tool version %s\n\nUsage:\n------\nfwlogsetup -getconfig\nfwlogsetup -setconfig config_file "
        "[volatile]\n===========================\n\nOptions:\n--------\ngetconfig\t prints the current FW trace "
        "configuration\n   header\t prints the trace log header\nsetconfig\t sets the trace configuration according to "
        "an XML file\n   config_file\t path to XML configuration file\n   volatile\t if specified, the configuration "
        "won't be saved in the firmware after the Tessary is reset\nConnectionType\t Use DOXI to connect to genuine TSY "
        "firmware; use SimulatedDOXI to connect to a Marlin Firmware Only or Pellow execution environment\n\n"
        "config_file format:\n-------------------\n",
        TESSARY_VERSION);
    std::printf(
        "<myConfiguration>\n"
        "    <TraceInterfacesMask>...</TraceInterfacesMask>\n"
        "    <I2CBUS>...</I2CBUS>\n"
        "    <I2CAddress>...</I2CAddress>\n"
        "    <HostDebugEnabled>...</HostDebugEnabled>\n"
        "    <TraceModeMask>...</TraceModeMask>\n"
        "    <BufferSize>...</BufferSize>\n"
        "    <LowestPriority>...</LowestPriority>\n"
        "    <CompFilterMask>...</CompFilterMask>\n"
        "</myConfiguration>\n\n"
        "TraceInterfacesMask\t (decimal) where traces go: bit 0 DOXI, bit 1 I2C, bit 2 LPK\n"
        "I2CBUS\t\t\t (hexadecimal) I2C bus for trace output, bits 0-1\n"
        "I2CAddress\t\t (hexadecimal) I2C address for trace output, bits 0-6\n"
        "HostDebugEnabled\t (decimal) 1 enables host debug\n"
        "TraceModeMask\t\t (decimal) bit 0 buffer enabled, bit 1 cyclic buffer (the oldest messages are overwritten; "
        "else new messages are dropped), bit 3 block the logging thread while the queue is full\n"
        "BufferSize\t\t (decimal) trace buffer size in KB\n"
        "LowestPriority\t\t (decimal) lowest priority traced, 0 emergency .. 7 debug\n"
        "CompFilterMask\t\t 16 groups of 4 hexadecimal digits, one per major component; bit s of group m lets sub "
        "component s of major component m trace. TraceComponents.xml lists up to 16 major components, each with up to "
        "16 sub components. Example: 0000000400000000000000000000000000000000000000000000000000000000 enables only "
        "sub component 0x2 of major component 0x1\n");
}

bool same(const std::string& a, const char* b) {
    return strcasecmp(a.c_str(), b) == 0;
}

// The index of the word, matched without regard to case; -1 when absent.
int find(const std::vector<std::string>& words, const char* word) {
    for (size_t i = 0; i < words.size(); ++i)
        if (same(words[i], word))
            return static_cast<int>(i);
    return -1;
}

bool hasXmlExtension(const std::string& path) {
    const size_t dot = path.rfind('.');
    return dot != std::string::npos && same(path.substr(dot + 1), "xml");
}

void run(const std::vector<std::string>& words) {
    using tracetools::TraceException;
    const int connection = find(words, "-connectionType");
    if (connection >= 0) {
        const size_t value = static_cast<size_t>(connection) + 1;
        if (value >= words.size() || (!same(words[value], "DOXI") && !same(words[value], "SimulatedDOXI")))
            throw TraceException(tracetools::kUnsupportedCommandLine);
    }
    ConfigClient client(std::make_shared<doxi::trace::DoxiAndroid>(doxi::TRACE_CONFIG_GUID, doxi::kTraceConfigNode));
    const int set = find(words, "-setConfig");
    if (set >= 0) {
        const size_t file = static_cast<size_t>(set) + 1;
        if (file >= words.size())
            throw TraceException(tracetools::kUnsupportedCommandLine);
        if (!hasXmlExtension(words[file]))
            throw TraceException(tracetools::kInvalidConfigFile);
        // A bad file is refused before anything is sent.
        const trace_config_t config = Configuration::parseConfiguration(words[file]);
        client.setConfig(config, find(words, "volatile") >= 0);
        std::printf("Configuration set successfully");
        return;
    }
    if (find(words, "-getConfig") >= 0) {
        if (find(words, "header") >= 0) {
            const std::vector<uint8_t> header = client.getLogHeader();
            std::printf("%s", PrintTraceHeader(header.data(), header.size()).c_str());
        } else {
            std::printf("%s", PrintTraceConfig(client.getConfig()).c_str());
        }
        return;
    }
    throw TraceException(tracetools::kUnsupportedCommandLine);
}

}  // namespace

int fwlogsetupMain(int argc, char** argv) {
    const std::vector<std::string> words(argv + 1, argv + argc);
    if (words.empty()) {
        usage();
        return 0;
    }
    int status = 1;
    try {
        run(words);
        status = 0;
    } catch (const ConfigException& e) {
        std::printf("Config Client Exception: %s\n", e.what());
    } catch (const tracetools::DoxiException& e) {
        std::printf("Doxi Exception: %s\n", e.what());
    } catch (const tracetools::TraceException& e) {
        std::printf("Trace Exception: %s\n", e.what());
        if (e.getCode() == tracetools::kUnsupportedCommandLine)
            usage();
    } catch (const std::exception& e) {
        std::printf("%s\n", e.what());
    }
    std::fflush(stdout);
    return status;
}
