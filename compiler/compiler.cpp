#include "compiler/compiler.h"

#include <time.h>

#include <algorithm>
#include <filesystem>
#include <stdexcept>
#include <unordered_map>
#include <unordered_set>

#include "compiler/rasters.h"
#include "foundation/bt_exception.h"
#include "foundation/helpers.h"
#include "foundation/keyed_hash.h"
#include "foundation/json_reader.h"
#include "foundation/log_place.h"
#include "foundation/log_stream.h"
#include "generators/config_check.h"

namespace vesk {

int64_t now_ns() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

compiler::~compiler() {
  for (auto& [name, n] : nodes) {
    for (auto& [pin, c] : n->inputs) c.bound.reset();
    for (auto& in : n->input_pins) in.value.attachment.reset();
    for (auto& out : n->output_pins)
      for (auto& c : out.value.consumers) c.bound.reset();
  }
}

std::shared_ptr<vesk::generator> compiler::find_generator(const std::string& type) {
  auto it = generators.find(type);
  if (it != generators.end()) return it->second;
  log_debug << "find generator: " << type << std::endl;
  throw std::runtime_error("generator '" + type + "' not found");
}

size_t compiler::find_raster_index(const std::string& raster) const {
  auto it = std::find(raster_names.begin(), raster_names.end(), raster);
  if (it == raster_names.end()) throw std::runtime_error("Raster with name " + raster + " not found");
  return static_cast<size_t>(it - raster_names.begin());
}

void compiler::report_duplicate_names(const std::vector<std::string>& names, const std::string& file,
                                      const std::string& subsystem) {
  std::unordered_set<std::string, name_hasher> seen, reported;
  for (const std::string& name : names) {
    if (seen.insert(name).second || !reported.insert(name).second) continue;
    log_err << "Duplicate block name '" << name << "' in " << level_text(file, subsystem) << std::endl;
    error = true;
  }
}

std::string compiler::level_text(const std::string& file, const std::string& subsystem) {
  return (subsystem.empty() ? std::string() : "subsystem '" + subsystem + "' of ") + "model file " +
         (file.empty() ? "(unnamed)" : std::filesystem::path(file).lexically_normal().string());
}

std::shared_ptr<compiler_node> compiler::make_block(vesk::json& e, size_t position, const std::string& shown,
                                                   const std::string& file, const std::string& subsystem) {
  const std::string place = block_place(position, shown, file, subsystem);
  // Every line written while the block is made names it; a model given without a file
  // (a test's) has no place to name.
  log_place here(file.empty() ? "" : place);
  std::shared_ptr<compiler_node> n;
  try {
    n = std::make_shared<compiler_node>(e, this);
  } catch (const std::exception& ex) {
    // The key at fault: a type that names no generator.
    const bool no_generator =
        e.is_object() && e.contains("type") && e["type"].is_string() && generators.count(e["type"].get_string()) == 0;
    throw_bt_exception(std::string(ex.what()) + (no_generator ? " (key \"type\")" : "") + " in " + place);
  }
  n->place = file.empty() ? "" : place;
  // A model referenced many times places its blocks alike: one report each.
  const bool warn = warned_blocks.insert(place).second;
  std::vector<vesk::read_finding> warnings;
  const vesk::read_finding* first_error = nullptr;
  for (const vesk::read_finding& f : n->config_warnings) {
    if (!f.error) warnings.push_back(f);
    if (f.error && first_error == nullptr) first_error = &f;
  }
  if (warn) write_findings(warnings);
  // What would be read as something else than written stops the compile here, before
  // anything is generated.
  if (first_error != nullptr) throw_bt_exception(finding_text(*first_error));
  check_block(*n, place, warn);
  return n;
}

std::string compiler::block_place(size_t position, const std::string& shown, const std::string& file,
                                  const std::string& subsystem) {
  return (shown.empty() ? "block " + std::to_string(position) : "block '" + shown + "'") + " of " +
         level_text(file, subsystem);
}

std::shared_ptr<vesk::generator> compiler::configured_generator(compiler_node& n) {
  std::shared_ptr<vesk::generator> gen = find_generator(n.type);
  gen->set_name(n.name);
  gen->set_config(n.cfg);
  gen->set_mappings(n.get_mappings());
  return gen;
}

// Blocks are placed in passes over the remaining blocks, walked from the last name to
// the first; a block is placed once every source inside the raster is placed (a delay
// at once). Simulated here without the passes: a block's pass is the latest of its
// sources' passes, one later for a source that the walk visits after it (a smaller
// name). Placed order is by pass, then by descending name, as the walk would place them.
bool compiler::order_raster(const node_list& group, node_list& ordered) {
  for (auto& [name, n] : nodes) n->placed = false;
  const size_t count = group.size();
  std::unordered_map<std::string, size_t, name_hasher> index;
  index.reserve(count);
  for (size_t i = 0; i < count; ++i) index.emplace(group[i]->name, i);

  std::vector<std::vector<size_t>> readers(count);  // group-internal edges source -> reader
  std::vector<size_t> waiting(count, 0);
  for (size_t i = 0; i < count; ++i) {
    if (group[i]->is_base("delay")) continue;
    for (const auto& [pin, c] : group[i]->inputs) {
      auto src = index.find(c.node);
      if (src == index.end()) continue;
      readers[src->second].push_back(i);
      ++waiting[i];
    }
  }
  std::vector<size_t> pass(count, 0);
  std::vector<size_t> ready;
  for (size_t i = 0; i < count; ++i)
    if (waiting[i] == 0) {
      pass[i] = 1;
      ready.push_back(i);
    }
  std::vector<size_t> placed_order;
  while (!ready.empty()) {
    size_t s = ready.back();
    ready.pop_back();
    placed_order.push_back(s);
    for (size_t r : readers[s]) {
      pass[r] = std::max(pass[r], s > r ? pass[s] : pass[s] + 1);
      if (--waiting[r] == 0) ready.push_back(r);
    }
  }
  std::sort(placed_order.begin(), placed_order.end(), [&](size_t a, size_t b) {
    return pass[a] != pass[b] ? pass[a] < pass[b] : a > b;
  });

  if (placed_order.size() < count) {
    error = true;
    log_err << "There is a Loop. Use a delay-node to resolve it. Nodes in Loop:" << std::endl;
    std::vector<bool> is_placed(count, false);
    for (size_t i : placed_order) is_placed[i] = true;
    for (size_t i = 0; i < count; ++i) {
      if (is_placed[i]) continue;
      log_info << group[i]->name << std::endl;
      send_to_all(vesk::json{{"cmd", "set_text_left"}, {"name", group[i]->name}, {"text", "Loop"}});
    }
  }
  ordered.clear();
  uint64_t number = 0;
  for (size_t i : placed_order) {
    group[i]->order_number = ++number;
    ordered.push_back(group[i]);
  }
  return !error;
}

void compiler::compile(const vesk::json& model_json) {
  files.clear();
  block_lines.clear();
  signal_names.clear();
  signal_sources.clear();
  header_file_name = base_name + ".h";
  source_file_name = base_name + ".cpp";
  model = model_json;

  compile_info = vesk::json::make_object();
  compile_info["libs"] = vesk::json::make_array(nullptr, 0);
  compile_info["headers"] = vesk::json::make_array(nullptr, 0);
  compile_info["sources"] = vesk::json::make_array(nullptr, 0);

  const int64_t start = now_ns();
  // A line about no block in particular still names the model file.
  log_place in_model(model_file.empty() ? "" : level_text(model_file, ""));

  vesk::json node_list_json = model_blocks(model, model_file);
  std::vector<std::string> names;
  for (auto it = node_list_json.begin(); it != node_list_json.end(); ++it) {
    vesk::json& e = *(*it).value;
    const std::string shown = e.is_object() && e.contains("name") && e["name"].is_string() ? e["name"].get_string() : "";
    auto n = make_block(e, names.size() + 1, shown, model_file, "");
    nodes[n->name] = n;
    names.push_back(n->name);
  }
  report_duplicate_names(names, model_file, "");

  // Expansion also reports the names used twice inside subsystems and referenced models.
  resolve_subsystems();
  if (error) return;

  for (auto& [name, n] : nodes) {
    if (!n->has_error) continue;
    log_place at(n->place);
    log_err << "Node " << name << " has an error: " << n->error_text << std::endl;
    send_to_all(vesk::json{{"cmd", "mdl_error"}, {"node", name}});
    error = true;
  }

  build_connections();

  // Bind connections to their node objects; the pins found by name, as a block may have
  // many.
  for (auto& [name, n] : nodes) {
    hash_vector_filler<input_pin> input_pins(n->input_pins);
    for (auto& [pin, c] : n->inputs) {
      if (c.node.empty()) continue;
      auto src = nodes.find(c.node);
      std::shared_ptr<compiler_node> bound = src != nodes.end() ? src->second : nullptr;
      input_pins[pin].attachment = bound;
      c.bound = bound;
    }
    for (auto& out : n->output_pins) {
      for (auto& c : out.value.consumers) {
        auto dst = nodes.find(c.node);
        c.bound = dst != nodes.end() ? dst->second : nullptr;
      }
    }
  }

  resolve_rasters();
  if (error) return;
  check_raster_connections();
  if (error) return;

  std::map<std::string, node_list> groups;
  for (auto& [name, n] : nodes)
    if (!is_rate_transition(*n)) groups[n->raster].push_back(n);
  for (auto& [raster, group] : groups) raster_names.push_back(raster);

  std::map<std::string, node_list> ordered;
  for (auto& [raster, group] : groups)
    if (!order_raster(group, ordered[raster])) return;

  src_stream& source = files[source_file_name];
  reset_stream(source);
  source << "#include \"model.h\"" << std::endl << std::endl;
  write_model_header_head();
  write_parameters_header();
  src_stream& header = files[header_file_name];
  for (const std::string& raster : raster_names) {
    write_raster_class(raster, ordered[raster]);
    header << std::endl;
  }
  write_model_tail();

  log_debug << "finished: " << static_cast<double>(now_ns() - start) / 1000000000.0 << std::endl;

  write_global_getter();

  // A state machine's own files are its block's alone.
  for (auto& [name, n] : nodes) {
    if (n->type != "state_machine") continue;
    for (const char* ext : {".h", ".cpp"}) {
      auto f = files.find("sm_" + name + ext);
      if (f != files.end() && lines_written(f->second) > 0)
        add_block_lines(block_lines, f->first, 1, lines_written(f->second), n->place);
    }
  }

  for (auto& [file, text] : files) {
    if (ends_with(file, ".h")) compile_info["headers"].push_back("model/" + file);
    if (ends_with(file, ".cpp")) compile_info["sources"].push_back("model/" + file);
  }
}

}  // namespace vesk
