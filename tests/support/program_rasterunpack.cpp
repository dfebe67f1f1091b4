#include "programs.h"

#include "commandline.h"

namespace testkit {

const InProcessProgram RASTERUNPACK{"rasterunpack", rasterunpack::runCommandLine};

}  // namespace testkit
