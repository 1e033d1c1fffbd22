// The trace collector as engineers run it, against the emulated hub's trace client.
#include <gtest/gtest.h>

#include <csignal>

#include <dirent.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "HubSim.h"
#include "trace/TracePacket.h"

namespace {

const std::string kBin = FWLOGTAP_BIN;
const std::string kCatalog = EXAMPLES_DIR "/trace/TraceCatalog.xml";
const std::string kComponents = EXAMPLES_DIR "/trace/TraceComponents.xml";
const std::string kUsage =
    "TSY Trace Collector Tool version 3.1.0.3426\n\nUsage:\nfwlogtap DOXI [continuous] [flush] <catalogPath> "
    "<compPath> <logPath>\n\nExample:\nfwlogtap DOXI continuous TraceCatalog.xml TraceComponents.xml log\n";
const std::string kUnsupported = "Unsupported Command line Argument(s)\n" + kUsage;

using Bytes = std::vector<uint8_t>;

Bytes u32(std::initializer_list<uint32_t> values) {
    Bytes out;
    for (uint32_t v : values)
        for (int i = 0; i < 4; ++i)
            out.push_back(static_cast<uint8_t>(v >> (8 * i)));
    return out;
}

Bytes join(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

// A catalogued message of the example catalogue.
Bytes catalogued(uint64_t time, uint8_t priority, uint8_t component, Bytes idAndArguments) {
    return tracepkt::encodeMessage(time, 1, priority, component, idAndArguments);
}

Bytes bulkHeader(size_t length) {
    tracepkt::trace_doxi_header_t h;
    h.command = tracepkt::TRACE_CMD_BULK;
    h.length = static_cast<uint16_t>(length);
    return tracepkt::encodeHeader(h);
}

Bytes bulk(const Bytes& messages) {
    return join({bulkHeader(messages.size()), messages});
}

std::string hex(const Bytes& bytes) {
    std::string out;
    char two[3];
    for (uint8_t b : bytes) {
        std::snprintf(two, sizeof two, "%02x", b);
        out += two;
    }
    return out;
}

std::string traceScenario(const std::vector<Bytes>& packets, const std::string& attributes = "") {
    std::string xml = "<Trace" + attributes + ">";
    for (const Bytes& p : packets)
        xml += "<Packet hex=\"" + hex(p) + "\"/>";
    return scenarioWith(xml + "</Trace>");
}

const Bytes kStarted = catalogued(1000, 6, 0x00, u32({1, 3, 1, 0, 3426}));
const std::string kStartedLine = "[INFO:1000:SCHEDULER] firmware started, version 3.1.0.3426\n";
const Bytes kI2c = catalogued(2000, 3, 0x10, u32({3, 1, 0x1e}));
const std::string kI2cLine = "[ERROR:2000:SENSOR_CORE] i2c bus 1: no answer from address 0x1e\n";

ProcessResult fwlogtap(const HubSim& hub, std::vector<std::string> args, ProcessOptions options = {}) {
    args.insert(args.begin(), kBin);
    options.workDir = hub.dir();
    if (options.timeoutSeconds == 120)
        options.timeoutSeconds = 30;
    return hub.run(args, options);
}

TEST(Fwlogtap, OneBulkToConsoleAndATimeStampedLog) {
    HubSim hub(traceScenario({bulk(join({kStarted, kI2c}))}));
    const ProcessResult r = fwlogtap(hub, {"DOXI", kCatalog, kComponents});
    EXPECT_EQ(r.exitStatus, 0) << r.out;
    EXPECT_EQ(r.out, kStartedLine + kI2cLine);
    // The log is named from the local time, in the working folder.
    std::string log;
    DIR* d = opendir(hub.dir().c_str());
    ASSERT_NE(d, nullptr);
    while (dirent* e = readdir(d)) {
        const std::string name = e->d_name;
        if (name.size() == 22 && name.compare(0, 4, "log-") == 0 && name.compare(18, 4, ".txt") == 0 &&
            name.find_first_not_of("0123456789", 4) == 18)
            log = name;
    }
    closedir(d);
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(readFile(hub.dir() + "/" + log), kStartedLine + kI2cLine);
}

TEST(Fwlogtap, ContinuousUntilCtrlC) {
    // Ctrl-C, a sequencer's SIGTERM and a closed terminal's SIGHUP stop it
    // alike, the log closed whole under its name.
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        HubSim hub(traceScenario({bulk(kStarted), bulk(kI2c)}));
        ProcessOptions options;
        options.interruptWhenPrinted = kI2cLine;
        options.interruptSignal = signal;
        const ProcessResult r = fwlogtap(hub, {"DOXI", "continuous", kCatalog, kComponents, "run.log", "/d"}, options);
        EXPECT_EQ(r.signal, 0) << signal;
        EXPECT_EQ(r.exitStatus, 0) << signal;
        // Verbose trace lines go to the console, not to the log.
        EXPECT_NE(r.out.find("handleTraceMessage line "), std::string::npos) << r.out;
        EXPECT_NE(r.out.find(kStartedLine), std::string::npos);
        EXPECT_NE(r.out.find("Stopping, disconnect may take some time, please wait...\n"), std::string::npos) << r.out;
        EXPECT_EQ(readFile(hub.dir() + "/run.log"), kStartedLine + kI2cLine) << signal;
        EXPECT_EQ(readFile(hub.dir() + "/.run.log.part"), "") << signal;
    }
}

TEST(Fwlogtap, FlushBeforeReading) {
    HubSim hub(traceScenario({bulk(kStarted)}, " afterFlush=\"true\""));
    const ProcessResult r = fwlogtap(hub, {"DOXI", "FLUSH", kCatalog, kComponents, "f.log"});
    EXPECT_EQ(r.exitStatus, 0) << r.out;
    EXPECT_EQ(r.out, kStartedLine);
    EXPECT_EQ(hub.sentMessages(), std::vector<std::string>{"00000000"});

    HubSim abnormal(traceScenario({bulk(kStarted)}, " afterFlush=\"true\" flushResponse=\"abnormal\""));
    const ProcessResult a = fwlogtap(abnormal, {"DOXI", "flush", kCatalog, kComponents, "f.log"});
    EXPECT_EQ(a.exitStatus, 1);
    EXPECT_EQ(a.out, "\n!!!!! flush response abnormal, bytesRead 8\n\n"
                     "Trace Collector Exception: Failed to handle trace message\n");
}

TEST(Fwlogtap, BulkHeaderArrivingAlone) {
    const Bytes messages = join({kStarted, kI2c});
    HubSim hub(traceScenario({bulkHeader(messages.size()), messages}));
    const ProcessResult r = fwlogtap(hub, {"DOXI", kCatalog, kComponents, "s.log"});
    EXPECT_EQ(r.exitStatus, 0) << r.out;
    EXPECT_EQ(r.out, kStartedLine + kI2cLine);
}

TEST(Fwlogtap, PacketsShorterThanTheHeaderWaitForTheRest) {
    // The bulk header split over two or three reads, the messages after it.
    const Bytes messages = join({kStarted, kI2c});
    const Bytes header = bulkHeader(messages.size());
    auto part = [&header](size_t from, size_t to) { return Bytes(header.begin() + from, header.begin() + to); };
    const std::vector<std::vector<Bytes>> splits = {
        {part(0, 1), join({part(1, 4), messages})},
        {part(0, 2), join({part(2, 4), messages})},
        {part(0, 3), join({part(3, 4), messages})},
        {part(0, 2), part(2, 3), part(3, 4), messages},
    };
    for (const std::vector<Bytes>& packets : splits) {
        HubSim hub(traceScenario(packets));
        const ProcessResult r = fwlogtap(hub, {"DOXI", kCatalog, kComponents, "s.log"});
        EXPECT_EQ(r.exitStatus, 0) << packets.size() << " " << hex(packets[0]) << "\n" << r.out;
        EXPECT_EQ(r.out, kStartedLine + kI2cLine) << hex(packets[0]);
        EXPECT_EQ(readFile(hub.dir() + "/s.log"), kStartedLine + kI2cLine) << hex(packets[0]);
    }
}

TEST(Fwlogtap, TheLogGoesOnWhenTheConsoleGoesAway) {
    // fwlogtap ... | head -1: the reader of the console leaves after a line;
    // the collector keeps every message in its log until Ctrl-C.
    const int repeats = 2000;
    HubSim hub(traceScenario({bulk(join({kStarted, kI2c}))}, " repeat=\"" + std::to_string(repeats) + "\""));
    int console[2];
    ASSERT_EQ(pipe(console), 0);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        setenv("HUBSIM_SOCKET", hub.socket().c_str(), 1);
        setenv("LD_PRELOAD", SHIM_LIB, 1);
        setenv("ASAN_OPTIONS", "verify_asan_link_order=0", 1);
        if (chdir(hub.dir().c_str()) != 0)
            _exit(127);
        dup2(console[1], 1);
        close(console[0]);
        close(console[1]);
        execl(kBin.c_str(), kBin.c_str(), "DOXI", "continuous", kCatalog.c_str(), kComponents.c_str(), "p.log",
              static_cast<char*>(nullptr));
        _exit(127);
    }
    close(console[1]);
    std::string first;
    char c = 0;
    while (first.find('\n') == std::string::npos && read(console[0], &c, 1) == 1)
        first += c;
    close(console[0]);
    EXPECT_EQ(first, kStartedLine);
    // The log grows to every message the firmware sent.
    const std::string log = hub.dir() + "/p.log";
    const std::string expected = kStartedLine + kI2cLine;
    for (int waited = 0; waited < 30000 && readFile(log).size() < expected.size() * repeats; waited += 50)
        usleep(50 * 1000);
    kill(pid, SIGINT);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status)) << "ended by signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
    EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 0);
    std::string all;
    for (int i = 0; i < repeats; ++i)
        all += expected;
    EXPECT_TRUE(readFile(log) == all) << readFile(log).size() << " of " << all.size() << " bytes";
}

