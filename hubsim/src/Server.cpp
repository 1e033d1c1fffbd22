#include "Server.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "device/Bytes.h"
#include "device/Guid.h"
#include "device/Smhi.h"
#include "trace/TracePacket.h"
#include "hubsim/ShimProtocol.h"

namespace hubsim {

namespace {

std::vector<uint8_t> controlReply(uint8_t type, int32_t result, const std::vector<uint8_t>& payload) {
    const char* magic = HUBSIM_MAGIC;
    std::vector<uint8_t> reply(magic, magic + HUBSIM_MAGIC_SIZE);
    reply.push_back(type);
    for (int i = 0; i < 4; ++i)
        reply.push_back(static_cast<uint8_t>(static_cast<uint32_t>(result) >> (8 * i)));
    reply.insert(reply.end(), payload.begin(), payload.end());
    return reply;
}

}  // namespace

Server::Server(Scenario sc, std::string path, std::string journalPath)
    : scenario(std::move(sc)),
      firmware(scenario),
      streaming(scenario),
      socketPath(std::move(path)),
      traceConfig(scenario.traceConfig),
      traceConfigFlash(scenario.traceConfig) {
    if (!journalPath.empty()) {
        journal = std::fopen(journalPath.c_str(), "a");
        if (!journal)
            throw std::runtime_error("cannot open journal " + journalPath);
    }
}

Server::~Server() {
    for (auto& kv : clients)
        ::close(kv.first);
    if (listenFd >= 0) {
        ::close(listenFd);
        ::unlink(socketPath.c_str());
    }
    if (journal)
        std::fclose(journal);
}

void Server::listen() {
    struct sockaddr_un address;
    if (socketPath.size() >= sizeof address.sun_path)
        throw std::runtime_error("socket path too long: " + socketPath);
    listenFd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (listenFd < 0)
        throw std::runtime_error(std::string("socket: ") + std::strerror(errno));
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, socketPath.c_str());
    ::unlink(socketPath.c_str());
    if (::bind(listenFd, reinterpret_cast<struct sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listenFd, 16) != 0)
        throw std::runtime_error("cannot listen on " + socketPath + ": " + std::strerror(errno));
}

void Server::log(const Client& client, const std::string& what) {
    if (!journal)
        return;
    std::fprintf(journal, "%d %s %s\n", client.id, client.kind.empty() ? "-" : client.kind.c_str(), what.c_str());
    std::fflush(journal);
}

void Server::run(const std::atomic<bool>& stop) {
    while (!stop.load()) {
        std::vector<struct pollfd> fds;
        fds.push_back({listenFd, POLLIN, 0});
        const auto before = Clock::now();
        for (auto& kv : clients) {
            // A client whose next message is due but did not fit its socket
            // waits for room.
            const bool due = !kv.second.queue.empty() && kv.second.queue.front().due <= before;
            fds.push_back({kv.first, static_cast<short>(POLLIN | (due ? POLLOUT : 0)), 0});
        }

        int timeout = 200;
        for (auto& kv : clients)
            if (kv.second.recording)
                timeout = 5;  // reports are due every few milliseconds
        const auto now = Clock::now();
        for (auto& kv : clients)
            if (!kv.second.queue.empty() && kv.second.queue.front().due > now) {
                const auto wait =
                    std::chrono::duration_cast<std::chrono::milliseconds>(kv.second.queue.front().due - now).count();
                timeout = std::max(0, std::min<int>(timeout, static_cast<int>(wait)));
            }
        const int ready = ::poll(fds.data(), fds.size(), timeout);
        if (ready < 0 && errno != EINTR)
            throw std::runtime_error(std::string("poll: ") + std::strerror(errno));
        if (ready > 0) {
            if (fds[0].revents & POLLIN)
                accept();
            for (size_t i = 1; i < fds.size(); ++i)
                if (fds[i].revents & (POLLIN | POLLHUP | POLLERR))
                    receive(fds[i].fd);
        }
        sendDue();
    }
}

void Server::accept() {
    const int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0)
        return;
    Client client;
    client.id = nextId++;
    clients[fd] = client;
}

void Server::drop(int fd) {
    auto it = clients.find(fd);
    if (it == clients.end())
        return;
    log(it->second, "closed");
    ::close(fd);
    clients.erase(it);
}

