// Result codes of the hub utility and their texts.
#pragma once

#include <cstddef>

#include "device/DoxiCStyle.h"
#include "device/Smhi.h"

#define CMD_TEXT_SIZE 10000

// The codes the transport and the SMHI messages already define are theirs;
// this table only names them for the hub utility.
enum {
    HUB_SUCCESS = 0,
    HUB_SMHI_IN_PROGRESS = smhi::kInProgress,
    HUB_GENERAL_ERROR = doxi::cstyle::kGeneralError,
    HUB_MEMORY_ALLOCATION = 8196,
    HUB_TRANSMIT_ERROR = doxi::cstyle::kSendFailed,
    HUB_TIMEOUT = 8202,
    HUB_UNEXPECTED_RESPONSE = doxi::cstyle::kReceiveFailed,
    HUB_BUFFER_TOO_SMALL = 8213,
    HUB_INVALID_ARGUMENTS = 8216,
    HUB_FILE_ERROR = 8217,
    HUB_INVALID_PDT_LENGTH = 8218,
    HUB_INVALID_PDT_EXTENSION = 8219,
    HUB_INVALID_LUID = 8223,
    HUB_BIST_FAILED = 8226,
    HUB_BIST_NO_SENSORS = 8227,
};

// The bare message of a code, or null for an unknown code.
const char* GetCodeMessage(int code);
// "err_code:<code>, <message>" for a non-zero code, the bare message for 0,
// "err_code:<code>" for a code outside the table. Writes into text (size bytes) and returns it.
const char* GetCodeText(int code, char* text, size_t size);
// The code list as ERRLIST prints it.
void GetCodeList(char* text, size_t size);
