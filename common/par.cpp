#include "par.h"

#include <cstring>
#include <iostream>

#include "lifecycle.h"
#include "paramFile.h"

#ifdef DRUMSIM
Par::Par(const char* filename)
    : ncolmax_(0), restart_file_(nullptr), tstep_(0.0), tmax_(0.0) {
#else
Par::Par(const char* filename)
    : restart_(0), ncolmax_(0), tstep_(0.0), tmax_(0.0) {
#endif
  ParamFile file(filename);
  int restart = 0;
  std::string name;
  file >> restart;
  if (restart != 0) file >> name;
  file.endLine();
  file >> tstep_;
  file.endLine();
  file >> ncolmax_;
  file.endLine();
  file >> tmax_;
  file.endLine();
  // A step that is not positive would make a batch run loop for ever.
  file.require(tstep_ > 0.0);
  file.require(ncolmax_ >= 0);
  file.require(tmax_ >= 0.0);
  // A step lost in the rounding of the time limit could never reach it.
  file.require(tmax_ + tstep_ > tmax_);
  file.close();

#ifdef DRUMSIM
  if (restart != 0) {
    restart_file_ = new char[name.size() + 1];
    std::memcpy(restart_file_, name.c_str(), name.size() + 1);
  }
#else
  restart_ = restart;
  if (restart != 0) restart_file_ = name;
#endif
}

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
