#ifndef SAFEFILE_H
#define SAFEFILE_H

#include <fstream>
#include <string>

// Writes a result file so that it is never left truncated or half-written:
// the text goes to a temporary file beside the target, which replaces the
// target only after a complete, checked write. A failed write leaves the
// previous file as it was and no temporary file behind, and so does a
// process that ends at once (lifecycle::exitNow): it removes every temporary
// still open.
class SafeFile {
 public:
  explicit SafeFile(const char* filename);
  ~SafeFile();
  SafeFile(const SafeFile&) = delete;
  SafeFile& operator=(const SafeFile&) = delete;

  bool isOpen() const { return os_.is_open(); }
  std::ofstream& stream() { return os_; }

  // Flushes and closes the temporary file and renames it onto the target.
  // Returns false, and removes the temporary file, on any failure.
  bool commit();
  // Gives the file up: closes and removes the temporary file, leaving the
  // target as it was; isOpen() is false from then on.
  void discard();

  // Closes and removes the temporary of every SafeFile not yet committed.
  static void discardAll();

 private:
  std::string target_;
  std::string temp_;
  std::ofstream os_;
  bool committed_;
};

#endif
