#pragma once
// The real quillet-services program run as a child process, as a user or a script runs it:
// killed with SIGKILL, starved of disk with a file size limit, measured by its peak memory.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace quillet::services::testing {

// Resident memory of a running process in MiB (its peak so far when peak is true).
inline double ResidentMb(pid_t pid, bool peak) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  const std::string key = peak ? "VmHWM:" : "VmRSS:";
  while (std::getline(status, line))
    if (line.rfind(key, 0) == 0) return std::stod(line.substr(key.size())) / 1024.0;
  return 0;
}

class Child {
 public:
  struct Options {
    // Largest file the child may write, in bytes (0: no limit): a full disk, as SQLite sees it.
    long long fileSizeLimit = 0;
    std::string output;                         // file for the child's stdout and stderr
    std::vector<std::string> environment = {};  // "NAME=value" set in the child, "NAME" removed
  };

  Child(const std::vector<std::string>& args, const Options& options) {
    pid_ = fork();
    if (pid_ != 0) return;
    if (!options.output.empty()) {
      int fd = open(options.output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(fd, 1);
      dup2(fd, 2);
    }
    if (options.fileSizeLimit > 0) {
      rlimit limit{static_cast<rlim_t>(options.fileSizeLimit), static_cast<rlim_t>(options.fileSizeLimit)};
      setrlimit(RLIMIT_FSIZE, &limit);
    }
    // Memory figures should be the program's, not the sanitizer's quarantine of freed blocks.
    setenv("ASAN_OPTIONS", "quarantine_size_mb=4", 1);
    for (const std::string& entry : options.environment) {
      std::size_t eq = entry.find('=');
      if (eq == std::string::npos) unsetenv(entry.c_str());
      else setenv(entry.substr(0, eq).c_str(), entry.substr(eq + 1).c_str(), 1);
    }
    std::vector<char*> argv;
    std::string program = QUILLET_SERVICES_EXE;
    argv.push_back(program.data());
    std::vector<std::string> copies(args);
    for (std::string& arg : copies) argv.push_back(arg.data());
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  ~Child() {
    if (pid_ > 0 && !waited_) {
      kill(pid_, SIGKILL);
      Wait();
    }
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  pid_t Pid() const { return pid_; }
  void Kill() { kill(pid_, SIGKILL); }

  // Waits for the child; its exit code (128 + signal when killed).
  int Wait() {
    int status = 0;
    waitpid(pid_, &status, 0);
    waited_ = true;
    return ExitCode(status);
  }
  // Waits, watching the peak resident memory of the program (the fork's copy of the test
  // process before it started does not count, as it would in the child's rusage).
  int WaitMeasuring();
  double PeakMb() const { return peakMb_; }

 private:
  static int ExitCode(int status) { return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status); }

  pid_t pid_ = -1;
  bool waited_ = false;
  double peakMb_ = 0;
};

inline int Child::WaitMeasuring() {
  int status = 0;
  const std::string exe = "/proc/" + std::to_string(pid_) + "/exe";
  std::error_code ignored;
  while (waitpid(pid_, &status, WNOHANG) == 0) {
    // The high-water mark of the program's own address space, which only ever grows; until
    // the exec the process is still a copy of the test.
    if (std::filesystem::equivalent(exe, QUILLET_SERVICES_EXE, ignored))
      peakMb_ = std::max(peakMb_, ResidentMb(pid_, true));
    usleep(5000);
  }
  waited_ = true;
  return ExitCode(status);
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace quillet::services::testing
