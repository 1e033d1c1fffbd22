#include <strings.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "codes.h"
#include "commands.h"
#include "display.h"
#include "smhi.h"
#include "device/Smhi.h"
#include "file/AtomicFile.h"

namespace {

const size_t kMaxPdtSize = 3990;

bool hasBinExtension(const char* path) {
    const size_t length = strlen(path);
    return length >= 4 && strcasecmp(path + length - 4, ".bin") == 0;
}

}  // namespace

int PDT_ReadFile(const char* path, std::vector<uint8_t>& image) {
    if (!hasBinExtension(path))
        return HUB_INVALID_PDT_EXTENSION;
    FILE* file = fopen(path, "rb");
    if (file == nullptr)
        return HUB_FILE_ERROR;
    image.assign(kMaxPdtSize + 1, 0);
    const size_t length = fread(image.data(), 1, image.size(), file);
    const bool failed = ferror(file) != 0;
    fclose(file);
    if (failed)
        return HUB_FILE_ERROR;
    if (length < 1 || length > kMaxPdtSize)
        return HUB_INVALID_PDT_LENGTH;
    image.resize(length);
    return HUB_SUCCESS;
}

namespace {

int PDT_Set(const char* path) {
    DEBUG_TRACE();
    char codeText[512];
    std::vector<uint8_t> image;
    int code = PDT_ReadFile(path, image);
    if (code == HUB_SUCCESS) {
        PrintMsg(MSG_VERBOSE, "Sending SetPDT command to FW\n");
        std::vector<uint8_t> response;
        code = SMHIRequest(smhi::buildSetProperty(_sc_sensor_luid(), SMHI_PROP_SENSOR_CONFIG, image), response);
    }
    // Every failure, the file's included, is reported in the result line.
    PrintMsg(MSG_NORMAL, "Set PDT: %s\n", GetCodeText(code, codeText, sizeof codeText));
    if (code != HUB_SUCCESS)
        return code;
    PrintMsg(MSG_VERBOSE, "Resetting FW\n");
    std::vector<uint8_t> response;
    code = SMHIRequest(smhi::buildReset(), response);
    PrintMsg(MSG_NORMAL, "Reset TSY: %s\n", GetCodeText(code, codeText, sizeof codeText));
    return code;
}

// Writes the image to the file; false when it cannot be written whole.
bool PDT_WriteFile(const char* path, const std::vector<uint8_t>& image) {
    // Beside its name and renamed into place: the file is whole or not there.
    return atomicfile::write(path, image.data(), image.size());
}

int PDT_Get(const char* path) {
    DEBUG_TRACE();
    char codeText[512];
    int code = hasBinExtension(path) ? HUB_SUCCESS : HUB_INVALID_PDT_EXTENSION;
    std::vector<uint8_t> image;
    if (code == HUB_SUCCESS) {
        PrintMsg(MSG_VERBOSE, "Sending GetPDT command to FW\n");
        std::vector<uint8_t> response;
        code = SMHIRequest(smhi::buildGetProperty(_sc_sensor_luid(), SMHI_PROP_SENSOR_CONFIG), response);
        if (code == HUB_SUCCESS && !smhi::parsePdt(doxi::ByteView(response), image))
            code = HUB_UNEXPECTED_RESPONSE;
    }
    if (code == HUB_SUCCESS) {
        PrintMsg(MSG_VERBOSE, "Saving PDT file to %s\n", path);
        if (!PDT_WriteFile(path, image))
            code = HUB_FILE_ERROR;
        else
            PrintMsg(MSG_VERBOSE, "PDT file was saved successfully\n");
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
