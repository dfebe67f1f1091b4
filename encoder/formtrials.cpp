#include "formtrials.h"

#include "imagedata.h"
#include "pngwriter.h"

#include <orrim.h>

#include <memory>

namespace rasterpack {

namespace {

struct WriterRelease {
    void operator()(OptimizeWriter* w) const { destroyOptimizeWriter(w); }
};
using WriterHolder = std::unique_ptr<OptimizeWriter, WriterRelease>;

void reportProgress(void*, const char* line) { pm_message("%s", line); }

OptimizeSettings writerSettings(const PngForm* form, const FormTrialSettings* t) {
    ImageDataLayout layout = imageDataLayout(form);
    ImageDataOptions options;
    options.threads = t->threads;
    options.filter = t->filter;
    options.compression = t->compression;
    options.palette = form->colormapped;
    // What libpng's row writer would do with the same request: a candidate
    // always, so the result is never larger than the default's.
    LibpngChoice choice = libpngChoice(&layout, &options);
    OptimizeSettings s;
    s.threads = resolveThreadCount(t->threads);
    s.filter = t->filter;
    s.level = t->compression;
    s.palette = form->colormapped;
    s.exhaustive = t->exhaustive;
    s.defaultFilterTypes = choice.filterTypes;
    s.defaultDeflate = choice.deflate;
    if (t->verbose) s.progress = reportProgress;
    s.started = t->started;
    return s;
}

WriterHolder filledWriter(const PngForm* form, const FormTrialSettings* t, FormRowSource rows) {
    ImageDataLayout layout = imageDataLayout(form);
    OptimizeSettings s = writerSettings(form, t);
    const char* error = "";
    WriterHolder w(startOptimizeWriter(&layout, &s, &error));
    if (!w) pm_error("%s", error);
    if (!rows.fill(rows.context, form, w.get())) pm_error("%s", optimizeWriterError(w.get()));
    return w;
}

// The screened size of the image data plus the chunks that differ between
// candidates.
uint64_t screenedCost(OptimizeWriter* w, const PngForm* form, size_t sampleStep) {
    uint64_t size = 0;
    if (!screenOptimizeImage(w, sampleStep, &size)) pm_error("%s", optimizeWriterError(w));
    return size + formChunkBytes(form);
}

struct Choice {
    WriterHolder writer;
    PngForm form;
    bool isDefault = true;  // the default's form with its palette as built
};

// Keeps the smallest of the candidate forms (the first of equals).
Choice chooseForm(const FormCandidates* c, const FormTrialSettings* t, FormRowSource rows, size_t* sampleStep) {
    Choice best;
    best.form = c->forms[0];
    best.writer = filledWriter(&best.form, t, rows);
    *sampleStep = sampleStepFor(optimizeFilteredBytes(best.writer.get()));
    if (c->count == 1) return best;
    char text[80];
    uint64_t bestCost = screenedCost(best.writer.get(), &best.form, *sampleStep);
    for (int i = 1; i < c->count; ++i) {
        WriterHolder w = filledWriter(&c->forms[i], t, rows);
        uint64_t cost = screenedCost(w.get(), &c->forms[i], *sampleStep);
        if (t->verbose) {
            describeForm(&c->forms[i], text, sizeof text);
            pm_message("-optimize: the %s form: %llu bytes on the sample, against %llu", text,
                       static_cast<unsigned long long>(cost), static_cast<unsigned long long>(bestCost));
        }
        if (cost < bestCost) {
            bestCost = cost;
            best.writer = std::move(w);
            best.form = c->forms[i];
            best.isDefault = false;
        }
    }
    if (t->verbose) {
        describeForm(&best.form, text, sizeof text);
        pm_message("-optimize: writing the %s form", text);
    }
    return best;
}

// Tries the palette's entry orders on the chosen palette form.
void choosePaletteOrder(Choice* best, const FormTrialSettings* t, size_t sampleStep) {
    if (!best->form.colormapped || !t->reorderPalette) return;
    const int entries = best->form.colormap.paletteSize;
    IndexUse use = paletteIndexUse(best->writer.get(), size_t(entries));
    std::vector<NamedPaletteOrder> orders =
        candidatePaletteOrders(paletteColours(&best->form), use, size_t(best->form.colormap.transSize));
    if (orders.size() < 2) {
        if (t->verbose) pm_message("-optimize: palette entries in order as built (no other order differs)");
        return;
    }
    // Every order is taken from the palette as built, not from the best so far.
    WriterHolder asBuilt = std::move(best->writer);
    uint64_t bestCost = screenedCost(asBuilt.get(), &best->form, sampleStep);
    size_t bestOrder = 0;
    WriterHolder reordered;
    for (size_t k = 1; k < orders.size(); ++k) {
        const char* error = "";
        WriterHolder w(reorderedOptimizeWriter(asBuilt.get(), orders[k].order, &error));
        if (!w) pm_error("%s", error);
        uint64_t cost = screenedCost(w.get(), &best->form, sampleStep);
        if (t->verbose)
            pm_message("-optimize: palette order %s: %llu bytes on the sample", orders[k].name,
                       static_cast<unsigned long long>(cost));
        if (cost < bestCost) {
            bestCost = cost;
            bestOrder = k;
            reordered = std::move(w);
        }
    }
    if (t->verbose) pm_message("-optimize: palette entries in order %s", orders[bestOrder].name);
    if (bestOrder == 0) {
        best->writer = std::move(asBuilt);
        return;
    }
    best->writer = std::move(reordered);
    applyPaletteOrder(&best->form, orders[bestOrder].order.data(), entries);
    best->isDefault = false;
}

uint64_t fileBytes(const PngForm* form, const std::vector<uint8_t>& stream) {
    return idatBytes(stream.size()) + formChunkBytes(form);
}

// A winner other than the default's own form may still end larger than the
// default's output (the sample misled): then the default's output it is.
void keepDefaultWhenSmaller(const FormCandidates* c, const FormTrialSettings* t, FormRowSource rows,
                            OptimizedImage* image) {
    WriterHolder w = filledWriter(&c->forms[0], t, rows);
    OptimizedImage fallback;
    if (!finishWithDefaultTrial(w.get(), &fallback.result, &fallback.stream))
        pm_error("%s", optimizeWriterError(w.get()));
    fallback.form = c->forms[0];
    if (fileBytes(&fallback.form, fallback.stream) >= fileBytes(&image->form, image->stream)) return;
    if (t->verbose) pm_message("-optimize: the default's output is smaller after all: keeping it");
    *image = std::move(fallback);
}

}  // namespace

std::vector<PaletteColour> paletteColours(const PngForm* form) {
    const Colormap* cm = &form->colormap;
    std::vector<PaletteColour> colours(size_t(cm->paletteSize));
    for (int i = 0; i < cm->paletteSize; ++i) {
        colours[size_t(i)].r = cm->palette[i].r;
        colours[size_t(i)].g = cm->palette[i].g;
        colours[size_t(i)].b = cm->palette[i].b;
        colours[size_t(i)].alpha = cm->paletteAlpha[i];
    }
    return colours;
}

OptimizedImage optimizeForms(const FormCandidates* candidates, const FormTrialSettings* settings,
                             FormRowSource rows) {
    size_t sampleStep = 1;
    Choice best = chooseForm(candidates, settings, rows, &sampleStep);
    choosePaletteOrder(&best, settings, sampleStep);
    OptimizedImage image;
    image.form = best.form;
    if (!finishOptimizeWriter(best.writer.get(), &image.result, &image.stream))
        pm_error("%s", optimizeWriterError(best.writer.get()));
    best.writer.reset();
    if (!best.isDefault) keepDefaultWhenSmaller(candidates, settings, rows, &image);
    return image;
}

}  // namespace rasterpack
