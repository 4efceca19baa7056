// What each annotation does to the node descriptions of a parse, and how annotation
// parameters reach the fields of a description through its JSON keys.

#include "annotations/annotation_comment.h"

#include <algorithm>
#include <exception>
#include <memory>
#include <stdexcept>
#include <ostream>
#include <string_view>
#include <vector>

#include "annotations/call_string.h"
#include "annotations/text_scan.h"
#include "foundation/helpers.h"
#include "foundation/log_stream.h"

namespace vesk::annotations {

namespace {

/// The bytes of an annotation's parameter texts.
size_t text_size(const std::map<std::string, std::string>& params) {
  size_t n = 0;
  for (const auto& p : params) n += p.first.size() + p.second.size();
  return n;
}

/// "@link" and "@compile" belong in front of the first node.
void check_readability(const parser_state& state, const char* annotation) {
  if (state.result.empty() && (!state.current_block || state.current_block->line_nr == 0)) return;
  log_warn << "For readability global annotations like " << annotation
           << " should be declared at the beginning of a file." << std::endl;
}

/// Closes the current node (verified ones join the result) and opens the next.
void open_node(const std::string& option, const std::map<std::string, std::string>& params,
               unsigned long line_nr, parser_state& state, const std::string& file_name) {
  if (state.current_block && state.current_block->verify()) {
    state.result.push_back(state.current_block);
    if (log_debug.enabled)
      log_debug << "added " << state.current_block->name << " to result list" << std::endl;
  }
  // Each node holds its own copy of the namespace prefix.
  size_t prefix = 0;
  for (const std::string& ns : state.namespaces) prefix += ns.size() + 2;
  if (!take(state, file_name, line_nr, 1, 0, prefix + option.size() + text_size(params))) return;
  std::shared_ptr<block_base> node;
  if (option == "class" || option == "auto") {
    state.ccb = std::make_shared<block_class>();
    state.current_function.reset();
    node = state.ccb;
  } else if (option == "function") {
    state.ccb.reset();
    state.current_function = std::make_shared<block_function>();
    node = state.current_function;
  } else {
    state.current_block.reset();
    state.ccb.reset();
    state.current_function.reset();
    log_err << location(file_name, line_nr)
            << "Unknown blocktype: Expect class or function. Example @node: auto; found \"" << option
            << "\"" << std::endl;
    return;
  }
  state.current_block = node;
  node->file_name = file_name;
  node->src_line = line_nr;
  if (option != "auto") {
    assign_annotation_params(*node, params, file_name, line_nr);
    if (params.count("raster") != 0) node->raster_line = line_nr;
  } else {
    for (const auto& p : params)
      log_warn << "Parameter \"" << p.first << "\" is ignored: @node: auto reads the node from its declaration"
               << std::endl;
  }
  node->nspace = namespace_prefix(state);
  node->line_nr = to_line_field(line_nr);
  if (option == "auto") {
    state.expect = expect_auto;
  } else if (state.expect == expect_nothing) {
    if (state.ccb && state.ccb->class_name.empty()) state.expect = expect_class;
    if (state.current_function && state.current_function->function.method_name.empty())
      state.expect = expect_function;
  }
}

/// A new pin, parameter or constant: the option names its variable, the parameters
/// set any of its fields.
template <class T>
T new_element(const std::string& option, const std::map<std::string, std::string>& params,
              unsigned long line_nr, const std::string& file_name) {
  T element;
  element.src_line = line_nr;
  element.var_name = option;
  assign_annotation_params(element, params, file_name, line_nr);
  return element;
}

/// A call of "@construct", "@init", "@tick" or "@final" read from its call string.
call new_call(const std::string& option, unsigned long line_nr, bool construct) {
  call c;
  c.src_line = line_nr;
  parse_call_string(c, option, construct);
  return c;
}

/// Appends the call of an "@init" or "@final" to `calls`; without a method name
/// the next method declaration completes it (`code`), if nothing else is pending.
void add_call(std::vector<call>& calls, const std::string& option, unsigned long line_nr,
              bool nothing_pending, uint32_t code, parser_state& state) {
  calls.push_back(new_call(option, line_nr, false));
  if (nothing_pending && calls.back().method_name.empty()) state.expect = code;
}

}  // namespace

void handle_annotation(std::string name, std::string option,
                       std::map<std::string, std::string> params, unsigned long line_nr,
                       parser_state& state, std::string file_name) {
  if (state.taken.spent) return;
  if (log_debug.enabled) {
    log_debug << location(file_name, line_nr) << "parsed annotation: \"" << name
              << "\" with option: \"" << option << "\" " << (params.empty() ? "" : "Parameters:")
              << std::endl;
    for (const auto& p : params) log_debug << "      " << p.first << ":" << p.second << std::endl;
  }
  option = trim(option);
  const std::string_view n = name;

  if (n == "node") {
    open_node(option, params, line_nr, state, file_name);
    return;
  }
  if (n == "link") {
    if (!take(state, file_name, line_nr, 0, 0, option.size())) return;
    state.links.push_back(option);
    check_readability(state, "@link");
    return;
  }
  if (n == "compile") {
    std::string path = (state.dir / option).string();
    if (!take(state, file_name, line_nr, 0, 0, path.size())) return;
    state.compile_files.push_back(std::move(path));
    check_readability(state, "@compile");
    return;
  }
  if (!state.current_block) {
    log_err << location(file_name, line_nr) << "no node defined yet; skip annotation: " << name
            << std::endl;
    return;
  }
  // A call takes one part for itself and one for each argument.
  const bool is_call = n == "construct" || n == "init" || n == "tick" || n == "final";
  const size_t parts = 1 + (is_call ? std::count(option.begin(), option.end(), ',') + 1 : 0);
  if (!take(state, file_name, line_nr, 0, parts, option.size() + text_size(params))) return;
  block_base& node = *state.current_block;
  const bool pending = state.expect == expect_nothing;

  if (n == "input") {
    input in = new_element<input>(option, params, line_nr, file_name);
    if (state.ccb) in.is_member = true;
    if (pending && (in.var_name.empty() || in.type.empty() || in.default_val.empty()))
      state.expect = expect_input;
    node.inputs.push_back(std::move(in));
  } else if (n == "output") {
    output out = new_element<output>(option, params, line_nr, file_name);
    if (state.ccb) out.is_member = true;
    if (pending && (out.var_name.empty() || out.type.empty())) state.expect = expect_output;
    node.outputs.push_back(std::move(out));
  } else if (n == "constant") {
    node.constants.push_back(new_element<constant>(option, params, line_nr, file_name));
  } else if (n == "parameter") {
    parameter par = new_element<parameter>(option, params, line_nr, file_name);
    if (pending && (par.var_name.empty() || par.type.empty() || par.default_val.empty()))
      state.expect = expect_parameter;
    node.parameters.push_back(std::move(par));
  } else if (n == "info") {
    // "@info" is taken by the grammar before a name is read; nothing to do here.
  } else if (n == "construct") {
    if (state.ccb) state.ccb->construct = new_call(option, line_nr, true);
  } else if (n == "init") {
    if (state.ccb) add_call(state.ccb->init_calls, option, line_nr, pending, expect_init, state);
  } else if (n == "tick") {
    call c = new_call(option, line_nr, false);
    if (state.current_function) {
      state.current_function->function = c;
      if (pending && c.method_name.empty()) state.expect = expect_function;
    }
    if (state.ccb) {
      state.ccb->tick_calls.push_back(c);
      if (pending && c.method_name.empty()) state.expect = expect_tick;
    }
  } else if (n == "final") {
    if (state.ccb) add_call(state.ccb->final_calls, option, line_nr, pending, expect_final, state);
  } else if (n == "raster") {
    node.raster = option;
    node.raster_line = line_nr;
    if (log_debug.enabled) log_debug << "set raster to " << node.raster << std::endl;
  } else {
    log_err << location(file_name, line_nr) << "unknown annotation: " << name << std::endl;
  }
}

void assign_annotation_params(json_link& target, const std::map<std::string, std::string>& params,
                              const std::string& file_name, unsigned long line_nr) {
  if (params.empty()) return;
  // The bindings point at the target's fields, which setting a field does not move,
  // so one list serves every key.
  std::vector<json_link_element> links;
  links.reserve(8);
  target.get_links(links);
  for (const auto& param : params) {
    const std::string& key = param.first;
    const std::string& value = param.second;
    json_link_element* element = nullptr;
    for (json_link_element& e : links)
      if (e.name == key) {
        element = &e;
        break;
      }
    if (!element) {
      // The keys it takes say what was meant instead.
      std::string keys;
      for (const json_link_element& e : links) keys += (keys.empty() ? "" : ", ") + e.name;
      log_err << location(file_name, line_nr) << "Internal Error: Parameter '" << key
              << "' not found!!!! This annotation takes " << keys << std::endl;
      continue;
    }
    auto no_number = [&] {
      log_err << location(file_name, line_nr) << "Parameter \"" << key << "\" needs a number, not \""
              << value << "\"" << std::endl;
    };
    try {
      // Bool and number fields convert the text with stod and saturate ints.
      element->set(vesk::json(value));
    } catch (const std::invalid_argument&) {
      no_number();
    } catch (const std::out_of_range&) {
      no_number();
    } catch (const std::exception& e) {
      log_err << location(file_name, line_nr) << "Parameter \"" << key << "\" with value \""
              << value << "\" not applied: " << e.what() << std::endl;
    }
  }
}

}  // namespace vesk::annotations
