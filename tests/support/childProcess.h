#ifndef CHILDPROCESS_H
#define CHILDPROCESS_H

// Runs a program of the build tree in a directory of its own, as a user would,
// and collects what it leaves: exit status, standard output and error, and
// the files of the directory.

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "testSupport.h"

namespace testing_support {

// The build tree: SHOTSIM_BINARY_DIR as CTest sets it, or else the tree
// that holds the test program (<build>/tests/<test program>).
inline std::string buildDirectory() {
  const char* bin = std::getenv("SHOTSIM_BINARY_DIR");
  if (bin != nullptr && *bin != '\0') return bin;
  std::error_code error;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  return self.parent_path().parent_path().string();
}

// The program of that name in <build>/source, or empty when it was not built.
inline std::string builtProgram(const std::string& name) {
  const std::string path = buildDirectory() + "/source/" + name;
  return access(path.c_str(), X_OK) == 0 ? path : std::string();
}

// A place for run directories: the memory file system when there is one (the
// cases lay out many small files), else the system's temporary directory.
inline std::string scratchParent() {
  return access("/dev/shm", W_OK) == 0 ? "/dev/shm" : std::string();
}

struct ChildOptions {
  std::vector<std::string> unset;     // environment variables taken away
  std::vector<std::string> set;       // "NAME=value" added to the environment
  long file_size_limit = -1;          // RLIMIT_FSIZE in bytes (SIGXFSZ as a shell leaves it)
  std::vector<int> closed;            // standard descriptors left closed, as by ">&-"
  bool reader_gone = false;           // standard output a pipe nobody reads ("| head -c 0")
  long memory_limit = -1;             // RLIMIT_AS in bytes
  bool as_nobody = false;             // runs as the user nobody (when root)
  std::chrono::seconds limit{20};     // killed, and reported, after this
  // Once standard output holds this text (when not empty), the signal is
  // sent after the delay, as a user stopping a run would.
  std::string signal_after;
  int signal_number = 0;
  std::chrono::milliseconds signal_delay{0};
};

struct ChildResult {
  int status = -1;  // exit status, or 128 + the signal that ended it
  bool timed_out = false;
  double seconds = 0.0;
  std::string out;
  std::string err;
};

// Runs program with args in directory. Its output comes through pipes, which
// a file-size limit does not touch.
inline ChildResult runChild(const std::string& program, const std::vector<std::string>& args,
                            const std::string& directory, const ChildOptions& options = {}) {
  ChildResult result;
  std::vector<std::string> argv_text{program};
  argv_text.insert(argv_text.end(), args.begin(), args.end());
  int out_pipe[2], err_pipe[2];
  if (pipe(out_pipe) != 0 || pipe(err_pipe) != 0) return result;
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    const int in = open("/dev/null", O_RDONLY);
    const int exe = open(program.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0 || exe < 0 || chdir(directory.c_str()) != 0) _exit(125);
    dup2(out_pipe[1], 1);
    dup2(err_pipe[1], 2);
    dup2(in, 0);
    close(out_pipe[0]);
    close(err_pipe[0]);
    // The signals' actions a shell gives a program, whatever the test
    // runner chose for itself.
    signal(SIGXFSZ, SIG_DFL);
    signal(SIGPIPE, SIG_DFL);
    int gone[2];
    if (options.reader_gone && (pipe(gone) != 0 || dup2(gone[1], 1) < 0 || close(gone[0]) != 0)) {
      _exit(125);
    }
    for (int fd : options.closed) close(fd);
    for (const std::string& name : options.unset) unsetenv(name.c_str());
    for (const std::string& pair : options.set) putenv(const_cast<char*>(pair.c_str()));
    if (options.file_size_limit >= 0) {
      struct rlimit limit;
      limit.rlim_cur = limit.rlim_max = static_cast<rlim_t>(options.file_size_limit);
      if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(125);
    }
    if (options.memory_limit >= 0) {
      struct rlimit limit;
      limit.rlim_cur = limit.rlim_max = static_cast<rlim_t>(options.memory_limit);
      if (setrlimit(RLIMIT_AS, &limit) != 0) _exit(125);
    }
    if (options.as_nobody && geteuid() == 0) {
      const struct passwd* nobody = getpwnam("nobody");
      if (nobody == nullptr || setgroups(0, nullptr) != 0 || setgid(nobody->pw_gid) != 0 ||
          setuid(nobody->pw_uid) != 0) {
        _exit(125);
      }
    }
    std::vector<char*> argv;
    for (std::string& a : argv_text) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    // Through the descriptor: the user nobody need not reach the build tree.
    fexecve(exe, argv.data(), environ);
    _exit(127);
  }
  close(out_pipe[1]);
  close(err_pipe[1]);
  struct pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
  std::string* texts[2] = {&result.out, &result.err};
  int open_pipes = 2;
  const auto end = start + options.limit;
  bool signalled = options.signal_after.empty();
  std::chrono::steady_clock::time_point signal_at = end;
  while (pid > 0 && open_pipes > 0) {
    const auto now = std::chrono::steady_clock::now();
    if (now > end) {
      result.timed_out = true;
      kill(pid, SIGKILL);
      break;
    }
    if (!signalled && signal_at == end &&
        result.out.find(options.signal_after) != std::string::npos) {
      signal_at = now + options.signal_delay;
    }
    if (!signalled && now >= signal_at) {
      kill(pid, options.signal_number);
      signalled = true;
    }
    if (poll(fds, 2, 20) <= 0) continue;
    for (int k = 0; k < 2; ++k) {
      if (fds[k].fd < 0 || fds[k].revents == 0) continue;
      char buffer[65536];
      const ssize_t got = read(fds[k].fd, buffer, sizeof buffer);
      if (got > 0) {
        texts[k]->append(buffer, static_cast<std::size_t>(got));
      } else {
        close(fds[k].fd);
        fds[k].fd = -1;
        --open_pipes;
      }
    }
  }
  for (const struct pollfd& p : fds) {
    if (p.fd >= 0) close(p.fd);
  }
  int wstatus = 0;
  if (pid > 0 && waitpid(pid, &wstatus, 0) == pid) {
    if (WIFEXITED(wstatus)) result.status = WEXITSTATUS(wstatus);
    if (WIFSIGNALED(wstatus)) result.status = 128 + WTERMSIG(wstatus);
  }
  result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return result;
}

// Every entry below a directory with its content ("<dir>" for a directory).
using Snapshot = std::map<std::string, std::string>;

inline Snapshot snapshot(const std::string& directory) {
  Snapshot files;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(directory)) {
    const std::string name = std::filesystem::relative(entry.path(), directory).string();
    files[name] = entry.is_directory() ? "<dir>" : readFile(entry.path().string());
  }
  return files;
}

}  // namespace testing_support

#endif
