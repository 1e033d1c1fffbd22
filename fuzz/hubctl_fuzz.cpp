// hubctl's own parsing of outside input: the "-LUID" list of a self test, its
// command line, and a PDT image file (any bytes, any length) with the
// firmware's PDT answer.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "args.h"
#include "commands.h"
#include "device/Smhi.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::string list = text.substr(0, text.find('\0'));
    for (const LuidWord& word : ParseLuidList(list.c_str())) {
        if (word.valid && word.text.size() != 16)
            __builtin_trap();
    }

    // The bytes split at blanks as a command line.
    std::vector<std::string> words;
    for (size_t from = 0; from < list.size();) {
        const size_t blank = list.find(' ', from);
        const size_t end = blank == std::string::npos ? list.size() : blank;
        if (end > from)
            words.push_back(list.substr(from, end - from));
        from = end + 1;
    }
    std::vector<const char*> argv{"hubctl"};
    for (const std::string& w : words)
        argv.push_back(w.c_str());
    CmdRecord record{};
    CmdLine_Parse(static_cast<int>(argv.size()), argv.data(), &record);

    static const std::string path = "/tmp/fuzz_hubctl_" + std::to_string(getpid()) + ".bin";
    if (FILE* f = std::fopen(path.c_str(), "wb")) {
        std::fwrite(data, 1, size, f);
        std::fclose(f);
        std::vector<uint8_t> image;
        // A file the tool takes is an image it can send: 1 to 3990 bytes.
        if (PDT_ReadFile(path.c_str(), image) == 0 && (image.empty() || image.size() > 3990))
            __builtin_trap();
        std::remove(path.c_str());
    }
    std::vector<uint8_t> pdt;
    smhi::parsePdt(doxi::ByteView(data, size), pdt);
    return 0;
}
