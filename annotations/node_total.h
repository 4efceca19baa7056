#pragma once
// What the node descriptions of all node sources of a workspace hold together. One file
// is bounded by its parse (parser_state.h); this bounds their sum, so that the block
// list sent whole to the editor stays within its send bound however many files there are.

#include <cstddef>
#include <string>

#include "annotations/parser_state.h"

namespace vesk::annotations {

/// A workspace describes tens to hundreds of nodes; these leave ample room for that.
constexpr size_t kMaxNodesInAll = 16384;
/// Pins, parameters, constants, calls and call arguments of all files together.
constexpr size_t kMaxPartsInAll = 163840;
/// Text in the descriptions of all files together (as counted per file).
constexpr size_t kMaxTextInAll = size_t{32} << 20;
/// The three bounds above.
constexpr parse_budget kAllNodeSources{kMaxNodesInAll, kMaxPartsInAll, kMaxTextInAll, false};

/// The costs of the parses taken so far, against bounds over all of them.
class node_total {
 public:
  /// The bounds; a test may set small ones.
  parse_budget limit = kAllNodeSources;

  /// Takes `cost` (what one parse took) and returns "" when it fits beside what is
  /// held; else takes nothing and returns the bound it would pass ("16384 nodes").
  std::string take(const parse_budget& cost);
  /// Gives back what a take of `cost` took.
  void give_back(const parse_budget& cost);
  /// What is held now.
  const parse_budget& held() const { return held_; }

 private:
  parse_budget held_;
};

}  // namespace vesk::annotations
