// Flattening of subsystems and referenced models: every reference becomes a subsystem,
// every subsystem is replaced by its inner blocks (named subsystem + "__" + inner), and
// the connections across its border are rewired to the inner blocks.
#include <algorithm>
#include <set>
#include <unordered_map>
#include <unordered_set>

#include "compiler/compiler.h"
#include "foundation/bt_exception.h"
#include "foundation/helpers.h"
#include "foundation/keyed_hash.h"
#include "foundation/log_place.h"
#include "foundation/log_stream.h"

namespace vesk {

namespace {

/// The port blocks of one expanded subsystem: port name -> inner block name.
struct ports {
  std::map<std::string, std::string> in;
  std::map<std::string, std::string> out;
};

/// Port blocks of every expanded subsystem, in expansion order.
class port_table {
 public:
  void set(const std::string& subsystem, ports p) {
    auto it = index_.find(subsystem);
    if (it != index_.end()) {
      entries_[it->second].second = std::move(p);
      return;
    }
    index_.emplace(subsystem, entries_.size());
    entries_.emplace_back(subsystem, std::move(p));
  }
  const ports* find(const std::string& subsystem) const {
    auto it = index_.find(subsystem);
    return it == index_.end() ? nullptr : &entries_[it->second].second;
  }
  const std::vector<std::pair<std::string, ports>>& entries() const { return entries_; }

  /// Inner input block of port `port`; throws when the subsystem has none.
  const std::string& input(const std::string& subsystem, const std::string& port) const {
    return inner(subsystem, port, &ports::in, "input");
  }
  /// Inner output block of port `port`; throws when the subsystem has none.
  const std::string& output(const std::string& subsystem, const std::string& port) const {
    return inner(subsystem, port, &ports::out, "output");
  }

 private:
  const std::string& inner(const std::string& subsystem, const std::string& port,
                           std::map<std::string, std::string> ports::*side, const char* what) const {
    const ports* p = find(subsystem);
    if (p != nullptr) {
      auto it = (p->*side).find(port);
      if (it != (p->*side).end()) return it->second;
    }
    throw_bt_exception(log_place::placed("Subsystem " + subsystem + " has no " + what + " with name " + port));
  }

