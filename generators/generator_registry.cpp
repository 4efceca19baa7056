#include "generators/generator_registry.h"

#include <memory>

#include "generators/anno_class_generator.h"
#include "generators/anno_func_generator.h"
#include "generators/base_element_generator.h"
#include "generators/expression_generator.h"
#include "generators/function_generator.h"
#include "generators/generator_validator.h"
#include "generators/sm_generator.h"
#include "generators/test_generator.h"

namespace {

void add(generator_registry& r, const char* type, vesk::generator* g) {
  std::unique_ptr<vesk::generator> owned(g);  // not lost if the wrapper cannot be made
  auto wrapper = std::make_shared<vesk::generator_validator>(owned.get());
  owned.release();  // the wrapper owns it now
  r[type] = std::move(wrapper);
}

}  // namespace

generator_registry make_generator_registry(const vesk::annotations::block_lists* blocks,
                                           const std::string& workspace_dir,
                                           std::map<std::string, src_stream>* files) {
  generator_registry r;
  add(r, "class", new vesk::anno_class_generator(blocks));
  add(r, "func", new vesk::anno_func_generator(blocks));
  add(r, "test", new vesk::test_generator());
  add(r, "base", new vesk::base_element_generator(workspace_dir));
  add(r, "function", new vesk::function_generator());
  add(r, "expression", new vesk::expression_generator());
  add(r, "state_machine", new vesk::sm_generator(files));
  return r;
}
