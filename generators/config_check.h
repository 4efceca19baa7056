#pragma once
// Reading a block's configuration as its generator knows it: each generator lists the
// keys it reads, these helpers take them through a json_reader, which turns a key it
// does not know, a key given twice and a value of the wrong type into findings.

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "foundation/json.h"
#include "foundation/json_reader.h"
#include "foundation/view_config.h"
#include "generators/generator.h"

namespace vesk {

/// Most lines one block gives; past them one line counts the rest.
constexpr size_t max_config_warnings = max_finding_lines;

/// The names joined by ", ".
std::string name_list(const std::vector<std::string>& names);

/// The keys of a form, in order.
std::vector<std::string> property_keys(const std::vector<vesk::property>& props);

/// The JSON types a text of a configuration takes: a text, a number (read with the digits
/// written) or null (the empty text). A bool, object or array would reach the code as
/// something else than written.
const std::vector<vesk::json::type_t>& text_types();

/// Takes `key` as a text (text_types); the value, or null when it is missing or of
/// another type (an error finding).
const vesk::json* take_text(vesk::json_reader& r, const std::string& key);

/// Takes the checkbox `key`: a value that is none of what a checkbox means is a warning
/// that it is read as false.
void take_checkbox(vesk::json_reader& r, const std::string& key);

/// Takes each property of a form by its form: a checkbox as take_checkbox, an
/// "array_text" as an array, a "select" as any value (its reader says how it reads it),
/// every other form as a text.
void take_form(vesk::json_reader& r, const std::vector<vesk::property>& props);

/// Finishes the reading of a block configuration whose generator reads the keys `known`
/// of blocks described as `type` (the rest: "is ignored: a "delay" block reads ...") and
/// gives its findings.
std::vector<vesk::config_warning> block_findings(vesk::json_reader& r, const std::vector<std::string>& known,
                                                 const std::string& type);

/// The findings of a configuration whose generator reads its form `props` and the keys
/// `more` (of any type), named in the message as a `type` block.
std::vector<vesk::config_warning> read_block_config(const vesk::json& cfg, const std::vector<vesk::property>& props,
                                                    const std::vector<std::string>& more, const std::string& type);

/// Adds an error when the "function" of `cfg` is empty or blank: the code written from it
/// (` = ;`, ` = ();`) could only end in errors of the C++ compiler.
void add_empty_function(const vesk::json& cfg, std::vector<vesk::config_warning>& out);

/// Writes `warnings` placed in `block` (such as "block 'pid' of model file m.vmdl"), as
/// write_findings does.
void write_config_warnings(const std::vector<vesk::config_warning>& warnings, const std::string& block);

}  // namespace vesk
