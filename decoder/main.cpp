// rasterunpack: converts a PNG image to PBM, PGM or PPM on standard output.
#include "commandline.h"

#include <orrim.h>

#include <cstdio>

int main(int argc, char** argv) {
    pnm_init(&argc, argv);
    return rasterunpack::runCommandLine(argc, argv, stdin, stdout);
}
