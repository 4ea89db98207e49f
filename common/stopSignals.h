#ifndef STOPSIGNALS_H
#define STOPSIGNALS_H

// SIGINT, SIGTERM, SIGHUP, SIGPIPE and SIGQUIT (Ctrl-C, a kill, a closed
// terminal, a reader of standard output that went away, Ctrl-\) asking a
// running program to stop: once caught, each only records that it came, and
// the program ends its run at a moment of its choosing through the normal
// exit path, so that every result file is written. Its status is then
// 128 + the signal's number, as a shell reports a process the signal ended.
// SIGQUIT thus dumps no core. A write to a closed standard output fails
// (EPIPE) instead of killing the process.
namespace stopSignals {

// From now on the five signals are recorded instead of ending the process.
void catchAll();

// The number of the last of them that came; 0 while none has.
int received();

}  // namespace stopSignals

#endif
