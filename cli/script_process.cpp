#include "cli/script_process.h"

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <thread>

namespace vesk {

namespace {

const int stop_signals[] = {SIGTERM, SIGINT, SIGHUP};

volatile sig_atomic_t script_group = 0;  // the running script's group, 0 when none
volatile sig_atomic_t stop_signal = 0;   // the first stop request, 0 when none

void pass_on(int sig) {
  // The interrupted code may be about to read errno (the waits below do).
  const int saved = errno;
  if (stop_signal == 0) stop_signal = sig;
  if (script_group > 0) ::kill(-static_cast<pid_t>(script_group), sig);
  errno = saved;
}

sigset_t stop_set() {
  sigset_t set;
  sigemptyset(&set);
  for (int s : stop_signals) sigaddset(&set, s);
  return set;
}

/// Reaps what of the group is ours; true once no process of the group is left.
bool group_gone(pid_t group) {
  while (::waitpid(-group, nullptr, WNOHANG) > 0) {
  }
  return ::kill(-group, 0) != 0 && errno == ESRCH;
}

/// Reaps ended children; true once none is left (as subreaper, the script's orphans count).
bool children_gone() {
  while (::waitpid(-1, nullptr, WNOHANG) > 0) {
  }
  return ::waitpid(-1, nullptr, WNOHANG) < 0 && errno == ECHILD;
}

/// Waits up to `ms` for `gone` to hold; true when it did.
template <typename F>
bool wait_for(F gone, int ms) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!gone()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

[[noreturn]] void end_by(int sig) {
  std::cout.flush();
  std::fflush(nullptr);
  struct sigaction dfl {};
  dfl.sa_handler = SIG_DFL;
  sigemptyset(&dfl.sa_mask);
  ::sigaction(sig, &dfl, nullptr);
  sigset_t one;
  sigemptyset(&one);
  sigaddset(&one, sig);
  ::sigprocmask(SIG_UNBLOCK, &one, nullptr);
  ::raise(sig);
  ::_exit(128 + sig);
}

void child_ended(int) {}

}  // namespace

int run_script_command(const std::string& command) {
  // The back end starts us in a session of our own and stops the run by signalling our
  // group, following up with SIGKILL: the script must be in that group, so that every such
  // signal reaches the whole run at once, and must not get a request twice (the model takes
  // a second one as "do not wait"). Anywhere else (a terminal, `timeout`, kill) only we may
  // be signalled, so the script gets a group of its own and the request is passed on.
  const bool separate_group = ::getsid(0) != ::getpid();
  // Processes of the script whose parent ended become ours, so they can be reaped and
  // the group seen empty.
  ::prctl(PR_SET_CHILD_SUBREAPER, 1);
  // Until the wait below, requests and the child's end stay pending: a request that
  // comes before the script's group exists is passed on once it does.
  sigset_t set = stop_set();
  sigaddset(&set, SIGCHLD);
  sigset_t old_mask;
  ::sigprocmask(SIG_BLOCK, &set, &old_mask);
  const int handled[] = {SIGTERM, SIGINT, SIGHUP, SIGCHLD};
  struct sigaction old_actions[4];
  for (int i = 0; i < 4; ++i) {
    ::sigaction(handled[i], nullptr, &old_actions[i]);
    // A signal ignored from the start (nohup, a background command) stays ignored.
    if (old_actions[i].sa_handler == SIG_IGN && handled[i] != SIGCHLD) continue;
    struct sigaction a {};
    a.sa_handler = handled[i] == SIGCHLD ? child_ended : pass_on;
    sigemptyset(&a.sa_mask);
    ::sigaction(handled[i], &a, nullptr);
  }

  const pid_t child = ::fork();
  if (child == 0) {
    if (separate_group) ::setpgid(0, 0);
    for (int i = 0; i < 4; ++i) ::sigaction(handled[i], &old_actions[i], nullptr);
    ::sigprocmask(SIG_SETMASK, &old_mask, nullptr);
    ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  int status = -1;
  if (child > 0) {
    if (separate_group) {
      ::setpgid(child, child);  // also here, so the group exists before any request is passed on
      script_group = child;
    }
    sigset_t wait_mask = old_mask;
    for (int s : handled) sigdelset(&wait_mask, s);
    for (;;) {
      const pid_t r = ::waitpid(child, &status, WNOHANG);
      if (r == child) break;
      if (r < 0 && errno != EINTR) {
        status = -1;
        break;
      }
      if (stop_signal != 0) break;
      ::sigsuspend(&wait_mask);  // until the child ends or a request comes
    }
    // A group signal reaches us and the script at once: the script's end may be seen
    // before our request is handled.
    sigset_t pending;
    ::sigpending(&pending);
    for (int s : stop_signals)
      if (stop_signal == 0 && sigismember(&pending, s)) stop_signal = s;
    if (stop_signal != 0) {
      // Further requests are passed on to a group of its own while it ends (the model
      // takes a second one as "do not wait").
      sigset_t stops = stop_set();
      ::sigprocmask(SIG_UNBLOCK, &stops, nullptr);
      if (separate_group) {
        if (!wait_for([child] { return group_gone(child); }, script_stop_grace_ms)) {
          ::kill(-child, SIGKILL);
          wait_for([child] { return group_gone(child); }, 1000);
        }
      } else if (!wait_for(children_gone, script_stop_grace_ms)) {
        // What still runs is killed with us, the run being one group.
        std::cout.flush();
        std::fflush(nullptr);
        ::kill(0, SIGKILL);
      }
      end_by(stop_signal);
    }
    script_group = 0;
  }
  for (int i = 0; i < 4; ++i) ::sigaction(handled[i], &old_actions[i], nullptr);
  ::sigprocmask(SIG_SETMASK, &old_mask, nullptr);
  return status;
}

}  // namespace vesk
