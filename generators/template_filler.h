#pragma once

#include <map>
#include <string>
#include <vector>

/// Replaces, key after key in ascending order, every "#key#" in `tmpl` by the
/// key's value. Values are inserted unchanged.
std::string fill_template(std::string tmpl, std::map<std::string, std::string> values);

/// Cuts `text` at every match of the regular expression `delimiter` and trims
/// each field; empty fields keep their place, a trailing empty one is dropped.
std::vector<std::string> split(std::string text, std::string delimiter);

/// Cuts `text` at every match of `delimiter` (ECMAScript) without trimming.
std::vector<std::string> regex_split(const std::string& text, const std::string& delimiter);
