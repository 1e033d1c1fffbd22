#include "FwlogtapMain.h"

int main(int argc, char** argv) {
    return fwlogtapMain(argc, argv);
}
