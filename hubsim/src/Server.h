// hubsim's event loop: a SOCK_SEQPACKET listener, one connection per opened
// device node, control messages from the device shim, and the firmware's
// answers (possibly delayed) in request order.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdio>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "Hostile.h"
#include "Scenario.h"
#include "SmhiFirmware.h"
#include "Streaming.h"

namespace hubsim {

class Server {
public:
    Server(Scenario scenario, std::string socketPath, std::string journalPath);
    ~Server();

    // Binds and listens; throws std::runtime_error on failure.
    void listen();
    // Serves until stop becomes true.
    void run(const std::atomic<bool>& stop);
    // From now on every answer of the firmware may misbehave (see Hostile);
    // reportsOnly: the answers to commands are left alone, and about one
    // sensor report in kHostileReportOdds misbehaves.
    void beHostile(uint64_t seed, bool reportsOnly = false) {
        hostile = std::make_unique<Hostile>(seed);
        hostileReportsOnly = reportsOnly;
    }
    static constexpr size_t kHostileReportOdds = 40;

private:
    using Clock = std::chrono::steady_clock;

    struct Pending {
        Clock::time_point due;
        std::vector<uint8_t> bytes;
        bool close = false;
    };
    struct Client {
        int id = 0;
        std::string node;
        std::string kind;  // "", "smhi", "trace", "tracec"
        std::deque<Pending> queue;
        long traceRoundsLeft = 0;  // rounds of the scenario's trace packets still to send
        bool recording = false;    // sensor reports flow on this connection
        double reportedUntil = 0;  // simulated ms of the next report
        double recordingSince = 0;  // simulated ms the recording started
    };

    Scenario scenario;
    SmhiFirmware firmware;
    Streaming streaming;
    std::string socketPath;
    FILE* journal = nullptr;
    int listenFd = -1;
    int nextId = 1;
    std::map<int, Client> clients;
    // The trace configuration in use, and the one kept in flash (what a hub
    // reset brings back).
    std::vector<uint8_t> traceConfig;
    std::vector<uint8_t> traceConfigFlash;
    std::unique_ptr<Hostile> hostile;
    bool hostileReportsOnly = false;

    void accept();
    void receive(int fd);
    void control(int fd, Client& client, const std::vector<uint8_t>& msg);
    void sendDue();
    // Sampling properties and record control on the SMHI client.
    void sampling(const std::vector<uint8_t>& msg);
    // Answers a request on the trace client.
    void traceRequest(Client& client, const std::vector<uint8_t>& msg);
    // Answers a request on the trace-configuration client.
    void traceConfigRequest(Client& client, const std::vector<uint8_t>& msg);
    // Queues the scenario's trace packets for the client.
    void startTrace(Client& client);
    // report: a sensor report of a recording, not an answer to a command.
    void enqueue(Client& client, std::vector<uint8_t> bytes, int delayMs = 0, bool close = false,
                 bool report = false);
    void drop(int fd);
    void log(const Client& client, const std::string& what);
};

}  // namespace hubsim
