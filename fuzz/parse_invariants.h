#pragma once
// What must hold after parsing any text at all: shared by the fuzz target and the
// deterministic mutation test of the ordinary suite.

#include <exception>
#include <memory>
#include <string>

#include "annotations/block.h"
#include "annotations/scanner.h"
#include "foundation/json.h"
#include "foundation/log_stream.h"

namespace vesk::annotations {

/// The JSON text of a node rebuilt from the JSON text of `node`.
inline std::string rebuilt_json(const block_base& node, const std::string& text) {
  vesk::json parsed = vesk::json::parse(text);
  if (dynamic_cast<const block_class*>(&node)) return block_class(parsed).to_json().dump();
  return block_function(parsed).to_json().dump();
}

/// Parses `text` with log_debug enabled as `debug_enabled` and returns "" when every
/// invariant holds, else what broke: no exception leaves the parse, log_debug's flag is
/// restored, every returned node verifies again and its JSON survives a round trip.
inline std::string check_parse_invariants(const std::string& text, bool debug_enabled) {
  log_debug.enabled = debug_enabled;
  std::vector<std::shared_ptr<block_base>> nodes;
  try {
    nodes = parse_text(text, "nodes/fuzz.h", "prj");
  } catch (const std::exception& e) {
    return std::string("exception escaped: ") + e.what();
  } catch (...) {
    return "unknown exception escaped";
  }
  if (log_debug.enabled != debug_enabled) return "log_debug.enabled not restored";
  for (const auto& node : nodes) {
    if (!node) return "null node returned";
    if (!dynamic_cast<block_class*>(node.get()) && !dynamic_cast<block_function*>(node.get()))
      return "node of a base type returned";
    if (!node->verify()) return "returned node " + node->name + " fails a second verification";
    try {
      const std::string once = node->to_json().dump();
      const std::string twice = rebuilt_json(*node, once);
      if (once != twice) return "JSON round trip changed " + once + " into " + twice;
    } catch (const std::exception& e) {
      return std::string("JSON round trip threw: ") + e.what();
    }
  }
  return "";
}

}  // namespace vesk::annotations
