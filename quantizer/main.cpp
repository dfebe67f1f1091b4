// huecut: reduces a PPM image (or a PBM, PGM or alpha-less PAM) to a few
// colours, chosen by median cut or taken from a map image, optionally with
// Floyd-Steinberg dithering.
#include "quantize.h"

#include <orrim.h>

int main(int argc, char** argv) {
    ppm_init(&argc, argv);
    return huecut::runCommandLine(argc, argv, stdin, stdout);
}
