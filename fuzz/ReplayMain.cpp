// Runs a fuzz target's entry point over every file of the folders (or files)
// it is given, so the corpora are replayed by the normal test suite, built
// with any compiler and with the sanitizers of the build.
#include <dirent.h>
#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

bool replay(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::printf("cannot read %s\n", path.c_str());
        return false;
    }
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    size_t count = 0;
    for (int i = 1; i < argc; ++i) {
        struct stat info {};
        if (stat(argv[i], &info) != 0) {
            std::printf("no such corpus: %s\n", argv[i]);
            return 1;
        }
        if (!S_ISDIR(info.st_mode)) {
            if (!replay(argv[i]))
                return 1;
            ++count;
            continue;
        }
        DIR* dir = opendir(argv[i]);
        if (dir == nullptr)
            return 1;
        while (dirent* entry = readdir(dir)) {
            const std::string name = entry->d_name;
            if (name == "." || name == "..")
                continue;
            if (!replay(std::string(argv[i]) + "/" + name)) {
                closedir(dir);
                return 1;
            }
            ++count;
        }
        closedir(dir);
    }
    std::printf("replayed %zu inputs\n", count);
    return count > 0 ? 0 : 1;
}
