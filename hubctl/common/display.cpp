#include "display.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <vector>

namespace {

bool verbose = false;
bool paging = false;
bool debug = false;
char lastError[4096] = "";

// Cursor position while paging, in characters from the top of the screen.
int cursorRow = 0;
int cursorColumn = 0;

// ANSI colour number per message type; -1 for none.
int colourOf(int type) {
    switch (type) {
    case MSG_VERBOSE_HIGHLIGHT:
    case MSG_WARNING:
        return 3;
    case MSG_ERROR:
        return 1;
    case MSG_SUCCESS:
        return 2;
    default:
        return -1;
    }
}

void screenSize(int& rows, int& columns) {
    struct winsize size {};
    if (ioctl(STDIN_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_row > 0 && size.ws_col > 0) {
        rows = size.ws_row;
        columns = size.ws_col;
    } else {
        rows = 24;
        columns = 80;
    }
}

// Before a text is printed: when it would run past the screen, fill the
// screen, ask for a key and start a new page.
void pageBefore(const char* text) {
    int rows, columns;
    screenSize(rows, columns);
    int row = cursorRow, column = cursorColumn;
    for (const char* p = text; *p; ++p) {
        if (*p == '\r') {
            column = 0;
        } else if (*p == '\n') {
            ++row;
            column = 0;
        } else if (++column >= columns) {
            ++row;
            column = 0;
        }
    }
    if (row * columns + column < rows * columns) {
        cursorRow = row;
        cursorColumn = column;
        return;
    }
    for (int r = cursorRow; r < rows - 1; ++r)
        fputc('\n', stdout);
    fputs("press any key", stdout);
    fflush(stdout);
    getchar();
    fputc('\n', stdout);
    cursorRow = row - cursorRow;
    cursorColumn = column;
}

void printLine(int type, const char* line, size_t length, bool newline) {
    const int colour = length > 0 ? colourOf(type) : -1;
    if (colour >= 0)
        printf("\033[%dm", 30 + colour);
    fwrite(line, 1, length, stdout);
    if (colour >= 0)
        fputs("\033[0m", stdout);
    if (newline)
        fputc('\n', stdout);
}

}  // namespace

void SetVerbose(bool on) { verbose = on; }
bool IsVerbose() { return verbose; }
void SetPaging(bool on) {
    paging = on;
    cursorRow = cursorColumn = 0;
}
void SetDebug(bool on) { debug = on; }
bool IsDebug() { return debug; }
const char* GetLastError() { return lastError; }

void PrintMsg(int type, const char* format, ...) {
    if ((type == MSG_VERBOSE || type == MSG_VERBOSE_HIGHLIGHT) && !verbose)
        return;
    // Most texts fit the fixed buffer; a longer one (a self test of many
    // sensors, a long BOM) is formatted again into one of its own size, so no
    // line is ever cut.
    char fixed[4096];
    std::vector<char> large;
    char* text = fixed;
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int needed = vsnprintf(fixed, sizeof fixed, format, args);
    va_end(args);
    if (needed >= static_cast<int>(sizeof fixed)) {
        large.resize(static_cast<size_t>(needed) + 1);
        vsnprintf(large.data(), large.size(), format, again);
        text = large.data();
    }
    va_end(again);
    if (type == MSG_ERROR)
        snprintf(lastError, sizeof lastError, "%s", text);
    if (paging)
        pageBefore(text);

    // Line by line; a warning or an error code switches the type of that line
    // and of the lines after it. A line holding "\r" keeps the cursor on it.
    const char* line = text;
    while (*line) {
        const char* end = strchr(line, '\n');
        const size_t length = end ? static_cast<size_t>(end - line) : strlen(line);
        const std::string_view view(line, length);
        if (view.find("warning: ") != std::string_view::npos)
            type = MSG_WARNING;
        if (view.find("err_code") != std::string_view::npos)
            type = MSG_ERROR;
        const bool carriageReturn = view.find('\r') != std::string_view::npos;
        printLine(type, line, length, end != nullptr && !carriageReturn);
        if (!end)
            break;
        line = end + 1;
    }
    fflush(stdout);
}

void verbose_print(const char* function, int line) {
    if (debug) {
        printf("%s line %d\n", function, line);
        fflush(stdout);
    }
}

void AppendText(char* buffer, size_t size, const char* format, ...) {
    const size_t used = strnlen(buffer, size);
    if (used + 1 >= size)
        return;
    va_list args;
    va_start(args, format);
    vsnprintf(buffer + used, size - used, format, args);
    va_end(args);
}
