// A small client of the device layer, run under the shim against hubsim by the
// end-to-end tests. Each subcommand exercises one transport surface.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <stdexcept>
#include <thread>
#include <chrono>
#include <atomic>
#include <string>
#include <vector>

#include "device/DoxiCStyle.h"
#include "device/DoxiTrace.h"
#include "device/DoxiTransport.h"
#include "device/Smhi.h"

namespace {

struct ClientError : std::runtime_error {
    explicit ClientError(const std::string& m) : std::runtime_error("SMHI Error: " + m) {}
};
using Transport = doxi::DOXIAndroidT<ClientError>;

std::vector<uint8_t> unhex(const std::string& t) {
    if (t.size() % 2)
        throw std::runtime_error("odd hex");
    std::vector<uint8_t> b;
    for (size_t i = 0; i < t.size(); i += 2)
        b.push_back(static_cast<uint8_t>(std::stoul(t.substr(i, 2), nullptr, 16)));
    return b;
}

_sc_sensor_luid luidOf(const std::string& t) {
    const std::vector<uint8_t> b = unhex(t);
    if (b.size() != 8)
        throw std::runtime_error("a luid is 16 hex digits");
    return smhi::decodeLuid(b.data());
}

// One SMHI exchange with the class form: Connect, Write, Read(4000), Close.
std::vector<uint8_t> exchange(Transport& t, const std::vector<uint8_t>& request, size_t& received) {
    doxi::ClosingConnection<ClientError> connection(t);
    return t.Transact(request, received);
}

int run(const std::vector<std::string>& a) {
    Transport t(doxi::INTERFACE_GUID, doxi::SMHI_GUID);
    size_t n = 0;
    const std::string cmd = a.empty() ? "" : a[0];
    if (cmd == "enumerate") {
        const auto r = exchange(t, smhi::buildGetProperty(_sc_sensor_luid(), SMHI_PROP_SENSOR_LIST, true), n);
        std::vector<_sc_sensor_luid> luids;
        if (r[3] != 0 || !smhi::parseSensorList(doxi::ByteView(r.data(), n), luids))
            throw ClientError("Enumerate sensors command failed");
        for (const auto& l : luids)
            std::cout << luidHexKey(l) << "\n";
        return 0;
    }
    if (cmd == "get-cal" && a.size() == 2) {
        const auto r = exchange(t, smhi::buildGetProperty(luidOf(a[1]), SMHI_PROP_CALIBRATION, true), n);
        std::vector<uint8_t> record;
        if (r[3] != 0 || !smhi::parseCalibrationRecord(doxi::ByteView(r.data(), n), record))
            throw ClientError("Get calibration data command failed");
        std::cout << doxi::toHex(record.data(), record.size()) << "\n";
        return 0;
    }
    if (cmd == "set-cal" && a.size() == 3) {
        const auto r = exchange(t, smhi::buildSetCalibration(luidOf(a[1]), unhex(a[2])), n);
        std::cout << "status " << int(r[3]) << "\n";
        return r[3] == 0 ? 0 : 1;
    }
    if (cmd == "set-pdt" && a.size() == 2) {
        std::ifstream in(a[1], std::ios::binary);
        const std::vector<uint8_t> image((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const auto r = exchange(t, smhi::buildSetProperty(_sc_sensor_luid(), SMHI_PROP_SENSOR_CONFIG, image), n);
        std::cout << "status " << int(r[3]) << "\n";
        return r[3] == 0 ? 0 : 1;
    }
    if (cmd == "get-pdt" && a.size() == 2) {
        const auto r = exchange(t, smhi::buildGetProperty(_sc_sensor_luid(), SMHI_PROP_SENSOR_CONFIG), n);
        std::vector<uint8_t> image;
        if (r[3] != 0 || !smhi::parsePdt(doxi::ByteView(r.data(), n), image))
            throw ClientError("Get PDT command failed");
        std::ofstream(a[1], std::ios::binary).write(reinterpret_cast<const char*>(image.data()),
                                                    static_cast<std::streamsize>(image.size()));
        std::cout << "pdt " << image.size() << " bytes\n";
        return 0;
    }
    if (cmd == "selftest" && a.size() == 2) {
        const uint16_t mask = smhi::selfTestLevelMask(std::stoi(a[1]));
        t.Connect();
        t.Write(smhi::buildSelfTest(smhi::allSensorsLuid(), 0, mask));
        t.Read(4000);
        for (int poll = 1; poll <= 10; ++poll) {
            t.Write(smhi::buildSelfTest(smhi::allSensorsLuid(), 1, mask));
            const auto r = t.Read(4000);
            smhi::SelfTestResponse st;
            if (!smhi::parseSelfTest(doxi::ByteView(r.data(), t.lastReadLength()), st))
                throw ClientError("bad self test response");
            if (st.status == 0 && st.state == 0) {
                std::cout << "polls " << poll << " overall " << int(st.overall) << "\n";
                for (const auto& rec : st.records)
                    std::cout << smhi::luidToUpperText(rec.luid) << " " << smhi::selfTestResultText(rec.result) << "\n";
                t.Close();
                return 0;
            }
            std::cout << "poll " << poll << " status " << int(st.status) << "\n";
        }
        t.Close();
        return 1;
    }
    if (cmd == "connect-twice") {
        t.Connect();
        t.Connect();
        t.Write(smhi::buildGetVersion());
        t.Read(4000);
        std::cout << "read " << t.lastReadLength() << "\n";
        return 0;
    }
    if (cmd == "raw" && a.size() >= 2) {
        // Sends each hex message in turn on one connection and prints the answers.
        for (size_t i = 1; i < a.size(); ++i) {
            const auto r = exchange(t, unhex(a[i]), n);
            std::cout << doxi::toHex(r.data(), n) << "\n";
        }
        return 0;
    }
    if (cmd == "c-version") {
        using namespace doxi::cstyle;
        int code = DoxiInitAndCnct(0);
        if (code == 0) {
            const auto request = smhi::buildGetVersion();
            code = DoxiSndMessage(request.data(), static_cast<uint32_t>(request.size()), 0);
        }
        uint8_t buffer[4000] = {};
        uint32_t received = 0;
        if (code == 0)
            code = DoxiRcvMessage(sizeof buffer, &received, buffer, 0, 2000);
        smhi::KEBVersion v;
        if (code == 0 && (buffer[3] != 0 || !smhi::parseVersion(doxi::ByteView(buffer, received), v)))
            code = kReceiveFailed;
        DoxiUninit(0);
        if (code != 0) {
            std::cout << "code " << code << "\n";
            return 1;
        }
        std::printf("FW Version: %hu.%hu.%hu.%hu\n", v.major, v.minor, v.hotfix, v.build);
        return 0;
    }
    if (cmd == "c-bufsize") {
        std::cout << "size " << doxi::cstyle::GetBufSize(0, 0) << "\n";
        return 0;
    }
    if (cmd == "trace-config" && a.size() == 3) {
        // Trace-configuration exchange on the given first node.
        doxi::trace::DoxiAndroid transport(doxi::TRACE_CONFIG_GUID, a[1].c_str());
        const std::vector<uint8_t> bytes = unhex(a[2]);
        std::vector<char> request(bytes.begin(), bytes.end()), response(6000);
        const int status = doxi::trace::DoxiSendAndReceiveConfig(transport, request, response, request.size());
        std::cout << "status " << status << "\n";
        return 0;
    }
    if (cmd == "trace-read-stop") {
        // An asynchronous read on the trace client that nothing answers, ended by the stop flag.
        std::atomic<bool> stop{false};
        doxi::trace::DoxiAndroid transport(doxi::TRACE_GUID, doxi::kTraceNode, &stop);
        std::cout << "connect " << transport.Connect() << " " << transport.Connect() << "\n";
        std::thread stopper([&stop] {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            stop.store(true);
        });
        std::vector<char> buffer;
        const int got = transport.Read(buffer, 4100, 0);
        stopper.join();
        std::cout << "read " << got << " size " << buffer.size() << "\n";
        try {
            transport.Read(buffer, 4100, 0);
        } catch (const doxi::trace::DoxiException& e) {
            std::cout << "then " << e.getCode() << "\n";
        }
        return 0;
    }
    std::cerr << "usage: devclient enumerate | get-cal LUID | set-cal LUID HEX | set-pdt FILE | get-pdt FILE |"
                 " selftest LEVEL | connect-twice | raw HEX... | c-version | c-bufsize | trace-config NODE HEX\n";
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return run(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const doxi::trace::DoxiException& e) {
        std::cout << "DoxiException " << e.getCode() << ": " << e.what() << "\n";
        return 1;
    } catch (const std::exception& e) {
        std::cout << e.what() << "\n";
        return 1;
    }
}
