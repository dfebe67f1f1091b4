// rasterpack: converts a PBM, PGM or PPM image to PNG on standard output.
#include "program.h"

#include <orrim.h>

#include <cstdio>

int main(int argc, char** argv) {
    pnm_init(&argc, argv);
    return rasterpack::runCommandLine(argc, argv, stdin, stdout);
}