void Server::receive(int fd) {
    auto it = clients.find(fd);
    if (it == clients.end())
        return;
    std::vector<uint8_t> msg(65536);
    const ssize_t n = ::recv(fd, msg.data(), msg.size(), 0);
    if (n <= 0) {
        drop(fd);
        return;
    }
    msg.resize(static_cast<size_t>(n));
    Client& client = it->second;
    if (msg.size() > HUBSIM_MAGIC_SIZE && std::memcmp(msg.data(), HUBSIM_MAGIC, HUBSIM_MAGIC_SIZE) == 0) {
        control(fd, client, msg);
        return;
    }
    log(client, doxi::toHex(msg));
    if (client.kind == "trace") {
        traceRequest(client, msg);
        sendDue();
        return;
    }
    if (client.kind == "tracec") {
        traceConfigRequest(client, msg);
        sendDue();
        return;
    }
    if (client.kind != "smhi")
        return;
    // A reset of the hub drops a configuration that was not saved to flash.
    if (!msg.empty() && msg[0] == SMHI_CMD_RESET)
        traceConfig = traceConfigFlash;
    const bool recordControl = msg.size() >= 6 && (msg[0] & 0x7F) == SMHI_CMD_RECORD;
    // A firmware that goes on reporting and never answers the stop.
    if (recordControl && msg[5] == 1 && client.recording && scenario.streamFaults.ignoreStop) {
        log(client, "the stop of the recording is ignored");
        sendDue();
        return;
    }
    if (recordControl && msg[5] == 1 && client.recording) {
        // Reports already taken keep coming until the stop is answered.
        for (std::vector<uint8_t>& report : streaming.reports(client.reportedUntil, client.recordingSince))
            enqueue(client, std::move(report), 0, false, true);
        client.recording = false;
    }
    const Reply reply = firmware.handle(msg);
    sampling(msg);
    if (!reply.send && !reply.closeConnection)
        return;
    enqueue(client, reply.bytes, reply.delayMs, reply.closeConnection);
    const bool accepted = reply.send && !reply.closeConnection && reply.bytes.size() > 3 && reply.bytes[3] == 0;
    if (recordControl && msg[5] == 0 && accepted) {
        client.recording = true;
        client.reportedUntil = client.recordingSince = streaming.now();
    }
    sendDue();
}

void Server::sampling(const std::vector<uint8_t>& msg) {
    // Set sensor property: header, luid, u16 property, u16 length, data.
    const doxi::ByteView b(msg);
    uint16_t property = 0, length = 0;
    if ((msg[0] & 0x7F) != SMHI_CMD_SET_SENSOR_PROPERTY || !b.u16(12, property) || !b.u16(14, length) ||
        !b.has(16, length))
        return;
    streaming.setSamplingProperty(smhi::decodeLuid(&msg[4]),
                                  property, std::vector<uint8_t>(msg.begin() + 16, msg.begin() + 16 + length));
}

void Server::enqueue(Client& client, std::vector<uint8_t> bytes, int delayMs, bool close, bool report) {
    if (hostile && !close && (!hostileReportsOnly || (report && hostile->oneIn(kHostileReportOdds)))) {
        const Hostile::Action action = hostile->mangle(bytes, delayMs);
        log(client, "hostile: " + hostile->lastChange());
        if (action == Hostile::Action::Swallow)
            return;
        close = action == Hostile::Action::Close;
    }
    Pending pending;
    pending.due = Clock::now() + std::chrono::milliseconds(delayMs);
    if (!client.queue.empty() && client.queue.back().due > pending.due)
        pending.due = client.queue.back().due;
    pending.bytes = std::move(bytes);
    pending.close = close;
    client.queue.push_back(std::move(pending));
}

void Server::startTrace(Client& client) {
    client.traceRoundsLeft = scenario.tracePackets.empty() ? 0 : scenario.traceRepeat;
}

void Server::traceConfigRequest(Client& client, const std::vector<uint8_t>& msg) {
    tracepkt::trace_doxi_header_t request;
    const uint8_t command = tracepkt::decodeHeader(msg.data(), msg.size(), request) ? request.command : 0x7F;
    std::vector<uint8_t> body;
    uint8_t status = 0;
    if (command == tracepkt::TRACE_CONFIG_GET) {
        body = traceConfig;
    } else if (command == tracepkt::TRACE_CONFIG_SET) {
        if (msg.size() != 45) {
            status = 2;  // illegal configuration request
        } else {
            traceConfig.assign(msg.begin() + 4, msg.begin() + 44);
            if (msg[44] == 0)
                traceConfigFlash = traceConfig;
        }
    } else if (command == tracepkt::TRACE_CONFIG_GET_HEADER) {
        body = scenario.traceLogHeader;
    } else {
        status = 1;  // invalid command
    }
    int length = -1;
    bool swallow = false;
    for (const Scenario::TraceConfigAnswer& a : scenario.traceConfigAnswers) {
        if (a.command != -1 && a.command != command)
            continue;
        if (a.status >= 0)
            status = static_cast<uint8_t>(a.status);
        length = a.length;
        swallow = swallow || a.swallow;
    }
    if (swallow) {
        log(client, "answer swallowed");
        return;
    }
    if (status != 0)
        body.clear();
    tracepkt::trace_doxi_header_t header;
    header.command = command;
    header.is_response = true;
    header.length = static_cast<uint16_t>(body.size());
    header.status = status;
    std::vector<uint8_t> answer = tracepkt::encodeHeader(header);
    answer.insert(answer.end(), body.begin(), body.end());
    if (length >= 0)
        answer.resize(static_cast<size_t>(length), 0);
    enqueue(client, answer);
}

