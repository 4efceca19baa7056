#include "io/byte_stream.h"

namespace vesk::io {

template <>
struct sink::model<std::shared_ptr<tcp>> : sink::sink_concept {
  explicit model(std::shared_ptr<tcp> c) : connection(std::move(c)) {}
  void write(const void* data, size_t length) override {
    // A send that loses the connection may unplug this sink (and destroy this model)
    // while it runs; the local pointer keeps the connection until send returns.
    std::shared_ptr<tcp> keep = connection;
    keep->send(data, length);
  }
  std::unique_ptr<sink_concept> copy() const override { return std::make_unique<model>(connection); }
  std::shared_ptr<tcp> connection;
};

template <>
struct sink::model<sink::null_impl*> : sink::sink_concept {
  void write(const void*, size_t) override {}
  std::unique_ptr<sink_concept> copy() const override { return std::make_unique<model>(); }
};

sink::sink(std::shared_ptr<tcp> connection) : self_(std::make_unique<model<std::shared_ptr<tcp>>>(std::move(connection))) {}
sink::sink(null_impl*) : self_(std::make_unique<model<null_impl*>>()) {}
sink::sink(const sink& other) : self_(other.self_->copy()) {}
sink& sink::operator=(const sink& other) {
  if (this != &other) self_ = other.self_->copy();
  return *this;
}
sink::~sink() = default;

void sink::write(const void* data, size_t length) { self_->write(data, length); }

source::null_impl& source::null_impl::instance() {
  static null_impl none;
  return none;
}

template <>
struct source::model<std::shared_ptr<tcp>> : source::source_concept {
  explicit model(std::shared_ptr<tcp> c, handler h = handler()) : connection(std::move(c)) { set_handler(std::move(h)); }
  std::unique_ptr<source_concept> copy() const override { return std::make_unique<model>(connection, *slot); }
  void set_handler(handler h) override {
    // A new slot rather than an assignment: the old handler may be running right now.
    slot = std::make_shared<handler>(std::move(h));
    std::weak_ptr<handler> target = slot;
    connection->on_new_data = [target](blob& b) -> size_t {
      std::shared_ptr<handler> h = target.lock();
      if (!h || !*h) return b.size;  // the source is gone: nobody wants the bytes
      return (*h)(b);
    };
  }
  std::shared_ptr<tcp> connection;
};

template <>
struct source::model<source::null_impl*> : source::source_concept {
  explicit model(handler h = handler()) { set_handler(std::move(h)); }
  std::unique_ptr<source_concept> copy() const override { return std::make_unique<model>(*slot); }
  void set_handler(handler h) override { slot = std::make_shared<handler>(std::move(h)); }
};

source::source(std::shared_ptr<tcp> connection) : self_(std::make_unique<model<std::shared_ptr<tcp>>>(std::move(connection))) {}
source::source(null_impl*) : self_(std::make_unique<model<null_impl*>>()) {}
source::source(const source& other) : self_(other.self_->copy()) {}
source& source::operator=(const source& other) {
  if (this != &other) self_ = other.self_->copy();
  return *this;
}
source::~source() = default;

}  // namespace vesk::io
