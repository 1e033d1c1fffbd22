// Console output of the hub utility: message types with their colours,
// verbose lines, paging and debug tracing.
#pragma once

#include <cstddef>

enum MessageType {
    MSG_NORMAL = 0,
    MSG_VERBOSE = 1,
    MSG_VERBOSE_HIGHLIGHT = 2,
    MSG_ERROR = 3,
    MSG_WARNING = 4,
    MSG_SUCCESS = 5,
};

void SetVerbose(bool on);
bool IsVerbose();
void SetPaging(bool on);
void SetDebug(bool on);
bool IsDebug();

// Formats and prints a text of the given type, line by line; a text of any
// length is printed whole.
void PrintMsg(int type, const char* format, ...) __attribute__((format(printf, 2, 3)));
// The last text printed as an error.
const char* GetLastError();

// Debug tracing: "<function> line <n>" when the trailing "d1" word was given.
void verbose_print(const char* function, int line);
#define DEBUG_TRACE() verbose_print(__func__, __LINE__)

// Appends formatted text to a fixed buffer, never past its end.
void AppendText(char* buffer, size_t size, const char* format, ...) __attribute__((format(printf, 3, 4)));
