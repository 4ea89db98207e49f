#include "par.h"

#include <cstring>
#include <iostream>

#include "lifecycle.h"
#include "parameterFiles.h"

#ifdef DRUMSIM
Par::Par(const RunDef& def)
    : ncolmax_(def.event_limit), restart_file_(nullptr), tstep_(def.step),
      tmax_(def.time_limit) {
  if (def.restart != 0) {
    restart_file_ = new char[def.state_file.size() + 1];
    std::memcpy(restart_file_, def.state_file.c_str(), def.state_file.size() + 1);
  }
}
#else
Par::Par(const RunDef& def)
    : restart_(def.restart), ncolmax_(def.event_limit), tstep_(def.step),
      tmax_(def.time_limit) {
  if (def.restart != 0) restart_file_ = def.state_file;
}
#endif

Par::Par(const char* filename) : Par(readRunDef(filename)) {}

#ifdef DRUMSIM
Par::~Par() { delete[] restart_file_; }
#else
Par::~Par() {}

const char* Par::restartFile() const {
  if (restart_ == 0) {
    std::cerr << "No restart filename available" << std::endl;
    lifecycle::fail();
  }
  return restart_file_.c_str();
}
#endif
