#pragma once
// What the editor stand-in makes of the back end's messages: lines to print, and the
// requests to send back (the first requests, and the signal subscription once a model is
// online).
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "foundation/json.h"

namespace vesk::gui {

/// A signal value as text, by the model's type code; unknown types as hex bytes, no value as "-".
std::string value_text(int type, const char* bytes, uint32_t size);

class console_view {
 public:
  /// The requests sent right after connecting: the log history and the back-end state.
  std::vector<std::string> first_requests() const;
  /// One text message: appends the lines to print to `print` and requests to `send`.
  void on_text(const std::string& text, std::vector<std::string>& print, std::vector<std::string>& send);
  /// One binary message (tag 1: signal values): appends the lines to print, at most one
  /// per signal and `print_interval` (a model may send hundreds of values a second).
  void on_binary(const std::string& data, std::vector<std::string>& print,
                 std::chrono::steady_clock::time_point now = std::chrono::steady_clock::now());

  std::chrono::milliseconds print_interval{1000};

  /// The signal names subscribed, in the order sent with "set_daq_list".
  std::vector<std::string> subscribed;
  /// The type code of each subscribed signal, from its definition.
  std::vector<int> types;

 private:
  std::string last_summary_;
  std::vector<std::chrono::steady_clock::time_point> last_printed_;  ///< per subscribed position
  bool online_ = false;
};

}  // namespace vesk::gui
