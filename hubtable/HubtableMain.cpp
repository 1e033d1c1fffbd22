#include "HubtableMain.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>

#include "PDT.h"
#include "file/AtomicFile.h"

namespace {

const size_t kMaxPdtSize = 3990;

std::string buildUsage(const CmdLineArguments::Format&, const std::string& program) {
    return "\nUsage:\n\n" + program + " [-command]" + "\n" + "Where command includes:" + "\n" + "\t" +
           " -SetPDT <bin-file-path> [-Test <level>]" + "\t" + ":Set PDT table from binary file [and then run BIST]" +
           "\n" + "\t" + " -GetPDT <bin-file-path>" + "\t\t\t" + ":Get PDT table into binary file" + "\n";
}

bool isReadableFile(const std::string& path) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return false;
    std::ifstream in(path, std::ios::binary);
    return in.good();
}

void validateHubtableRules(const CmdLineArguments& args) {
    if (args.ArgExists("SetPDT") && !isReadableFile(args.GetArgValue("SetPDT")))
        throw CmdLineException("Cannot read input file " + args.GetArgValue("SetPDT"));
}

bool endsWithBin(const std::string& path) {
    return path.size() >= 4 && CompareStringCaseSensitive(path.substr(path.size() - 4), ".bin");
}

std::vector<char> readImage(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<char> image;
    char chunk[4096];
    // Read no more than one byte past the limit: a huge file is refused without loading it.
    while (in && image.size() <= kMaxPdtSize) {
        in.read(chunk, sizeof chunk);
        image.insert(image.end(), chunk, chunk + in.gcount());
    }
    if (in.bad())
        throw CmdLineException("Cannot read input file " + path);
    if (image.size() > kMaxPdtSize)
        throw DoxiException("Too large PDT file, cannot be larger than " + std::to_string(kMaxPdtSize) + " bytes");
    if (image.empty())
        throw DoxiException("Empty PDT file, nothing to set");
    return image;
}

// The "Test" value as a level; anything but a small decimal number is no level.
int parseLevel(const std::string& text) {
    if (!is_number(text) || text.size() > 3)
        return -1;
    return std::stoi(text);
}

// Runs the command; 1 when the self test found failing sensors, else 0.
int run(PDT& pdt, const CmdLineArguments& args) {
    if (args.ArgExists("SetPDT")) {
        const std::string path = args.GetArgValue("SetPDT");
        if (!endsWithBin(path))
            throw CmdLineException("Invalid input file, must end with .bin");
        const std::vector<char> image = readImage(path);
        pdt.setPdt(image);
        pdt.resetTsy();
        std::cout << "Success setting PDT." << std::endl;
        if (args.ArgExists("Test")) {
            // Give the firmware time to restart.
            for (int i = 0; i < 3000; ++i)
                usleep(1000);
            const int level = parseLevel(args.GetArgValue("Test"));
            int overall = 0;
            const std::vector<testResult> results = pdt.selfTest(level, overall);
            std::string text = "Self Test Result:\nTest Level: " + PDT::testLevelMsg(level) + "\n" +
                               PDT::testResultMsg(overall) + "\n";
            for (const testResult& r : results)
                text += "Sensor LUID: \t" + r.luid + "\tResult: " + r.result + "\n";
            std::cout << text;
            // Failing sensors fail the run; the result line above says why.
            return overall == 2 ? 1 : 0;
        }
        return 0;
    }
    const std::string path = args.GetArgValue("GetPDT");
    if (!endsWithBin(path))
        throw CmdLineException("Invalid output file, must end with .bin");
    const std::vector<char> image = pdt.getPdt();
    // Beside its name and renamed into place: the file is whole or not there.
    if (!atomicfile::write(path, image.data(), image.size()))
        throw DoxiException("Cannot write output file " + path);
    std::cout << "Success." << std::endl;
    return 0;
}

}  // namespace

CmdLineArguments createHubtableArguments() {
    CmdLineArguments::Format format;
    format.AddArg("SetPDT", true, false, true, "Set PDT table from binary file", 0x04, "<bin-file-path>", true);
    format.AddArg("GetPDT", true, false, true, "Get PDT table into binary file", 0x00, "<bin-file-path>", true);
    format.AddArg("Test", true, false, false, "Run BIST", 0x04, "<level>", true);
    format.setUsageBuilder(buildUsage);
    return CmdLineArguments(format, validateHubtableRules);
}

int hubtableMain(int argc, char** argv) {
    CmdLineArguments args = createHubtableArguments();
    try {
        PDT pdt;
        args.Parse(argc, argv, true);
        return run(pdt, args);
    } catch (const CmdLineException& e) {
        const std::string path = argc > 0 && argv != nullptr && argv[0] != nullptr ? argv[0] : "";
        std::cout << e.what() << "\n" << args.getFormat().CreateUsage(path, "") << std::endl;
    } catch (const std::exception& e) {
        std::cout << "Failed.\n" << e.what() << std::endl;
    }
    return 1;
}
