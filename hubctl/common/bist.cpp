#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "codes.h"
#include "commands.h"
#include "display.h"
#include "sensorinfo.h"
#include "smhi.h"
#include "device/DoxiCStyle.h"
#include "device/Smhi.h"

using namespace doxi::cstyle;

namespace {

const int kMaxPolls = 1000;
const useconds_t kPollPauseUs = 20;

struct BistRecord {
    std::string luidText;
    bool validLuid = true;
    bool allSensors = false;  // the word stood for every sensor
    _sc_sensor_luid luid;
    int code = HUB_SUCCESS;   // the test could not run: its code
    uint8_t result = 0;       // the sensor's result code
    bool hasResult = true;    // false: the firmware sent no record for the sensor
    uint8_t overall = 0;      // the firmware's overall result of that test
};

// The firmware's overall result (0 passed, 1 warning, 2 failed) as an
// outcome; anything else counts as failed.
int outcomeOfOverall(uint8_t overall) {
    return overall <= 2 ? overall : 2;
}

void showWaiting(int poll) {
    static const char* const frames[] = {"\rPlease wait.   ", "\rPlease wait..  ", "\rPlease wait... ",
                                         "\rPlease wait...."};
    PrintMsg(MSG_NORMAL, "%s", frames[(poll / 10) % 4]);
}

// Runs the self test for one luid; fills the firmware's answer.
int BIST_RunOne(const _sc_sensor_luid& luid, int level, smhi::SelfTestResponse& answer) {
    DEBUG_TRACE();
    const uint16_t mask = smhi::selfTestLevelMask(level);
    PrintMsg(MSG_VERBOSE, "Initializing connection to FW\n");
    int code = DoxiInitAndCnct(0);
    if (code != 0)
        return code;
    std::vector<uint8_t> response(kMaxResponse);
    uint32_t received = 0;
    PrintMsg(MSG_VERBOSE, "Sending BIST command to FW\n");
    std::vector<uint8_t> request = smhi::buildSelfTest(luid, 0, mask);
    code = SMHIGetCommand(request.data(), static_cast<uint32_t>(request.size()), response.data(), kMaxResponse,
                          &received, kSendTimeoutMs);
    if (code == 0 && received < SMHI_HEADER_SIZE)
        code = HUB_UNEXPECTED_RESPONSE;
    if (code == 0 && response[3] != 0)
        code = response[3];
    if (code != 0) {
        DoxiUninit(0);
        return code;
    }
    PrintMsg(MSG_VERBOSE, "Starting to poll FW for result\n");
    request = smhi::buildSelfTest(luid, 1, mask);
    bool waited = false;
    for (int poll = 0; poll < kMaxPolls; ++poll) {
        usleep(kPollPauseUs);
        code = SMHIGetCommand(request.data(), static_cast<uint32_t>(request.size()), response.data(), kMaxResponse,
                              &received, kSendTimeoutMs);
        if (code != 0)
            break;
        if (!smhi::parseSelfTest(doxi::ByteView(response.data(), received), answer)) {
            code = HUB_UNEXPECTED_RESPONSE;
            break;
        }
        if (answer.status == smhi::kInProgress || (answer.status == 0 && answer.state != 0)) {
            // The animation belongs to "Please wait, Working in progress"
            // (status 3); a test still running under status 0 is polled
            // quietly.
            if (answer.status == smhi::kInProgress && poll % 10 == 0) {
                showWaiting(poll);
                waited = true;
            }
            code = HUB_TIMEOUT;
            continue;
        }
        code = answer.status;
        break;
    }
    if (waited)
        PrintMsg(MSG_NORMAL, "\n");
    DoxiUninit(0);
    if (code == 0)
        PrintMsg(MSG_VERBOSE, "Test result received\n");
    return code;
}

bool isWarning(uint8_t result) {
    return result == 2 || result == 5;
}

}  // namespace

std::vector<LuidWord> ParseLuidList(const char* list) {
    // Without a list, the one word that stands for every sensor.
    const std::string rest = list ? list : "ffffffffffffffff";
    std::vector<LuidWord> words;
    for (size_t from = 0;;) {
        const size_t comma = rest.find(',', from);
        LuidWord word;
        word.text = rest.substr(from, comma == std::string::npos ? std::string::npos : comma - from);
        unsigned fields[5];
        char tail;
        word.valid = word.text.size() == 16 && sscanf(word.text.c_str(), "%04X%04X%04X%02X%02X%c", &fields[0],
                                                      &fields[1], &fields[2], &fields[3], &fields[4], &tail) == 5;
        if (word.valid)
            word.luid = _sc_sensor_luid{static_cast<uint16_t>(fields[0]), static_cast<uint16_t>(fields[1]),
                                        static_cast<uint16_t>(fields[2]), static_cast<uint8_t>(fields[3]),
                                        static_cast<uint8_t>(fields[4])};
        words.push_back(word);
        if (comma == std::string::npos)
            break;
        from = comma + 1;
    }
    return words;
}

