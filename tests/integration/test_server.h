#pragma once

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <stdexcept>
#include <string>

extern char** environ;

namespace vardeko::testing {

// The integration test service, started on a free loopback port and stopped with the
// object.
class TestServer {
 public:
  TestServer() {
    int fds[2];
    if (pipe(fds) != 0) throw std::runtime_error("pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    const std::string script = VARDEKO_TEST_SERVER;
    char* argv[] = {const_cast<char*>("python3"), const_cast<char*>(script.c_str()),
                    const_cast<char*>("--lifetime"), const_cast<char*>("300"), nullptr};
    if (posix_spawnp(&pid_, "python3", &actions, nullptr, argv, environ) != 0) {
      throw std::runtime_error("cannot start the test server");
    }
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    FILE* out = fdopen(fds[0], "r");
    if (out == nullptr || std::fscanf(out, "PORT %d", &port_) != 1)
      throw std::runtime_error("no port");
    std::fclose(out);
  }
  ~TestServer() {
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
  TestServer(const TestServer&) = delete;
  TestServer& operator=(const TestServer&) = delete;

  int port() const { return port_; }
  std::string Url(const std::string& path = "") const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
  }

 private:
  pid_t pid_ = 0;
  int port_ = 0;
};

}  // namespace vardeko::testing
