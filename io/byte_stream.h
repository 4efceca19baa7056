#pragma once
// Byte sinks and sources: handles over a TCP connection or a do-nothing stand-in, so a
// consumer can be unplugged from a lost connection by putting the stand-ins back.

#include <cstddef>
#include <functional>
#include <memory>

#include "io/blob.h"
#include "io/tcp.h"

namespace vesk::io {

/// Something bytes are written to. Copies share the connection.
class sink {
 public:
  /// The do-nothing target: writes are dropped.
  struct null_impl {};

  /// The operations every kind of sink provides.
  struct sink_concept {
    virtual ~sink_concept() = default;
    virtual void write(const void* data, size_t length) = 0;
    virtual std::unique_ptr<sink_concept> copy() const = 0;
  };
  template <class T>
  struct model;

  explicit sink(std::shared_ptr<tcp> connection);
  explicit sink(null_impl* none);
  sink(const sink& other);
  sink& operator=(const sink& other);
  ~sink();

  /// Sends the bytes through the connection (or drops them).
  void write(const void* data, size_t length);

 private:
  std::unique_ptr<sink_concept> self_;
};

/// Something bytes come from. The consumer's handler is set through `on_new_data`; the
/// producer always delivers to the source made (or copied) last.
class source {
 public:
  /// The consumer's handler: gets all unconsumed bytes, returns how many it used.
  using handler = std::function<size_t(blob&)>;

  /// The do-nothing producer; it never produces data.
  struct null_impl {
    /// The one instance, created on first use.
    static null_impl& instance();
    handler on_new_data = [](blob& b) { return b.size; };
  };

  /// The operations every kind of source provides.
  struct source_concept {
    virtual ~source_concept() = default;
    virtual std::unique_ptr<source_concept> copy() const = 0;
    /// Makes `h` the handler and points the producer at it.
    virtual void set_handler(handler h) = 0;
    /// The current handler; shared with the producer's forwarder, which holds it only
    /// weakly and only for the length of one delivery.
    std::shared_ptr<handler> slot = std::make_shared<handler>();
  };
  template <class T>
  struct model;

  /// The assignable handler slot of a source.
  class func_forward {
   public:
    explicit func_forward(source* owner) : owner_(owner) {}
    /// Stores any callable taking a blob& and returning size_t as the handler.
    template <class F>
    func_forward& operator=(F f) {
      owner_->self_->set_handler(handler(std::move(f)));
      return *this;
    }

   private:
    source* owner_;
  };

  explicit source(std::shared_ptr<tcp> connection);
  explicit source(null_impl* none = &null_impl::instance());
  source(const source& other);
  source& operator=(const source& other);
  ~source();

  func_forward on_new_data{this};  ///< assign the consumer's handler here

 private:
  std::unique_ptr<source_concept> self_;
};

}  // namespace vesk::io
