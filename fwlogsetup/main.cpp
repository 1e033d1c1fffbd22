#include "FwlogsetupMain.h"

int main(int argc, char** argv) {
    return fwlogsetupMain(argc, argv);
}
