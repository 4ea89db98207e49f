#include "runDirectory.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>

namespace runDirectory {
namespace {

// The pid of a temporary's name "<name>.<pid>.tmp"; 0 for any other name.
long temporaryOwner(const char* name) {
  const std::size_t length = std::strlen(name);
  if (length < 6 || std::strcmp(name + length - 4, ".tmp") != 0) return 0;
  std::size_t start = length - 4;
  while (start > 0 && name[start - 1] >= '0' && name[start - 1] <= '9') --start;
  if (start == length - 4 || start < 2 || name[start - 1] != '.') return 0;
  return std::strtol(name + start, nullptr, 10);
}

// True when no process of that pid exists (a pid may be reused: a live
// one keeps its temporary, which costs nothing but the file).
bool ownerGone(long pid) {
  return pid > 0 && pid != static_cast<long>(getpid()) && kill(static_cast<pid_t>(pid), 0) != 0 &&
         errno == ESRCH;
}

void removeStaleTemporaries(const std::string& directory) {
  DIR* dir = opendir(directory.c_str());
  if (dir == nullptr) return;
  while (const dirent* entry = readdir(dir)) {
    if (ownerGone(temporaryOwner(entry->d_name))) {
      unlink((directory + "/" + entry->d_name).c_str());
    }
  }
  closedir(dir);
}

}  // namespace

bool claim(const char* shown) {
  // The descriptor stays open, and the lock held, to the end of the process.
  const int fd = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
    std::cerr << "Run directory " << shown << " is in use by another run" << std::endl;
    close(fd);
    return false;
  }
  removeStaleTemporaries(".");
  removeStaleTemporaries("snapshots");
  return true;
}

}  // namespace runDirectory
