#ifndef RUNDIRECTORY_H
#define RUNDIRECTORY_H

// The current directory as the home of one run at a time.
namespace runDirectory {

// Takes an exclusive lock on the directory itself (flock on it, no lock
// file), held until the process ends, however it ends: the kernel releases
// it. When another process holds it, reports "Run directory <shown> is in
// use by another run" and returns false; nothing is written. Once the lock
// is held, the temporaries "<name>.<pid>.tmp" that a process no longer
// alive left behind (killed by SIGKILL, say) are removed from the directory
// and from its "snapshots" folder.
bool claim(const char* shown);

}  // namespace runDirectory

#endif
