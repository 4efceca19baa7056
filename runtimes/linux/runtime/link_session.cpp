#include "link_session.h"

#include <cstring>
#include <iostream>
#include <utility>

#include "link_codec.h"

// Values go on the wire in the machine's own byte order, which the link fixes as
// little-endian.
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the link sends values little-endian");

namespace linux_runtime {
namespace link {

namespace {

/// Names longer than a u8 can count are cut, at a character boundary of UTF-8 text.
std::string wire_name(const char* name) {
  std::string s = name != nullptr ? name : "";
  if (s.size() <= 255) return s;
  size_t cut = 255;
  while (cut > 0 && (static_cast<unsigned char>(s[cut]) & 0xC0) == 0x80) --cut;
  return s.substr(0, cut);
}

void put_definition(std::vector<uint8_t>& out, const char* name, const vesk::serialize::type& value) {
  const std::string n = wire_name(name);
  out.push_back(static_cast<uint8_t>(n.size()));
  out.insert(out.end(), n.begin(), n.end());
  out.push_back(value.code());
}

/// A value handle of a parameter (an empty one for a missing parameter).
vesk::serialize::type parameter_value(const vesk::rt::parameter_list_element& e) {
  return e.param != nullptr ? e.param->value() : vesk::serialize::type();
}

template <typename T>
double as_number(const uint8_t* p) {
  T v;
  std::memcpy(&v, p, sizeof v);
  return static_cast<double>(v);
}

/// The number held by the bytes of a value of type `code`.
double number_from_bytes(uint8_t code, const uint8_t* p) {
  namespace c = vesk::serialize::code;
  switch (code) {
    case c::boolean: return p[0] != 0 ? 1.0 : 0.0;
    case c::int8: return as_number<int8_t>(p);
    case c::uint8: return as_number<uint8_t>(p);
    case c::int16: return as_number<int16_t>(p);
    case c::uint16: return as_number<uint16_t>(p);
    case c::int32: return as_number<int32_t>(p);
    case c::uint32: return as_number<uint32_t>(p);
    case c::int64: return as_number<int64_t>(p);
    case c::uint64: return as_number<uint64_t>(p);
    case c::float32: return as_number<float>(p);
    case c::float64: return as_number<double>(p);
    case c::float_ext: return as_number<long double>(p);
    default: return 0.0;
  }
}

}  // namespace

session::session(vesk::rt::model& m, vesk::time start)
    : model_(m), start_(start), daq_by_raster_(m.rasters.size()) {}

void session::reset() {
  next_signal_def_ = 0;
  next_parameter_def_ = 0;
  paq_.clear();
  std::lock_guard<std::mutex> g(lock_);
  for (auto& list : daq_by_raster_) list.clear();
  daq_unscheduled_.clear();
  pending_.clear();
  streaming_ = false;
}

void session::handle(uint8_t type, const uint8_t* p, size_t n, std::vector<uint8_t>& out) {
  switch (type) {
    case packet::connect: {
      // Also a handshake restarted on the same connection: the back end sends the DAQ
      // list again once it has the definitions, but the PAQ list only once per
      // connection, so that one is kept until the connection is gone.
      std::vector<uint32_t> paq = std::move(paq_);
      reset();
      paq_ = std::move(paq);
      break;
    }
    case packet::request_signal_defs: send_definitions(true, out); break;
    case packet::request_parameter_defs: send_definitions(false, out); break;
    case packet::set_daq_list:
      set_daq_list(p, n);
      append_frame(out, packet::daq_list_ack, nullptr, 0);
      break;
    case packet::set_paq_list:
      set_paq_list(p, n);
      append_frame(out, packet::paq_list_ack, nullptr, 0);
      append_parameter_values(out);
      break;
    case packet::parameter_values:
      if (apply_parameter_values(p, n)) append_parameter_values(out);
      break;
    case packet::command: command(p, n); break;
    default: break;
  }
}

void session::send_definitions(bool signals, std::vector<uint8_t>& out) {
  size_t& next = signals ? next_signal_def_ : next_parameter_def_;
  const size_t count = signals ? model_.signals.size() : model_.parameters.size();
  std::vector<uint8_t> batch;
  while (next < count && batch.size() < definition_batch_bytes) {
    if (signals)
      put_definition(batch, model_.signals[next].name, model_.signals[next].value);
    else
      put_definition(batch, model_.parameters[next].name, parameter_value(model_.parameters[next]));
    ++next;
  }
  // The empty batch ends the list; a later request starts it again from the top.
  if (batch.empty()) next = 0;
  append_frame(out, signals ? packet::signal_defs : packet::parameter_defs, batch);
}

void session::set_daq_list(const uint8_t* p, size_t n) {
  std::vector<std::vector<daq_entry>> by_raster(model_.rasters.size());
  std::vector<daq_entry> unscheduled;
  bool any = false;
  for (size_t pos = 0; pos + 4 <= n; pos += 4) {
    const size_t signal = get_u32(p + pos);
    if (signal >= model_.signals.size()) continue;  // no such signal: never streamed
    const daq_entry e{static_cast<uint32_t>(pos / 4), signal};
    const int r = model_.signals[signal].raster;
    if (r >= 0 && static_cast<size_t>(r) < by_raster.size())
      by_raster[static_cast<size_t>(r)].push_back(e);
    else
      unscheduled.push_back(e);
    any = true;
  }
  std::lock_guard<std::mutex> g(lock_);
  daq_by_raster_ = std::move(by_raster);
  daq_unscheduled_ = std::move(unscheduled);
  // Waiting records carry positions of the old list; the acknowledgement must not be
  // followed by any of them.
  pending_.clear();
  streaming_ = any;
}

void session::set_paq_list(const uint8_t* p, size_t n) {
  paq_.clear();
  for (size_t pos = 0; pos + 4 <= n; pos += 4) paq_.push_back(get_u32(p + pos));
}

bool session::apply_parameter_values(const uint8_t* p, size_t n) {
  bool applied = false;
  std::string problem;
  size_t pos = 0;
  while (pos < n) {
    if (n - pos < 8 || get_u32(p + pos + 4) > n - pos - 8) {
      problem = "a record is cut short";
      break;
    }
    const uint32_t index = get_u32(p + pos);
    const uint32_t size = get_u32(p + pos + 4);
    const uint8_t* bytes = p + pos + 8;
    pos += 8 + size;
    if (index >= model_.parameters.size() || model_.parameters[index].param == nullptr) {
      if (problem.empty()) problem = "no parameter has the index " + std::to_string(index);
      continue;
    }
    const vesk::serialize::type v = parameter_value(model_.parameters[index]);
    if (!v.numeric() || v.size() != size) {
      if (problem.empty())
        problem = std::string("parameter ") + wire_name(model_.parameters[index].name) + " takes " +
                  (v.numeric() ? std::to_string(v.size()) + " bytes" : std::string("no value")) + ", not " +
                  std::to_string(size) + " bytes";
      continue;
    }
    applied = model_.parameters[index].param->set_number(number_from_bytes(v.code(), bytes)) || applied;
  }
  if (!problem.empty())
    std::cerr << "vesk-model: parameter values from the back end: " + problem + "; skipped\n";
  return applied;
}

void session::command(const uint8_t* p, size_t n) {
  if (quit_sent_ || !is_quit(std::string(reinterpret_cast<const char*>(p), n))) return;
  quit_sent_ = true;
  on_quit();
}

bool session::store_values(const std::vector<daq_entry>& entries, vesk::time when) {
  const int64_t offset = (when - start_).ns();
  const uint64_t stamp = offset > 0 ? static_cast<uint64_t>(offset) : 0;
  for (const daq_entry& e : entries) {
    const vesk::serialize::type& v = model_.signals[e.signal].value;
    const size_t size = v.numeric() ? v.size() : 0;
    if (pending_.size() + 16 + size > pending_daq_bytes) {
      ++dropped_;
      return false;
    }
    put_u32(pending_, e.position);
    put_u32(pending_, static_cast<uint32_t>(size));
    put_u64(pending_, stamp);
    const size_t at = pending_.size();
    pending_.resize(at + size);
    if (size > 0) v.copy_to(pending_.data() + at, size);
  }
  return true;
}

void session::tick(size_t raster, vesk::time when) {
  if (!streaming_.load(std::memory_order_relaxed)) return;
  bool woke;
  {
    std::lock_guard<std::mutex> g(lock_);
    if (raster >= daq_by_raster_.size() || daq_by_raster_[raster].empty()) return;
    const bool was_empty = pending_.empty();
    store_values(daq_by_raster_[raster], when);
    woke = was_empty && !pending_.empty();
  }
  if (woke) wake_();
}

void session::sample_unscheduled(vesk::time now) {
  std::lock_guard<std::mutex> g(lock_);
  if (!daq_unscheduled_.empty()) store_values(daq_unscheduled_, now);
}

bool session::take_signal_values(std::vector<uint8_t>& out) {
  // Two buffers change places, so a steady stream allocates nothing.
  spare_.clear();
  {
    std::lock_guard<std::mutex> g(lock_);
    if (pending_.empty()) return false;
    spare_.swap(pending_);
  }
  append_frame(out, packet::daq_data, spare_);
  return true;
}

void session::append_parameter_values(std::vector<uint8_t>& out) {
  std::vector<uint8_t> payload;
  for (size_t pos = 0; pos < paq_.size(); ++pos) {
    if (paq_[pos] >= model_.parameters.size()) continue;
    const vesk::serialize::type v = parameter_value(model_.parameters[paq_[pos]]);
    const size_t size = v.numeric() ? v.size() : 0;
    if (!payload.empty() && payload.size() + 8 + size > paq_packet_bytes) {
      append_frame(out, packet::paq_data, payload);
      payload.clear();
    }
    put_u32(payload, static_cast<uint32_t>(pos));
    put_u32(payload, static_cast<uint32_t>(size));
    const size_t at = payload.size();
    payload.resize(at + size);
    if (size > 0) v.copy_to(payload.data() + at, size);
  }
  if (!payload.empty()) append_frame(out, packet::paq_data, payload);
}

uint64_t session::dropped() const {
  std::lock_guard<std::mutex> g(lock_);
  return dropped_;
}

bool is_quit(const std::string& text) {
  size_t end = text.size();
  while (end > 0 && (text[end - 1] == '\0' || text[end - 1] == '\n' || text[end - 1] == '\r')) --end;
  return text.compare(0, end, "quit") == 0 && end == 4;
}

int parse_port(const char* text) {
  if (text == nullptr || *text == '\0') return 0;
  long v = 0;
  for (const char* c = text; *c != '\0'; ++c) {
    if (*c < '0' || *c > '9' || c - text >= 5) return -1;
    v = v * 10 + (*c - '0');
  }
  return v >= 1 && v <= 65535 ? static_cast<int>(v) : -1;
}

}  // namespace link
}  // namespace linux_runtime
