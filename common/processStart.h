#ifndef PROCESSSTART_H
#define PROCESSSTART_H

// What every program does first, before it reads a file or writes one.
namespace processStart {

// * A standard descriptor (0, 1 or 2) that the caller left closed is opened
//   on /dev/null, so that no result file is ever opened on it and the
//   console lines cannot land in a result file.
// * SIGXFSZ is ignored: a write beyond the file-size limit then fails like
//   a full disk ("Error writing <name>", the earlier file kept) instead of
//   killing the process with a temporary file left behind.
// * The stop signals are caught (stopSignals::catchAll): one that comes
//   during start-up ends the run as soon as it begins, with every result
//   written.
void secure();

}  // namespace processStart

#endif
