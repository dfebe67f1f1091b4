#include "programs.h"

#include "program.h"

namespace testkit {

const InProcessProgram RASTERPACK{"rasterpack", rasterpack::runCommandLine};

}  // namespace testkit
