#pragma once
// A publisher's mirror on loopback for the tests of `get`: Debian's nginx over a folder,
// plain and TLS, started and stopped by tests/support/mirror-server (which says what it
// serves where), and cut in the middle of a transfer by killing its worker, as a server that
// dies would cut it.
#include <dirent.h>
#include <signal.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace quillet::services::testing {

class Mirror {
 public:
  // Serves root; the server's own files go to dir. Throws when nginx does not start.
  Mirror(const std::string& root, const std::string& dir) : dir_(dir) {
    if (std::system((Script() + " start '" + dir + "' '" + root + "'").c_str()) != 0)
      throw std::runtime_error("the mirror's nginx did not start (see " + dir + ")");
    std::ifstream(dir + "/ports") >> http_ >> https_;
  }
  ~Mirror() { std::system((Script() + " stop '" + dir_ + "'").c_str()); }
  Mirror(const Mirror&) = delete;
  Mirror& operator=(const Mirror&) = delete;

  // "http://127.0.0.1:PORT" with path (such as "/slow") appended.
  std::string Http(const std::string& path = "") const { return "http://127.0.0.1:" + std::to_string(http_) + path; }
  std::string Https(const std::string& path = "") const { return "https://127.0.0.1:" + std::to_string(https_) + path; }
  std::string CaFile() const { return dir_ + "/ca.crt"; }
  std::string OtherCaFile() const { return dir_ + "/other-ca.crt"; }

  // Every transfer in flight ends at once: the worker dies and the master starts another.
  void CutTransfers() const {
    std::string master;
    std::ifstream(dir_ + "/nginx.pid") >> master;
    DIR* proc = opendir("/proc");
    while (dirent* entry = readdir(proc)) {
      std::ifstream stat(std::string("/proc/") + entry->d_name + "/stat");
      std::string pid, name, state, parent;
      if (stat >> pid >> name >> state >> parent && parent == master) kill(std::stoi(pid), SIGKILL);
    }
    closedir(proc);
  }

  // The access log: "STATUS METHOD PATH "RANGE"" per request.
  std::vector<std::string> Log() const {
    std::ifstream log(dir_ + "/access.log");
    std::vector<std::string> lines;
    for (std::string line; std::getline(log, line);) lines.push_back(line);
    return lines;
  }

 private:
  static std::string Script() { return QUILLET_MIRROR_SERVER; }

  std::string dir_;
  int http_ = 0, https_ = 0;
};

}  // namespace quillet::services::testing