int BIST_Run(const CmdRecord* record) {
    DEBUG_TRACE();
    char text[CMD_TEXT_SIZE] = "";
    char codeText[512];

    std::string levelText = "3";
    if (record->selectedId == ID_TEST)
        levelText = record->selectedValue;
    if (levelText.size() != 1) {
        PrintMsg(MSG_ERROR, "%s\n", GetCodeText(HUB_INVALID_ARGUMENTS, codeText, sizeof codeText));
        return HUB_INVALID_ARGUMENTS;
    }
    const int level = levelText[0] - '0';

    AppendText(text, sizeof text, "Self Test:\nTest Level: %s (", levelText.c_str());
    if (level < 0 || level > 3) {
        PrintMsg(MSG_NORMAL, "Self Test:\nTest Level: Invalid level\n%s\n",
                 GetCodeText(HUB_INVALID_ARGUMENTS, codeText, sizeof codeText));
        return HUB_INVALID_ARGUMENTS;
    }
    if (level == 3)
        AppendText(text, sizeof text, "Sensors BIST, ");
    if (level >= 2)
        AppendText(text, sizeof text, "Calibration, ");
    if (level >= 1)
        AppendText(text, sizeof text, "Connectivity, ");
    AppendText(text, sizeof text, "Configuration)\n");

    std::vector<_sc_sensor_luid> sensors;
    int code = SMHIGetSensorList(sensors);
    if (code == HUB_SUCCESS && sensors.empty())
        code = HUB_BIST_NO_SENSORS;
    if (code != HUB_SUCCESS) {
        AppendText(text, sizeof text, "%s\n", GetCodeText(code, codeText, sizeof codeText));
        PrintMsg(MSG_NORMAL, "%s", text);
        return code;
    }

    const std::vector<LuidWord> words = ParseLuidList(GetOption(record, ID_LUID));
    std::vector<BistRecord> records;
    int firstCode = HUB_SUCCESS;
    int overallOutcome = 0;
    for (const LuidWord& word : words) {
        BistRecord base;
        base.luidText = word.text;
        if (!word.valid) {
            base.validLuid = false;
            base.code = HUB_INVALID_LUID;
            records.push_back(base);
            firstCode = firstCode ? firstCode : base.code;
            continue;
        }
        base.luid = word.luid;
        base.luidText = smhi::luidToUpperText(base.luid);
        base.allSensors = base.luid == smhi::allSensorsLuid();
        smhi::SelfTestResponse answer;
        base.code = BIST_RunOne(base.luid, level, answer);
        if (base.code != HUB_SUCCESS) {
            records.push_back(base);
            firstCode = firstCode ? firstCode : base.code;
            continue;
        }
        base.overall = answer.overall;
        if (base.allSensors) {
            for (const smhi::SelfTestRecord& r : answer.records) {
                BistRecord one = base;
                one.luid = r.luid;
                one.luidText = smhi::luidToUpperText(r.luid);
                one.result = r.result;
                records.push_back(one);
            }
        } else {
            base.hasResult = !answer.records.empty();
            if (base.hasResult)
                base.result = answer.records.front().result;
            records.push_back(base);
        }
        // The firmware's own verdict counts even when it sent no records.
        if (base.code == HUB_SUCCESS)
            overallOutcome = std::max(overallOutcome, outcomeOfOverall(answer.overall));
    }

    // A test that could not run is never reported as passed.
    int outcome = firstCode != HUB_SUCCESS ? 2 : overallOutcome;
    std::string lines;
    for (const BistRecord& r : records) {
        char line[1024] = "";
        if (r.code != HUB_SUCCESS && r.allSensors) {
            // No sensor to list: the code's text stands alone.
            AppendText(line, sizeof line, "%s\n", GetCodeText(r.code, codeText, sizeof codeText));
            lines += line;
            continue;
        }
        AppendText(line, sizeof line, "Sensor LUID: \t%s\t", r.luidText.c_str());
        if (!r.validLuid) {
            AppendText(line, sizeof line, "\t\t\t\t\t\t");
        } else {
            const std::string model = getSensorModel(r.luid, true, true);
            AppendText(line, sizeof line, "Sensor Model: \t%s\t", model.c_str());
            for (int tabs = 6 - static_cast<int>(model.size() / 8); tabs > 0; --tabs)
                AppendText(line, sizeof line, "\t");
        }
        if (r.code != HUB_SUCCESS) {
            AppendText(line, sizeof line, "Result: %s\n", GetCodeText(r.code, codeText, sizeof codeText));
        } else if (r.overall != 0 && !r.hasResult) {
            // Only the overall verdict came back for the sensor.
            if (outcomeOfOverall(r.overall) == 1)
                AppendText(line, sizeof line, "Result: warning: test warning\n");
            else
                AppendText(line, sizeof line, "Result: err_code:1, %s\n", smhi::selfTestResultText(1).c_str());
        } else if (r.overall != 0) {
            if (r.result != 0)
                AppendText(line, sizeof line, "Result: err_code:%d, %s\n", r.result,
                           smhi::selfTestResultText(r.result).c_str());
            else
                AppendText(line, sizeof line, "Result: test passed\n");
            if (r.result != 0)
                outcome = std::max(outcome, isWarning(r.result) ? 1 : 2);
        } else {
            AppendText(line, sizeof line, "Result: success\n");
        }
        lines += line;
    }

    static const char* const results[] = {"Result: test passed for all sensors\n", "Result: test warning for sensors:\n",
                                          "Result: test failed for sensors:\n"};
    // Every record line is printed, however many sensors there are.
    std::string all = text;
    all += results[outcome];
    all += lines;
    PrintMsg(MSG_NORMAL, "%s", all.c_str());
    if (firstCode != HUB_SUCCESS)
        return firstCode;
    return outcome == 2 ? HUB_BIST_FAILED : HUB_SUCCESS;
}
