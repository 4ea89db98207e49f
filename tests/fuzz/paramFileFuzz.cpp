// Fuzz target of the parameter-file readers. The first byte of an input
// chooses the layout ('0' run parameters, '1' shot, '2' box, '3' cylinder;
// any byte, taken modulo 4), the rest is the file. It is read into its
// definition under a ParamFile::Trial, so a refused file is recorded instead
// of ending the process. A file that is accepted must give finite values
// inside their ranges.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "parameterFiles.h"
#include "scratchDirectory.h"

namespace {

const char* const kInput = "input.ini";

void require(bool condition) {
  if (!condition) std::abort();
}

void requireChamber(const ChamberDef& c) {
  require(c.gravity > 0.0 && std::isfinite(1.0 / c.gravity));
  require(std::fabs(c.base_start) <= c.amplitude && std::isfinite(c.height));
  require(std::isfinite(4.0 * c.amplitude / c.period));
  require(c.base_direction == 1 || c.base_direction == -1);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // A directory of its own, in memory where there is a memory file system
  // (every input is a file).
  if (!enterScratchDirectory()) std::abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  {
    std::ofstream os(kInput, std::ios::binary | std::ios::trunc);
    os.write(reinterpret_cast<const char*>(data + 1), static_cast<std::streamsize>(size - 1));
  }
  ParamFile::Trial trial;
  switch (data[0] % 4) {
    case 0: {
      const RunDef def = readRunDef(kInput);
      if (!trial.failed()) {
        require(def.step > 0.0 && std::isfinite(def.step));
        require(def.time_limit >= 0.0 && std::isfinite(def.time_limit) && def.event_limit >= 0);
        require(def.restart == 0 || !def.state_file.empty());
      }
      break;
    }
    case 1: {
      const ShotDef def = readShotDef(kInput);
      if (!trial.failed()) {
        require(def.count >= 1 && def.count <= 10000000);
        require(def.diameter > 0.0 && std::isfinite(def.diameter));
      }
      break;
    }
    case 2: {
      const BoxDef def = readBoxDef(kInput);
      if (!trial.failed()) {
        requireChamber(def.chamber);
        require(def.half_x > 0.0 && def.half_y > 0.0 && def.source == kInput);
      }
      break;
    }
    default: {
      const CylinderDef def = readCylinderDef(kInput);
      if (!trial.failed()) {
        requireChamber(def.chamber);
        require(def.radius > 0.0 && def.rings >= 1);
      }
      break;
    }
  }
  return 0;
}
