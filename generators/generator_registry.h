#pragma once

#include <map>
#include <memory>
#include <string>

#include "annotations/block_lists.h"
#include "generators/generator.h"
#include "generators/src_stream.h"

/// Block type keyword to the one (validator-wrapped) generator of that type.
using generator_registry = std::map<std::string, std::shared_ptr<vesk::generator>>;

/// Builds the seven generators, each wrapped in a vesk::generator_validator:
/// "class" and "func" search `blocks`, "base" resolves references below
/// `workspace_dir`, "state_machine" puts its files into `files` (null: none).
/// `blocks` and `files` are not owned and must outlive the registry.
generator_registry make_generator_registry(const vesk::annotations::block_lists* blocks,
                                           const std::string& workspace_dir,
                                           std::map<std::string, src_stream>* files);
