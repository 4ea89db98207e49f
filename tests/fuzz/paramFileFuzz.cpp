// Fuzz target of the parameter-file reader. The first byte of an input
// chooses the layout ('0' run parameters, '1' shot, '2' the flavour's
// chamber: box or cylinder; any byte, taken modulo 3), the rest is the file.
// It is read by the class itself under a ParamFile::Trial, so a refused file
// is recorded instead of ending the process. A file that is accepted must
// hold finite values inside their ranges.

#include <unistd.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "par.h"
#include "paramFile.h"
#include "shot.h"
#include "scratchDirectory.h"

#ifdef DRUMSIM
#include "cylinder.h"
using ChamberType = Cylinder;
#else
#include "box.h"
using ChamberType = Box;
#endif

namespace {

const char* const kInput = "input.ini";

void require(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // A directory of its own, in memory where there is a memory file system
  // (every input is a file, and a chamber opens its impact maps and writes
  // its empty histograms into the working directory).
  if (!enterScratchDirectory()) std::abort();
  // The classes' console lines are of no interest here.
  if (std::freopen("/dev/null", "w", stdout) == nullptr) std::abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  {
    std::ofstream os(kInput, std::ios::binary | std::ios::trunc);
    os.write(reinterpret_cast<const char*>(data + 1), static_cast<std::streamsize>(size - 1));
  }
  ParamFile::Trial trial;
  switch (data[0] % 3) {
    case 0: {
      Par par(kInput);
      if (!trial.failed()) {
        require(par.tStep() > 0.0 && std::isfinite(par.tStep()));
        require(par.tMax() >= 0.0 && std::isfinite(par.tMax()) && par.ncolmax() >= 0);
      }
      break;
    }
    case 1: {
      Shot shot(kInput);
      if (!trial.failed()) {
        require(shot.n() >= 1 && shot.n() <= 10000000);
        require(shot.diam() > 0.0 && std::isfinite(shot.diam()));
      }
      break;
    }
    default: {
      ChamberType chamber(kInput);
      if (!trial.failed()) {
        require(chamber.gravity() > 0.0 && std::isfinite(1.0 / chamber.gravity()));
        require(std::fabs(chamber.baseHeight()) <= 1e308 && std::isfinite(chamber.height0()));
        require(chamber.baseDirection() == 1 || chamber.baseDirection() == -1);
      }
      break;
    }
  }
  return 0;
}