void Server::traceRequest(Client& client, const std::vector<uint8_t>& msg) {
    tracepkt::trace_doxi_header_t request;
    if (!tracepkt::decodeHeader(msg.data(), msg.size(), request) || request.command != tracepkt::TRACE_CMD_FLUSH)
        return;
    tracepkt::trace_doxi_header_t header;
    header.command = tracepkt::TRACE_CMD_FLUSH;
    header.is_response = true;
    std::vector<uint8_t> answer = tracepkt::encodeHeader(header);
    if (scenario.traceFlushAbnormal)
        answer.resize(8, 0);
    enqueue(client, answer);
    if (scenario.traceAfterFlush && client.traceRoundsLeft == 0)
        startTrace(client);
}

void Server::control(int fd, Client& client, const std::vector<uint8_t>& msg) {
    const uint8_t type = msg[HUBSIM_MAGIC_SIZE];
    const std::vector<uint8_t> payload(msg.begin() + HUBSIM_MAGIC_SIZE + 1, msg.end());
    std::vector<uint8_t> reply;
    if (type == HUBSIM_CTRL_OPEN) {
        client.node.assign(payload.begin(), payload.end());
        const bool present = scenario.nodes.count(client.node) > 0;
        log(client, "open " + client.node + (present ? "" : " absent"));
        reply = controlReply(type, present ? 0 : ENOENT, {});
    } else if (type == HUBSIM_CTRL_CONNECT && payload.size() >= 16) {
        doxi::Guid guid;
        std::copy(payload.begin(), payload.begin() + 16, guid.bytes.begin());
        std::string kind;
        if (guid == doxi::SMHI_GUID)
            kind = "smhi";
        else if (guid == doxi::TRACE_GUID)
            kind = "trace";
        else if (guid == doxi::TRACE_CONFIG_GUID)
            kind = "tracec";
        const bool accepted = !kind.empty() && !scenario.refuseConnect;
        if (accepted)
            client.kind = kind;
        if (accepted && kind == "trace" && !scenario.traceAfterFlush)
            startTrace(client);
        log(client, "connect " + guid.toString() + (accepted ? "" : " refused"));
        std::vector<uint8_t> out(16, 0);
        for (int i = 0; i < 4; ++i)
            out[static_cast<size_t>(i)] = static_cast<uint8_t>(scenario.maxMessageLength >> (8 * i));
        reply = controlReply(type, accepted ? 0 : -1, out);
    } else if (type == HUBSIM_CTRL_OPERATOR) {
        const std::string command(payload.begin(), payload.end());
        std::string error;
        const long wallMs = streaming.operate(command, error);
        log(client, "operator " + command + (wallMs < 0 ? " refused: " + error : ""));
        const std::string text = wallMs < 0 ? error : std::to_string(wallMs);
        reply = controlReply(type, wallMs < 0 ? -1 : 0, std::vector<uint8_t>(text.begin(), text.end()));
    } else if (type == HUBSIM_CTRL_STATUS_REGISTER) {
        log(client, "status-register");
        char text[16];
        std::snprintf(text, sizeof text, "%x", scenario.statusRegister);
        reply = scenario.statusRegisterReadable
                    ? controlReply(type, 1, std::vector<uint8_t>(text, text + std::strlen(text)))
                    : controlReply(type, 0, {});
    } else {
        log(client, "control " + doxi::toHex(msg) + " rejected");
        reply = controlReply(type, EINVAL, {});
    }
    ::send(fd, reply.data(), reply.size(), MSG_NOSIGNAL);
}

void Server::sendDue() {
    const auto now = Clock::now();
    std::vector<int> toDrop;
    for (auto& kv : clients) {
        Client& client = kv.second;
        auto& queue = client.queue;
        if (client.recording) {
            const double drop = scenario.streamFaults.dropAfterMs;
            if (drop >= 0 && streaming.now() - client.recordingSince >= drop) {
                toDrop.push_back(kv.first);
                continue;
            }
            for (std::vector<uint8_t>& report : streaming.reports(client.reportedUntil, client.recordingSince))
                enqueue(client, std::move(report), 0, false, true);
        }
        while (true) {
            // The trace packets are queued a round at a time, as the reader takes them.
            if (queue.empty() && client.traceRoundsLeft > 0) {
                --client.traceRoundsLeft;
                for (const std::vector<uint8_t>& packet : scenario.tracePackets)
                    enqueue(client, packet);
            }
            if (queue.empty() || queue.front().due > now)
                break;
            Pending& p = queue.front();
            if (p.close) {
                toDrop.push_back(kv.first);
                break;
            }
            const ssize_t sent = ::send(kv.first, p.bytes.data(), p.bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
            if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
                break;  // no room now: polled for it
            queue.pop_front();
        }
    }
    for (int fd : toDrop)
        drop(fd);
}

}  // namespace hubsim
