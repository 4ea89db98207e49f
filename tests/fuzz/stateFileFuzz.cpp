// Fuzz target of the state-file reader: an input is a state file for a shot
// of eight spheres, read as the programs read one (six numbers a sphere; a
// stream that fails is refused). A state that is read is checked against a
// box and a cylinder, and where the check passes the shot predicts its
// first event in that chamber, as a run would start from it.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>

#include "box.h"
#include "cylinder.h"
#include "shot.h"
#include "scratchDirectory.h"

namespace {

// Never destroyed: a shot writes its state file and a chamber its
// histograms when they are.
Shot* g_shot = nullptr;
Chamber* g_chambers[2] = {nullptr, nullptr};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  if (!enterScratchDirectory()) std::abort();
  if (std::freopen("/dev/null", "w", stdout) == nullptr) std::abort();
  // The shipped shot and chambers, cut to 8 spheres on a stroke of 0.5,
  // without impact maps.
  ShotDef shot;
  shot.count = 8;
  ChamberDef chamber;
  chamber.amplitude = 0.5;
  chamber.maps = 0;
  BoxDef box;
  box.chamber = chamber;
  CylinderDef cylinder;
  cylinder.chamber = chamber;
  g_shot = new Shot(shot);
  g_chambers[0] = new Box(box);
  g_chambers[1] = new Cylinder(cylinder);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::istringstream is(std::string(reinterpret_cast<const char*>(data), size));
  g_shot->readState(is);
  if (is.fail()) return 0;
  for (Chamber* chamber : g_chambers) {
    g_shot->set(*chamber);
    if (g_shot->checkPlacement(*chamber) != Shot::Placement::Good) continue;
    g_shot->detect();
    g_shot->detect(*chamber);
  }
  return 0;
}
