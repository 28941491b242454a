#pragma once

// Child processes for the benchmarks, and the loopback service they measure against.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

extern char** environ;

namespace vardeko::bench {

// A child process with its standard input and output on pipes.
class Child {
 public:
  Child(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv) {
    int in[2];
    int out[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) env.emplace_back(*e);
    env.insert(env.end(), extraEnv.begin(), extraEnv.end());
    std::vector<char*> envp;
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    if (posix_spawnp(&pid_, args[0], &actions, nullptr, args.data(), envp.data()) != 0) {
      throw std::runtime_error("spawn " + argv[0]);
    }
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    close(out[1]);
    in_ = in[1];
    out_ = out[0];
  }
  ~Child() {
    close(in_);
    close(out_);
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  void Write(std::string_view text) {
    while (!text.empty()) {
      const ssize_t written = write(in_, text.data(), text.size());
      if (written <= 0) throw std::runtime_error("write");
      text.remove_prefix(static_cast<std::size_t>(written));
    }
  }
  // The next line of output, without its line end.
  std::string ReadLine() {
    for (;;) {
      const std::size_t end = buffer_.find('\n', scanned_);
      if (end != std::string::npos) {
        std::string line = buffer_.substr(0, end);
        buffer_.erase(0, end + 1);
        scanned_ = 0;
        return line;
      }
      scanned_ = buffer_.size();
      char chunk[1 << 16];
      const ssize_t got = read(out_, chunk, sizeof chunk);
      if (got <= 0) throw std::runtime_error("child ended");
      buffer_.append(chunk, static_cast<std::size_t>(got));
    }
  }
  pid_t pid() const { return pid_; }

 private:
  pid_t pid_ = 0;
  int in_ = -1;
  int out_ = -1;
  std::string buffer_;
  std::size_t scanned_ = 0;
};

// The loopback service (bench/loopback_service.c), started once per benchmark program.
struct Service {
  std::unique_ptr<Child> process;
  std::string port;
  std::filesystem::path scratch;
  Service() {
    process = std::make_unique<Child>(std::vector<std::string>{VARDEKO_LOOPBACK_SERVICE},
                                      std::vector<std::string>{});
    port = process->ReadLine();
    char pattern[] = "/tmp/vardeko-e2e-XXXXXX";
    if (mkdtemp(pattern) == nullptr) throw std::runtime_error("mkdtemp");
    scratch = pattern;
  }
  ~Service() { std::filesystem::remove_all(scratch); }
  std::string Url(std::size_t replyLimit, std::string_view path) const {
    return "http://127.0.0.1:" + port + "/b/" + std::to_string(replyLimit) + std::string(path);
  }
};

inline Service& TheService() {
  static Service service;
  return service;
}

}  // namespace vardeko::bench
