// Node verification: every rule is evaluated and reports its own failure, so one run
// shows the user all problems of a node at once.

#include "annotations/verify.h"

#include <cctype>
#include <ostream>

#include "annotations/text_scan.h"
#include "foundation/log_stream.h"

namespace vesk::annotations {

namespace {

const char kPrefix[] = "Nodeverification failed: ";

/// Registers the pin names of one kind of pin; names of empty pins take their variable.
template <class Pin>
bool register_names(block_base& node, std::vector<Pin>& pins, const char* missing_text) {
  bool ok = true;
  for (Pin& pin : pins) {
    if (pin.var_name.empty()) {
      report_verify_failure(node, std::string(kPrefix) + missing_text);
      ok = false;
      continue;
    }
    if (pin.name.empty()) pin.name = pin.var_name;
    if (node.pin_names.count(pin.name) != 0) {
      report_verify_failure(node, std::string(kPrefix) + "Nameconflict: Pin with name '" +
                                      pin.name + "' registered twice...");
      ok = false;
    } else {
      node.pin_names[pin.name] = "";
    }
  }
  return ok;
}

/// Gives pins without a type the type that the node's calls give their variable.
template <class Pin>
bool complete_types(block_base& node, std::vector<Pin>& pins, const char* kind) {
  bool ok = true;
  for (Pin& pin : pins) {
    if (!pin.type.empty()) continue;
    pin.type = node.get_var_type(pin.var_name);
    if (pin.type.empty()) {
      report_verify_failure(node, std::string(kPrefix) + kind + " " + pin.var_name +
                                      " has no type!");
      ok = false;
    }
  }
  return ok;
}

bool names_a_member(const block_base& node, const std::string& arg) {
  for (const parameter& p : node.parameters)
    if (p.var_name == arg) return true;
  for (const constant& c : node.constants)
    if (c.var_name == arg) return true;
  return false;
}

/// The member a variable text starts with: "state" of "state.x[2]".
std::string leading_name(const std::string& var) {
  size_t end = 0;
  while (end < var.size() && (std::isalnum(static_cast<unsigned char>(var[end])) || var[end] == '_')) ++end;
  return var.substr(0, end);
}

/// Reports, at the line of its annotation, each call and pin of `node` that names a method
/// or member its class body does not declare: the generated code would call or set it
/// on the instance and fail in the C++ compiler.
bool declared_in_body(block_class& node) {
  if (!node.body_read) return true;
  bool ok = true;
  const auto report = [&node, &ok](uint64_t line, const std::string& text) {
    log_err << location(node.file_name, line != 0 ? line : node.src_line) << kPrefix << text << std::endl;
    ok = false;
  };
  const char* const kinds[] = {"init", "tick", "final"};
  const std::vector<call>* lists[] = {&node.init_calls, &node.tick_calls, &node.final_calls};
  for (size_t k = 0; k < 3; ++k)
    for (const call& c : *lists[k])
      if (!c.method_name.empty() && node.body_names.count(c.method_name) == 0)
        report(c.src_line, "Method '" + c.method_name + "' of the @" + kinds[k] + " call is not declared in class '" +
                               node.class_name + "'.");
  const auto check_pins = [&](const auto& pins, const char* kind) {
    for (const auto& p : pins)
      if (!p.var_name.empty() && node.body_names.count(leading_name(p.var_name)) == 0)
        report(p.src_line, std::string(kind) + " '" + p.name + "' is bound to the member '" + p.var_name +
                               "', which class '" + node.class_name + "' does not declare.");
  };
  check_pins(node.inputs, "Input");
  check_pins(node.outputs, "Output");
  check_pins(node.parameters, "Parameter");
  // Checked once, where the body was read; the names are no part of the description.
  node.body_names.clear();
  node.body_read = false;
  return ok;
}

}  // namespace

void report_verify_failure(const block_base& node, const std::string& text) {
  log_err << location(node.file_name, node.src_line) << text << std::endl;
}

bool block_base::verify() {
  pin_names.clear();
  bool ok = true;
  ok &= register_names(*this, inputs, "Input without name!");
  ok &= register_names(*this, outputs, "Output without name!");
  ok &= register_names(*this, parameters, "Parameter without name!");
  ok &= register_names(*this, constants, "Constant without name!");
  ok &= complete_types(*this, inputs, "Input");
  ok &= complete_types(*this, outputs, "Output");
  return ok;
}

bool block_class::verify() {
  bool ok = true;
  if (name.empty()) name = class_name;
  if (class_name.empty()) class_name = name;
  if (name.empty()) {
    report_verify_failure(*this, std::string(kPrefix) + "Name not set!");
    report_verify_failure(*this, std::string(kPrefix) + "Class-Name not set!");
    ok = false;
  }
  ok &= block_base::verify();

  for (const call_arg& arg : construct.args) {
    if (!names_a_member(*this, arg.name)) {
      report_verify_failure(*this, std::string(kPrefix) +
                                       "Constructors can have only arguments that are "
                                       "constants or parameters.");
      ok = false;
    }
  }
  construct.method_name.clear();

  for (const std::vector<call>* calls : {&init_calls, &tick_calls, &final_calls})
    for (const call& c : *calls) ok &= call::verify(*this, c);
  ok &= declared_in_body(*this);

  if (raster == "source") {
    if (poll_calls.size() != 1) {
      report_verify_failure(*this, std::string(kPrefix) +
                                       "Nodes that are raster-sources must have one "
                                       "poll-function (not more).");
      ok = false;
    } else if (poll_calls.front().return_type != "vesk::time") {
      report_verify_failure(*this, std::string(kPrefix) +
                                       "The return type of the poll function must be "
                                       "vesk::time.");
      ok = false;
    }
    if (!tick_calls.empty()) {
      report_verify_failure(
          *this, std::string(kPrefix) +
                     "Raster-sources can't have tick_calls because of predictability. Do "
                     "everything within poll(). (Background: The raster_source-nodes are "
                     "not compiled in resimulation_models, so the tick() can not be "
                     "called then.)");
      ok = false;
    }
    if (!inputs.empty()) {
      report_verify_failure(*this, std::string(kPrefix) +
                                       "Raster-sources can't have inputs because of "
                                       "predictability.");
      ok = false;
    }
  }
  return ok;
}

bool block_function::verify() {
  bool ok = true;
  if (name.empty()) name = function.method_name;
  if (function.method_name.empty()) function.method_name = name;
  if (name.empty()) {
    report_verify_failure(*this, std::string(kPrefix) + "Name not set!");
    report_verify_failure(*this, std::string(kPrefix) + "Funcion-Name not set!");
    ok = false;
  }
  ok &= block_base::verify();
  ok &= call::verify(*this, function);
  return ok;
}

bool call::verify(block_base& node, const call& c) {
  bool ok = true;
  for (const call_arg& arg : c.args) {
    if (node.pin_names.count(arg.name) == 0) {
      report_verify_failure(node, std::string(kPrefix) + "Argument '" + arg.name +
                                      "' for functioncall '" + c.method_name +
                                      "' not defined.");
      ok = false;
    }
  }
  if (!c.return_to.empty() && node.pin_names.count(c.return_to) == 0) {
    report_verify_failure(node, std::string(kPrefix) + "Return-value of functioncall '" +
                                    c.method_name + "' is asigned to undefined variable '" +
                                    c.return_to + "'.");
    ok = false;
  }
  return ok;
}

}  // namespace vesk::annotations
