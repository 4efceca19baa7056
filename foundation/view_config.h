#pragma once
// The records a block generator reports to the editor and the model compiler: the view
// of a block with its pins, property-form fields, choice entries and pin connections.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "foundation/json.h"
#include "foundation/json_link.h"

namespace vesk {

class compiler_node;

/// A connection to an output pin: the node and pin at the other end.
class node_connection : public json_link {
 public:
  node_connection() = default;
  /// A connection to `pin` of the node `node`.
  node_connection(std::string node, std::string pin) : node(std::move(node)), pin(std::move(pin)) {}
  /// The same, with the node name given as characters and length.
  node_connection(const char* node, size_t node_len, std::string pin)
      : node(node, node_len), pin(std::move(pin)) {}
  void get_links(std::vector<json_link_element>& links) override;

  std::string node;                          ///< "node"
  std::string pin;                           ///< "pin"
  std::shared_ptr<compiler_node> bound;      ///< the connected node, once the compiler bound it
  bool is_ignored = false;                   ///< marked for removal by the compiler
};

/// An input pin of a block view.
class input_pin : public json_link {
 public:
  explicit input_pin(std::string type = "auto") : type(std::move(type)) {}
  void get_links(std::vector<json_link_element>& links) override;

  std::string type;                 ///< "type"
  std::string default_value;        ///< "default_value"
  uint64_t is_member = 0;           ///< 1 when the pin is a member of the block object
  std::string var_name;             ///< the C++ variable behind the pin
  std::string mapped_name;          ///< the expression that stands for the pin in generated code
  std::shared_ptr<void> attachment; ///< compiler data kept with the pin
};

/// An output pin of a block view.
class output_pin : public json_link {
 public:
  explicit output_pin(std::string type = "double", std::string raster = "block")
      : type(std::move(type)), raster(std::move(raster)) {}
  void get_links(std::vector<json_link_element>& links) override;

  std::string type;                        ///< "type"
  std::string raster;                      ///< "raster"
  std::vector<node_connection> consumers;  ///< the inputs that read this pin
  bool is_member = false;                  ///< the pin is a member of the block object
  std::string var_name;                    ///< the C++ variable behind the pin
  std::string mapped_name;                 ///< the expression that stands for the pin in generated code
};

}  // namespace vesk

// New pins made by a pin map's operator[] start as "auto" inputs and "double"/"block" outputs.
template <>
inline vesk::input_pin hash_vector<vesk::input_pin>::default_value() {
  return vesk::input_pin("auto");
}

template <>
inline vesk::output_pin hash_vector<vesk::output_pin>::default_value() {
  return vesk::output_pin("double", "block");
}

namespace vesk {

/// A data member of a block object in the generated code (never written as JSON).
struct data_member {
  std::string type;         ///< C++ type
  std::string name;         ///< member name
  std::string init_value;   ///< initial value (constructor argument text for a class instance)
  std::string mapped_name;  ///< the C++ variable the compiler assigned
};

/// One choice of a selection field in a property form.
class form_select_entry : public json_link {
 public:
  form_select_entry(std::string value, std::string key) : value(std::move(value)), key(std::move(key)) {}
  void get_links(std::vector<json_link_element>& links) override;

  std::string value;      ///< "value"
  std::string key;        ///< "key"
  bool selected = false;  ///< "selected"
};

/// One field of a block's configuration form. The constructor takes form before default,
/// while JSON lists "default" before "form".
class property : public json_link {
 public:
  property(std::string key, std::string form, vesk::json def, vesk::json form_opts = vesk::json(),
           vesk::json lbl = vesk::json(), vesk::json min = vesk::json(), vesk::json max = vesk::json())
      : key(std::move(key)),
        def(std::move(def)),
        form(std::move(form)),
        form_opts(std::move(form_opts)),
        lbl(std::move(lbl)),
        min(std::move(min)),
        max(std::move(max)) {}
  void get_links(std::vector<json_link_element>& links) override;

  std::string key;       ///< "key"
  vesk::json def;        ///< "default" (a C++ keyword, hence the short name)
  std::string form;      ///< "form"
  vesk::json form_opts;  ///< "form_opts"
  vesk::json lbl;        ///< "lbl"
  vesk::json min;        ///< "min"
  vesk::json max;        ///< "max"
};

/// The view of one block: names, raster, source place, pins and error state.
class view_config : public json_link {
 public:
  explicit view_config(std::string default_name = "", std::string raster = "")
      : default_name(std::move(default_name)), raster(std::move(raster)) {}
  void get_links(std::vector<json_link_element>& links) override;

  std::string default_name;            ///< "default_name"
  std::string raster;                  ///< "raster"
  std::string file_name;               ///< "file_name"
  int line_nr = 0;                     ///< "line_nr"
  /// The line of the node source that sets `raster`, 0 for none; kept for messages, not sent.
  uint64_t raster_line = 0;
  std::string search_str;              ///< "search_str"
  bool error = false;                  ///< "error"
  std::string error_string;            ///< "error_string"
  hash_vector<input_pin> inputs;       ///< "inputs"
  hash_vector<output_pin> outputs;     ///< "outputs"
  hash_vector<data_member> members;    ///< not in JSON
};

}  // namespace vesk
