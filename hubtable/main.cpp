#include "HubtableMain.h"

int main(int argc, char** argv) {
    return hubtableMain(argc, argv);
}
