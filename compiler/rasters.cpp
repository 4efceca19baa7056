#include "compiler/rasters.h"

#include <algorithm>
#include <set>
#include <unordered_map>

#include "compiler/compiler.h"
#include "foundation/helpers.h"
#include "foundation/json_reader.h"
#include "foundation/log_place.h"
#include "foundation/log_stream.h"

namespace vesk {

namespace {

struct unit {
  const char* text;
  uint64_t ns;
};

// Matching order when reading ("ms" before "m", "s" after "ns"/"us"/"ms").
const unit read_units[] = {{"ns", 1ULL},          {"us", 1000ULL},          {"ms", 1000000ULL},
                           {"s", 1000000000ULL},  {"m", 60000000000ULL},    {"h", 3600000000000ULL}};

/// The cfg "class" of a block as written; null when it has none.
vesk::json class_of(const compiler_node& n) {
  if (n.cfg.is_object())
    for (const auto& [key, value] : n.cfg.object_members())
      if (key == "class") return value;
  return vesk::json();
}

}  // namespace

uint64_t parse_interval(const std::string& text, size_t* read) {
  if (text.empty() || text[0] == 'a') return 0;
  size_t pos = 0;
  while (pos < text.size() && text[pos] == 'r') ++pos;
  uint64_t number = 0;
  size_t digits = 0;
  for (; pos < text.size() && text[pos] >= '0' && text[pos] <= '9'; ++pos, ++digits) {
    uint64_t d = static_cast<uint64_t>(text[pos] - '0');
    if (number > (UINT64_MAX - d) / 10) return 0;  // does not fit: no interval
    number = number * 10 + d;
  }
  if (digits == 0) return 0;
  for (const unit& u : read_units) {
    if (text.compare(pos, std::char_traits<char>::length(u.text), u.text) != 0) continue;
    if (number > UINT64_MAX / u.ns) return 0;
    if (read != nullptr) *read = pos + std::char_traits<char>::length(u.text);
    return number * u.ns;
  }
  return 0;
}

std::string raster_name(uint64_t interval_ns) {
  static const unit largest_first[] = {{"h", 3600000000000ULL}, {"m", 60000000000ULL},
                                       {"s", 1000000000ULL},    {"ms", 1000000ULL},
                                       {"us", 1000ULL}};
  for (const unit& u : largest_first)
    if (interval_ns % u.ns == 0) return "r" + std::to_string(interval_ns / u.ns) + u.text;
  return "r" + std::to_string(interval_ns) + "ns";
}

void compiler::resolve_rasters() {
  log_debug << "resolve raster..." << std::endl;
  if (nodes.empty()) return;

  for (auto& [name, n] : nodes) {
    n->placed = false;
    log_place at(n->place);
    // A raster an annotation gave is named with its node source.
    const std::string origin = n->raster_origin.empty() ? "" : " (the raster of its node source " + n->raster_origin + ")";
    if (!is_rate_transition(*n)) {
      if (n->raster.empty()) n->raster = "auto";
      size_t read = 0;
      uint64_t interval = parse_interval(n->raster, &read);
      if (interval != 0) {
        // Kept as read, but a typo ("r100sm") must not change the period in silence.
        if (read < n->raster.size()) {
          log_warn << "Raster '" << n->raster << "' of block " << name << " is read as " << raster_name(interval)
                   << ": the characters after its unit are ignored" << origin << std::endl;
        }
        n->raster = raster_name(interval);
      } else if (n->raster != "auto" && n->raster != "default" && n->raster != "source" &&
                 n->raster.compare(0, 2, "a_") != 0) {
        log_err << "Unknown raster '" << n->raster << "' for block " << name << origin << std::endl;
        n->raster = "default";
        send_to_all(vesk::json{{"cmd", "mdl_error"}, {"node", name}});
        error = true;
      }
    }
    if (n->raster == "default") {
      n->raster = default_raster;
    } else if (n->raster == "source") {
      n->raster = "a_" + name;
      n->raster_source = true;
      // Its raster is run by the block object's poll(), which only a class node has, and
      // only when its class declares one.
      const bool has_obj = n->members.find("obj") != nullptr;
      if (!has_obj || (!n->has_error && !configured_generator(*n)->has_poll())) {
        const bool is_class = has_obj && n->type == "class";
        log_err << "Raster 'source' for block " << name << " needs a block object with a poll(), which "
                << (is_class ? "class " + written(class_of(*n)) + " does not declare (a raster source declares "
                               "vesk::time poll(), no tick() and no inputs)"
                             : "a \"" + n->type + "\" block has not")
                << origin << std::endl;
        send_to_all(vesk::json{{"cmd", "mdl_error"}, {"node", name}});
        error = true;
      }
    }
  }

  // Propagation: passes over the blocks in name order; a block with a raster, not yet
  // handled, hands it to every "auto" neighbour. A neighbour later in name order is
  // handled in the same pass, an earlier one in the next. Simulated with one ordered
  // set per pass instead of walking every block in every pass.
  std::vector<compiler_node*> by_index;
  std::unordered_map<const compiler_node*, size_t> index;
  by_index.reserve(nodes.size());
  for (auto& [name, n] : nodes) {
    index.emplace(n.get(), by_index.size());
    by_index.push_back(n.get());
  }
  std::set<size_t> current;
  for (size_t i = 0; i < by_index.size(); ++i)
    if (!is_rate_transition(*by_index[i]) && by_index[i]->raster != "auto") current.insert(i);
  const size_t max_passes = nodes.size();
  bool changed = true;
  for (size_t passes = 0; passes < max_passes && changed; ++passes) {
    changed = false;
    std::set<size_t> next;
    while (!current.empty()) {
      size_t i = *current.begin();
      current.erase(current.begin());
      compiler_node& x = *by_index[i];
      x.placed = true;
      auto hand_over = [&](compiler_node* to) {
        if (to == nullptr || to->raster != "auto") return;
        to->raster = x.raster;
        changed = true;
        if (is_rate_transition(*to)) return;  // takes a raster, never passes it on
        size_t j = index.at(to);
        (j > i ? current : next).insert(j);
      };
      for (auto& out : x.output_pins)
        for (auto& c : out.value.consumers) hand_over(c.bound.get());
      for (auto& [pin, c] : x.inputs) hand_over(c.bound.get());
    }
    current.swap(next);
  }

  std::set<std::string> polled;  // the rasters "a_x" that a source block runs
  for (auto& [name, n] : nodes) {
    n->placed = false;
    if (n->raster == "auto") n->raster = default_raster;
    if (n->raster_source) polled.insert(n->raster);
    std::string label = !n->raster.empty() && n->raster[0] == 'r' ? n->raster.substr(1) : n->raster;
    send_to_all(vesk::json{{"cmd", "set_text_right"}, {"name", name}, {"text", label}});
  }
  // A raster that no source runs would have no poll() to wait on: each of its blocks is
  // told, before any code is written.
  for (auto& [name, n] : nodes) {
    if (is_rate_transition(*n) || n->raster.compare(0, 2, "a_") != 0 || polled.count(n->raster) != 0) continue;
    log_place at(n->place);
    log_err << "Raster " << n->raster << " has nodes but no source nodes. (A raster a_x is run by block x of raster "
            << "'source'; no block " << n->raster.substr(2) << " has that raster.)" << std::endl;
    send_to_all(vesk::json{{"cmd", "mdl_error"}, {"node", name}});
    error = true;
  }
}

void compiler::check_raster_connections() {
  for (auto& [name, n] : nodes) {
    compiler_node& x = *n;
    if (x.is_base("parameter")) {
      x.output_pins["value"].mapped_name = "parameter." + name;
      parameter_entries.push_back("{ \"" + replace_all(name, "__", ".") + "\", &parameter." + name + "}");
      continue;
    }
    x.member_copy = x.members;
    for (auto& m : x.members) m.value.mapped_name = name + "__" + m.key;

    for (auto& out : x.output_pins) {
      for (auto& c : out.value.consumers) {
        compiler_node* d = c.bound.get();
        if (d == nullptr || is_rate_transition(x) || is_rate_transition(*d) || d->raster == x.raster)
          continue;
        // The connection is the reader's.
        log_place at(d->place);
        log_err << "found node with error" << std::endl;
        log_err << "The nodes with the name " << name << " and " << d->name
                << " are connected, but they run in different rasters. "
                << "Use a rt-node (rate_transition) to solve this problem." << std::endl;
        send_to_all(vesk::json{{"cmd", "mdl_error"}, {"node", d->name}, {"input_pin", c.pin}});
        error = true;
      }
    }

    const data_member* obj = x.members.find("obj");
    const std::string obj_var = obj != nullptr ? obj->mapped_name : name + "__obj";
    for (auto& out : x.output_pins)
      out.value.mapped_name = out.value.is_member ? obj_var + "." + out.value.var_name : name + "__" + out.key;
    for (auto& in : x.input_pins)
      in.value.mapped_name = in.value.is_member ? obj_var + "." + in.value.var_name : name + "__" + in.key;
  }
}

}  // namespace vesk
