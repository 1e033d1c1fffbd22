#include "Console.h"

#include <sys/stat.h>
#include <sys/time.h>

#include <cstdio>
#include <iostream>

void setColor(textColors color) {
    switch (color) {
    case red:
        std::cout << "\033[01;31m";
        break;
    case green:
        std::cout << "\033[01;32m";
        break;
    default:
        break;
    }
}

void resetColor() {
    std::cout << "\033[0m";
}

long long millisecond() {
    struct timeval now {};
    if (gettimeofday(&now, nullptr) != 0)
        return 0;
    return static_cast<long long>(now.tv_sec) * 1000 + now.tv_usec / 1000;
}

bool folderExists(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::string luidToString(const _sc_sensor_luid& luid) {
    return luidHexKey(luid);
}
