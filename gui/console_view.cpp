#include "gui/console_view.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <sstream>

namespace vesk::gui {

namespace {

std::string text_of(vesk::json& v) { return v.is_string() || v.is_number() ? v.get_string() : std::string(); }

}  // namespace

std::vector<std::string> console_view::first_requests() const {
  return {vesk::json{{"cmd", "get_log_history"}}.dump(), vesk::json{{"cmd", "get_backend_state"}}.dump()};
}

void console_view::on_text(const std::string& text, std::vector<std::string>& print, std::vector<std::string>& send) {
  vesk::json m = vesk::json::parse(text);
  if (!m.is_object()) {
    print.push_back("[editor] not a JSON object: " + text);
    return;
  }
  const std::string cmd = text_of(m["cmd"]);
  if (cmd == "log") {
    print.push_back("[" + text_of(m["type"]) + "] " + text_of(m["msg"]));
    return;
  }
  if (cmd != "backend_state") {
    print.push_back("[editor] " + cmd + ": " + m.dump());
    return;
  }
  vesk::json& st = m["state"];
  if (!st.is_object()) return;
  const bool online = st["online"].is_bool() && st["online"].get_bool();
  const bool building = st["build_state"].is_number() && st["build_state"].get_double() != 0;
  size_t files = 0;
  if (st["file_list"].is_object()) {
    for (auto it = st["file_list"].begin(); it != st["file_list"].end(); ++it) files += (*it).value->size();
  }
  const std::string summary = "[state] project " + text_of(st["prj_name"]) + " (" + text_of(st["prj_cfg_name"]) +
                              "), build " + (building ? "running" : "idle") + ", model " +
                              (online ? "online" : "offline") + ", " + std::to_string(files) + " files";
  if (summary != last_summary_) {
    print.push_back(summary);
    last_summary_ = summary;
  }
  // Once a model is online, every signal it offers is subscribed and printed.
  if (online && !online_ && st["signal_def"].is_array()) {
    subscribed.clear();
    types.clear();
    last_printed_.clear();
    vesk::json list = vesk::json::make_array(nullptr, 0);
    for (auto it = st["signal_def"].begin(); it != st["signal_def"].end(); ++it) {
      vesk::json& def = *(*it).value;
      const std::string name = text_of(def["name"]);
      subscribed.push_back(name);
      types.push_back(def["type"].is_number() ? static_cast<int>(def["type"].get_double()) : -1);
      list.push_back(vesk::json(name));
    }
    send.push_back(vesk::json{{"cmd", "set_daq_list"}, {"list", list}}.dump());
  }
  if (!online) subscribed.clear();
  if (subscribed.empty()) last_printed_.clear();
  online_ = online;
}

namespace {

template <typename T>
std::string number_text(const char* bytes, uint32_t size) {
  T v;
  if (size != sizeof v) return std::string();
  std::memcpy(&v, bytes, sizeof v);
  std::ostringstream os;
  os.precision(10);
  os << +v;
  return os.str();
}

}  // namespace

std::string value_text(int type, const char* bytes, uint32_t size) {
  std::string text;
  switch (type) {  // the model's type codes (docs/model-link.md)
    case 1: text = size == 1 ? (bytes[0] != 0 ? "true" : "false") : ""; break;
    case 2: text = number_text<int8_t>(bytes, size); break;
    case 3: text = number_text<uint8_t>(bytes, size); break;
    case 4: text = number_text<int16_t>(bytes, size); break;
    case 5: text = number_text<uint16_t>(bytes, size); break;
    case 6: text = number_text<int32_t>(bytes, size); break;
    case 7: text = number_text<uint32_t>(bytes, size); break;
    case 8: text = number_text<int64_t>(bytes, size); break;
    case 9: text = number_text<uint64_t>(bytes, size); break;
    case 10: text = number_text<float>(bytes, size); break;
    case 11: text = number_text<double>(bytes, size); break;
    default: break;
  }
  if (!text.empty() || size == 0) return size == 0 ? "-" : text;
  char buf[4];
  for (uint32_t i = 0; i < size; ++i) {  // a type this stand-in does not know: the bytes
    std::snprintf(buf, sizeof buf, "%02x", static_cast<unsigned>(static_cast<uint8_t>(bytes[i])));
    text += buf;
  }
  return text;
}

void console_view::on_binary(const std::string& data, std::vector<std::string>& print,
                             std::chrono::steady_clock::time_point now) {
  if (data.size() < 2 || uint8_t(data[0]) != 1 || uint8_t(data[1]) != 0) return;
  const auto u32 = [&](size_t at) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = v << 8 | uint8_t(data[at + size_t(i)]);
    return v;
  };
  for (size_t pos = 2; pos + 16 <= data.size();) {
    const uint32_t index = u32(pos);
    const uint32_t size = u32(pos + 4);
    if (data.size() - pos - 16 < size) break;
    if (index < subscribed.size()) {
      last_printed_.resize(subscribed.size(), std::chrono::steady_clock::time_point());
      if (last_printed_[index] != std::chrono::steady_clock::time_point() && now - last_printed_[index] < print_interval) {
        pos += 16 + size;
        continue;
      }
      last_printed_[index] = now;
    }
    const std::string name = index < subscribed.size() ? subscribed[index] : "#" + std::to_string(index);
    const int type = index < types.size() ? types[index] : -1;
    print.push_back("[signal] " + name + " = " + value_text(type, data.data() + pos + 16, size));
    pos += 16 + size;
  }
}

}  // namespace vesk::gui
