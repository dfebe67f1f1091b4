// Fuzzes colour-text parsing at a few maxvals.
#include <orrim.h>

#include <cstdint>
#include <string>

namespace {

struct FatalInput {};

[[noreturn]] void throwFatal() { throw FatalInput{}; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool ready = false;
    if (!ready) {
        pm_setfatalhandler(throwFatal);
        ready = true;
    }
    std::string text(reinterpret_cast<const char*>(data), size);
    for (Sample maxval : {Sample(1), Sample(255), Sample(65535)}) {
        try {
            Pixel p = ppm_parsecolor(text.c_str(), maxval);
            if (p.r > maxval || p.g > maxval || p.b > maxval) __builtin_trap();
        } catch (const FatalInput&) {
        }
    }
    return 0;
}