TEST(Fwlogtap, CorruptMessagesAreLoggedAndTheCollectorGoesOn) {
    const Bytes unknownId = catalogued(3000, 6, 0x11, u32({0x99}));
    const Bytes badType = tracepkt::encodeMessage(3100, 5, 6, 0x11, {});
    const Bytes noEnd = tracepkt::encodeMessage(3200, 0, 6, 0x11, {'a', 'b', 'c'});
    const Bytes fewArguments = catalogued(3300, 6, 0x11, u32({3, 1}));
    Bytes cut = kI2c;
    cut.resize(cut.size() - 2);  // its payload runs past the end of the bulk
    HubSim hub(traceScenario({bulk(join({unknownId, badType, noEnd, fewArguments, kStarted, cut})),
                              bulk(join({kStarted, Bytes{1, 2, 3, 4, 5}}))},
                             ""));
    ProcessOptions options;
    options.interruptWhenPrinted = "header bytes were read\n";
    const ProcessResult r = fwlogtap(hub, {"DOXI", "continuous", kCatalog, kComponents, "c.log"}, options);
    EXPECT_EQ(r.exitStatus, 0);
    const std::string expected =
        "<Decoder error> Invalid catalog ID: 0x99\n"
        "<Decoder error> Unsupported trace message type: 5\n"
        "<Decoder error> Inline format string without its terminating NUL\n"
        "<Decoder error> [INFO:3300:ACCEL_DRIVER] i2c bus 1: no answer from address 0x<missing argument>\n" +
        kStartedLine + "<Decoder error> Message truncated: 10 of 12 payload bytes were read\n" + kStartedLine +
        "<Decoder error> Message header truncated: 5 of 12 header bytes were read\n";
    EXPECT_EQ(readFile(hub.dir() + "/c.log"), expected);
}

