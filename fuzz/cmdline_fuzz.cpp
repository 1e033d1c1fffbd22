// Splits the input on NUL bytes into a command line for the calibration tool.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "SensortrimCmdLine.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::string> words{"sensortrim"};
    std::string current;
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == 0) {
            words.push_back(current);
            current.clear();
        } else {
            current += static_cast<char>(data[i]);
        }
    }
    words.push_back(current);
    std::vector<const char*> argv;
    for (const std::string& w : words)
        argv.push_back(w.c_str());
    argv.push_back(nullptr);

    CmdLineArguments args = createSensortrimArguments();
    try {
        args.Parse(static_cast<int>(words.size()), argv.data(), true);
    } catch (const CmdLineException&) {
    }
    (void)args.getFormat().CreateUsage(words[0], "");
    return 0;
}
