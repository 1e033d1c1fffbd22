#include "ExportFolder.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <vector>

#include "Exceptions.h"
#include "FileUtil.h"

namespace {

const char* const kRunFiles[] = {"currentCalibration.xml", "resultCalibration.xml", "LogFile.xml",
                                 "AGMLogFile.xml",         "AlsLogFile.xml",        "error.log",
                                 "runEnd.xml",             "calibration-report.html", "unwrittenCalibration.xml"};

bool isDump(const std::string& name) {
    return name.size() > 12 && name.compare(0, 8, "dataDump") == 0 && name.compare(name.size() - 4, 4, ".csv") == 0;
}

std::string reason() {
    return std::strerror(errno);
}

}  // namespace

std::string prepareExportFolder(const std::string& folder, bool keepDumps) {
    std::string path = folder;
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    const size_t slash = path.find_last_of('/');
    errno = 0;
    // A file where a folder should be is named as such.
    auto failure = [&path]() {
        return CalibrationException("Cannot make the export folder " + path + ": " +
                                    (errno == EEXIST ? std::string("a file is in the way") : reason()));
    };
    if (slash != std::string::npos && slash > 0 && !makePath(path.substr(0, slash)))
        throw failure();
    if (mkdir(path.c_str(), 0775) != 0 && !(errno == EEXIST && isDirExist(path)))
        throw failure();
    // Written once, before any work: a folder the run cannot write fails now.
    const std::string probe = path + "/.sensortrim-write-test";
    const int fd = open(probe.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0)
        throw CalibrationException("Cannot write to the export folder " + path + ": " + reason());
    close(fd);
    unlink(probe.c_str());

    std::vector<std::string> earlier;
    time_t newest = 0;
    if (DIR* dir = opendir(path.c_str())) {
        while (const dirent* entry = readdir(dir)) {
            const std::string name = entry->d_name;
            bool ours = isDump(name) && !keepDumps;
            for (const char* file : kRunFiles)
                ours = ours || name == file;
            struct stat info {};
            if (!ours || stat((path + "/" + name).c_str(), &info) != 0 || !S_ISREG(info.st_mode))
                continue;
            earlier.push_back(name);
            newest = std::max(newest, info.st_mtime);
        }
        closedir(dir);
    }
    if (earlier.empty())
        return "";
    std::tm local {};
    localtime_r(&newest, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d-%H%M%S", &local);
    std::string keep = path + "/earlier-run-" + stamp;
    for (int n = 2; isDirExist(keep) || fileExists(keep); ++n)
        keep = path + "/earlier-run-" + stamp + "-" + std::to_string(n);
    if (mkdir(keep.c_str(), 0775) != 0)
        throw CalibrationException("Cannot keep the earlier run's files in " + keep + ": " + reason());
    for (const std::string& name : earlier)
        if (std::rename((path + "/" + name).c_str(), (keep + "/" + name).c_str()) != 0)
            throw CalibrationException("Cannot move " + path + "/" + name + " to " + keep + ": " + reason());
    return keep;
}
