// The suite's three programs as testkit::runInProcess runs them. Each lives
// in a library of its own (link inprocess_rasterpack, inprocess_rasterunpack
// or inprocess_huecut), since the programs' headers share file names.
#ifndef PROGRAMS_H
#define PROGRAMS_H

#include "inprocess.h"

namespace testkit {

extern const InProcessProgram RASTERPACK;
extern const InProcessProgram RASTERUNPACK;
extern const InProcessProgram HUECUT;

}  // namespace testkit

#endif
