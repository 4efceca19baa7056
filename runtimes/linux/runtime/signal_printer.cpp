#include "signal_printer.h"

#include <cstdio>
#include <mutex>

namespace linux_runtime {

sample read_signal(const vesk::rt::signal_exporter& s) {
  sample out;
  if (!s.value.valid()) return out;
  if (!s.value.numeric()) {
    out.state = sample::opaque;
    return out;
  }
  out.state = sample::number;
  out.value = s.value.get();
  return out;
}

std::vector<size_t> select_signals(const vesk::rt::array_view<vesk::rt::signal_exporter>& signals,
                                   const std::string& spec, std::vector<std::string>& unknown) {
  std::vector<size_t> chosen;
  auto add = [&chosen](size_t i) {
    for (size_t c : chosen)
      if (c == i) return;
    chosen.push_back(i);
  };
  size_t pos = 0;
  while (pos < spec.size()) {
    size_t end = spec.find_first_of(", \t\n", pos);
    if (end == std::string::npos) end = spec.size();
    std::string name = spec.substr(pos, end - pos);
    pos = end + 1;
    if (name.empty()) continue;
    if (name == "*") {
      for (size_t i = 0; i < signals.size(); ++i) add(i);
      continue;
    }
    bool found = false;
    for (size_t i = 0; i < signals.size(); ++i) {
      if (signals[i].name != nullptr && name == signals[i].name) {
        add(i);
        found = true;
      }
    }
    if (!found) unknown.push_back(name);
  }
  return chosen;
}

std::string signal_line(const std::string& head, const std::vector<std::string>& names,
                        const std::vector<sample>& values) {
  std::string line = head;
  for (size_t i = 0; i < names.size(); ++i) {
    line += ' ';
    line += names[i];
    line += '=';
    const sample s = i < values.size() ? values[i] : sample();
    if (s.state == sample::none) {
      line += '-';
    } else if (s.state == sample::opaque) {
      line += '?';
    } else {
      char buf[40];
      std::snprintf(buf, sizeof buf, "%.15g", s.value);
      line += buf;
    }
  }
  return line;
}

void print_line(std::ostream& out, const std::string& line) {
  // The link thread prints too; a line must not be split by another.
  static std::mutex lock;
  std::lock_guard<std::mutex> g(lock);
  out << line << '\n';
  out.flush();
}

}  // namespace linux_runtime
