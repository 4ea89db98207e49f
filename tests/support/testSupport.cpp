#include "testSupport.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace testing_support {

ScopedTempDir::ScopedTempDir(const std::string& parent) {
  char buffer[4096];
  if (getcwd(buffer, sizeof buffer) != nullptr) previous_ = buffer;
  const std::filesystem::path base =
      parent.empty() ? std::filesystem::temp_directory_path() : std::filesystem::path(parent);
  std::string tmpl = (base / "shotsim-XXXXXX").string();
  char* made = mkdtemp(tmpl.data());
  if (made == nullptr) std::abort();
  path_ = made;
  if (chdir(path_.c_str()) != 0) std::abort();
}

ScopedTempDir::~ScopedTempDir() {
  if (!previous_.empty() && chdir(previous_.c_str()) != 0) std::abort();
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string readFile(const std::string& name) {
  std::ifstream is(name, std::ios::binary);
  std::ostringstream ss;
  ss << is.rdbuf();
  return ss.str();
}

bool fileExists(const std::string& name) {
  struct stat st;
  return stat(name.c_str(), &st) == 0;
}

void writeFile(const std::string& name, const std::string& text) {
  std::filesystem::path p(name);
  if (p.has_parent_path()) std::filesystem::create_directories(p.parent_path());
  std::ofstream os(name, std::ios::binary | std::ios::trunc);
  os << text;
}

std::vector<std::string> directoryEntries(const std::string& directory) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(directory)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace testing_support
