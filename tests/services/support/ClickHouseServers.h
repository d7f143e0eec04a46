#pragma once
// Local ClickHouse servers for the tests: each in a private folder on free loopback ports,
// together a cluster "quillet_test" of one shard per server. They are stopped when the
// object goes, and killed by the kernel should the test process die first.
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "tests/services/support/Clients.h"
#include "services/store/clickhouse/ClickHouseStore.h"

namespace quillet::services::testing {

class ClickHouseServers {
 public:
  static constexpr const char* kCluster = "quillet_test";

  explicit ClickHouseServers(int count) {
    std::string pattern = (std::filesystem::temp_directory_path() / "quillet-clickhouse-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot make a folder for the servers");
    dir_ = pattern;
    for (int i = 0; i < count; ++i) servers_.push_back({FreePort(), FreePort(), -1});
    for (int i = 0; i < count; ++i) WriteConfig(i);
    for (int i = 0; i < count; ++i) Start(i);
  }
  ~ClickHouseServers() {
    for (int i = 0; i < static_cast<int>(servers_.size()); ++i) Stop(i);
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
  ClickHouseServers(const ClickHouseServers&) = delete;
  ClickHouseServers& operator=(const ClickHouseServers&) = delete;

  int Count() const { return static_cast<int>(servers_.size()); }
  std::string Url(int i) const { return "http://127.0.0.1:" + std::to_string(servers_[i].http); }

  void Start(int i) {
    Server& server = servers_[i];
    std::string config = Folder(i) + "/config.xml";
    std::string log = Folder(i) + "/stdout";
    server.pid = fork();
    if (server.pid == 0) {
      prctl(PR_SET_PDEATHSIG, SIGKILL);
      FILE* out = std::fopen(log.c_str(), "w");
      if (out) {
        dup2(fileno(out), 1);
        dup2(fileno(out), 2);
      }
      std::string arg = "--config-file=" + config;
      execl("/usr/sbin/clickhouse-server", "clickhouse-server", arg.c_str(), static_cast<char*>(nullptr));
      execlp("clickhouse-server", "clickhouse-server", arg.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    ClickHouseNode node(Url(i));
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (std::chrono::steady_clock::now() < until) {
      try {
        node.Run("SELECT 1", Deadline::In(std::chrono::milliseconds(500)), 100);
        return;
      } catch (const ClickHouseError&) {
        int status = 0;
        if (waitpid(server.pid, &status, WNOHANG) == server.pid) {
          server.pid = -1;
          throw std::runtime_error("clickhouse-server did not start (is it installed? scripts/setup): " + ReadAll(log));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
      }
    }
    throw std::runtime_error("clickhouse-server did not answer within a minute");
  }

  void Stop(int i) {
    pid_t& pid = servers_[i].pid;
    if (pid <= 0) return;
    kill(pid, SIGCONT);
    kill(pid, SIGTERM);
    for (int waited = 0; waited < 200; ++waited) {
      if (waitpid(pid, nullptr, WNOHANG) == pid) {
        pid = -1;
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    pid = -1;
  }
  // A server that takes connections but never answers. The stop reaches each thread of the
  // server on its own time, so wait until all of them are stopped: a thread still running
  // could answer the next request.
  void Pause(int i) {
    pid_t pid = servers_[i].pid;
    kill(pid, SIGSTOP);
    std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!AllStopped(tasks)) {
      if (std::chrono::steady_clock::now() > until) throw std::runtime_error("clickhouse-server did not stop");
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }
  void Resume(int i) { kill(servers_[i].pid, SIGCONT); }

  // Bytes the servers keep on disk.
  std::uintmax_t DiskBytes() const {
    std::uintmax_t total = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir_))
      if (entry.is_regular_file() && entry.path().string().find("/data/") != std::string::npos)
        total += entry.file_size();
    return total;
  }

 private:
  struct Server {
    int http, tcp;
    pid_t pid;
  };

  std::string Folder(int i) const { return (dir_ / ("server" + std::to_string(i))).string(); }

  // Every thread of the process in the state "stopped" (T), as /proc/PID/task/TID/stat tells it.
  static bool AllStopped(const std::string& tasks) {
    for (const auto& task : std::filesystem::directory_iterator(tasks)) {
      std::string stat = ReadAll((task.path() / "stat").string());
      std::size_t name_end = stat.rfind(')');
      if (name_end == std::string::npos || name_end + 2 >= stat.size() || stat[name_end + 2] != 'T') return false;
    }
    return true;
  }

  static std::string ReadAll(const std::string& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  void WriteConfig(int i) const {
    std::string folder = Folder(i);
    std::filesystem::create_directories(folder);
    std::string shards;
    for (const Server& server : servers_)
      shards +=
          "<shard><replica><host>127.0.0.1</host><port>" + std::to_string(server.tcp) + "</port></replica></shard>";
    std::ofstream(folder + "/config.xml") << R"(<?xml version="1.0"?>
<yandex>
  <logger><level>warning</level><log>)" << folder
                                          << R"(/server.log</log><errorlog>)" << folder
                                          << R"(/error.log</errorlog></logger>
  <listen_host>127.0.0.1</listen_host>
  <http_port>)" << servers_[i].http << R"(</http_port>
  <tcp_port>)" << servers_[i].tcp << R"(</tcp_port>
  <path>)" << folder << R"(/data/</path>
  <tmp_path>)" << folder << R"(/tmp/</tmp_path>
  <user_files_path>)" << folder << R"(/files/</user_files_path>
  <format_schema_path>)" << folder << R"(/schemas/</format_schema_path>
  <mark_cache_size>268435456</mark_cache_size>
  <uncompressed_cache_size>268435456</uncompressed_cache_size>
  <users_config>)" << folder << R"(/users.xml</users_config>
  <default_profile>default</default_profile>
  <default_database>default</default_database>
  <remote_servers><)" << kCluster << ">" << shards
                                          << "</" << kCluster << R"(></remote_servers>
</yandex>
)";
    std::ofstream(folder + "/users.xml") << R"(<?xml version="1.0"?>
<yandex>
  <profiles><default><max_memory_usage>2000000000</max_memory_usage></default></profiles>
  <users><default><password></password><networks><ip>127.0.0.1</ip></networks><profile>default</profile><quota>default</quota></default></users>
  <quotas><default></default></quotas>
</yandex>
)";
  }

  std::filesystem::path dir_;
  std::vector<Server> servers_;
};

}  // namespace quillet::services::testing

namespace quillet::services::testing {

// Two servers shared by all the tests of the program, started on first use.
ClickHouseServers& SharedClickHouse();
// A database of its own on the shared servers: on the first, or on both as a cluster.
ClickHouseOptions FreshClickHouse(bool cluster);

}  // namespace quillet::services::testing
