#pragma once
// Test helpers: a temporary folder, scoped working folder and environment variable, a
// write time moved on without waiting, a check of an exception's exact type and text, and a
// call run in a bounded child process.

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <typeinfo>

#include <gtest/gtest.h>

/// A fresh folder under the system's temporary folder (canonical), removed with all in it.
struct temp_dir {
  std::filesystem::path path;
  temp_dir() {
    path = std::filesystem::temp_directory_path() /
           ("vesk_test_" + std::to_string(::getpid()) + "_" + std::to_string(std::random_device()()));
    std::filesystem::create_directories(path);
    path = std::filesystem::canonical(path);
  }
  ~temp_dir() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
  /// Writes `text` as the file `rel` (folders made as needed); returns its path.
  std::filesystem::path put(const std::filesystem::path& rel, const std::string& text = "x") const {
    std::filesystem::create_directories((path / rel).parent_path());
    std::ofstream(path / rel) << text;
    return path / rel;
  }
};

/// Moves a file's write time by `seconds`: a change seen by polling, without sleeping.
inline void shift_write_time(const std::filesystem::path& p, int seconds = 1) {
  std::filesystem::last_write_time(p, std::filesystem::last_write_time(p) + std::chrono::seconds(seconds));
}

/// Changes the working folder for one scope.
struct scoped_cwd {
  std::filesystem::path saved = std::filesystem::current_path();
  explicit scoped_cwd(const std::filesystem::path& p) { std::filesystem::current_path(p); }
  ~scoped_cwd() { std::filesystem::current_path(saved); }
};

/// Sets (or, given null, unsets) an environment variable for one scope.
struct scoped_env {
  std::string name, old;
  bool had;
  scoped_env(const char* n, const char* value) : name(n) {
    const char* v = std::getenv(n);
    had = v != nullptr;
    if (had) old = v;
    if (value) ::setenv(n, value, 1); else ::unsetenv(n);
  }
  ~scoped_env() {
    if (had) ::setenv(name.c_str(), old.c_str(), 1); else ::unsetenv(name.c_str());
  }
};

/// Expects `f` to throw exactly an `E` (not a subclass) whose what() is `what`.
template <class E, class F>
void expect_throw_what(F f, const std::string& what) {
  try {
    f();
    ADD_FAILURE() << "no exception; expected: " << what;
  } catch (const E& e) {
    EXPECT_EQ(typeid(e), typeid(E)) << typeid(e).name();
    EXPECT_EQ(what, e.what());
  }
}

/// Runs `f` in a child process bounded in time (and, outside the sanitizer build, in
/// memory), so a call that blocks or grows for ever fails the test instead of hanging it.
/// The child's text from `f`, or "killed by signal N" / "exit N".
inline std::string in_child(const std::function<std::string()>& f) {
  int fds[2];
  if (::pipe(fds) != 0) return "no pipe";
  pid_t pid = ::fork();
  if (pid == 0) {
    ::close(fds[0]);
    ::alarm(5);
#ifndef VESK_SANITIZE  // the sanitizer runtime reserves more address space than any limit
    rlimit mem{1u << 30, 1u << 30};
    ::setrlimit(RLIMIT_AS, &mem);
#endif
    std::string out;
    try {  // an exception must not return into the test runner's copy in this child
      out = f();
    } catch (const std::exception& e) {
      out = std::string("exception: ") + e.what();
    }
    ssize_t n = ::write(fds[1], out.data(), out.size());
    ::_exit(n == static_cast<ssize_t>(out.size()) ? 0 : 1);
  }
  ::close(fds[1]);
  std::string out;
  char buf[4096];
  ssize_t n;
  while ((n = ::read(fds[0], buf, sizeof buf)) > 0) out.append(buf, static_cast<size_t>(n));
  ::close(fds[0]);
  int st = 0;
  ::waitpid(pid, &st, 0);
  if (WIFSIGNALED(st)) return "killed by signal " + std::to_string(WTERMSIG(st));
  if (WEXITSTATUS(st) != 0) return "exit " + std::to_string(WEXITSTATUS(st));
  return out;
}
