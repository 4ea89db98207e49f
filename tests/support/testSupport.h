#ifndef TESTSUPPORT_H
#define TESTSUPPORT_H

#include <string>
#include <vector>

namespace testing_support {

// Makes a fresh empty directory, enters it for the life of the object, and
// leaves and removes it afterwards. The classes under test write their result
// files into the working directory, so every test that writes runs in one.
class ScopedTempDir {
 public:
  // In the system's temporary directory, or in the given one.
  explicit ScopedTempDir(const std::string& parent = std::string());
  ~ScopedTempDir();
  ScopedTempDir(const ScopedTempDir&) = delete;
  ScopedTempDir& operator=(const ScopedTempDir&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  std::string previous_;
};

// Whole content of a file; empty when it cannot be read.
std::string readFile(const std::string& name);
bool fileExists(const std::string& name);
// Writes text to a file, creating directories on the way ("ini/par.ini").
void writeFile(const std::string& name, const std::string& text);
// The names in a directory, sorted.
std::vector<std::string> directoryEntries(const std::string& directory = ".");

}  // namespace testing_support

#endif
