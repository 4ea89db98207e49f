// Fuzz target of the state-file reader: an input is a state file for a shot
// of eight spheres, read as the programs read one (six numbers a sphere; a
// stream that fails is refused). A state that is read is checked against a
// box and a cylinder, and where the check passes the shot predicts its
// first event in that chamber, as a run would start from it.

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
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

void writeFile(const char* name, const char* text) {
  std::filesystem::create_directories(std::filesystem::path(name).parent_path());
  std::ofstream(name) << text;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  if (!enterScratchDirectory()) std::abort();
  if (std::freopen("/dev/null", "w", stdout) == nullptr) std::abort();
  writeFile("ini/shot.ini", "8 1\n0.3 1 0\n0.9 1\n0.001\n");
  writeFile("ini/box.ini", "5 5 20\n0.5 1\n3.924\n0.9 1\n0.9 1\n0.9 1\n0.001\n0 1\n0\n4 4\n");
  writeFile("ini/cyl.ini", "5.5 20\n0.5 1\n3.924\n0.9 1\n0.9 1\n0.9 1\n0.05\n0.001\n0 1\n0\n4\n");
  g_shot = new Shot("ini/shot.ini");
  g_chambers[0] = new Box("ini/box.ini");
  g_chambers[1] = new Cylinder("ini/cyl.ini");
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
