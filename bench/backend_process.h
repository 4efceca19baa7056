#pragma once
// The real back end for the benchmarks: `vesk --no-gui` on an empty project in a
// temporary folder with its own HOME, stopped and removed with the object.
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>

namespace bench {

struct backend_process {
  std::filesystem::path root;
  pid_t pid = -1;
  uint16_t gui_port = 0, model_port = 0;

  /// With `cli_script`, a copy of the program runs with a stub build tool beside it: a
  /// shell script of that body.
  explicit backend_process(const std::string& name, const std::string& cli_script = "") {
    namespace fs = std::filesystem;
    root = fs::temp_directory_path() / (name + "_" + std::to_string(::getpid()));
    fs::create_directories(root / "home");
    std::string exe = std::string(VESK_BINARY_DIR) + "/bin/vesk";
    if (!cli_script.empty()) {
      for (const char* d : {"bin/shared", "bin/runtimes"}) fs::create_directories(root / d);
      fs::copy_file(exe, root / "bin" / "vesk", fs::copy_options::overwrite_existing);
      exe = (root / "bin" / "vesk").string();
      std::ofstream(root / "bin" / "vesk-cli") << "#!/bin/sh\n" << cli_script << "\n";
      fs::permissions(root / "bin" / "vesk-cli", fs::perms::owner_all);
    }
    fs::create_directories(root / "ws" / "demo" / "models");
    std::ofstream(root / "ws" / "demo" / "demo.vcfg") << "{}";
    std::ofstream(root / "out.txt");
    gui_port = static_cast<uint16_t>(20000 + std::random_device()() % 20000);
    model_port = static_cast<uint16_t>(gui_port + 1);
    const pid_t parent = ::getpid();
    pid = ::fork();
    if (pid == 0) {
      // The back end ends with the benchmark, also when the benchmark is killed.
      ::prctl(PR_SET_PDEATHSIG, SIGKILL);
      if (::getppid() != parent) ::_exit(126);
      ::setenv("HOME", (root / "home").c_str(), 1);
      if (!std::freopen((root / "out.txt").c_str(), "w", stdout)) ::_exit(126);
      const std::string gp = std::to_string(gui_port), mp = std::to_string(model_port);
      const std::string cfg = (root / "ws" / "demo" / "demo.vcfg").string();
      ::execl(exe.c_str(), exe.c_str(), "--no-gui", "-gp", gp.c_str(), "-mp", mp.c_str(), cfg.c_str(), nullptr);
      ::_exit(127);
    }
    // Ready when the main loop runs; a port that moved is named in the output.
    for (int i = 0; i < 500; ++i) {
      const std::string text = out();
      if (text.find("start main loop...") != std::string::npos) {
        moved(text, "GUI-Port ", gui_port);
        moved(text, "Model-Port ", model_port);
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  ~backend_process() {
    if (pid > 0) {
      ::kill(pid, SIGINT);
      ::waitpid(pid, nullptr, 0);
    }
    std::error_code ec;
    std::filesystem::remove_all(root, ec);
  }
  backend_process(const backend_process&) = delete;
  backend_process& operator=(const backend_process&) = delete;

  /// Resident memory of the back end in KiB (-1 when unknown).
  long rss_kib() const {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(in, line);)
      if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
    return -1;
  }
  /// What the back end printed so far.
  std::string out() const {
    std::ifstream in(root / "out.txt");
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }

 private:
  static void moved(const std::string& text, const std::string& what, uint16_t& port) {
    const std::string line = what + std::to_string(port) + " is in use. Using ";
    size_t at = text.find(line);
    if (at != std::string::npos) port = static_cast<uint16_t>(std::stoul(text.substr(at + line.size())));
  }
};

}  // namespace bench
