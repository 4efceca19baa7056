#pragma once
// The grammar of the small C++ subset that node sources are read with: one declarator
// per line (a member, or a function's name and result), optionally followed by an
// argument list. It only reads; declarations.h applies what it finds.

#include <string>
#include <vector>

namespace vesk::annotations {

/// One parsed declarator: a member, a function's name and result, or an argument.
struct decl_part {
  std::string type;         ///< type text as written (argument types keep const & co.)
  std::string name;         ///< declared name
  std::string default_val;  ///< text after "=", verbatim; empty without one
};

/// The declarators of one line: element 0 is the declaration itself, the rest are a
/// function's arguments in order.
struct declaration {
  std::vector<decl_part> parts;  ///< empty when the line declares nothing
  bool is_function = false;      ///< a "(" followed the first declarator
};

/// Reads the declarators of one line. Every scan stays inside `line`; nested values
/// are read to a bounded depth, so no line can exhaust the stack.
declaration parse_declaration(const std::string& line);

}  // namespace vesk::annotations
