#include "codes.h"

#include <cstdio>
#include <cstring>

namespace {

struct CodeRow {
    int code;
    const char* message;
};

const CodeRow kCodes[] = {
    {0, "Success"},
    {1, "Command is currently not supported"},
    {2, "SMHI command failed"},
    {3, "Please wait, Working in progress"},
    {4, "SMHI error: Invalid parameter"},
    {8192, "General error"},
    {8193, "Cannot locate Corvex(R) Tessary driver"},
    {8194, "Memory access failure, please contact Corvex support"},
    {8195, "Write register failure"},
    {8196, "Memory allocation failure, please contact Corvex support"},
    {8197, "Circular buffer overflow"},
    {8198, "Not enough memory in circular buffer"},
    {8199, "Transmition error to Corvex(R) Tessary"},
    {8200, "Unsupported QRM bus message protocol version"},
    {8201, "Unexpected interrupt reason"},
    {8202, "Corvex(R) Tessary timeout occurred"},
    {8203, "Unexpected result in Corvex(R) Tessary response, please contact Corvex support"},
    {8204, "Unsupported message type"},
    {8205, "Cannot find host client"},
    {8206, "Cannot find Corvex(R) Tessary client"},
    {8207, "Client already connected"},
    {8208, "No free connection available"},
    {8209, "Illegal parameter"},
    {8210, "Flow control error"},
    {8211, "No message"},
    {8212, "Requesting Corvex(R) Tessary receive buffer size is too large"},
    {8213, "Requesting Corvex(R) Tessary receive buffer size is too small"},
    {8214, "Circular buffer not empty"},
    {8215, "Cannot access Corvex(R) Tessary device"},
    {8216, "Invalid command-line argument/s"},
    {8217, "Failed to read or write file"},
    {8218, "Invalid PDT file length"},
    {8219, "Invalid PDT file extension, PDT format is xxx.bin"},
    {8220, "Failed to get driver version"},
    {8221, "Unsupported OS"},
    {8222, "No required privileges, run as Administrator"},
    {8223, "Invalid sensor luid format"},
    {8224, "Failed to get device address"},
    {8225, "Failed to load driver (PCI access for windows)"},
    {8226, "Bist failed"},
    {8227, "Could not execute BIST: no sensors configured on the device. Please check the PDT configuration"},
};

}  // namespace

const char* GetCodeMessage(int code) {
    for (const CodeRow& row : kCodes)
        if (row.code == code)
            return row.message;
    return nullptr;
}

const char* GetCodeText(int code, char* text, size_t size) {
    const char* message = GetCodeMessage(code);
    if (message == nullptr)
        // A code outside the table still names itself, so a failure never
        // goes without a reason.
        snprintf(text, size, "err_code:%d", code);
    else if (code == 0)
        snprintf(text, size, "%s", message);
    else
        snprintf(text, size, "err_code:%d, %s", code, message);
    return text;
}

void GetCodeList(char* text, size_t size) {
    size_t used = static_cast<size_t>(snprintf(text, size, "\nAvailable codes:\n\n"));
    for (const CodeRow& row : kCodes) {
        if (used >= size)
            break;
        used += static_cast<size_t>(snprintf(text + used, size - used, "%d : %s\n", row.code, row.message));
    }
}
