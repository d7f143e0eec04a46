#pragma once
// A program of the build run as a child process, as a user or a script runs it: its output
// into files, signals sent to it for real, starved of disk with a file size limit, measured
// by its peak memory. POSIX only.
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

namespace quillet::test {

// Resident memory of a running process in MiB (its peak so far when peak is true).
inline double ResidentMb(pid_t pid, bool peak) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  const std::string key = peak ? "VmHWM:" : "VmRSS:";
  while (std::getline(status, line))
    if (line.rfind(key, 0) == 0) return std::stod(line.substr(key.size())) / 1024.0;
  return 0;
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

class ChildProcess {
 public:
  struct Options {
    // Largest file the child may write, in bytes (0: no limit): a full disk, as it sees it.
    long long fileSizeLimit = 0;
    std::string output = {};            // file for the child's stdout (and stderr, unless error is given)
    std::string error = {};             // file for its stderr
    std::vector<std::string> env = {};  // "NAME=value" set on top of the test's environment, "NAME" removed
  };

  ChildProcess(const std::string& program, const std::vector<std::string>& args, const Options& options)
      : program_(program) {
    pid_ = fork();
    if (pid_ != 0) return;
    if (!options.output.empty()) {
      int fd = open(options.output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(fd, 1);
      if (options.error.empty()) dup2(fd, 2);
    }
    if (!options.error.empty()) dup2(open(options.error.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
    if (options.fileSizeLimit > 0) {
      rlimit limit{static_cast<rlim_t>(options.fileSizeLimit), static_cast<rlim_t>(options.fileSizeLimit)};
      setrlimit(RLIMIT_FSIZE, &limit);
    }
    // Memory figures should be the program's, not the sanitizer's quarantine of freed blocks.
    setenv("ASAN_OPTIONS", "quarantine_size_mb=4", 1);
    for (const std::string& entry : options.env) {
      if (entry.find('=') == std::string::npos) unsetenv(entry.c_str());
      else putenv(const_cast<char*>(entry.c_str()));
    }
    std::vector<std::string> copies(args);
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (std::string& arg : copies) argv.push_back(arg.data());
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  ~ChildProcess() {
    if (pid_ > 0 && !waited_) {
      kill(pid_, SIGKILL);
      Wait();
    }
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  pid_t Pid() const { return pid_; }
  void Kill() { kill(pid_, SIGKILL); }

  // Waits for the child; its exit code (128 + signal when a signal ended it).
  int Wait() {
    int status = 0;
    waitpid(pid_, &status, 0);
    waited_ = true;
    return ExitCode(status);
  }
  // Waits, watching the peak resident memory of the program (the fork's copy of the test
  // process before it started does not count, as it would in the child's rusage).
  int WaitMeasuring() {
    int status = 0;
    const std::string exe = "/proc/" + std::to_string(pid_) + "/exe";
    std::error_code ignored;
    while (waitpid(pid_, &status, WNOHANG) == 0) {
      // The high-water mark of the program's own address space, which only ever grows; until
      // the exec the process is still a copy of the test.
      if (std::filesystem::equivalent(exe, program_, ignored)) peakMb_ = std::max(peakMb_, ResidentMb(pid_, true));
      usleep(5000);
    }
    waited_ = true;
    return ExitCode(status);
  }
  double PeakMb() const { return peakMb_; }

 private:
  static int ExitCode(int status) { return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status); }

  std::string program_;
  pid_t pid_ = -1;
  bool waited_ = false;
  double peakMb_ = 0;
};

}  // namespace quillet::test
