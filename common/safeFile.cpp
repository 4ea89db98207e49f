#include "safeFile.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

// Every SafeFile whose temporary exists, for discardAll(). Never destroyed:
// result files are still written by the destructors of other statics at
// exit, after any static made later than the first SafeFile is gone.
std::vector<SafeFile*>& openFiles() {
  static std::vector<SafeFile*>* const files = new std::vector<SafeFile*>;
  return *files;
}

void forget(SafeFile* file) {
  std::vector<SafeFile*>& files = openFiles();
  files.erase(std::remove(files.begin(), files.end(), file), files.end());
}

}  // namespace

SafeFile::SafeFile(const char* filename)
    : target_(filename),
      temp_(std::string(filename) + "." + std::to_string(getpid()) + ".tmp"),
      committed_(false) {
  os_.open(temp_.c_str(), std::ios::out | std::ios::trunc);
  if (os_.is_open()) openFiles().push_back(this);
}

SafeFile::~SafeFile() {
  if (!committed_) discard();
}

void SafeFile::discard() {
  forget(this);
  if (os_.is_open()) os_.close();
  std::remove(temp_.c_str());
}

void SafeFile::discardAll() {
  while (!openFiles().empty()) openFiles().back()->discard();
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
    discard();
    return false;
  }
  forget(this);
  committed_ = true;
  return true;
}
