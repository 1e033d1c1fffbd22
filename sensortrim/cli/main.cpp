#include <malloc.h>

#include "Entry.h"

int main(int argc, char** argv) {
    // A calibration works through recordings of millions of samples, taking
    // and giving back buffers of a few megabytes per step and axis. Kept in
    // the heap, freed buffers are reused instead of being returned to the
    // system and faulted in again page by page; only the blocks a played dump
    // is released in (larger than this) go back to the system at once.
    mallopt(M_MMAP_THRESHOLD, 4 << 20);
    mallopt(M_TRIM_THRESHOLD, 128 << 20);
    return sensortrimMain(argc, argv);
}
