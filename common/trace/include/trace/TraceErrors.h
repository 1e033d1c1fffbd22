// Status codes of the trace tools, their texts, and the exceptions that carry
// them. The code table itself is the transport's (device/DoxiTrace.h), so the
// tools and the transport share one.
#pragma once

#include <stdexcept>

#include "device/DoxiTrace.h"

namespace tracetools {

enum : int {
    kSuccess = 0,
    kUnsupportedArguments = 1,
    kNoBufferToFlush = 2,
    kDoxiGeneralError = doxi::trace::kDoxiGeneralError,  // 8192
    kConnectFailed = 8196,
    kReadFileFailed = 8198,
    kInvalidConfigFile = 8199,
    kDecodeFailed = 8200,
    kHandleMessageFailed = 8201,
    kUnsupportedCommandLine = 8202,
    kNoPrivileges = 8208,
};

// The collector's texts: 0, 1 and 2 itself, every other code from the shared table.
const char* getCollectErrorMessage(int code);
// The shared table ("Unknown Error" for codes without a text).
const char* getSWErrorMessage(int code);

using doxi::trace::DoxiException;

// A failure of the collector (catalogue files, trace handling).
class CollectorException : public std::runtime_error {
public:
    explicit CollectorException(int errorCode)
        : std::runtime_error(getCollectErrorMessage(errorCode)), code(errorCode) {}
    int getCode() const { return code; }

private:
    int code;
};

// A failure of a trace tool's own logic (command line, configuration file).
class TraceException : public std::runtime_error {
public:
    explicit TraceException(int errorCode) : std::runtime_error(getSWErrorMessage(errorCode)), code(errorCode) {}
    int getCode() const { return code; }

private:
    int code;
};

}  // namespace tracetools
