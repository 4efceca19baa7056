#pragma once
// Test helpers: a temporary folder, scoped working folder and environment variable, a
// write time moved on without waiting, and a check of an exception's exact type and text.

#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
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
