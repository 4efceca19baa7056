// The names a model file gives a block, checked where the compiler reads them: a key or
// value it reads leniently is warned about and read as before; a name that could only
// end in errors of the C++ compiler stops the compile before anything is written.
#include <sstream>

#include "compiler/compiler.h"
#include "foundation/bt_exception.h"
#include "foundation/helpers.h"
#include "foundation/json_reader.h"
#include "foundation/log_place.h"
#include "foundation/log_stream.h"

namespace vesk {

namespace {

/// Whether a data type text is a plain number type (`unsigned long`, `std::int32_t`):
/// such a type has no push_back() or clear() for a "fifo" transition to call.
bool is_number_type(const std::string& type) {
  static const char* const words[] = {"bool",     "char",     "short",   "int",      "long",     "signed",
                                      "unsigned", "float",    "double",  "size_t",   "int8_t",   "int16_t",
                                      "int32_t",  "int64_t",  "uint8_t", "uint16_t", "uint32_t", "uint64_t"};
  std::istringstream in(type);
  bool any = false;
  for (std::string word; in >> word; any = true) {
    if (starts_with(word, "std::")) word.erase(0, 5);
    bool known = false;
    for (const char* w : words) known = known || word == w;
    if (!known) return false;
  }
  return any;
}

/// Whether `name` is a keyword of C++17 (or an alternative token): the declaration of a
/// block of that name would not compile.
bool is_cpp_keyword(const std::string& name) {
  static const char* const words[] = {
      "alignas", "alignof", "and", "and_eq", "asm", "auto", "bitand", "bitor", "bool", "break", "case", "catch",
      "char", "char16_t", "char32_t", "class", "compl", "const", "constexpr", "const_cast", "continue", "decltype",
      "default", "delete", "do", "double", "dynamic_cast", "else", "enum", "explicit", "export", "extern", "false",
      "float", "for", "friend", "goto", "if", "inline", "int", "long", "mutable", "namespace", "new", "noexcept",
      "not", "not_eq", "nullptr", "operator", "or", "or_eq", "private", "protected", "public", "register",
      "reinterpret_cast", "return", "short", "signed", "sizeof", "static", "static_assert", "static_cast", "struct",
      "switch", "template", "this", "thread_local", "throw", "true", "try", "typedef", "typeid", "typename", "union",
      "unsigned", "using", "virtual", "void", "volatile", "wchar_t", "while", "xor", "xor_eq"};
  for (const char* w : words)
    if (name == w) return true;
  return false;
}

/// The member `key` of an object as the readers find it (the first of duplicates); null
/// when there is none.
vesk::json member(const vesk::json& object, const char* key) {
  if (object.is_object())
    for (const auto& [k, value] : object.object_members())
      if (k == key) return value;
  return vesk::json();
}

}  // namespace

void compiler::check_block(const compiler_node& n, const std::string& place, bool warn) const {
  if (n.comment_out) return;  // taken out before any code is written
  if (!is_identifier(n.name))
    throw_bt_exception("The block name is no C++ identifier (letters, digits and '_', not beginning with a digit) "
                       "(key \"name\") in " + place);
  if (is_cpp_keyword(n.name))
    throw_bt_exception("The block name is a C++ keyword (key \"name\") in " + place);
  if (!n.is_base("rt")) return;
  const std::string behavior = rt_behavior(n);
  const vesk::json written = member(n.cfg, "behavior");
  if (warn && !(written == behavior.c_str()))
    log_warn << "Behavior " << written.dump() << " (key \"behavior\") in " << place << " is read as \"" << behavior
             << "\": the behaviors are \"last\", \"fifo\" and \"add\"" << std::endl;
  const vesk::json type = member(n.cfg, "data_type");
  if (behavior == "fifo" && type.is_string() && is_number_type(type.get_string_ref()))
    throw_bt_exception("Behavior \"fifo\" needs a container data type such as std::vector<double>, not '" +
                       type.get_string_ref() + "' (key \"data_type\") in " + place);
}

vesk::json compiler::model_blocks(const vesk::json& model, const std::string& file) {
  if (!model.is_object())
    throw_bt_exception("The model is no JSON object (a model file holds {\"nodes\": [...]}) in " +
                       level_text(file, ""));
  // The editor's own top-level members are not known here, so a misspelt "nodes" shows
  // only as a model without it.
  if (!vesk::json::has_member(model.object_members(), "nodes"))
    log_warn << "The model has no \"nodes\" and so no blocks in " << level_text(file, "") << std::endl;
  // The first "nodes" counts; the editor's own members are no concern of the compiler.
  vesk::json_reader top(model);
  top.take("nodes");
  top.take_all();
  {
    log_place in_file(level_text(file, ""));
    write_findings(top.findings);
  }
  vesk::json blocks = member(model, "nodes");
  if (!blocks.is_array() && !blocks.is_null())
    throw_bt_exception("The blocks of the model are no JSON array (key \"nodes\") in " + level_text(file, ""));
  return blocks;
}

}  // namespace vesk
