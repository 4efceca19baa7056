#include "generators/sm_templates.h"

// The texts are kept as raw literals so that they read exactly as the
// generated files do; every byte (blanks and line ends included) matters.

namespace vesk {

const std::string sm_header_template = R"tmpl(
#ifndef SM_#NODE_NAME#_H_
#define SM_#NODE_NAME#_H_ SM_#NODE_NAME#_H_

#include <string>
#include <functional>
#include <cstdint>
#include <cmath>
#include <vesk/time.h>

#includes#

class #class_name# {
public:
  struct state{
    #sname_t# name;
    std::function<void()> init  = []{};
    std::function<void()> tick  = []{};
    std::function<void()> final = []{};
    std::function<void()> check = []{};
  };

  // state variables
  #state_vars#

  struct {
    state states[#n_states#];

    state* current_state;
    #sname_t# out_state;
    vesk::time t_enter;
    vesk::time last_tick;
  } _internal_variables;

  #class_name#();
  void init();
  void tick();
  void final();

private:
  bool after(vesk::time t);
  void set_state(int num);
};

#endif // SM_#NODE_NAME#_H_
)tmpl";

const std::string sm_source_template = R"tmpl(
#include "#class_name#.h"

#namespaces#

#class_name#::#class_name#(){
#construct#
  _internal_variables.current_state = &_internal_variables.states[#init_num#];
  _internal_variables.out_state = _internal_variables.current_state->name;
}

void #class_name#::init(){
  _internal_variables.t_enter = vesk::time::now();
  _internal_variables.last_tick = vesk::time::now();
  _internal_variables.current_state->init();
}

void #class_name#::tick(){
  _internal_variables.current_state->check(); // could change current_state
  _internal_variables.last_tick = vesk::time::now();
  _internal_variables.current_state->tick();
}

void #class_name#::final(){
  _internal_variables.current_state->final();
}

bool #class_name#::after(vesk::time t){
  auto now = vesk::time::now();
  auto interval = now - _internal_variables.last_tick;
  if( (now + (interval/2) ) >= (_internal_variables.t_enter + t) ){
    return true;
  }
  return false;
}

void #class_name#::set_state(int num){
  _internal_variables.current_state->final();
  _internal_variables.current_state = &_internal_variables.states[num];
  _internal_variables.out_state = _internal_variables.current_state->name;
  _internal_variables.t_enter = vesk::time::now();
  _internal_variables.current_state->init();
}

)tmpl";

const std::string sm_state_template = R"tmpl(
  _internal_variables.states[#num#].name = "#name#";
  _internal_variables.states[#num#].init = [this]{
    #init#
  };
  _internal_variables.states[#num#].tick = [this]{
    #tick#
  };
  _internal_variables.states[#num#].final = [this]{
    #final#
  };
  _internal_variables.states[#num#].check = [this]{
    #check#
  };
  )tmpl";

}  // namespace vesk
