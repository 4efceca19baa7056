#include "foundation/bt_exception.h"

#include <execinfo.h>

namespace vesk::util {

bt_exception::bt_exception(const std::string& message) : std::runtime_error(message) {
  frame_count = backtrace(frames, 40);
  if (frame_count < 0) frame_count = 0;
}

bt_exception::~bt_exception() = default;

void throw_bt_exception(const std::string& message) { throw bt_exception(message); }

}  // namespace vesk::util
