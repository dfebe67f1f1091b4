#include "programs.h"

#include "quantize.h"

namespace testkit {

const InProcessProgram HUECUT{"huecut", huecut::runCommandLine};

}  // namespace testkit
