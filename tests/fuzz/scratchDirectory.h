#ifndef SCRATCHDIRECTORY_H
#define SCRATCHDIRECTORY_H

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

// Makes a fresh directory, in /dev/shm when there is one (a file written per
// input costs far less in memory than on disk), else in /tmp, and enters it;
// it is removed when the fuzzer ends normally.
inline bool enterScratchDirectory() {
  static std::string path;
  path = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
  path += "/shotsim-fuzz-XXXXXX";
  if (mkdtemp(&path[0]) == nullptr || chdir(path.c_str()) != 0) return false;
  std::atexit([] {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
  });
  return true;
}

#endif
