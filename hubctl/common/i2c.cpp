#include <cstdio>
#include <cstring>
#include <vector>

#include "codes.h"
#include "commands.h"
#include "display.h"
#include "smhi.h"
#include "device/Smhi.h"

int I2C_Run(const CmdRecord* record) {
    DEBUG_TRACE();
    char text[CMD_TEXT_SIZE] = "";
    char codeText[512];
    const char* busText = record->selectedValue;
    const int bus = busText[0] - '0';
    if (strlen(busText) != 1 || bus < 0 || bus > 2) {
        PrintMsg(MSG_ERROR, "%s\n", GetCodeText(HUB_INVALID_ARGUMENTS, codeText, sizeof codeText));
        return HUB_INVALID_ARGUMENTS;
    }
    const bool update = GetOption(record, ID_UPDATEPDT) != nullptr;

    std::vector<uint8_t> response;
    int code = SMHIRequest(smhi::buildSetI2cInfo(update ? 1 : 0, static_cast<uint8_t>(bus)), response);
    smhi::I2cInfo counts;
    if (code == HUB_SUCCESS && !smhi::parseI2cInfo(doxi::ByteView(response), counts))
        code = HUB_UNEXPECTED_RESPONSE;
    if (code == HUB_SUCCESS) {
        AppendText(text, sizeof text, "std       hcnt = %d\t lcnt = %d\n", counts.standardHigh, counts.standardLow);
        AppendText(text, sizeof text, "fast      hcnt = %d\t lcnt = %d\n", counts.fastHigh, counts.fastLow);
    }
    AppendText(text, sizeof text, "Calibrate I2C bus %s", busText);
    if (code == HUB_SUCCESS && update) {
        PrintMsg(MSG_VERBOSE, "Resetting FW\n");
        code = SMHIRequest(smhi::buildReset(), response);
        AppendText(text, sizeof text, ", save to PDT and reset TSY");
    }
    AppendText(text, sizeof text, ": %s\n", GetCodeText(code, codeText, sizeof codeText));
    PrintMsg(MSG_NORMAL, "%s", text);
    return code;
}
