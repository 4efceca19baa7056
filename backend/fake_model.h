#pragma once
// A stand-in for a running model, for tests and benchmarks of the model link. It speaks
// the link with a frame codec of its own (written apart from the back end's, so that a
// shared mistake cannot hide), answers the handshake from a thread, feeds the watchdog,
// and can be told to misbehave: jump its counter, fall silent, send garbage, damaged or
// huge frames, skip acknowledgements, ignore "quit", or break off in mid-frame.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace fake_link {

inline std::string u32(uint32_t v) {
  return std::string{char(v), char(v >> 8), char(v >> 16), char(v >> 24)};
}
inline uint32_t get_u32(const std::string& s, size_t at) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = v << 8 | uint8_t(s[at + size_t(i)]);
  return v;
}
/// Eight bytes of a double or a u64.
template <class T>
std::string raw8(T v) {
  static_assert(sizeof(T) == 8, "eight bytes");
  std::string out(8, '\0');
  std::memcpy(&out[0], &v, 8);
  return out;
}

/// One definition record: name length, name, then the type definition bytes as given.
inline std::string def_record(const std::string& name, const std::string& type_def) {
  return std::string(1, char(name.size())) + name + type_def;
}
inline std::string def_record(const std::string& name, uint8_t code) {
  return def_record(name, std::string(1, char(code)));
}

/// A signal value record for DAQ position `index`: size 8, 8 bytes of stamp, a double.
inline std::string daq_like(uint32_t index, double value = 1.0) {
  return u32(index) + u32(8) + std::string(8, '\0') + raw8(value);
}

/// A valid frame header announcing `length` payload bytes.
inline std::string header(uint8_t type, uint32_t length) {
  std::string h = {'\x55', '\x41', char(type), '\0'};
  h += u32(length);
  char check = 0;
  for (char c : h) check ^= c;
  return h + check;
}

/// One whole frame; `bad_checksum` spoils its last byte.
inline std::string frame(uint8_t type, const std::string& payload, bool bad_checksum = false) {
  std::string f = header(type, uint32_t(payload.size())) + payload;
  uint32_t a = 0, b = 0;
  for (unsigned char c : payload) {
    a = (a + c) % 255;
    b = (b + a) % 255;
  }
  f += char(a);
  f += char(bad_checksum ? b ^ 0x5a : b);
  return f;
}

/// Cuts the back end's frames out of `in` (skipping anything that is no valid frame).
inline void cut_frames(std::string& in, const std::function<void(uint8_t, const std::string&)>& on_frame) {
  size_t pos = 0;
  while (true) {
    pos = in.find('\x55', pos);
    if (pos == std::string::npos || in.size() - pos < 9) break;
    char check = 0;
    for (size_t i = 0; i < 8; ++i) check ^= in[pos + i];
    const uint32_t n = get_u32(in, pos + 4);
    if (in[pos + 1] != '\x41' || in[pos + 8] != check) {
      ++pos;
      continue;
    }
    if (in.size() - pos < 11 + uint64_t(n)) break;
    const std::string payload = in.substr(pos + 9, n);
    if (frame(uint8_t(in[pos + 2]), payload).substr(9 + n) != in.substr(pos + 9 + n, 2)) {
      ++pos;
      continue;
    }
    on_frame(uint8_t(in[pos + 2]), payload);
    pos += 11 + n;
  }
  in.erase(0, pos == std::string::npos ? in.size() : pos);
}

