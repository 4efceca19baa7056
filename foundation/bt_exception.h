#pragma once
// The system's exception type: a runtime error that also remembers where it was thrown.

#include <cstdint>
#include <stdexcept>
#include <string>

namespace vesk::util {

/// A std::runtime_error that records up to 40 return addresses of the throwing stack,
/// so a debugger or a core dump shows where an operation was stopped. The frames are
/// never printed; handlers show what() only.
class bt_exception : public std::runtime_error {
 public:
  /// Builds the error with `message` and captures the current call stack.
  explicit bt_exception(const std::string& message);
  ~bt_exception() override;

  void* frames[40] = {};    ///< return addresses, innermost first
  int64_t frame_count = 0;  ///< how many entries of frames the capture filled
};

/// Throws a bt_exception carrying `message`; the common throw path of own code.
[[noreturn]] void throw_bt_exception(const std::string& message);

}  // namespace vesk::util

using vesk::util::throw_bt_exception;
