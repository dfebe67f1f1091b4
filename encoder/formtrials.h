// -optimize's choice among the forms of one image and the orders of a
// palette's entries: each candidate's rows are screened on the same sampled
// blocks, the smallest (image data and the chunks that differ) goes through
// the whole optimiser, and the default's own output is the floor: a winner
// that ends larger than it gives way to it.
#ifndef RASTERPACK_FORMTRIALS_H
#define RASTERPACK_FORMTRIALS_H

#include "form.h"
#include "optimize.h"

#include <chrono>
#include <cstdint>
#include <vector>

namespace rasterpack {

struct FormTrialSettings {
    int threads = 1;       // as -threads; 0: one per available core
    int filter = -1;       // -filter, or -1
    int compression = -1;  // -compression, or -1
    bool exhaustive = false;
    bool reorderPalette = true;  // false when a -palette file gives the order
    bool verbose = false;
    std::chrono::steady_clock::time_point started{};
};

// Puts every row of every pass of the image, encoded in form, into writer;
// false when the writer refused one (its error says why).
struct FormRowSource {
    void* context = nullptr;
    bool (*fill)(void* context, const PngForm* form, OptimizeWriter* writer) = nullptr;
};

struct OptimizedImage {
    PngForm form;
    std::vector<uint8_t> stream;  // the zlib stream of its image data
    OptimizeResult result;
};

// The smallest image among the candidates (candidates->forms[0]: the
// default's form). A failure ends the run with the writer's message.
OptimizedImage optimizeForms(const FormCandidates* candidates, const FormTrialSettings* settings,
                             FormRowSource rows);

// The palette's entries as the order heuristics see them.
std::vector<PaletteColour> paletteColours(const PngForm* form);

}  // namespace rasterpack

#endif
