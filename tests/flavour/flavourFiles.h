#ifndef FLAVOURFILES_H
#define FLAVOURFILES_H

#include "program.h"

// The programs and parameter files of the flavour a test binary is built
// for: drumsim's with DRUMSIM defined, cratesim's otherwise.
#ifdef DRUMSIM
constexpr bool kDrum = true;
constexpr const char* kBatch = "drumsim-batch";
constexpr const char* kWindow = "drumsim";
constexpr const char* kChamberFile = "ini/cyl.ini";
constexpr const char* kChamberGLFile = "ini/cylGL.ini";
#else
constexpr bool kDrum = false;
constexpr const char* kBatch = "cratesim-batch";
constexpr const char* kWindow = "cratesim";
constexpr const char* kChamberFile = "ini/box.ini";
constexpr const char* kChamberGLFile = "ini/boxGL.ini";
#endif

inline const Program& testProgram() { return kDrum ? drumsim() : cratesim(); }

#endif
