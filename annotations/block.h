#pragma once
// Node descriptions: what an annotated node source declares about one block (a class
// that the model drives through method calls, or a free function called once per tick).
// Every description is also a JSON document through json_link.

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "foundation/json.h"
#include "foundation/json_link.h"

namespace vesk::annotations {

class block_base;

/// Base of every description that stems from a place in a node source.
class param_helper : public json_link {
 public:
  /// Line of the annotation or declaration that made the object; verification prints
  /// it. Not part of the JSON form (0 after rebuilding from JSON).
  uint64_t src_line = 0;
};

/// One argument of a call.
class call_arg : public json_link {
 public:
  /// Builds an argument from its name as written in the call, C++ type and default.
  explicit call_arg(std::string name = "", std::string type = "", std::string default_val = "");
  void get_links(std::vector<json_link_element>& links) override;

  std::string name;         ///< key "name"
  std::string type;         ///< key "type"
  std::string default_val;  ///< key "default_val"
};

/// One method call of a class node, or the function of a function node.
class call : public param_helper {
 public:
  /// Default call for a null `j`, else the default with the keys of `j` applied.
  explicit call(const vesk::json& j = vesk::json());
  void get_links(std::vector<json_link_element>& links) override;

  /// Checks that the call passes and assigns only names registered in the node's
  /// pin_names (so the node's base verification must have run); logs each problem.
  static bool verify(block_base& node, const call& c);

  /// The C++ type the call gives `var_name`: return_type when return_to equals it,
  /// else the type of the first argument of that name, else "".
  std::string var_type(const std::string& var_name) const;

  std::string method_name;     ///< key "method_name"
  std::vector<call_arg> args;  ///< key "args", in argument order
  std::string return_to;       ///< key "return_to"; empty for no result variable
  std::string return_type;     ///< key "return_type"
};

/// An input pin of a node.
class input : public param_helper {
 public:
  explicit input(const vesk::json& j = vesk::json());
  void get_links(std::vector<json_link_element>& links) override;

  std::string name;         ///< key "name": pin name on the block
  std::string var_name;     ///< key "var_name": C++ member or variable bound to the pin
  std::string type;         ///< key "type"
  std::string default_val;  ///< key "default": default value as C++ text
  bool is_member = false;   ///< key "is_member": member of the node's class object
};

/// An output pin of a node.
class output : public param_helper {
 public:
  explicit output(const vesk::json& j = vesk::json());
  void get_links(std::vector<json_link_element>& links) override;

  std::string name;        ///< key "name"
  std::string var_name;    ///< key "var_name"
  std::string type;        ///< key "type"
  bool is_member = false;  ///< key "is_member"
};

/// A parameter of a node, shown in the block's property form.
class parameter : public param_helper {
 public:
  explicit parameter(const vesk::json& j = vesk::json());
  void get_links(std::vector<json_link_element>& links) override;

  /// Whether the parameter holds a text (quoted default, std::string or char pointer).
  virtual bool is_string();
  /// Sets `form` ("text" or "checkbox") and normalises `default_val` from the type.
  virtual void update_form();

  std::string name;         ///< key "name"
  std::string var_name;     ///< key "var_name"
  std::string type;         ///< key "type"
  std::string form;         ///< key "form": kind of form field
  std::string opts;         ///< key "opts": options of the form field as JSON text
  std::string default_val;  ///< key "default"
};

/// A constant of a node.
class constant : public param_helper {
 public:
  explicit constant(const vesk::json& j = vesk::json());
  void get_links(std::vector<json_link_element>& links) override;

  std::string name;      ///< key "name"
  std::string var_name;  ///< key "var_name"
  std::string value;     ///< key "value": C++ text
};

/// The common part of a node description. An object of exactly this type binds no key,
/// so its JSON form is null.
class block_base : public param_helper {
 public:
  block_base() = default;
  void get_links(std::vector<json_link_element>& links) override;

  /// Checks and completes the node; logs every problem to log_err; true when usable.
  virtual bool verify();
  /// The C++ type that the node's calls give `var_name`; "" when none.
  virtual std::string get_var_type(const std::string& var_name);

  std::string name;
  std::string project;
  std::string header;     ///< header as the generated code includes it
  std::string nspace;     ///< namespace prefix, each namespace followed by "::"
  std::string info;
  std::string raster = "auto";
  std::string file_name;  ///< path of the node source
  int32_t line_nr = 0;    ///< line of the "@node" annotation
  /// Line of the annotation that set `raster` ("@raster", or "@node" with a "raster"
  /// key), so that a message about the raster can name it; 0 when none did. Not in JSON.
  uint64_t raster_line = 0;
  bool not_found = false; ///< set only on what a failed lookup returns; not in JSON
  std::vector<input> inputs;
  std::vector<output> outputs;
  std::vector<parameter> parameters;
  std::vector<constant> constants;
  std::vector<std::string> libs;              ///< from "@link"
  std::vector<std::string> additional_files;  ///< from "@compile"
  /// Names registered by the last verification (values empty); not in JSON.
  std::map<std::string, std::string> pin_names;

 protected:
  /// Pushes the bindings of the base fields in key order for the derived classes: a
  /// class node lists "project" before "name", a function node after it.
  void link_base_fields(std::vector<json_link_element>& links, bool project_first);
};

/// A class node: the model instantiates the class and calls its methods.
class block_class : public block_base {
 public:
  explicit block_class(const vesk::json& j = vesk::json());
  void get_links(std::vector<json_link_element>& links) override;
  bool verify() override;
  /// Searches tick, then init, then final calls; the first non-empty answer wins.
  std::string get_var_type(const std::string& var_name) override;

  std::string class_name;                ///< key "class"
  bool has_raster_interval_var = false;  ///< the class has a member raster_interval
  bool has_node_name_var = false;        ///< the class has a member node_name
  call construct;                        ///< constructor arguments; method name empty
  std::vector<call> init_calls;
  std::vector<call> tick_calls;
  std::vector<call> final_calls;
  std::vector<call> poll_calls;  ///< poll methods of an automatic class; not in JSON
  /// The names written in the class's body (comments and the bodies of its methods left
  /// out), when the parse read a body of a class without base classes: what the calls
  /// and pins name must be among them. Not in JSON; verification uses and empties it.
  std::set<std::string> body_names;
  bool body_read = false;  ///< body_names holds the body; not in JSON
};

/// A function node: the model calls one free function per tick.
class block_function : public block_base {
 public:
  explicit block_function(const vesk::json& j = vesk::json());
  void get_links(std::vector<json_link_element>& links) override;
  bool verify() override;
  /// The answer of the node's function call.
  std::string get_var_type(const std::string& var_name) override;

  call function;  ///< key "function"
};

}  // namespace vesk::annotations
