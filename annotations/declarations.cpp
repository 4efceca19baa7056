// The declaration actions: what a recognised line of C++ completes or builds in the
// parser state (announced pins and calls, class names, namespaces, automatic nodes).

#include "annotations/declarations.h"

#include <memory>
#include <ostream>
#include <type_traits>

#include "annotations/text_scan.h"
#include "foundation/helpers.h"
#include "foundation/log_stream.h"

namespace vesk::annotations {

namespace {

constexpr size_t npos = std::string::npos;

/// Pin role by the variable name of an automatic node.
enum class pin_kind { input, output, parameter, other };

/// The role and pin name of a member or argument: in_x, out_y, param_n, in, out.
/// Names of no role keep themselves as pin name (arguments are inputs then).
pin_kind classify(const std::string& n, std::string& pin_name) {
  if ((n.size() > 2 && starts_with(n, "in_")) || n == "in") {
    pin_name = n == "in" ? n : n.substr(3);
    return pin_kind::input;
  }
  if ((n.size() > 3 && starts_with(n, "out_")) || n == "out") {
    pin_name = n == "out" ? n : n.substr(4);
    return pin_kind::output;
  }
  if (starts_with(n, "param_")) {
    pin_name = n.substr(6);
    return pin_kind::parameter;
  }
  pin_name = n;
  return pin_kind::other;
}

/// A method declared in the body of an automatic class: tick, init, final or poll.
void add_auto_method(const decl_part& d, unsigned long line_nr, parser_state& state,
                     const std::string& file_name) {
  const bool is_call = d.name == "tick" || starts_with(d.name, "tick_") || d.name == "init" ||
                       d.name == "final" || d.name == "poll";
  if (is_call && !take(state, file_name, line_nr, 0, 1, d.name.size() + d.type.size())) return;
  block_class& node = *state.ccb;
  call c;
  c.method_name = d.name;
  c.return_type = d.type;
  c.src_line = line_nr;
  if (d.name == "tick" || starts_with(d.name, "tick_")) {
    if (d.name.size() > 5)
      log_err << "Ticks of different type/rasters for auto_blocks are not supported yet" << std::endl;
    node.tick_calls.push_back(std::move(c));
  } else if (d.name == "init") {
    node.init_calls.push_back(std::move(c));
  } else if (d.name == "final") {
    node.final_calls.push_back(std::move(c));
  } else if (d.name == "poll") {
    if (d.type == "vesk::time") {
      node.poll_calls.push_back(std::move(c));
      return;
    }
    log_err << location(file_name, line_nr)
            << "Nodeverification failed: The return type of the poll function must be vesk::time."
            << std::endl;
    if (d.type == "bool") {
      log_err << "    NOTE: Before vesk v17 the return type was bool. Update examples / remote "
                 "sources may help."
              << std::endl;
      log_err << "    WARNING: Do NOT use raster_sources that return vesk::time with runtimes made "
                 "for vesk v16 and earlier!!!"
              << std::endl;
    }
  }
}

/// A pin or parameter named `pin_name` for the declarator `d`.
template <class Pin>
Pin new_pin(const std::string& pin_name, const decl_part& d, unsigned long line_nr) {
  Pin pin;
  pin.name = pin_name;
  pin.var_name = d.name;
  pin.type = d.type;
  pin.src_line = line_nr;
  return pin;
}

/// Appends to `node` the pin, parameter or input that the declarator `d` makes in the
/// role `kind` (anything but an output or parameter is an input).
void add_pin(block_base& node, pin_kind kind, const std::string& pin_name, const decl_part& d,
             unsigned long line_nr, bool is_member) {
  if (kind == pin_kind::output) {
    node.outputs.push_back(new_pin<output>(pin_name, d, line_nr));
    node.outputs.back().is_member = is_member;
  } else if (kind == pin_kind::parameter) {
    node.parameters.push_back(new_pin<parameter>(pin_name, d, line_nr));
    node.parameters.back().default_val = d.default_val;
  } else {
    node.inputs.push_back(new_pin<input>(pin_name, d, line_nr));
    node.inputs.back().default_val = d.default_val;
    node.inputs.back().is_member = is_member;
  }
}

/// A member declared in the body of an automatic class becomes a pin by its name.
void add_auto_member(const decl_part& d, unsigned long line_nr, parser_state& state,
                     const std::string& file_name) {
  std::string pin_name;
  const pin_kind kind = classify(d.name, pin_name);
  if (kind != pin_kind::other &&
      !take(state, file_name, line_nr, 0, 1, 2 * d.name.size() + d.type.size() + d.default_val.size()))
    return;
  block_class& node = *state.ccb;
  if (kind != pin_kind::other) {
    add_pin(node, kind, pin_name, d, line_nr, true);
    if (log_debug.enabled) {
      log_debug << (kind == pin_kind::input    ? "found input !!!"
                    : kind == pin_kind::output ? "found output !!!"
                                               : "found parameter !!!")
                << d.name << std::endl;
    }
  } else if (d.name == "raster_interval") {
    node.has_raster_interval_var = true;
    if (log_debug.enabled) log_debug << "raster interval found" << std::endl;
  } else if (d.name == "node_name") {
    node.has_node_name_var = true;
    if (log_debug.enabled) log_debug << "node_name found" << std::endl;
  }
}

/// The call that a pending @node: function, @init, @tick or @final waits for; null when
/// that node or call no longer exists (a later @node replaced it).
call* pending_call(parser_state& state) {
  if (state.expect == expect_function)
    return state.current_function ? &state.current_function->function : nullptr;
  if (!state.ccb) return nullptr;
  std::vector<call>* calls = state.expect == expect_init    ? &state.ccb->init_calls
                             : state.expect == expect_tick  ? &state.ccb->tick_calls
                             : state.expect == expect_final ? &state.ccb->final_calls
                                                            : nullptr;
  return calls && !calls->empty() ? &calls->back() : nullptr;
}

/// "@node: auto" before a function: the whole function node comes from the signature.
void build_auto_function(const declaration& d, const std::string& line, unsigned long line_nr,
                         parser_state& state, const std::string& file_name) {
  // Each argument is a pin and a call argument; the node copies the class node's texts.
  const block_class& was = *state.ccb;
  const size_t copied = was.name.size() + was.nspace.size() + was.info.size() + was.raster.size();
  if (!take(state, file_name, line_nr, 0, 2 * d.parts.size(), 3 * line.size() + copied)) return;
  const decl_part& fn = d.parts[0];
  auto f = std::make_shared<block_function>();
  f->name = state.ccb->name;
  f->src_line = state.ccb->src_line;
  f->nspace = state.ccb->nspace;
  f->info = state.ccb->info;
  f->raster = state.ccb->raster;
  f->raster_line = state.ccb->raster_line;
  f->file_name = file_name;
  f->line_nr = to_line_field(line_nr);
  state.current_function = f;
  state.current_block = f;
  state.ccb.reset();

  f->function.method_name = fn.name;
  f->function.return_type = fn.type;
  if (f->name.empty()) f->name = fn.name;
  if (fn.type != "void") {
    add_pin(*f, pin_kind::output, "", decl_part{fn.type, "out", ""}, line_nr, false);
    f->function.return_to = "out";
  }
  for (size_t i = 1; i < d.parts.size(); ++i) {
    const decl_part& a = d.parts[i];
    std::string pin_name;
    add_pin(*f, classify(a.name, pin_name), pin_name, a, line_nr, false);
    // The call passes the pin by its name, which verification gives an unnamed pin
    // from its variable.
    f->function.args.emplace_back(pin_name.empty() ? a.name : pin_name, a.type, a.default_val);
  }
}

void on_function_line(const declaration& d, const std::string& line, unsigned long line_nr,
                      parser_state& state, const std::string& file_name) {
  const decl_part& fn = d.parts[0];
  if (log_debug.enabled) {
    log_debug << location(file_name, line_nr) << "found function: " << fn.name
              << " with return type: " << fn.type << std::endl;
    for (size_t i = 1; i < d.parts.size(); ++i) {
      const decl_part& a = d.parts[i];
      log_debug << "     " << "  arg: '" << a.name << "' type: '" << a.type << "'";
      if (!a.default_val.empty()) log_debug << " default: '" << a.default_val << "'";
      log_debug << std::endl;
    }
  }
  call* target = pending_call(state);
  if (target && !take(state, file_name, line_nr, 0, d.parts.size() - 1, line.size())) return;
  if (target) {
    target->method_name = fn.name;
    target->return_type = fn.type;
    for (size_t i = 1; i < d.parts.size(); ++i)
      target->args.emplace_back(d.parts[i].name, d.parts[i].type, d.parts[i].default_val);
  }
  if (state.expect == expect_auto) {
    if (!state.ccb) {
      log_err << "state.ccb not set! this should not happen!!! reset parser" << std::endl;
      state.expect = expect_nothing;
      return;
    }
    build_auto_function(d, line, line_nr, state, file_name);
  }
  if (state.expect != expect_auto_body) state.expect = expect_nothing;
}

/// Completes the fields of an announced pin that its annotation left empty.
template <class Pin>
void complete_pin(std::vector<Pin>& pins, const decl_part& d, bool with_default) {
  if (pins.empty()) return;
  Pin& pin = pins.back();
  if (pin.var_name.empty()) pin.var_name = d.name;
  if (pin.type.empty()) pin.type = d.type;
  if constexpr (!std::is_same<Pin, output>::value) {
    if (with_default && pin.default_val.empty()) pin.default_val = d.default_val;
  }
}

void on_member_line(const decl_part& d, unsigned long line_nr, parser_state& state,
                    const std::string& file_name) {
  if (log_debug.enabled) {
    log_debug << location(file_name, line_nr) << "found attribute: " << d.name
              << " with type: " << d.type;
    if (!d.default_val.empty()) log_debug << " default: " << d.default_val;
    log_debug << std::endl;
  }
  const bool completes = state.expect == expect_input || state.expect == expect_output ||
                         state.expect == expect_parameter;
  if (completes && state.current_block &&
      !take(state, file_name, line_nr, 0, 0, d.name.size() + d.type.size() + d.default_val.size()))
    return;
  if (block_base* node = state.current_block.get()) {
    if (state.expect == expect_input) complete_pin(node->inputs, d, true);
    if (state.expect == expect_output) complete_pin(node->outputs, d, false);
    if (state.expect == expect_parameter) complete_pin(node->parameters, d, true);
  }
  if (state.expect != expect_auto_body) state.expect = expect_nothing;
}

}  // namespace

void parse_cpp_line(std::string line, unsigned long line_nr, parser_state& state,
                    std::string file_name) {
  if (line.empty() || state.taken.spent) return;

  // Class line: "class Name" or "struct Name".
  size_t p = skip_decl_blanks(line, 0);
  size_t keyword = literal_at(line, p, "class") ? p + 5 : literal_at(line, p, "struct") ? p + 6 : npos;
  if (keyword != npos) {
    size_t begin = skip_decl_blanks(line, keyword);
    size_t end = identifier_end(line, begin);
    if (end > begin) {
      std::string name = line.substr(begin, end - begin);
      if (log_debug.enabled)
        log_debug << location(file_name, line_nr) << "found class: " << name << std::endl;
      if (state.ccb && (state.expect == expect_class || state.expect == expect_auto) &&
          !take(state, file_name, line_nr, 0, 0, name.size()))
        return;
      if (state.ccb && state.expect == expect_class) {
        state.ccb->class_name = name;
        state.expect = expect_nothing;
        // A base class may declare what the annotations name; a body elsewhere is unseen.
        const std::string head = line.substr(end);
        bool base = false;
        for (size_t i = 0; i < head.size() && head[i] != '{'; ++i) {
          if (head[i] == ':' && i + 1 < head.size() && head[i + 1] == ':') ++i;
          else if (head[i] == ':' || head[i] == ';') base = true;
        }
        if (!base && head.find('{') != npos) state.class_head = state.ccb;
      } else if (state.ccb && state.expect == expect_auto) {
        state.ccb->class_name = name;
        state.expect = expect_auto_body;
        state.auto_depth = state.bracket_on_line ? 1 : 0;
      }
      return;
    }
  }

  // Namespace line: the name lives until the current block closes.
  if (literal_at(line, p, "namespace")) {
    size_t begin = skip_decl_blanks(line, p + 9);
    size_t end = identifier_end(line, begin);
    if (end > begin) {
      state.namespaces.push_back(line.substr(begin, end - begin));
      // A parser state of its own (no scanner) has no current block to close.
      if (state.current_bracket) {
        std::vector<std::string>* names = &state.namespaces;
        state.current_bracket->on_close = [names] {
          if (!names->empty()) names->pop_back();
        };
      }
      return;
    }
  }

  declaration d = parse_declaration(line);
  if (d.parts.empty()) return;
  if (state.expect == expect_auto_reparse) {
    if (!state.ccb) return;  // the class was replaced while its body was collected
    if (d.is_function)
      add_auto_method(d.parts[0], line_nr, state, file_name);
    else
      add_auto_member(d.parts[0], line_nr, state, file_name);
    return;
  }
  if (d.is_function)
    on_function_line(d, line, line_nr, state, file_name);
  else
    on_member_line(d.parts[0], line_nr, state, file_name);
}

}  // namespace vesk::annotations
