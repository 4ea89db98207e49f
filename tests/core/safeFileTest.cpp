// SafeFile: a result file is replaced only by a complete, checked write, and
// no temporary file is ever left behind.

#include "safeFile.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <string>
#include <vector>

#include "testSupport.h"

using testing_support::directoryEntries;
using testing_support::readFile;
using testing_support::ScopedTempDir;
using testing_support::writeFile;

namespace {

// Makes every write past the given size fail for the life of the object, as a
// full disk would (the size-limit signal is ignored so the write just fails).
class ScopedFileSizeLimit {
 public:
  explicit ScopedFileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &saved_);
    previous_handler_ = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = saved_;
    limited.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &limited);
  }
  ~ScopedFileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &saved_);
    std::signal(SIGXFSZ, previous_handler_);
  }
  ScopedFileSizeLimit(const ScopedFileSizeLimit&) = delete;
  ScopedFileSizeLimit& operator=(const ScopedFileSizeLimit&) = delete;

 private:
  rlimit saved_;
  void (*previous_handler_)(int);
};

const std::string kEarlier = "the earlier run's result\n";
const std::string kLong(4096, 'x');

TEST(SafeFile, ACompleteWriteReplacesTheFileOnlyWhenCommitted) {
  ScopedTempDir dir;
  writeFile("top.hist", kEarlier);
  {
    SafeFile file("top.hist");
    ASSERT_TRUE(file.isOpen());
    file.stream() << kLong;
    // While it is written the text goes to a temporary beside the target.
    file.stream().flush();
    const std::string temporary = "top.hist." + std::to_string(getpid()) + ".tmp";
    EXPECT_EQ(readFile(temporary), kLong);
    EXPECT_EQ(readFile("top.hist"), kEarlier);
    EXPECT_TRUE(file.commit());
  }
  EXPECT_EQ(readFile("top.hist"), kLong);
  EXPECT_EQ(directoryEntries(), (std::vector<std::string>{"top.hist"}));
}

// Every way a write can fail leaves the earlier file as it was and no
// temporary behind.
TEST(SafeFile, AFailedWriteKeepsTheEarlierFile) {
  struct Case {
    const char* scenario;
    const char* target;
    long size_limit;  // < 0: none
    bool commit;
  };
  const Case cases[] = {
      {"the disk fills half-way", "top.hist", 1000, true},
      {"a directory in the way of the rename", "held", -1, true},
      {"no directory to write in", "gone/top.hist", -1, true},
      {"the run ends before the write is complete", "top.hist", -1, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.scenario);
    ScopedTempDir dir;
    writeFile("top.hist", kEarlier);
    std::filesystem::create_directory("held");
    writeFile("held/inside", kEarlier);
    {
      SafeFile file(c.target);
      if (c.size_limit >= 0) {
        ScopedFileSizeLimit limit(static_cast<rlim_t>(c.size_limit));
        file.stream() << kLong;
        EXPECT_FALSE(file.commit());
      } else {
        file.stream() << kLong;
        if (c.commit) {
          EXPECT_FALSE(file.commit());
        }
      }
    }
    EXPECT_EQ(readFile("top.hist"), kEarlier);
    EXPECT_EQ(readFile("held/inside"), kEarlier);
    EXPECT_EQ(directoryEntries(), (std::vector<std::string>{"held", "top.hist"}));
  }
}

}  // namespace
