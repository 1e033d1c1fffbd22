#include <strings.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "codes.h"
#include "commands.h"
#include "display.h"
#include "smhi.h"
#include "device/Smhi.h"

namespace {

const size_t kMaxPdtSize = 3990;

bool hasBinExtension(const char* path) {
    const size_t length = strlen(path);
    return length >= 4 && strcasecmp(path + length - 4, ".bin") == 0;
}

int PDT_Set(const char* path) {
    DEBUG_TRACE();
    char codeText[512];
    if (!hasBinExtension(path))
        return HUB_INVALID_PDT_EXTENSION;
    FILE* file = fopen(path, "rb");
    if (file == nullptr)
        return HUB_FILE_ERROR;
    std::vector<uint8_t> image(kMaxPdtSize + 1);
    const size_t length = fread(image.data(), 1, image.size(), file);
    const bool failed = ferror(file) != 0;
    fclose(file);
    if (failed)
        return HUB_FILE_ERROR;
    if (length < 1 || length > kMaxPdtSize)
        return HUB_INVALID_PDT_LENGTH;
    image.resize(length);

    PrintMsg(MSG_VERBOSE, "Sending SetPDT command to FW\n");
    std::vector<uint8_t> response;
    int code = SMHIRequest(smhi::buildSetProperty(_sc_sensor_luid(), SMHI_PROP_SENSOR_CONFIG, image), response);
    PrintMsg(MSG_NORMAL, "Set PDT: %s\n", GetCodeText(code, codeText, sizeof codeText));
    if (code != HUB_SUCCESS)
        return code;
    PrintMsg(MSG_VERBOSE, "Resetting FW\n");
    code = SMHIRequest(smhi::buildReset(), response);
    PrintMsg(MSG_NORMAL, "Reset TSY: %s\n", GetCodeText(code, codeText, sizeof codeText));
    return code;
}

int PDT_Get(const char* path) {
    DEBUG_TRACE();
    char codeText[512];
    if (!hasBinExtension(path))
        return HUB_INVALID_PDT_EXTENSION;
    PrintMsg(MSG_VERBOSE, "Sending GetPDT command to FW\n");
    std::vector<uint8_t> response;
    int code = SMHIRequest(smhi::buildGetProperty(_sc_sensor_luid(), SMHI_PROP_SENSOR_CONFIG), response);
    std::vector<uint8_t> image;
    if (code == HUB_SUCCESS && !smhi::parsePdt(doxi::ByteView(response), image))
        code = HUB_UNEXPECTED_RESPONSE;
    if (code == HUB_SUCCESS) {
        PrintMsg(MSG_VERBOSE, "Saving PDT file to %s\n", path);
        FILE* file = fopen(path, "wb");
        if (file == nullptr) {
            code = HUB_FILE_ERROR;
        } else {
            const bool written = fwrite(image.data(), 1, image.size(), file) == image.size();
            if (fclose(file) != 0 || !written)
                code = HUB_FILE_ERROR;
            else
                PrintMsg(MSG_VERBOSE, "PDT file was saved successfully\n");
        }
    }
    PrintMsg(MSG_NORMAL, "Get PDT: %s\n", GetCodeText(code, codeText, sizeof codeText));
    return code;
}

}  // namespace

int PDT_Run(const CmdRecord* record) {
    if (record->selectedId == ID_SETPDT)
        return PDT_Set(record->selectedValue);
    return PDT_Get(record->selectedValue);
}
