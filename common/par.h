#ifndef PAR_H
#define PAR_H

#include <string>

#include "definitions.h"

// Run-wide parameters (RunDef, "ini/par.ini"): where the shot starts from,
// the time step of the experiment and the two limits of a batch run.
class Par {
 public:
  explicit Par(const RunDef& def);
  // Reads the file (a bad file ends the process with "Error reading <filename>").
  explicit Par(const char* filename);
  Par(const Par&) = delete;
  Par& operator=(const Par&) = delete;

  int ncolmax() const { return ncolmax_; }
  double tStep() const { return tstep_; }
  double tMax() const { return tmax_; }
  int restart() const { return restart_; }
  // The state file to start from; null without a restart flag.
  const char* restartFile() const { return restart_ != 0 ? restart_file_.c_str() : nullptr; }

 private:
  int restart_;
  std::string restart_file_;  // any length; empty without restart
  int ncolmax_;
  double tstep_;
  double tmax_;
};

#endif
