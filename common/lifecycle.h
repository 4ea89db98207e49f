#ifndef LIFECYCLE_H
#define LIFECYCLE_H

// How a fatal error ends the process depends on how far the program has come.
//
// * Start-up (objects being built, parameter and state files being read): the
//   objects are half built and hold nothing worth saving, so the process ends
//   at once with status 1 and no destructor runs (no result file is written).
// * Running: the process ends through its normal exit path, so the chamber
//   and the shot write their result files, and the status is the one given.
// * Tearing down (destructors of the program objects at exit): a failing write
//   is reported and the teardown goes on, so that one failed file does not cost
//   the others; the process still ends with status 1.
//
// The programs call beginProcess() before building their objects and
// beginRun() once start-up is over. Code that never calls them (the unit tests)
// stays in the start-up phase.
namespace lifecycle {

enum class Phase { StartUp, Running, TearingDown };

Phase phase();

// Registers the handler that gives the process its final status once every
// program object is destroyed. Call before the first object that writes a
// result file is built.
void beginProcess();

// Start-up is over: failures from now on take the normal exit path.
void beginRun();

// Ends the process with status 1 as the phase requires. During teardown it
// records the failure and returns, and the caller skips what it cannot do.
void fail();

// Records a failure that does not stop the run (a result file that could
// not be written while the others still can): the process goes on and ends
// with status 1.
void failAtEnd();

// Ends the process through the normal exit path with the given status
// (used by the batch programs when they are interrupted).
[[noreturn]] void exitRun(int status);

// Removes the temporaries of the result files not yet written, flushes the
// standard streams and ends the process at once, without destructors.
[[noreturn]] void exitNow(int status);

}  // namespace lifecycle

#endif
