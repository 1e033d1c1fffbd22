#include "HubctlMain.h"

int main(int argc, char** argv) {
    return hubctlMain(argc, argv);
}
