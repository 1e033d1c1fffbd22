// The PDT tool's access to the firmware: set and get the platform descriptor
// table, reset the firmware and run the built-in self test.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "DoxiException.h"
#include "device/DoxiTransport.h"

using DOXI = doxi::DoxiBaseT<DoxiException>;
using DOXIAndroid = doxi::DOXIAndroidT<DoxiException>;

// One sensor's self-test outcome.
struct testResult {
    std::string luid;    // first four luid bytes as one little-endian number, "%X"
    std::string result;  // testStatusMsg of the result code
};

class PDT {
public:
    PDT();
    explicit PDT(std::shared_ptr<DOXI> transport);

    void setPdt(const std::vector<char>& image);
    std::vector<char> getPdt();
    void resetTsy();
    // Runs the self test for all sensors up to level; overall receives 0
    // (passed), 1 (warning) or 2 (failed): the firmware's verdict, or worse
    // when a sensor's own result is worse.
    std::vector<testResult> selfTest(int level, int& overall);

    static std::string testLevelMsg(int level);
    static std::string testStatusMsg(int status);
    static std::string testResultMsg(int result);

    static constexpr int kMaxSelfTestPolls = 10;

private:
    std::shared_ptr<DOXI> doxi;

};