  std::vector<std::pair<std::string, ports>> entries_;
  std::unordered_map<std::string, size_t, name_hasher> index_;
};

/// Where a block still to expand stands: the referenced models around it (innermost
/// last), the model file that holds it and its subsystem path within that file.
struct placement {
  std::vector<std::string> references;
  std::string file;
  std::string path;
};

bool is_expandable(const compiler_node& n) { return n.is_base("reference") || n.is_base("subsystem"); }

bool is_subsystem(const compiler_node* n) {
  return n != nullptr && (n->is_base("subsystem") || n->is_base("subsystem_ready_to_delete"));
}

void set_input(compiler_node& n, const std::string& pin, const node_connection& source) {
  node_connection& c = n.inputs[pin];
  c.node = source.node;
  c.pin = source.pin;
  c.bound.reset();
  c.is_ignored = false;
}

node_connection input_or_empty(const compiler_node* n, const std::string& pin) {
  if (n == nullptr) return node_connection();
  auto it = n->inputs.find(pin);
  return it == n->inputs.end() ? node_connection() : node_connection(it->second.node, it->second.pin);
}

bool consumer_less(const node_connection& a, const std::string& node, const std::string& pin) {
  return a.node != node ? a.node < node : a.pin < pin;
}

}  // namespace

void compiler::resolve_subsystems() {
  log_debug << "resolve subsystems..." << std::endl;
  port_table table;
  std::vector<std::string> inner_inputs;
  std::map<std::string, std::string> aliases;
  std::string last_reference;
  auto recursion = [&last_reference]() {
    throw_bt_exception("Resolve subsystems timeout... There may be a recursion. Last referenced model that was "
                       "resolved: " + last_reference);
  };
  // The referenced models that enclose each block still to expand: a model met again
  // inside itself would only expand until the budget is spent, with names (and memory)
  // growing at every step, so it ends the compile at once with the same message. Blocks
  // of the model itself have no entry.
  std::unordered_map<std::string, placement, name_hasher> enclosing;
  // Where each inner block came from, for the report of a name taken twice.
  std::unordered_map<std::string, std::string, name_hasher> origin;

  auto lookup = [this](const std::string& name) -> compiler_node* {
    auto it = nodes.find(name);
    return it == nodes.end() ? nullptr : it->second.get();
  };

  // Names of the blocks still to expand, so that each pass finds the first at once.
  std::set<std::string> pending;
  for (auto& [name, n] : nodes)
    if (is_expandable(*n)) pending.insert(name);

  for (int32_t budget = 10000;;) {
    --budget;
    if (pending.empty()) {
      if (budget != 0) break;
      recursion();
    }
    compiler_node& s = *nodes.at(*pending.begin());
    pending.erase(pending.begin());
    const std::string sname = s.name;
    placement at{{}, model_file, sname};
    if (auto found = enclosing.find(sname); found != enclosing.end()) {
      at = std::move(found->second);
      enclosing.erase(found);
    }
    std::vector<std::string>& chain = at.references;

    if (s.is_base("reference")) {
      const std::string prj = s.cfg["prj"].get_string();
      const std::string mdl = s.cfg["mdl"].get_string();
      last_reference = prj + "/models/" + mdl;
      if (std::find(chain.begin(), chain.end(), last_reference) != chain.end()) recursion();
      chain.push_back(last_reference);
      s.cfg["node"] = "subsystem";
      at.file = reference_base + "/../" + prj + "/models/" + mdl + ".vmdl";
      at.path.clear();
      vesk::json referenced = read_model(at.file);
      s.cfg["nodes"] = model_blocks(referenced, at.file);
    }

    // What the expansion reports is about the level of the inner blocks.
    log_place level_place(at.file.empty() ? "" : level_text(at.file, at.path));
    s.cfg["node"] = "subsystem_ready_to_delete";
    ports p;
    std::vector<std::shared_ptr<compiler_node>> fresh;
    std::vector<std::string> inner_names;
    vesk::json& inner_nodes = s.cfg["nodes"];
    if (!inner_nodes.is_array() && !inner_nodes.is_null())
      throw_bt_exception("The blocks of the subsystem are no JSON array (key \"nodes\") in " +
                         level_text(at.file, at.path));
    for (auto it = inner_nodes.begin(); it != inner_nodes.end(); ++it) {
      vesk::json& e = *(*it).value;
      // A name of the wrong kind is left for make_block to report, with the block's place.
      const vesk::json& given = e["name"];
      const bool text = given.is_string() || given.is_null();
      const std::string inner = text ? given.get_string() : std::string();
      if (text) e["name"] = sname + "__" + inner;
      // Known before the block is made, so that its checks skip what is never written.
      if (s.comment_out && e.is_object()) e["comment_out"] = true;
      auto x = make_block(e, inner_names.size() + 1, inner, at.file, at.path);
      for (auto& [pin, c] : x->inputs) c.node = sname + "__" + c.node;
      if (x->is_base("output")) {
        p.out[inner] = x->name;
        aliases[sname + "." + inner] = x->name + ".out";
      }
      if (x->is_base("input")) {
        p.in[inner] = x->name;
        inner_inputs.push_back(x->name);
        aliases[sname + "." + inner] = x->name + ".in";
      }
      if (s.comment_out) x->comment_out = true;
      fresh.push_back(x);
      inner_names.push_back(inner);
    }
    report_duplicate_names(inner_names, at.file, at.path);
    table.set(sname, std::move(p));
    s.cfg["nodes"] = "resolved";

    // A new name may be taken already, by a top-level block or by an inner block of
    // another expansion. The editor would show both as one block, so this is a clash to
    // report, never a replacement. Names used twice within this level are reported above.
    std::unordered_set<std::string, name_hasher> placed;
    const std::string level = level_text(at.file, at.path);
    for (size_t i = 0; i < fresh.size(); ++i) {
      const std::shared_ptr<compiler_node>& x = fresh[i];
      const std::string here = "block '" + inner_names[i] + "' in " + level;
      if (placed.insert(x->name).second && nodes.count(x->name) != 0) {
        auto taken = origin.find(x->name);
        log_err << "Duplicate block name '" << x->name << "' after subsystem expansion: "
                << (taken != origin.end() ? taken->second : "block '" + x->name + "' in " + level_text(model_file, ""))
                << " and " << here << std::endl;
        error = true;
        continue;
      }
      nodes[x->name] = x;
      origin[x->name] = here;
      if (is_expandable(*x)) {
        pending.insert(x->name);
        enclosing[x->name] = placement{chain, at.file, at.path.empty() ? inner_names[i] : at.path + "." + inner_names[i]};
      } else {
        pending.erase(x->name);
        enclosing.erase(x->name);
      }
    }
    if (budget == 0) recursion();
  }
  // Blocks of one name replaced or missed each other above; rewiring what is left would
  // only report faults of the wrong blocks.
  if (error) return;

  // Border stage: connections across subsystem borders go to the inner blocks.
  link_output_connections();
  for (const auto& [sname, p] : table.entries()) {
    compiler_node* s = lookup(sname);
    if (s == nullptr) continue;
    for (auto& out : s->output_pins) {
      for (const node_connection& c : out.value.consumers) {
        compiler_node* reader = lookup(c.node);
        // A port that is missing is the fault of the connection, which is the reader's.
        log_place at(reader != nullptr ? reader->place : s->place);
        const std::string& inner_out = table.output(sname, out.key);
        if (is_subsystem(reader)) {
          if (compiler_node* port = lookup(table.input(c.node, c.pin)))
            set_input(*port, "in", node_connection(inner_out, "out"));
        } else if (reader != nullptr) {
          set_input(*reader, c.pin, node_connection(inner_out, "out"));
        }
      }
    }
    log_place at(s->place);
    for (auto& [port_name, c] : s->inputs) {
      const std::string& inner_in = table.input(sname, port_name);
      node_connection source = is_subsystem(lookup(c.node))
                                   ? node_connection(table.output(c.node, c.pin), "out")
                                   : node_connection(c.node, c.pin);
      if (compiler_node* x = lookup(inner_in)) set_input(*x, "in", source);
    }
  }
  for (const auto& entry : table.entries()) nodes.erase(entry.first);
  link_output_connections();

  // Aliases by their current value, so that a redirect touches only its own keys.
  std::unordered_map<std::string, std::vector<std::string>, name_hasher> alias_keys;
  for (const auto& [key, value] : aliases) alias_keys[value].push_back(key);
  auto redirect_aliases = [&](const std::string& from, const node_connection& to) {
    auto it = alias_keys.find(from);
    if (it == alias_keys.end()) return;
    std::vector<std::string> keys = std::move(it->second);
    alias_keys.erase(it);
    const std::string value = to.node + "." + to.pin;
    for (const std::string& key : keys) aliases[key] = value;
    std::vector<std::string>& moved = alias_keys[value];
    moved.insert(moved.end(), keys.begin(), keys.end());
  };

  // Inner input blocks: their readers read the port's source directly.
  for (const std::string& name : inner_inputs) {
    compiler_node* x = lookup(name);
    node_connection source = input_or_empty(x, "in");
    redirect_aliases(name + ".in", source);
    if (x == nullptr) continue;
    if (output_pin* out = x->output_pins.find("out"))
      for (const node_connection& c : out->consumers)
        if (compiler_node* reader = lookup(c.node)) set_input(*reader, c.pin, source);
  }

  // Output blocks, the top level's too: their readers read the block's source. The
  // consumers lists are kept up to date edge by edge rather than relinked per block.
  link_output_connections();
  std::vector<std::string> output_blocks;
  for (auto& [name, n] : nodes)
    if (n->is_base("output")) output_blocks.push_back(name);
  for (const std::string& name : output_blocks) {
    std::shared_ptr<compiler_node> o = nodes.at(name);
    node_connection source = input_or_empty(o.get(), "in");
    compiler_node* feeder = lookup(source.node);
    std::vector<node_connection> readers;
    if (output_pin* out = o->output_pins.find("out")) readers = out->consumers;
    for (const node_connection& c : readers) {
      compiler_node* reader = lookup(c.node);
      if (reader == nullptr) continue;
      set_input(*reader, c.pin, source);
      output_pin* fed = feeder != nullptr ? feeder->reader_output(source.pin) : nullptr;
      if (fed == nullptr) continue;
      std::vector<node_connection>& list = fed->consumers;
      auto at = std::lower_bound(list.begin(), list.end(), c, [](const node_connection& a, const node_connection& b) {
        return consumer_less(a, b.node, b.pin);
      });
      list.insert(at, node_connection(c.node, c.pin));
    }
    redirect_aliases(name + ".out", source);
    nodes.erase(name);
    // The erased block no longer reads anything.
    for (auto& [pin, c] : o->inputs) {
      compiler_node* src = lookup(c.node);
      output_pin* out = src != nullptr ? src->output_pins.find(c.pin) : nullptr;
      if (out == nullptr) continue;
      auto& list = out->consumers;
      list.erase(std::remove_if(list.begin(), list.end(),
                                [&name, &pin = pin](const node_connection& k) { return k.node == name && k.pin == pin; }),
                 list.end());
    }
  }

  link_output_connections();
  std::vector<std::string> doomed = inner_inputs;
  for (auto& [name, n] : nodes)
    if (n->comment_out) doomed.push_back(name);
  for (const std::string& name : doomed) nodes.erase(name);
  link_output_connections();

  for (const auto& [key, value] : aliases) {
    const std::string display = replace_all(key, "__", ".");
    signal_names[display] = replace_all(value, "__", ".");
    signal_sources[display] = value;
  }
}

}  // namespace vesk
