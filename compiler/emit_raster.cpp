// One class per raster, derived from vesk::rt::raster: a member per block variable, and
// the init_tick, tick and final bodies in which the blocks run in their order.
#include <algorithm>
#include <cctype>
#include <iostream>
#include <unordered_set>

#include "compiler/compiler.h"
#include "compiler/rasters.h"
#include "foundation/bt_exception.h"
#include "foundation/helpers.h"
#include "foundation/log_place.h"

namespace vesk {

namespace {

const output_pin* source_pin(const node_connection& c) {
  return c.bound != nullptr ? c.bound->output_pins.find(c.pin) : nullptr;
}

std::string source_var(const node_connection& c) {
  const output_pin* p = source_pin(c);
  return p != nullptr ? p->mapped_name : std::string();
}

std::string display_name(const std::string& block, const std::string& pin) {
  std::string name = replace_all(block + "." + pin, "__", ".");
  return starts_with(name, "shared.") ? name.substr(7) : name;
}

/// Counts a reader of a fifo or add transition; a second reader anywhere is refused,
/// since the read empties (resets) the transition's data.
void count_reader(compiler_node& rt, const std::string& behavior) {
  if (++rt.read_count > 1)
    throw_bt_exception(log_place::placed("[" + rt.name + "]: rate transitions of type '" + behavior +
                                         "' can only be connected once because of its reset behavior. You can use an "
                                         "expression to copy its output."));
}

}  // namespace

void compiler::write_raster_class(const std::string& r, const node_list& ordered) {
  const bool periodic = !r.empty() && r[0] == 'r';
  std::string rup = r;
  std::transform(rup.begin(), rup.end(), rup.begin(), [](unsigned char c) { return std::toupper(c); });
  const std::string index = std::to_string(find_raster_index(r));

  if (!periodic) {
    for (const auto& n : ordered)
      if (configured_generator(*n)->has_raster_interval())
        throw_bt_exception(n->name + ": node has member raster_interval but is called in a asynchronous raster." +
                           (n->place.empty() ? "" : " in " + n->place));
  }

  src_stream& h = files[r + ".h"];
  reset_stream(h);
  h << "#ifndef VESK_CODE_GEN_" << rup << "_H_" << std::endl
    << "#define VESK_CODE_GEN_" << rup << "_H_ VESK_CODE_GEN_" << rup << "_H_" << std::endl
    << std::endl
    << "#include \"./parameters_and_shared_data.h\"" << std::endl
    << std::endl
    << "class " << r << ": public vesk::rt::raster {" << std::endl
    << "public:" << std::endl;
  indent(h, 2);
  h << std::endl << "shared_data& shared;" << std::endl << "parameter_data& parameter;" << std::endl << std::endl;

  auto add_signal = [&](const std::string& display, const std::string& var, const std::string& place) {
    signal_entries.push_back("{ \"" + display + "\", instance_" + r + "." + var + ", " + index + " }");
    signal_places.push_back(place);
  };

  const std::string header_name = r + ".h";
  const std::string source_name = r + ".cpp";
  for (const auto& n : ordered) {
    if (n->is_base("parameter")) continue;
    block_span span(block_lines, header_name, h, n->place);
    if (!n->is_base("delay")) {
      for (auto& in : n->input_pins) {
        input_pin& pin = in.value;
        if (!pin.is_member) {
          auto conn = n->inputs.find(in.key);
          auto def = n->default_values.find(in.key);
          std::string def_text = def != n->default_values.end() ? def->second : std::string();
          if (pin.type != "auto") {
            h << pin.type << " " << pin.mapped_name << " = {" << def_text << "};" << std::endl;
          } else if (conn != n->inputs.end()) {
            const output_pin* src = source_pin(conn->second);
            // A member cannot be declared "auto": take the source's declared type.
            std::string type = src != nullptr && src->type != "auto" ? src->type
                                                                    : "decltype(" + source_var(conn->second) + ")";
            h << type << " " << pin.mapped_name << " = {" << def_text << "};" << std::endl;
          } else {
            std::cout << "not connected input: " << n->name << "." << in.key << " " << std::endl;
            if (!def_text.empty())
              h << "decltype(" << def_text << ") " << pin.mapped_name << " = " << def_text << ";" << std::endl;
            else
              h << "double " << pin.mapped_name << " = {};" << std::endl;
          }
        }
        add_signal(display_name(n->name, in.key), pin.mapped_name, n->place);
      }
    }
    for (auto& m : n->member_copy)
      h << m.value.type << " " << n->members[m.key].mapped_name << " = {" << m.value.init_value << "};" << std::endl;
    for (auto& out : n->output_pins) {
      output_pin& pin = out.value;
      if (!pin.is_member) {
        if (pin.type == "auto") {
          pin.type = configured_generator(*n)->get_output_type();
          if (pin.type == "auto") pin.type = "double";  // nothing says more; never an auto member
        }
        h << pin.type << " " << pin.mapped_name << ";" << std::endl;
      }
      add_signal(display_name(n->name, out.key), pin.mapped_name, n->place);
    }
  }

  // Subsystem ports fed from this raster are exported under their outer name too.
  std::unordered_set<const compiler_node*> in_raster;
  for (const auto& n : ordered) in_raster.insert(n.get());
  for (const auto& [display, raw] : signal_sources) {
    size_t dot = raw.rfind('.');
    if (dot == std::string::npos || dot == 0) continue;
    auto it = nodes.find(raw.substr(0, dot));
    if (it == nodes.end() || in_raster.count(it->second.get()) == 0) continue;
    if (const output_pin* pin = it->second->output_pins.find(raw.substr(dot + 1)))
      add_signal(display, pin->mapped_name, it->second->place);
  }

  h << std::endl;
  src_stream& s = files[r + ".cpp"];
  reset_stream(s);
  s << "#include \"./" << r << ".h\"" << std::endl << std::endl;
  s << r << "::" << r << "(shared_data& s, parameter_data& p):shared(s), parameter(p){" << std::endl;
  indent(s, 2);
  s << "name = \"" << r << "\";" << std::endl;
  if (periodic) {
    s << "interval = vesk::time::ns(" << parse_interval(r) << "ULL);" << std::endl;
    s << "is_sync = true;" << std::endl;
  }
  indent(s, -2);
  s << "};" << std::endl << std::endl;

  if (!periodic) {
    h << "virtual vesk::time poll();" << std::endl << "virtual void init();" << std::endl;
    s << "vesk::time " << r << "::poll(){" << std::endl;
    indent(s, 2);
    bool has_source = false;
    for (const auto& n : ordered) {
      if (!n->raster_source) continue;
      has_source = true;
      block_span span(block_lines, source_name, s, n->place);
      s << "return " << n->members["obj"].mapped_name << ".poll();" << std::endl;
    }
    if (!has_source) throw_bt_exception(log_place::placed("Raster " + r + " has nodes but no source nodes."));
    indent(s, -2);
    s << "} // poll() " << std::endl << std::endl;
    s << "void " << r << "::init(){" << std::endl;
    indent(s, 2);
    for (const auto& n : ordered) {
      if (!n->raster_source) continue;
      block_span span(block_lines, source_name, s, n->place);
      configured_generator(*n)->write_init(s);
    }
    indent(s, -2);
    s << "} // init() " << std::endl << std::endl;
  }

  h << "virtual void init_tick();" << std::endl
    << "virtual void tick();" << std::endl
    << "virtual void final();" << std::endl
    << std::endl
    << r << "(shared_data& s, parameter_data& p);" << std::endl;
  indent(h, -2);
  h << "}; // class " << r << std::endl << "#endif // VESK_CODE_GEN_" << rup << "_H_" << std::endl;

  s << "void " << r << "::init_tick(){" << std::endl;
  indent(s, 2);
  write_tick_body(r, ordered, true);
  indent(s, -2);
  s << "} // init_tick()" << std::endl << std::endl;
  s << "void " << r << "::tick(){" << std::endl;
  indent(s, 2);
  write_tick_body(r, ordered, false);
  indent(s, -2);
  s << "} // tick() " << std::endl << std::endl;
  s << "void " << r << "::final(){" << std::endl;
  indent(s, 2);
  for (const auto& n : ordered) {
    block_span span(block_lines, source_name, s, n->place);
    configured_generator(*n)->write_final(s);
  }
  indent(s, -2);
  s << "} // final()" << std::endl << std::endl;
}

void compiler::write_tick_body(const std::string& r, const node_list& ordered, bool init) {
  const std::string source_name = r + ".cpp";
  src_stream& s = files[source_name];

  // Reads of rate transitions.
  for (const auto& n : ordered) {
    if (n->is_base("delay")) continue;
    // A second reader is refused where it stands.
    log_place at(n->place);
    block_span span(block_lines, source_name, s, n->place);
    for (auto& [pin, c] : n->inputs) {
      compiler_node* rt = c.bound.get();
      if (rt == nullptr || !rt->is_base("rt")) continue;
      const std::string x = n->input_pins[pin].mapped_name;
      const std::string v = "shared." + rt->members["rt"].mapped_name;
      const std::string behavior = rt_behavior(*rt);
      if (behavior == "fifo" || behavior == "add") {
        if (init) count_reader(*rt, behavior);
        s << v << ".lock.lock();" << std::endl << x << " = " << v << ".data;" << std::endl;
        if (behavior == "fifo")
          s << v << ".data.clear();" << std::endl;
        else
          s << v << ".data" << " = { " << rt->cfg["start_value"] << " };" << std::endl;
        s << v << ".lock.unlock();" << std::endl;
      } else {
        s << x << " = " << v << ".get();" << std::endl;
      }
    }
  }

  // Reads of parameters.
  for (const auto& n : ordered) {
    block_span span(block_lines, source_name, s, n->place);
    for (auto& [pin, c] : n->inputs) {
      if (c.bound == nullptr || !c.bound->is_base("parameter")) continue;
      s << n->input_pins[pin].mapped_name << " = " << source_var(c) << ".get();" << std::endl;
    }
  }

  // The blocks' own code.
  for (const auto& n : ordered) {
    block_span span(block_lines, source_name, s, n->place);
    std::shared_ptr<vesk::generator> gen = configured_generator(*n);
    if (!n->is_base("delay")) {
      // The pins found by name: a block may have many.
      hash_vector_filler<input_pin> input_pins(n->input_pins);
      for (auto& [pin, c] : n->inputs) {
        if (c.bound != nullptr && (c.bound->is_base("rt") || c.bound->is_base("parameter"))) continue;
        s << input_pins[pin].mapped_name << " = " << source_var(c) << "; //  " << c.node << "." << c.pin
          << std::endl;
      }
    }
    if (init && !n->raster_source) {
      vesk::generator_mappings names = n->get_mappings();
      for (auto& in : n->input_pins) {
        if (n->inputs.count(in.key) != 0) continue;
        auto def = n->default_values.find(in.key);
        if (def != n->default_values.end() && !def->second.empty())
          s << names.inputs[in.key] << " = " << def->second << ";" << std::endl;
      }
    }
    if (init && !n->raster_source)
      gen->write_init(s);
    else
      gen->write_tick(s);
  }

  // Delays store their input for the next tick. In init_tick only the outputs of
  // source blocks are computed (they run their tick code there), so only those are
  // stored; anything else would overwrite the start value with a value never computed.
  for (const auto& n : ordered) {
    if (!n->is_base("delay")) continue;
    block_span span(block_lines, source_name, s, n->place);
    for (auto& [pin, c] : n->inputs) {
      if (init && (c.bound == nullptr || !c.bound->raster_source)) continue;
      s << n->members["mem"].mapped_name << " = " << source_var(c) << "; //  " << c.node << "." << c.pin << std::endl;
    }
  }

  // Writes into rate transitions, under the same rule for init_tick.
  for (const auto& n : ordered) {
    if (init && !n->raster_source) continue;
    block_span span(block_lines, source_name, s, n->place);
    for (auto& out : n->output_pins) {
      for (auto& c : out.value.consumers) {
        compiler_node* rt = c.bound.get();
        if (rt == nullptr || !rt->is_base("rt")) continue;
        const std::string v = "shared." + rt->members["rt"].mapped_name;
        const std::string& y = out.value.mapped_name;
        const std::string behavior = rt_behavior(*rt);
        if (behavior == "fifo")
          s << v << ".lock.lock();" << std::endl
            << v << ".data.push_back( " << y << " );" << std::endl
            << v << ".lock.unlock();" << std::endl;
        else if (behavior == "add")
          s << v << ".lock.lock();" << std::endl << v << ".data += " << y << ";" << std::endl << v << ".lock.unlock();" << std::endl;
        else
          s << v << ".set(" << y << ");" << std::endl;
      }
    }
  }
}

}  // namespace vesk
