#include "io/standard_output.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <pthread.h>
#include <signal.h>

#include <cerrno>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "foundation/log_stream.h"
#include "io/event_list.h"

namespace vesk::io {

/// A copy of the descriptor in the event loop, armed once per wait for room: a reader that
/// has gone makes a pipe report an error at every wait, which must not spin the loop.
struct standard_output::watcher : event {
  watcher(event_list& list, standard_output& out) : event(list), out_(out) {
    fd = ::fcntl(out.fd_, F_DUPFD_CLOEXEC, 3);
    registration.events = EPOLLOUT | EPOLLONESHOT;
    on_event_in = [] {};
    on_event_out = [this] {
      armed = false;
      out_.send_pending();
      out_.arm();
    };
    // The descriptor is closed already (a terminal hung up): nobody reads any more.
    on_event_hup = [this] {
      out_.gone_ = true;
      out_.pending_.clear();
      out_.sent_ = 0;
    };
  }

  void arm() {
    if (fd <= 0 || armed) return;
    if (::epoll_ctl(list.epoll_fd, added ? EPOLL_CTL_MOD : EPOLL_CTL_ADD, fd, &registration) == 0) {
      armed = added = true;
    } else if (!added) {
      close_fd();  // not watchable (a regular file never makes us wait): the next line writes
    }
  }

  standard_output& out_;
  bool armed = false;  ///< a wait for room is registered
  bool added = false;  ///< known to epoll
};

/// The thread that writes a description shared with others, which stays blocking: it may
/// wait for the reader, the caller never does. Shared with the thread, so a thread still
/// blocked in a write at the end can be left to the process's exit.
struct standard_output::writer {
  explicit writer(int out) : fd(out) {}

  /// Hands `line` over, or drops and counts it when pending_limit bytes wait already.
  void take(std::string_view line) {
    std::lock_guard<std::mutex> lock(m);
    if (gone) return;
    if (queue.size() + in_flight >= pending_limit) {
      ++dropped;
      return;
    }
    queue.append(line.data(), line.size());
    cv.notify_all();
  }

  /// Writes what is handed over until `stop`, or until the reader is gone.
  void run() {
    std::unique_lock<std::mutex> lock(m);
    for (;;) {
      cv.wait(lock, [this] { return stop || !queue.empty(); });
      if (queue.empty()) return;
      std::string out;
      out.swap(queue);
      busy = true;
      in_flight = out.size();
      lock.unlock();
      const bool ended = !write_all(out);
      lock.lock();
      busy = false;
      in_flight = 0;
      if (ended) {
        gone = true;
        queue.clear();
      } else if (queue.empty() && dropped > 0) {
        queue = "warn: " + std::to_string(dropped) +
                " log lines were dropped from standard output: its reader did not take them in time.\n";
        dropped = 0;
      }
      cv.notify_all();
      if (gone) return;
    }
  }

  /// Writes `out` whole, waiting for the reader; false once the reader is gone.
  bool write_all(const std::string& out) {
    size_t done = 0;
    while (done < out.size()) {
      const ssize_t n = ::write(fd, out.data() + done, out.size() - done);
      if (n > 0) {
        done += static_cast<size_t>(n);
      } else if (n < 0 && errno == EINTR) {
        continue;
      } else if (n < 0 && errno == EAGAIN) {
        // Somebody else made the description non-blocking: wait for room as a blocking one would.
        pollfd room{fd, POLLOUT, 0};
        ::poll(&room, 1, -1);
      } else {
        // Gone (EPIPE, EIO) for good; any other failure (a full disk) costs these bytes only.
        return n < 0 && errno != EPIPE && errno != EIO && errno != EBADF;
      }
    }
    return true;
  }

  const int fd;
  std::mutex m;
  std::condition_variable cv;
  std::string queue;   ///< bytes handed over, not yet written
  size_t dropped = 0;  ///< lines dropped since the last note
  size_t in_flight = 0;  ///< bytes of the write under way
  bool busy = false;   ///< a write is under way
  bool stop = false;   ///< the owner has gone: end once nothing is handed over
  bool gone = false;   ///< the reader is gone for good
  std::thread thread;
};

standard_output::standard_output(int fd, bool reopen) : fd_(fd), shared_fd_(fd) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return;
  if (S_ISSOCK(st.st_mode)) {
    socket_ = true;
  } else if (S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode)) {
    const std::string path = "/proc/self/fd/" + std::to_string(fd);
    const int own = reopen ? ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC) : -1;
    if (own >= 0) {
      fd_ = own;
      own_ = true;
    } else {
      // A FIFO without a reader cannot be opened, nor can another user's terminal. The
      // shared description's flags are the shell's and the pipeline's: a thread of our own
      // waits for its reader instead. It takes no signal meant for the program.
      writer_ = std::make_shared<writer>(fd);
      sigset_t all, saved;
      ::sigfillset(&all);
      ::pthread_sigmask(SIG_SETMASK, &all, &saved);
      writer_->thread = std::thread([w = writer_] { w->run(); });
      ::pthread_sigmask(SIG_SETMASK, &saved, nullptr);
    }
  }
}

