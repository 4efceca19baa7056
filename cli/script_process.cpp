#include "cli/script_process.h"

#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <memory>
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

/// Waits up to `ms` for `gone` to hold, passing on what the script writes meanwhile
/// (`relay` may be null); true when it did.
template <typename F>
bool wait_for(F gone, int ms, output_relay* relay) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  for (;;) {
    // A script blocked on a full pipe could not end.
    if (relay != nullptr) relay->drain();
    if (gone()) break;
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

int run_script_command(const std::string& command, const line_filter& filter) {
  std::unique_ptr<output_relay> relay;
  if (filter) relay = std::make_unique<output_relay>(filter);
  // The script runs in a process group of its own, and every stop request that reaches
  // us is passed on to that group: one for us alone (kill, `timeout`, a closing terminal,
  // the back end stopping its own group) reaches the model, and one for our group (Ctrl-C)
  // does not reach it twice (the model takes a second one as "do not wait").
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

  const pid_t parent = ::getpid();
  const pid_t child = ::fork();
  if (child == 0) {
    ::setpgid(0, 0);
    // Should we end without passing a stop on (SIGKILL), the kernel asks the script to
    // stop; the shell execs the script, which may exec its program, so that is what gets it.
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (::getppid() != parent) ::_exit(127);  // we ended before that took hold
    for (int i = 0; i < 4; ++i) ::sigaction(handled[i], &old_actions[i], nullptr);
    ::sigprocmask(SIG_SETMASK, &old_mask, nullptr);
    if (relay) relay->attach_child();
    ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  if (relay) relay->close_child_ends();
  int status = -1;
  if (child > 0) {
    ::setpgid(child, child);  // also here, so the group exists before any request is passed on
    script_group = child;
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
      if (!relay) {
        ::sigsuspend(&wait_mask);  // until the child ends or a request comes
        continue;
      }
      // The same wait, and until the script wrote something.
      pollfd fds[2] = {{relay->read_end(0), POLLIN, 0}, {relay->read_end(1), POLLIN, 0}};
      if (::ppoll(fds, 2, nullptr, &wait_mask) > 0) relay->drain();
    }
    // A request may come just as the script ends: it still counts, and is passed on to
    // what is left of the group once it is unblocked below.
    sigset_t pending;
    ::sigpending(&pending);
    for (int s : stop_signals)
      if (stop_signal == 0 && sigismember(&pending, s)) stop_signal = s;
    if (stop_signal != 0) {
      // Further requests are passed on while the group ends (the model takes a second
      // one as "do not wait").
      sigset_t stops = stop_set();
      ::sigprocmask(SIG_UNBLOCK, &stops, nullptr);
      if (!wait_for([child] { return group_gone(child); }, script_stop_grace_ms, relay.get())) {
        ::kill(-child, SIGKILL);
        wait_for([child] { return group_gone(child); }, 1000, relay.get());
      }
      if (relay) relay->finish();
      end_by(stop_signal);
    }
    script_group = 0;
  }
  if (relay) relay->finish();
  for (int i = 0; i < 4; ++i) ::sigaction(handled[i], &old_actions[i], nullptr);
  ::sigprocmask(SIG_SETMASK, &old_mask, nullptr);
  return status;
}

}  // namespace vesk
