#include "safeFile.h"

#include <unistd.h>

#include <cstdio>

SafeFile::SafeFile(const char* filename)
    : target_(filename),
      temp_(std::string(filename) + "." + std::to_string(getpid()) + ".tmp"),
      committed_(false) {
  os_.open(temp_.c_str(), std::ios::out | std::ios::trunc);
}

SafeFile::~SafeFile() {
  if (!committed_) {
    if (os_.is_open()) os_.close();
    std::remove(temp_.c_str());
  }
}

bool SafeFile::commit() {
  if (!os_.is_open()) return false;
  os_.flush();
  bool ok = !os_.fail();
  os_.close();
  ok = ok && !os_.fail();
  // A directory or other non-file at the target makes the rename fail.
  ok = ok && std::rename(temp_.c_str(), target_.c_str()) == 0;
  if (!ok) {
    std::remove(temp_.c_str());
    return false;
  }
  committed_ = true;
  return true;
}