/// The model: connects at once and serves the link from its own thread until destroyed.
class model {
 public:
  /// `socket_fd`: a socket made elsewhere (another user's, one bound to another local
  /// address), taken; -1 makes one. `to`: the address it connects to (network byte order).
  model(uint16_t port, std::vector<std::string> signals, std::vector<std::string> parameters, size_t batch = 2,
        int socket_fd = -1, uint32_t to = htonl(INADDR_LOOPBACK))
      : signals_(std::move(signals)), parameters_(std::move(parameters)), batch_(batch) {
    fd_ = socket_fd >= 0 ? socket_fd : ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = to;
    if (::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
      ::close(fd_);
      fd_ = -1;
      return;
    }
    int one = 1;
    ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    thread_ = std::thread([this] { run(); });
  }
  ~model() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (fd_ >= 0) ::close(fd_);
  }
  model(const model&) = delete;
  model& operator=(const model&) = delete;

  // Behaviour, changeable at any time.
  std::atomic<bool> send_online{true};    ///< packet 16 every 500 ms
  std::atomic<bool> acknowledge{true};    ///< answer lists with 19 and 20
  std::atomic<bool> obey_quit{true};      ///< close the connection on "quit"
  std::atomic<uint32_t> counter{0};       ///< the next online counter

  /// Bytes to write as they are (frames, garbage, half frames).
  void send_raw(const std::string& bytes) {
    std::lock_guard<std::mutex> hold(lock_);
    outbox_ += bytes;
  }
  void send(uint8_t type, const std::string& payload, bool bad_checksum = false) {
    send_raw(frame(type, payload, bad_checksum));
  }
  /// Bytes queued and not yet written (a fast producer waits on this).
  size_t unsent() {
    std::lock_guard<std::mutex> hold(lock_);
    return outbox_.size();
  }
  /// Writes what is queued, then closes the connection.
  void close_after_sending() { close_ = true; }

  bool connected() const { return fd_ >= 0; }
  /// Whether the back end ended the connection.
  bool peer_closed() const { return peer_closed_; }
  /// Every frame from the back end so far: type and payload.
  std::vector<std::pair<uint8_t, std::string>> received() {
    std::lock_guard<std::mutex> hold(lock_);
    return received_;
  }
  /// The types received so far, as one text ("0 1 1 2 ...").
  std::string types() {
    std::string out;
    for (const auto& f : received()) out += (out.empty() ? "" : " ") + std::to_string(f.first);
    return out;
  }
  /// Polls `done` every 10 ms for at most `ms`.
  bool wait(const std::function<bool()>& done, int ms = 10000) {
    for (auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
         std::chrono::steady_clock::now() < end; std::this_thread::sleep_for(std::chrono::milliseconds(10))) {
      if (done()) return true;
    }
    return done();
  }
  /// Waits for a frame of `type` after the first `from` frames; its payload, or "?" when none came.
  std::string wait_frame(uint8_t type, size_t from = 0, int ms = 10000) {
    std::string found = "?";
    wait([&] {
      auto all = received();
      for (size_t i = from; i < all.size(); ++i) {
        if (all[i].first == type) {
          found = all[i].second;
          return true;
        }
      }
      return false;
    }, ms);
    return found;
  }
  size_t count() { return received().size(); }

 private:
  void run() {
    auto next_online = std::chrono::steady_clock::now();
    std::string in;
    while (!stop_) {
      const auto now = std::chrono::steady_clock::now();
      if (send_online && now >= next_online) {
        send(16, u32(counter++));
        next_online = now + std::chrono::milliseconds(500);
      }
      std::string out;
      {
        std::lock_guard<std::mutex> hold(lock_);
        out.swap(outbox_);
      }
      for (size_t done = 0; done < out.size() && fd_ >= 0;) {
        pollfd w{fd_, POLLOUT, 0};
        ::poll(&w, 1, 100);
        if (stop_) return;
        ssize_t n = ::send(fd_, out.data() + done, out.size() - done, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) done += size_t(n);
        else if (n < 0 && errno != EAGAIN) break;
      }
      if (close_) {
        ::close(fd_);
        fd_ = -1;
        return;
      }
      pollfd r{fd_, POLLIN, 0};
      if (::poll(&r, 1, 5) <= 0) continue;
      char buffer[65536];
      ssize_t n = ::recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT);
      if (n == 0 || (n < 0 && errno != EAGAIN)) {
        peer_closed_ = true;
        return;
      }
      if (n < 0) continue;
      in.append(buffer, size_t(n));
      cut_frames(in, [this](uint8_t type, const std::string& payload) { answer(type, payload); });
    }
  }

  // Answers first, then records the frame: a test that saw a frame may rely on the
  // answer being queued ahead of anything it sends next.
  void answer(uint8_t type, const std::string& payload) {
    switch (type) {
      case 0: next_signal_ = next_parameter_ = 0; break;
      case 1: send(17, next_batch(signals_, next_signal_)); break;
      case 2: send(18, next_batch(parameters_, next_parameter_)); break;
      case 3: if (acknowledge) send(19, ""); break;
      case 4: if (acknowledge) send(20, ""); break;
      case 6:
        if (payload == "quit" && obey_quit) close_ = true;
        break;
      default: break;
    }
    std::lock_guard<std::mutex> hold(lock_);
    received_.emplace_back(type, payload);
  }

  std::string next_batch(const std::vector<std::string>& records, size_t& next) {
    std::string out;
    for (size_t i = 0; i < batch_ && next < records.size(); ++i) out += records[next++];
    if (out.empty()) next = 0;  // the end of the list; a new request starts over
    return out;
  }

  std::vector<std::string> signals_, parameters_;
  size_t batch_;
  size_t next_signal_ = 0, next_parameter_ = 0;
  std::atomic<int> fd_{-1};
  std::atomic<bool> stop_{false};
  std::atomic<bool> close_{false};
  std::atomic<bool> peer_closed_{false};
  std::mutex lock_;
  std::string outbox_;
  std::vector<std::pair<uint8_t, std::string>> received_;
  std::thread thread_;
};

}  // namespace fake_link
