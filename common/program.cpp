#include "program.h"

const Program& cratesim() {
  static const Program program{"cratesim",
                               "cratesim-batch",
                               ChamberKind::kBox,
                               "ini/box.ini",
                               "ini/boxGL.ini",
                               "collisions",
                               RunStart::kStateFileOnce,
                               "",
                               800,
                               800,
                               -1,
                               -1,
                               false,
                               false};
  return program;
}

const Program& drumsim() {
  // Along the curved side wall a sphere can also skim ever shorter chords.
  static const Program program{
      "drumsim",
      "drumsim-batch",
      ChamberKind::kCylinder,
      "ini/cyl.ini",
      "ini/cylGL.ini",
      "events",
      RunStart::kStateFileEveryRun,
      ", as does a higher minimum radial rebound speed at the side wall",
      500,
      704,
      520,
      0,
      true,
      true};
  return program;
}
