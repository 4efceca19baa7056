#pragma once
// Node verification: the `verify` operations of block_base, block_class,
// block_function and call (declared with the classes in block.h) are defined in
// verify.cpp; this header adds the message helper they share.

#include <string>

#include "annotations/block.h"

namespace vesk::annotations {

/// Writes one verification failure to log_err: the node's file name, ":", its source
/// line, one blank and `text`.
void report_verify_failure(const block_base& node, const std::string& text);

}  // namespace vesk::annotations