standard_output::~standard_output() {
  finish();
  watcher_.reset();
  if (own_) ::close(fd_);
  if (writer_) {
    std::unique_lock<std::mutex> lock(writer_->m);
    writer_->stop = true;
    writer_->cv.notify_all();
    const bool blocked = writer_->busy;
    lock.unlock();
    // A thread still waiting for a paused reader is left to the process's exit.
    if (blocked)
      writer_->thread.detach();
    else
      writer_->thread.join();
  }
}

void standard_output::write(std::string_view line) {
  if (line.empty() || gone_) return;
  if (writer_) {
    writer_->take(line);
    return;
  }
  if (waiting() > 0) send_pending();
  if (waiting() == 0) {
    line.remove_prefix(write_now(line.data(), line.size()));
    if (line.empty()) return;
  } else if (waiting() >= pending_limit) {
    ++dropped_;
    return;
  }
  pending_.append(line.data(), line.size());
  arm();
}

void standard_output::watch(event_list* events) {
  watcher_.reset();
  if (events == nullptr) return;
  watcher_ = std::make_unique<watcher>(*events, *this);
  if (waiting() > 0) arm();
}

void standard_output::finish() {
  const auto end = std::chrono::steady_clock::now() + finish_wait;
  if (writer_) {
    std::unique_lock<std::mutex> lock(writer_->m);
    writer_->cv.wait_until(lock, end, [this] { return writer_->gone || (writer_->queue.empty() && !writer_->busy); });
    writer_->queue.clear();
    return;
  }
  send_pending();
  while (waiting() > 0) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd room{fd_, POLLOUT, 0};
    if (::poll(&room, 1, static_cast<int>(left.count())) < 0 && errno != EINTR) break;
    send_pending();
  }
  pending_.clear();
  sent_ = 0;
}

size_t standard_output::write_now(const char* bytes, size_t size) {
  size_t done = 0;
  while (done < size && !gone_) {
    const ssize_t n = socket_ ? ::send(fd_, bytes + done, size - done, MSG_DONTWAIT | MSG_NOSIGNAL)
                              : ::write(fd_, bytes + done, size - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n == 0 || errno == EAGAIN || errno == EWOULDBLOCK) return done;
    // The reader has gone (a closed pipe or socket, a hung-up terminal): for good. Any
    // other failure (a full disk) loses these bytes only.
    if (errno == EPIPE || errno == EIO || errno == ECONNRESET || errno == EBADF) {
      gone_ = true;
      pending_.clear();
      sent_ = 0;
    }
    return size;
  }
  return gone_ ? size : done;
}

void standard_output::send_pending() {
  while (!gone_) {
    if (waiting() > 0) {
      sent_ += write_now(pending_.data() + sent_, waiting());
      if (gone_ || waiting() > 0) break;
    }
    pending_.clear();
    sent_ = 0;
    if (dropped_ == 0) break;
    // Everything that waited has left: the reader learns what it missed, then the lines
    // that come after.
    const std::string note = "warn: " + std::to_string(dropped_) +
                             " log lines were dropped from standard output: its reader did not take them in time.\n";
    dropped_ = 0;
    pending_ = note;
  }
  // Text that has left is not moved for every write: only once it is most of the buffer.
  if (sent_ > 0 && sent_ >= pending_.size() / 2) {
    pending_.erase(0, sent_);
    sent_ = 0;
  }
}

void standard_output::arm() {
  if (watcher_ && waiting() > 0) watcher_->arm();
}

standard_output& standard_out() {
  static standard_output out(1);
  return out;
}

standard_output& standard_err() {
  static standard_output err(2);
  return err;
}

void write_error_line(std::string_view prefix, std::string_view text) {
  std::string line;
  append_log_line(line, prefix, text);
  standard_err().write(line);
}

}  // namespace vesk::io
