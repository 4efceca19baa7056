#pragma once
// Test helper: a node description in one line, so a test states the whole expected node
// (and notices anything extra) in one comparison.

#include <memory>
#include <string>
#include <vector>

#include "annotations/block.h"

namespace vesk::annotations {

/// "name/var:type=default"; "/var" only when it differs from the name, ":type" and
/// "=default" only when set.
inline std::string pin_text(const std::string& name, const std::string& var,
                            const std::string& type, const std::string& default_val) {
  return name + (var != name ? "/" + var : "") + (type.empty() ? "" : ":" + type) +
         (default_val.empty() ? "" : "=" + default_val);
}

/// "method(a:type=default,b)->target:type".
inline std::string call_text(const call& c) {
  std::string s = c.method_name + "(";
  for (const call_arg& a : c.args)
    s += (&a == &c.args[0] ? "" : ",") + pin_text(a.name, a.name, a.type, a.default_val);
  return s + ")" + (c.return_to.empty() ? "" : "->" + c.return_to) +
         (c.return_type.empty() ? "" : ":" + c.return_type);
}

/// "class K@line" or "func f(x)->y@line", then the name (when it differs), namespace,
/// raster, info, pins and calls that are set.
inline std::string summary(const block_base& n) {
  const auto* c = dynamic_cast<const block_class*>(&n);
  const auto* f = dynamic_cast<const block_function*>(&n);
  std::string s = c ? "class " + c->class_name : "func " + call_text(f->function);
  if (n.line_nr) s += "@" + std::to_string(n.line_nr);
  if (!n.name.empty() && n.name != (c ? c->class_name : f->function.method_name)) s += " name=" + n.name;
  if (!n.nspace.empty()) s += " ns=" + n.nspace;
  if (n.raster != "auto") s += " raster=" + n.raster + (n.raster_line ? "@" + std::to_string(n.raster_line) : "");
  if (!n.info.empty()) s += " info=" + n.info;
  for (const input& p : n.inputs) s += " in " + pin_text(p.name, p.var_name, p.type, p.default_val);
  for (const output& p : n.outputs) s += " out " + pin_text(p.name, p.var_name, p.type, "");
  for (const parameter& p : n.parameters) s += " par " + pin_text(p.name, p.var_name, p.type, p.default_val);
  for (const constant& k : n.constants) s += " const " + pin_text(k.name, k.var_name, "", k.value);
  if (!c) return s;
  if (!c->construct.args.empty()) s += " ctor " + call_text(c->construct);
  for (const call& k : c->init_calls) s += " init " + call_text(k);
  for (const call& k : c->tick_calls) s += " tick " + call_text(k);
  for (const call& k : c->final_calls) s += " final " + call_text(k);
  for (const call& k : c->poll_calls) s += " poll " + call_text(k);
  return s;
}

/// The summaries of parsed nodes in order.
inline std::vector<std::string> summaries(const std::vector<std::shared_ptr<block_base>>& nodes) {
  std::vector<std::string> out;
  for (const auto& n : nodes) out.push_back(summary(*n));
  return out;
}

}  // namespace vesk::annotations
