#ifndef BATCHPROGRAM_H
#define BATCHPROGRAM_H

#include "program.h"

// The batch program of a program description: runs the simulation without a
// window until both limits of "ini/par.ini" are reached, then ends through
// the normal exit path so that the chamber writes its histogram files, the
// shot its state file and the run its table of observables "observables.dat".
// Reads its options from the command line (--help lists them); returns the
// exit status (2 for a command line it cannot understand).
int runBatch(const Program& program, int argc, char** argv);

#endif