TEST(Fwlogtap, FailuresEndTheRunWithTheirText) {
    struct Case {
        std::string scenario;
        std::vector<std::string> args;
        std::string out;
    };
    const Case cases[] = {
        {traceScenario({Bytes{0x05, 0, 0, 0, 1, 2}}), {"DOXI", kCatalog, kComponents, "x.log"},
         " address == 0, no message header found\nTrace Collector Exception: Failed to handle trace message\n"},
        {defaultScenario(), {"DOXI", "missing.xml", kComponents, "x.log"},
         "Trace Collector Exception: Failed to read file\n"},
        {defaultScenario(), {"DOXI", kComponents, kCatalog, "x.log"}, "Trace Collector Exception: Failed to read file\n"},
        {scenarioWith("<Nodes>/dev/keb-smhi</Nodes>"), {"DOXI", kCatalog, kComponents, "x.log"},
         "Doxi Exception: Cannot establish a handle to the DOXI driver\n"},
        {scenarioWith("<Faults><Fault connect=\"refuse\"/></Faults>"), {"DOXI", kCatalog, kComponents, "x.log"},
         "Doxi Exception: error in IOCTL_DOXI_CONNECT_CLIENT\n"},
        {defaultScenario(), {"DOXI", kCatalog, kComponents, "nodir/x.log"}, "Cannot open log file nodir/x.log\n"},
    };
    for (const Case& c : cases) {
        HubSim hub(c.scenario);
        const ProcessResult r = fwlogtap(hub, c.args);
        EXPECT_EQ(r.exitStatus, 1) << c.out;
        EXPECT_EQ(r.out, c.out);
    }
}

TEST(Fwlogtap, CommandLines) {
    HubSim hub(defaultScenario());
    struct Case {
        std::vector<std::string> args;
        int status;
    };
    const Case cases[] = {
        {{}, 1},
        {{"DOXI"}, 1},
        {{"DOXI", "a.xml"}, 1},
        {{"USB", "a.xml", "b.xml"}, 1},
        {{"DOXI", "/d", "a.xml", "b.xml"}, 1},
        {{"DOXI", "a.xml", "b.xml", "log", "extra"}, 1},
        {{"DOXI", "continuous", "a.xml"}, 1},
        {{"DOXI", "a.xml", "b.xml", "c", "d", "e", "f", "g", "h"}, 1},
        // Recognised modes that this tool does not collect from.
        {{"decodeRaw", "a.xml", "b.xml"}, 0},
        {{"i2c_com", "a.xml", "b.xml", "log"}, 0},
        {{"simulatedDOXI", "continuous", "flush", "a.xml", "b.xml", "log", "/d"}, 0},
    };
    for (const Case& c : cases) {
        const ProcessResult r = fwlogtap(hub, c.args);
        EXPECT_EQ(r.exitStatus, c.status) << (c.args.empty() ? "" : c.args[0]);
        EXPECT_EQ(r.out, kUnsupported);
    }
    EXPECT_TRUE(hub.sentMessages().empty());
}

}  // namespace
