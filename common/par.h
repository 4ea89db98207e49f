#ifndef PAR_H
#define PAR_H

#include <string>

#include "definitions.h"

// Run-wide parameters (RunDef, "ini/par.ini"): where the shot starts from,
// the time step of the experiment and the two limits of a batch run.
//
// The two programs keep the restart choice differently: drumsim keeps only
// the name (null without restart) and reloads it at every reset; cratesim
// keeps the flag and the name and starts from the file once.
class Par {
 public:
  explicit Par(const RunDef& def);
  // Reads the file (a bad file ends the process with "Error reading <filename>").
  explicit Par(const char* filename);
  ~Par();
  Par(const Par&) = delete;
  Par& operator=(const Par&) = delete;

  int ncolmax() const { return ncolmax_; }
  double tStep() const { return tstep_; }
  double tMax() const { return tmax_; }

#ifdef DRUMSIM
  // The state file to start every run from, or null for random placement.
  const char* restartFile() const { return restart_file_; }
#else
  int restart() const { return restart_; }
  // The state file to start from; asking without a restart flag is fatal.
  const char* restartFile() const;
#endif

 private:
#ifdef DRUMSIM
  int ncolmax_;
  char* restart_file_;  // owned; null when the restart flag is zero
  double tstep_;
  double tmax_;
#else
  int restart_;
  int ncolmax_;
  std::string restart_file_;  // any length; empty without restart
  double tstep_;
  double tmax_;
#endif
};

#endif
