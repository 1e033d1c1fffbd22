#include "Entry.h"

int main(int argc, char** argv) {
    return sensortrimMain(argc, argv);
}
