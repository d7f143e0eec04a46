#pragma once
// A program of the build run as a child process, as a user or a script runs it: its output
// and errors into files, signals sent to it for real.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace quillet::test {

class ChildProgram {
 public:
  // env: "NAME=value" entries set for the child on top of the test's environment.
  ChildProgram(const std::string& program, const std::vector<std::string>& args, const std::string& outputFile,
               const std::string& errorFile, const std::vector<std::string>& env = {}) {
    pid_ = fork();
    if (pid_ != 0) return;
    const int out = open(outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = open(errorFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(out, 1);
    dup2(err, 2);
    for (const std::string& entry : env) putenv(const_cast<char*>(entry.c_str()));
    std::vector<std::string> copies(args);
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (std::string& arg : copies) argv.push_back(arg.data());
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  ~ChildProgram() {
    if (pid_ > 0 && !waited_) {
      kill(pid_, SIGKILL);
      Wait();
    }
  }
  ChildProgram(const ChildProgram&) = delete;
  ChildProgram& operator=(const ChildProgram&) = delete;

  pid_t Pid() const { return pid_; }

  // The exit code; 128 + the signal when a signal ended it.
  int Wait() {
    int status = 0;
    waitpid(pid_, &status, 0);
    waited_ = true;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

 private:
  pid_t pid_ = -1;
  bool waited_ = false;
};

}  // namespace quillet::test
