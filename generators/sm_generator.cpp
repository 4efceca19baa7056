#include "generators/sm_generator.h"

#include <algorithm>
#include <cctype>
#include <memory>
#include <set>
#include <sstream>
#include <utility>

#include "annotations/block.h"
#include "annotations/declarations.h"
#include "annotations/parser_state.h"
#include "foundation/bt_exception.h"
#include "foundation/helpers.h"
#include "foundation/log_stream.h"
#include "generators/code_text.h"
#include "generators/config_check.h"
#include "generators/sm_templates.h"
#include "generators/template_filler.h"

namespace vesk {

namespace {

// A member of a state or transition; a missing one reads as null. Works on a
// copy so that reading adds nothing to the configuration. Anything that is not
// an object (or null) fails with the JSON type error.
vesk::json member_of(const vesk::json& entry, const char* key) {
  vesk::json copy = entry;
  return copy[key];
}

// Whether a state is left out: its "comment_out" read as a checkbox.
bool state_left_out(const vesk::json& entry) {
  vesk::json value = member_of(entry, "comment_out");
  return checkbox_value(value);
}

// Counts the states as the generated array does: every entry, excluded ones
// included.
size_t count_states(const vesk::json& states) {
  if (states.is_array() || states.is_object()) return states.size();
  if (states.is_string()) return states.get_string().size();
  return 0;
}

std::string to_text(const vesk::json& value) {
  std::ostringstream os;
  os << value;
  return os.str();
}

// The check body of one state: one if-block per transition whose target is
// known, joined by " else ", followed by a line end.
std::string check_text(const vesk::json& transitions, const std::map<std::string, int>& numbers) {
  std::string text;
  bool first = true;
  vesk::json list = transitions;
  for (auto it = list.begin(); it != list.end(); ++it) {
    const vesk::json& transition = *(*it).value;
    vesk::json target = member_of(transition, "t");
    auto found = numbers.find(target.get_string());
    if (found == numbers.end()) continue;
    if (!first) text += " else ";
    text += "if ( " + to_text(member_of(transition, "c")) + " ){\n";
    text += "      set_state(" + std::to_string(found->second) + "); // to " +
            comment_text(to_text(target)) + "\n";
    text += "    }";
    first = false;
  }
  return text + "\n";
}

// The numbers of the states that are not commented out, by name: positions in the
// list, excluded states counted; a later state of the same name takes the name over.
std::map<std::string, int> state_numbers(const vesk::json& states) {
  std::map<std::string, int> numbers;
  int pos = 0;
  vesk::json list = states;
  for (auto it = list.begin(); it != list.end(); ++it, ++pos) {
    const vesk::json& entry = *(*it).value;
    if (state_left_out(entry)) continue;
    numbers[member_of(entry, "name").get_string()] = pos;
  }
  return numbers;
}

std::string lines_of(const vesk::json& list, const std::string& before, const std::string& after) {
  std::string text;
  vesk::json copy = list;
  for (auto it = copy.begin(); it != copy.end(); ++it)
    text += before + (*it).value->get_string() + after + "\n";
  return text;
}

}  // namespace

sm_generator::sm_generator(std::map<std::string, src_stream>* generated_files)
    : files(generated_files) {}

std::vector<vesk::property> sm_generator::get_properties() {
  const vesk::json none;
  const vesk::json empty_list = vesk::json::make_array(nullptr, 0);
  return {
      {"vars", "code", "", none, "State variables"},
      {"includes", "array_text", empty_list, none, "Includes"},
      {"namespaces", "array_text", empty_list, none, "Used namespaces"},
  };
}

vesk::view_config sm_generator::get_view_config() {
  vesk::view_config view("state_machine", "auto");
  view.members["obj"] = vesk::data_member{"sm_" + name, "", "", ""};

  std::vector<std::string> lines = split(cfg["vars"].get_string(), "\n");

  // The declarations are read as the body of an automatic node class.
  annotations::parser_state state;
  auto block = std::make_shared<annotations::block_class>(vesk::json());
  state.current_block = block;
  state.ccb = block;
  state.expect = annotations::expect_auto_reparse;
  // A namespace line hooks into the innermost open block, so there must be one.
  state.current_bracket = std::make_shared<annotations::bracket>();
  {
    log_silencer quiet(log_debug);
    for (const auto& line : lines) annotations::parse_cpp_line(line, 0, state, "<no_file>");
  }

  // Fillers: a node may have thousands of pins, and the maps' own lookup is linear.
  hash_vector_filler<vesk::input_pin> in_pins(view.inputs, block->inputs.size());
  for (const auto& in : block->inputs) {
    vesk::input_pin pin(in.type);
    pin.default_value = in.default_val;
    pin.is_member = in.is_member ? 1 : 0;
    pin.var_name = in.var_name;
    in_pins[in.name] = std::move(pin);
  }
  vesk::output_pin state_pin("std::string", "block");
  state_pin.is_member = true;
  state_pin.var_name = "_internal_variables.out_state";
  view.outputs["state"] = state_pin;
  hash_vector_filler<vesk::output_pin> out_pins(view.outputs, block->outputs.size());
  for (const auto& out : block->outputs) {
    vesk::output_pin pin(out.type, "block");
    pin.is_member = out.is_member;
    pin.var_name = out.var_name;
    out_pins[out.name] = std::move(pin);
  }
  return view;
}

std::vector<std::string> sm_generator::get_sources() { return {}; }

std::vector<std::string> sm_generator::get_headers() { return {"model/sm_" + name + ".h"}; }

void sm_generator::write_init(std::ostream& os) {
  write_files();
  os << members["obj"] << ".init();" << std::endl;
}

void sm_generator::write_tick(std::ostream& os) { os << members["obj"] << ".tick();" << std::endl; }

void sm_generator::write_final(std::ostream& os) { os << members["obj"] << ".final();" << std::endl; }

std::vector<vesk::config_warning> sm_generator::check_config() {
  vesk::json_reader r(cfg);
  take_form(r, get_properties());
  const vesk::json* listed = r.take("states", {vesk::json::array_t, vesk::json::object_t, vesk::json::null_t});
  std::vector<vesk::config_warning> found = block_findings(r, {"vars", "includes", "namespaces", "states"}, "state_machine");
  const std::vector<std::string> state_keys = {"name", "comment_out", "init", "tick", "final", "transitions"};
  vesk::json states = listed != nullptr ? *listed : vesk::json();
  std::map<std::string, int> numbers;
  std::set<std::string> named_twice;
  int pos = 0;
  // Each state is read as write_files reads it, so that what would stop it (or be taken
  // as something else) is told before anything is written.
  for (auto it = states.begin(); it != states.end(); ++it, ++pos) {
    const vesk::json& entry = *(*it).value;
    const vesk::json given = entry.is_object() ? member_of(entry, "name") : vesk::json();
    const std::string state = given.is_null() ? "state " + std::to_string(pos + 1) : "state " + written(given);
    vesk::json_reader s(entry, state);
    const vesk::json* name = take_text(s, "name");
    take_checkbox(s, "comment_out");
    for (const char* key : {"init", "tick", "final"}) take_text(s, key);
    const vesk::json* transitions = s.take("transitions", {vesk::json::array_t, vesk::json::null_t});
    s.finish([&] { return "a state reads " + name_list(state_keys); });
    const bool read = !s.failed();
    found.insert(found.end(), s.findings.begin(), s.findings.end());
    if (!read || state_left_out(entry)) continue;
    const std::string text = name != nullptr ? name->get_string() : std::string();
    if (!numbers.emplace(text, pos).second && named_twice.insert(text).second)
      found.push_back({"State name " + written(vesk::json(text)),
                       "is given to more than one state: a transition could reach only the last of them", true});
    vesk::json list = transitions != nullptr ? *transitions : vesk::json();
    for (auto t = list.begin(); t != list.end(); ++t) {
      vesk::json_reader tr(*(*t).value, "a transition of " + state);
      const vesk::json* c = tr.take("c", {vesk::json::string_t, vesk::json::number_t, vesk::json::bool_t});
      take_text(tr, "t");
      // "if (  )" (or "if ( null )") could only fail in the C++ compiler.
      if (!tr.failed() && (c == nullptr || (c->is_string() && trim(c->get_string_ref()).empty())))
        found.push_back({c == nullptr ? "Key \"c\" of a transition of " + state
                                      : "Value " + written(*c) + " of key \"c\" of a transition of " + state,
                         c == nullptr ? "is missing: the transition needs a condition, such as true"
                                      : "is empty: the transition needs a condition, such as true",
                         true});
      tr.finish([] { return "a transition reads c, t"; });
      found.insert(found.end(), tr.findings.begin(), tr.findings.end());
    }
  }
  if (std::any_of(found.begin(), found.end(), [](const vesk::config_warning& f) { return f.error; })) return found;
  if (numbers.count("init") == 0) found.push_back({"Error: Statemachine '" + name + "' has no init state!", "", true});
  // Targets are known once every state is: a transition may lead to a later state.
  pos = 0;
  for (auto it = states.begin(); it != states.end(); ++it, ++pos) {
    const vesk::json& entry = *(*it).value;
    if (state_left_out(entry)) continue;
    const std::string state = "state " + written(member_of(entry, "name"));
    vesk::json transitions = member_of(entry, "transitions");
    for (auto t = transitions.begin(); t != transitions.end(); ++t) {
      const vesk::json target = member_of(*(*t).value, "t");
      if (numbers.count(target.get_string()) == 0)
        found.push_back({"Transition of " + state + " to " + written(target),
                         "is dropped: no state that is not commented out has that name"});
    }
  }
  return found;
}

void sm_generator::write_files() {
  if (files == nullptr) return;
  std::string header = sm_header_template + "\n";
  std::string source = sm_source_template + "\n";

  vesk::json states = member_of(cfg, "states");
  std::map<std::string, int> numbers = state_numbers(states);

  std::string construct;
  int pos = 0;
  for (auto it = states.begin(); it != states.end(); ++it, ++pos) {
    const vesk::json& entry = *(*it).value;
    if (state_left_out(entry)) continue;
    std::map<std::string, std::string> values;
    values["num"] = std::to_string(pos);
    // "#" is spelled as an octal escape: the name stays the same string, but
    // a "#tick#" in it can no longer pull statements into the literal when
    // the later keys are filled in.
    values["name"] =
        replace_all(escape_cpp_string(member_of(entry, "name").get_string()), "#", "\\043");
    for (const char* key : {"init", "tick", "final"})
      values[key] = replace_all(member_of(entry, key).get_string(), "\n", "\n    ");
    values["check"] = check_text(member_of(entry, "transitions"), numbers);
    construct += fill_template(sm_state_template, values);
  }
  construct += "\n";

  auto init = numbers.find("init");
  if (init == numbers.end())
    throw_bt_exception("Error: Statemachine '" + name + "' has no init state!");

  std::string node_upper = name;
  for (char& c : node_upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));

  std::map<std::string, std::string> values;
  values["node_name"] = name;
  values["NODE_NAME"] = node_upper;
  values["class_name"] = "sm_" + name;
  values["sname_t"] = "std::string";
  values["state_vars"] = replace_all(member_of(cfg, "vars").get_string(), "\n", "\n  ");
  values["n_states"] = std::to_string(count_states(states));
  values["construct"] = construct;
  values["init_num"] = std::to_string(init->second);
  values["namespaces"] = lines_of(member_of(cfg, "namespaces"), "using namespace ", ";");
  values["includes"] = lines_of(member_of(cfg, "includes"), "#include <", ">");

  header = fill_template(header, values);
  source = fill_template(source, values);
  (*files)["sm_" + name + ".h"] << header << std::endl;
  (*files)["sm_" + name + ".cpp"] << source << std::endl;
}

}  // namespace vesk
