#include "FwlogtapMain.h"

#include <strings.h>

#include <cstdio>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "Logger.h"
#include "StopSign.h"
#include "TraceCollector.h"
#include "device/DoxiTrace.h"
#include "device/Guid.h"
#include "trace/TraceErrors.h"
#include "version/Version.h"

namespace {

void usage() {
    std::printf("TSY Trace Collector Tool version %s\n\nUsage:\nfwlogtap DOXI [continuous] [flush] <catalogPath> "
                "<compPath> <logPath>\n\nExample:\nfwlogtap DOXI continuous TraceCatalog.xml TraceComponents.xml log\n",
                TESSARY_VERSION);
}

bool same(const std::string& a, const char* b) {
    return strcasecmp(a.c_str(), b) == 0;
}

struct CommandLine {
    std::string mode;
    bool continuous = false;
    bool flush = false;
    bool verbose = false;
    std::string catalogPath, componentPath, logPath;
};

// The words after the program name: mode, [continuous] [flush], catalogue,
// components, [log], ["/d"]. False for anything else.
bool parse(const std::vector<std::string>& words, CommandLine& line) {
    const size_t count = words.size() + 1;  // with the program name
    if (count < 3 || count > 9)
        return false;
    line.mode = words[0];
    static const char* const modes[] = {"DOXI", "I2C_COM", "I2C_TCP", "simulatedDOXI", "decodeRaw"};
    bool known = false;
    for (const char* mode : modes)
        known = known || same(line.mode, mode);
    if (!known)
        return false;
    for (size_t i = 0; i < words.size(); ++i)
        if (words[i] == "/d") {
            if (i + 1 != words.size())
                return false;
            line.verbose = true;
        }
    // The option words come right after the mode, in either order.
    size_t next = 1;
    for (; next < words.size() && next <= 2; ++next) {
        if (same(words[next], "continuous") && !line.continuous)
            line.continuous = true;
        else if (same(words[next], "flush") && !line.flush)
            line.flush = true;
        else
            break;
    }
    const size_t options = (line.continuous ? 1 : 0) + (line.flush ? 1 : 0) + (line.verbose ? 1 : 0);
    const bool hasLog = count != options + 4;
    if (count != options + 4 + (hasLog ? 1 : 0))
        return false;
    line.catalogPath = words[next];
    line.componentPath = words[next + 1];
    if (hasLog)
        line.logPath = words[next + 2];
    for (const std::string* path : {&line.catalogPath, &line.componentPath, &line.logPath})
        if (same(*path, "continuous") || same(*path, "flush") || *path == "/d")
            return false;
    return true;
}

// "log-<local time>.txt" in the current folder.
std::string timeStampedLogName() {
    const std::time_t now = std::time(nullptr);
    std::tm local {};
    localtime_r(&now, &local);
    char name[64];
    std::strftime(name, sizeof name, "log-%Y%m%d%H%M%S.txt", &local);
    return name;
}

}  // namespace

int fwlogtapMain(int argc, char** argv) {
    Logger::Inst().setDebug(0);
    CommandLine line;
    if (!parse(std::vector<std::string>(argv + 1, argv + argc), line)) {
        std::printf("%s\n", tracetools::getCollectErrorMessage(tracetools::kUnsupportedArguments));
        usage();
        return 1;
    }
    if (line.verbose)
        Logger::Inst().setDebug(1);
    StopSign::Inst().clear();
    installStopHandler();
    if (!same(line.mode, "DOXI")) {
        std::printf("%s\n", tracetools::getCollectErrorMessage(tracetools::kUnsupportedArguments));
        usage();
        return 0;
    }
    if (line.logPath.empty())
        line.logPath = timeStampedLogName();
    int status = 0;
    try {
        auto transport = std::make_shared<doxi::trace::DoxiAndroid>(doxi::TRACE_GUID, doxi::kTraceNode,
                                                                    StopSign::Inst().flag());
        TraceCollector collector(transport, line.catalogPath, line.componentPath, line.logPath);
        std::vector<char> buffer(TraceCollector::kReceiveSize);
        do {
            const int code = collector.handleTraceMessage(buffer, line.continuous, line.flush, false);
            if (code != tracetools::kSuccess) {
                // A failed pass is reported, and the run does not end as a success.
                std::printf("%s\n", tracetools::getCollectErrorMessage(code));
                status = 1;
            }
        } while (line.continuous && !StopSign::Inst().isSet());
    } catch (const tracetools::DoxiException& e) {
        std::printf("Doxi Exception: %s\n", e.what());
        status = 1;
    } catch (const tracetools::CollectorException& e) {
        std::printf("Trace Collector Exception: %s\n", e.what());
        status = 1;
    } catch (const tracetools::TraceException& e) {
        std::printf("Trace Exception: %s\n", e.what());
        status = 1;
    } catch (const std::exception& e) {
        std::printf("%s\n", e.what());
        status = 1;
    }
    Logger::Inst().close();
    std::fflush(stdout);
    return status;
}
