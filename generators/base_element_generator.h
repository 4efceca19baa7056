#pragma once

#include <cstddef>
#include <string>

#include "generators/generator.h"

namespace vesk {

/// Generator of "base" blocks, the elements every model needs: "delay",
/// "rt" (rate transition), "parameter", "input", "output", "subsystem" and
/// "reference"; the configuration's "node" says which.
class base_element_generator : public generator {
 public:
  /// `workspace` is the folder that holds the projects (for references).
  explicit base_element_generator(std::string workspace);

  /// The form of the configured kind; empty for kinds without a form.
  std::vector<vesk::property> get_properties() override;
  /// Pins and data members of the configured kind.
  vesk::view_config get_view_config() override;
  /// The trimmed "type_header", else the trimmed "container_header".
  std::vector<std::string> get_headers() override;
  /// An unknown kind, or the keys its kind does not read.
  std::vector<vesk::config_warning> check_config() override;
  /// Delay: `mem = start_value;` when a start value is given.
  void write_init(std::ostream& os) override;
  /// Delay: `out = mem;`.
  void write_tick(std::ostream& os) override;

  /// The workspace folder, as given at construction.
  std::string workspace_dir;
};

/// The behaviors of an "rt" block, as its form offers them; the first is the default.
extern const char* const rt_behaviors[3];

/// Bounds the model text that `reference` blocks read while it lives (the innermost one
/// counts): a batch of requests naming many models, each past the cache, would otherwise
/// read and parse every one of them at once. A model that would take the bytes read past
/// `bound` is not read; `passed` is set, its size counted in `read`, and the block gets
/// no ports. Without a budget only each model's own bound holds.
class model_read_budget {
 public:
  explicit model_read_budget(size_t bound);
  ~model_read_budget();
  model_read_budget(const model_read_budget&) = delete;
  model_read_budget& operator=(const model_read_budget&) = delete;

  /// The innermost budget alive, or null.
  static model_read_budget* current();

  const size_t bound;
  /// Bytes of model text read, and of the model that was not, once `passed`.
  size_t read = 0;
  bool passed = false;

 private:
  model_read_budget* outer_;
};

/// Adds to `v` one "auto" input pin per inner "input" base node and one
/// output pin per inner "output" base node found in `nodes`.
void add_port_pins(vesk::json& nodes, vesk::view_config& v);

}  // namespace vesk
