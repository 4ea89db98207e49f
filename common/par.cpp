#include "par.h"

#include "parameterFiles.h"

Par::Par(const RunDef& def)
    : restart_(def.restart),
      restart_file_(def.restart != 0 ? def.state_file : std::string()),
      ncolmax_(def.event_limit),
      tstep_(def.step),
      tmax_(def.time_limit) {}

Par::Par(const char* filename) : Par(readRunDef(filename)) {}
